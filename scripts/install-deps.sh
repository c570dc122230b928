#!/usr/bin/env bash
# Installs the Debian packages that building and testing Velkor needs, only
# those that are missing; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config binutils
  qt6-base-dev libcli11-dev nlohmann-json3-dev libelf-dev
  gcc-avr avr-libc binutils-avr
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64 wine64
  fonts-ipafont-gothic
  lintian man-db bash-completion
  clang-format python3
  librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
