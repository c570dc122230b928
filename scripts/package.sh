#!/usr/bin/env bash
# Builds the Debian package velkor_<version>_<arch>.deb in the build folder
# (default build/) and checks it with lintian when that is installed.
# The folder is (re)configured to install under /usr, as a package must.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build"
(cd "$build" && cpack -G DEB)

package=$(ls "$build"/velkor_*.deb)
if command -v lintian >/dev/null; then
  lintian --fail-on error "$package"
fi
echo "$package"
