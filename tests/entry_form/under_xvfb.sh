#!/usr/bin/env bash
# under_xvfb.sh PROGRAM [ARGS...]: runs PROGRAM on Qt's X11 platform in a
# private Xvfb, for window tests whose subject only the real platform shows
# (its theme gives dialog buttons icons; the offscreen platform gives none).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/xvfb_session.sh"

tmp=$(mktemp -d)
cleanup() {
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

start_xvfb "$tmp"
status=0
"$@" || status=$?
exit "$status"
