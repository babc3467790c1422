#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build/fuzz and runs them side by side, each for SECONDS (default 60), on a copy of its
# committed seed corpus.
# Fails on any crash, broken invariant, leak, time-out or out-of-memory. Inputs that fail are
# kept in build/fuzz/artifacts/<target>/; rerun one with build/fuzz/tests/fuzz/<target> <file>.
#   usage: scripts/run-fuzz.sh [SECONDS]
set -euo pipefail

seconds="${1:-60}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
jobs="${JOBS:-$(nproc)}"
targets=(fuzz_frame_reader fuzz_image_reader)

command -v clang++ >/dev/null || { echo "run-fuzz: clang++ is needed (make deps)" >&2; exit 2; }

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTAL_FUZZ=ON -DKESTAL_BUILD_UI=OFF -DKESTAL_SANITIZE=address >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

work="$(mktemp -d "${TMPDIR:-/tmp}/kestal-fuzz-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"

# "<name>: key value, ..." from a libFuzzer log.
summarize() {
  local name="$1" log="$2" status="$3" corpusBefore="$4" corpusAfter="$5"
  local runs eps rss cov ft
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  eps=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-20s %-6s %5ss %10s runs %8s exec/s  cov %5s  ft %6s  corpus %s->%s  rss %s MB\n' \
    "$name" "$status" "$seconds" "${runs:-?}" "${eps:-?}" "${cov:-?}" "${ft:-?}" \
    "$corpusBefore" "$corpusAfter" "${rss:-?}"
}

# One target: fuzzes, then writes its summary line to $work/<target>.summary; fails on a finding.
fuzz_target() {
  local target="$1"
  local corpus="$work/$target" artifacts="$build/artifacts/$target" log="$build/$target.log"
  rm -rf "$artifacts"  # only this run's failures
  mkdir -p "$corpus" "$artifacts"
  cp "$root/tests/fuzz/corpus/$target/"* "$corpus/"
  local before status=OK
  before=$(ls "$corpus" | wc -l)
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=1024 \
      -malloc_limit_mb=512 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    status=FAILED
    { tail -n 60 "$log"; echo "   log: $log; failing input kept in $artifacts/"; } >"$work/$target.failure"
  fi
  summarize "$target" "$log" "$status" "$before" "$(ls "$corpus" | wc -l)" >"$work/$target.summary"
  [ "$status" = OK ]
}

# The targets run side by side: the run takes SECONDS, not SECONDS per target.
echo "== ${targets[*]}: ${seconds}s each, side by side"
pids=()
for target in "${targets[@]}"; do
  fuzz_target "$target" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done

for target in "${targets[@]}"; do
  [ -f "$work/$target.failure" ] && { echo "== $target FAILED"; cat "$work/$target.failure"; }
done
echo "== fuzzing summary"
for target in "${targets[@]}"; do cat "$work/$target.summary"; done
exit "$failed"
