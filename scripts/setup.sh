#!/usr/bin/env bash
# Installs the Debian packages that Tovaro needs, when they are missing:
#   scripts/setup.sh run    what building and running the programs need
#   scripts/setup.sh test   that, and the tools of the test suite (the default)
# Uses sudo when not run as root. Safe to run again: installed packages are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config          # compiler and build
  zlib1g-dev libisal-dev qt6-base-dev libgl-dev  # the programs' libraries (ISA-L: fast compression)
  qt6-qpa-plugins                            # the window's display connection, a plugin that Qt loads
  libexiv2-dev                               # the capture date of Date of Photo
)
if [ "${1:-test}" = test ]; then
  packages+=(
    clang-format                               # the layout check of the test script
    googletest libgtest-dev libgmock-dev       # the test suite
    clang libclang-rt-14-dev                   # the fuzz target (libFuzzer)
    python3 unzip zip                          # independent ZIP readers for tests; zip for the benchmark
    libarchive-tools                           # bsdtar, one more independent ZIP reader
    7zip                                       # the archive benchmark's other two-thread archiver
    exiv2                                      # writes the capture dates of test pictures
    dbus                                       # a bus of the tests' own for the desktop's services
    xvfb xauth xdotool                         # the window program's own tests, on a virtual display
    desktop-file-utils appstream man-db        # install test: desktop entry, metadata, manual pages
    bash-completion dpkg-dev lintian           # install test: completion; the Debian package
  )
elif [ "$1" != run ]; then
  echo "usage: $0 [run|test]" >&2
  exit 2
fi
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
