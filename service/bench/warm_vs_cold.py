#!/usr/bin/python3
"""How much the worker pool saves: a warm resolve through qinglan-service against one run of
`yt-dlp -J` on the same watch page, both on this machine, in one run.

    service/bench/warm_vs_cold.py [PATH/TO/qinglan-service] [--requests N]

The program defaults to build/native/service/qinglan-service. A watch page with an HTML5
video is served on 127.0.0.1; the service listens on a free loopback port with one worker.
Prints the median warm resolve, the yt-dlp run and their ratio.
"""

import http.server
import os
import socket
import statistics
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

PAGE = b"""<!DOCTYPE html><html><head><title>Bench clip</title></head><body>
<video controls>
<source src="/media/clip-720.mp4" type="video/mp4" res="720">
<source src="/media/clip-360.mp4" type="video/mp4" res="360">
</video></body></html>
"""


class WatchPage(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def get(url):
    try:
        with urllib.request.urlopen(url, timeout=60) as reply:
            return reply.status, reply.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def main(argv):
    program = ROOT / "build" / "native" / "service" / "qinglan-service"
    requests = 20
    args = list(argv)
    if "--requests" in args:
        index = args.index("--requests")
        requests = int(args[index + 1])
        del args[index:index + 2]
    if args:
        program = Path(args[0])
    if not os.access(program, os.X_OK):
        sys.exit(f"no service program at {program}; build it first (scripts/common.sh build_native)")

    site = http.server.ThreadingHTTPServer(("127.0.0.1", 0), WatchPage)
    threading.Thread(target=site.serve_forever, daemon=True).start()
    page = f"http://127.0.0.1:{site.server_port}/watch"

    port = free_port()
    service = subprocess.Popen([str(program), "--listen", f"127.0.0.1:{port}", "--workers", "1"],
                               stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while True:
            try:
                if get(f"http://127.0.0.1:{port}/healthz")[0] == 200:
                    break
            except OSError:
                pass
            if time.monotonic() > deadline or service.poll() is not None:
                sys.exit("the service did not get ready")
            time.sleep(0.05)

        parse = f"http://127.0.0.1:{port}/parse.php?kw={page}"
        status, body = get(parse)  # the first request after start-up is not counted
        if status != 200 or b"clip-720.mp4" not in body:
            sys.exit(f"the service did not resolve the page (status {status})")
        warm = []
        for _ in range(requests):
            start = time.perf_counter()
            status, body = get(parse)
            warm.append(time.perf_counter() - start)
            if status != 200:
                sys.exit(f"a warm resolve failed (status {status})")
    finally:
        service.terminate()
        service.wait(timeout=10)

    start = time.perf_counter()
    cold = subprocess.run(["yt-dlp", "-J", "--no-config", "--no-cache-dir", page],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    cold_seconds = time.perf_counter() - start
    site.shutdown()
    if cold.returncode != 0 or b"clip-720.mp4" not in cold.stdout:
        sys.exit("yt-dlp -J did not resolve the page")

    median = statistics.median(warm)
    print(f"warm resolve through qinglan-service: median {median * 1000:.1f} ms "
          f"(min {min(warm) * 1000:.1f}, max {max(warm) * 1000:.1f}, {requests} requests)")
    print(f"one yt-dlp -J run on the same page:   {cold_seconds * 1000:.1f} ms")
    print(f"ratio: {cold_seconds / median:.1f}x")


if __name__ == "__main__":
    main(sys.argv[1:])
