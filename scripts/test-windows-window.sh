#!/usr/bin/env bash
# The Windows window under Wine, on a screen of its own (Xvfb): the registry settings store,
# the window's Win32 plumbing, the dialog as a user meets it (its controls, the About box from
# the system menu, in English and in Korean), command-line sends and a receive driven through
# the dialog against kestal-sim on COM5, drops and ports that come and go, and the installer's
# round trip.
# Usage: test-windows-window.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -euo pipefail

build=$(realpath "$1")
sim=$(realpath "$2/src/sim/kestal-sim")
cli=$(realpath "$2/src/cli/kestal-cli")
tests=$build/tests/window/win32
kestal=$build/src/window/win32/kestal.exe
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work=$build/wine-window-test
source "$(dirname "$0")/wine-test-lib.sh"

cmake --build "$build" --target kestal-settings-test kestal-plumbing-test kestal-dialog-driver

stop() {
  stop_wine
  kill "$xvfbPid" 2>/dev/null || true
}
trap stop EXIT
start_screen
start_wine  # after DISPLAY: the server's desktop is on this screen

# run NAME COMMAND...: a test program under Wine; its complaints go to the report.
run() {
  row=$1
  shift
  wine "$@" >"$work/out" 2>&1 || fail "$(cat "$work/out")"
  done_row
}

run SettingsKeyAbsentThenCreated "$tests/kestal-settings-test.exe" absent
# A volatile key would be gone once the server that held it has stopped.
row=SettingsOutliveTheSession
wineserver -k
wineserver -w
wine reg query "$settingsKey" /v port >"$work/out" 2>&1 || true
grep -q "Communications Port (COM5)" "$work/out" || fail "gone: $(cat "$work/out")"
done_row
start_wine

plant() { wine reg add "$settingsKey" /v "$1" /t "$2" /d "$3" /f >/dev/null; }
plant port REG_DWORD 5
plant mode REG_SZ 1
plant softfile REG_EXPAND_SZ '%TEMP%\x.ird'
plant chfile REG_MULTI_SZ 'a\0b'
run SettingsOfTheWrongKind "$tests/kestal-settings-test.exe" planted1
plant mode REG_DWORD 4294967295
plant port REG_SZ ''
plant softfile REG_BINARY 0102
plant chfile REG_QWORD 5
run SettingsOutOfRangeOrEmpty "$tests/kestal-settings-test.exe" planted2
wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1
run SettingsReadOnlyOrLocked "$tests/kestal-settings-test.exe" locked

run Plumbing "$tests/kestal-plumbing-test.exe"

# drive EXE LANG STEP...: starts the window, runs the driver's steps on it and waits for the
# window's process (two minutes at most); the driver's report lands in $work/out, the window's
# standard error in $work/window.err.
drive() {
  local exe=$1 language=$2
  shift 2
  LANG=$language LOCPATH=$build/locale timeout 120 wine "$exe" >/dev/null 2>"$work/window.err" &
  local windowPid=$!
  local driverExit=0 windowExit=0
  wine "$tests/kestal-dialog-driver.exe" "$@" >"$work/out" 2>&1 || driverExit=$?
  [ "$driverExit" -eq 0 ] || kill "$windowPid" 2>/dev/null || true
  wait "$windowPid" || windowExit=$?
  [ "$driverExit" -eq 0 ] || fail "driver: $(cat "$work/out")"
  [ "$windowExit" -eq 0 ] || fail "the window's exit status $windowExit"
}

# check_window ROW LANGUAGE STEP...: the driver's report on the window, its steps run, is
# exactly the text on standard input.
check_window() {
  row=$1
  local language=$2
  shift 2
  cat >"$work/expected"
  drive "$kestal" "$language" "$@"
  diff -u "$work/expected" "$work/out" >"$work/diff" || fail "$(cat "$work/diff")"
  done_row
}

# A key this user may not open: the window starts with the defaults and says why on standard
# error, as the Linux window does with a settings file it cannot read.
row=SettingsKeyLocked
drive "$kestal" C.UTF-8 wait 1013 Software wait 1009 "Communications Port (COM5)" \
  wait 1001 "Kestal Vantro Manager." close
grep -qF 'Settings: cannot open HKEY_CURRENT_USER\SOFTWARE\ostrel\pelmar\General: ' \
  "$work/window.err" || fail "no reason given: $(cat "$work/window.err")"
wine "$tests/kestal-settings-test.exe" unlock
wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1
done_row

check_window DialogShowsEveryControl C.UTF-8 controls close <<'END'
-1 Button shown ""
-1 Static shown "Mode"
1013 ComboBox shown "Software" [Software|Channels] selected 0
1007 Button shown checked "To Receiver"
1014 Button shown disabled "To Computer"
1003 Button shown "File"
1005 Edit shown ""
1006 Static shown "Communication Port :"
1009 ComboBox shown "Communications Port (COM5)" [Communications Port (COM5)] selected 0
1000 Button shown "Download"
1010 Button shown "Stop"
1017 Button shown "About"
1004 msctls_progress32 shown ""
1002 Static shown ""
1015 Static shown ""
-1 Button shown "Status"
1001 Static shown "Kestal Vantro Manager."
1016 Static shown ""
END

check_window AboutFromTheSystemMenu C.UTF-8 about close <<END
about "About kestal"
-1 Static shown (icon)
1100 Static shown "kestal version $version"
1101 Static shown "Copyright (c) 2026 The Kestal developers"
1102 Static shown "MIT License"
1 Button shown "OK"
END

mkdir -p "$build/locale"
[ -d "$build/locale/ko_KR.UTF-8" ] || localedef -i ko_KR -f UTF-8 "$build/locale/ko_KR.UTF-8"
check_window AboutInKorean ko_KR.UTF-8 about close <<END
about "kestal 정보"
-1 Static shown (icon)
1100 Static shown "kestal 버전 $version"
1101 Static shown "Copyright (c) 2026 The Kestal developers"
1102 Static shown "MIT 라이선스"
1 Button shown "확인"
END

head -c 70000 /dev/urandom >"$work/data.ird"
head -c 5000 /dev/urandom >"$work/data.fdu"
wData=$(winepath -w "$work/data.ird")
wList=$(winepath -w "$work/data.fdu")
silenceReason="The receiver stopped answering for about 5 s: check the cable and that the receiver is on, then start again."

# Command-line mode sends through the port used last; its status lines go to standard error
# (here a file) and the exit status says how it ended.
wine reg add "$settingsKey" /v port /t REG_SZ /d "Communications Port (COM5)" /f >/dev/null
row=CommandLineSoftwareSend
start_sim download --mode software --expect "$work/data.ird"
run_program "$kestal" "$wData"
check_status 0 "Transfer complete !"
check_sim 0 "download ok, 70000 bytes"
done_row

row=CommandLineChannelsSend
start_sim download --mode channels --expect "$work/data.fdu"
run_program "$kestal" "$wList"
check_status 0 "Transfer complete !"
check_sim 0 "channel list 5000 bytes in"
done_row

row=CommandLineSilentReceiver
start_sim --silence-after 2 download --mode software --expect "$work/data.ird"
run_program "$kestal" "$wData"
check_status 1 "External Error Occurred!
$silenceReason"
check_sim 0 "went silent after 2 blocks; the tool closed the port"
done_row

# No emulator behind COM5: the reason comes under the system's text (which reason, Wine
# decides: it opens the missing link as something else).
row=CommandLinePortThatDoesNotOpen
rm -f "$comLink"
run_program "$kestal" "$wData"
[ "$programExit" -eq 1 ] || fail "exit $programExit, expected 1"
[ "$(tail -n 2 "$work/program.err" | head -n 1 | tr -d '\r')" = "Open port failed!" ] &&
  grep -q "COM5" <<<"$(tail -n 1 "$work/program.err")" ||
  fail "no reason under the system's text: $(cat "$work/program.err")"
done_row
wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1

# check_settings LINE...: the registry values the driver printed last, one a line, and the row
# ends; the settings go with it.
check_settings() {
  printf '%s\n' "$@" >"$work/expected"
  diff -u "$work/expected" "$work/out" >"$work/diff" || fail "settings: $(cat "$work/diff")"
  done_row
  wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1
}

# Check Port from the system menu: the doctor's checks of the selected port alone, its
# listening heard by the receiver, in the report dialog (its Copy checked by the driver).
row=CheckPortHearsTheReceiver
start_sim --request-value 0x1234 download --mode software --size 9
drive "$kestal" C.UTF-8 plug COM3 has 1009 "Communications Port (COM3)" \
  choose 1009 "Communications Port (COM5)" check report unplug close
grep -qx 'report "Check Port"' "$work/out" && grep -q '^Port COM5' "$work/out" &&
  ! grep -q 'COM3' "$work/out" &&
  grep -qF "ok       listen: the receiver answers: ready to transfer (request seq 01, value 0x00001234)" \
    "$work/out" || fail "not the report expected: $(cat "$work/out")"
kill "$simPid"
wait "$simPid" || true
wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1
done_row

# A user's receive, recorded: Channels, To Computer, a name no ANSI code page holds typed into
# the save dialog, the port chosen, the recording's file (one there is replaced when the user
# says so), Upload; the file byte for byte, the settings kept, a recording that trace reads.
row=DialogReceivesAChannelList
target="$work/Kanäle-채널.fdu"
wTarget=$(winepath -w "$target")
recording=$work/session.rec
wRecording=$(winepath -w "$recording")
echo old >"$recording"
start_sim upload --serve "$work/data.fdu"
drive "$kestal" C.UTF-8 select 1013 1 click 1014 wait 1000 Upload file "$wTarget" \
  wait 1005 "$wTarget" choose 1009 "Communications Port (COM5)" record "$wRecording" \
  click 1000 wait 1001 "Transfer complete !" wait 1016 "Recorded to $wRecording." close settings
check_sim 0 "served 5000 of 5000 bytes"
cmp -s "$work/data.fdu" "$target" || fail "the received file differs from the served one"
"$cli" trace "$recording" >"$work/trace" 2>&1 || fail "trace: $(cat "$work/trace")"
head -n 1 "$work/trace" | grep -qF "kestal $version: receive, channels, $wTarget on " &&
  grep -q "CMD_SIZE_REPLY      len 4     sum ok   size 5000 bytes" "$work/trace" &&
  tail -n 1 "$work/trace" | grep -q "end: completed, exit status 0$" ||
  fail "not the session's recording: $(head -n 3 "$work/trace") ... $(tail -n 1 "$work/trace")"
grep -q "^asked " "$work/out" || fail "the recording was replaced without a question"
sed -i '/^asked /d' "$work/out"
check_settings "port=Communications Port (COM5)" "mode=1" "softfile=(none)" "chfile=$wTarget"

# Files dropped on the window, as on Linux: a folder is no file to send (the box says so), of
# several files the first is taken and kept for the mode. A port that arrives joins the list
# while the chosen one stays chosen, and the list follows it going again.
row=DropsAndPortsThatComeAndGo
wDropped=$(winepath -w "$work/Kanäle.ird")
cp "$work/data.ird" "$work/Kanäle.ird"
drive "$kestal" C.UTF-8 select 1013 0 drop "$(winepath -w "$work")" box \
  drop "$wDropped|$wData" wait 1005 "$wDropped" \
  choose 1009 "Communications Port (COM5)" plug COM3 has 1009 "Communications Port (COM3)" \
  wait 1009 "Communications Port (COM5)" unplug lacks 1009 "Communications Port (COM3)" \
  wait 1009 "Communications Port (COM5)" close settings
check_settings 'box "Error" "Error111"' "port=Communications Port (COM5)" "mode=0" \
  "softfile=$wDropped" "chfile=(none)"

# The window closed while a receive runs: the transfer ends, the process with it, and neither
# the file nor its temporary is left.
row=ClosedDuringAReceive
mkdir "$work/closed"
head -c 60000 /dev/urandom >"$work/long.fdu"
wine reg add "$settingsKey" /v port /t REG_SZ /d "Communications Port (COM5)" /f >/dev/null
start_sim --baud 9600 upload --serve "$work/long.fdu"
drive "$kestal" C.UTF-8 select 1013 1 click 1014 file "$(winepath -w "$work/closed/list.fdu")" \
  click 1000 wait 1001 "Uploading..." close
kill "$simPid" 2>/dev/null || true
wait "$simPid" || true
[ -z "$(ls -A "$work/closed")" ] || fail "left behind: $(ls -A "$work/closed")"
wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1
done_row

# The installer: silent install into a folder of the test's, the programs there and starting,
# silent uninstall, and nothing left but the user's settings.
row=InstallerRoundTrip
setup=$build/package/kestal-setup-$version.exe
installed=$WINEPREFIX/drive_c/kestal-test/Kestal
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kestal.lnk"
uninstallKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestal'
grep -qF "VALUE \"ProductVersion\", \"$version\"" \
  <<<"$(x86_64-w64-mingw32-windres -i "$setup" -O rc)" || fail "setup has no version $version"
rm -rf "$WINEPREFIX/drive_c/kestal-test"
wine reg add "$settingsKey" /v port /t REG_SZ /d COM5 /f >/dev/null
wine "$setup" /S '/D=C:\kestal-test\Kestal' || fail "setup exit $?"
for file in kestal.exe kestal-cli.exe LICENSE.txt uninstall.exe; do
  [ -f "$installed/$file" ] || fail "$file not installed"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
wine reg query "$uninstallKey" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
  fail "no entry among the installed programs"
[ "$(wine "$installed/kestal-cli.exe" --version 2>&1 | head -n 1 | tr -d '\r')" = "kestal-cli $version" ] ||
  fail "the installed kestal-cli.exe does not run"
drive "$installed/kestal.exe" C.UTF-8 close
# The uninstaller runs from a copy of itself and returns at once: its work is awaited.
wine "$installed/uninstall.exe" /S || fail "uninstall exit $?"
for _ in $(seq 300); do
  [ -e "$installed" ] || break
  sleep 0.1
done
[ ! -e "$installed" ] || fail "left behind: $(ls -A "$installed")"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut stayed"
! wine reg query "$uninstallKey" >/dev/null 2>&1 || fail "the uninstall entry stayed"
wine reg query "$settingsKey" /v port 2>/dev/null | grep -q COM5 || fail "the settings went"
wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1
done_row

finish "Windows window checks"
