#!/usr/bin/env bash
# real_file_systems.sh COPY_TESTS ADD_TOOL_TESTS [VELMORA2ADD VELMORA2_INIT]
# Runs the copy tests' real-file-system case (replacing, failing, modes, a
# sparse source) on file systems made for it in image files: ext4 (holes that
# the kernel's copy alone would fill), XFS and btrfs (unnamed temporary files,
# reflinks), exFAT and NTFS through FUSE (no unnamed temporary files, so the
# named fallback; exFAT keeps no holes). On exFAT, where a copy's temporary
# file has a name, also the ends of a session during a copy: velmora2-add
# interrupted by SIGINT, SIGTERM, SIGHUP and SIGQUIT, and the window (when
# built) by SIGTERM, SIGHUP, SIGINT, SIGQUIT and the loss of its X server, and
# killed, after which velmora2-init removes what the kill left; each must remove its own
# temporary file and keep the previous one. A file system that cannot be made
# or mounted here is skipped with a message; when none can be, the test is
# skipped as a whole.
set -euo pipefail
tests=$1
add_tool_tests=$2
app=${3:-}
init=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
mounted=
loop=
cleanup() {
    if [[ -n $mounted ]]; then
        umount "$mounted" 2>/dev/null || true
    fi
    release_loop
    rm -rf "$tmp"
}
trap cleanup EXIT

release_loop() {
    if [[ -n $loop ]]; then
        losetup -d "$loop" 2>/dev/null || true
        loop=
    fi
}

ran=0
failed=0
# try NAME UNNAMED MODES MAKE MOUNT: makes the image with MAKE, mounts it at
# $mnt with MOUNT, and runs the case there expecting unnamed files or not, and
# modes kept by the file system or not.
try() {
    local name=$1 unnamed=$2 modes=$3 make=$4 mount=$5
    local image=$tmp/$name.img
    mnt=$tmp/$name
    mkdir -p "$mnt"
    # Room for a 1 GiB source and its copy; the image stays sparse.
    truncate -s 3G "$image"
    if ! eval "$make" >"$tmp/$name.log" 2>&1 || ! eval "$mount" >>"$tmp/$name.log" 2>&1; then
        echo "SKIP $name: cannot be made or mounted here ($(tail -n 1 "$tmp/$name.log"))"
        release_loop
        return 0
    fi
    mounted=$mnt
    if VELMORA_COPY_TEST_DIR=$mnt VELMORA_EXPECT_UNNAMED=$unnamed VELMORA_EXPECT_MODES=$modes \
        "$tests" --gtest_filter='RealFileSystemTest.*' --gtest_brief=1; then
        echo "PASS $name"
    else
        echo "FAIL $name"
        failed=1
    fi
    if [[ $name == exfat ]]; then
        session_ends
    fi
    ran=1
    umount "$mnt"
    mounted=
    release_loop
}

# The ends of a session during a copy into the file system mounted at $mnt.
session_ends() {
    if TMPDIR=$mnt "$add_tool_tests" --gtest_filter='Signals/InterruptTest.*' --gtest_brief=1; then
        echo "PASS $name: velmora2-add interrupted"
    else
        echo "FAIL $name: velmora2-add interrupted"
        failed=1
    fi
    if [[ -z $app ]]; then
        echo "SKIP $name: the window is not built"
        return 0
    fi
    local end
    for end in TERM HUP INT QUIT DISPLAY KILL; do
        if VELMORA_CRASH_TMP=$mnt bash "$here/../e2e/crash_during_copy.sh" "$app" "$init" "$end"; then
            echo "PASS $name: the window ended by $end"
        else
            echo "FAIL $name: the window ended by $end"
            failed=1
        fi
    done
}

if [[ $(id -u) != 0 ]]; then
    echo "SKIP: mounting file systems needs root"
    exit 77
fi
try ext4 1 1 'mkfs.ext4 -q -F "$image"' 'mount -o loop "$image" "$mnt"'
try xfs 1 1 'mkfs.xfs -q "$image"' 'mount -o loop "$image" "$mnt"'
try btrfs 1 1 'mkfs.btrfs -q "$image"' 'mount -o loop "$image" "$mnt"'
try exfat 0 0 'mkfs.exfat "$image"' 'loop=$(losetup -f --show "$image") && mount.exfat-fuse "$loop" "$mnt"'
try ntfs 0 0 'mkntfs -q -F -Q "$image"' 'ntfs-3g "$image" "$mnt"'
((ran)) || exit 77
exit $failed
