#!/usr/bin/env bash
# Installs the Debian packages that one make target needs, and no more.
# Usage: install-deps.sh [--list] GROUP...   (GROUP: build, test, demo, windows, package, fuzz,
# screenshot-windows)
# --list prints the packages the groups take instead of installing them.
# Runs as root (or through sudo); does nothing when everything is present. To add a package,
# add it to the group that needs it; a group lists only what the groups it names do not.
set -euo pipefail

declare -A group=(
  # The programs themselves: compilers, Qt, zlib, the option parser, libcrypto (the station's
  # SHA-256).
  [build]="cmake ninja-build g++ pkg-config ccache qt6-base-dev qt6-l10n-tools zlib1g-dev
           libcli11-dev nlohmann-json3-dev libssl-dev fonts-nanum"
  # make test: GoogleTest, and what the tests call (python3 reads the JSON events, setpriv
  # drops root for the permission tests).
  [test]="libgtest-dev libgmock-dev python3 util-linux"
  # make fuzz and the sanitizer builds: clang and its runtime.
  [fuzz]="clang libclang-rt-14-dev"
  # make package: the .deb and its lint.
  [package]="dpkg-dev file lintian"
  # make windows, make test-windows: the MinGW-w64 cross compiler, and Wine to run the .exe.
  # make windows-installer and the window's tests: the installer, its icon, Xvfb, a Korean
  # locale for the About box.
  [windows]="g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine nsis zip xvfb locales"
  # make screenshot-windows: the screen's picture, cut to the window and made a PNG.
  [screenshot-windows]="x11-apps netpbm"
)
# What each group needs besides its own packages.
declare -A needs=([test]=build [demo]="build test" [fuzz]="build test" [package]=build
                  [windows]="build test" [screenshot-windows]=windows)

wanted=()
add_group() {
  local name=$1
  [ -n "${group[$name]+x}${needs[$name]+x}" ] || { echo "install-deps: no group '$name'" >&2; exit 2; }
  for dependency in ${needs[$name]:-}; do add_group "$dependency"; done
  wanted+=(${group[$name]:-})
}
list=false
if [ "${1:-}" = --list ]; then list=true; shift; fi
[ $# -gt 0 ] || set -- build
for name in "$@"; do add_group "$name"; done
if $list; then printf '%s\n' "${wanted[@]}" | sort -u; exit 0; fi

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
