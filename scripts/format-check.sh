#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Checks that every C++ source and header of the repository is formatted by clang-format with the
# repository's .clang-format; lists the files that are not and fails. With --fix formats them.
# Usage: scripts/format-check.sh [--fix]
# Environment: EXCLUDE an extended regular expression of paths to leave out (e.g. 'core/src/OVLLibAgent/')
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)

mapfile -t files < <(git ls-files -- '*.cpp' '*.h' | grep -Ev "${EXCLUDE:-^$}")
if [ "${1:-}" = "--fix" ]; then
    "$format" -i "${files[@]}"
    exit 0
fi
unformatted=()
for f in "${files[@]}"; do
    "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -ne 0 ]; then
    echo "format-check: not formatted (scripts/format-check.sh --fix formats them):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "format-check: ${#files[@]} files formatted"
