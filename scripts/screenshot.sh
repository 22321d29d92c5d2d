#!/usr/bin/env bash
# Makes docs/screenshot.png again: builds Tovaro, opens its window under a virtual X server with a sample
# settings file beside the program, and takes a picture of the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TOVARO_SETUP_EXTRA="xvfb xauth imagemagick x11-utils ${TOVARO_SETUP_EXTRA:-}" "$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DTOVARO_BUILD_TESTS=OFF -DTOVARO_BUILD_BENCH=OFF

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/build/app/tovaro" "$work/tovaro"
cat >"$work/tovaro.ini" <<'EOF'
[settings]
fromdir=/media/camera/DCIM/100PHOTO
todir=/home/me/Pictures/Holiday
EOF
mkdir -p "$root/docs"

# Inside the virtual display: start the program, wait for its window, let it paint, take the picture.
shoot='
  "$1/tovaro" &
  pid=$!
  id=""
  for _ in $(seq 100); do
    id=$(xwininfo -root -tree | awk "/\"Tovaro Utility\"/ { print \$1; exit }")
    [ -n "$id" ] && break
    sleep 0.1
  done
  status=1
  if [ -n "$id" ]; then
    sleep 1
    import -window "$id" "$2" && status=0
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  exit $status'
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$shoot" _ "$work" "$root/docs/screenshot.png"
echo "Wrote $root/docs/screenshot.png"
