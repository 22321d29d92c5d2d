#!/usr/bin/env bash
# Installs a build and checks what lands there, as a user and a distribution would see it.
#
#   install_test.sh BUILD_DIR prefix   into a temporary prefix: tovaro-cli, run by a user who may not write
#                                      beside them; manual pages, completion, desktop entry, icons, metadata
#   install_test.sh BUILD_DIR deb      the Debian package: version, maintainer, changelog, Depends, lintian,
#                                      and the same files as in the prefix
set -uo pipefail
build=$(cd "$1" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
maintainer=$(sed -n 's/^TOVARO_PACKAGE_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")
gui=$(grep -q '^TOVARO_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt" && echo 1)
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
# What the two parts use; scripts/setup.sh installs it.
for tool in cmake cpack dpkg-deb dpkg-parsechangelog lintian man appstreamcli desktop-file-validate setpriv exiv2; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
[ "$failures" -eq 0 ] || exit 1
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
prefix=$work/prefix
bin=$prefix/bin
ini=$work/home/.config/tovaro/tovaro.ini

# Runs a command as a user who may not write to the installed programs, with a HOME of the user's own:
# nobody, or where the test is not root, this user with the programs' folder made read-only.
root=$([ "$(id -u)" = 0 ] && echo 1)
user=${root:+setpriv --reuid=65534 --regid=65534 --clear-groups}
as_user() { $user env -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME="$work/home" "$@"; }
# cli NAME COUNTER ARGS...: tovaro-cli moves the camera folder's picture into the user's folder as NAME, and
# the user's settings then hold counter=COUNTER.
cli() {
    as_user "$bin/tovaro-cli" --from "$work/camera" --to "$work/computer" "${@:3}" >"$work/cli.out" 2>&1 &&
        [ -e "$work/computer/$1" ] || fail "tovaro-cli ${*:3} did not move $1: $(cat "$work/cli.out")"
    grep -qx "counter=$2" "$ini" 2>/dev/null || fail "$ini does not hold counter=$2"
}

# Installs into a root-owned prefix (or one made read-only) and runs tovaro-cli from it as the user: the
# counter is kept in the user's own settings, and nothing is written beside the programs. (The window finds
# its settings file by the same rule; program_test.sh runs it on a display.)
check_install() {
    cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || fail "cmake --install: $(cat "$work/install.out")"
    mkdir -p "$work/home" "$work/camera" "$work/computer"
    [ -n "$root" ] || chmod a-w "$bin"
    printf 1 >"$work/camera/IMG_0001.JPG"
    # The first run is made by whoever runs the test: root, too, must not write beside a program in a root-owned
    # folder. The user then takes over the home and the folders.
    user= cli "IMG_0001 -41.jpg" 42 --number=41
    [ -z "$root" ] || { chmod 755 "$work" && chown -R 65534:65534 "$work/home" "$work/camera" "$work/computer"; }
    printf 3 >"$work/camera/IMG_0003.JPG"
    cli "IMG_0003 -42.jpg" 43 --number
    # The capture date is read by the installed helper program.
    printf '\xff\xd8\xff\xd9' >"$work/camera/IMG_0004.JPG"
    exiv2 -M'set Exif.Photo.DateTimeOriginal 2021:06:15 12:00:00' "$work/camera/IMG_0004.JPG"
    cli "IMG_0004 -061521.jpg" 43 --date --date-from capture
    [ "$(ls "$bin" | tr '\n' ' ')" = "${gui:+tovaro }tovaro-cli " ] || fail "written beside the programs: $(ls "$bin")"
    # A settings file beside the programs that may be written is theirs, whoever owns the folder: root's, for a
    # copy that root unpacked; or the tester's own, made read-only, where the counter is changed in place.
    chmod u+w "$bin"
    printf '[settings]\ncounter=50\n' >"$bin/tovaro.ini"
    [ -n "$root" ] || chmod a-w "$bin"
    cp "$ini" "$work/own.ini"
    printf 4 >"$work/camera/IMG_0004.JPG"
    ini=$bin/tovaro.ini user= cli "IMG_0004 -50.jpg" 51 --number
    cmp -s "$ini" "$work/own.ini" || fail "the user's own settings were written: $(cat "$ini")"
}

# completes WORDS OFFER: bash completion offers OFFER for tovaro-cli WORDS, the last word being typed, in a
# folder with a DCIM folder and a Diary.txt file.
completes() {
    local got
    mkdir -p "$work/pick/DCIM" && touch "$work/pick/Diary.txt"
    got=$(cd "$work/pick" && BASH_COMPLETION_USER_DIR=$prefix/share/bash-completion PATH=$bin:$PATH bash -c '
        source /usr/share/bash-completion/bash_completion && __load_completion tovaro-cli || exit 1
        read -ra COMP_WORDS <<<"$1"
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1}
        $(complete -p tovaro-cli | sed "s/.*-F \([^ ]*\).*/\1/") tovaro-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        echo "${COMPREPLY[@]}"' _ "tovaro-cli $1")
    [ "$got" = "$2" ] || fail "tovaro-cli $1<Tab> gives \"$got\", not $2"
}

# What a user and a desktop find of the programs installed under $prefix.
check_files() {
    local page rendered option
    [ "$("$bin/tovaro-cli" --version | head -1)" = "tovaro-cli (Tovaro) $version" ] || fail "tovaro-cli --version"
    [ -x "$prefix/lib/tovaro/tovaro-capture-date" ] || fail "no helper program in $prefix/lib/tovaro"
    for page in ${gui:+tovaro} tovaro-cli; do  # tovaro-cli last: its page is checked below
        rendered=$(LC_ALL=C MANWIDTH=200 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>"$work/man.err")
        [ -s "$work/man.err" ] && fail "$page(1) renders with warnings: $(cat "$work/man.err")"
        [ "$(grep -cxE 'NAME|SYNOPSIS|OPTIONS|NAMING|ARCHIVE|FILES|EXIT STATUS|EXAMPLES' <<<"$rendered")" = 8 ] ||
            fail "$page(1) lacks one of those eight sections"
    done
    for option in $("$bin/tovaro-cli" --help | grep -oE '^ +(-[a-zA-Z], )?--[a-z-]+' | grep -oE -- '-[a-zA-Z-]+'); do
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$rendered" || fail "tovaro-cli(1) does not describe $option"
    done

    completes --ver --version
    completes '--from D' DCIM
    completes '--date-from c' capture

    [ -n "$gui" ] || return 0
    appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >"$work/as.out" ||
        fail "appstreamcli rejects the metainfo: $(cat "$work/as.out")"
    desktop-file-validate "$prefix/share/applications/tovaro.desktop" || fail "desktop-file-validate rejects the entry"
}

# The package holds what the prefix install does, under /usr: the same checks, on its unpacked files.
check_deb() {
    local deb
    cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.out" 2>&1 || fail "cpack: $(tail -20 "$work/cpack.out")"
    deb=$(ls "$work"/package/tovaro_*.deb) || return
    [ "$(dpkg-deb -f "$deb" Version Maintainer | tr '\n' '|')" = "Version: $version|Maintainer: $maintainer|" ] ||
        fail "the package's version and maintainer are not $version and the build's: $(dpkg-deb -f "$deb" Maintainer)"
    dpkg-deb -x "$deb" "$work/deb"
    prefix=$work/deb/usr bin=$work/deb/usr/bin check_files
    [ "$(zcat "$work/deb/usr/share/doc/tovaro/changelog.gz" | dpkg-parsechangelog -l- -S Version)" = "$version" ] ||
        fail "the changelog's first entry is not $version"
    # lintian sees a missing copyright file or dependency on a shared library; not the display plugin Qt loads.
    [ -z "$gui" ] || dpkg-deb -f "$deb" Depends | grep -qw qt6-qpa-plugins || fail "Depends does not name qt6-qpa-plugins"
    lintian --fail-on error "$deb" || fail "lintian finds errors in the package"
}

case $2 in
prefix) check_install; check_files ;;
deb) check_deb ;;
*) fail "unknown part: $2" ;;
esac
echo "$failures check(s) failed" && [ "$failures" -eq 0 ]
