#!/usr/bin/env bash
# Runs the cross-built velkor-cli.exe under Wine on the simulated chip and
# compares its standard output, exit status and state file byte for byte
# with the Linux build's for the same commands. Fails on any difference.
#   scripts/run-windows-build.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

linux=${1:-build}/cli/velkor-cli
windows=${2:-build-windows}/cli/velkor-cli.exe
# Debian's wine64 package keeps its loader in /usr/lib/wine; the wine
# package adds the wrappers in /usr/bin.
wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64 2>/dev/null || true)
if [[ -z $wine ]]; then
  echo "run-windows-build: wine64 not found (apt-get install wine64)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
start=$SECONDS
"$wine" wineboot --init >/dev/null 2>&1
boot_seconds=$((SECONDS - start))

# The default HEX file of each build: c:\avrtools\avr.hex on Wine's C: drive,
# ~/avrtools/avr.hex on Linux.
mkdir -p "$WINEPREFIX/drive_c/avrtools" "$work/home/avrtools"
cp examples/blink.hex "$WINEPREFIX/drive_c/avrtools/avr.hex"
cp examples/blink.hex "$work/home/avrtools/avr.hex"

# Each command with the exit status it must end with, so that a build that
# fails everything the same way does not pass.
commands=(
  "signature"
  "write examples/blink.hex"
  "write"
  "fuse d9 e4"
  "fuse zz e4"
  "signature"
)
statuses=(0 0 0 0 1 0)

# Runs each command on one build, in order, on one state file; writes each
# command's standard output and exit status to OUT_DIR.
run_all() {
  local name=$1 out=$2
  shift 2
  mkdir -p "$out"
  local i=0 status
  for command in "${commands[@]}"; do
    i=$((i + 1))
    status=0
    # shellcheck disable=SC2086 # the command's words are meant to split
    HOME=$work/home "$@" --simulate ATmega8 --sim-state "$out/../$name.json" $command >"$out/$i.out" 2>"$out/$i.err" || status=$?
    echo "$status" >"$out/$i.status"
  done
}

run_all linux "$work/linux" "$linux"
start=$SECONDS
run_all windows "$work/windows" "$wine" "$windows"
wine_seconds=$((SECONDS - start))

failed=0
i=0
for command in "${commands[@]}"; do
  i=$((i + 1))
  if [[ $(cat "$work/linux/$i.status") != "${statuses[i - 1]}" ]]; then
    echo "run-windows-build: '$command' ended with $(cat "$work/linux/$i.status") on Linux, not ${statuses[i - 1]}" >&2
    failed=1
  fi
  for part in out status; do
    if ! cmp -s "$work/linux/$i.$part" "$work/windows/$i.$part"; then
      echo "run-windows-build: '$command': the Windows build's $part differs from the Linux build's:" >&2
      diff -u "$work/linux/$i.$part" "$work/windows/$i.$part" >&2 || true
      failed=1
    fi
  done
done
if ! cmp -s "$work/linux.json" "$work/windows.json"; then
  echo "run-windows-build: the state files differ" >&2
  failed=1
fi
((failed == 0)) || exit 1
echo "run-windows-build: ${#commands[@]} commands give the same output, status and state on Windows" \
  "(Wine start ${boot_seconds} s, commands ${wine_seconds} s)."
