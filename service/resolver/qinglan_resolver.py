#!/usr/bin/python3
"""Resolver worker of qinglan-service: finds the media addresses of a watch page with yt_dlp.

The service keeps a few of these running and talks to each over its standard input and output,
one JSON object per line:

    worker:  {"ready": true, "version": "..."}            once it can take requests
    service: {"url": "http://...", "allow_private": true}
    worker:  {"ok": true, "title": "...", "parts": [{"title": "...", "formats": [...]}]}
         or  {"ok": false, "kind": "unsupported" | "refused" | "not_http" | "failed",
              "message": "..."}

Each part's formats are listed best first, by yt-dlp's own ranking. Nothing is downloaded,
no configuration file is read, no cookie or cache is kept, and a playlist is not followed
beyond the parts of one video. Standard error goes nowhere; the service writes the log.

Of the yt_dlp packages that this interpreter can import (Debian's and, say, a newer one
installed with pip), the newest is used.
"""

import sys

sys.dont_write_bytecode = True

import http.server  # noqa: E402
import ipaddress  # noqa: E402
import json  # noqa: E402
import os  # noqa: E402
import re  # noqa: E402
import socket  # noqa: E402
import threading  # noqa: E402
import urllib.parse  # noqa: E402

# A multi-part video has at most this many parts listed.
MAX_PARTS = 200
MAX_MESSAGE_CHARS = 300


def _take_protocol_channel():
    """The real standard output, kept for the protocol; fd 1 then points at standard error, so
    that whatever an extractor prints cannot get into an answer."""
    channel = os.fdopen(os.dup(1), "wb", buffering=0)
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    return channel


PROTOCOL = _take_protocol_channel()


def send(answer):
    # Lone surrogates (from odd bytes on a page) cannot be UTF-8; they become "?".
    line = json.dumps(answer, ensure_ascii=False, separators=(",", ":"))
    PROTOCOL.write(line.encode("utf-8", "replace") + b"\n")


def _version_of(package_dir):
    try:
        with open(os.path.join(package_dir, "version.py"), encoding="utf-8") as source:
            match = re.search(r"""__version__\s*=\s*['"]([0-9][0-9.]*)""", source.read())
    except OSError:
        return None
    if not match:
        return None
    return tuple(int(piece) for piece in match.group(1).split(".") if piece.isdigit())


def put_newest_yt_dlp_first():
    """Moves the sys.path entry with the newest yt_dlp to the front, without importing any."""
    newest = None
    for entry in sys.path:
        version = _version_of(os.path.join(entry or ".", "yt_dlp"))
        if version is not None and (newest is None or version > newest[0]):
            newest = (version, entry)
    if newest is not None:
        sys.path.remove(newest[1])
        sys.path.insert(0, newest[1])


put_newest_yt_dlp_first()
try:
    import yt_dlp
    from yt_dlp.utils import DownloadError, ExtractorError, UnsupportedError
except Exception as error:  # the service sees a worker that is never ready
    send({"ready": False, "error": f"yt_dlp cannot be imported: {error}"})
    sys.exit(1)


class QuietLogger:
    def debug(self, message):
        pass

    info = warning = error = debug


class PrivateTargetGuard:
    """Refuses connections to non-public addresses while on: every connection that yt_dlp
    makes looks its host up through socket.getaddrinfo, redirects and later look-ups
    included."""

    def __init__(self):
        self.on = False
        self.refused = None
        self._lookup = socket.getaddrinfo
        socket.getaddrinfo = self._guarded_lookup

    @staticmethod
    def is_public(address):
        ip = ipaddress.ip_address(address.split("%")[0])
        if isinstance(ip, ipaddress.IPv6Address) and ip.ipv4_mapped is not None:
            ip = ip.ipv4_mapped
        return ip.is_global and not ip.is_multicast

    def _guarded_lookup(self, host, *args, **kwargs):
        found = self._lookup(host, *args, **kwargs)
        if self.on:
            for entry in found:
                if not self.is_public(str(entry[4][0])):
                    self.refused = str(host)
                    raise OSError(f"{host} is not a public address")
        return found


GUARD = PrivateTargetGuard()


def make_downloader(socket_timeout):
    # The API reads no configuration file (only yt-dlp's command line does), so there is none
    # to turn off here.
    return yt_dlp.YoutubeDL({
        "quiet": True,
        "no_warnings": True,
        "noprogress": True,
        "logger": QuietLogger(),
        "skip_download": True,
        "simulate": True,
        "noplaylist": True,
        "extract_flat": "in_playlist",
        "playlistend": MAX_PARTS,
        "cachedir": False,
        "cookiefile": None,
        "usenetrc": False,
        "check_formats": False,
        "socket_timeout": socket_timeout,
    })


def describe_format(fmt):
    keys = ("url", "format_id", "format", "format_note", "ext", "resolution", "width",
            "height", "filesize", "filesize_approx", "protocol", "http_headers")
    return {key: fmt.get(key) for key in keys if fmt.get(key) is not None}


def describe_part(info):
    formats = info.get("formats")
    if formats is None and info.get("url"):
        formats = [info]  # yt-dlp keeps a single format in the result itself
    # yt-dlp sorts formats worst first.
    best_first = [describe_format(f) for f in reversed(formats or []) if f.get("url")]
    return {"title": info.get("title") or "", "formats": best_first}


def parts_of(info):
    if info.get("_type") in ("playlist", "multi_video"):
        # Entries that were only listed (another page each) are not followed.
        return [describe_part(entry) for entry in (info.get("entries") or [])
                if entry and entry.get("_type", "video") == "video"]
    return [describe_part(info)]


def short_message(error):
    text = re.sub(r"\x1b\[[0-9;]*m", "", str(error))
    text = re.sub(r"^ERROR:\s*", "", text)
    for cut in ("; please report", " (caused by "):
        text = text.split(cut, 1)[0]
    return text.strip()[:MAX_MESSAGE_CHARS]


def resolve(downloader, request):
    url = request.get("url")
    if not isinstance(url, str) or not url:
        return {"ok": False, "kind": "failed", "message": "no address given"}
    if urllib.parse.urlsplit(url).scheme.lower() not in ("http", "https"):
        return {"ok": False, "kind": "not_http", "message": "only http and https addresses"}
    cookies = getattr(downloader, "cookiejar", None)
    if cookies is not None:
        cookies.clear()
    GUARD.on = not request.get("allow_private", False)
    GUARD.refused = None
    try:
        info = downloader.extract_info(url, download=False)
    except DownloadError as error:
        cause = error.exc_info[1] if error.exc_info else None
        if GUARD.refused is not None:
            return {"ok": False, "kind": "refused",
                    "message": f"{GUARD.refused} is not a public address"}
        if isinstance(cause, UnsupportedError) or (
                isinstance(cause, ExtractorError) and "No video formats found" in str(cause)):
            return {"ok": False, "kind": "unsupported", "message": short_message(error)}
        return {"ok": False, "kind": "failed", "message": short_message(error)}
    except Exception as error:  # an extractor's own fault still gets an answer
        return {"ok": False, "kind": "failed", "message": short_message(error)}
    finally:
        GUARD.on = False
    if not info:
        return {"ok": False, "kind": "unsupported", "message": "nothing found"}
    parts = [part for part in parts_of(info) if part["formats"]]
    if not parts:
        return {"ok": False, "kind": "unsupported", "message": "no playable format"}
    return {"ok": True, "title": info.get("title") or "", "parts": parts}


WARM_UP_PAGE = b"""<!DOCTYPE html><html><head><title>warm-up</title></head><body>
<video><source src="/a.mp4" type="video/mp4" res="720"><source src="/b.mp4" type="video/mp4"
res="360"></video></body></html>"""


class _WarmUpPage(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(WARM_UP_PAGE)))
        self.end_headers()
        self.wfile.write(WARM_UP_PAGE)

    def log_message(self, *args):
        pass


def warm_up(downloader):
    """One resolve of a page served here on loopback, so that the first real request finds
    yt-dlp's extractors loaded and their patterns compiled (that takes over a second)."""
    try:
        server = http.server.HTTPServer(("127.0.0.1", 0), _WarmUpPage)
    except OSError:
        return
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        resolve(downloader, {"url": f"http://127.0.0.1:{server.server_port}/watch",
                             "allow_private": True})
    finally:
        server.shutdown()
        server.server_close()


def socket_timeout_from(argv):
    if "--socket-timeout" in argv:
        index = argv.index("--socket-timeout")
        try:
            return float(argv[index + 1])
        except (IndexError, ValueError):
            pass
    return 20.0


def main():
    downloader = make_downloader(socket_timeout_from(sys.argv[1:]))
    warm_up(downloader)
    package = os.path.dirname(os.path.dirname(os.path.abspath(yt_dlp.__file__)))
    send({"ready": True, "version": f"yt-dlp {yt_dlp.version.__version__} ({package})"})
    for raw in sys.stdin.buffer:
        try:
            request = json.loads(raw)
        except ValueError:
            send({"ok": False, "kind": "failed", "message": "the request is no JSON"})
            continue
        send(resolve(downloader, request if isinstance(request, dict) else {}))


if __name__ == "__main__":
    main()
