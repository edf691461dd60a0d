#!/usr/bin/env bash
# The program with the real player, on a private Xvfb (bare, then under openbox), playing
# one video of each kind that real browser caches hold: a whole Chromium body (played in
# place at its offset), a Chromium entry in pieces (rebuilt into a file of its own) and a
# Firefox entry; then each adaptive stream each browser holds, joined into one file. Each
# cache folder given to the program holds only that video's entries, so the list has one
# row; a click selects it, Enter plays it, and the picture must show and move in the
# window. A stream must also sound: the player finds, in the home it is run with, an
# audio output to a file, which must not be silent and hold about the seconds played.
# That output is paced by the picture rather than the clock, so the picture may run ahead
# of real time: the seconds heard must be at least half those played, and no more than
# the stream's 20.
# Skips (77) without the caches, Xvfb, mplayer, xdotool or openbox.
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

# entries NAME CACHE URL_PATH...: a cache folder of NAME holding only those entries.
entries() {
    local name="$1" cache="$2" files file from to
    shift 2
    files="$(python3 "$here/check-caches.py" "$caches" --files "$cache" "$@")" ||
        fail "no entries for $* in $cache"
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
# Text or the choice's colour in the list's first row (window coordinates 4-140, 72-86),
# below the column titles.
first_row_shown() {
    "$grab" "$window" "$work/run/grab.ppm" >/dev/null || return 1
    python3 - "$work/run/grab.ppm" <<'EOF'
import sys
head, _, pixels = open(sys.argv[1], "rb").read().partition(b"\n255\n")
width, height = map(int, head.split()[1:3])
dark = sum(1 for y in range(72, min(87, height)) for x in range(4, min(141, width))
           if min(pixels[(y * width + x) * 3 : (y * width + x) * 3 + 3]) < 150)
sys.exit(0 if dark > 20 else 1)
EOF
}
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

# The seconds and the RMS of the float samples (format 3) in the WAV file $1.
wav_seconds_rms() {
    python3 - "$1" <<'EOF'
import math, struct, sys
data = open(sys.argv[1], "rb").read()
at, fmt, samples = 12, None, b""
while at + 8 <= len(data):
    tag, size = struct.unpack_from("<4sI", data, at)
    if tag == b"fmt ":
        fmt = struct.unpack_from("<HHI", data, at + 8)
    elif tag == b"data":
        samples = data[at + 8 : at + 8 + size]  # shorter where the player was cut off
        break
    at += 8 + size + (size & 1)
if fmt is None or fmt[0] != 3:
    sys.exit(f"not a WAV of float samples: {fmt}")
values = struct.unpack(f"<{len(samples) // 4}f", samples[: len(samples) // 4 * 4])
rms = math.sqrt(sum(v * v for v in values) / len(values)) if values else 0.0
print(f"{len(values) / fmt[1] / fmt[2]:.2f} {rms:.4f}")
EOF
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# play NAME FOLDER [SECONDS]: the program over FOLDER, its one row played by the real
# player and stopped with Enter; with SECONDS (the stream's length), for a few seconds,
# and it must sound.
play() {
    case_name="$1"
    local folder="$2" seconds="${3:-}" since played heard
    rm -rf "$work/run"
    mkdir -p "$work/run/home/.mplayer"
    # The player's own settings, not the program's, send its sound to a file.
    echo "ao=pcm:file=$work/run/sound.wav" >"$work/run/home/.mplayer/config"
    cp "$program" "$work/run/reelvault"
    # Only what the window needs; everything else as a new user has it.
    printf '[frmMain]\nAppWidth=480\nAppHeight=360\nAppPositionX=20\nAppPositionY=20\n[Logging]\nLogToFile=1\n[Mplayer]\nInstance=mplayer\n[Opera]\nCacheDir=%s\n' \
        "$folder" >"$work/run/reelvault.ini"
    # Rebuilt bodies go to a private folder of this run's own.
    mkdir -p -m 700 "$work/run/runtime"
    HOME="$work/run/home" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run/runtime" \
        "$work/run/reelvault" >"$work/run/out.txt" 2>&1 &
    app_pid=$!
    started() { grep -q "Application started" "$work/run/reelvault.log" 2>/dev/null; }
    wait_for 150 started || fail "no \"Application started\""
    window="$(wait_for 50 xdotool search --onlyvisible --name '^Reelvault$' | head -n 1)"
    [ -n "$window" ] || fail "no window titled Reelvault"
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    sleep 0.5
    [ "$(field "$(look)" 6)" -gt 500 ] || fail "the list does not show: $(look)"
    # The scan runs beside the window: its row comes when the scan is done, which a busy
    # machine may make a moment after the list shows. The click chooses it (a click higher
    # up would land on the column titles and sort instead).
    wait_for 100 first_row_shown || fail "the list shows no row"
    xdotool mousemove --window "$window" 60 78 click 1
    xdotool mousemove 1020 4
    xdotool key --clearmodifiers Return
    wait_for 100 player_running || fail "Enter on the row started no player"
    since="$(now_ms)"
    wait_for 100 playing_shows_video || fail "no video in the window: $(look)"
    wait_for 10 moving || fail "the picture does not move"
    [ -z "$seconds" ] || sleep 1
    xdotool key --clearmodifiers Return
    wait_for 100 no_player || fail "Enter did not stop the player"
    played="$(($(now_ms) - since))"
    xdotool key --clearmodifiers Escape
    wait_for 100 program_ended || fail "Esc did not close the program"
    wait "$app_pid"
    local status=$?
    app_pid=""
    [ "$status" -eq 0 ] || fail "exit status $status"
    if [ -n "$seconds" ]; then
        heard="$(wav_seconds_rms "$work/run/sound.wav")" || fail "no sound written"
        python3 -c "import sys; s, r, p, n = map(float, sys.argv[1:]); sys.exit(not (p / 2000 <= s <= n + 0.5 and r > 0.01))" \
            $heard "$played" "$seconds" || fail "sound of $heard (seconds, RMS) in $played ms played"
        echo "played: $case_name, $played ms, sound of $(field "$heard" 1) s at RMS $(field "$heard" 2)"
    else
        echo "played: $case_name"
    fi
}

whole="$(entries chromium-whole chromium /big-moov-last.mp4)"
pieces="$(entries chromium-pieces chromium /big-moov-first.mp4)"
firefox="$(entries firefox firefox /clip.webm)"
[ -n "$whole" ] && [ -n "$pieces" ] && [ -n "$firefox" ] || fail "entries missing"
# Every file of each stream a browser keeps (Firefox: none of a track fetched in ranges).
declare -A streams=()
for cache in chromium firefox; do
    for stream in hls-ts hls-fmp4 dash dash-ondemand; do
        paths="$(awk -F'\t' -v s="$stream" -v ff="${cache/chromium/}" \
            '$7 == s && !(ff && $8 == "track") { print $2 }' "$caches/manifest.tsv")"
        grep -qv '\.m3u8$\|\.mpd$' <<<"$paths" || continue
        # shellcheck disable=SC2086
        streams["$cache $stream"]="$(entries "$cache-$stream" "$cache" $paths)" ||
            fail "entries of $stream missing"
    done
done
mapfile -t names < <(printf '%s\n' "${!streams[@]}" | sort)

for wm in bare openbox; do
    start_window_manager "$wm" || fail "no window manager"
    play "chromium whole body, $wm" "$whole"
    play "chromium pieces, $wm" "$pieces"
    play "firefox entry, $wm" "$firefox"
    for name in "${names[@]}"; do
        play "$name, $wm" "${streams[$name]}" 20
    done
done
echo "PASS"
