#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the simulated
# chip: a Write of the example program to an ATmega8, then a Read Signature.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target velkor-cli

build/cli/velkor-cli --simulate ATmega8 --stats write examples/blink.hex
