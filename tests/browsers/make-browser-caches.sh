#!/usr/bin/env bash
# Makes real browser caches to test the cache readers on: a few videos (MP4 with its
# index first and last, WebM; each above the program's default minimal size of 300 kB,
# three of them a few MB), two files of that size that are not video, and four adaptive
# streams (make-streams.py: HLS over MPEG-TS and over fMP4, DASH in segments, DASH
# on-demand in byte ranges) played by hls.js and dash.js from the npm registry, all served
# from 127.0.0.1 by serve.py to a page of <video> elements that Debian's Chromium and
# Firefox ESR load headless. Some videos answer Range requests with 206 (Chromium stores
# them in pieces, `_s`), the others always with 200 and the whole file.
#
# Usage: make-browser-caches.sh OUTDIR
# OUTDIR receives:
#   chromium/Cache_Data       Chromium's cache after a clean close (its end records written)
#   chromium-open/Cache_Data  the same cache copied while Chromium was still running
#   firefox/cache2            Firefox's cache after a clean close
#   site/                     the files as served (hls.js and dash.js in site/lib)
#   manifest.tsv              PATH URL_PATH CONTENT_TYPE BYTES MODE KIND STREAM ROLE TRACK
#                             ORDER, one file a line, tab-separated
#                             (MODE "range": Range answered with 206; "whole": always 200;
#                             "stall": 200, only the first half sent, never ended;
#                             KIND "video", "stream" (a file of a stream) or "other";
#                             STREAM ROLE TRACK ORDER as make-streams.py says, "-" for
#                             files of no stream)
#   served.log                BROWSER PATH STATUS START END SENT, one response a line
#   stamp                     what the output was made from; a run with the same stamp
#                             reuses the output
# Exits 77 when a browser, ffmpeg, python3 or npm is missing; prints what it did on failure.
set -euo pipefail

out="${1:?usage: make-browser-caches.sh OUTDIR}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# How long the browsers get to fetch every video and stream before the caches are taken as they are.
fetch_seconds="${RV_BROWSER_FETCH_SECONDS:-40}"
# The web players, pinned so that the same script makes the same caches.
players=(hls.js@1.7.4 dashjs@5.2.1)

for tool in chromium firefox-esr ffmpeg python3 setsid npm; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "make-browser-caches: $tool missing: skipped" >&2
        exit 77
    fi
done

stamp="$( (cat "$here/make-browser-caches.sh" "$here/serve.py" "$here/make-streams.py" \
    "$here/play-streams.js"
    chromium --version 2>/dev/null; firefox-esr --version 2>/dev/null
    ffmpeg -version 2>/dev/null | head -n 1) | sha256sum | cut -d' ' -f1)"
if [ -f "$out/stamp" ] && [ "$(cat "$out/stamp")" = "$stamp" ]; then
    echo "make-browser-caches: reusing $out" >&2
    exit 0
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/rv-browsers.XXXXXX")"
# Each background process leads a process group of its own, so that it goes with all it
# started (a browser's renderers, its zygote) on every way out of this script.
groups=()
stop_group() {
    local group="$1" signal="$2" tenths="$3"
    kill -"$signal" -- "-$group" 2>/dev/null || return 0
    for _ in $(seq "$tenths"); do
        kill -0 -- "-$group" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL -- "-$group" 2>/dev/null || true
}
cleanup() {
    local group
    for group in "${groups[@]}"; do
        stop_group "$group" KILL 20
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "make-browser-caches: FAIL: $*" >&2
    for f in npm.out server.out chromium.out firefox.out; do
        [ -s "$work/$f" ] && { echo "--- $f" >&2; tail -n 20 "$work/$f" >&2; }
    done
    [ -s "$work/served.log" ] && { echo "--- served.log" >&2; cat "$work/served.log" >&2; }
    exit 1
}

# start NAME COMMAND...: runs COMMAND in a new process group, output to $work/NAME.out.
start() {
    local name="$1"
    shift
    setsid "$@" >"$work/$name.out" 2>&1 </dev/null &
    groups+=("$!")
}

# ---- the files to serve
site="$work/site"
mkdir -p "$site"
enc=(ffmpeg -nostdin -v error -y)
src() { echo "$1=size=$2:rate=25,noise=alls=30:allf=t"; }
tone() { echo "sine=frequency=$1:sample_rate=44100"; }
x264=(-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 64k)
vp8=(-c:v libvpx -deadline realtime -cpu-used 8 -c:a libopus -b:a 48k)
"${enc[@]}" -f lavfi -i "$(src testsrc 160x120)" -f lavfi -i "$(tone 440)" -t 3 \
    "${x264[@]}" -crf 20 -movflags +faststart "$site/moov-first.mp4"
"${enc[@]}" -f lavfi -i "$(src testsrc2 160x120)" -f lavfi -i "$(tone 550)" -t 3 \
    "${x264[@]}" -crf 22 "$site/moov-last.mp4"
"${enc[@]}" -f lavfi -i "$(src smptebars 160x120)" -f lavfi -i "$(tone 660)" -t 3 \
    "${vp8[@]}" -b:v 1M "$site/clip.webm"
"${enc[@]}" -f lavfi -i "$(src testsrc 320x240)" -f lavfi -i "$(tone 330)" -t 4 \
    "${x264[@]}" -crf 18 "$site/big-moov-last.mp4"
"${enc[@]}" -i "$site/big-moov-last.mp4" -c copy -movflags +faststart "$site/big-moov-first.mp4"
"${enc[@]}" -f lavfi -i "$(src smptebars 320x240)" -f lavfi -i "$(tone 770)" -t 4 \
    "${vp8[@]}" -b:v 5M "$site/big.webm"
"${enc[@]}" -f lavfi -i "$(src testsrc2 320x240)" -f lavfi -i "$(tone 880)" -t 4 \
    "${vp8[@]}" -b:v 2M "$site/partial.webm"
"${enc[@]}" -f lavfi -i "testsrc=size=480x360,noise=alls=100:allf=u" -frames:v 1 \
    -pix_fmt rgb24 "$site/photo.png"
python3 - "$site/app.js" <<'EOF'
import random, sys
random.seed(11)
with open(sys.argv[1], "w") as f:
    f.write("// large enough to pass any minimal size\n")
    for n in range(5000):
        f.write("var v%d = '%s';\n" % (n, "".join(random.choice("abcdef") for _ in range(70))))
EOF

# PATH CONTENT_TYPE MODE KIND [STREAM ROLE TRACK ORDER]
# Only videos that play from their first byte on are served in ranges: the player of an
# MP4 whose index is at the end asks for the end before the first answer is complete,
# and Chromium then drops the whole entry now and then, which would make the caches
# differ from run to run.
cat >"$work/plan.txt" <<'EOF'
moov-first.mp4 video/mp4 range video
moov-last.mp4 video/mp4 whole video
clip.webm video/webm range video
big-moov-first.mp4 video/mp4 range video
big-moov-last.mp4 video/mp4 whole video
big.webm video/webm whole video
partial.webm video/webm stall video
app.js text/javascript whole other
photo.png image/png whole other
play-streams.js text/javascript whole other
EOF
cp "$here/play-streams.js" "$site/"
# The packages are large (every build of each player); only the two files served are kept.
npm install --no-save --no-audit --no-fund --ignore-scripts --prefix "$work/npm" \
    "${players[@]}" >"$work/npm.out" 2>&1 || fail "npm could not install ${players[*]}"
python3 "$here/make-streams.py" "$site" "$work/npm/node_modules" >>"$work/plan.txt" ||
    fail "the streams were not made"
{
    echo '<!doctype html><html><head><meta charset="utf-8"><title>videos</title>'
    echo '<script src="app.js"></script><script src="lib/hls.min.js"></script>'
    echo '<script src="lib/dash.all.min.js"></script></head><body><img src="photo.png">'
    while read -r path _ _ kind _ role _; do
        case "$kind/$role" in
        video/*) echo "<video preload=\"auto\" autoplay muted src=\"$path\"></video>" ;;
        stream/master) echo "<video autoplay muted data-hls=\"$path\"></video>" ;;
        stream/mpd) echo "<video autoplay muted data-dash=\"$path\"></video>" ;;
        esac
    done <"$work/plan.txt"
    echo '<script src="play-streams.js"></script></body></html>'
} >"$site/index.html"

# ---- the server
mkdir -p "$work/done"
start server python3 "$here/serve.py" "$site" "$work/plan.txt" "$work/port" "$work/served.log" \
    "$work/done"
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || fail "the server did not start"
url="http://127.0.0.1:$(cat "$work/port")/index.html"

# ---- the browsers, side by side, each in a home of its own. Any address but the
# loopback one goes to a port where nothing listens, so nothing leaves the machine.
chome="$work/chromium-home"
mkdir -p "$chome"
start chromium env HOME="$chome" XDG_CACHE_HOME="$chome/cache" XDG_CONFIG_HOME="$chome/config" \
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-breakpad --no-default-browser-check --autoplay-policy=no-user-gesture-required \
    --user-data-dir="$chome/profile" --proxy-server=http://127.0.0.1:9 \
    --host-resolver-rules="MAP * ~NOTFOUND , EXCLUDE 127.0.0.1" "$url"
chromium_group="${groups[-1]}"

fhome="$work/firefox-home"
mkdir -p "$fhome/profile" "$fhome/cache"
cat >"$fhome/profile/user.js" <<EOF
user_pref("browser.cache.disk.enable", true);
user_pref("browser.cache.disk.parent_directory", "$fhome/cache");
user_pref("browser.cache.disk.smart_size.enabled", false);
user_pref("browser.cache.disk.capacity", 1048576);
user_pref("media.autoplay.default", 0);
user_pref("media.autoplay.blocking_policy", 0);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("startup.homepage_welcome_url", "");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.disabledForTesting", true);
user_pref("app.normandy.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.allow_hijacking_localhost", false);
user_pref("network.proxy.no_proxies_on", "127.0.0.1");
user_pref("services.settings.server", "http://127.0.0.1:9/");
user_pref("browser.sessionstore.resume_from_crash", false);
EOF
start firefox env HOME="$fhome" XDG_CACHE_HOME="$fhome/xdg-cache" MOZ_CRASHREPORTER_DISABLE=1 \
    firefox-esr --headless --no-remote --profile "$fhome/profile" "$url"
firefox_group="${groups[-1]}"

for _ in $(seq $((fetch_seconds * 5))); do
    [ -f "$work/done/chromium" ] && [ -f "$work/done/firefox" ] && break
    sleep 0.2
done
for b in chromium firefox; do
    [ -f "$work/done/$b" ] ||
        echo "make-browser-caches: $b did not fetch every video and stream whole" >&2
done
# Let the last writes reach the caches.
sleep 1

cdata="$(find "$chome" -type d -name Cache_Data | head -n 1)"
[ -n "$cdata" ] || fail "Chromium made no Cache_Data"
mkdir -p "$work/out/chromium-open"
cp -a "$cdata" "$work/out/chromium-open/"

# The stalled download drops, then the browsers settle what they have of it.
touch "$work/done/release"
sleep 2

# A clean close: Chromium and Firefox both shut down on SIGTERM, closing their cache
# entries (Chromium then writes each entry's end records).
stop_group "$chromium_group" TERM 150
stop_group "$firefox_group" TERM 150
mkdir -p "$work/out/chromium" "$work/out/firefox"
cp -a "$cdata" "$work/out/chromium/"
fcache="$(find "$fhome" -type d -name cache2 | head -n 1)"
[ -n "$fcache" ] || fail "Firefox made no cache2"
cp -a "$fcache" "$work/out/firefox/"

stop_group "${groups[0]}" TERM 20
cp -a "$site" "$work/out/site"
cp "$work/served.log" "$work/out/served.log"
while read -r path type mode kind stream role track order; do
    printf '%s\t/%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "site/$path" "$path" "$type" \
        "$(stat -c %s "$site/$path")" "$mode" "$kind" "${stream:--}" "${role:--}" \
        "${track:--}" "${order:--}"
done <"$work/plan.txt" >"$work/out/manifest.tsv"
echo "$stamp" >"$work/out/stamp"

rm -rf "$out"
mkdir -p "$(dirname "$out")"
mv "$work/out" "$out"
echo "make-browser-caches: made $out" >&2
