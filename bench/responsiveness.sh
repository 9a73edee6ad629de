#!/usr/bin/env bash
# Responsiveness benchmark: the real program under its own Xvfb (no window
# manager) adds a program over an existing one with a SIZE GiB setup file,
# while pingwatch.py sends _NET_WM_PING every 20 ms from outside and reports
# the longest time the window took to answer, from the click to the add's end
# (the flush before the rename included).
#   bench/responsiveness.sh [BUILD_DIR] [SIZE_GIB] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
size=${2:-2}
runs=${3:-3}
source "$root/tests/e2e/xvfb_session.sh"
source "$root/scripts/lib/packages.sh"
ensure_packages "the benchmarks" xvfb xdotool python3-xlib sqlite3

tmp=$(mktemp -d "${VELMORA_BENCH_DIR:-/tmp}/responsiveness.XXXXXX")
app_pid=
watch_pid=
cleanup() {
    [[ -n $watch_pid ]] && kill "$watch_pid" 2>/dev/null || true
    [[ -n $app_pid ]] && stop_process "$app_pid"
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

collection=$tmp/collection
mkdir -p "$collection"
cp "$build/bin/Velmora2ADD" "$build/bin/velmora2-init" "$collection/"
"$collection/velmora2-init" "$collection"
setup=$tmp/setup.exe
head -c "$((size * 1024 * 1024 * 1024))" /dev/urandom >"$setup"
head -c 1000 /dev/urandom >"$tmp/picture.bmp"
mkdir -p "$collection/Programi/Big"
cp "$setup" "$collection/Programi/Big/Setup.exe"

start_xvfb "$tmp"
"$collection/Velmora2ADD" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(find_window 30 "Velmora 2.0 ADD New Program")
eval "$(xdotool getwindowgeometry --shell "$wid")"
type_into 140 34 Big
type_into 124 130 "$setup"
type_into 124 170 "$tmp/picture.bmp"
caption() { xdotool getwindowname "$wid" 2>/dev/null || true; }
rows() { sqlite3 -readonly "$collection/Velmora2.db" "SELECT count(*) FROM CD;"; }

target=$collection/Programi/Big/Setup.exe
for run in $(seq "$runs"); do
    sync
    previous=$(stat -c %i "$target")
    "$root/bench/pingwatch.py" "$wid" 600 20 >"$tmp/ping.txt" &
    watch_pid=$!
    # Away from the button first: a pointer already in place would make
    # xdotool wait for a motion that never comes.
    xdotool mousemove --window "$wid" 5 5
    sleep 0.5
    start=$(date +%s.%N)
    click 140 260
    # Done once the row is stored and the new Setup.exe has replaced the old.
    done_adding() {
        [[ $(rows) == "$run" && $(stat -c %i "$target") != "$previous" &&
            $(caption) == "100% Complete" ]]
    }
    wait_until 600 done_adding
    end=$(date +%s.%N)
    # One more round of pings after the end.
    sleep 0.2
    kill -TERM "$watch_pid"
    wait "$watch_pid" || true
    watch_pid=
    read -r worst sent answered <"$tmp/ping.txt"
    printf 'run %d: add %.2f s, longest unanswered ping %s ms (%s sent, %s answered)\n' \
        "$run" "$(awk "BEGIN { print $end - $start }")" "$worst" "$sent" "$answered"
done
