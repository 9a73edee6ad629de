#!/usr/bin/env bash
# real_file_systems.sh COPY_TESTS
# Runs the copy tests' real-file-system case (replacing, failing, a sparse
# source) on file systems made for it in image files: ext4 (holes that the
# kernel's copy alone would fill), XFS and btrfs (unnamed temporary files,
# reflinks), exFAT and NTFS through FUSE (no unnamed temporary files, so the
# named fallback; exFAT keeps no holes). A
# file system that cannot be made or mounted here is skipped with a message;
# when none can be, the test is skipped as a whole.
set -euo pipefail
tests=$1
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
# try NAME UNNAMED MAKE MOUNT: makes the image with MAKE, mounts it at $mnt
# with MOUNT, and runs the case there expecting unnamed files or not.
try() {
    local name=$1 unnamed=$2 make=$3 mount=$4
    local image=$tmp/$name.img
    mnt=$tmp/$name
    mkdir -p "$mnt"
    truncate -s 320M "$image"
    if ! eval "$make" >"$tmp/$name.log" 2>&1 || ! eval "$mount" >>"$tmp/$name.log" 2>&1; then
        echo "SKIP $name: cannot be made or mounted here ($(tail -n 1 "$tmp/$name.log"))"
        release_loop
        return 0
    fi
    mounted=$mnt
    if VELMORA_COPY_TEST_DIR=$mnt VELMORA_EXPECT_UNNAMED=$unnamed \
        "$tests" --gtest_filter='RealFileSystemTest.*' --gtest_brief=1; then
        echo "PASS $name"
    else
        echo "FAIL $name"
        failed=1
    fi
    ran=1
    umount "$mnt"
    mounted=
    release_loop
}

if [[ $(id -u) != 0 ]]; then
    echo "SKIP: mounting file systems needs root"
    exit 77
fi
try ext4 1 'mkfs.ext4 -q -F "$image"' 'mount -o loop "$image" "$mnt"'
try xfs 1 'mkfs.xfs -q "$image"' 'mount -o loop "$image" "$mnt"'
try btrfs 1 'mkfs.btrfs -q "$image"' 'mount -o loop "$image" "$mnt"'
try exfat 0 'mkfs.exfat "$image"' 'loop=$(losetup -f --show "$image") && mount.exfat-fuse "$loop" "$mnt"'
try ntfs 0 'mkntfs -q -F -Q "$image"' 'ntfs-3g "$image" "$mnt"'
((ran)) || exit 77
exit $failed
