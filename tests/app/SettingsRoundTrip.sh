#!/usr/bin/env bash
# Starts the program under a private Xvfb beside a prepared settings file, closes its
# window like a window manager would, and checks what it wrote back.
# Usage: SettingsRoundTrip.sh PROGRAM CLOSE_WINDOW
set -u
program="$1"
close_window="$2"

source "$(dirname "${BASH_SOURCE[0]}")/../support/display-session.sh"
need_tools Xvfb

open_session
fail() { echo "FAIL: $*"; echo "--- ini:"; cat "$work/reelvault.ini"; exit 1; }

start_private_xvfb 120 199 1280x800x24 "$work/xvfb.txt" || exit 1

# The program keeps its files beside itself: give it a folder of its own.
cp "$program" "$work/reelvault"
printf '; kept\r\n[Foreign]\r\nx = y\r\n[frmMain]\r\nAppWidth=500\r\nAppHeight=400\r\nAppPositionX=40\r\nAppPositionY=50\r\n[Logging]\r\nLogToFile=1\r\n' \
    >"$work/reelvault.ini"

QT_QPA_PLATFORM=xcb "$work/reelvault" >"$work/out.txt" 2>&1 &
app_pid=$!

closed=""
for _ in $(seq 100); do
    sleep 0.1
    kill -0 "$app_pid" 2>/dev/null || fail "program ended early: $(cat "$work/out.txt")"
    if grep -q "Application started" "$work/reelvault.log" 2>/dev/null &&
        "$close_window" Reelvault; then
        closed=yes
        break
    fi
done
[ -n "$closed" ] || fail "no window titled Reelvault appeared"
for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "program did not end after its window was closed"
wait "$app_pid"
status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/out.txt")"

ini="$work/reelvault.ini"
for key in AppWidth AppHeight AppPositionX AppPositionY Maximized AlwaysOnTop \
    ExitFullScreenOnStop LogToFile MaxUiLogLines Instance CacheDir MinimalFileSize UseOnlyG_XXXX; do
    grep -q "^$key=" "$ini" || fail "key $key missing"
done
grep -q $'^Maximized=0\r$' "$ini" || fail "Maximized is not 0"
grep -q $'^AppWidth=500\r$' "$ini" || fail "AppWidth changed"
grep -q $'^AppHeight=400\r$' "$ini" || fail "AppHeight changed"
grep -q $'^Instance=mplayer\r$' "$ini" || fail "Instance is not the default"
kept=$'; kept\r\n[Foreign]\r\nx = y\r\n[frmMain]\r\nAppWidth=500\r\n'
head -c "${#kept}" "$ini" | cmp -s - <(printf '%s' "$kept") || fail "foreign section or comment lost"
grep -q $'[^\r]$' <(grep -v '^$' "$ini") && fail "a line lost its CR LF"
echo "PASS"
