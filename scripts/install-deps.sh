#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Runs as root (or through sudo); does nothing when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang pkg-config ccache
  qt6-base-dev qt6-l10n-tools zlib1g-dev
  fonts-nanum
  libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
  libclang-rt-14-dev
  dpkg-dev file lintian
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine
  nsis zip python3 xvfb locales  # the Windows installer, its icon, and the window's tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
