#!/usr/bin/env bash
# Fuzzes the cable file reader for a bounded time from the seed corpus in
# tests/fuzz/cable-corpus (see fuzz-target.sh).
#   scripts/fuzz-cables.sh [SECONDS]      (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/fuzz-target.sh velkor_cable_fuzzer tests/fuzz/cable-corpus "${1:-60}"
