#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Installs every Debian package that the build, the tests and the benchmarks need.
# Idempotent: when everything is present it returns after one dpkg query.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build g++ clang pkg-config git
    # style checks (scripts/clang-tidy.sh applies fixes with clang-tools' clang-apply-replacements)
    clang-tidy clang-format clang-tools
    # libraries
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libboost-dev libssl-dev openssl libpugixml-dev libexpat1-dev uuid-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-dejavu-core libxml2-utils xdotool
    openssh-server openssh-client procps
    nginx-light wrk
    # Debian packages (scripts/package.sh) and the checks of the installed files
    debhelper dpkg-dev fakeroot lintian adduser
    desktop-file-utils appstream systemd man-db
    # licence check of every file (scripts/test.sh: reuse lint)
    reuse
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The test suites start their own sshd and nginx on spare ports; keep the packaged services down.
for svc in ssh nginx; do
    $sudo systemctl disable --now "$svc" >/dev/null 2>&1 || true
done
