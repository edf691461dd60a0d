#!/usr/bin/env python3
"""Loopback HTTP server for the browser cache fixture.

Serves ROOT/index.html and the files of the plan (one line each: PATH TYPE MODE KIND ..., MODE
"range" answering Range requests with 206, "whole" answering every request with 200 and
the whole file, "stall" answering with 200 and the whole length but sending only the
first half, then holding the connection open until DONE_DIR/release appears and closing it
there, short of its length, as a dropped download; a later request for it, such as the
browser's attempt to resume, is dropped at once). Binds 127.0.0.1 on a free port, writes the port to PORT_FILE, and
appends one line per response to LOG: BROWSER PATH STATUS START END SENT (END exclusive,
SENT the bytes that actually went out). When every file of the plan but those of KIND
"other" (the videos and the streams' files) has reached one browser whole (the union of
what it was sent covers the file), touches DONE_DIR/BROWSER.
"""
import http.server
import os
import re
import socket
import socketserver
import sys
import threading
import time

root, plan_file, port_file, log_file, done_dir = sys.argv[1:6]

plan = {}
with open(plan_file) as f:
    for line in f:
        parts = line.split()
        if len(parts) >= 4:
            plan["/" + parts[0]] = (parts[1], parts[2], parts[3])

lock = threading.Lock()
served = {}  # (browser, path) -> list of [start, end)
log = open(log_file, "a", buffering=1)


def browser_of(agent):
    if "Firefox/" in agent:
        return "firefox"
    if "Chrome/" in agent:
        return "chromium"
    return "other"


def covered(ranges, size):
    at = 0
    for start, end in sorted(ranges):
        if start > at:
            return False
        at = max(at, end)
    return at >= size


def expected_bytes(path):
    size = os.path.getsize(root + path)
    return size // 2 if plan[path][1] == "stall" else size


def note(browser, path, status, start, end, sent):
    with lock:
        log.write(f"{browser} {path} {status} {start} {end} {sent}\n")
        if sent > 0:
            served.setdefault((browser, path), []).append((start, start + sent))
        awaited = [p for p, (_, _, kind) in plan.items() if kind != "other"]
        if browser != "other" and all(
            covered(served.get((browser, p), []), expected_bytes(p)) for p in awaited
        ):
            open(os.path.join(done_dir, browser), "w").close()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split("?")[0]
        browser = browser_of(self.headers.get("User-Agent", ""))
        if path == "/":
            path = "/index.html"
        if path == "/index.html":
            kind, mode = "text/html; charset=utf-8", "whole"
        elif path in plan:
            kind, mode, _ = plan[path]
        else:
            self.send_error(404)
            note(browser, path, 404, 0, 0, 0)
            return
        if mode == "stall" and os.path.exists(os.path.join(done_dir, "release")):
            note(browser, path, 0, 0, 0, 0)
            self.drop()
            return
        with open(root + path, "rb") as f:
            data = f.read()
        size = len(data)
        start, end, status = 0, size, 200
        wanted = self.headers.get("Range")
        match = re.fullmatch(r"bytes=(\d*)-(\d*)", wanted or "")
        if mode == "range" and match and (match.group(1) or match.group(2)):
            if match.group(1):
                start = int(match.group(1))
                end = min(size, int(match.group(2)) + 1) if match.group(2) else size
            else:
                start = max(0, size - int(match.group(2)))
            if start >= size or start >= end:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                note(browser, path, 416, 0, 0, 0)
                return
            status = 206
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(end - start))
        self.send_header("Cache-Control", "public, max-age=86400")
        self.send_header("Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT")
        self.send_header("ETag", f'"{size:x}-{len(path):x}"')
        # A stalled answer says nothing of ranges, so that the browser may keep what it
        # got as a resumable beginning.
        if mode == "range":
            self.send_header("Accept-Ranges", "bytes")
        elif mode == "whole":
            self.send_header("Accept-Ranges", "none")
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{end - 1}/{size}")
        self.end_headers()
        sent = 0
        stop = end if mode != "stall" else start + size // 2
        try:
            view = memoryview(data)[start:stop]
            while sent < len(view):
                n = self.wfile.write(view[sent : sent + 65536])
                sent += n if n else 0
        except OSError:
            pass
        note(browser, path, status, start, end, sent)
        if mode == "stall":
            while not os.path.exists(os.path.join(done_dir, "release")):
                time.sleep(0.1)
            self.drop()

    def drop(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", 0), Handler)
with open(port_file + ".partial", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".partial", port_file)
server.serve_forever()
