// The main window, built for real in this process and driven through its messages.
#include "ui/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "lookup/service_hosts.h"
#include "tests/support/loopback_server.h"
#include "ui/code_page.h"
#include "ui/owner_window.h"
#include "ui/shell_actions.h"
#include "ui/tests/ui_test_support.h"

namespace qinglan {
namespace {

using namespace qinglan::testing;

const std::string kFront = "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";
const std::string kBack = "<td align=left class=\"mn STYLE4\">\r";

std::string anchor(const std::string& address) {
    return "<a href=\"" + address + "\" target=\"_blank\">x</a>";
}

std::string page_listing(std::initializer_list<std::string> addresses) {
    std::string block;
    for (const std::string& address : addresses) {
        block += "<br>" + anchor(address);
    }
    return "<html>" + kFront + block + kBack + "\n</html>";
}

class MainWindowTest : public ::testing::Test {
  protected:
    explicit MainWindowTest(Text service_base = "http://127.0.0.1:9/parse.php?kw=")
        : window_(MainWindowOptions{std::move(service_base), false}) {}

    void SetUp() override {
        ASSERT_TRUE(window_.create());
        pump_messages();
    }
    void TearDown() override {
        if (IsWindow(window_.handle())) {
            DestroyWindow(window_.handle());
        }
        pump_messages();
    }

    HWND control(int id) const { return GetDlgItem(window_.handle(), id); }
    AddressListView& list() { return window_.address_list(); }

    void fill_rows(std::initializer_list<Text> captions) {
        list().clear_rows();
        for (const Text& caption : captions) {
            list().set_row_caption(list().append_row(), 0, caption);
        }
    }
    void select_row(int row) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list().handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&state));
    }
    // A menu choice reaches the window as a command of its own once the menu has closed.
    void choose(AddressMenuCommand command) {
        PostMessageW(window_.handle(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
        pump_messages();
    }

    MainWindow window_;
};

TEST_F(MainWindowTest, OpensCentredWithAFixedFrameAndOnlyACloseBox) {
    const RECT outer = outer_rect(window_.handle());
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 415) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 349) / 2);
    EXPECT_EQ(outer.right - outer.left, 415);
    EXPECT_EQ(outer.bottom - outer.top, 349);
    if (GetSystemMetrics(SM_CXSCREEN) == 1024 && GetSystemMetrics(SM_CYSCREEN) == 768) {
        EXPECT_EQ(outer.left, 304);
        EXPECT_EQ(outer.top, 209);
    }
    const auto style = static_cast<DWORD>(GetWindowLongW(window_.handle(), GWL_STYLE));
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_EQ(GetWindow(window_.handle(), GW_OWNER), nullptr);  // it has its taskbar button
    EXPECT_EQ(window_text(window_.handle()),
              Text("\xC7\xE0\xE1\xB0 - \xCA\xD3\xC6\xB5\xCF\xC2\xD4\xD8\xB9\xA4\xBE\xDF"));
    EXPECT_NE(SendMessageW(window_.handle(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(window_.handle(), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(GetFocus(), control(kAddressBoxId));
}

TEST_F(MainWindowTest, ControlsStandWhereTheDesignPutsThem) {
    struct Expected {
        int id;
        const wchar_t* window_class;
        RECT rect;
        const char* text;
        bool tab_stop;
    };
    const Expected controls[] = {
        {kAddressBoxId, L"Edit", {3, 4, 349, 28}, "", true},
        {kReadButtonId, L"Button", {353, 3, 401, 27}, "\xB6\xC1\xC8\xA1", true},  // 读取
        {kAddressListId, L"SysListView32", {2, 35, 406, 275}, "", true},
        {kInstructionsButtonId,
         L"Button",
         {115, 287, 291, 311},
         "\xCA\xB9\xD3\xC3\xCB\xB5\xC3\xF7 - \xB1\xD8\xBF\xB4",
         true},  // 使用说明 - 必看
        {kSiteLinkId, L"Static", {320, 287, 392, 311}, kMakerSiteHost, false},
    };
    const auto default_font = reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
    for (const Expected& expected : controls) {
        HWND child = control(expected.id);
        ASSERT_NE(child, nullptr) << expected.id;
        wchar_t window_class[64] = {};
        GetClassNameW(child, window_class, 64);
        EXPECT_STREQ(window_class, expected.window_class) << expected.id;
        const RECT rect = rect_in_parent(child);
        EXPECT_EQ(rect.left, expected.rect.left) << expected.id;
        EXPECT_EQ(rect.top, expected.rect.top) << expected.id;
        EXPECT_EQ(rect.right, expected.rect.right) << expected.id;
        EXPECT_EQ(rect.bottom, expected.rect.bottom) << expected.id;
        EXPECT_EQ(window_text(child), Text(expected.text)) << expected.id;
        EXPECT_EQ(SendMessageW(child, WM_GETFONT, 0, 0), default_font) << expected.id;
        const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        EXPECT_EQ((style & WS_TABSTOP) != 0, expected.tab_stop) << expected.id;
        EXPECT_TRUE(IsWindowVisible(child) && IsWindowEnabled(child)) << expected.id;
        if (std::wstring(expected.window_class) == L"Button") {
            EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON)) << expected.id;
        }
    }
}

TEST_F(MainWindowTest, TheSiteLinkFitsItsLabel) {
    HWND link = control(kSiteLinkId);
    HDC dc = GetDC(link);
    const HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    const std::wstring text = to_wide(kMakerSiteHost);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(link, dc);
    EXPECT_LE(size.cx, 72);
}

TEST_F(MainWindowTest, TheListHasOneColumnSingleSelectionAndNoFullRowSelect) {
    HWND list_view = list().handle();
    const auto style = static_cast<DWORD>(GetWindowLongW(list_view, GWL_STYLE));
    EXPECT_EQ(style & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_FALSE(style & (LVS_SHOWSELALWAYS | LVS_EDITLABELS | LVS_NOCOLUMNHEADER |
                          LVS_NOSORTHEADER | LVS_SORTASCENDING | LVS_SORTDESCENDING));
    const auto extended =
        static_cast<DWORD>(SendMessageW(list_view, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_FALSE(extended & (LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES |
                             LVS_EX_TRACKSELECT | LVS_EX_HEADERDRAGDROP));
    HWND header = reinterpret_cast<HWND>(SendMessageW(list_view, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 1);
    wchar_t text[32] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 32;
    ASSERT_TRUE(SendMessageW(list_view, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
    EXPECT_EQ(from_wide(text), Text("\xCD\xF8\xD5\xBE"));  // 网站
    EXPECT_EQ(column.cx, 400);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);

    // Selecting a second row leaves only that one selected.
    fill_rows({"a", "b"});
    select_row(0);
    select_row(1);
    EXPECT_EQ(SendMessageW(list_view, LVM_GETSELECTEDCOUNT, 0, 0), 1);
    EXPECT_EQ(list().selected_row(), 1);
}

TEST_F(MainWindowTest, TheListOperationsWorkAtTheirEdges) {
    EXPECT_EQ(list().selected_row(), -1);
    EXPECT_EQ(list().append_row(), 0);
    EXPECT_EQ(list().append_row(), 1);
    EXPECT_EQ(list().get_row_caption(1), Text());
    const std::string long_caption = "http://cdn.example/" + std::string(3000, 'x') + ".flv";
    list().set_row_caption(1, 0, long_caption);
    list().set_row_caption(0, 0, "http://v.example/\xCF\xC2\xD4\xD8.mp4");
    list().set_row_caption(2, 0, "no such row");
    list().set_row_caption(-1, 0, "no such row");
    EXPECT_EQ(list().row_count(), 2);
    EXPECT_EQ(list().get_row_caption(1), Text(long_caption));
    EXPECT_EQ(list().get_row_caption(0), Text("http://v.example/\xCF\xC2\xD4\xD8.mp4"));
    EXPECT_EQ(list().get_row_caption(2), Text());
    EXPECT_EQ(list().get_row_caption(-1), Text());
    list().clear_rows();
    EXPECT_EQ(list().row_count(), 0);
    EXPECT_EQ(list().append_row(), 0);
}

class MainWindowWithServiceTest : public MainWindowTest {
  protected:
    MainWindowWithServiceTest() : MainWindowTest(make_base()) {}

    static Text make_base() {
        server_ =
            std::make_unique<LoopbackServer>([](const RecordedRequest& request, Connection& peer) {
                peer.send(http_response(
                    200, request.request_line.find("kw=second") != std::string::npos
                             ? page_listing({"http://v.example/c.mp4"})
                             : page_listing({"http://v.example/a.flv", "http://v.example/b.flv"})));
            });
        return "http://127.0.0.1:" + std::to_string(server_->port()) + "/parse.php?kw=";
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        server_.reset();
    }
    void type_and_read(const std::string& typed) {
        SetWindowTextW(control(kAddressBoxId), to_wide(typed).c_str());
        SendMessageW(control(kReadButtonId), BM_CLICK, 0, 0);
        pump_messages();
    }
    std::vector<Text> rows() {
        std::vector<Text> captions;
        for (int row = 0; row < list().row_count(); ++row) {
            captions.push_back(list().get_row_caption(row));
        }
        return captions;
    }

    static inline std::unique_ptr<LoopbackServer> server_;
};

TEST_F(MainWindowWithServiceTest, ReadListsTheAddressesAndASecondReadReplacesThem) {
    type_and_read("http://video.example/watch?id=1 &t=2");
    EXPECT_EQ(rows(), (std::vector<Text>{"http://v.example/a.flv", "http://v.example/b.flv"}));
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_EQ(server_->requests()[0].request_line,
              "GET /parse.php?kw=http://video.example/watch?id=1%20&t=2 HTTP/1.1");
    EXPECT_EQ(window_text(control(kAddressBoxId)), Text("http://video.example/watch?id=1 &t=2"));

    select_row(1);
    type_and_read("second");
    EXPECT_EQ(rows(), (std::vector<Text>{"http://v.example/c.mp4"}));
    EXPECT_EQ(list().selected_row(), -1);
}

TEST_F(MainWindowWithServiceTest, EnterInTheAddressBoxStartsNoRead) {
    SetWindowTextW(control(kAddressBoxId), L"x");
    SetFocus(control(kAddressBoxId));
    press_key(control(kAddressBoxId), VK_RETURN);
    pump_messages();
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_EQ(GetFocus(), control(kAddressBoxId));
}

TEST_F(MainWindowTest, CopyPutsTheSelectedCaptionsBytesOnTheClipboard) {
    const std::string long_caption = "http://cdn.example/" + std::string(700, 'y');
    const std::string double_byte = "http://v.example/\xCF\xC2\xD4\xD8/\xB5\xD8\xD6\xB7.flv";
    fill_rows({"http://v.example/1.flv", long_caption, double_byte, ""});
    for (const auto& [row, expected] : {std::pair<int, std::string>{1, long_caption},
                                        {2, double_byte},
                                        {0, "http://v.example/1.flv"},
                                        {3, ""}}) {
        put_on_clipboard("earlier");
        select_row(row);
        choose(kCopyCommand);
        EXPECT_EQ(clipboard_text(), expected) << "row " << row;
    }
}

TEST_F(MainWindowTest, CopyWithoutASelectionOrWithTheClipboardHeldLeavesItAlone) {
    fill_rows({"http://v.example/1.flv"});
    put_on_clipboard("earlier");
    choose(kCopyCommand);
    EXPECT_EQ(clipboard_text(), "earlier");

    select_row(0);
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        const OpenClipboardSession held(nullptr);
        SetEvent(opened);
        WaitForSingleObject(release, 10000);
    });
    WaitForSingleObject(opened, 10000);
    choose(kCopyCommand);
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);
    EXPECT_EQ(clipboard_text(), "earlier");
}

TEST(WebAddress, OnlyWebSchemesAndTheEmptyTextAreHandedToTheShell) {
    struct Case {
        const char* address;
        bool web;
    };
    EXPECT_TRUE(may_hand_to_shell(""));
    EXPECT_FALSE(is_web_address(""));
    const Case cases[] = {
        {"http://v.example/a.flv", true},
        {"HTTPS://v.example/", true},
        {"Ftp://f.example/x", true},
        {"calc", false},
        {"C:\\Windows\\System32\\calc.exe", false},
        {"\\\\host\\share\\x.exe", false},
        {"file:///C:/Windows/notepad.exe", false},
        {" http://v.example/", false},
        {"http:/v.example", false},
        {"mailto:a@b", false},
        {"javascript:alert(1)", false},
        {"ms-settings:", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_web_address(c.address), c.web) << c.address;
        EXPECT_EQ(may_hand_to_shell(c.address), c.web) << c.address;
    }
}

TEST_F(MainWindowTest, DownloadAndTheSiteLinkHandWebAddressesToTheShell) {
    const std::string before = browser_calls();
    const auto calls_before =
        static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    fill_rows(
        {"C:\\Windows\\System32\\calc.exe", "file:///C:/x.exe", "", "http://v.example/a%20b.flv"});
    choose(kDownloadCommand);  // nothing selected
    for (int row = 0; row < 3; ++row) {
        select_row(row);
        choose(kDownloadCommand);
    }
    select_row(3);
    choose(kDownloadCommand);
    // The site opens when the button goes down, with no release, and again on every press.
    HWND link = control(kSiteLinkId);
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));

    wait_for_browser_calls(calls_before + 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // The shell starts the browser asynchronously, so the calls may arrive in any order; Wine's
    // launcher writes a bare host with the root path's slash.
    std::vector<std::string> opened;
    std::istringstream lines(browser_calls().substr(before.size()));
    for (std::string line; std::getline(lines, line);) {
        opened.push_back(line);
    }
    std::sort(opened.begin(), opened.end());
    const std::string site = std::string("http://") + kMakerSiteHost + "/";
    EXPECT_EQ(opened, (std::vector<std::string>{site, site, "http://v.example/a%20b.flv"}));
}

TEST_F(MainWindowTest, TheSiteLinkShowsTheHandCursor) {
    HWND link = control(kSiteLinkId);
    SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
}

TEST_F(MainWindowTest, TabMovesTheFocusAmongTheFourControlsThatTakeIt) {
    const int order[] = {kAddressBoxId, kReadButtonId, kAddressListId, kInstructionsButtonId,
                         kAddressBoxId};
    SetFocus(control(order[0]));
    for (std::size_t i = 1; i < std::size(order); ++i) {
        press_key(GetFocus(), VK_TAB);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), order[i]) << "after " << order[i - 1];
    }
    press_key(GetFocus(), VK_TAB, {VK_SHIFT});
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), kInstructionsButtonId);
}

TEST_F(MainWindowTest, CtrlASelectsTheWholeAddress) {
    HWND box = control(kAddressBoxId);
    SetWindowTextW(box, L"http://v.example/watch?id=1");
    SetFocus(box);
    SendMessageW(box, EM_SETSEL, 3, 3);
    press_key(box, 'A', {VK_CONTROL});
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 27u);
}

TEST_F(MainWindowTest, TheAddressBoxTakesAPastedAddressOfAnyLength) {
    HWND box = control(kAddressBoxId);
    // Longer than the 30,000 or so characters an edit box takes by default. EM_REPLACESEL is what a
    // paste does, and it heeds the limit that typing heeds.
    const std::wstring address = L"http://v.example/watch?id=" + std::wstring(40'000, L'7');
    SetFocus(box);
    SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(address.c_str()));
    EXPECT_EQ(GetWindowTextLengthW(box), static_cast<int>(address.size()));
    EXPECT_EQ(window_text(box).bytes(), std::string(address.begin(), address.end()));
    SetWindowTextW(box, L"");
}

TEST_F(MainWindowTest, EscClosesTheWindowFromAnyControl) {
    press_key(control(kAddressBoxId), VK_ESCAPE, {VK_SHIFT});
    EXPECT_TRUE(IsWindow(window_.handle()));
    press_key(control(kAddressBoxId), VK_ESCAPE);
    pump_messages();
    EXPECT_FALSE(IsWindow(window_.handle()));
}

}  // namespace
}  // namespace qinglan
