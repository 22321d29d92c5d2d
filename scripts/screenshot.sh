#!/usr/bin/env bash
# Makes docs/screenshot.png, docs/about.png and docs/options.png again: builds Tovaro, opens its window under a virtual X server
# with a camera folder of pictures in a home folder of its own, opens the about box from the window's menu
# (Shift+F10, A) and takes a picture of it, then ticks "Send Files To Zip", presses OK and takes a picture of
# the window while the transfer runs. Esc stops the transfer and ends Tovaro. The Options dialog is drawn
# offscreen by a small program of its own, over settings of the README's example.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TOVARO_SETUP_EXTRA="xvfb xauth xdotool imagemagick x11-utils ${TOVARO_SETUP_EXTRA:-}" "$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/build/app/tovaro" "$work/tovaro"
mkdir -p "$work/home/Camera/DCIM/100CANON" "$work/home/Pictures/2026"
letters=$(printf 'abcdefghijklmnop%.0s' $(seq 16))
for i in $(seq 1001 1200); do  # pictures that take a while to pack
  head -c 2097152 /dev/urandom | tr '\000-\377' "$letters" >"$work/home/Camera/DCIM/100CANON/IMG_$i.JPG"
done
cat >"$work/tovaro.ini" <<'INI'
[settings]
fromdir=~/Camera/DCIM/100CANON
todir=~/Pictures/2026
INI
# Beside the program when its folder is the user's; run as root, in the user's configuration folder.
mkdir -p "$work/home/.config/tovaro"
cp "$work/tovaro.ini" "$work/home/.config/tovaro/tovaro.ini"
mkdir -p "$root/docs"

# Inside the virtual display: start the program, wait for a window, let it paint, take the pictures.
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
  env -u XDG_CONFIG_HOME HOME="$1/home" "$1/tovaro" &
  pid=$!
  status=1
  id=$(window "Tovaro Utility")
  if [ -n "$id" ]; then
    xdotool windowfocus --sync "$id" key --delay 200 shift+F10 a
    about=$(window "About Tovaro")
    if [ -n "$about" ]; then
      sleep 1
      import -window "$about" "$3" && status=0
      xdotool key Escape
    fi
    xdotool windowfocus --sync "$id" key --delay 200 alt+s Return
    sleep 1.5
    import -window "$id" "$2" || status=1
    xdotool key Escape
  fi
  wait "$pid" 2>/dev/null || status=1
  exit $status'
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$shoot" _ "$work" "$root/docs/screenshot.png" \
  "$root/docs/about.png"
echo "Wrote $root/docs/screenshot.png and $root/docs/about.png"

cmake --build "$root/build" --target tovaro_options_shot
cat >>"$work/home/.config/tovaro/tovaro.ini" <<'INI'
moveextensions=.bmp .gif .jpeg .jpg .avi .mpg .mpeg .wmv .heic .png .arw .cr2 .cr3 .dng .nef .nrw .orf .pef .raf .rw2 .srw .xmp .mp4 .mov .mts
zipextensions=.bmp .gif .jpeg .jpg .heic .png .arw .cr2 .cr3 .dng .nef .nrw .orf .pef .raf .rw2 .srw .xmp
recurse=1
datesource=capture
folders=%Y/%Y-%m-%d
eject=1
INI
QT_QPA_PLATFORM=offscreen "$root/build/app/tovaro_options_shot" "$work/home/.config/tovaro/tovaro.ini" \
  "$root/docs/options.png"
echo "Wrote $root/docs/options.png"
