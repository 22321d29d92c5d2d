#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks one part of what lands there.
#
#   install_test.sh BUILD_DIR desktop          the desktop entry, the icons and the README
#   install_test.sh BUILD_DIR PROGRAM BUILT    tovaro or tovaro-cli; BUILT is 1 when the build has it
#   install_test.sh BUILD_DIR deb "PROGRAMS"   the Debian package: its files, and its Depends for the
#                                              programs that the build has
#
# Exit status 0 passed, 1 failed, 77 skipped: only for what this build does not contain.
set -uo pipefail
build=$(cd "$1" && pwd)
part=$2
built=${3:-}
skipped=77

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    [ -n "${1:-}" ] && {
        echo "SKIP: $1"
        exit $skipped
    }
    echo "all checks passed"
    exit 0
}
need() {
    command -v "$1" >/dev/null || {
        echo "FAIL: $1 is not installed (scripts/setup.sh installs it)"
        exit 1
    }
}

if [ "$part" = tovaro ] || [ "$part" = tovaro-cli ]; then
    [ "$built" = 1 ] || finish "$part is not part of this build"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

# Width x height from a PNG's header chunk; empty when the file is no PNG.
png_size() {
    local bytes
    bytes=$(od -An -tx1 -N24 "$1" | tr -d ' \n')
    [ "${bytes:0:16}" = 89504e470d0a1a0a ] || return 0
    echo "$((16#${bytes:32:8}))x$((16#${bytes:40:8}))"
}

# The checks on an installed program, at $1.
check_program() {
    local exe=$1 name
    name=$(basename "$exe")
    if [ ! -f "$exe" ] || [ ! -x "$exe" ]; then
        fail "$name is not installed as an executable at $exe"
        return
    fi
    if ldd "$exe" | grep -q "not found"; then
        fail "$name needs libraries that are not found: $(ldd "$exe" | grep "not found" | tr -s ' \t' ' ')"
    fi
    if readelf -d "$exe" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
        fail "$name still looks for libraries in the build folder"
    fi
}

check_cli() {
    local exe=$prefix/bin/tovaro-cli out
    check_program "$exe"
    [ -x "$exe" ] || return
    out=$("$exe" --help 2>&1) || fail "tovaro-cli --help exited with status $?"
    grep -q -- "--from" <<<"$out" || fail "tovaro-cli --help does not describe --from: $out"

    # A real transfer by the installed program, keeping its counter in tovaro.ini beside itself.
    mkdir -p "$work/camera" "$work/computer"
    printf 'picture one' >"$work/camera/IMG_0001.JPG"
    "$exe" --from "$work/camera" --to "$work/computer" --number=5 >"$work/cli.out" 2>&1 ||
        fail "the installed tovaro-cli failed to move a picture: $(cat "$work/cli.out")"
    [ "$(cat "$work/computer/IMG_0001 -5.jpg" 2>/dev/null)" = "picture one" ] ||
        fail "the picture did not arrive as 'IMG_0001 -5.jpg': $(ls "$work/computer")"
    [ -e "$work/camera/IMG_0001.JPG" ] && fail "the picture is still in the camera folder"
    grep -qiE '^[[:space:]]*counter[[:space:]]*=[[:space:]]*6[[:space:]]*$' "$prefix/bin/tovaro.ini" 2>/dev/null ||
        fail "tovaro.ini beside the installed tovaro-cli does not hold counter=6"
}

check_window_program() {
    local exe=$prefix/bin/tovaro status
    check_program "$exe"
    [ -x "$exe" ] || return
    # The window runs until it is closed: started without a display of its own, it must still be up
    # (not crashed, not ended) when it is stopped a few seconds later.
    QT_QPA_PLATFORM=offscreen timeout -s TERM 5 "$exe" >"$work/gui.out" 2>&1
    status=$?
    [ $status -eq 124 ] || fail "the installed tovaro ended by itself (status $status): $(cat "$work/gui.out")"
}

check_desktop() {
    local entry=$prefix/share/applications/tovaro.desktop size icon
    need desktop-file-validate
    if [ -f "$entry" ]; then
        desktop-file-validate "$entry" || fail "desktop-file-validate rejects the installed entry"
        grep -qx 'Exec=tovaro' "$entry" || fail "the entry does not start tovaro"
        grep -qx 'Icon=tovaro' "$entry" || fail "the entry does not name the tovaro icon"
    else
        fail "no desktop entry at $entry"
    fi
    for size in 16 32 48 64 128 256; do
        icon=$prefix/share/icons/hicolor/${size}x${size}/apps/tovaro.png
        [ "$(png_size "$icon" 2>/dev/null)" = "${size}x${size}" ] ||
            fail "no ${size}x${size} PNG icon at $icon"
    done
    icon=$prefix/share/icons/hicolor/scalable/apps/tovaro.svg
    grep -q '<svg' "$icon" 2>/dev/null || fail "no scalable icon at $icon"
    [ -s "$prefix/share/doc/tovaro/README.md" ] || fail "the README is not installed"
}

# The Debian package owning a shared library, by any of the names a merged /usr gives it.
owner_of() {
    local lib=$1 path owner
    for path in "$lib" "$(readlink -f "$lib")" "/usr$lib" "${lib#/usr}"; do
        owner=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1) && [ -n "$owner" ] && {
            echo "$owner"
            return
        }
    done
}

check_deb() {
    local deb depends names contents program exe needed lib owner
    need dpkg-deb
    need dpkg-shlibdeps
    need cpack
    cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.out" 2>&1 || {
        fail "cpack -G DEB failed: $(tail -20 "$work/cpack.out")"
        return
    }
    local debs=("$work"/package/tovaro_*.deb)
    deb=${debs[0]}
    [ -f "$deb" ] || {
        fail "cpack wrote no tovaro_*.deb: $(ls "$work/package")"
        return
    }
    [ "$(dpkg-deb -f "$deb" Package)" = tovaro ] || fail "the package is not named tovaro"
    [ -n "$(dpkg-deb -f "$deb" Version)" ] || fail "the package has no version"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the package names no maintainer"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    contents=$(dpkg-deb -c "$deb")
    # The desktop entry and icons come with the window program's build only.
    if grep -q '^TOVARO_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
        for path in usr/share/applications/tovaro.desktop usr/share/icons/hicolor/32x32/apps/tovaro.png \
            usr/share/icons/hicolor/scalable/apps/tovaro.svg; do
            grep -q "\./$path\$" <<<"$contents" || fail "the package does not hold /$path"
        done
    fi
    [ -n "$built" ] || finish "no program is part of this build, so the package's Depends can't be checked"

    # Every shared library that a packed program links against directly must come with a package that
    # Depends names (what those libraries need in turn, their own packages declare).
    names=$(tr ',|' '\n' <<<"$depends" | sed 's/(.*//' | tr -d ' ')
    dpkg-deb -x "$deb" "$work/root"
    for program in $built; do
        exe=$work/root/usr/bin/$program
        [ -x "$exe" ] || {
            fail "the package does not hold /usr/bin/$program"
            continue
        }
        for needed in $(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            lib=$(ldd "$exe" | awk -v n="$needed" '$1 == n && $2 == "=>" {print $3}')
            owner=$([ -n "$lib" ] && owner_of "$lib")
            [ -n "$owner" ] || {
                fail "$program needs $needed, which no installed package holds"
                continue
            }
            grep -qxF "$owner" <<<"$names" || fail "$program needs $needed of $owner, which Depends does not name"
        done
    done
    if [[ " $built " == *" tovaro "* ]]; then
        grep -qxF qt6-qpa-plugins <<<"$names" || fail "Depends does not name qt6-qpa-plugins"
    fi
}

if [ "$part" = deb ]; then
    check_deb
    finish
fi

need cmake
cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || {
    echo "FAIL: cmake --install: $(cat "$work/install.out")"
    exit 1
}
case $part in
desktop) check_desktop ;;
tovaro) check_window_program ;;
tovaro-cli) check_cli ;;
*)
    echo "unknown part: $part"
    exit 2
    ;;
esac
finish
