#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages (console, ovlsend, agent, libraries, development files) into
# build/debs and checks them with lintian, which must report no error.
# Usage: scripts/package.sh [BUILD_DIR]
#   BUILD_DIR: a tree that is already built, configured with the prefix /usr as the presets are
#              (scripts/test.sh packages build/ci, the tree its tests ran on). Without it a release
#              build of the programs alone is made in build/deb.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-}
if [ -n "$build_dir" ] && [ ! -f "$build_dir/CMakeCache.txt" ]; then
    echo "package: $build_dir is not a configured build tree" >&2
    exit 1
fi

# The package version is the project's.
project_version=$(sed -n 's/^project(Ferrik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package_version=$(dpkg-parsechangelog -S Version)
if [ "$project_version" != "$package_version" ]; then
    echo "package: CMakeLists.txt says version $project_version, debian/changelog $package_version" >&2
    exit 1
fi

dpkg-checkbuilddeps
rm -rf build/debs
mkdir -p build/debs
export FERRIK_BUILD_DIR="$build_dir"
# debhelper builds with one job unless told otherwise.
case " ${DEB_BUILD_OPTIONS:-} " in
*" parallel="*) ;;
*) export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=${JOBS:-$(nproc)}" ;;
esac
debian/rules clean
debian/rules build
fakeroot debian/rules binary

echo "=== lintian"
lintian --fail-on error --display-level '>=warning' build/debs/*.deb
echo "package: built $(ls build/debs/*.deb | wc -l) packages in build/debs"
