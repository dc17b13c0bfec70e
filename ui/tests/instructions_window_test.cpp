// The instructions window, opened modally over a real main window in this process.
#include "ui/instructions_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/app_resources.h"
#include "ui/code_page.h"
#include "ui/instructions_picture_layout.h"
#include "ui/main_window.h"
#include "ui/owner_window.h"
#include "ui/tests/ui_test_support.h"
#include "ui/window_classes.h"

namespace qinglan {
namespace {

using namespace qinglan::testing;

HWND instructions_window() {
    return FindWindowW(kInstructionsWindowClass, nullptr);
}

class InstructionsWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(owner_.handle(), nullptr);
        ASSERT_TRUE(main_.create());
        pump_messages();
    }
    void TearDown() override {
        DestroyWindow(main_.handle());
        pump_messages();
    }

    // Opens the window and runs `while_open` once it is up; the window is closed with Esc after.
    // A window that never came up fails the test, so no check of `while_open` is skipped.
    bool open_and(const std::function<void(HWND)>& while_open,
                  std::span<const std::uint8_t> picture = instructions_picture_bytes()) {
        bool ran = false;
        run_from_message_loop([&] {
            HWND window = instructions_window();
            if (window != nullptr) {
                ran = true;
                UpdateWindow(window);
                while_open(window);
                press_key(window, VK_ESCAPE);
            }
        });
        const bool shown = show_instructions_window_with_picture(picture);
        forget_pending_action();
        EXPECT_TRUE(shown);
        EXPECT_TRUE(ran) << "the instructions window was not found while open";
        return shown && ran;
    }

    InvisibleOwnerWindow owner_;
    MainWindow main_{MainWindowOptions{"http://127.0.0.1:9/?kw=", false}};
};

TEST_F(InstructionsWindowTest, OpensCentredOwnedByTheInvisibleWindowAndModal) {
    bool checked = false;
    const bool shown = open_and([&](HWND window) {
        checked = true;
        const RECT outer = outer_rect(window);
        EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 466) / 2);
        EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 418) / 2);
        if (GetSystemMetrics(SM_CXSCREEN) == 1024 && GetSystemMetrics(SM_CYSCREEN) == 768) {
            EXPECT_EQ(outer.left, 279);
            EXPECT_EQ(outer.top, 175);
        }
        EXPECT_EQ(outer.right - outer.left, 466);
        EXPECT_EQ(outer.bottom - outer.top, 418);
        const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
        EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
        EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        EXPECT_EQ(GetWindow(window, GW_OWNER), owner_.handle());
        EXPECT_FALSE(IsWindowVisible(owner_.handle()));
        EXPECT_EQ(window_text(window), Text("\xCA\xB9\xD3\xC3\xCB\xB5\xC3\xF7"));  // 使用说明
        EXPECT_FALSE(IsWindowEnabled(main_.handle()));
        EXPECT_EQ(GetActiveWindow(), window);
        EXPECT_EQ(GetFocus(), window);
    });
    EXPECT_TRUE(shown);
    EXPECT_TRUE(checked);
    EXPECT_EQ(instructions_window(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(main_.handle()));
}

TEST_F(InstructionsWindowTest, ShowsBothTextsWholeInTheirLabels) {
    open_and([&](HWND window) {
        struct Expected {
            int id;
            RECT rect;
            const char* text;
        };
        const Expected labels[] = {
            {kUpperTextId, {13, 8, 440, 128}, kUpperText},
            {kPictureBoxId, {160, 136, 296, 272}, ""},
            {kLowerTextId, {8, 288, 456, 384}, kLowerText},
        };
        for (const Expected& label : labels) {
            HWND child = GetDlgItem(window, label.id);
            ASSERT_NE(child, nullptr);
            const RECT rect = rect_in_parent(child);
            EXPECT_EQ(rect.left, label.rect.left);
            EXPECT_EQ(rect.top, label.rect.top);
            EXPECT_EQ(rect.right, label.rect.right);
            EXPECT_EQ(rect.bottom, label.rect.bottom);
            EXPECT_EQ(window_text(child), Text(label.text));
            EXPECT_FALSE(GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP);
        }
    });
    // The lower text ends in a line of 22 spaces, 青岚下载, 3 spaces and 拼音全称.
    const std::string lower(kLowerText);
    EXPECT_TRUE(lower.ends_with("\r\n" + std::string(22, ' ') + "\xC7\xE0\xE1\xB0\xCF\xC2\xD4\xD8" +
                                "   " + "\xC6\xB4\xD2\xF4\xC8\xAB\xB3\xC6"));
    EXPECT_TRUE(std::string(kUpperText).starts_with("\xC8\xE7\xD3\xC5\xBF\xE1"));     // 如优酷
    EXPECT_NE(std::string(kUpperText).find("\r\n\r\n1\xA3\xBA"), std::string::npos);  // 1：
}

COLORREF pixel_in(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

int brightness(COLORREF colour) {
    return (GetRValue(colour) + GetGValue(colour) + GetBValue(colour)) / 3;
}

TEST_F(InstructionsWindowTest, DrawsThePictureAtItsOwnSizeOverTheBackground) {
    open_and([&](HWND window) {
        HWND box = GetDlgItem(window, kPictureBoxId);
        const int module = kQrModulePixels;
        // The top-left finder pattern: a dark 3 x 3 core, a light ring one module in.
        const int finder_centre_x = kQrLeft + 3 * module + module / 2;
        const int finder_centre_y = kQrTop + 3 * module + module / 2;
        EXPECT_LT(brightness(pixel_in(box, finder_centre_x, finder_centre_y)), 64);
        EXPECT_GT(brightness(pixel_in(box, kQrLeft + module + module / 2, finder_centre_y)), 192);
        EXPECT_LT(brightness(pixel_in(box, kQrLeft + module / 2, finder_centre_y)), 64);
        EXPECT_GT(brightness(pixel_in(box, 2, 2)), 192);  // the light margin
        // Beyond the picture's 131 x 133 pixels the box shows the button face.
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        EXPECT_EQ(pixel_in(box, 131, 10), face);
        EXPECT_EQ(pixel_in(box, 135, 135), face);
        EXPECT_EQ(pixel_in(box, 10, 133), face);
        EXPECT_NE(pixel_in(box, 130, 132), face);
    });
}

TEST_F(InstructionsWindowTest, APictureThatDoesNotDecodeLeavesOnlyTheBackground) {
    const std::span<const std::uint8_t> picture = instructions_picture_bytes();
    std::vector<std::uint8_t> corrupt(picture.begin(), picture.begin() + 200);
    bool checked = false;
    EXPECT_TRUE(open_and(
        [&](HWND window) {
            checked = true;
            HWND box = GetDlgItem(window, kPictureBoxId);
            const COLORREF face = GetSysColor(COLOR_BTNFACE);
            for (const POINT at : {POINT{0, 0}, POINT{40, 40}, POINT{65, 66}, POINT{135, 135}}) {
                EXPECT_EQ(pixel_in(box, at.x, at.y), face) << at.x << "," << at.y;
            }
        },
        corrupt));
    EXPECT_TRUE(checked);
}

TEST_F(InstructionsWindowTest, OnlyAPlainEscClosesIt) {
    bool stayed_open = false;
    open_and([&](HWND window) {
        press_key(window, VK_ESCAPE, {VK_SHIFT});
        press_key(window, VK_ESCAPE, {VK_CONTROL});
        press_key(window, VK_ESCAPE, {VK_MENU});
        stayed_open = IsWindow(window) != FALSE;
    });
    EXPECT_TRUE(stayed_open);
    EXPECT_EQ(instructions_window(), nullptr);
}

TEST_F(InstructionsWindowTest, OpensCentredAgainAfterBeingMoved) {
    RECT first{};
    open_and([&](HWND window) {
        first = outer_rect(window);
        SetWindowPos(window, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_EQ(outer_rect(window).left, 10);
    });
    RECT second{};
    open_and([&](HWND window) { second = outer_rect(window); });
    EXPECT_EQ(second.left, first.left);
    EXPECT_EQ(second.top, first.top);
}

TEST_F(InstructionsWindowTest, KeepsADisabledWindowDisabledAfterClosing) {
    MainWindow second{MainWindowOptions{"http://127.0.0.1:9/?kw=", false}};
    ASSERT_TRUE(second.create());
    EnableWindow(second.handle(), FALSE);
    open_and([&](HWND) {
        EXPECT_FALSE(IsWindowEnabled(main_.handle()));
        EXPECT_FALSE(IsWindowEnabled(second.handle()));
    });
    EXPECT_TRUE(IsWindowEnabled(main_.handle()));
    EXPECT_FALSE(IsWindowEnabled(second.handle()));
    DestroyWindow(second.handle());
}

TEST_F(InstructionsWindowTest, AQuitMessageEndsTheModalLoopAndIsPostedAgain) {
    run_from_message_loop([] { PostQuitMessage(7); });
    EXPECT_TRUE(show_instructions_window());
    EXPECT_EQ(instructions_window(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(main_.handle()));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

// A hook that refuses to create instructions windows, as a system out of resources would.
LRESULT CALLBACK refuse_instructions_window(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        const auto* creation = reinterpret_cast<CBT_CREATEWNDW*>(lparam);
        const auto* name = creation->lpcs->lpszClass;
        if (!IS_INTRESOURCE(name) && std::wstring(name) == kInstructionsWindowClass) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(InstructionsWindowTest, WhenTheWindowCannotBeCreatedNothingIsDisabled) {
    HHOOK hook =
        SetWindowsHookExW(WH_CBT, &refuse_instructions_window, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    const bool shown = show_instructions_window();
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(IsWindowEnabled(main_.handle()));
}

TEST_F(InstructionsWindowTest, TheInstructionsButtonOpensIt) {
    bool opened = false;
    run_from_message_loop([&] {
        HWND window = instructions_window();
        opened = window != nullptr;
        if (window != nullptr) {
            press_key(window, VK_ESCAPE);
        }
    });
    SendMessageW(GetDlgItem(main_.handle(), kInstructionsButtonId), BM_CLICK, 0, 0);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(IsWindowEnabled(main_.handle()));
}

}  // namespace
}  // namespace qinglan
