#!/usr/bin/env bash
# The program with the real player, on a private Xvfb (bare, then under openbox), playing
# one video of each kind that real browser caches hold: a whole Chromium body (played in
# place at its offset), a Chromium entry in pieces (rebuilt into a file of its own) and a
# Firefox entry. Each cache folder given to the program holds only that entry, so the
# list has one row; a click selects it, Enter plays it, and the picture must show and move
# in the window. Skips (77) without the caches, Xvfb, mplayer, xdotool or openbox.
# Usage: PlayRealCaches.sh PROGRAM GRAB_WINDOW CACHES_DIR
# RV_DISPLAYS="FIRST LAST" picks the display numbers to try (default 300 399).
set -u
program="$1"
grab="$2"
caches="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

source "$here/../support/display-session.sh"
[ -f "$caches/stamp" ] || { echo "no browser caches in $caches: skipped"; exit 77; }
need_tools Xvfb mplayer xdotool openbox python3

open_session
case_name=""
fail() {
    echo "FAIL ($case_name): $*"
    echo "--- log:"
    tail -n 30 "$work/run/reelvault.log" 2>/dev/null
    echo "--- output:"
    tail -n 30 "$work/run/out.txt" 2>/dev/null
    exit 1
}

read -r first last <<<"${RV_DISPLAYS:-300 399}"
start_private_xvfb "$first" "$last" 1024x768x24 "$work/xvfb.txt" || fail "no display"

# one_entry NAME CACHE URL_PATH: a cache folder of NAME holding only that entry.
one_entry() {
    local name="$1" cache="$2" path="$3" files file from to
    files="$(python3 "$here/check-caches.py" "$caches" --files "$cache" "$path")" ||
        fail "no entry for $path in $cache"
    if [ "$cache" = firefox ]; then
        from="$caches/firefox/cache2"
        to="$work/$name/cache2"
    else
        from="$caches/$cache/Cache_Data"
        to="$work/$name/Cache_Data"
    fi
    mkdir -p "$to/entries"
    cp "$from/index" "$to/"
    for file in $files; do
        cp "$from/$file" "$to/$file"
    done
    [ "$cache" = firefox ] || rmdir "$to/entries"
    echo "$to"
}

field() { echo "$1" | cut -d' ' -f"$2"; }
look() { "$grab" "$window"; }
player_running() { pgrep -P "$app_pid" -x mplayer >/dev/null; }
no_player() { ! player_running; }
program_ended() { ! kill -0 "$app_pid" 2>/dev/null; }
# The list alone leaves the window mostly light; a video shows as dark and moving.
playing_shows_video() {
    local now
    now="$(look)"
    [ "$(field "$now" 5)" -lt 860 ] && [ "$(field "$now" 6)" -lt 500 ]
}
moving() {
    local a b
    a="$(look)"; sleep 0.3; b="$(look)"
    [ "$(field "$a" 7)" != "$(field "$b" 7)" ]
}

# play NAME FOLDER: the program over FOLDER, its one row played by the real player.
play() {
    case_name="$1"
    local folder="$2"
    rm -rf "$work/run"
    mkdir -p "$work/run"
    cp "$program" "$work/run/reelvault"
    # Only what the window needs; everything else as a new user has it.
    printf '[frmMain]\nAppWidth=480\nAppHeight=360\nAppPositionX=20\nAppPositionY=20\n[Logging]\nLogToFile=1\n[Mplayer]\nInstance=mplayer\n[Opera]\nCacheDir=%s\n' \
        "$folder" >"$work/run/reelvault.ini"
    # Rebuilt bodies go to a private folder of this run's own.
    mkdir -p -m 700 "$work/run/runtime"
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run/runtime" "$work/run/reelvault" >"$work/run/out.txt" 2>&1 &
    app_pid=$!
    started() { grep -q "Application started" "$work/run/reelvault.log" 2>/dev/null; }
    wait_for 150 started || fail "no \"Application started\""
    window="$(wait_for 50 xdotool search --onlyvisible --name '^Reelvault$' | head -n 1)"
    [ -n "$window" ] || fail "no window titled Reelvault"
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    sleep 0.5
    [ "$(field "$(look)" 6)" -gt 500 ] || fail "the list does not show: $(look)"
    xdotool mousemove --window "$window" 60 52 click 1
    xdotool mousemove 1020 4
    xdotool key --clearmodifiers Return
    wait_for 100 player_running || fail "Enter on the row started no player"
    wait_for 100 playing_shows_video || fail "no video in the window: $(look)"
    wait_for 10 moving || fail "the picture does not move"
    xdotool key --clearmodifiers Return
    wait_for 100 no_player || fail "Enter did not stop the player"
    xdotool key --clearmodifiers Escape
    wait_for 100 program_ended || fail "Esc did not close the program"
    wait "$app_pid"
    local status=$?
    app_pid=""
    [ "$status" -eq 0 ] || fail "exit status $status"
    echo "played: $case_name"
}

whole="$(one_entry chromium-whole chromium /big-moov-last.mp4)"
pieces="$(one_entry chromium-pieces chromium /big-moov-first.mp4)"
firefox="$(one_entry firefox firefox /clip.webm)"
[ -n "$whole" ] && [ -n "$pieces" ] && [ -n "$firefox" ] || fail "entries missing"

for wm in bare openbox; do
    start_window_manager "$wm" || fail "no window manager"
    play "chromium whole body, $wm" "$whole"
    play "chromium pieces, $wm" "$pieces"
    play "firefox entry, $wm" "$firefox"
done
echo "PASS"
