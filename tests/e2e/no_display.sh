#!/usr/bin/env bash
# no_display.sh VELMORA2ADD VELMORA2_INIT SOURCE_DIR
# With no display to reach, the program says so in one line on standard error
# and ends with status 1 (no abort, no plugin list); scripts/run, with the
# build in place, makes the demo collection and then says how to go on.
set -euo pipefail
app=$1
init=$2
source_dir=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A display number with no X server behind it.
number=4242
while [[ -e /tmp/.X11-unix/X$number ]]; do
    number=$((number + 1))
done

# run_program EXPECTED_LINE VAR=VALUE...: the program in an environment with
# no display but the given variables.
run_program() {
    local expected=$1
    shift
    local status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE "$@" \
        "$app" >"$tmp/out" 2>"$tmp/err" || status=$?
    [[ $status == 1 ]] || fail "$*: status $status, not 1"
    [[ ! -s $tmp/out ]] || fail "$*: printed on standard output: $(cat "$tmp/out")"
    [[ $(cat "$tmp/err") == "$expected" ]] ||
        fail "$*: standard error was:"$'\n'"$(cat "$tmp/err")"$'\n'"expected:"$'\n'"$expected"
}

tail=" the window needs a desktop session, X11 or Wayland with XWayland"
run_program "Velmora2ADD: no display found (DISPLAY is not set, WAYLAND_DISPLAY is not set);$tail"
run_program "Velmora2ADD: no display found (DISPLAY=:$number cannot be reached, WAYLAND_DISPLAY is not set);$tail" \
    DISPLAY=:$number
mkdir -p "$tmp/runtime"
run_program "Velmora2ADD: no display found (DISPLAY is not set, WAYLAND_DISPLAY=wayland-7 cannot be reached);$tail" \
    WAYLAND_DISPLAY=wayland-7 XDG_RUNTIME_DIR="$tmp/runtime"

# scripts/run in a copy of the repository whose build is already present:
# cmake and the package check stand in as no-ops.
root=$tmp/repository
mkdir -p "$root/scripts/lib" "$root/build/bin" "$tmp/stubs"
cp "$source_dir/scripts/run" "$root/scripts/run"
cp "$source_dir"/scripts/lib/*.sh "$root/scripts/lib/"
cp "$app" "$root/build/bin/Velmora2ADD"
cp "$init" "$root/build/bin/velmora2-init"
printf '#!/bin/sh\nexit 0\n' >"$tmp/stubs/cmake"
printf '#!/bin/sh\necho "install ok installed"\n' >"$tmp/stubs/dpkg-query"
chmod +x "$tmp/stubs/cmake" "$tmp/stubs/dpkg-query"

# run_script: scripts/run with no display; its output in $tmp/run.
run_script() {
    local status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$tmp/stubs:$PATH" \
        bash "$root/scripts/run" >"$tmp/run" 2>&1 || status=$?
    [[ $status == 1 ]] || fail "scripts/run: status $status, not 1"
}

run_script
grep -q '^No display found, so the window cannot open: DISPLAY is not set, WAYLAND_DISPLAY is not set.$' \
    "$tmp/run" ||
    fail "scripts/run does not say that no display was found"
grep -q 'desktop session' "$tmp/run" || fail "scripts/run names no desktop session"
if command -v xvfb-run >/dev/null; then
    grep -q 'xvfb-run scripts/run' "$tmp/run" || fail "scripts/run does not offer xvfb-run"
fi
grep -q 'velmora2-add' "$tmp/run" && fail "scripts/run names a companion that is not built"
grep -q 'Velmora2ADD: no display found' "$tmp/run" && fail "scripts/run started the program"
[[ -f $root/build/bin/Velmora2.db && -d $root/build/bin/Programi ]] ||
    fail "scripts/run made no demo collection"

# With the terminal companion built, it is offered as well.
printf '#!/bin/sh\n' >"$root/build/bin/velmora2-add"
chmod +x "$root/build/bin/velmora2-add"
run_script
grep -q 'build/bin/velmora2-add' "$tmp/run" || fail "scripts/run does not offer velmora2-add"

if ((failures > 0)); then
    echo "--- scripts/run said:" >&2
    cat "$tmp/run" >&2
    exit 1
fi
echo "no display: the program and scripts/run say so and end with status 1"
