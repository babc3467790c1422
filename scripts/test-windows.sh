#!/usr/bin/env bash
# kestal-cli.exe under Wine against the Linux kestal-sim: a handful of the end-to-end table's
# rows, each checking the tool's exit status and last status line and the emulator's verdict.
# The emulator's pseudo-terminal appears as COM5 through the link the emulator keeps in its
# port directory (HKLM\Software\Wine\Ports maps COM5 to that link).
# Usage: test-windows.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -euo pipefail

exe=$(realpath "$1/src/cli/kestal-cli.exe")
sim=$(realpath "$2/src/sim/kestal-sim")
work=$(realpath "$1")/wine-test
export WINEPREFIX=$(realpath "$1")/wine-prefix
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono, no Gecko: a console tool needs neither
export WINEDEBUG=-all
export XDG_RUNTIME_DIR=$work/run  # the emulator's port link, and nobody else's

rm -rf "$work"
mkdir -p "$work/run"
chmod 700 "$work/run"
comLink=$XDG_RUNTIME_DIR/kestal/ports/box

stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

if [ ! -d "$WINEPREFIX" ]; then
  echo "Creating the Wine prefix (once)"
  wineboot -i >/dev/null 2>&1
fi
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$comLink" /f >/dev/null 2>&1
# The port map is read when the server starts; a persistent server then saves every run the
# seconds of starting it again.
wineserver -k >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1

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

# check CLI_EXIT CLI_STATUS_LINE SIM_EXIT SIM_REPORT: what the finished row must show.
check() {
  local simExit=0
  wait "$simPid" || simExit=$?
  [ "$cliExit" -eq "$1" ] || fail "kestal-cli.exe exit $cliExit, expected $1: $(cat "$work/cli.err")"
  [ "$(tail -n 1 "$work/cli.err" | tr -d '\r')" = "$2" ] ||
    fail "last status '$(tail -n 1 "$work/cli.err")', expected '$2'"
  [ "$simExit" -eq "$3" ] || fail "kestal-sim exit $simExit, expected $3: $(cat "$work/sim.err")"
  grep -qF -- "$4" "$work/sim.err" || fail "kestal-sim did not report '$4': $(cat "$work/sim.err")"
  done_row
}

# run_cli ARGS...: kestal-cli.exe in the foreground; its exit status lands in cliExit.
run_cli() {
  cliExit=0
  wine "$exe" "$@" >"$work/cli.out" 2>"$work/cli.err" || cliExit=$?
}

head -c 70000 /dev/urandom >"$work/data.ird"
head -c 5000 /dev/urandom >"$work/data.fdu"
wData=$(winepath -w "$work/data.ird")
wList=$(winepath -w "$work/data.fdu")
wTarget=$(winepath -w "$work/target.fdu")

row=PortsListsTheMappedPort
start_sim download --mode software --expect "$work/data.ird"
run_cli ports
grep -q "^Communications Port (COM5)	COM5" "$work/cli.out" || fail "COM5 not listed: $(cat "$work/cli.out")"
kill "$simPid"
wait "$simPid" || true
done_row

row=SoftwareSend
start_sim download --mode software --expect "$work/data.ird"
run_cli send --port COM5 "$wData"
check 0 "Transfer complete !" 0 "download ok, 70000 bytes"

row=ChannelsSendByFriendlyName
start_sim download --mode channels --expect "$work/data.fdu"
run_cli send --port "Communications Port (COM5)" "$wList"
check 0 "Transfer complete !" 0 "channel list 5000 bytes in"

row=ReceiveByteForByte
printf 'older' >"$work/target.fdu"
start_sim upload --serve "$work/data.fdu"
run_cli receive --port COM5 "$wTarget"
check 0 "Transfer complete !" 0 "served 5000 of 5000 bytes"
cmp -s "$work/data.fdu" "$work/target.fdu" || fail "the received file differs from the served one"

# A name no ANSI code page holds: the command line arrives as UTF-16 and stays UTF-8 inside,
# and the file calls take it through the wide API.
row=NonAsciiNameBothWays
wide="$work/Kanäle-채널.fdu"
cp "$work/data.fdu" "$wide"
start_sim download --mode channels --expect "$work/data.fdu"
run_cli send --port COM5 "$(winepath -w "$wide")"
check 0 "Transfer complete !" 0 "channel list 5000 bytes in"
rm -f "$wide"
start_sim upload --serve "$work/data.fdu"
run_cli receive --port COM5 "$(winepath -w "$wide")"
check 0 "Transfer complete !" 0 "served 5000 of 5000 bytes"
cmp -s "$work/data.fdu" "$wide" || fail "the received file is not at its UTF-8 name"
run_cli pack "$(winepath -w "$wide")" "$(winepath -w "$wide.img")"
[ "$cliExit" -eq 0 ] || fail "pack of a UTF-8 name: $(cat "$work/cli.err")"
run_cli inspect "$(winepath -w "$wide.img")" --extract "$(winepath -w "$wide.out")"
[ "$cliExit" -eq 0 ] && cmp -s "$wide" "$wide.out" || fail "inspect of a UTF-8 name: $(cat "$work/cli.err")"
start_sim --timeout 2 download --mode software --size 10
run_cli send --port COM5 "$(winepath -w "$work/Kanäle-없음.fdu")"
wait "$simPid" || true
grep -q "Cannot read .*Kanäle-없음.fdu" "$work/cli.err" || fail "the name is not shown in UTF-8: $(cat "$work/cli.err")"
done_row

row=SilenceTripsTheWatchdog
start_sim --silence-after 2 download --mode software --expect "$work/data.ird"
run_cli send --port COM5 "$wData"
grep -qx "External Error Occurred!"$'\r'"\?" "$work/cli.err" || fail "no watchdog text: $(cat "$work/cli.err")"
# The last line is the reason under it.
check 1 "The receiver stopped answering for about 5 s: check the cable and that the receiver is on, then start again." 0 "went silent after 2 blocks; the tool closed the port"

row=HangUpDuringSend
# The emulator closing its end is what an unplugged adapter looks like to the link.
start_sim --hangup-after 20 download --mode software --expect "$work/data.ird"
run_cli send --port COM5 "$wData"
check 1 "Error : Port disconnected." 0 "hung up after 20 blocks"

row=InterruptDuringSend
# Wine turns SIGINT into the console's Ctrl-C event for the Windows process.
start_sim --baud 9600 --trace download --mode software --block-size 64 --expect "$work/data.ird"
wine "$exe" send --port COM5 "$wData" >"$work/cli.out" 2>"$work/cli.err" &
cliPid=$!
for _ in $(seq 200); do
  grep -q "< CMD_BLOCK_DATA" "$work/sim.err" && break
  sleep 0.05
done
kill -INT "$cliPid"
cliExit=0
wait "$cliPid" || cliExit=$?
check 1 "Interrupted by user!" 1 "the tool closed the port while asked"

row=SendRecordedAndTraced
wRecording=$(winepath -w "$work/session.rec")
start_sim --bad-sum-every 3 --reply-timeout 300 --attempts 20 download --mode software \
  --expect "$work/data.ird"
run_cli send --port COM5 --record "$wRecording" "$wData"
check 0 "Transfer complete !" 0 "download ok, 70000 bytes"
row=TraceShowsTheBadSums
run_cli trace "$wRecording"
[ "$cliExit" -eq 0 ] || fail "kestal-cli.exe trace exit $cliExit: $(cat "$work/cli.err")"
grep -q "CMD_BLOCK_REQUEST   len 6     sum BAD" "$work/cli.out" ||
  fail "no bad sum traced: $(head -20 "$work/cli.out")"
done_row

row=DoctorHearsTheReceiver
start_sim --request-value 0x1234 download --mode software --size 9
run_cli doctor --port COM5 --listen 10
[ "$cliExit" -eq 0 ] || fail "kestal-cli.exe doctor exit $cliExit: $(cat "$work/cli.out")"
grep -qF "ok       listen: the receiver answers: ready to transfer (request seq 01, value 0x00001234)" \
  "$work/cli.out" || fail "no answer heard: $(cat "$work/cli.out")"
kill "$simPid"
wait "$simPid" || true
done_row

row=UnknownPortIsAUsageError
run_cli send --port COM9 "$wData"
[ "$cliExit" -eq 2 ] || fail "kestal-cli.exe exit $cliExit, expected 2"
done_row

if [ "$failures" -ne 0 ]; then
  echo "$failures Windows row(s) failed"
  exit 1
fi
echo "All Windows rows passed"
