"""qinglan.exe as a user drives it: real mouse and keyboard input from xdotool, the real pop-up
menu, the real clipboard, the browser launcher of the shell, and a fake address service on the
program's default address, 127.0.0.1:8680.

Run by ctest in the Windows build, which passes QINGLAN_BUILD_DIR, QINGLAN_WINE_DIR, QINGLAN_EXE
and QINGLAN_PROBE.
"""

import sys
import time
import unittest

import harness

FRONT = "<br>下载地址：".encode("gbk")
BACK = b'<td align=left class="mn STYLE4">\r'
INSTRUCTIONS_CLASS = "QinglanInstructionsWindow"
MENU_CLASS = "#32768"

ADDRESS_BOX, READ_BUTTON, ADDRESS_LIST, INSTRUCTIONS_BUTTON, SITE_LINK = 101, 102, 103, 104, 105

LONG_ADDRESS = b"http://cdn.example/video/" + b"a" * 600 + b".flv"
CHINESE_ADDRESS = "http://cdn.example/视频/第一集.mp4".encode("gbk")
PLAIN_ADDRESS = b"http://cdn.example/v/2.mp4?key=1&t=2"
LOCAL_PROGRAM = b"C:\\windows\\system32\\notepad.exe"


def result_page(addresses):
    block = b"".join(b'<br><a href="' + a + b'" target="_blank">link</a>' for a in addresses)
    return b"<html><body>title" + FRONT + block + BACK + b"\n</body></html>"


def centre(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


class QinglanTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = harness.WineSession().start()
        cls.service = harness.FakeAddressService(
            port=8680, body=result_page([PLAIN_ADDRESS, LONG_ADDRESS, CHINESE_ADDRESS,
                                         LOCAL_PROGRAM])).start()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.session.close()

    def setUp(self):
        self.app = self.session.start_app()
        self.addCleanup(self.app.kill)
        self.main = self.session.window()
        self.controls = self.session.controls()
        self.requests_before = len(self.service.requests())

    # --- helpers ------------------------------------------------------------------------

    def control_centre(self, control_id):
        """Screen coordinates of the middle of a main-window control."""
        c = self.controls[control_id]
        return (self.main["client_x"] + (c["left"] + c["right"]) // 2,
                self.main["client_y"] + (c["top"] + c["bottom"]) // 2)

    def click_control(self, control_id, button=1):
        self.session.click(*self.control_centre(control_id), button=button)

    def read(self, typed):
        self.click_control(ADDRESS_BOX)
        self.session.key("ctrl+a", "BackSpace")  # replaces what an earlier read left
        self.session.type_text(typed)
        self.click_control(READ_BUTTON)
        self.assertTrue(self.service.wait_for_requests(self.requests_before + 1))
        self.requests_before = len(self.service.requests())
        harness._poll(lambda: len(self.session.rows()["texts"]) > 0, 10)

    def pop_up_menu_at(self, x, y):
        """Right-clicks at (x, y) and checks that the pop-up menu opened, owned by the main
        window, with its top-left corner 3 pixels right of and below the pointer."""
        self.session.right_click(x, y)
        self.assertTrue(harness._poll(lambda: self.session.window(MENU_CLASS) is not None, 10),
                        "no pop-up menu")
        menu = self.session.window(MENU_CLASS)
        self.assertEqual((menu["left"], menu["top"]), (x + 3, y + 3))
        self.assertEqual(menu["owner"], harness.MAIN_CLASS)

    def choose_from_row_menu(self, row, item, rect=None):
        """Right-clicks a row and chooses the menu's item by its position (0 下载, 1 复制)."""
        self.pop_up_menu_at(*centre(rect or self.session.list_rect(row)))
        self.session.key(*(["Down"] * (item + 1)), "Return")
        self.assertTrue(self.session.wait_gone(MENU_CLASS))
        time.sleep(0.3)

    # --- tests --------------------------------------------------------------------------

    def test_the_window_opens_centred_with_the_address_box_focused(self):
        screen = self.session.screen()
        self.assertEqual((self.main["left"], self.main["top"]),
                         ((screen["cx"] - 415) // 2, (screen["cy"] - 349) // 2))
        self.assertEqual((self.main["right"] - self.main["left"],
                          self.main["bottom"] - self.main["top"]), (415, 349))
        self.assertEqual(self.main["caption"], "青岚 - 视频下载工具".encode("gbk"))
        self.assertEqual(self.main["focus_id"], ADDRESS_BOX)
        self.assertEqual(self.session.rows()["texts"], [])

    def test_read_lists_the_rows_and_the_menu_copies_and_opens_them(self):
        self.read("v.example/watch?id=7")
        self.assertEqual(self.service.requests()[-1],
                         b"GET /parse.php?kw=v.example/watch?id=7 HTTP/1.1")
        rows = self.session.rows()
        self.assertEqual(rows["texts"], [PLAIN_ADDRESS, LONG_ADDRESS, CHINESE_ADDRESS,
                                         LOCAL_PROGRAM])
        self.assertEqual(rows["selected"], -1)

        for row, expected in ((1, LONG_ADDRESS), (2, CHINESE_ADDRESS), (0, PLAIN_ADDRESS)):
            self.session.set_clipboard(b"earlier")
            self.choose_from_row_menu(row, 1)
            self.assertEqual(self.session.rows()["selected"], row)
            self.assertEqual(self.session.clipboard_text_bytes(), expected, f"row {row}")

        self.session.clear_browser_calls()
        self.choose_from_row_menu(3, 0)   # a local program is never handed to the shell
        self.choose_from_row_menu(0, 0)
        self.session.wait_browser_calls(1)
        self.choose_from_row_menu(1, 0)   # a caption over 512 bytes is opened whole
        self.session.wait_browser_calls(2)
        time.sleep(1.0)
        self.assertEqual(self.session.browser_calls(), [PLAIN_ADDRESS, LONG_ADDRESS])
        self.assertIsNone(self.session.window("Notepad"))  # the shell would have started it

        # A second read replaces every row and leaves none selected.
        self.service.respond(result_page([b"http://cdn.example/other.mp4"]))
        try:
            self.read("v.example/watch?id=8")
            self.assertEqual(self.service.requests()[-1],
                             b"GET /parse.php?kw=v.example/watch?id=8 HTTP/1.1")
        finally:
            self.service.respond(result_page([PLAIN_ADDRESS, LONG_ADDRESS, CHINESE_ADDRESS,
                                              LOCAL_PROGRAM]))
        harness._poll(lambda: self.session.rows()["texts"] == [b"http://cdn.example/other.mp4"], 10)
        rows = self.session.rows()
        self.assertEqual(rows["texts"], [b"http://cdn.example/other.mp4"])
        self.assertEqual(rows["selected"], -1)

    def test_the_menu_on_an_empty_list_does_nothing(self):
        self.session.set_clipboard(b"earlier")
        self.session.clear_browser_calls()
        for keys in (("Down", "Down", "Return"), ("Down", "Return")):   # 复制, then 下载
            self.pop_up_menu_at(*self.control_centre(ADDRESS_LIST))
            self.session.key(*keys)
            self.assertTrue(self.session.wait_gone(MENU_CLASS))
        time.sleep(1.0)
        self.assertEqual(self.session.clipboard_text_bytes(), b"earlier")
        self.assertEqual(self.session.browser_calls(), [])
        self.assertTrue(self.app.is_running())

    def test_copy_leaves_a_clipboard_held_by_another_program_alone(self):
        self.read("v.example/watch?id=9")
        self.session.set_clipboard(b"earlier")
        row_rect = self.session.list_rect(0)   # asked first: each probe start takes a while
        holder = self.session.hold_clipboard(15000)
        self.choose_from_row_menu(0, 1, rect=row_rect)
        self.assertEqual(self.session.rows()["selected"], 0)
        self.assertTrue(holder.is_holding(), "the clipboard was let go before the copy")
        holder.wait()
        self.assertEqual(self.session.clipboard_text_bytes(), b"earlier")

    def test_enter_starts_no_read_and_esc_ends_the_program(self):
        self.click_control(ADDRESS_BOX)
        self.session.type_text("v.example/x")
        self.session.key("Return")
        time.sleep(1.0)
        self.assertEqual(len(self.service.requests()), self.requests_before)
        self.assertTrue(self.app.is_running())
        self.session.key("Escape")
        self.assertEqual(self.app.wait_exit(15), 0)

    def test_the_site_link_opens_the_makers_site(self):
        self.session.clear_browser_calls()
        self.click_control(SITE_LINK)
        calls = self.session.wait_browser_calls(1)
        self.assertEqual(len(calls), 1)
        self.assertTrue(calls[0].startswith(b"http://" + self.controls[SITE_LINK]["text"]))

    def test_the_instructions_window_is_modal_and_closes_on_a_plain_esc(self):
        self.click_control(INSTRUCTIONS_BUTTON)
        self.assertTrue(self.session.wait_window(INSTRUCTIONS_CLASS))
        window = self.session.window(INSTRUCTIONS_CLASS)
        screen = self.session.screen()
        self.assertEqual((window["left"], window["top"]),
                         ((screen["cx"] - 466) // 2, (screen["cy"] - 418) // 2))
        self.assertEqual((window["right"] - window["left"], window["bottom"] - window["top"]),
                         (466, 418))
        self.assertEqual(window["owner"], "QinglanOwnerWindow")
        self.assertFalse(self.session.window()["enabled"])

        # The main window takes no input meanwhile.
        self.click_control(READ_BUTTON)
        self.assertFalse(self.service.wait_for_requests(self.requests_before + 1, timeout=3))

        title_bar = ((window["left"] + window["right"]) // 2, window["top"] + 8)
        for modified in ("shift+Escape", "alt+Escape", "ctrl+Escape"):
            self.session.click(*title_bar)
            self.session.key(modified)
            time.sleep(0.3)
            self.assertIsNotNone(self.session.window(INSTRUCTIONS_CLASS), modified)
        self.session.click(*title_bar)
        self.session.key("Escape")
        self.assertTrue(self.session.wait_gone(INSTRUCTIONS_CLASS))
        self.assertTrue(self.session.window()["enabled"])

        # ... and takes input again afterwards: exactly the one read of this click.
        self.click_control(READ_BUTTON)
        self.assertTrue(self.service.wait_for_requests(self.requests_before + 1))
        time.sleep(1.0)
        self.assertEqual(len(self.service.requests()), self.requests_before + 1)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{max(result.testsRun - failed, 0)} passed, {failed} failed")
    sys.exit(1 if failed else 0)
