#!/usr/bin/env bash
# Installs what is missing, builds Tovaro and runs its window program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DTOVARO_BUILD_TESTS=OFF -DTOVARO_BUILD_BENCH=OFF

# The window program. It keeps its settings beside itself, in build/app/tovaro.ini, and runs until its
# window is closed.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display to open the window on. Run it on a virtual one with: xvfb-run -a $0" >&2
  echo "or try the command-line front end: $root/build/cli/tovaro-cli --help" >&2
  exit 1
fi
exec "$root/build/app/tovaro"
