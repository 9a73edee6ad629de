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
mkdir -p "$work/access/Programi" "$work/sqlite/Programi"
# Every tenth program gets its folder with both files, in both collections.
python3 - "$work" <<'PY'
import os, sqlite3, sys
work = sys.argv[1]
names = sqlite3.connect(f"{work}/sqlite/Velmora2.db").execute(
    "SELECT Program FROM CD WHERE rowid % 10 = 0").fetchall()
for (name,) in names:
    if not name or "/" in name or name in (".", ".."):
        continue
    for collection in ("sqlite", "access"):
        folder = f"{work}/{collection}/Programi/{name}"
        os.makedirs(folder, exist_ok=True)
        for file in ("Setup.exe", "Picture.bmp"):
            open(f"{folder}/{file}", "wb").close()
PY
echo "== velmora2-list: $rows generated rows, SQLite and Access =="
"$build/bench/list_bench" "$runs" "$build/bin/velmora2-list" "$work/sqlite" "$work/access"
