#!/usr/bin/env bash
# Builds velkor-cli.exe for 64-bit Windows with MinGW-w64, so that the
# Windows side of the port component (the real service-manager and library
# calls) is checked by a compiler. Usage: scripts/cross-build-windows.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-windows}

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "cross-build-windows: x86_64-w64-mingw32-g++-posix not found (apt-get install g++-mingw-w64-x86-64)" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DVELKOR_BUILD_APP=OFF -DVELKOR_BUILD_TESTS=OFF -DVELKOR_BUILD_BENCH=OFF
cmake --build "$build" -j2 --target velkor-cli
echo "cross-build-windows: built $build/cli/velkor-cli.exe"
