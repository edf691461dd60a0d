# shellcheck shell=bash
# Sourced by the scripts that run the program on a display of their own: a private X
# server, a window manager where asked, a work folder, and the clean-up of all of them.
# Works under `set -e` and `set -u`.
#
# need_tools TOOL...
#   Skips the script (exit 77) when one of the tools is missing.
# open_session
#   Makes $work, a fresh folder, and on exit ends whatever of $app_pid, $wm_pid and
#   $xvfb_pid is set (a player still running goes with the program: it asked for its
#   parent's death), then removes $work.
# start_private_xvfb FIRST LAST SIZE LOG
#   Starts Xvfb on the first display number from FIRST to LAST that nobody uses, with one
#   screen of SIZE (for example 1280x800x24), its output in LOG, and waits up to 10 s for
#   it to listen. Sets xvfb_pid and exports DISPLAY. Returns 1, having said why on
#   standard error, when no number is free or Xvfb did not start.
# start_window_manager WM
#   Unless WM is "bare", starts it with a home of its own in $work (no user's settings
#   change the test) and waits until it manages windows. Sets wm_pid; returns 1 when it
#   did not start.
# wait_for TENTHS COMMAND [ARGS...]
#   Runs the command every tenth of a second until it succeeds, at most TENTHS times, then
#   once more, returning its status.

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing: skipped"; exit 77; }
    done
}

open_session() {
    work="$(mktemp -d)"
    app_pid=""
    wm_pid=""
    xvfb_pid=""
    trap close_session EXIT
}

close_session() {
    local pid
    for pid in "$app_pid" "$wm_pid" "$xvfb_pid"; do
        [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}

wait_for() {
    local tenths="$1"
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

start_private_xvfb() {
    local first="$1" last="$2" size="$3" log="$4" n display=""
    for n in $(seq "$first" "$last"); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display="$n"
            break
        fi
    done
    [ -n "$display" ] || { echo "no free display number in $first-$last" >&2; return 1; }
    # -noreset: the server otherwise resets each time its last client leaves, and a
    # program started in that moment is refused.
    Xvfb ":$display" -screen 0 "$size" -nolisten tcp -noreset >"$log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display"
    for _ in $(seq 200); do
        [ -e "/tmp/.X11-unix/X$display" ] && return 0
        sleep 0.05
    done
    echo "Xvfb did not start on :$display" >&2
    return 1
}

start_window_manager() {
    local wm="$1"
    [ "$wm" != bare ] || return 0
    HOME="$work" "$wm" >"$work/$wm.txt" 2>&1 &
    wm_pid=$!
    # Until it has said on the root window that it runs, and a moment more: it says so
    # before it manages new windows.
    wm_runs() { xdotool get_desktop >/dev/null 2>&1; }
    wait_for 100 wm_runs || { echo "$wm did not start" >&2; return 1; }
    sleep 1.5
}
