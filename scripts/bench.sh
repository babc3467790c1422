#!/usr/bin/env bash
# The performance figures: builds kestal-bench beside the programs it drives and writes
# docs/performance.md (header from bench/performance_header.md, then the measured table).
# About four minutes. Usage: scripts/bench.sh BUILD_DIR   (make bench builds and passes it)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: bench.sh BUILD_DIR}" && pwd)"

# Timings mean something only in an optimised build.
case "$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")" in
  Release|RelWithDebInfo) ;;
  *) echo "bench: $build is not a Release or RelWithDebInfo build" >&2; exit 1 ;;
esac
cmake -S "$root" -B "$build" -DKESTAL_BENCH=ON >/dev/null
cmake --build "$build" --target kestal-bench

table="$(mktemp)"
trap 'rm -f "$table"' EXIT
load="$(cut -d' ' -f1-3 /proc/loadavg)"  # other work on the machine skews the timings
status=0
"$build/bench/kestal-bench" "$build" >"$table" || status=$?
{
  cat "$root/bench/performance_header.md"
  echo
  cat "$table"
  echo
  echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)," \
    "Linux $(uname -r), $(date -u '+%Y-%m-%d %H:%M UTC'); load average before the run: $load."
} >"$root/docs/performance.md"
echo "bench: wrote $root/docs/performance.md"
exit "$status"
