#!/usr/bin/env bash
# Installs a build and checks what lands there, as a user and a distribution would see it.
#
#   install_test.sh BUILD_DIR prefix   into a temporary prefix: the programs, run by a user who may not write
#                                      beside them; manual pages, completion, desktop entry, icons, metadata
#   install_test.sh BUILD_DIR deb      the Debian package: its files, Depends, maintainer, lintian
set -uo pipefail
build=$(cd "$1" && pwd)
part=$2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
gui=$(grep -q '^TOVARO_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt" && echo 1)
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
need() {
    for tool; do command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"; done
    [ "$failures" -eq 0 ] || exit 1
}
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; chmod -R u+w "$work"; rm -rf "$work"' EXIT
xvfb=
prefix=$work/prefix
bin=$prefix/bin

# Runs a command as a user who may not write to the installed programs: nobody, or where the test is
# not root, this user with the programs' folder made read-only. HOME is the user's own.
root=$([ "$(id -u)" = 0 ] && echo 1)
as_user() { ${root:+setpriv --reuid=65534 --regid=65534 --clear-groups} env -u XDG_CONFIG_HOME HOME="$work/home" "$@"; }
cli() {
    as_user "$bin/tovaro-cli" --from "$work/camera" --to "$work/computer" "$@" >"$work/cli.out" 2>&1 ||
        fail "tovaro-cli $*: $(cat "$work/cli.out")"
}
counter_is() { grep -qx "counter=$2" "$1" 2>/dev/null || fail "$1 does not hold counter=$2"; }
arrived() {
    for _ in $(seq 100); do [ -e "$work/computer/$1" ] && return || sleep 0.2; done
    fail "$1 did not arrive: $(ls "$work/computer") $(cat "$work/cli.out" "$work/gui.out" 2>/dev/null)"
}

# The window of the installed program, on a virtual display, as the user: Number (Alt+M) loads the saved
# counter and OK (Enter) moves the picture between the saved folders; Esc closes the window.
run_window() {
    local display window program
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break || sleep 0.1; done
    display=:$(cat "$work/display")
    as_user env DISPLAY="$display" QT_QPA_PLATFORM=xcb "$bin/tovaro" >"$work/gui.out" 2>&1 &
    program=$!
    window=$(DISPLAY=$display timeout 30 xdotool search --sync --onlyvisible --name '^Tovaro Utility$' | head -1)
    [ -n "$window" ] || fail "the installed tovaro showed no window: $(cat "$work/gui.out")"
    DISPLAY=$display xdotool windowfocus --sync "$window" key --delay 150 alt+m Return
    arrived "$1"
    DISPLAY=$display xdotool key Escape
    timeout 20 tail --pid=$program -f /dev/null || fail "the installed tovaro did not end when its window closed"
}

check_settings() {
    local ini=$work/home/.config/tovaro/tovaro.ini next=42
    mkdir -p "$work/home" "$work/camera" "$work/computer"
    if [ -n "$root" ]; then
        # Not even root writes beside a program in a root-owned folder.
        printf 1 >"$work/camera/IMG_0000.JPG"
        env -u XDG_CONFIG_HOME HOME="$work/root" "$bin/tovaro-cli" --from "$work/camera" --to "$work/computer" \
            --number=1 >/dev/null
        counter_is "$work/root/.config/tovaro/tovaro.ini" 2
        chmod 755 "$work" && chown -R 65534:65534 "$work/home" "$work/camera" "$work/computer"
    else
        chmod a-w "$bin"
    fi
    printf 1 >"$work/camera/IMG_0001.JPG"
    cli --number=41
    arrived "IMG_0001 -41.jpg"
    counter_is "$ini" 42
    if [ -n "$gui" ]; then
        printf 'fromdir=%s\ntodir=%s\n' "$work/camera" "$work/computer" >>"$ini"
        printf 2 >"$work/camera/IMG_0002.JPG"
        run_window "IMG_0002 -42.jpg"
        next=43
    fi
    printf 3 >"$work/camera/IMG_0003.JPG"
    cli --number
    arrived "IMG_0003 -$next.jpg"
    counter_is "$ini" $((next + 1))
    [ "$(ls "$bin" | tr '\n' ' ')" = "${gui:+tovaro }tovaro-cli " ] || fail "written beside the programs: $(ls "$bin")"
}

# What bash completion offers for the words of $1, the last one being typed, in a folder with a DCIM
# folder and a Diary.txt file.
completions() {
    mkdir -p "$work/pick/DCIM" && touch "$work/pick/Diary.txt"
    (cd "$work/pick" && BASH_COMPLETION_USER_DIR=$prefix/share/bash-completion PATH=$bin:$PATH bash -c '
        source /usr/share/bash-completion/bash_completion && __load_completion tovaro-cli || exit 1
        read -ra COMP_WORDS <<<"$1"
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1}
        $(complete -p tovaro-cli | sed "s/.*-F \([^ ]*\).*/\1/") tovaro-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        echo "${COMPREPLY[@]}"' _ "$1")
}

check_prefix() {
    local page rendered option size
    need cmake man appstreamcli desktop-file-validate setpriv ${gui:+Xvfb xdotool}
    cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || fail "cmake --install: $(cat "$work/install.out")"
    check_settings
    [ "$("$bin/tovaro-cli" --version | head -1)" = "tovaro-cli (Tovaro) $version" ] || fail "tovaro-cli --version"

    for page in ${gui:+tovaro} tovaro-cli; do  # tovaro-cli last: its page is checked below
        rendered=$(LC_ALL=C MANWIDTH=200 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>"$work/man.err")
        [ -s "$work/man.err" ] && fail "$page(1) renders with warnings: $(cat "$work/man.err")"
        for option in NAME SYNOPSIS OPTIONS NAMING ARCHIVE FILES "EXIT STATUS" EXAMPLES; do
            grep -q "^$option" <<<"$rendered" || fail "$page(1) has no section $option"
        done
    done
    for option in $("$bin/tovaro-cli" --help | grep -oE '^ +(-[a-zA-Z], )?--[a-z-]+' | grep -oE -- '-[a-zA-Z-]+'); do
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$rendered" || fail "tovaro-cli(1) does not describe $option"
    done

    [ "$(completions 'tovaro-cli --ver')" = --version ] || fail "completion of --ver: $(completions 'tovaro-cli --ver')"
    [ "$(completions 'tovaro-cli --from D')" = DCIM ] || fail "completion after --from: $(completions 'tovaro-cli --from D')"

    [ -n "$gui" ] || return
    appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >"$work/as.out" ||
        fail "appstreamcli rejects the metainfo: $(cat "$work/as.out")"
    grep -q "<release version=\"$version\"" "$prefix"/share/metainfo/*.metainfo.xml || fail "no release $version in the metainfo"
    desktop-file-validate "$prefix/share/applications/tovaro.desktop" || fail "desktop-file-validate rejects the entry"
    for size in 16 32 48 64 128 256; do
        file "$prefix/share/icons/hicolor/${size}x${size}/apps/tovaro.png" | grep -q "PNG image data, $size x $size" ||
            fail "no ${size}x${size} icon"
    done
    grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/tovaro.svg" || fail "no scalable icon"
}

check_deb() {
    local deb path depends package contents
    need cpack dpkg-deb dpkg-parsechangelog lintian
    cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.out" 2>&1 || fail "cpack: $(tail -20 "$work/cpack.out")"
    deb=$(ls "$work"/package/tovaro_*.deb) || return
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
    [ "$(dpkg-deb -f "$deb" Maintainer)" = "$(sed -n 's/^TOVARO_PACKAGE_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")" ] ||
        fail "the package's maintainer is not the build's TOVARO_PACKAGE_MAINTAINER"
    contents=$(dpkg-deb -c "$deb")
    for path in bin/tovaro-cli share/man/man1/tovaro-cli.1.gz share/bash-completion/completions/tovaro-cli \
        share/doc/tovaro/copyright share/doc/tovaro/changelog.gz ${gui:+bin/tovaro share/man/man1/tovaro.1.gz \
        share/applications/tovaro.desktop share/metainfo/org.example.tovaro.metainfo.xml}; do
        grep -q "\./usr/$path\$" <<<"$contents" || fail "the package does not hold /usr/$path"
    done
    dpkg-deb -x "$deb" "$work/root"
    [ "$(zcat "$work/root/usr/share/doc/tovaro/changelog.gz" | dpkg-parsechangelog -l- -S Version)" = "$version" ] ||
        fail "the changelog's first entry is not $version"
    depends=$(dpkg-deb -f "$deb" Depends)
    for package in libc6 zlib1g ${gui:+libqt6widgets6 qt6-qpa-plugins}; do
        grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends does not name $package: $depends"
    done
    lintian --fail-on error "$deb" || fail "lintian finds errors in the package"
}

case $part in
prefix) check_prefix ;;
deb) check_deb ;;
*) fail "unknown part: $part" ;;
esac
[ "$failures" -eq 0 ] && echo "all checks passed" || echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
