#!/usr/bin/env bash
# accessibility.sh VELMORA2ADD VELMORA2_INIT
# The real program in its own Xvfb and its own session bus, with the AT-SPI
# registry that a screen reader talks to; accessibility_walk.py reads the
# window through it.
set -euo pipefail
app=$1
init=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/xvfb_session.sh"

tmp=$(mktemp -d)
cleanup() {
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

collection=$tmp/collection
mkdir -p "$collection" "$tmp/sources"
cp "$app" "$init" "$collection/"
"$collection/velmora2-init" "$collection" >/dev/null
# A setup file whose copy takes long enough to change the caption many times
# a second; zeros are written like any data, never left as a hole.
head -c $((512 << 20)) /dev/zero >"$tmp/sources/setup.exe"
head -c 70001 /dev/urandom >"$tmp/sources/picture.bmp"

start_xvfb "$tmp"
# Debian's Python, which holds pyatspi, whatever python3 comes first in PATH.
status=0
dbus-run-session -- /usr/bin/python3 "$here/accessibility_walk.py" \
    "$collection/$(basename "$app")" "$tmp/sources/setup.exe" "$tmp/sources/picture.bmp" \
    "$collection" || status=$?
if [[ $status != 0 && -s $tmp/app.log ]]; then
    echo "--- program output:" >&2
    cat "$tmp/app.log" >&2
fi
exit "$status"
