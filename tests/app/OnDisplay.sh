#!/usr/bin/env bash
# Runs a command on a private Xvfb, bare or with a window manager, and tells it which in
# REELVAULT_TEST_WM. Skips (77) where Xvfb, xdotool or the window manager is missing.
# Usage: OnDisplay.sh bare|openbox COMMAND [ARGS...]
set -u
wm="$1"
shift

for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing: skipped"; exit 77; }
done
if [ "$wm" != bare ]; then
    command -v "$wm" >/dev/null 2>&1 || { echo "$wm missing: skipped"; exit 77; }
fi

work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/private-xvfb.sh"
start_private_xvfb 300 399 1280x800x24 "$work/xvfb.txt" || exit 1
if [ "$wm" != bare ]; then
    # A configuration of its own: no user's or system's settings change the test.
    HOME="$work" "$wm" >"$work/wm.txt" 2>&1 &
    wm_pid=$!
fi
export REELVAULT_TEST_WM="$wm" QT_QPA_PLATFORM=xcb
"$@"
