#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tovaro need, when they are missing.
# Uses sudo when not run as root. Safe to run again: installed packages are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config          # compiler and build
  clang-format                               # the layout check of the test script
  zlib1g-dev qt6-base-dev libgl-dev          # the program's libraries
  libexiv2-dev                               # the capture date of Date of Photo
  googletest libgtest-dev libgmock-dev       # the test suite
  clang libclang-rt-14-dev                   # the fuzz target (libFuzzer)
  python3 unzip zip                          # independent ZIP readers for tests; zip for the benchmark
  exiv2                                      # writes the capture dates of test pictures
  desktop-file-utils dpkg-dev file           # install test and Debian package
  xvfb xauth xdotool                         # the window program's own test, on a virtual display
)
if [ "${TOVARO_SETUP_EXTRA:-}" != "" ]; then
  read -r -a extra <<<"$TOVARO_SETUP_EXTRA"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
