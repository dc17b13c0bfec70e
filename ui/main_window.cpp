#include "ui/main_window.h"

#include <commctrl.h>

#include <array>
#include <string>

#include "lookup/service_hosts.h"
#include "ui/app_resources.h"
#include "ui/code_page.h"
#include "ui/control_table.h"
#include "ui/instructions_window.h"
#include "ui/shell_actions.h"
#include "ui/ui_texts.h"
#include "ui/window_classes.h"

namespace qinglan {
namespace {

constexpr int kOuterWidth = 415;
constexpr int kOuterHeight = 349;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;  // fixed, close box only

constexpr int kListColumnWidth = 400;

constexpr DWORD kPushButton = BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | WS_TABSTOP;

// The controls in the client area, in pixels: left, top, width, height.
constexpr std::array<ControlDefinition, 5> kControls{{
    // 编辑框1, the address box: one line that scrolls sideways, sunken border.
    {kAddressBoxId, WC_EDITW, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE,  //
     3, 4, 346, 24, ""},
    // 按钮1, the read button.
    {kReadButtonId, WC_BUTTONW, kPushButton, 0, 353, 3, 48, 24, kReadButtonText},
    // 超级列表框1, the address list: report view, single selection, no full-row selection,
    // selection hidden while the list has no focus.
    {kAddressListId, WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL | WS_TABSTOP, WS_EX_CLIENTEDGE, 2, 35,
     404, 240, ""},
    // 按钮2, the instructions button.
    {kInstructionsButtonId, WC_BUTTONW, kPushButton, 0, 115, 287, 176, 24, kInstructionsButtonText},
    // 透明标签1, the site link: one line, vertically centred, drawn transparently.
    {kSiteLinkId, WC_STATICW, SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX | SS_NOTIFY, 0, 320,
     287, 72, 24, kMakerSiteHost},
}};

struct MenuItem {
    int command;
    const char* text;
};
// The items of the menu "菜单", shown only as the address list's pop-up menu.
constexpr std::array<MenuItem, 2> kAddressMenu{{
    {kDownloadCommand, kDownloadMenuText},
    {kCopyCommand, kCopyMenuText},
}};
constexpr int kMenuOffset = 3;  // the menu opens this far right of and below the pointer

}  // namespace

MainWindow::MainWindow(MainWindowOptions options) : options_(std::move(options)) {}

bool MainWindow::create() {
    register_class(kMainWindowClass, application_icon_large(), application_icon_small());
    const std::wstring caption = to_wide(kMainWindowCaption);
    if (create_window(0, kMainWindowClass, caption.c_str(), kFrameStyle,
                      centred_on_primary_screen(kOuterWidth, kOuterHeight), nullptr) == nullptr) {
        return false;
    }
    set_application_icons(handle());
    SendMessageW(handle(), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    if (!build_controls()) {
        return false;
    }
    ShowWindow(handle(), SW_SHOWNORMAL);
    UpdateWindow(handle());
    SetFocus(GetDlgItem(handle(), kAddressBoxId));
    return true;
}

bool MainWindow::build_controls() {
    if (!create_controls(handle(), kControls)) {
        return false;
    }
    // An edit box takes about 30,000 characters from the user unless told otherwise; the address
    // box sets no limit of its own, so a pasted address is never cut short.
    SendMessageW(GetDlgItem(handle(), kAddressBoxId), EM_SETLIMITTEXT, 0, 0);
    address_list_ = AddressListView(GetDlgItem(handle(), kAddressListId));
    address_list_.add_column(kAddressListHeader, kListColumnWidth);
    SetWindowSubclass(GetDlgItem(handle(), kSiteLinkId), &MainWindow::site_link_procedure, 1,
                      reinterpret_cast<DWORD_PTR>(this));
    return true;
}

LRESULT MainWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            on_command(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
            return 0;
        case WM_NOTIFY:
            on_notify(*reinterpret_cast<const NMHDR*>(lparam));
            return 0;
        case WM_CTLCOLORSTATIC:
            return on_control_colour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        case WM_ACTIVATE:
            on_activate(wparam);
            return 0;
        case WM_DESTROY:
            if (options_.ends_program) {
                PostQuitMessage(0);
            }
            return 0;
        default:
            return default_handling(message, wparam, lparam);
    }
}

void MainWindow::on_command(int id, int notification, HWND control) {
    if (control == nullptr) {  // a menu choice
        if (id == kDownloadCommand) {
            download_selected();
        } else if (id == kCopyCommand) {
            copy_selected();
        }
        return;
    }
    if (notification != BN_CLICKED) {
        return;
    }
    if (id == kReadButtonId) {
        read();
    } else if (id == kInstructionsButtonId) {
        show_instructions_window();
    }
}

void MainWindow::on_notify(const NMHDR& header) {
    if (header.idFrom == kAddressListId && header.code == static_cast<UINT>(NM_RCLICK)) {
        show_address_menu();
    }
}

LRESULT MainWindow::on_control_colour(HDC dc, HWND control) {
    if (GetDlgCtrlID(control) != kSiteLinkId) {
        return default_handling(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(control));
    }
    // The site link draws its text straight onto the window's background.
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void MainWindow::on_activate(WPARAM state) {
    if (LOWORD(state) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(handle(), focus)) {
            focused_control_ = focus;
        }
    } else if (HIWORD(state) == 0) {  // not minimised
        SetFocus(focused_control_ != nullptr ? focused_control_
                                             : GetDlgItem(handle(), kAddressBoxId));
    }
}

void MainWindow::read() {
    const Text watch_address = window_text(GetDlgItem(handle(), kAddressBoxId));
    // The list is rebuilt row by row; it is painted once, when it is complete.
    const RedrawSuspension one_repaint(address_list_.handle());
    read_addresses_from(options_.service_base, watch_address, address_list_);
}

void MainWindow::show_address_menu() {
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) {
        return;
    }
    for (const MenuItem& item : kAddressMenu) {
        AppendMenuW(menu.get(), MF_STRING, static_cast<UINT_PTR>(item.command),
                    to_wide(item.text).c_str());
    }
    POINT pointer{};
    GetCursorPos(&pointer);
    // The choice arrives afterwards as a WM_COMMAND of its own, once the menu has closed.
    TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON,
                   pointer.x + kMenuOffset, pointer.y + kMenuOffset, 0, handle(), nullptr);
}

void MainWindow::download_selected() {
    const std::int32_t row = address_list_.selected_row();
    if (row == -1) {
        return;
    }
    open_in_shell(address_list_.get_row_caption(row));
}

void MainWindow::copy_selected() {
    const std::int32_t row = address_list_.selected_row();
    if (row == -1) {
        return;
    }
    copy_text_to_clipboard(handle(), address_list_.get_row_caption(row));
}

void MainWindow::open_site() {
    open_in_shell(join_texts("http://", kMakerSiteHost));
}

LRESULT CALLBACK MainWindow::site_link_procedure(HWND link, UINT message, WPARAM wparam,
                                                 LPARAM lparam, UINT_PTR id, DWORD_PTR self) {
    switch (message) {
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:  // the second press of a quick double click opens it again
            reinterpret_cast<MainWindow*>(self)->open_site();
            return 0;
        case WM_NCDESTROY:
            RemoveWindowSubclass(link, &MainWindow::site_link_procedure, id);
            break;
        default:
            break;
    }
    return DefSubclassProc(link, message, wparam, lparam);
}

}  // namespace qinglan
