#!/usr/bin/env bash
# add_through_x.sh VELMORA2ADD VELMORA2_INIT
# The real program, copied with a fresh collection into a temporary folder and
# driven by real X input in its own Xvfb: one entry typed and added, the row
# and both copied files checked, then "Izlaz" must end it with status 0. The
# collection's folder name is not UTF-8, and the folder is renamed while the
# window is open, with another collection put in its old place: the add must
# follow the program to its new place.
set -euo pipefail
app=$1
init=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/xvfb_session.sh"

tmp=$(mktemp -d)
app_pid=
cleanup() {
    [[ -n $app_pid ]] && stop_process "$app_pid"
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [[ -s $tmp/app.log ]]; then
        echo "--- program output:" >&2
        cat "$tmp/app.log" >&2
    fi
    exit 1
}

# The collection carries its own program, as an installed one does.
collection=$tmp/$'Zbirka \xe8\xff'
mkdir -p "$collection" "$tmp/sources"
cp "$app" "$collection/Velmora2ADD"
cp "$init" "$collection/velmora2-init"
"$collection/velmora2-init" "$collection"

# Sources larger than one copy chunk, with unlike contents.
head -c 300007 /dev/urandom >"$tmp/sources/setup-1.exe"
head -c 70001 /dev/urandom >"$tmp/sources/picture 1.bmp"

program="Arhiver O'Neil 2"
opis="Sažima datoteke; radi brzo"
category=CDDVD
source_path=$tmp/sources/setup-1.exe
picture_path="$tmp/sources/picture 1.bmp"

start_xvfb "$tmp"
# Give "ž" a key of its own before the program reads the keyboard map, so that
# xdotool need not remap a key while typing (a remap can race the program).
xmodmap -e "keycode 254 = zcaron Zcaron"
"$collection/Velmora2ADD" >"$tmp/app.log" 2>&1 &
app_pid=$!

wid=$(find_window 30 "Velmora 2.0 ADD New Program") || true
[[ -n $wid ]] || fail "the window did not appear"

# Without a window manager the X window is the client area; scale the layout's
# pixel positions by the window's actual width in case Qt scales for DPI.
eval "$(xdotool getwindowgeometry --shell "$wid")"
[[ $WIDTH -ge 281 && $HEIGHT -ge 281 ]] || fail "window is ${WIDTH}x${HEIGHT}"

old_place=$collection
collection=$tmp/moved
mv "$old_place" "$collection"
mkdir "$old_place"
"$collection/velmora2-init" "$old_place"

xdotool windowfocus --sync "$wid" 2>/dev/null || true
# Centres of the controls, in client-area pixels.
type_into 140 34 "$program"         # Program
type_into 140 74 "$opis"            # Opis
type_into 124 130 "$source_path"    # Source
type_into 124 170 "$picture_path"   # Slika
click 140 260                       # Dodaj

db=$collection/Velmora2.db
rows() { sqlite3 -readonly "$db" "SELECT count(*) FROM CD;"; }
one_row() { [[ $(rows) == 1 ]]; }
wait_until 30 one_row || fail "no row in CD after Dodaj (rows: $(rows))"

hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F'; }
column_hex() { sqlite3 -readonly "$db" "SELECT hex($1) FROM CD;"; }
[[ $(column_hex Kategorija) == "$(hex "$category")" ]] ||
    fail "Kategorija is '$(sqlite3 -readonly "$db" 'SELECT Kategorija FROM CD;')'"
[[ $(column_hex Program) == "$(hex "$program")" ]] ||
    fail "Program is '$(sqlite3 -readonly "$db" 'SELECT Program FROM CD;')'"
[[ $(column_hex Opis) == "$(hex "$opis")" ]] ||
    fail "Opis is '$(sqlite3 -readonly "$db" 'SELECT Opis FROM CD;')'"

# The add has returned once the caption shows the setup copy's last percentage.
caption() { xdotool getwindowname "$wid" 2>/dev/null; }
add_finished() { [[ $(caption) == "100% Complete" ]] && [[ -f $folder/Setup.exe ]]; }
folder=$collection/Programi/$program
wait_until 30 add_finished || fail "add did not finish (caption '$(caption)')"
cmp "$picture_path" "$folder/Picture.bmp" || fail "Picture.bmp differs from the picture"
cmp "$source_path" "$folder/Setup.exe" || fail "Setup.exe differs from the setup file"
[[ $(rows) == 1 ]] || fail "expected one row, found $(rows)"
[[ $(sqlite3 -readonly "$old_place/Velmora2.db" "SELECT count(*) FROM CD;") == 0 ]] ||
    fail "the add wrote into the collection put in the old place"
[[ -z $(ls -A "$old_place/Programi") ]] || fail "files went to the old place"

click 232 260                       # Izlaz
ended() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_until 20 ended || fail "the program did not end after Izlaz"
status=0
wait "$app_pid" || status=$?
app_pid=
[[ $status == 0 ]] || fail "exit status $status after Izlaz"
echo "PASS: row stored and both files copied in the renamed collection, Izlaz ended with status 0"
