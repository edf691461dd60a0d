#!/usr/bin/env bash
# The program with the real player under a private Xvfb, bare or under a window manager,
# driven by keys: a clip from a cache folder made here is played, paused, resumed, shown
# full screen, stopped, and the program is closed. The program runs with its default
# settings (always on top, 350x300 at 30,30) but for the cache folder it is shown and the
# log file the test reads. Skips (77) without Xvfb, mplayer, xdotool or the window manager.
# Usage: PlayEndToEnd.sh bare|openbox PROGRAM GRAB_WINDOW CLIP [SHOTS_DIR]
# With SHOTS_DIR, pictures of the window (PPM) are left there along the way.
set -u
wm="$1"
program="$2"
grab="$3"
clip="$4"
shots="${5:-}"

source "$(dirname "${BASH_SOURCE[0]}")/../support/display-session.sh"
need_tools Xvfb mplayer xdotool
[ "$wm" = bare ] || need_tools "$wm"

open_session
fail() {
    echo "FAIL: $*"
    echo "--- log:"
    tail -n 30 "$work/reelvault.log" 2>/dev/null
    echo "--- output:"
    tail -n 30 "$work/out.txt" 2>/dev/null
    exit 1
}

start_private_xvfb 200 299 1024x768x24 "$work/xvfb.txt" || fail "no display"
start_window_manager "$wm" || fail "no window manager"

mkdir -p "$work/cache/g_0001"
cp "$clip" "$work/cache/g_0001/0A1B2C3D"
cp "$program" "$work/reelvault"
printf '[Logging]\nLogToFile=1\n[Opera]\nCacheDir=%s\nMinimalFileSize=0\n' "$work/cache" \
    >"$work/reelvault.ini"

QT_QPA_PLATFORM=xcb "$work/reelvault" >"$work/out.txt" 2>&1 &
app_pid=$!

started() { grep -q "Application started" "$work/reelvault.log" 2>/dev/null; }
wait_for 150 started || fail "no \"Application started\""
window="$(wait_for 50 xdotool search --onlyvisible --name '^Reelvault$' | head -n 1)"
[ -n "$window" ] || fail "no window titled Reelvault"

# X Y W H BACKGROUND LIGHT HASH TOP LEFT of the window now (see grab_window); with a name,
# its picture is kept too.
look() {
    if [ -n "$shots" ] && [ -n "${1:-}" ]; then
        "$grab" "$window" "$shots/$1.ppm"
    else
        "$grab" "$window"
    fi
}
field() { echo "$1" | cut -d' ' -f"$2"; }
key() { xdotool key --clearmodifiers "$1"; }
# A player of ours is known by the cache folder in its command line.
player_running() { pgrep -f -- "$work/cache" >/dev/null; }
no_player() { ! player_running; }
program_ended() { ! kill -0 "$app_pid" 2>/dev/null; }

xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
sleep 0.5
stopped="$(look stopped)"
[ "$(field "$stopped" 1-4)" = "30 30 350 300" ] || fail "not the default bounds: $stopped"
[ "$(field "$stopped" 6)" -gt 500 ] || fail "the list does not show: $stopped"

# A click on the first row chooses it (the pointer then goes to a corner outside the
# window), Enter plays it.
xdotool mousemove --window "$window" 60 52 click 1
xdotool mousemove 1020 4
key Return
wait_for 100 player_running || fail "Enter on the first row started no player"
# The clip (160x120, 4:3) is scaled to the window (350x300) at its aspect: 350x263, with
# a bar of about 18 rows of the background above it (and one below, under the control
# bar) and none beside it. At its own size about 880 thousandths of the window were
# background; stretched to the window's shape, there was no bar.
letterboxed() {
    local now
    now="$(look)"
    [ "$(field "$now" 5)" -lt 150 ] && [ "$(field "$now" 6)" -lt 500 ] &&
        [ "$(field "$now" 8)" -ge 16 ] && [ "$(field "$now" 8)" -le 20 ] &&
        [ "$(field "$now" 9)" -eq 0 ]
}
playing_shows_video() { letterboxed; }
wait_for 100 playing_shows_video || fail "no video in the window: $(look)"
sleep 0.5
look playing >/dev/null

# Playing: the picture changes. Paused: it stays.
a="$(look)"; sleep 0.5; b="$(look)"
[ "$(field "$a" 7)" != "$(field "$b" 7)" ] || fail "the picture does not move while playing"
moving() {
    local first second
    first="$(look)"; sleep 0.5; second="$(look)"
    [ "$(field "$first" 7)" != "$(field "$second" 7)" ]
}
# A loaded machine may show a frame or two more before the player reads the pause.
still() { ! moving; }
key space
wait_for 10 still || fail "the picture moves while paused"
key space
wait_for 10 moving || fail "Space did not resume"

# The bar over the video (it stays until the mouse moves over the window).
look bar-over-video >/dev/null

key f
covers() { [ "$(look | cut -d' ' -f1-4)" = "0 0 1024 768" ]; }
wait_for 30 covers || fail "F does not cover the screen: $(look)"
# The screen (1024x768) has the clip's shape: the picture fills it, no bar (about 930
# thousandths were background at its own size).
fills_screen() {
    local now
    now="$(look)"
    [ "$(field "$now" 5)" -lt 50 ] && [ "$(field "$now" 8)" -le 1 ] && [ "$(field "$now" 9)" -le 1 ]
}
wait_for 20 fills_screen || fail "the picture does not fill the screen: $(look)"
look fullscreen >/dev/null
key Escape
back() { [ "$(look | cut -d' ' -f1-4)" = "30 30 350 300" ]; }
wait_for 30 back || fail "Esc does not leave full screen: $(look)"
kill -0 "$app_pid" 2>/dev/null || fail "Esc in full screen ended the program"
wait_for 30 letterboxed || fail "back in the window, the picture lost its aspect: $(look)"

key Return
wait_for 100 no_player || fail "Enter did not stop the player"
list_back() { [ "$(field "$(look)" 6)" -gt 500 ]; }
wait_for 50 list_back || fail "the list is not back: $(look)"

key Escape
wait_for 100 program_ended || fail "Esc did not close the program"
wait "$app_pid"
status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
player_running && fail "a player outlived the program"

ini="$work/reelvault.ini"
for k in AppWidth AppHeight AppPositionX AppPositionY Maximized AlwaysOnTop \
    ExitFullScreenOnStop LogToFile MaxUiLogLines Instance CacheDir MinimalFileSize UseOnlyG_XXXX; do
    grep -q "^$k=" "$ini" || fail "key $k missing"
done
grep -q '^Maximized=0' "$ini" || fail "Maximized is not 0"
grep -q '^AlwaysOnTop=1' "$ini" || fail "AlwaysOnTop is not the default 1"
# The player was given a window that exists all along.
grep -q 'BadWindow' "$work/reelvault.log" "$work/out.txt" && fail "the player was given a window that is gone"
echo "PASS"
