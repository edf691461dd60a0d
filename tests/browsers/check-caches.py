#!/usr/bin/env python3
"""Reads the caches that make-browser-caches.sh made, by the byte layouts the program's
cache readers follow, and checks them against what was served: every video of the page
has one entry in each cache, its body is the served file byte for byte (whole, in
Chromium's pieces, or a beginning of it in Firefox), and nothing else in the caches is a
video. Of the adaptive streams, every playlist, manifest, init section and segment is
cached whole under its own address; the one-file tracks fetched in byte ranges are kept
by Chromium in pieces holding every byte, and not at all by Firefox. It prints what each
cache holds of each stream. This proves the fixture itself, independently of the
program's readers.

Usage: check-caches.py OUTDIR [--dump]
       check-caches.py OUTDIR --files CACHE URL_PATH...
The second form prints the names of the files of the entries of CACHE ("chromium",
"chromium-open" or "firefox") for those paths, one a line, relative to the cache folder.
"""
import collections
import os
import struct
import sys

CHROMIUM_MAGIC = 0xFCFB6D1BA7725C30
EOF_MAGIC = 0xF4FA6F45970D41D8
RANGE_MAGIC = 0xEB97BF016553676B

failures = []
notes = set()

# One line of the manifest, with the file's bytes.
Served = collections.namedtuple(
    "Served", "url_path ctype size mode kind stream role track order content")


def fail(text):
    failures.append(text)


def note(text):
    notes.add(text)


def url_of_chromium_key(key):
    return key.rsplit(" ", 1)[-1]


def parse_headers(raw):
    """Status line and lower-case header map from NUL- or CRLF-separated header lines."""
    lines = [l for l in raw.replace("\r\n", "\0").split("\0") if l]
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return (lines[0] if lines else ""), headers


def chromium_stream0(data):
    """The raw headers of a serialized response record, following its flag bits."""
    (payload,) = struct.unpack_from("<I", data, 0)
    at = 4
    (flags,) = struct.unpack_from("<i", data, at)
    at += 4
    extra = 0
    if flags & (1 << 31):
        (extra,) = struct.unpack_from("<i", data, at)
        at += 4
    at += 16  # request and response times
    if extra & (1 << 2):
        at += 8
    (length,) = struct.unpack_from("<i", data, at)
    at += 4
    raw = data[at : at + length].decode("latin-1")
    return raw, bool(flags & (1 << 12)), payload


def read_chromium(folder):
    """URL -> entry: {'closed', 'body' (bytes or None), 'ranges' [(offset, bytes)],
    'status', 'headers', 'truncated'}."""
    entries = {}
    with open(os.path.join(folder, "index"), "rb") as f:
        (magic,) = struct.unpack("<Q", f.read(8))
        if magic != CHROMIUM_MAGIC:
            fail(f"{folder}/index: magic {magic:#x}")
    for name in sorted(os.listdir(folder)):
        if not name.endswith("_0"):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        magic, version, key_length, _, _ = struct.unpack_from("<QIIII", data, 0)
        if magic != CHROMIUM_MAGIC or version != 5:
            fail(f"{name}: header magic {magic:#x} version {version}")
            continue
        key = data[24 : 24 + key_length].decode()
        entry = {"file": name, "key": key, "closed": False, "status": "", "headers": {},
                 "truncated": False, "ranges": []}
        end_magic, flags, _, size0, _ = struct.unpack_from("<QIIII", data, len(data) - 24)
        if end_magic == EOF_MAGIC:
            entry["closed"] = True
            start0 = len(data) - 24 - size0 - (32 if flags & 2 else 0)
            raw, truncated, _ = chromium_stream0(data[start0 : start0 + size0])
            entry["status"], entry["headers"] = parse_headers(raw)
            entry["truncated"] = truncated
            eof1 = start0 - 24
            magic1, _, _, size1, _ = struct.unpack_from("<QIIII", data, eof1)
            if magic1 != EOF_MAGIC:
                fail(f"{name}: no end record of stream 1 at {eof1}")
            if size1 == 0 and eof1 - 24 - key_length > 0:
                note("Chromium: stream 1's end record holds stream_size 0; its size comes "
                     "from the file size")
            elif size1 != eof1 - 24 - key_length:
                fail(f"{name}: stream 1 size {size1}, layout gives {eof1 - 24 - key_length}")
            entry["body"] = data[24 + key_length : eof1]
        else:
            entry["body"] = data[24 + key_length :]
        sparse = os.path.join(folder, name[:-2] + "_s")
        if os.path.exists(sparse):
            with open(sparse, "rb") as f:
                s = f.read()
            magic, version, klen, _, _ = struct.unpack_from("<QIIII", s, 0)
            if magic != CHROMIUM_MAGIC or version != 9 or s[24 : 24 + klen].decode() != key:
                fail(f"{name[:-2]}_s: header magic {magic:#x} version {version}")
            at = 24 + klen
            while at + 32 <= len(s):
                rmagic, offset, length, _, _ = struct.unpack_from("<QQQII", s, at)
                if rmagic != RANGE_MAGIC:
                    fail(f"{name[:-2]}_s: range magic {rmagic:#x} at {at}")
                    break
                entry["ranges"].append((offset, s[at + 32 : at + 32 + length]))
                at += 32 + length
            if at != len(s):
                fail(f"{name[:-2]}_s: {len(s) - at} bytes after the last range")
        entries[url_of_chromium_key(key)] = entry
    return entries


def read_firefox(folder):
    entries = {}
    folder = os.path.join(folder, "entries")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        if len(data) < 4:
            fail(f"firefox {name}: {len(data)} bytes")
            continue
        (offset,) = struct.unpack_from(">I", data, len(data) - 4)
        if offset + 4 + 32 > len(data):
            note("Firefox: an entry left open at shutdown has no metadata (its last four "
                 "bytes are not an offset within the file)")
            entries[name] = {"file": name, "key": "", "status": "", "headers": {},
                             "body": b"", "broken": True}
            continue
        chunks = (offset + 262143) // 262144
        at = offset + 4 + 2 * chunks
        version, _, _, _, _, _, key_size, _ = struct.unpack_from(">8I", data, at)
        if version not in (3, 4):
            fail(f"firefox {name}: version {version}")
            continue
        if version == 4:
            note("Firefox: metadata version 4, with a u32 (4) between the elements and "
                 "the offset")
        at += 32
        key = data[at : at + key_size].decode()
        if data[at + key_size] != 0:
            fail(f"firefox {name}: key not followed by NUL")
        at += key_size + 1
        # Version 4 puts a u32 between the elements and the offset.
        end = len(data) - (8 if version == 4 else 4)
        if version == 4:
            (extra,) = struct.unpack_from(">I", data, end)
            if extra != 4:
                fail(f"firefox {name}: u32 after the elements is {extra}")
        if data[end - 1] != 0 if end > at else False:
            fail(f"firefox {name}: elements not ended by NUL")
        elements = data[at:end].split(b"\0")[:-1]
        meta = dict(zip(elements[0::2], elements[1::2]))
        raw = meta.get(b"response-head", b"").decode("latin-1")
        status, headers = parse_headers(raw)
        body_end = offset
        if b"alt-data" in meta:
            body_end = int(meta[b"alt-data"].decode().split(";")[1].split(",")[0])
        # the URL follows the first ':' that ends the tags (',,' is a comma inside a tag)
        i = 0
        while i < len(key) and key[i] != ":":
            i += 2 if key.startswith(",,", i) else 1
        entries[key[i + 1 :]] = {"file": name, "key": key, "status": status,
                                 "headers": headers, "body": data[:body_end]}
    return entries


def is_video(entry):
    return entry["headers"].get("content-type", "").startswith("video/")


def check_stalled(cache, url_path, entry, content, sent):
    """A download dropped half way: while the browser runs, Chromium holds its entry open
    (no end records; the bytes received, then zeros the file was extended by). After the
    drop and a clean close, either browser may have let it go; what is kept must be a
    beginning of the file, marked as such."""
    if entry is None or entry.get("broken"):
        if cache == "chromium-open":
            fail(f"{cache}: no open entry for the stalled {url_path}")
        return
    body = entry["body"]
    if cache == "chromium-open" and entry.get("closed"):
        fail(f"{cache}: the stalled {url_path} has end records")
    if body[:sent] != content[: min(sent, len(body))]:
        fail(f"{cache}: the stalled {url_path} does not start with the bytes served")
    if body[sent:].strip(b"\0"):
        fail(f"{cache}: the stalled {url_path} has more than was served")
    if len(body) > sent:
        note(f"Chromium: an open entry's file ends with zeros after the bytes received "
             f"({len(body) - sent} here)")
    if entry.get("closed") and not entry.get("truncated"):
        length = int(entry["headers"].get("content-length", "0"))
        if len(body) >= length:
            fail(f"{cache}: the stalled {url_path} is not marked partial")


def check_body(cache, s, entry):
    """The entry holds the whole file: one body, or pieces that add up to it."""
    url_path = s.url_path
    if entry["headers"].get("content-type") != s.ctype:
        fail(f"{cache}: {url_path} typed {entry['headers'].get('content-type')}")
    pieces = entry.get("ranges", [])
    if pieces:
        if entry["body"]:
            fail(f"{cache}: {url_path} has both a body and pieces")
        for offset, data in pieces:
            if s.content[offset : offset + len(data)] != data:
                fail(f"{cache}: {url_path} piece at {offset} differs from the file")
        got = sum(len(d) for _, d in pieces)
        if got != s.size:
            fail(f"{cache}: {url_path} pieces hold {got} of {s.size} bytes")
    else:
        body = entry["body"]
        if not s.content.startswith(body):
            fail(f"{cache}: {url_path} body is not the file's beginning")
        elif len(body) != s.size:
            fail(f"{cache}: {url_path} body holds {len(body)} of {s.size} bytes")


def check_stream_file(cache, browser, s, entry):
    """How the cache keeps one file of a stream: "whole", "pieces" or "none"."""
    if s.role != "track":
        if entry is None:
            fail(f"{cache}: no entry for {s.url_path} ({s.stream} {s.role})")
            return "none"
        if entry.get("ranges"):
            fail(f"{cache}: {s.url_path} ({s.stream} {s.role}) kept in pieces")
        check_body(cache, s, entry)
        return "pieces" if entry.get("ranges") else "whole"
    # A track fetched in byte ranges, none of them the whole file.
    if browser == "firefox":
        if entry is not None:
            fail(f"{cache}: kept {s.url_path}, fetched only in ranges")
        return "none"
    if entry is None or not entry.get("ranges"):
        fail(f"{cache}: {s.url_path} ({s.stream} {s.role}) not kept in pieces")
        return "none" if entry is None else "whole"
    check_body(cache, s, entry)
    length = entry["headers"].get("content-length")
    if length != str(s.size):
        fail(f"{cache}: {s.url_path} stored with Content-Length {length}, not {s.size}")
    return "pieces"


def report_streams(cache, kept):
    """One line per stream: per kind of file, how many the cache holds and how."""
    for stream, files in kept.items():
        counts = collections.Counter(files)
        parts = []
        # In the order the files are served, which is the playlist's.
        for (role, track), total in collections.Counter(k for k, _ in files).items():
            how = {h: counts[((role, track), h)] for h in ("whole", "pieces", "none")}
            part = f"{role}" + (f" {track}" if track != "-" else "")
            parts.append(part + ": " + ", ".join(f"{how[h]}/{total} {h}" for h in how if how[h]))
        print(f"{cache} {stream}: " + "; ".join(parts))


def entry_files(out, cache, url_paths):
    if cache == "firefox":
        entries = read_firefox(os.path.join(out, "firefox", "cache2"))
        names = lambda e: ["entries/" + e["file"]]
    else:
        folder = os.path.join(out, cache, "Cache_Data")
        entries = read_chromium(folder)
        names = lambda e: [n for n in (e["file"], e["file"][:-2] + "_s")
                           if os.path.exists(os.path.join(folder, n))]
    by_path = {"/" + url.split("://")[-1].partition("/")[2]: e for url, e in entries.items()}
    missing = [p for p in url_paths if p not in by_path]
    for url_path in url_paths:
        if url_path in by_path:
            print("\n".join(names(by_path[url_path])))
    if missing:
        print(f"no entry for {' '.join(missing)} in {cache}", file=sys.stderr)
    return 1 if missing else 0


def main():
    out = sys.argv[1]
    if len(sys.argv) >= 5 and sys.argv[2] == "--files":
        return entry_files(out, sys.argv[3], sys.argv[4:])
    dump = "--dump" in sys.argv
    manifest = []
    with open(os.path.join(out, "manifest.tsv")) as f:
        for line in f:
            path, url_path, ctype, size, mode, kind, stream, role, track, order = \
                line.rstrip("\n").split("\t")
            with open(os.path.join(out, path), "rb") as g:
                manifest.append(Served(url_path, ctype, int(size), mode, kind, stream, role,
                                       track, order, g.read()))
    served = {}
    with open(os.path.join(out, "served.log")) as f:
        for line in f:
            browser, path, status, start, _, sent = line.split()
            served.setdefault((browser, path), []).append((int(status), int(start), int(sent)))

    caches = {
        "chromium": read_chromium(os.path.join(out, "chromium", "Cache_Data")),
        "chromium-open": read_chromium(os.path.join(out, "chromium-open", "Cache_Data")),
        "firefox": read_firefox(os.path.join(out, "firefox", "cache2")),
    }
    for cache, entries in caches.items():
        browser = cache.split("-")[0]
        by_path = {u.split("/", 3)[3] if u.count("/") >= 3 else u: e for u, e in entries.items()}
        if dump:
            for url, e in sorted(entries.items()):
                print(f"{cache}: {e['file']} {url} status={e['status']!r} "
                      f"type={e['headers'].get('content-type')} "
                      f"length={e['headers'].get('content-length')} "
                      f"closed={e.get('closed')} truncated={e.get('truncated')} "
                      f"body={len(e['body']) if e.get('body') is not None else None} "
                      f"ranges={[(o, len(d)) for o, d in e.get('ranges', [])]}")
        known = set()
        kept = collections.defaultdict(list)  # stream -> [((role, track), how)]
        for s in manifest:
            url_path = s.url_path
            known.add(url_path.lstrip("/"))
            entry = by_path.get(url_path.lstrip("/"))
            if s.kind == "other":
                if entry is not None and is_video(entry):
                    fail(f"{cache}: {url_path} is typed as video")
                continue
            answers = served.get((browser, url_path), [])
            if not answers:
                fail(f"{cache}: {url_path} was never served to {browser}")
                continue
            if s.kind == "stream":
                kept[s.stream].append(((s.role, s.track),
                                       check_stream_file(cache, browser, s, entry)))
                continue
            if s.mode == "stall":
                check_stalled(cache, url_path, entry, s.content,
                              max(sent for status, _, sent in answers if status == 200))
                continue
            if entry is None:
                fail(f"{cache}: no entry for {url_path}")
                continue
            check_body(cache, s, entry)
        for url, entry in entries.items():
            if url.startswith("blob:") or " blob:" in entry["key"]:
                fail(f"{cache}: a blob: address is a key: {entry['key']}")
        report_streams(cache, kept)
        for path, entry in by_path.items():
            if is_video(entry) and path not in known:
                fail(f"{cache}: {path} is typed as video but was not served as one")
    for text in sorted(notes):
        print("NOTE:", text)
    for text in failures:
        print("FAIL:", text)
    if not failures:
        print("PASS")
    return 1 if failures else 0


sys.exit(main())
