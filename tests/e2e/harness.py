"""End-to-end test support: runs Windows programs under Wine and looks at them from outside.

A WineSession owns the display (an Xvfb it starts when $DISPLAY does not answer), the private
Wine prefix set up by scripts/wine-env.sh, and every program started through it. Windows are
inspected with the probe program (tests/e2e/probe.cpp), input is real X input from xdotool,
and the browser is a recorder script whose log browser_calls() reads.

Paths come from the environment, so ctest can pass them:
  QINGLAN_BUILD_DIR  build directory; the prefix is <dir>/wine (or QINGLAN_WINE_DIR, if set)
  QINGLAN_PROBE      the probe exe (default <build>/qinglan_probe.exe)
  QINGLAN_EXE        the program under test (default <build>/qinglan.exe)

Wine programs' output always goes to files, never to pipes: Wine's background processes
inherit descriptors and would keep a pipe open long after the program ended.
"""

import http.server
import os
import select
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path

REPO_DIR = Path(__file__).resolve().parents[2]
WINE_ENV_SCRIPT = REPO_DIR / "scripts" / "wine-env.sh"

MAIN_CLASS = "QinglanMainWindow"

# Probe fields that carry text as hex of code page 936 bytes.
_TEXT_FIELDS = {"caption", "text", "bytes"}


class HarnessError(RuntimeError):
    pass


def _parse_value(key, value):
    if key in _TEXT_FIELDS:
        return bytes.fromhex(value)
    if value.startswith("0x"):
        return int(value, 16)
    if value.lstrip("-").isdigit():
        return int(value)
    return value


def parse_probe_output(data):
    """Probe output -> list of dicts; "kind" holds each line's record name.

    A bare word after the record name (as in "cf_text none") becomes a key with value True.
    """
    records = []
    for line in data.decode("ascii", "replace").splitlines():
        words = line.split(" ")
        if not words or not words[0]:
            continue
        record = {"kind": words[0]}
        for word in words[1:]:
            key, sep, value = word.partition("=")
            record[key] = _parse_value(key, value) if sep else True
        records.append(record)
    return records


class ProbeResult:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.records = parse_probe_output(stdout)

    def all(self, kind):
        return [r for r in self.records if r["kind"] == kind]

    def first(self, kind):
        found = self.all(kind)
        return found[0] if found else None


def _poll(predicate, timeout, interval=0.05):
    """Calls predicate until it returns something true or the timeout ends; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


class WineSession:
    """The display, prefix and programs of one group of tests. Use as a context manager."""

    def __init__(self, build_dir=None, probe=None, exe=None):
        env = os.environ
        build_dir = build_dir or env.get("QINGLAN_BUILD_DIR")
        if not build_dir:
            # No guess: a prefix and logs created in the wrong tree would be hard to notice.
            raise HarnessError("set QINGLAN_BUILD_DIR (or pass build_dir)")
        self.build_dir = Path(build_dir).resolve()
        self.wine_dir = Path(env.get("QINGLAN_WINE_DIR") or self.build_dir).resolve()
        self.probe_exe = Path(probe or env.get("QINGLAN_PROBE")
                              or self.build_dir / "qinglan_probe.exe")
        self.exe = Path(exe or env.get("QINGLAN_EXE") or self.build_dir / "qinglan.exe")
        self.env = None
        self.browser_log = self.wine_dir / "browser-calls.log"
        self._xvfb = None
        self._apps = []
        self._origin = None
        self._scratch = None

    # --- lifetime ---------------------------------------------------------------------------

    def start(self):
        """Display, environment and prefix; quick when the prefix already exists."""
        self.wine_dir.mkdir(parents=True, exist_ok=True)
        self._scratch = Path(tempfile.mkdtemp(prefix="e2e-", dir=self.wine_dir))
        self.env = self._wine_env()
        self._ensure_display()
        log = self._scratch / "prefix-init.log"
        with open(log, "wb") as out:
            rc = subprocess.run(
                ["bash", "-c", 'source "$0" && wine_env_vars "$1" && wine_prefix_init',
                 str(WINE_ENV_SCRIPT), str(self.wine_dir)],
                env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                timeout=300).returncode
        if rc != 0:
            raise HarnessError(f"wine_prefix_init failed: {log.read_text(errors='replace')}")
        return self

    def close(self):
        for app in list(self._apps):
            app.kill()
        self._origin = None
        if self.env is not None:
            # Last resort for whatever the programs started (the browser launcher, say).
            self._run_quiet(["wineserver", "-k"], timeout=30)
            self._run_quiet(["wineserver", "-w"], timeout=30)
        if self._xvfb is not None:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
            self._xvfb = None
        if self._scratch is not None:
            shutil.rmtree(self._scratch, ignore_errors=True)
            self._scratch = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    def _wine_env(self):
        # The variables come from wine-env.sh itself, so there is one place that defines them.
        out = subprocess.run(
            ["bash", "-c", 'source "$0" && wine_env_vars "$1" && env -0',
             str(WINE_ENV_SCRIPT), str(self.wine_dir)],
            stdin=subprocess.DEVNULL, capture_output=True, check=True, timeout=30).stdout
        env = dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)
        # Wine's HTTP stack honours these; the address service is always local.
        for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                     "ALL_PROXY"):
            env.pop(name, None)
        return env

    def _display_ok(self, display):
        # A busy X server now and then refuses a connection: a few tries before giving up.
        return bool(display) and bool(_poll(lambda: subprocess.run(
            ["xdpyinfo", "-display", display], stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0, 1.0, 0.2))

    def _ensure_display(self):
        if self._display_ok(self.env.get("DISPLAY")):
            return
        screen = self.env.get("QINGLAN_XVFB_SCREEN", "1024x768x24")
        read_fd, write_fd = os.pipe()
        try:
            with open(self._scratch / "xvfb.log", "wb") as log:
                # -displayfd: Xvfb picks a free display and writes its number once it is ready.
                self._xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen,
                     "-nolisten", "tcp"],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_fd,))
            os.close(write_fd)
            write_fd = None
            number = b""
            deadline = time.monotonic() + 10
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_fd], [], [], 0.2)
                if ready:
                    chunk = os.read(read_fd, 16)
                    if not chunk:
                        break
                    number += chunk
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)
        if not number.strip().isdigit():
            raise HarnessError("Xvfb did not start: "
                               + (self._scratch / "xvfb.log").read_text(errors="replace"))
        self.env["DISPLAY"] = ":" + number.strip().decode()

    def _run_quiet(self, argv, timeout):
        try:
            return subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return None

    # --- running Wine programs --------------------------------------------------------------

    def run_wine(self, argv, timeout=60):
        """Runs a Wine program to its end; returns (returncode, stdout bytes, stderr bytes)."""
        fd_out, out_path = tempfile.mkstemp(dir=self._scratch, suffix=".out")
        fd_err, err_path = tempfile.mkstemp(dir=self._scratch, suffix=".err")
        try:
            with os.fdopen(fd_out, "wb") as out, os.fdopen(fd_err, "wb") as err:
                try:
                    rc = subprocess.run(["wine", *map(str, argv)], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                        timeout=timeout).returncode
                except subprocess.TimeoutExpired:
                    rc = None
            return rc, Path(out_path).read_bytes(), Path(err_path).read_bytes()
        finally:
            os.unlink(out_path)
            os.unlink(err_path)

    def run_probe(self, *args, timeout=60):
        rc, out, err = self.run_wine([self.probe_exe, *args], timeout=timeout)
        return ProbeResult(rc, out, err)

    def probe(self, *args, timeout=60):
        """Runs the probe and returns its records; raises unless it exited with 0."""
        result = self.run_probe(*args, timeout=timeout)
        if result.returncode != 0:
            raise HarnessError(f"probe {' '.join(map(str, args))} exited {result.returncode}: "
                               f"{result.stderr.decode(errors='replace')}")
        return result.records

    def _probe_found(self, *args, timeout=60):
        """The probe's result, or None when it reports (exit code 1) that the thing asked for
        is not there; raises on failures."""
        result = self.run_probe(*args, timeout=timeout)
        if result.returncode == 1:
            return None
        if result.returncode != 0:
            raise HarnessError(f"probe {' '.join(map(str, args))} exited {result.returncode}: "
                               f"{result.stderr.decode(errors='replace')}")
        return result

    def window(self, cls=MAIN_CLASS):
        """The top-level window of the class as a dict, or None when there is none."""
        result = self._probe_found("window", cls)
        return result.first("window") if result else None

    def controls(self, cls=MAIN_CLASS):
        """Direct child controls of the window, keyed by control id."""
        return {r["id"]: r for r in self.probe("controls", cls) if r["kind"] == "control"}

    def rows(self, cls=MAIN_CLASS):
        """The window's list view: {"texts": [bytes], "rows": [dict], "selected": int,
        "columns": [dict], "view": dict}."""
        result = self._probe_found("rows", cls)
        if result is None:
            raise HarnessError(f"no {cls} window with a list view")
        rows = result.all("row")
        if len(rows) != result.first("count")["n"]:
            raise HarnessError("probe rows: row count and rows differ")
        return {"texts": [r["text"] for r in rows], "rows": rows,
                "selected": result.first("selected")["index"],
                "columns": result.all("column"), "view": result.first("view")}

    def list_rect(self, row, cls=MAIN_CLASS):
        """(left, top, right, bottom) of the row's label in Windows screen coordinates."""
        r = self.probe("list-rect", cls, row)[0]
        return r["left"], r["top"], r["right"], r["bottom"]

    def clipboard(self):
        """{"formats": [names], "format_ids": [ids], "text": bytes or None,
        "unicode_text": bytes (as code page 936) or None, "sequence": int, "owner": class}."""
        result = self.run_probe("clipboard")
        if result.returncode != 0:
            raise HarnessError("probe clipboard: " + result.stderr.decode(errors="replace"))
        text, uni = result.first("cf_text"), result.first("cf_unicodetext")
        return {"formats": [f["name"] for f in result.all("format")],
                "format_ids": [f["id"] for f in result.all("format")],
                "text": None if text.get("none") else text["bytes"],
                "unicode_text": None if uni.get("none") else uni["text"],
                "sequence": result.first("sequence")["n"],
                "owner": result.first("owner")["class"]}

    def clipboard_text_bytes(self):
        """The CF_TEXT bytes on the clipboard (without the terminating zero), or None."""
        return self.clipboard()["text"]

    def set_clipboard(self, data, unicode_text=None):
        """Puts data (bytes) as CF_TEXT; with unicode_text (bytes, code page 936) a different
        CF_UNICODETEXT beside it."""
        args = ["set-clipboard", data.hex()]
        if unicode_text is not None:
            args += ["--with-unicode", unicode_text.hex()]
        self.probe(*args)

    def hold_clipboard(self, ms):
        """Starts a probe that keeps the clipboard open for ms milliseconds; returns once it
        holds it. Returns the running ClipboardHolder (wait() for its end)."""
        return ClipboardHolder(self, ms)

    def screen(self):
        return self.probe("screen")[0]

    def wait_window(self, cls=MAIN_CLASS, timeout=20.0):
        """True once a visible top-level window of the class exists."""
        return self._probe_found("wait-window", cls, int(timeout * 1000),
                                 timeout=timeout + 30) is not None

    def wait_gone(self, cls, timeout=10.0):
        """True once no visible top-level window of the class remains."""
        return self._probe_found("wait-gone", cls, int(timeout * 1000),
                                 timeout=timeout + 30) is not None

    def start_app(self, exe=None, args=(), main_class=MAIN_CLASS, timeout=30.0, cwd=None):
        """Starts a program (default: the one under test) and waits for its main window."""
        app = App(self, exe or self.exe, args, main_class=main_class, cwd=cwd)
        app.start(timeout)
        return app

    # --- browser recorder -------------------------------------------------------------------

    def browser_calls(self):
        """What the shell handed to the browser, one bytes item per call, in order."""
        try:
            data = self.browser_log.read_bytes()
        except FileNotFoundError:
            return []
        return data.split(b"\n")[:-1]

    def clear_browser_calls(self):
        self.browser_log.write_bytes(b"")

    def wait_browser_calls(self, count, timeout=10.0):
        """Waits until at least count calls are recorded; returns the calls.

        The browser launcher runs as its own process, so a call shows up a moment after the
        program asked for it.
        """
        _poll(lambda: len(self.browser_calls()) >= count, timeout)
        return self.browser_calls()

    # --- X input and screenshots ------------------------------------------------------------

    def _x(self, *argv, check=True):
        result = subprocess.run(list(map(str, argv)), env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=30)
        if check and result.returncode != 0:
            raise HarnessError(f"{argv[0]} failed: {result.stderr.decode(errors='replace')}")
        return result.stdout.decode(errors="replace")

    def desktop_origin(self):
        """X root coordinates of the Windows desktop's (0, 0): the top-left corner of the X
        window Wine's virtual desktop draws into, named "<name> - Wine desktop"."""
        if self._origin is None:
            window = _poll(self._own_desktop_window, 10)
            if not window:
                raise HarnessError("no Wine virtual desktop of this prefix on the display")
            info = self._x("xwininfo", "-id", window)
            fields = dict(line.strip().split(":", 1) for line in info.splitlines()
                          if line.strip().startswith("Absolute upper-left"))
            self._origin = (int(fields["Absolute upper-left X"]),
                            int(fields["Absolute upper-left Y"]))
        return self._origin

    def _own_desktop_window(self):
        """The X window of this prefix's desktop: other prefixes may show theirs on the same
        display, so the window's process must run in this prefix."""
        ids = self._x("xdotool", "search", "--name", " - Wine desktop$", check=False).split()
        for window in ids:
            pid = self._x("xdotool", "getwindowpid", window, check=False).strip()
            try:
                environ = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
            except (OSError, ValueError):
                continue
            if ("WINEPREFIX=" + self.env["WINEPREFIX"]).encode() in environ:
                return window
        return None

    def to_x(self, x, y):
        """Windows screen coordinates (as the probe reports them) -> X root coordinates."""
        ox, oy = self.desktop_origin()
        return ox + x, oy + y

    def move(self, x, y):
        # No --sync: it waits forever when the pointer already is at the target.
        self._x("xdotool", "mousemove", *self.to_x(x, y))
        time.sleep(0.1)

    def click(self, x, y, button=1, repeat=1):
        """Moves the pointer to (x, y) in Windows screen coordinates and clicks there."""
        self.move(x, y)
        self._x("xdotool", "click", "--repeat", repeat, "--delay", 80, button)
        time.sleep(0.1)

    def right_click(self, x, y):
        self.click(x, y, button=3)

    def double_click(self, x, y):
        self.click(x, y, repeat=2)

    def click_rect(self, rect, button=1):
        """Clicks the middle of (left, top, right, bottom)."""
        left, top, right, bottom = rect
        self.click((left + right) // 2, (top + bottom) // 2, button)

    def type_text(self, text):
        """Types ASCII text into the focused window."""
        if not text.isascii():
            raise ValueError("type_text types ASCII only; paste other text via set_clipboard")
        self._x("xdotool", "type", "--delay", 30, "--", text)
        time.sleep(0.1)

    def key(self, *keys):
        """Presses keys in turn, in xdotool's names: key("ctrl+a"), key("Down", "Return")."""
        self._x("xdotool", "key", "--delay", 80, *keys)
        time.sleep(0.1)

    def screenshot(self, path, rect=None):
        """Saves the X screen to path; with rect (left, top, right, bottom) in Windows screen
        coordinates, only that part."""
        argv = ["import", "-window", "root"]
        if rect is not None:
            left, top, right, bottom = rect
            x, y = self.to_x(left, top)
            argv += ["-crop", f"{right - left}x{bottom - top}+{x}+{y}", "+repage"]
        self._x(*argv, path)
        return Path(path)


class ClipboardHolder:
    """A probe keeping the clipboard open, started by WineSession.hold_clipboard."""

    def __init__(self, session, ms):
        self._out = session._scratch / f"hold-{time.monotonic_ns()}.out"
        with open(self._out, "wb") as out:
            self._proc = subprocess.Popen(
                ["wine", str(session.probe_exe), "hold-clipboard", str(int(ms))],
                env=session.env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        if not _poll(lambda: b"held" in self._out.read_bytes() or self._proc.poll() is not None,
                     30) or b"held" not in self._out.read_bytes():
            self._proc.kill()
            self._proc.wait()
            raise HarnessError("hold-clipboard did not get the clipboard: "
                               + self._out.read_text(errors="replace"))

    def is_holding(self):
        """True while the probe still keeps the clipboard open."""
        return self._proc.poll() is None

    def wait(self, timeout=60):
        return self._proc.wait(timeout)


class App:
    """A Windows program under Wine, its output sent to files."""

    def __init__(self, session, exe, args=(), main_class=MAIN_CLASS, cwd=None):
        self.session = session
        self.exe = Path(exe)
        self.args = [str(a) for a in args]
        self.main_class = main_class
        self.cwd = cwd
        stem = f"{self.exe.stem}-{time.monotonic_ns()}"
        self.stdout_path = session._scratch / f"{stem}.out"
        self.stderr_path = session._scratch / f"{stem}.err"
        self.proc = None
        self.start_seconds = None

    def start(self, timeout=30.0):
        """Starts the program and waits until its main window is visible."""
        started = time.monotonic()
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(["wine", str(self.exe), *self.args],
                                         env=self.session.env, cwd=self.cwd,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self.session._apps.append(self)
        if not self.session.wait_window(self.main_class, timeout):
            state = "exited" if self.proc.poll() is not None else "still running"
            self.kill()
            raise HarnessError(f"{self.exe.name}: no {self.main_class} window within "
                               f"{timeout} s ({state}); stderr: {self.stderr()!r}")
        self.start_seconds = time.monotonic() - started
        return self

    def is_running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout=10.0):
        """The exit code once the program has ended, or None if it still runs."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        """Ends the program if it still runs, and waits until its main window is gone, so the
        next program's window cannot be mistaken for this one's."""
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
            self.session.wait_gone(self.main_class, 10)
        if self in self.session._apps:
            self.session._apps.remove(self)

    def stdout(self):
        return self.stdout_path.read_bytes()

    def stderr(self):
        return self.stderr_path.read_bytes()


class FakeAddressService:
    """The address service on 127.0.0.1: one configurable answer for every path.

    request_lines holds each request line as the raw bytes that arrived (without CRLF).
    """

    def __init__(self, port=8680, body=b"", status=200, delay=0.0,
                 content_type="text/plain; charset=gbk"):
        self.port = port
        self.request_lines = []
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._server = None
        self._thread = None
        self.respond(body, status, delay, content_type)

    def respond(self, body=b"", status=200, delay=0.0, content_type="text/plain; charset=gbk"):
        """Sets the answer for the following requests: status, body bytes, and a delay in
        seconds before answering."""
        with self._lock:
            self._answer = (status, bytes(body), float(delay), content_type)

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def start(self):
        service = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with service._lock:
                    service.request_lines.append(self.raw_requestline.rstrip(b"\r\n"))
                    status, body, delay, content_type = service._answer
                if delay and service._stopping.wait(delay):
                    return
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            allow_reuse_address = True
            daemon_threads = True

        self._stopping.clear()
        self._server = Server(("127.0.0.1", self.port), Handler)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server is not None:
            self._stopping.set()
            self._server.shutdown()
            self._server.server_close()
            self._thread.join()
            self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def requests(self):
        with self._lock:
            return list(self.request_lines)

    def wait_for_requests(self, count=1, timeout=10.0):
        """True once at least count requests have arrived."""
        return bool(_poll(lambda: len(self.requests()) >= count, timeout))

    def query_values(self, name="kw"):
        """The percent-decoded bytes of the query parameter in each request, in order
        (None for a request without it). A "+" stays a "+"."""
        values = []
        for line in self.requests():
            parts = line.split(b" ")
            target = parts[1] if len(parts) > 1 else b""
            query = target.partition(b"?")[2]
            found = None
            for pair in query.split(b"&"):
                key, _, value = pair.partition(b"=")
                if key == name.encode():
                    found = urllib.parse.unquote_to_bytes(value)
                    break
            values.append(found)
        return values
