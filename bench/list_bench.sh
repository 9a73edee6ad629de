#!/usr/bin/env bash
# Listing benchmark: a Jet 4 catalogue of 100,000 generated rows (and the
# sample rows), and the same rows converted into SQLite by velmora2-init, each
# in a collection whose Programi holds a folder with both files for every
# tenth entry; velmora2-list of each against sqlite3 -csv and mdb-export.
#   bench/list_bench.sh [BUILD_DIR] [RUNS] [ROWS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-7}
rows=${3:-100000}
work=$(mktemp -d "${VELMORA_BENCH_DIR:-/tmp}/list-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/access" "$work/sqlite"
python3 "$root/tests/fixtures/make_jet4.py" "$work/access/Velmora2.db" --schema basic \
    --rows "$rows" >/dev/null
cp "$work/access/Velmora2.db" "$work/sqlite/Velmora2.db"
"$build/bin/velmora2-init" --convert "$work/sqlite" >/dev/null
rm -f "$work"/sqlite/Velmora2.jet4*.db
mkdir -p "$work/access/Programi"
# Every tenth program gets its folder with both files, in both collections.
sqlite3 "$work/sqlite/Velmora2.db" "SELECT Program FROM CD WHERE rowid % 10 = 0" |
    while IFS= read -r name; do
        [[ -z $name || $name == */* || $name == . || $name == .. ]] && continue
        mkdir -p "$work/sqlite/Programi/$name" && : >"$work/sqlite/Programi/$name/Setup.exe" &&
            : >"$work/sqlite/Programi/$name/Picture.bmp"
    done 2>/dev/null || true
cp -a "$work/sqlite/Programi/." "$work/access/Programi/"
echo "== velmora2-list: $rows generated rows, SQLite and Access =="
"$build/bench/list_bench" "$runs" "$build/bin/velmora2-list" "$work/sqlite" "$work/access"
