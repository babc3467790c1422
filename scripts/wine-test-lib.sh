# Sourced by test-windows.sh, test-windows-window.sh and screenshot-windows.sh: Wine for the
# Windows programs, kestal-sim's pseudo-terminal as COM5, a virtual screen, and how a row
# reports. The caller sets: build (the Windows build folder), work (a scratch folder), and sim
# (kestal-sim) to start the emulator.
export WINEPREFIX=$build/wine-prefix
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono, no Gecko: nothing here needs them
export WINEDEBUG=-all
export XDG_RUNTIME_DIR=$work/run  # the emulator's port link, and nobody else's
comLink=$XDG_RUNTIME_DIR/kestal/ports/box
settingsKey='HKCU\Software\ostrel\pelmar\General'
serialPorts='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'

rm -rf "$work"
mkdir -p "$work/run"
chmod 700 "$work/run"

failures=0
rowFailed=false
fail() {
  echo "FAIL $row: $*"
  failures=$((failures + 1))
  rowFailed=true
}
# Closes a row: one line saying how it went.
done_row() {
  $rowFailed || echo "ok   $row"
  rowFailed=false
}
# The last line: how many rows failed, and the exit status with it.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures $1 failed"
    exit 1
  fi
  echo "All $1 passed"
}

# A server of its own, with the emulator's link as COM5 (HKLM\Software\Wine\Ports, read when
# the server starts) and no other port: the rows see the same ports on every machine. The
# server stays up, which saves every later program the seconds of starting it again.
start_wine() {
  wineserver -k >/dev/null 2>&1 || true
  if [ ! -d "$WINEPREFIX" ]; then
    echo "Creating the Wine prefix (once)"
    wineboot -i >/dev/null 2>&1
  fi
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$comLink" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1
  wine reg delete "$serialPorts" /va /f >/dev/null 2>&1
  wine reg add "$serialPorts" /v '\Device\Serial4' /d COM5 /f >/dev/null 2>&1
}
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }

# A virtual screen for the window (1024 x 768), DISPLAY set to it; its process is $xvfbPid.
start_screen() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
  xvfbPid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  export DISPLAY=:$(cat "$work/display")
}

# Starts the emulator with the arguments given and waits until its port link is there.
start_sim() {
  rm -f "$comLink"
  "$sim" --name box "$@" >"$work/sim.out" 2>"$work/sim.err" &
  simPid=$!
  for _ in $(seq 100); do
    [ -L "$comLink" ] && return 0
    sleep 0.05
  done
  fail "the emulator did not start: $(cat "$work/sim.err")"
  return 1
}

# check_sim EXIT REPORT: the emulator ended with EXIT and said REPORT.
check_sim() {
  local simExit=0
  wait "$simPid" || simExit=$?
  [ "$simExit" -eq "$1" ] || fail "kestal-sim exit $simExit, expected $1: $(cat "$work/sim.err")"
  grep -qF -- "$2" "$work/sim.err" || fail "kestal-sim did not report '$2': $(cat "$work/sim.err")"
}

# check_status EXIT STATUS_LINES: a program's exit status ($programExit) and the last lines
# of its standard error ($work/program.err), CRs taken out.
check_status() {
  [ "$programExit" -eq "$1" ] || fail "exit $programExit, expected $1: $(cat "$work/program.err")"
  local lines
  lines=$(wc -l <<<"$2")
  [ "$(tail -n "$lines" "$work/program.err" | tr -d '\r')" = "$2" ] ||
    fail "last status '$(tail -n "$lines" "$work/program.err")', expected '$2'"
}

# run_program EXE ARGS...: in the foreground, for two minutes at most (a program that never
# ends fails its row, not the run); its exit status lands in programExit, its output in
# $work/program.out and .err.
run_program() {
  programExit=0
  timeout 120 wine "$@" >"$work/program.out" 2>"$work/program.err" || programExit=$?
}
