#!/bin/sh
# Renders the main window off screen, with a virtual receiver port present, into
# docs/screenshot.png.   Usage: scripts/screenshot.sh BUILD_DIR
set -eu

build=${1:?usage: scripts/screenshot.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/docs/screenshot.png"

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Private settings and runtime directories: the user's own settings stay untouched.
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen

# The emulator announces its pseudo-terminal as a virtual port once it has printed its path.
mkfifo "$work/sim.out"
"$build/src/sim/kestal-sim" --name demo --timeout 30 upload --serve "$root/examples/sample.fdu" \
  >"$work/sim.out" 2>/dev/null &
sim_pid=$!
read -r device <"$work/sim.out"
echo "virtual receiver on $device"

# Start as a user who last sent a channel list through that port.
mkdir -p "$work/config/ostrel"
printf '[General]\nport=Virtual Port (demo)\nmode=1\nchfile=%s\n' "$root/examples/sample.fdu" \
  >"$work/config/ostrel/pelmar.conf"

mkdir -p "$root/docs"
"$build/src/window/qt/kestal-screenshot" "$out"
echo "wrote $out"
