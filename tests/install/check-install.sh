#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the tree as a desktop, a software centre
# and a user at a terminal read it.
# check-install.sh CMAKE BUILD_DIR APP_ID
set -euo pipefail
cmake=$1 build=$2 id=$3
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for program in moonrake moonrake-cli moonrake-server; do
    # Empty environment for the profile: --help must not need a profile or a display.
    help="$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$program" --help)" ||
        fail "$program --help exited with $?"
    [[ "$help" == "Usage: "* ]] || fail "$program --help printed: $help"
    page="$prefix/share/man/man1/$program.1"
    [ -s "$page" ] || fail "no manual page for $program"
    # Every option the help names is on the page.
    for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
        grep -q -- "${option//-/\\\\-}" "$page" || fail "$page lacks $option"
    done
done

desktop="$prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
grep -qx "Icon=$id" "$desktop" || fail "the menu entry names another icon"
# Qt gives the window the class of the application's name.
grep -qx "StartupWMClass=Moonrake" "$desktop" || fail "StartupWMClass is not the window's class"

appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "appstreamcli validate $id.metainfo.xml"

for size in 16 22 24 32 48 64 128 256 512; do
    [ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" ] || fail "no ${size}px icon"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
[ -s "$prefix/share/moonrake/welcome.rtf" ] || fail "no welcome page for the registration wizard"

unit="$prefix/lib/systemd/system/moonrake-server.service"
grep -qx "ExecStart=$prefix/bin/moonrake-server --data /var/lib/moonrake-server \$MOONRAKE_SERVER_ARGS" \
    "$unit" || fail "the service does not start $prefix/bin/moonrake-server"
echo "installed tree checked"
