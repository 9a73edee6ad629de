#!/usr/bin/env bash
# Copy benchmark: 1 GiB and 4 GiB files, page cache warm, our copy with its
# progress routine on an offscreen window against cp, alternating.
#   bench/copy_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
work=$(mktemp -d "${VELMORA_BENCH_DIR:-/tmp}/copy-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
for size in 1 4; do
    src="$work/source-${size}G.bin"
    head -c "$((size * 1024 * 1024 * 1024))" /dev/urandom >"$src"
    cat "$src" >/dev/null # warm the page cache
    echo "== ${size} GiB =="
    "$build/bench/copy_bench" "$src" "$work/target.bin" "$runs"
    rm -f "$src"
done
