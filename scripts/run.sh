#!/usr/bin/env bash
# Installs what is missing, builds Tovaro and runs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DTOVARO_BUILD_TESTS=OFF -DTOVARO_BUILD_BENCH=OFF

# A sample camera folder, moved by the command-line front end with the Number option.
sample=$(mktemp -d)
mkdir -p "$sample/camera" "$sample/computer"
printf 'picture one' >"$sample/camera/IMG_0001.JPG"
printf 'picture two' >"$sample/camera/IMG_0002.JPG"
printf 'a video' >"$sample/camera/CLIP0003.AVI"
printf 'not a picture' >"$sample/camera/notes.txt"
"$root/build/cli/tovaro-cli" --settings "$sample/tovaro.ini" --from "$sample/camera" --to "$sample/computer" --number=1
echo "Camera folder now:   $(ls "$sample/camera")"
echo "Computer folder now: $(ls "$sample/computer" | tr '\n' ' ')"
