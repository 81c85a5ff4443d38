#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Installs the dependencies, builds everything with warnings as errors and runs every test, then
# runs clang-tidy and the format check on the sources (scripts/clang-tidy.sh, format-check.sh);
# builds everything again with clang, whose -Wthread-safety checks the locking annotations (its
# tests are not run); then builds and runs the tests again under AddressSanitizer +
# UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer. In between it builds
# the Debian packages from the tested tree, checks them with lintian and, as root, installs them
# and checks the installed files (scripts/check-installed.sh; the packages are removed again
# afterwards).
# Usage: scripts/test.sh [--quick]   (--quick: no sanitizer builds; the style checks and the clang
# build stay)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=${JOBS:-$(nproc)}
quick=0
[ "${1:-}" = "--quick" ] && quick=1

# Each stage says when it starts and how long the one before it took, so that a slow stage shows
# in CI's log (budgets per stage: docs/HACKING.md, "How long the tests take").
started=$(date +%s)
stage_start=$started
stage_name=""
stage() {
    local now
    now=$(date +%s)
    [ -n "$stage_name" ] && echo "--- $stage_name: $((now - stage_start)) s"
    stage_name=$1
    stage_start=$now
    [ -n "$stage_name" ] && echo "=== $stage_name (at $((now - started)) s)"
    return 0
}

run_suite() {
    local preset=$1 target=$2 label=${3:-}
    stage "$preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" --target "$target"
    stage "$preset tests"
    if [ -n "$label" ]; then
        ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" -L "$label"
    else
        ctest --test-dir "build/$preset" --output-on-failure -j "$jobs"
    fi
}

run_suite ci all

# --- style checks (on the ci build tree's compile_commands.json) ---
stage clang-tidy
JOBS="$jobs" scripts/clang-tidy.sh build/ci
stage format
scripts/format-check.sh
echo "=== licence (reuse lint; scripts/spdx-headers.sh adds the missing lines)"
reuse lint
# --- end of style checks ---

stage "clang build (thread-safety analysis)"
cmake --preset clang >/dev/null
cmake --build --preset clang -j "$jobs"
stage packages
scripts/package.sh build/ci
if [ "$(id -u)" -eq 0 ]; then
    scripts/check-installed.sh
else
    echo "test: not root, the packages are not installed and checked"
fi
if [ $quick -eq 0 ]; then
    run_suite asan all
    run_suite tsan tsan_tests tsan
fi
stage ""
echo "test: all stages passed in $(($(date +%s) - started)) s"
