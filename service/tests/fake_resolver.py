#!/usr/bin/python3
"""A stand-in for the resolver worker in the service's tests: it speaks the same line protocol
and behaves as the path of the requested address says.

    /echo             one address, the requested one; the title names this worker's pid
    /sleep/MS         the same after MS milliseconds
    /hang             never answers, and ignores SIGTERM
    /child            echo, after starting a child that sleeps; the title also names its pid
    /crash            ends at once without an answer
    /garbage          answers a line that is no JSON
    /unsupported      "nothing playable here"
    /failed           a resolver error
    /formats          two parts with awkward addresses and titles, one address repeated
    anything else     echo

Options (or the environment, for workers started by the service binary):
    --log PATH        (QINGLAN_FAKE_LOG) appends "start PID NS" and "end PID NS" lines, NS
                      from the monotonic clock, around every request
    --startup MODE    (QINGLAN_FAKE_STARTUP) "never": never says it is ready; "die": ends
                      before it is ready
"""

import json
import os
import signal
import sys
import time
import urllib.parse


def option(name, environment_name):
    if name in sys.argv:
        return sys.argv[sys.argv.index(name) + 1]
    return os.environ.get(environment_name, "")


LOG = option("--log", "QINGLAN_FAKE_LOG")
STARTUP = option("--startup", "QINGLAN_FAKE_STARTUP")


def note(event):
    if LOG:
        with open(LOG, "a", encoding="ascii") as log:
            log.write(f"{event} {os.getpid()} {time.monotonic_ns()}\n")


def send(answer):
    sys.stdout.write(json.dumps(answer, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def echo(url):
    return {"ok": True, "title": f"pid={os.getpid()}",
            "parts": [{"title": "", "formats": [{"url": url, "format_id": "echo",
                                                 "ext": "mp4"}]}]}


FORMATS = {
    "ok": True,
    "title": 'Clip <a href="x">\u2603 \U0001F600 & \u4e2d\u6587',
    "parts": [
        {"title": "part one", "formats": [
            {"url": 'http://media.test/a b"c&d=\u4e2d.mp4?x=<y>', "format_id": "hd<a>",
             "ext": "mp4", "resolution": "1280x720", "filesize": 3 * 1024 * 1024},
            {"url": "http://media.test/one-low.mp4", "format_id": "sd", "ext": "mp4",
             "resolution": "640x360", "filesize_approx": 1536},
        ]},
        {"title": "part two", "formats": [
            {"url": "http://media.test/one-low.mp4", "format_id": "again", "ext": "mp4"},
            {"url": "http://media.test/two.flv?a=1&b=%41", "format_id": "only", "ext": "flv",
             "http_headers": {"Referer": "http://watch.test/"}},
        ]},
    ],
}


def answer(request):
    url = request.get("url", "")
    path = urllib.parse.urlsplit(url).path
    if path.startswith("/sleep/"):
        time.sleep(int(path.split("/")[2]) / 1000)
        return echo(url)
    if path == "/hang":
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        while True:
            time.sleep(60)
    if path == "/child":
        child = os.fork()
        if child == 0:
            while True:
                time.sleep(60)
        reply = echo(url)
        reply["title"] += f" child={child}"
        return reply
    if path == "/crash":
        os._exit(3)
    if path == "/garbage":
        sys.stdout.write("this is no JSON\n")
        sys.stdout.flush()
        return None
    if path == "/unsupported":
        return {"ok": False, "kind": "unsupported", "message": "Unsupported URL: " + url}
    if path == "/failed":
        return {"ok": False, "kind": "failed", "message": "HTTP Error 404: Not Found"}
    if path == "/formats":
        return FORMATS
    return echo(url)


def main():
    if STARTUP == "die":
        os._exit(4)
    if STARTUP == "never":
        while True:
            time.sleep(60)
    send({"ready": True, "version": "fake resolver"})
    for line in sys.stdin:
        request = json.loads(line)
        note("start")
        reply = answer(request)
        note("end")
        if reply is not None:
            send(reply)


if __name__ == "__main__":
    main()
