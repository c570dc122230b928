#!/usr/bin/env bash
# Fuzzes the ELF reader for a bounded time from the seed corpus in
# tests/fuzz/elf-corpus (see fuzz-target.sh).
#   scripts/fuzz-elf.sh [SECONDS]      (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/fuzz-target.sh velkor_elf_fuzzer tests/fuzz/elf-corpus "${1:-60}"
