#!/usr/bin/env python3
"""Makes the adaptive streams of the browser cache fixture: four 20 s streams with sound,
2 s segments, each packaged by ffmpeg in a folder of SITE named after its kind, and puts
the web players they are played with under SITE/lib.

  hls-ts/master.m3u8 -> v/media.m3u8 -> v/seg00.ts ... (video and sound in each segment)
  hls-fmp4/master.m3u8 -> v/media.m3u8 -> v/init.mp4 (EXT-X-MAP), v/seg00.m4s ...
  dash/stream.mpd -> init-0.mp4, seg-0-1.m4s ... (video); init-1.mp4, seg-1-1.m4s ... (sound)
      (SegmentTemplate, $Number$ from 1)
  dash-ondemand/stream.mpd -> track-0.mp4 (video), track-1.mp4 (sound), each one file with
      a sidx index after its moov (SegmentBase), fetched in byte ranges

Usage: make-streams.py SITE NODE_MODULES
Prints one plan line per file served, in playlist order:
  PATH TYPE MODE KIND STREAM ROLE TRACK ORDER
KIND is "stream" for the streams' files ("other" for the players); STREAM the stream's
kind (its folder); ROLE "master", "playlist", "mpd", "init", "segment", or "track" (a whole
track fetched in ranges); TRACK "av" (both in one), "video" or "audio"; ORDER a segment's
place in its track's list from 0, "-" for the rest.
"""
import math
import os
import re
import shutil
import struct
import subprocess
import sys

SECONDS = 20
SEGMENT = 2
SEGMENTS = math.ceil(SECONDS / SEGMENT)

site, node_modules = sys.argv[1:3]
plan = []


def serve(path, ctype, kind="stream", stream="-", role="-", track="-", order="-", mode="range"):
    if not os.path.isfile(os.path.join(site, path)):
        sys.exit(f"make-streams: {path} was not made")
    plan.append(" ".join((path, ctype, mode, kind, stream, role, track, str(order))))


def ffmpeg(*args, cwd):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args], cwd=cwd, check=True)


def master_source(folder, picture, tone):
    """A clip of the stream's length with a keyframe every segment, its picture noisy
    enough for a bitrate of the web's (a one-file track then spans many of Chromium's
    pieces). The sound is a little shorter than the picture: the encoder's priming would
    otherwise leave a last sliver of sound that the DASH packager puts into a segment no
    player asks for."""
    os.makedirs(folder, exist_ok=True)
    ffmpeg("-f", "lavfi", "-i", f"{picture}=size=320x240:rate=25,noise=alls=12:allf=t",
           "-f", "lavfi", "-i", f"sine=frequency={tone}:sample_rate=44100:duration={SECONDS - 0.1}",
           "-t", str(SECONDS), "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
           "-g", str(25 * SEGMENT), "-keyint_min", str(25 * SEGMENT), "-sc_threshold", "0",
           "-b:v", "400k", "-maxrate", "400k", "-bufsize", "800k", "-c:a", "aac", "-b:a", "64k", "source.mp4", cwd=folder)


def hls(stream, picture, tone, fmp4):
    folder = os.path.join(site, stream)
    master_source(folder, picture, tone)
    os.makedirs(os.path.join(folder, "v"))
    kind = ["-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4"] if fmp4 else []
    ffmpeg("-i", "source.mp4", "-c", "copy", "-f", "hls", "-hls_time", str(SEGMENT),
           "-hls_playlist_type", "vod", *kind,
           "-hls_segment_filename", "v/seg%02d." + ("m4s" if fmp4 else "ts"),
           "-master_pl_name", "master.m3u8", "v/media.m3u8", cwd=folder)
    # The media playlist one folder down from the master, as sites often have it.
    with open(os.path.join(folder, "v", "master.m3u8")) as f:
        master = f.read().replace("\nmedia.m3u8", "\nv/media.m3u8")
    with open(os.path.join(folder, "master.m3u8"), "w") as f:
        f.write(master)
    os.remove(os.path.join(folder, "v", "master.m3u8"))
    os.remove(os.path.join(folder, "source.mp4"))
    playlist_type = "application/vnd.apple.mpegurl"
    serve(f"{stream}/master.m3u8", playlist_type, stream=stream, role="master")
    serve(f"{stream}/v/media.m3u8", playlist_type, stream=stream, role="playlist")
    with open(os.path.join(folder, "v", "media.m3u8")) as f:
        media = f.read()
    init = re.search(r'#EXT-X-MAP:URI="([^"]+)"', media)
    if init:
        serve(f"{stream}/v/{init.group(1)}", "video/mp4", stream=stream, role="init",
              track="av")
    segments = [l for l in media.splitlines() if l and not l.startswith("#")]
    if len(segments) != SEGMENTS:
        sys.exit(f"make-streams: {stream} has {len(segments)} segments")
    for order, name in enumerate(segments):
        serve(f"{stream}/v/{name}", "video/iso.segment" if fmp4 else "video/mp2t",
              stream=stream, role="segment", track="av", order=order)


def dash(stream, picture, tone, on_demand):
    folder = os.path.join(site, stream)
    master_source(folder, picture, tone)
    layout = (["-single_file", "1", "-global_sidx", "1",
               "-single_file_name", "track-$RepresentationID$.mp4"] if on_demand else
              ["-init_seg_name", "init-$RepresentationID$.mp4",
               "-media_seg_name", "seg-$RepresentationID$-$Number$.m4s"])
    ffmpeg("-i", "source.mp4", "-c", "copy", "-f", "dash", "-seg_duration", str(SEGMENT),
           "-use_template", "0" if on_demand else "1", "-use_timeline", "0", *layout,
           "-adaptation_sets", "id=0,streams=v id=1,streams=a", "stream.mpd", cwd=folder)
    os.remove(os.path.join(folder, "source.mp4"))
    if on_demand:
        on_demand_mpd(folder)
    serve(f"{stream}/stream.mpd", "application/dash+xml", stream=stream, role="mpd")
    for rep, track in (("0", "video"), ("1", "audio")):
        if on_demand:
            serve(f"{stream}/track-{rep}.mp4", f"{track}/mp4", stream=stream, role="track",
                  track=track)
            continue
        serve(f"{stream}/init-{rep}.mp4", f"{track}/mp4", stream=stream, role="init",
              track=track)
        for order in range(SEGMENTS):
            serve(f"{stream}/seg-{rep}-{order + 1}.m4s",
                  "video/iso.segment" if track == "video" else "audio/mp4",
                  stream=stream, role="segment", track=track, order=order)


def top_level_boxes(path):
    """(type, start, end) of each top-level box of an MP4 file."""
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while at + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, at)
        if size == 1:
            (size,) = struct.unpack_from(">Q", data, at + 8)
        if size < 8:
            break
        yield kind.decode("latin-1"), at, at + size
        at += size


def on_demand_mpd(folder):
    """ffmpeg's packager describes one-file tracks by a list of byte ranges; players of
    on-demand streams read the sidx index instead, so the manifest says where it is."""
    path = os.path.join(folder, "stream.mpd")
    with open(path) as f:
        mpd = f.read()

    def segment_base(match):
        boxes = {kind: (start, end) for kind, start, end in
                 top_level_boxes(os.path.join(folder, match.group(2)))}
        if "moov" not in boxes or "sidx" not in boxes:
            sys.exit(f"make-streams: {match.group(2)} has no moov or no sidx")
        index = boxes["sidx"]
        return (f'{match.group(1)}<SegmentBase indexRange="{index[0]}-{index[1] - 1}">'
                f'<Initialization range="0-{boxes["moov"][1] - 1}" /></SegmentBase>')

    mpd, count = re.subn(r"(<BaseURL>([^<]+)</BaseURL>\s*)<SegmentList.*?</SegmentList>",
                         segment_base, mpd, flags=re.S)
    if count != 2:
        sys.exit(f"make-streams: {count} single-file tracks in the on-demand manifest")
    with open(path, "w") as f:
        f.write(mpd.replace("isoff-live:2011", "isoff-on-demand:2011"))


hls("hls-ts", "testsrc", 440, fmp4=False)
hls("hls-fmp4", "testsrc2", 550, fmp4=True)
dash("dash", "smptebars", 660, on_demand=False)
dash("dash-ondemand", "rgbtestsrc", 770, on_demand=True)

os.makedirs(os.path.join(site, "lib"))
for package, dist in (("hls.js", "dist/hls.min.js"),
                      ("dashjs", "dist/modern/umd/dash.all.min.js")):
    name = os.path.basename(dist)
    shutil.copy(os.path.join(node_modules, package, dist), os.path.join(site, "lib", name))
    serve(f"lib/{name}", "text/javascript", kind="other", mode="whole")
print("\n".join(plan))
