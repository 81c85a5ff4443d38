#!/usr/bin/env bash
# Installs the dependencies, builds everything with warnings as errors and runs every test;
# then builds and runs the tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
# and the threaded tests under ThreadSanitizer.
# Usage: scripts/test.sh [--quick]   (--quick: the plain build only, no sanitizer builds)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=${JOBS:-$(nproc)}
quick=0
[ "${1:-}" = "--quick" ] && quick=1

run_suite() {
    local preset=$1 target=$2 label=${3:-}
    echo "=== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" --target "$target"
    echo "=== $preset tests"
    if [ -n "$label" ]; then
        ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" -L "$label"
    else
        ctest --test-dir "build/$preset" --output-on-failure -j "$jobs"
    fi
}

run_suite ci all
if [ $quick -eq 0 ]; then
    run_suite asan all
    run_suite tsan tsan_tests tsan
fi
