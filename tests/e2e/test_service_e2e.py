"""The tool's main job end to end: qinglan.exe under Wine asks the project's own address service
(qinglan-service, with yt-dlp) on its default address 127.0.0.1:8680 for a watch page served on
loopback, and lists the video's addresses; 复制 puts one on the clipboard.

Needs QINGLAN_SERVICE_EXE (the native service) besides the variables the harness reads.
"""

import http.server
import os
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

import harness

ADDRESS_BOX, READ_BUTTON = 101, 102

WATCH_PAGE = b"""<html><head><title>demo</title></head><body>
<video controls>
  <source src="/media/demo_480p.mp4" type="video/mp4" res="480" label="480p">
  <source src="/media/demo_1080p.mp4" type="video/mp4" res="1080" label="1080p">
</video></body></html>"""


class WatchPages(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = WATCH_PAGE if self.path == "/watch/demo.html" else b"not here"
        self.send_response(200 if self.path == "/watch/demo.html" else 404)
        self.send_header("Content-Type", "text/html" if body == WATCH_PAGE else "video/mp4")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    do_HEAD = do_GET

    def log_message(self, *args):
        pass


class ServiceEndToEndTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = harness.WineSession().start()
        cls.pages = http.server.ThreadingHTTPServer(("127.0.0.1", 0), WatchPages)
        threading.Thread(target=cls.pages.serve_forever, daemon=True).start()
        cls.origin = f"http://127.0.0.1:{cls.pages.server_address[1]}"
        cls.service_log = open(cls.session.wine_dir / "service-e2e.log", "wb")
        cls.service = subprocess.Popen([os.environ["QINGLAN_SERVICE_EXE"]],
                                       stdin=subprocess.DEVNULL, stdout=cls.service_log,
                                       stderr=cls.service_log)
        if not harness._poll(lambda: cls.service.poll() is not None or cls.healthy(), 60,
                             interval=0.3) or cls.service.poll() is not None:
            cls.tearDownClass()
            log = (cls.session.wine_dir / "service-e2e.log").read_text(errors="replace")
            raise harness.HarnessError(f"the address service did not become ready: {log}")

    @staticmethod
    def healthy():
        try:
            with urllib.request.urlopen("http://127.0.0.1:8680/healthz", timeout=2) as reply:
                return reply.status == 200
        except OSError:
            return False

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait(20)
        cls.service_log.close()
        cls.pages.shutdown()
        cls.session.close()

    def test_a_watch_page_gives_its_video_addresses_best_first(self):
        app = self.session.start_app()
        self.addCleanup(app.kill)
        main = self.session.window()
        controls = self.session.controls()

        def click(control_id, button=1):
            c = controls[control_id]
            self.session.click(main["client_x"] + (c["left"] + c["right"]) // 2,
                               main["client_y"] + (c["top"] + c["bottom"]) // 2, button=button)

        click(ADDRESS_BOX)
        self.session.type_text(self.origin + "/watch/demo.html")
        click(READ_BUTTON)
        expected = [(self.origin + "/media/demo_1080p.mp4").encode(),
                    (self.origin + "/media/demo_480p.mp4").encode()]
        harness._poll(lambda: self.session.rows()["texts"] == expected, 30)
        self.assertEqual(self.session.rows()["texts"], expected)

        self.session.set_clipboard(b"earlier")
        left, top, right, bottom = self.session.list_rect(0)
        self.session.right_click((left + right) // 2, (top + bottom) // 2)
        self.session.key("Down", "Down", "Return")
        time.sleep(0.3)
        self.assertEqual(self.session.clipboard_text_bytes(), expected[0])


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{max(result.testsRun - failed, 0)} passed, {failed} failed")
    sys.exit(1 if failed else 0)
