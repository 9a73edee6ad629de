#!/usr/bin/env bash
# Conversion benchmark: a rich Jet 4 catalogue of 100,000 generated rows (and
# the sample rows, memos to 20,000 characters among them) converted by
# velmora2-init, against mdb-export of the same table, alternating.
# Targets: at most 1.5 times mdb-export's time, peak RSS under 64 MiB.
#   bench/jet_bench.sh [BUILD_DIR] [RUNS] [ROWS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
rows=${3:-100000}
work=$(mktemp -d "${VELMORA_BENCH_DIR:-/tmp}/jet-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/tests/fixtures/make_jet4.py" "$work/source.db" --schema rich --rows "$rows" >/dev/null
cat "$work/source.db" >/dev/null # warm the page cache
echo "== Jet 4 conversion: $rows generated rows =="
"$build/bench/jet_bench" "$build/bin/velmora2-init" "$work/source.db" "$work" "$runs"
