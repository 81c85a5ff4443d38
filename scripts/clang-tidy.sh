#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Runs clang-tidy (the checks of .clang-tidy, every finding an error) over the repository's own
# sources: every C++ file under core/, tests/ and bench/ that the build tree compiles, through its
# compile_commands.json. Generated files (moc, uic, rcc: they live in the build tree) and the
# system's and third parties' headers are not checked. Fails when there is any finding.
# Usage: scripts/clang-tidy.sh [BUILD_DIR]   (default build/ci; it must have been built, since
#        Ferrik's sources include the generated form header)
# Environment: JOBS    parallel clang-tidy processes (default 2)
#              EXCLUDE a regular expression (Python) of source paths, relative to the top of the
#                      repository, to leave out, e.g. EXCLUDE='core/src/OVLLibAgent/'
#              FIX=1   apply the checks' fixes (review them: only the braces are mechanical)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/ci}" && pwd)
jobs=${JOBS:-2}

if [ ! -f "$build/compile_commands.json" ]; then
    echo "clang-tidy: no $build/compile_commands.json; configure and build first" >&2
    exit 1
fi
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)

files="^$root/(core|tests|bench)/.*\\.cpp\$"
if [ -n "${EXCLUDE:-}" ]; then
    files="^$root/(?!(${EXCLUDE}))(core|tests|bench)/.*\\.cpp\$"
fi
args=(-p "$build" -j "$jobs" -quiet -clang-tidy-binary "$tidy"
      -header-filter "^$root/(core|tests|bench)/"
      -extra-arg=-Wno-unknown-warning-option)
if [ "${FIX:-0}" = 1 ]; then
    apply=$(command -v clang-apply-replacements-14 || command -v clang-apply-replacements)
    args+=(-fix -clang-apply-replacements-binary "$apply")
fi

start=$(date +%s)
status=0
"$runner" "${args[@]}" "$files" || status=$?
echo "clang-tidy: $(( $(date +%s) - start )) s, $([ $status -eq 0 ] && echo clean || echo findings)"
exit $status
