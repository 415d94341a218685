#!/usr/bin/env bash
# The size of the tests against the rest of the code: non-blank lines outside comments of the C and
# C++ files under tests/, and of all other C and C++ files, as git lists them; and the number of
# test names (TEST, TEST_F, TEST_P).
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    awk '
        { line = $0 }
        inblock { if (index(line, "*/")) { inblock = 0; line = substr(line, index(line, "*/") + 2) } else next }
        { sub(/^[ \t]+/, "", line) }
        line ~ /^\/\// { next }
        line ~ /^\/\*/ { if (!index(substr(line, 3), "*/")) inblock = 1; next }
        line == "" { next }
        { n++ }
        END { print n + 0 }' "$@"
}

mapfile -t tests < <(git ls-files 'tests/*.cpp' 'tests/*.h' 'tests/*.c')
mapfile -t rest < <(git ls-files '*.cpp' '*.h' '*.c' | grep -v '^tests/')
test_lines=$(count "${tests[@]}")
rest_lines=$(count "${rest[@]}")
names=$(grep -hcE '^\s*(TEST|TEST_F|TEST_P)\(' "${tests[@]}" | paste -sd+ | bc)
share=$(awk -v t="$test_lines" -v r="$rest_lines" 'BEGIN { printf "%.1f", 100 * t / r }')
echo "tests: $test_lines lines, the rest: $rest_lines lines, tests/rest: $share%"
echo "test names: $names"
