#!/usr/bin/env bash
# The real program on a virtual X display (run under xvfb-run), driven with keys typed by xdotool: its
# boxes are real; a long transfer takes no key but Cancel and loses no picture.
# Usage: program_test.sh PROGRAM
set -euo pipefail
work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/.config QT_QPA_PLATFORM=xcb
cp "$1" "$work/tovaro"
fail() { echo "FAILED: $*" >&2; exit 1; }

# keys TITLE KEY...: types the keys into the window with this title once it is up. The search is repeated:
# it fails outright when a window it meets goes away meanwhile.
keys() {
  for _ in $(seq 300); do
    if xdotool search --onlyvisible --name "^$1\$" windowfocus --sync 2>/dev/null; then
      xdotool key --delay 150 "${@:2}" 2>/dev/null || true  # fails when a key closes the window
      return
    fi
    sleep 0.1
  done
  fail "no window $1"
}

# Sixteen pictures that take seconds to pack.
mkdir "$work/camera" "$work/computer"
letters=$(printf 'abcdefgh%.0s' $(seq 32))
for i in $(seq 10 25); do
  head -c 1048576 /dev/urandom | tr '\000-\377' "$letters" >"$work/camera/IMG_00$i.jpg"
done
pictures=$(ls "$work/camera")
# The settings go beside the program in a folder of the user's, else (as root) in the configuration folder.
mkdir -p "$XDG_CONFIG_HOME/tovaro"
printf '[settings]\nfromdir=%s\ntodir=%s\n' "$work/camera" "$work/computer" |
  tee "$XDG_CONFIG_HOME/tovaro/tovaro.ini" >"$work/tovaro.ini"

"$work/tovaro" --from /arguments/are/ignored &
pid=$!
keys "Tovaro Utility" shift+F10 a  # the About box, from the window menu
keys "About Tovaro" Escape
keys "Tovaro Utility" alt+s Return  # Send Files To Zip; OK
for _ in $(seq 200); do [ -e "$work/computer/ArchivePics.zip" ] && break; sleep 0.1; done
xdotool key Return Escape  # another OK, then Cancel, during the pass
keys tovaro Return         # what was done, once the pass has ended
for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || fail "the program ended with status $?"

# Enter started no second pass (which would put the archive aside as ArchivePics-1.zip); every picture is in
# the camera folder or in the archive, which is whole.
[ "$(ls "$work/computer")" = ArchivePics.zip ] || fail "the destination holds $(ls "$work/computer")"
unzip -tq "$work/computer/ArchivePics.zip" >/dev/null || fail "the archive is damaged"
kept=$({ ls "$work/camera"; unzip -Z1 "$work/computer/ArchivePics.zip" | sed 's|.*/||'; } | sort)
[ "$kept" = "$pictures" ] || fail "pictures lost: $(comm -23 <(echo "$pictures") <(echo "$kept"))"
echo "passed"
