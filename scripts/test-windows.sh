#!/usr/bin/env bash
# kestal-cli.exe under Wine against the Linux kestal-sim: a handful of the end-to-end table's
# rows, each checking the tool's exit status and last status lines and the emulator's verdict.
# The emulator's pseudo-terminal appears as COM5 through the link the emulator keeps in its
# port directory (wine-test-lib.sh maps COM5 to that link).
# Usage: test-windows.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -euo pipefail

exe=$(realpath "$1/src/cli/kestal-cli.exe")
build=$(realpath "$1")
sim=$(realpath "$2/src/sim/kestal-sim")
work=$build/wine-test
source "$(dirname "$0")/wine-test-lib.sh"
trap stop_wine EXIT
start_wine

# check CLI_EXIT CLI_STATUS_LINES SIM_EXIT SIM_REPORT: what the finished row must show.
check() {
  check_status "$1" "$2"
  check_sim "$3" "$4"
  done_row
}

run_cli() { run_program "$exe" "$@"; }

head -c 70000 /dev/urandom >"$work/data.ird"
head -c 5000 /dev/urandom >"$work/data.fdu"
wData=$(winepath -w "$work/data.ird")
wList=$(winepath -w "$work/data.fdu")
wTarget=$(winepath -w "$work/target.fdu")

row=PortsListsTheMappedPort
start_sim download --mode software --expect "$work/data.ird"
run_cli ports
grep -q "^Communications Port (COM5)	COM5" "$work/program.out" || fail "COM5 not listed: $(cat "$work/program.out")"
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
[ "$programExit" -eq 0 ] || fail "pack of a UTF-8 name: $(cat "$work/program.err")"
run_cli inspect "$(winepath -w "$wide.img")" --extract "$(winepath -w "$wide.out")"
[ "$programExit" -eq 0 ] && cmp -s "$wide" "$wide.out" || fail "inspect of a UTF-8 name: $(cat "$work/program.err")"
start_sim --timeout 2 download --mode software --size 10
run_cli send --port COM5 "$(winepath -w "$work/Kanäle-없음.fdu")"
wait "$simPid" || true
grep -q "Cannot read .*Kanäle-없음.fdu" "$work/program.err" || fail "the name is not shown in UTF-8: $(cat "$work/program.err")"
done_row

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
wine "$exe" send --port COM5 "$wData" >"$work/program.out" 2>"$work/program.err" &
cliPid=$!
for _ in $(seq 200); do
  grep -q "< CMD_BLOCK_DATA" "$work/sim.err" && break
  sleep 0.05
done
kill -INT "$cliPid"
programExit=0
wait "$cliPid" || programExit=$?
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
