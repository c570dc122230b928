#!/usr/bin/env bash
# Installs the Debian package built in the given folder (default build/) on a
# machine without the window's font, checks that the font comes along, runs
# the installed programs, and removes the package again. The font stays
# installed (marked as installed by hand): the window's tests need it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
package=$(ls "$build"/velkor_*.deb)
font=fonts-ipafont-gothic
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
apt_get() { DEBIAN_FRONTEND=noninteractive $sudo apt-get "$@"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
restore() {
  apt_get remove -y -qq velkor || true
  apt_get install -y -qq --no-install-recommends "$font"
}

# A fresh desktop: the font is not there. dpkg refuses, and so stops the
# check, if any installed package depends on it.
if installed "$font"; then
  $sudo dpkg --purge "$font"
fi
trap restore EXIT

apt_get install -y -qq "./$package"
if ! installed "$font"; then
  echo "installing velkor did not install $font" >&2
  exit 1
fi
fc-list IPAGothic | grep -q . || { echo "the face IPAGothic is not installed" >&2; exit 1; }

dpkg-deb -f "$package" Depends | grep -q 'libelf1' || { echo "the package does not depend on libelf1" >&2; exit 1; }
for file in /usr/share/bash-completion/completions/velkor-cli /usr/share/velkor/arduino/platform.local.txt \
    /usr/share/velkor/arduino/programmers.txt; do
  [[ -r $file ]] || { echo "the package did not install $file" >&2; exit 1; }
done
velkor-cli --version
man -w velkor-cli velkor
man -w 5 velkor-chips
velkor-cli --simulate ATmega8 signature >/dev/null
velkor-cli --simulate ATmega8 write /usr/share/doc/velkor/examples/blink.hex | tail -n 1 | grep -qx -- "---done.---"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM velkor --version

trap - EXIT
restore
if [[ -e /usr/bin/velkor-cli || -e /usr/share/man/man1/velkor-cli.1.gz ]]; then
  echo "apt-get remove left velkor's files behind" >&2
  exit 1
fi
echo "velkor package: installs with its font, runs and removes cleanly"
