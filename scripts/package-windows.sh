#!/usr/bin/env bash
# Packs the Windows programs built by build-windows.sh: a portable zip and an NSIS installer,
# both under BUILD_DIR/package. Usage: package-windows.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath "$1")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
words=$version
while [ "$(tr -cd . <<<"$words" | wc -c)" -lt 3 ]; do words=$words.0; done

out=$dir/package
stage=$out/kestal-$version
rm -rf "$out"
mkdir -p "$stage"
# Symbols stay in the build tree; Windows' Notepad before 10 wants CRLF lines.
x86_64-w64-mingw32-strip -o "$stage/kestal.exe" "$dir/src/window/win32/kestal.exe"
x86_64-w64-mingw32-strip -o "$stage/kestal-cli.exe" "$dir/src/cli/kestal-cli.exe"
sed 's/$/\r/' packaging/windows/LICENSE.txt >"$stage/LICENSE.txt"

(cd "$out" && zip -q -X -r "kestal-$version-windows.zip" "kestal-$version")
makensis -V2 -DVERSION="$version" -DVERSION_WORDS="$words" -DSTAGE="$stage" \
  -DICON="$dir/src/window/win32/kestal.ico" -DOUT_FILE="$out/kestal-setup-$version.exe" \
  packaging/windows/kestal.nsi
ls -l "$out"/*.zip "$out"/*.exe
