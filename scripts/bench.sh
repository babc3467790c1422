#!/usr/bin/env bash
# The performance suite: builds kestal-bench with the programs it measures and writes the
# table to docs/performance.md (also printed). About two minutes on two cores.
# Usage: scripts/bench.sh BUILD_DIR   (make bench builds first and passes the build directory)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: bench.sh BUILD_DIR}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

# lrzsz is the reference of the unpaced throughput; only the benchmark needs it.
command -v sz >/dev/null && command -v rz >/dev/null || bash "$root/scripts/install-deps.sh" bench

# Timings mean something only in an optimised build.
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
case "$build_type" in
  Release|RelWithDebInfo) ;;
  *) echo "bench: $build is a '$build_type' build; figures need Release or RelWithDebInfo" >&2; exit 1 ;;
esac

cmake --build "$build" --target kestal-bench
mkdir -p "$root/docs"
out="$root/docs/performance.md"
table="$(mktemp)"
trap 'rm -f "$table"' EXIT
"$build/bench/kestal-bench" run --build "$build" --out "$table"
{
  cat "$root/bench/performance_header.md"
  echo
  cat "$table"
} >"$out"
echo "bench: wrote $out"
