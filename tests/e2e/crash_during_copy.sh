#!/usr/bin/env bash
# crash_during_copy.sh VELMORA2ADD VELMORA2_INIT [END]
# The real program ended in the middle of a 1 GiB copy over an existing
# Setup.exe, by END: KILL (SIGKILL, the default), TERM, HUP, INT or QUIT (the
# signal), or DISPLAY (the X server goes away). The previous file must be intact, the
# catalogue sound, and nothing left behind: after SIGKILL only where the file
# system has unnamed temporary files, after the others everywhere, since the
# program cancels the copy and removes its own temporary file before it ends.
# After SIGKILL, velmora2-init must remove a named temporary file the kill left.
# The next add of the same name must succeed and leave no temporary file.
set -euo pipefail
app=$1
init=$2
end=${3:-KILL}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/xvfb_session.sh"

tmp=$(mktemp -d "${VELMORA_CRASH_TMP:-/tmp}/velmora-crash-XXXXXX")
app_pid=
cleanup() {
    [[ -n $app_pid ]] && stop_process "$app_pid"
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    ls -la "$folder" >&2 || true
    exit 1
}

collection=$tmp/collection
mkdir -p "$collection" "$tmp/sources"
cp "$app" "$collection/Velmora2ADD"
"$init" "$collection"

program=Big
folder=$collection/Programi/$program
mkdir -p "$folder"
head -c 1000003 /dev/urandom >"$folder/Setup.exe"
head -c 1001 /dev/urandom >"$folder/Picture.bmp"
cp "$folder/Setup.exe" "$tmp/previous-setup.exe"
head -c 1001 /dev/urandom >"$tmp/sources/picture.bmp"
head -c 4099 /dev/urandom >"$tmp/sources/small-setup.exe"
# 1 GiB of data that no file system can share or compress away.
head -c 1073741824 /dev/urandom >"$tmp/sources/big-setup.exe"

start_xvfb "$tmp"

# start_and_add SETUP: starts the program, enters the program "Big" with SETUP
# and the picture, and clicks "Dodaj". Sets wid and app_pid.
start_and_add() {
    # A shell without job control starts a command in the background with
    # SIGINT and SIGQUIT ignored, which the program then keeps ignoring;
    # Ctrl-C and Ctrl-\ in a terminal reach a program started in its foreground.
    env --default-signal=INT,QUIT "$collection/Velmora2ADD" >>"$tmp/app.log" 2>&1 &
    app_pid=$!
    wid=$(find_window 30 "Velmora 2.0 ADD New Program") || true
    [[ -n $wid ]] || fail "the window did not appear"
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    type_into 140 34 "$program"
    type_into 140 74 "crash test"
    type_into 124 130 "$1"
    type_into 124 170 "$tmp/sources/picture.bmp"
    click 140 260
}
caption() { xdotool getwindowname "$wid" 2>/dev/null || true; }

# Kill it once the picture is in place and the setup copy is under way.
start_and_add "$tmp/sources/big-setup.exe"
setup_copy_running() {
    cmp -s "$tmp/sources/picture.bmp" "$folder/Picture.bmp" &&
        [[ $(caption) =~ ^([1-9]|[1-8][0-9])%\ Complete$ ]]
}
wait_until 120 setup_copy_running || fail "never saw the setup copy under way ($(caption))"
seen=$(caption)
if [[ $end == DISPLAY ]]; then
    stop_xvfb
else
    kill -"$end" "$app_pid"
fi
if [[ $end == KILL ]]; then
    wait "$app_pid" 2>/dev/null || true
else
    # It cancels the copy and ends on its own; until reaped it is a zombie.
    app_ended() {
        local state
        state=$(ps -o stat= -p "$app_pid" 2>/dev/null) || return 0
        [[ $state == Z* ]]
    }
    wait_until 60 app_ended || fail "it did not end after $end"
    status=0
    wait "$app_pid" 2>/dev/null || status=$?
    echo "ended by $end with status $status"
fi
app_pid=

cmp "$tmp/previous-setup.exe" "$folder/Setup.exe" || fail "the previous Setup.exe was damaged"
[[ $(sqlite3 "$collection/Velmora2.db" "PRAGMA integrity_check;") == ok ]] ||
    fail "the catalogue failed its integrity check"
[[ $(sqlite3 "$collection/Velmora2.db" "SELECT count(*) FROM CD;") == 1 ]] ||
    fail "the row of the killed add is missing"
left=$(ls -A "$folder" | tr '\n' ' ')
echo "killed at '$seen'; in the folder: $left"
if [[ $end != KILL ]] ||
    python3 -c 'import os, sys; os.close(os.open(sys.argv[1], os.O_TMPFILE | os.O_WRONLY, 0o600))' \
        "$folder" 2>/dev/null; then
    [[ $left == "Picture.bmp Setup.exe " ]] || fail "the ended copy left files behind: $left"
else
    # Where a killed copy's file has a name, velmora2-init removes it.
    "$init" "$collection" >/dev/null
    left=$(ls -A "$folder" | tr '\n' ' ')
    [[ $left == "Picture.bmp Setup.exe " ]] || fail "velmora2-init left the killed copy: $left"
fi
[[ $end == DISPLAY ]] && start_xvfb "$tmp"

# The next add of the same name finishes and tidies up after the killed one.
start_and_add "$tmp/sources/small-setup.exe"
add_finished() { [[ $(caption) == "100% Complete" ]] && cmp -s "$tmp/sources/small-setup.exe" "$folder/Setup.exe"; }
wait_until 60 add_finished || fail "the next add did not finish ($(caption))"
stray=$(find "$folder" -name '.*' | wc -l)
[[ $stray == 0 ]] || fail "$stray temporary files left in $folder"
[[ $(sqlite3 "$collection/Velmora2.db" "SELECT count(*) FROM CD;") == 2 ]] || fail "second row missing"
[[ $(sqlite3 "$collection/Velmora2.db" "PRAGMA integrity_check;") == ok ]] || fail "integrity"
click 232 260
echo "PASS: previous Setup.exe intact after $end, catalogue sound, next add clean"
