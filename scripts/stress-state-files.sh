#!/usr/bin/env bash
# Stress checks of the --sim-state file:
#  1. KILLS times: a Write is killed (SIGKILL) at a random moment around its
#     save; the state file must load every time afterwards.
#  2. PROCESSES commands at once on one state file, Writes and fuse commands
#     mixed: all must succeed, and the file must hold the high fuse of the
#     fuse command that ended last.
#   scripts/stress-state-files.sh [KILLS] [PROCESSES] [BUILD_DIR]   (default 1000 20 build)
set -euo pipefail
cd "$(dirname "$0")/.."

kills=${1:-1000}
processes=${2:-20}
cli=${3:-build}/cli/velkor-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
state=$work/chip.json
write=(--simulate ATmega168 --sim-state "$state" write examples/blink.hex)

# How long one Write takes here, so the kills fall around its end, where the
# state is saved.
start=$(date +%s%N)
"$cli" "${write[@]}" >/dev/null
length_us=$((($(date +%s%N) - start) / 1000))
echo "stress: one Write takes ${length_us} us; killing $kills Writes between 50% and 120% of that"

unloadable=0
for ((i = 1; i <= kills; i++)); do
  "$cli" "${write[@]}" >/dev/null 2>&1 &
  pid=$!
  delay_us=$((length_us / 2 + RANDOM * (length_us * 7 / 10) / 32768))
  sleep "$(printf '0.%06d' "$delay_us")"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if ! "$cli" --simulate ATmega168 --sim-state "$state" signature >/dev/null 2>"$work/load.err"; then
    unloadable=$((unloadable + 1))
    echo "stress: after kill $i the state file does not load: $(cat "$work/load.err")" >&2
  fi
done
echo "stress: $kills kills, $unloadable unloadable state files"

rm -f "$state"
declare -A high_of
for ((i = 1; i <= processes; i++)); do
  if ((i % 2)); then
    "$cli" "${write[@]}" >"$work/run$i.out" 2>"$work/run$i.err" &
  else
    # High fuse values that keep RSTDISBL and DWEN unprogrammed and SPIEN programmed.
    high=$(printf '%02X' $((0xC0 + i % 32)))
    "$cli" --simulate ATmega168 --sim-state "$state" fuse "$high" 62 >"$work/run$i.out" 2>"$work/run$i.err" &
    high_of[$!]=$high
  fi
done
failed=0
last_high=""
for ((i = 1; i <= processes; i++)); do
  status=0
  wait -n -p finished || status=$?
  if ((status != 0)); then
    failed=$((failed + 1))
  fi
  if [[ -n ${high_of[$finished]:-} ]]; then
    last_high=${high_of[$finished]}
  fi
done
waited=$(cat "$work"/run*.err | grep -c 'waiting for' || true)
held_high=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["fuses"]["high"])' "$state")
echo "stress: $processes processes at once: $failed failed, $waited said they waited; the file holds high fuse" \
  "$held_high, the fuse command that ended last wrote $last_high"
((unloadable == 0 && failed == 0)) && [[ $held_high == "$last_high" ]]
