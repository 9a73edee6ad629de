#!/usr/bin/env bash
# Copy benchmark: whole adds through the real add operation on an offscreen
# window against cp, alternating, page cache warm: first copies of 1 GiB and
# 4 GiB against cp, and replacing copies of 1 GiB and 2 GiB against cp
# followed by sync of the same file.
#   bench/copy_bench.sh [BUILD_DIR] [RUNS]
# The copies go to VELMORA_BENCH_DIR when it is set; otherwise, as root, to a
# fresh ext4 file system in an image file, where both sides find the same
# free space (on a long-used disk, where a large file's blocks land varies
# from run to run and costs more than the copy itself); else to /tmp.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
mounted=
base=${VELMORA_BENCH_DIR:-}
if [[ -z $base && $(id -u) == 0 ]] && command -v mkfs.ext4 >/dev/null; then
    image=$(mktemp /tmp/copy-bench-ext4.XXXXXX)
    truncate -s 24G "$image"
    mkfs.ext4 -q -F "$image"
    mounted=$(mktemp -d /tmp/copy-bench-mnt.XXXXXX)
    mount -o loop "$image" "$mounted"
    base=$mounted
    echo "(on a fresh ext4 file system in $image)"
fi
work=$(mktemp -d "${base:-/tmp}/copy-bench.XXXXXX")
cleanup() {
    rm -rf "$work"
    if [[ -n $mounted ]]; then
        umount "$mounted"
        rmdir "$mounted"
        rm -f "$image"
    fi
}
trap cleanup EXIT
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
