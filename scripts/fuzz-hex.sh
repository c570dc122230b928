#!/usr/bin/env bash
# Builds the HEX reader's fuzzer with clang (libFuzzer, ASan, UBSan) and runs
# it for a bounded time from the seed corpus in tests/fuzz/corpus.
#   scripts/fuzz-hex.sh [SECONDS]      (default 60)
# New inputs go to build-fuzz/corpus, never into the seed corpus; an input
# that breaks the reader is saved in build-fuzz/findings and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELKOR_BUILD_APP=OFF -DVELKOR_BUILD_BENCH=OFF
cmake --build "$build" -j 2 --target velkor_hex_fuzzer

mkdir -p "$build/corpus" "$build/findings"
"$build/tests/fuzz/velkor_hex_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -dict=tests/fuzz/hex.dict -artifact_prefix="$build/findings/" -print_final_stats=1 \
  "$build/corpus" tests/fuzz/corpus
echo "No finding in ${seconds} s; corpus grown to $(find "$build/corpus" -type f | wc -l) inputs in $build/corpus."
