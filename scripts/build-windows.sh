#!/usr/bin/env bash
# Cross-builds kestal-cli.exe with MinGW-w64, linked statically, and checks that it imports no
# DLL outside Windows itself. Usage: build-windows.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DKESTAL_BUILD_UI=OFF -DKESTAL_TESTS=OFF -DKESTAL_BENCH=OFF
cmake --build "$dir" --target kestal-cli

exe=$dir/src/cli/kestal-cli.exe
# What every Windows since 7 has; anything else would have to be shipped beside the .exe.
allowed='^(ADVAPI32|KERNEL32|msvcrt|SETUPAPI)\.dll$'
foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | grep -Eiv "$allowed" || true)
if [ -n "$foreign" ]; then
  echo "$exe imports DLLs that Windows does not have:" $foreign >&2
  exit 1
fi
echo "$exe: imports only Windows' own DLLs"
