# Helpers for driving the real window under a private Xvfb. Sourced by the
# end-to-end test, the start-up benchmark and scripts/screenshot; the caller
# has `set -euo pipefail` and removes its temporary folder itself.

# wait_until SECONDS COMMAND...: polls COMMAND until it succeeds or the
# deadline passes; returns 1 on timeout.
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        if ((SECONDS >= deadline)); then
            return 1
        fi
        sleep 0.05
    done
}

# Xvfb writes the number and a newline in one write once it accepts clients.
_xvfb_display_written() { grep -q '^[0-9][0-9]*$' "$1"; }

# start_xvfb WORKDIR: starts Xvfb on a display number it picks itself
# (-displayfd), exports DISPLAY and sets XVFB_PID. 96 DPI so one twip/15 is
# one pixel, as the window's layout assumes.
start_xvfb() {
    local workdir=$1
    local fdfile=$workdir/xvfb.display
    : >"$fdfile"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset \
        3>"$fdfile" >"$workdir/xvfb.log" 2>&1 &
    XVFB_PID=$!
    if ! wait_until 20 _xvfb_display_written "$fdfile"; then
        echo "Xvfb did not report a display number" >&2
        cat "$workdir/xvfb.log" >&2 || true
        return 1
    fi
    DISPLAY=:$(tr -dc '0-9' <"$fdfile")
    export DISPLAY
    # Keep Qt on X whatever the caller's environment says (tests run offscreen).
    export QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI
    export XDG_RUNTIME_DIR=$workdir/runtime
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

stop_xvfb() {
    if [[ -n ${XVFB_PID:-} ]]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}

# stop_process PID: ends a process this script started and reaps it.
stop_process() {
    local pid=$1
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
}

# find_window SECONDS NAME: prints the id of the first visible window whose
# title is exactly NAME, waiting for it to be mapped.
find_window() {
    local seconds=$1 name=$2
    local pattern
    pattern="^$(printf '%s' "$name" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$"
    timeout "$seconds" xdotool search --sync --onlyvisible --name "$pattern" 2>/dev/null | head -n 1
}

# Input to the window whose id is in $wid and whose size getwindowgeometry
# --shell put in WIDTH and HEIGHT. Positions are client-area pixels of the
# designed 281 x 281 window, scaled in case Qt scales for DPI.
at() { echo $(($1 * WIDTH / 281)) $(($2 * HEIGHT / 281)); }

click() {
    # shellcheck disable=SC2046
    xdotool mousemove --window "$wid" --sync $(at "$1" "$2") click 1
}

# type_into X Y TEXT: clicks the box at X,Y, empties it and types TEXT. xdotool
# reads TEXT through the locale, so a caller without a UTF-8 one (a container,
# cron, a minimal install) would type mojibake or nothing for non-ASCII text.
type_into() {
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a BackSpace
    LC_ALL=C.UTF-8 xdotool type --delay 5 -- "$3"
}
