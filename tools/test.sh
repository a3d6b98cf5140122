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

run_suite build/test
if command -v clang-format >/dev/null; then
    cmake --build build/test --target format-check
fi
if [ "${PEMO_QUICK:-0}" != "1" ]; then
    run_suite build/asan -DPEMO_SANITIZE_ADDRESS=ON
    run_suite build/tsan -DPEMO_SANITIZE_THREAD=ON
fi
