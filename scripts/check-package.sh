#!/usr/bin/env bash
# Checks that Kestal installs as a Linux program should.
#   check-package.sh --install BUILD   installs BUILD into a scratch root (make install) and
#                                      checks the files there
#   check-package.sh DEB               checks the .deb: its contents, its dependencies, a scratch
#                                      install with dpkg -x, and lintian (errors fail)
set -euo pipefail

readonly expected=(
  usr/bin/kestal usr/bin/kestal-cli usr/bin/kestal-sim
  usr/share/man/man1/kestal.1.gz usr/share/man/man1/kestal-cli.1.gz
  usr/share/man/man1/kestal-sim.1.gz
  usr/share/applications/kestal.desktop
  usr/share/icons/hicolor/256x256/apps/kestal.png
  usr/share/doc/kestal/copyright usr/share/doc/kestal/changelog.gz
)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# Every expected file is there, the programs run from where they were installed (--help needs no
# display and no receiver), and the man pages are intact gzip files.
CheckTree() {
  local root=$1 file program
  for file in "${expected[@]}"; do
    [ -f "$root/$file" ] || fail "$file is missing"
  done
  for program in kestal kestal-cli kestal-sim; do
    timeout 10 "$root/usr/bin/$program" --help >/dev/null || fail "$program --help failed"
  done
  for file in "$root"/usr/share/man/man1/*.1.gz; do
    gzip -t "$file" || fail "$file is not a valid gzip file"
  done
}

CheckInstall() {
  DESTDIR="$scratch" cmake --install "$1" --prefix /usr >/dev/null
  CheckTree "$scratch"
  echo "check-package: make install lays out every file"
}

CheckDeb() {
  local deb=$1 listing file depends package
  listing=$(dpkg-deb -c "$deb")
  for file in "${expected[@]}"; do
    grep -q " \./$file\$" <<<"$listing" || fail "$deb does not hold $file"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for package in libqt6widgets6 libc6 zlib1g qt6-qpa-plugins; do
    grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package: $depends"
  done
  dpkg -x "$deb" "$scratch"
  CheckTree "$scratch"
  if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" ||
      fail "lintian reports errors"
  else
    echo "check-package: lintian not installed (make deps), not run" >&2
  fi
  echo "check-package: $deb holds and installs every file; Depends: $depends"
}

case "${1:-}" in
  --install) CheckInstall "${2:?usage: check-package.sh --install BUILD}" ;;
  *.deb) CheckDeb "$1" ;;
  *) fail "usage: check-package.sh --install BUILD | check-package.sh DEB" ;;
esac
