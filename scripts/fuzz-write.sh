#!/usr/bin/env bash
# Fuzzes the whole Write (HEX reader, engine, simulated chip) for a bounded
# time from the seed corpus in tests/fuzz/write-corpus (see fuzz-target.sh).
# An input's first byte picks the chip, the rest is the HEX file.
#   scripts/fuzz-write.sh [SECONDS]    (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/fuzz-target.sh velkor_write_fuzzer tests/fuzz/write-corpus "${1:-60}" -dict=tests/fuzz/hex.dict \
  -max_len=2048
