#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
#
# Adds the copyright and licence lines that `reuse lint` reads to the top of every source file of
# the tree that has none, in the comment syntax of the file's type. Idempotent: a file that names a
# licence in its first lines already is left as it is.
# Files that cannot carry a comment, or whose bytes are test data, are not touched: .reuse/dep5
# covers them (images, JSON, fuzz corpora, man-page links, the Debian packaging).
# Usage: scripts/spdx-headers.sh [FILE...]   (default: every file git knows or would add)
set -euo pipefail
cd "$(dirname "$0")/.."

year=2026
holder="Ferrik maintainers"
license=Apache-2.0
# Spelt in two parts so that this script's own code is not read as a licence tag.
copyright_tag="SPDX-FileCopyright""Text"
license_tag="SPDX-License-""Identifier"

# The comment style of FILE: c (//), hash (#), xml (<!-- -->), roff (.\"), or nothing when the file
# is left to .reuse/dep5.
style_of() {
    local file=$1
    case "$file" in
    LICENSE | LICENSES/* | .reuse/* | debian/* | */fuzz/corpus/*) return ;;
    *.cpp | *.h | *.inc | *.c | *.hpp) echo c ;;
    *CMakeLists.txt | *.cmake | *.cmake.in | *.pc.in | *.service.in | *.sh | *.supp | *.dict | \
        .clang-format | .clang-tidy | .gitignore | *.desktop | *.logrotate | *.py) echo hash ;;
    *.xml | *.ui | *.qrc | *.svg) echo xml ;;
    *.md) echo md ;;
    *.[1-8])
        # A page that is only a link to another (".so") must keep that as its first line.
        head -n 1 "$file" | grep -q '^\.so ' || echo roff
        ;;
    *) if head -n 1 "$file" | grep -q '^#!'; then echo hash; fi ;;
    esac
}

has_license() {
    head -n 12 "$1" | grep -q "$license_tag:"
}

# Writes FILE with LINES (already commented) after its first line when that line must stay first
# (a #! line, an XML declaration), else before it.
insert_header() {
    local file=$1 keep_first=$2 lines=$3 tmp
    tmp=$(mktemp "$file.spdx.XXXXXX")
    if [ "$keep_first" -eq 1 ]; then
        { head -n 1 "$file"; printf '%s\n' "$lines"; tail -n +2 "$file"; } >"$tmp"
    else
        { printf '%s\n' "$lines"; cat "$file"; } >"$tmp"
    fi
    chmod --reference="$file" "$tmp"
    mv "$tmp" "$file"
}

add_header() {
    local file=$1 style first keep=0 lines
    style=$(style_of "$file")
    [ -n "$style" ] || return 0
    [ -s "$file" ] || return 0
    has_license "$file" && return 0
    first=$(head -n 1 "$file")
    # AppStream metadata is under a permissive licence of its own (its <metadata_license>).
    local file_license=$license
    [[ "$file" == *.metainfo.xml ]] && file_license=FSFAP
    local copyright="$copyright_tag: $year $holder" spdx="$license_tag: $file_license"
    case "$style" in
    c) lines="// $copyright"$'\n'"// $spdx" ;;
    hash)
        lines="# $copyright"$'\n'"# $spdx"
        [[ "$first" == '#!'* ]] && keep=1
        ;;
    xml)
        lines="<!-- $copyright -->"$'\n'"<!-- $spdx -->"
        [[ "$first" == '<?xml'* ]] && keep=1
        ;;
    md) lines="<!-- $copyright -->"$'\n'"<!-- $spdx -->"$'\n' ;;
    roff)
        lines=".\\\" $copyright"$'\n'".\\\" $spdx"
        [[ "$first" == "'\\\""* ]] && keep=1  # a preprocessor line ('\" t) stays first
        ;;
    esac
    insert_header "$file" "$keep" "$lines"
    echo "spdx-headers: $file"
}

if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files --cached --others --exclude-standard)
fi
for file in "${files[@]}"; do
    [ -f "$file" ] && [ ! -L "$file" ] && add_header "$file"
done
exit 0
