#!/usr/bin/env bash
# Builds Pelorin twice (normally, then with AddressSanitizer and UndefinedBehaviorSanitizer), runs
# every test suite in both builds, then builds the fuzz targets with clang and runs each briefly.
# Fails when any step fails, when a file is not formatted as .clang-format says, and when a build
# prints a compiler warning.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${PELORIN_FUZZ_SECONDS:-30}
status=0

run_suite() {
    local dir=$1; shift
    echo "=== configure $dir ($*)"
    cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    echo "=== build $dir"
    # The builds must be free of warnings: a warning fails the run like an error.
    if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
        grep -E "error|warning:" "$dir.build.log" | head -n 60
        tail -n 30 "$dir.build.log"
        return 1
    fi
    if grep -qE "warning:" "$dir.build.log"; then
        grep -E -A4 "warning:" "$dir.build.log" | head -n 60
        echo "build $dir has compiler warnings"
        return 1
    fi
    echo "=== test $dir"
    # The whole output is kept in the log; the summary is printed, and on failure the failing tests.
    local status=0
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600) >"$dir.test.log" 2>&1 || status=1
    if [ $status -ne 0 ]; then
        grep -vE "^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed" "$dir.test.log" | tail -n 400
    else
        # CTest's summary: the pass count, the total time and any skipped tests.
        sed -n '/% tests passed/,$p' "$dir.test.log"
    fi
    return $status
}

echo "=== format"
# Every C and C++ file is formatted as .clang-format says; `clang-format -i FILE` mends one.
if ! git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "files are not formatted as .clang-format says"
    status=1
fi

mkdir -p build build-asan
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DPELORIN_SANITIZE=ON -DPELORIN_BENCH=OFF || status=1

if [ -d fuzz ] && ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
    echo "=== fuzz targets ($fuzz_seconds s each)"
    mkdir -p build-fuzz
    # Warnings are checked in the two builds above; clang's own kinds do not stop the fuzz targets.
    if CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIN_FUZZ=ON -DPELORIN_GUI=OFF \
           -DPELORIN_TESTS=OFF -DPELORIN_BENCH=OFF -DPELORIN_WERROR=OFF >build-fuzz.configure.log 2>&1 \
       && cmake --build build-fuzz -j "$jobs" >build-fuzz.build.log 2>&1; then
        for target in build-fuzz/fuzz/fuzz_*; do
            [ -x "$target" ] || continue
            name=$(basename "$target")
            corpus=$(mktemp -d)
            seeds=fuzz/corpus/$name
            echo "--- $name"
            # A single allocation above 256 MB counts as a failure: no input of a few kilobytes may
            # make a reader allocate that much. Crash inputs are kept in build-fuzz/.
            if ! "$target" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
                   -artifact_prefix="build-fuzz/$name-" -print_final_stats=1 \
                   "$corpus" ${seeds:+$( [ -d "$seeds" ] && echo "$seeds")} 2>"build-fuzz/$name.log"; then
                tail -n 60 "build-fuzz/$name.log"
                status=1
            else
                grep -E "stat::number_of_executed_units|Done" "build-fuzz/$name.log" | tail -n 2
            fi
            rm -rf "$corpus"
        done
    else
        tail -n 40 build-fuzz.configure.log build-fuzz.build.log
        status=1
    fi
fi

if [ $status -eq 0 ]; then echo "ALL CHECKS PASSED"; else echo "SOME CHECKS FAILED"; fi
exit $status
