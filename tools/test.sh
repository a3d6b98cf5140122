#!/usr/bin/env bash
# Installs what is missing, builds Pemo and runs every test: a plain build, then the suite
# again under AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer. GUI tests
# run inside their own Xvfb server, started by the tests themselves.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

jobs=$(nproc)
run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPEMO_WERROR=ON "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# The readers under libFuzzer: each target runs a bounded number of inputs (with a fixed seed, so
# a run is repeatable, and a time cap for a slow machine) from its seed corpus in
# tests/fuzz/<name>/; what it learns stays in the build directory. A crash, leak, sanitizer report or
# broken round trip fails the script and leaves the input under build/fuzz/findings/.
run_fuzzers() {
    if ! command -v clang++ >/dev/null; then
        echo "test.sh: clang++ not found; the fuzz stage is skipped" >&2
        return 0
    fi
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPEMO_WERROR=ON \
        -DPEMO_GUI=OFF -DPEMO_TESTS=OFF -DPEMO_FUZZ=ON
    cmake --build build/fuzz -j "$jobs" --target fuzzers
    local runs=${PEMO_FUZZ_RUNS:-20000} seconds=${PEMO_FUZZ_SECONDS:-30} failed=()
    mkdir -p build/fuzz/findings
    for target in job text settings exclusions command_line; do
        mkdir -p "build/fuzz/corpus/$target"
        echo "fuzz_$target: $runs runs, at most ${seconds} s"
        if ! build/fuzz/tests/fuzz/fuzz_$target -runs="$runs" -seed=1 -max_total_time="$seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target-" \
            "build/fuzz/corpus/$target" "tests/fuzz/$target" >"build/fuzz/$target.log" 2>&1; then
            tail -n 40 "build/fuzz/$target.log" >&2
            failed+=("$target")
        fi
    done
    if [ ${#failed[@]} -ne 0 ]; then
        echo "test.sh: fuzzing found faults in: ${failed[*]}; inputs in build/fuzz/findings/" >&2
        echo "  (fix the reader, add the input to tests/fuzz/<target>/ and as a regression test)" >&2
        return 1
    fi
}

# clang-tidy (.clang-tidy) over the program's sources, from the compile commands of the Debug
# build; tests/ is left out, as it would more than double the time.
run_clang_tidy() {
    if ! command -v run-clang-tidy >/dev/null; then
        echo "test.sh: run-clang-tidy not found; the clang-tidy stage is skipped" >&2
        return 0
    fi
    echo "clang-tidy: program sources, $jobs at a time"
    if ! run-clang-tidy -p build/test -j "$jobs" -quiet "$PWD/(util|platform|model|sync|run|app|ui)/.*\\.cpp\$" \
        >build/test/clang-tidy.log 2>&1; then
        grep -E "(warning|error):" build/test/clang-tidy.log | sort -u >&2
        echo "test.sh: clang-tidy findings above (whole output in build/test/clang-tidy.log)" >&2
        return 1
    fi
}

run_suite build/test
if command -v clang-format >/dev/null; then
    cmake --build build/test --target format-check
fi
run_clang_tidy
run_fuzzers
if [ "${PEMO_QUICK:-0}" != "1" ]; then
    run_suite build/asan -DPEMO_SANITIZE_ADDRESS=ON
    run_suite build/tsan -DPEMO_SANITIZE_THREAD=ON
fi
# The Windows build: cross-built and its tests and demo run under Wine.
bash tools/windows.sh
