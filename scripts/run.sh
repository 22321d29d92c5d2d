#!/usr/bin/env bash
# Installs what is missing, builds Tovaro and runs its window program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" run
"$root/scripts/build.sh" "$root/build" -DTOVARO_BUILD_TESTS=OFF -DTOVARO_BUILD_BENCH=OFF

# The window program, which runs until its window is closed. It keeps its settings beside itself, in
# build/app/tovaro.ini, when the build folder is yours and not root's; otherwise in
# ~/.config/tovaro/tovaro.ini.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display to open the window on. Run it on a virtual one (package xvfb) with: xvfb-run -a $0" >&2
  echo "or try the command-line front end: $root/build/cli/tovaro-cli --help" >&2
  exit 1
fi
exec "$root/build/app/tovaro"
