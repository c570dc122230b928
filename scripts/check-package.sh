#!/usr/bin/env bash
# Installs the Debian package built in the given folder (default build/),
# runs the installed programs, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
package=$(ls "$build"/velkor_*.deb)
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$package"
trap 'DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq velkor' EXIT

velkor-cli --version
man -w velkor-cli velkor
velkor-cli --simulate ATmega8 signature >/dev/null
velkor-cli --simulate ATmega8 write /usr/share/doc/velkor/examples/blink.hex | tail -n 1 | grep -qx -- "---done.---"
QT_QPA_PLATFORM=offscreen velkor --version

trap - EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq velkor
if [[ -e /usr/bin/velkor-cli || -e /usr/share/man/man1/velkor-cli.1.gz ]]; then
  echo "apt-get remove left velkor's files behind" >&2
  exit 1
fi
echo "velkor package: installs, runs and removes cleanly"
