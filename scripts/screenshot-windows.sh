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
driver=$build/tests/window/win32/kestal-dialog-driver.exe
wine "$build/src/window/win32/kestal.exe" >/dev/null 2>&1 &
windowPid=$!
read -r left top width height < <(wine "$driver" wait 1001 "Kestal Vantro Manager." area)

# The client area off the screen, taken again until two looks a moment apart agree: painted.
snap() {
  xwd -root -silent | xwdtopnm 2>/dev/null |
    pamcut -left "$left" -top "$top" -width "$width" -height "$height" >"$1"
}
snap "$work/window.pnm"
for _ in $(seq 100); do
  sleep 0.3
  snap "$work/again.pnm"
  cmp -s "$work/window.pnm" "$work/again.pnm" && break
  mv "$work/again.pnm" "$work/window.pnm"
done
wine "$driver" close
wait "$windowPid"
pnmtopng "$work/window.pnm" >"$out"
echo "wrote $out"
