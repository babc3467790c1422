#!/usr/bin/env bash
# kestal-cli.exe under Wine against the Linux kestal-sim: a handful of the end-to-end table's
# rows, each checking the tool's exit status and last status lines and the emulator's verdict.
# The emulator's pseudo-terminal appears as COM5 through the link the emulator keeps in its
# port directory (wine-test-lib.sh maps COM5 to that link).
# Usage: test-windows.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -euo pipefail

exe=$(realpath "$1/src/cli/kestal-cli.exe")
build=$(realpath "$1")
helper=$build/tests/win32/kestal-wine-helper.exe
sim=$(realpath "$2/src/sim/kestal-sim")
work=$build/wine-test
source "$(dirname "$0")/wine-test-lib.sh"
cmake --build "$build" --target kestal-shared-test kestal-wine-helper >/dev/null
trap stop_wine EXIT
start_wine

# check CLI_EXIT CLI_STATUS_LINES SIM_EXIT SIM_REPORT: what the finished row must show.
check() {
  check_status "$1" "$2"
  check_sim "$3" "$4"
  done_row
}

run_cli() { run_program "$exe" "$@"; }

# stop_mid_transfer SIM_LINE STOP ARGS...: kestal-cli.exe ARGS in the background, stopped by the
# function STOP once the emulator traced SIM_LINE; its exit status lands in programExit.
stop_mid_transfer() {
  local line=$1 stop=$2
  shift 2
  wine "$exe" "$@" >"$work/program.out" 2>"$work/program.err" &
  cliPid=$!
  for _ in $(seq 200); do
    grep -q "$line" "$work/sim.err" && break
    sleep 0.05
  done
  $stop
  programExit=0
  wait "$cliPid" || programExit=$?
}
interrupt() { kill -INT "$cliPid"; }
close_console() { wine "$helper" close kestal-cli.exe || fail "no console event sent"; }

head -c 70000 /dev/urandom >"$work/data.ird"
head -c 5000 /dev/urandom >"$work/data.fdu"
wData=$(winepath -w "$work/data.ird")
wList=$(winepath -w "$work/data.fdu")
wTarget=$(winepath -w "$work/target.fdu")

row=SharedCode
wine "$build/tests/win32/kestal-shared-test.exe" >"$work/program.out" 2>&1 ||
  fail "$(cat "$work/program.out")"
done_row

# A port a driver registered under a name of its own is listed too; the options that name
# Linux folders are not offered.
row=PortsListsTheMappedPort
start_sim download --mode software --expect "$work/data.ird"
wine reg add "$serialPorts" /v '\Device\com0com10' /d CNCA0 /f >/dev/null 2>&1
run_cli ports
wine reg delete "$serialPorts" /v '\Device\com0com10' /f >/dev/null 2>&1
grep -q "^Communications Port (COM5)	COM5" "$work/program.out" || fail "COM5 not listed: $(cat "$work/program.out")"
grep -q "^Communications Port (CNCA0)	CNCA0" "$work/program.out" || fail "CNCA0 not listed: $(cat "$work/program.out")"
run_cli ports --dev-dir /dev
[ "$programExit" -eq 2 ] || fail "ports --dev-dir: exit $programExit, expected 2"
kill "$simPid"
wait "$simPid" || true
done_row

# A path that starts with "/" is a file, not an option; a port in the \\?\ form is opened as
# it is.
row=SoftwareSend
start_sim download --mode software --expect "$work/data.ird"
run_cli send --port '\\?\COM5' "$work/data.ird"
check 0 "Transfer complete !" 0 "download ok, 70000 bytes"

# On a console the bar is redrawn in place without escape sequences, which Wine's console (and
# Windows' before 10) print as text: the screen keeps the status lines and nothing else.
row=ChannelsSendByFriendlyNameOnAConsole
start_sim download --mode channels --expect "$work/data.fdu"
programExit=0
script -qec "wine '$helper' console '$exe' send --port 'communications port (com5)' '$wList' \
  >'$work/screen'" /dev/null >/dev/null 2>&1 || programExit=$?
tr -d '\r' <"$work/screen" | sed '/^$/d' >"$work/program.err"
! grep -q $'\e\\|\\[K' "$work/program.err" || fail "escapes on screen: $(cat -A "$work/program.err")"
sed -i '$d' "$work/program.err"  # the summary line under the status
check 0 "Transfer complete !" 0 "channel list 5000 bytes in"

# Another program holding the target when it is replaced (a virus scanner, an indexer) only
# delays the replacement.
row=ReceiveByteForByteWhileTheTargetIsHeld
printf 'older' >"$work/target.fdu"
wine "$helper" hold "$wTarget" >"$work/helper.out" 2>&1 &
helperPid=$!
for _ in $(seq 200); do
  grep -q holding "$work/helper.out" && break
  sleep 0.05
done
start_sim upload --serve "$work/data.fdu"
run_cli receive --port COM5 "$wTarget"
check 0 "Transfer complete !" 0 "served 5000 of 5000 bytes"
wait "$helperPid" || fail "the target was never held: $(cat "$work/helper.out")"
cmp -s "$work/data.fdu" "$work/target.fdu" || fail "the received file differs from the served one"

# Names no ANSI code page holds, and one that Windows' own (1252) holds but a UTF-8 reading
# spoils: the command line arrives as UTF-16 and stays UTF-8 inside, and the file calls take
# it through the wide API.
for name in rücken.fdu Каналы-채널.fdu; do
  row="NonAsciiNameBothWays $name"
  wide="$work/$name"
  cp "$work/data.fdu" "$wide"
  start_sim download --mode channels --expect "$work/data.fdu"
  run_cli send --port COM5 "$(winepath -w "$wide")"
  check 0 "Transfer complete !" 0 "channel list 5000 bytes in"
  rm -f "$wide"
  start_sim upload --serve "$work/data.fdu"
  run_cli receive --port COM5 "$(winepath -w "$wide")"
  check 0 "Transfer complete !" 0 "served 5000 of 5000 bytes"
  cmp -s "$work/data.fdu" "$wide" || fail "the received file is not at its UTF-8 name"
done
row=NonAsciiNamePackedAndMissing
run_cli pack "$(winepath -w "$wide")" "$(winepath -w "$wide.img")"
[ "$programExit" -eq 0 ] || fail "pack of a UTF-8 name: $(cat "$work/program.err")"
run_cli inspect "$(winepath -w "$wide.img")" --extract "$(winepath -w "$wide.out")"
[ "$programExit" -eq 0 ] && cmp -s "$wide" "$wide.out" || fail "inspect of a UTF-8 name: $(cat "$work/program.err")"
start_sim --timeout 2 download --mode software --size 10
run_cli send --port COM5 "$(winepath -w "$work/Kanäle-없음.fdu")"
wait "$simPid" || true
grep -q "Cannot read .*Kanäle-없음.fdu" "$work/program.err" || fail "the name is not shown in UTF-8: $(cat "$work/program.err")"
done_row

# Refused before the receiver is woken: a folder that is not there, a name with no room for
# the file written beside it first.
row=TargetRefusedBeforeTheWakeUp
start_sim --timeout 1 upload --serve "$work/data.fdu"
run_cli receive --port COM5 'Z:\no\such\dir\t.fdu'
check_status 1 "Error : File open error.
Cannot write Z:\no\such\dir\t.fdu: folder Z:\no\such\dir does not exist."
check_sim 1 "no wake-up burst"
longTarget="$(winepath -w "$work")\\$(printf 'n%.0s' $(seq 246)).fdu"  # the staged name is longer
start_sim --timeout 1 upload --serve "$work/data.fdu"
run_cli receive --port COM5 "$longTarget"
check 1 "Error : File open error.
Cannot write $longTarget: the name is too long (at most 232 characters)." 1 "no wake-up burst"

# The console closing ends the receive as Ctrl-C would: the target keeps what it held, the
# staged file goes, the status is the program's own. Windows ends the process as soon as the
# handler returns, so the handler holds it for all that.
row=ConsoleClosedDuringReceive
printf 'older' >"$work/target.fdu"
start_sim --baud 9600 --trace upload --serve "$work/data.fdu"
stop_mid_transfer "< CMD_BLOCK_REQUEST" close_console receive --port COM5 "$wTarget"
check 1 "Interrupted by user!" 1 "the tool closed the port"
[ "$(cat "$work/target.fdu")" = older ] || fail "the target changed"
! ls -A "$work" | grep -q '^\.target\.fdu\.' || fail "left behind: $(ls -A "$work")"

row=SilenceTripsTheWatchdog
silenceReason="The receiver stopped answering for about 5 s: check the cable and that the receiver is on, then start again."
start_sim --silence-after 2 download --mode software --expect "$work/data.ird"
run_cli send --port COM5 "$wData"
check 1 "External Error Occurred!
$silenceReason" 0 "went silent after 2 blocks; the tool closed the port"

row=HangUpDuringSend
# The emulator closing its end is what an unplugged adapter looks like to the link.
start_sim --hangup-after 20 download --mode software --expect "$work/data.ird"
run_cli send --port COM5 "$wData"
check 1 "Error : Port disconnected." 0 "hung up after 20 blocks"

row=InterruptDuringSend
# Wine turns SIGINT into the console's Ctrl-C event for the Windows process.
start_sim --baud 9600 --trace download --mode software --block-size 64 --expect "$work/data.ird"
stop_mid_transfer "< CMD_BLOCK_DATA" interrupt send --port COM5 "$wData"
check 1 "Interrupted by user!" 1 "the tool closed the port while asked"

row=SendRecordedAndTraced
wRecording=$(winepath -w "$work/session.rec")
start_sim --bad-sum-every 3 --reply-timeout 300 --attempts 20 download --mode software \
  --expect "$work/data.ird"
run_cli send --port COM5 --record "$wRecording" "$wData"
check 0 "Transfer complete !" 0 "download ok, 70000 bytes"
row=TraceShowsTheBadSums
run_cli trace "$wRecording"
[ "$programExit" -eq 0 ] || fail "kestal-cli.exe trace exit $programExit: $(cat "$work/program.err")"
grep -q "CMD_BLOCK_REQUEST   len 6     sum BAD" "$work/program.out" ||
  fail "no bad sum traced: $(head -20 "$work/program.out")"
done_row

row=DoctorHearsTheReceiver
start_sim --request-value 0x1234 download --mode software --size 9
run_cli doctor --port COM5 --listen 10
[ "$programExit" -eq 0 ] || fail "kestal-cli.exe doctor exit $programExit: $(cat "$work/program.out")"
grep -qF "ok       listen: the receiver answers: ready to transfer (request seq 01, value 0x00001234)" \
  "$work/program.out" || fail "no answer heard: $(cat "$work/program.out")"
kill "$simPid"
wait "$simPid" || true
done_row

row=UnknownPortIsAUsageError
run_cli send --port COM9 "$wData"
[ "$programExit" -eq 2 ] || fail "kestal-cli.exe exit $programExit, expected 2"
done_row

finish "Windows rows"
