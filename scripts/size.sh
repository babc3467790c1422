#!/usr/bin/env bash
# Lines of code (not blank, not only a comment) in tests/ against src/, bench/ and scripts/:
# the tests are kept at or under 35 % of the code they test and drive.
set -euo pipefail
cd "$(dirname "$0")/.."
readonly limit=35

# xargs may split a long list over several runs: add up what each printed.
Sum() { awk '{ sum += $1 } END { print sum + 0 }'; }

# C++ sources: // lines and the lines of /* */ blocks are comments.
count_cpp() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -r awk '
    FNR == 1 { inBlock = 0 }
    {
      line = $0
      if (inBlock) {
        end = index(line, "*/")
        if (end == 0) next
        inBlock = 0
        line = substr(line, end + 2)
      }
      sub(/^[ \t]+/, "", line)
      while (substr(line, 1, 2) == "/*") {
        end = index(substr(line, 3), "*/")
        if (end == 0) { inBlock = 1; next }
        line = substr(line, end + 4)
        sub(/^[ \t]+/, "", line)
      }
      if (line != "" && substr(line, 1, 2) != "//") count++
    }
    END { print count + 0 }' | Sum
}

# Shell, CMake and suppression files: # lines are comments.
count_hash() {
  find "$@" -type f \( -name '*.sh' -o -name 'CMakeLists.txt' -o -name '*.cmake' \
    -o -name '*.supp' \) -print0 | xargs -0 -r awk '
    { line = $0; sub(/^[ \t]+/, "", line); if (line != "" && substr(line, 1, 1) != "#") count++ }
    END { print count + 0 }' | Sum
}

lines() { echo $(($(count_cpp "$@") + $(count_hash "$@"))); }

tests=$(lines tests)
code=$(lines src bench scripts)
printf 'tests/:                %6d lines\n' "$tests"
printf 'src/ bench/ scripts/:  %6d lines\n' "$code"
awk -v t="$tests" -v c="$code" -v l="$limit" \
  'BEGIN { printf "tests / code:          %6.1f %% (limit %d %%)\n", c ? 100 * t / c : 0, l }'
if ((tests * 100 > code * limit)); then
  echo "size: the tests exceed $limit % of the code" >&2
  exit 1
fi
