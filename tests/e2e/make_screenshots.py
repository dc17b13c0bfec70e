"""Takes the README's screenshots: the main window after a read and the instructions window,
each under Wine's virtual desktop so that the Windows frame shows.

Usage: make_screenshots.py OUTPUT_DIR (run through scripts/screenshots.sh).
"""

import sys
import time
from pathlib import Path

import harness

FRONT = "<br>下载地址：".encode("gbk")
BACK = b'<td align=left class="mn STYLE4">\r'
ADDRESSES = [
    b"http://cdn.example/v/20261211/qinglan-demo_1080p.mp4?sign=7f3a9c&t=1765411200",
    b"http://cdn.example/v/20261211/qinglan-demo_720p.mp4?sign=7f3a9c&t=1765411200",
    b"http://cdn.example/v/20261211/qinglan-demo_480p.flv?sign=7f3a9c&t=1765411200",
]


def window_rect(window):
    return window["left"], window["top"], window["right"], window["bottom"]


def main(output_dir):
    output = Path(output_dir)
    output.mkdir(parents=True, exist_ok=True)
    page = FRONT + b"".join(b'<br><a href="' + a + b'" target="_blank">x</a>' for a in ADDRESSES)
    with harness.WineSession() as session, \
            harness.FakeAddressService(port=8680, body=page + BACK) as service:
        app = session.start_app()
        main_window = session.window()
        controls = session.controls()

        def click(control_id):
            c = controls[control_id]
            session.click(main_window["client_x"] + (c["left"] + c["right"]) // 2,
                          main_window["client_y"] + (c["top"] + c["bottom"]) // 2)

        click(101)
        session.type_text("http://v.example.com/show/id_XMzk2NjE5Njg=.html")
        click(102)
        service.wait_for_requests(1)
        harness._poll(lambda: len(session.rows()["texts"]) == len(ADDRESSES), 10)
        row = session.list_rect(0)
        session.click((row[0] + row[2]) // 2, (row[1] + row[3]) // 2)
        time.sleep(0.5)
        session.screenshot(output / "main-window.png", window_rect(session.window()))

        click(104)
        session.wait_window("QinglanInstructionsWindow")
        time.sleep(0.5)
        instructions = session.window("QinglanInstructionsWindow")
        session.screenshot(output / "instructions-window.png", window_rect(instructions))
        session.key("Escape")
        session.key("Escape")
        app.wait_exit(10)


if __name__ == "__main__":
    main(sys.argv[1])
