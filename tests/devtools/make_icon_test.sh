#!/usr/bin/env bash
# make_icon_test.sh MAKE_ICON COMMITTED_ICO: regenerates the icon into a
# temporary folder and fails unless it equals the committed file byte for byte.
set -euo pipefail
make_icon=$1
committed=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$make_icon" "$tmp/velmora2add.ico"
if ! cmp "$tmp/velmora2add.ico" "$committed"; then
    echo "the committed icon differs from the generator's output;" >&2
    echo "regenerate it with: $make_icon $committed" >&2
    exit 1
fi
