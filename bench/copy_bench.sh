#!/usr/bin/env bash
# Copy benchmark, in two parts.
#
# "window": whole adds through the real add operation on an offscreen window
# against cp, alternating, page cache warm: first copies of 1 GiB and 4 GiB
# against cp, and replacing copies of 1 GiB and 2 GiB against cp followed by
# sync of the same file.
#
# "cli": what a user meets: velmora2-add replacing a SIZE GiB Setup.exe
# against cp of the same source over a file of the same size followed by sync
# of that file, both on freshly written, flushed files, alternating (the order
# swaps every round), three rounds with pauses, medians and their ratio; on
# the machine's own disk and, as root, on a fresh ext4 file system in an image.
#
# "after": the add that follows another large write, and the reverse. In the
# order "write, then": cp + sync of SIZE GiB into another file, a pause, then
# the timed replace (velmora2-add, cp + sync, rsync --whole-file + sync, each
# over its own target). In the order "then write": the timed replace, a pause,
# then the cp + sync of the other file, itself timed. Three rounds, medians,
# and the add's ratio to both anchors; on the own disk and, as root, on fresh
# file systems in image files (VELMORA_BENCH_FS, default ext4: any of ext4,
# xfs, btrfs, exfat, ntfs; one that cannot be made or mounted is skipped with
# a message). VELMORA_BENCH_ADD names another velmora2-add to time (an
# earlier build, for a before and after).
#
#   bench/copy_bench.sh [BUILD_DIR] [RUNS] [PARTS] [SIZE_GIB]
# PARTS: window, cli, after, or several joined by commas (default window,cli).
# SIZE_GIB (default 2) is the size of the cli and after parts.
# The window part's copies go to VELMORA_BENCH_DIR when it is set; otherwise,
# as root, to a fresh ext4 file system in an image file, where both sides find
# the same free space (on a long-used disk, where a large file's blocks land
# varies from run to run); else to /tmp. The cli part's own-disk round uses
# VELMORA_BENCH_DIR, else /tmp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
parts=${3:-window,cli}
cli_size=${4:-2}
own_disk=${VELMORA_BENCH_DIR:-/tmp}

image=
mounted=
work=
cleanup() {
    [[ -n $work ]] && rm -rf "$work"
    if [[ -n $mounted ]]; then
        umount "$mounted"
        rmdir "$mounted"
    fi
    [[ -n ${loop:-} ]] && losetup -d "$loop"
    [[ -n $image ]] && rm -f "$image"
    return 0
}
trap cleanup EXIT

# Mounts a fresh ext4 file system in an image file on the own disk and prints
# its mount point.
mount_fresh_ext4() {
    image=$(mktemp "$own_disk/copy-bench-ext4.XXXXXX")
    truncate -s 24G "$image"
    mkfs.ext4 -q -F "$image"
    mounted=$(mktemp -d /tmp/copy-bench-mnt.XXXXXX)
    mount -o loop "$image" "$mounted"
}
unmount_fresh_ext4() {
    umount "$mounted"
    rmdir "$mounted"
    rm -f "$image"
    mounted=
    image=
}
can_mount() { [[ $(id -u) == 0 ]] && command -v mkfs.ext4 >/dev/null; }

window_part() {
    local base=${VELMORA_BENCH_DIR:-}
    if [[ -z $base ]] && can_mount; then
        mount_fresh_ext4
        base=$mounted
        echo "(on a fresh ext4 file system in an image file)"
    fi
    work=$(mktemp -d "${base:-/tmp}/copy-bench.XXXXXX")
    export QT_QPA_PLATFORM=offscreen
    local size_mode size mode src
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
    rm -rf "$work"
    work=
    [[ -z $mounted ]] || unmount_fresh_ext4
}

millis() { date +%s%3N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# cli_round DIR LABEL: the velmora2-add round in DIR.
cli_round() {
    local dir=$1 label=$2
    work=$(mktemp -d "$dir/copy-bench-cli.XXXXXX")
    local collection=$work/collection
    local bytes=$((cli_size * 1024 * 1024 * 1024))
    mkdir -p "$collection"
    "$build/bin/velmora2-init" "$collection" >/dev/null
    head -c 1000 /dev/urandom >"$work/picture.bmp"
    # Fresh files, flushed: the source, the Setup.exe the add replaces and
    # the file cp replaces, each written anew (as a user's download would be).
    head -c "$bytes" /dev/urandom >"$work/setup.exe"
    mkdir -p "$collection/Programi/Big" "$work/cp"
    cp "$work/setup.exe" "$collection/Programi/Big/Setup.exe"
    cp "$work/setup.exe" "$work/cp/Setup.exe"
    sync
    echo "== velmora2-add replacing a ${cli_size} GiB Setup.exe against cp + sync, $label =="
    local adds=() cps=() round first start add cp
    for round in 1 2 3; do
        sleep 5
        for first in add cp; do
            if [[ $(( round % 2 )) == 0 ]]; then
                [[ $first == add ]] && first=cp || first=add
            fi
            if [[ $first == add ]]; then
                start=$(millis)
                "$build/bin/velmora2-add" --collection "$collection" --program Big \
                    --setup "$work/setup.exe" --picture "$work/picture.bmp" -q
                add=$(($(millis) - start))
            else
                start=$(millis)
                cp "$work/setup.exe" "$work/cp/Setup.exe"
                sync "$work/cp/Setup.exe"
                cp=$(($(millis) - start))
            fi
            sync
            sleep 3
        done
        adds+=("$add")
        cps+=("$cp")
        printf 'round %d (%s first): add %d ms, cp + sync %d ms, ratio %.2f\n' "$round" \
            "$( ((round % 2)) && echo add || echo cp)" "$add" "$cp" \
            "$(awk "BEGIN { print $add / $cp }")"
    done
    cmp -s "$work/setup.exe" "$collection/Programi/Big/Setup.exe" || {
        echo "the add's Setup.exe differs from its source" >&2
        exit 1
    }
    add=$(printf '%s\n' "${adds[@]}" | median)
    cp=$(printf '%s\n' "${cps[@]}" | median)
    printf 'median add %d ms, cp + sync %d ms, ratio %.2f\n' "$add" "$cp" \
        "$(awk "BEGIN { print $add / $cp }")"
    rm -rf "$work"
    work=
}

cli_part() {
    echo "(load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors)"
    cli_round "$own_disk" "the own disk ($(df --output=source,fstype "$own_disk" | tail -n 1 | xargs))"
    if can_mount; then
        mount_fresh_ext4
        cli_round "$mounted" "a fresh ext4 file system in an image file"
        unmount_fresh_ext4
    fi
}

# mount_image FS: a fresh file system FS in an image file on the own disk,
# mounted at $mounted; fails when it cannot be made or mounted here.
loop=
mount_image() {
    local fs=$1
    image=$(mktemp "$own_disk/copy-bench-$fs.XXXXXX")
    truncate -s 16G "$image"
    mounted=$(mktemp -d /tmp/copy-bench-mnt.XXXXXX)
    case $fs in
    ext4) mkfs.ext4 -q -F "$image" && mount -o loop "$image" "$mounted" ;;
    xfs) mkfs.xfs -q -f "$image" && mount -o loop "$image" "$mounted" ;;
    btrfs) mkfs.btrfs -q -f "$image" && mount -o loop "$image" "$mounted" ;;
    exfat) mkfs.exfat "$image" >/dev/null && loop=$(losetup -f --show "$image") &&
        mount.exfat-fuse "$loop" "$mounted" ;;
    ntfs) mkntfs -q -F -Q "$image" && ntfs-3g "$image" "$mounted" ;;
    *) return 1 ;;
    esac
}
unmount_image() {
    umount "$mounted" 2>/dev/null || true
    [[ -z $loop ]] || losetup -d "$loop"
    loop=
    rmdir "$mounted"
    rm -f "$image"
    mounted=
    image=
}

# after_round DIR LABEL: the "after" part in DIR.
after_round() {
    local dir=$1 label=$2
    local add_command=${VELMORA_BENCH_ADD:-$build/bin/velmora2-add}
    work=$(mktemp -d "$dir/copy-bench-after.XXXXXX")
    local collection=$work/collection bytes=$((cli_size * 1024 * 1024 * 1024))
    mkdir -p "$collection" "$work/cp" "$work/rsync"
    "$build/bin/velmora2-init" "$collection" >/dev/null
    head -c 1000 /dev/urandom >"$work/picture.bmp"
    head -c "$bytes" /dev/urandom >"$work/setup.exe"
    head -c "$bytes" /dev/urandom >"$work/other.bin"
    mkdir -p "$collection/Programi/Big"
    local target
    for target in "$collection/Programi/Big/Setup.exe" "$work/cp/Setup.exe" \
        "$work/rsync/Setup.exe" "$work/other-copy.bin"; do
        cp "$work/setup.exe" "$target"
    done
    sync
    replace() {
        case $1 in
        add) "$add_command" --collection "$collection" --program Big \
            --setup "$work/setup.exe" --picture "$work/picture.bmp" -q ;;
        cp) cp "$work/setup.exe" "$work/cp/Setup.exe" && sync "$work/cp/Setup.exe" ;;
        rsync) rsync --whole-file "$work/setup.exe" "$work/rsync/Setup.exe" &&
            sync "$work/rsync/Setup.exe" ;;
        esac
    }
    big_write() { cp "$work/other.bin" "$work/other-copy.bin" && sync "$work/other-copy.bin"; }
    local tools=(add cp)
    command -v rsync >/dev/null && tools+=(rsync) ||
        echo "(no rsync here: its anchor is left out; bench/run installs it)"
    echo "== the replacing add of ${cli_size} GiB next to another large write, $label =="
    local order tool round start took
    declare -A times=()
    for order in "write, then" "then write"; do
        for round in 1 2 3; do
            for tool in "${tools[@]}"; do
                sync
                sleep 2
                if [[ $order == "write, then" ]]; then
                    big_write
                    sleep 2
                    start=$(millis)
                    replace "$tool"
                    took=$(($(millis) - start))
                else
                    start=$(millis)
                    replace "$tool"
                    took=$(($(millis) - start))
                    sleep 2
                    start=$(millis)
                    big_write
                    times[$order/$tool/follower]+="$(($(millis) - start)) "
                fi
                times[$order/$tool]+="$took "
            done
        done
        local add cp rsync follower line
        add=$(printf '%s\n' ${times[$order/add]} | median)
        cp=$(printf '%s\n' ${times[$order/cp]} | median)
        line=$(printf '%s: add %d ms, cp + sync %d ms (ratio %.2f)' "$order" "$add" "$cp" \
            "$(awk "BEGIN { print $add / $cp }")")
        if [[ -n ${times[$order/rsync]:-} ]]; then
            rsync=$(printf '%s\n' ${times[$order/rsync]} | median)
            line+=$(printf ', rsync --whole-file + sync %d ms (ratio %.2f)' "$rsync" \
                "$(awk "BEGIN { print $add / $rsync }")")
        fi
        if [[ $order == "then write" ]]; then
            line+="; the write after them:"
            for tool in "${tools[@]}"; do
                follower=$(printf '%s\n' ${times[$order/$tool/follower]} | median)
                line+=" $tool $follower ms"
            done
        fi
        echo "median of 3, $line (rounds: add ${times[$order/add]}ms, cp ${times[$order/cp]}ms)"
    done
    cmp -s "$work/setup.exe" "$collection/Programi/Big/Setup.exe" || {
        echo "the add's Setup.exe differs from its source" >&2
        exit 1
    }
    rm -rf "$work"
    work=
}

after_part() {
    echo "(load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors)"
    after_round "$own_disk" "the own disk ($(df --output=source,fstype "$own_disk" | tail -n 1 | xargs))"
    [[ $(id -u) == 0 ]] || return 0
    local fs
    for fs in ${VELMORA_BENCH_FS:-ext4}; do
        if mount_image "$fs" >/dev/null 2>&1; then
            after_round "$mounted" "a fresh $fs file system in an image file"
            unmount_image
        else
            echo "SKIP $fs: cannot be made or mounted here"
            [[ -z $mounted ]] || unmount_image
        fi
    done
}

[[ ,$parts, != *,window,* ]] || window_part
[[ ,$parts, != *,cli,* ]] || cli_part
[[ ,$parts, != *,after,* ]] || after_part
