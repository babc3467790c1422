#!/usr/bin/env bash
# Cross-builds kestal.exe and kestal-cli.exe with MinGW-w64, linked statically, and checks that
# each imports no DLL outside Windows itself and carries its version information and a manifest
# that makes UTF-8 the code page of any narrow call.
# Usage: build-windows.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DKESTAL_BUILD_UI=OFF -DKESTAL_TESTS=OFF -DKESTAL_BENCH=OFF
cmake --build "$dir" --target kestal-cli kestal

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
# What every Windows since 7 has; anything else would have to be shipped beside the .exe.
allowed='^(ADVAPI32|COMCTL32|COMDLG32|GDI32|KERNEL32|msvcrt|ole32|SETUPAPI|SHELL32|USER32)\.dll$'
for exe in "$dir/src/cli/kestal-cli.exe" "$dir/src/window/win32/kestal.exe"; do
  foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    grep -Eiv "$allowed" || true)
  if [ -n "$foreign" ]; then
    echo "$exe imports DLLs that Windows does not have:" $foreign >&2
    exit 1
  fi
  resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
  if ! grep -qF "VALUE \"ProductVersion\", \"$version\"" <<<"$resources"; then
    echo "$exe lacks its version information ($version)" >&2
    exit 1
  fi
  if ! grep -qF '>UTF-8</activeCodePage>' <<<"$resources"; then
    echo "$exe has no manifest making UTF-8 its code page" >&2
    exit 1
  fi
  echo "$exe: imports only Windows' own DLLs, version $version, UTF-8 code page"
done
