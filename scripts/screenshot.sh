#!/usr/bin/env bash
# Makes docs/screenshot.png and docs/about.png again: builds Tovaro, opens its window under a virtual X server
# with a sample settings file beside the program, takes a picture of the window, then opens the about box
# from the window's menu (Shift+F10, A) and takes a picture of that.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TOVARO_SETUP_EXTRA="xvfb xauth xdotool imagemagick x11-utils ${TOVARO_SETUP_EXTRA:-}" "$root/scripts/setup.sh"
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

# Inside the virtual display: start the program, wait for its window, let it paint, take the picture; then
# the same for the about box.
shoot='
  window() {
    local id=""
    for _ in $(seq 100); do
      id=$(xwininfo -root -tree | awk -v t="\"$1\":" "index(\$0, t) { print \$1; exit }")
      [ -n "$id" ] && break
      sleep 0.1
    done
    echo "$id"
  }
  "$1/tovaro" &
  pid=$!
  status=1
  id=$(window "Tovaro Utility")
  if [ -n "$id" ]; then
    sleep 1
    import -window "$id" "$2" && status=0
    xdotool windowfocus --sync "$id" key --delay 200 shift+F10 a
    about=$(window "About Tovaro")
    if [ -n "$about" ]; then
      sleep 1
      import -window "$about" "$3" || status=1
    else
      status=1
    fi
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  exit $status'
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$shoot" _ "$work" "$root/docs/screenshot.png" \
  "$root/docs/about.png"
echo "Wrote $root/docs/screenshot.png and $root/docs/about.png"
