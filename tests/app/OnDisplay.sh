#!/usr/bin/env bash
# Runs a command on a private Xvfb, bare or with a window manager, and tells it which in
# REELVAULT_TEST_WM. Skips (77) where Xvfb, xdotool or the window manager is missing.
# Usage: OnDisplay.sh bare|openbox COMMAND [ARGS...]
set -u
wm="$1"
shift

source "$(dirname "${BASH_SOURCE[0]}")/../support/display-session.sh"
need_tools Xvfb xdotool
[ "$wm" = bare ] || need_tools "$wm"

open_session
start_private_xvfb 300 399 1280x800x24 "$work/xvfb.txt" || exit 1
start_window_manager "$wm" || exit 1
export REELVAULT_TEST_WM="$wm" QT_QPA_PLATFORM=xcb
"$@"
