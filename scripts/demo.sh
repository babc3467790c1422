#!/usr/bin/env bash
# Real transfers against the receiver emulator, no hardware needed:
#   1. send examples/sample.ird to the receiver (Software mode; the emulator checks every byte)
#   2. send examples/sample.fdu to the receiver (Channels mode; the emulator unpacks the
#      channel image, checks it and compares the channel list)
#   3. read the channel list back from the receiver and compare it byte for byte
# Usage: scripts/demo.sh BUILD_DIR   (make demo builds first and passes the build directory)
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: demo.sh BUILD_DIR}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cli="$build/src/cli/kestal-cli"
sim="$build/src/sim/kestal-sim"
examples="$root/examples"
for program in "$cli" "$sim"; do
  [ -x "$program" ] || { echo "demo: $program is missing; run make build first" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/kestal-demo.XXXXXX")"
sim_pids=()
cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

results=()
failures=0

# start_sim NAME ARGS...: starts the emulator as virtual port NAME and waits for its device path
# (its first line on stdout). Sets sim_pid and sim_device.
start_sim() {
  local name="$1"; shift
  local out="$work/$name.out"
  "$sim" --name "$name" --timeout 20 "$@" >"$out" 2>"$work/$name.err" &
  sim_pid=$!
  sim_pids+=("$sim_pid")
  sim_device=""
  for _ in $(seq 1 100); do
    sim_device="$(head -n 1 "$out" 2>/dev/null)"
    [ -n "$sim_device" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "demo: the emulator did not start:" >&2
  cat "$work/$name.err" >&2
  return 1
}

# run_step TITLE CHECK_COMMAND -- CLI_ARGS...: runs one transfer, then the emulator's verdict and
# an optional extra check, and records the outcome.
run_step() {
  local title="$1" check="$2"; shift 3
  local started=$SECONDS cli_status sim_status check_status=0
  echo
  echo "== $title"
  echo "\$ kestal-cli $*"
  "$cli" "$@"
  cli_status=$?
  wait "$sim_pid"
  sim_status=$?
  sed 's/^/   emulator: /' "$work/$sim_name.err"
  if [ -n "$check" ]; then
    echo "\$ $check"
    eval "$check"
    check_status=$?
  fi
  local verdict="ok"
  if [ $cli_status -ne 0 ] || [ $sim_status -ne 0 ] || [ $check_status -ne 0 ]; then
    verdict="FAILED (kestal-cli $cli_status, emulator $sim_status, check $check_status)"
    failures=$((failures + 1))
  fi
  results+=("$(printf '%-44s %s (%ds)' "$title" "$verdict" $((SECONDS - started)))")
}

echo "Kestal demo: kestal-cli against kestal-sim, a virtual receiver on a pseudo-terminal."
echo "Each emulator announces itself as a virtual serial port; kestal-cli finds it by name."

sim_name="demo-software-$$"
start_sim "$sim_name" --baud 115200 download --mode software --expect "$examples/sample.ird" || exit 1
run_step "Software image to the receiver" "" -- \
  send --port "$sim_name" "$examples/sample.ird"

sim_name="demo-channels-$$"
start_sim "$sim_name" --baud 115200 download --mode channels --expect "$examples/sample.fdu" || exit 1
run_step "Channel list to the receiver" "" -- \
  send --port "$sim_name" "$examples/sample.fdu"

sim_name="demo-readback-$$"
start_sim "$sim_name" --baud 115200 upload --serve "$examples/sample.fdu" || exit 1
run_step "Channel list back to the computer" "cmp $examples/sample.fdu $work/readback.fdu" -- \
  receive --port "$sim_name" "$work/readback.fdu"

echo
echo "== Summary"
for line in "${results[@]}"; do echo "   $line"; done
if [ $failures -ne 0 ]; then
  echo "$failures of ${#results[@]} transfers FAILED"
  exit 1
fi
echo "All ${#results[@]} transfers completed and verified."
