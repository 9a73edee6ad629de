#!/usr/bin/env bash
# Copy benchmark: whole adds through the real add operation on an offscreen
# window against cp, alternating, page cache warm: first copies of 1 GiB and
# 4 GiB against cp, and replacing copies of 1 GiB and 2 GiB against cp
# followed by sync of the same file.
#   bench/copy_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
work=$(mktemp -d "${VELMORA_BENCH_DIR:-/tmp}/copy-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
for size_mode in 1:first 4:first 1:replace 2:replace; do
    size=${size_mode%%:*}
    mode=${size_mode#*:}
    src="$work/source-${size}G.bin"
    [[ -f $src ]] || head -c "$((size * 1024 * 1024 * 1024))" /dev/urandom >"$src"
    cat "$src" >/dev/null # warm the page cache
    echo "== ${mode} copy, ${size} GiB =="
    rm -rf "$work/collection"
    "$build/bench/copy_bench" "$mode" "$src" "$work/collection" "$runs"
    rm -rf "$work/collection"
done
