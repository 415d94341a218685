#!/usr/bin/env bash
# How much of the program the tests run: builds every test with clang's source-based coverage in a
# build folder of its own, runs them all through ctest, and prints the program's regions and lines
# covered by all tests together (tests, benchmarks, fuzzers, third-party and generated code left
# out). Compare the figure before and after a change to the tests: trimming must not lower it.
#   usage: scripts/coverage.sh [BUILDDIR]     (default: build-cov; JOBS sets the parallelism)
# Needs clang-14 and llvm-14 (llvm-profdata-14, llvm-cov-14): apt-get install -y clang-14 llvm-14
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in clang++-14 llvm-profdata-14 llvm-cov-14; do
    command -v "$tool" >/dev/null || { echo "coverage.sh: $tool is missing (apt-get install -y clang-14 llvm-14)" >&2; exit 2; }
done
B=$(realpath -m "${1:-build-cov}")
JOBS=${JOBS:-2}
mkdir -p "$B"
# A fixed default profile name keeps the objects alike across build folders (ccache can serve them);
# LLVM_PROFILE_FILE decides where the counts go.
FLAGS='-fprofile-instr-generate=/tmp/pelorin-cov.profraw -fcoverage-mapping'
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang-14 CXX=clang++-14 cmake -S . -B "$B" -DCMAKE_BUILD_TYPE=Debug -DPELORIN_BENCH=OFF \
    -DPELORIN_WERROR=OFF -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" "${launcher[@]}" >"$B/coverage-configure.log"
cmake --build "$B" -j"$JOBS" >"$B/coverage-build.log" 2>&1 || { tail -30 "$B/coverage-build.log"; exit 1; }
rm -rf "$B/prof" && mkdir -p "$B/prof"
# %m: one file per instrumented program, into which every process of it merges its counts.
(cd "$B" && LLVM_PROFILE_FILE="$B/prof/%m.profraw" ctest -j"$JOBS" --timeout 3000 >"$B/coverage-ctest.log" 2>&1) ||
    echo "coverage.sh: some tests failed (see $B/coverage-ctest.log); the figure counts what ran" >&2
llvm-profdata-14 merge -sparse -o "$B/all.profdata" "$B"/prof/*.profraw
objects=("$B/pelorin")
for t in "$B"/tests/*_tests; do [ -x "$t" ] && objects+=(-object "$t"); done
# Whole folder names, so that a checkout in a folder named like "trim-tests" still counts.
IGNORE='(^/usr/|(^|/)(tests|bench|fuzz)/|third_party|stb_|_autogen|moc_)'
llvm-cov-14 report -instr-profile "$B/all.profdata" "${objects[@]}" -ignore-filename-regex="$IGNORE" \
    >"$B/coverage-report.txt" 2>/dev/null
awk 'END { printf "program regions covered: %d of %d (%s)\nprogram lines covered: %d of %d (%s)\n", \
    $2-$3, $2, $4, $8-$9, $8, $10 }' "$B/coverage-report.txt"
echo "per file: $B/coverage-report.txt"
