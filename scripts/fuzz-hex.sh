#!/usr/bin/env bash
# Fuzzes the HEX reader for a bounded time from the seed corpus in
# tests/fuzz/corpus (see fuzz-target.sh).
#   scripts/fuzz-hex.sh [SECONDS]      (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/fuzz-target.sh velkor_hex_fuzzer tests/fuzz/corpus "${1:-60}" -dict=tests/fuzz/hex.dict
