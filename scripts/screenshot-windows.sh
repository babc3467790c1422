#!/usr/bin/env bash
# Renders the Windows window under Wine on a virtual screen (Xvfb), with a port present and a
# neutral path in the path field, into docs/screenshot-windows.png: its client area, as the
# Linux picture (scripts/screenshot.sh) shows the Qt window's.
# Usage: screenshot-windows.sh WINDOWS_BUILD_DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
work=$build/wine-screenshot
out=$root/docs/screenshot-windows.png
source "$root/scripts/wine-test-lib.sh"

cmake --build "$build" --target kestal-dialog-driver
stop() {
  wine reg delete 'HKCU\Software\ostrel' /f >/dev/null 2>&1 || true
  stop_wine
  kill "$xvfbPid" 2>/dev/null || true
}
trap stop EXIT
start_screen
start_wine

# As a user who last sent a channel list through COM5 (the file need not exist).
wine reg add "$settingsKey" /v port /t REG_SZ /d "Communications Port (COM5)" /f >/dev/null
wine reg add "$settingsKey" /v mode /t REG_DWORD /d 1 /f >/dev/null
wine reg add "$settingsKey" /v chfile /t REG_SZ /d 'C:\Users\user\receiver\channels.fdu' /f >/dev/null
wine "$build/src/window/win32/kestal.exe" >/dev/null 2>&1 &
windowPid=$!
wine "$build/tests/window/win32/kestal-dialog-driver.exe" wait 1001 "Kestal Vantro Manager." \
  snap "$(winepath -w "$work/window.bmp")" close
wait "$windowPid"
bmptopnm "$work/window.bmp" 2>/dev/null | pnmtopng >"$out"
echo "wrote $out"
