#!/usr/bin/env bash
# Builds one of the fuzzers with clang (libFuzzer, ASan, UBSan) and runs it
# for a bounded time from its seed corpus. Used by fuzz-hex.sh and
# fuzz-write.sh:   scripts/fuzz-target.sh FUZZER SEED_CORPUS SECONDS [LIBFUZZER_OPTION...]
# New inputs go to build-fuzz/corpus-FUZZER, never into the seed corpus; an
# input that breaks the check is saved in build-fuzz/findings and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzzer=$1
seeds=$2
seconds=$3
shift 3
build=build-fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELKOR_BUILD_APP=OFF -DVELKOR_BUILD_BENCH=OFF
cmake --build "$build" -j 2 --target "$fuzzer"

corpus=$build/corpus-$fuzzer
mkdir -p "$corpus" "$build/findings"
"$build/tests/fuzz/$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 "$@" "$corpus" "$seeds"
echo "No finding in ${seconds} s; corpus grown to $(find "$corpus" -type f | wc -l) inputs in $corpus."
