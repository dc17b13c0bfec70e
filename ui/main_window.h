// The main window: the address box, the read button, the address list with its pop-up menu,
// the instructions button and the site link.
#pragma once

#include <windows.h>

#include "lookup/address_extraction.h"
#include "ui/address_list_view.h"
#include "ui/window_base.h"

namespace qinglan {

// Control identifiers of the main window.
enum MainWindowControl : int {
    kAddressBoxId = 101,
    kReadButtonId = 102,
    kAddressListId = 103,
    kInstructionsButtonId = 104,
    kSiteLinkId = 105,
};

// Commands of the address list's pop-up menu.
enum AddressMenuCommand : int {
    kDownloadCommand = 301,
    kCopyCommand = 302,
};

struct MainWindowOptions {
    Text service_base = service_base_address();
    bool ends_program = true;  // closing the window ends the message loop
};

class MainWindow : public WindowBase<MainWindow> {
  public:
    explicit MainWindow(MainWindowOptions options = {});
    ~MainWindow() = default;

    // Builds the window from its fixed definition, centred on the primary screen, and shows it.
    bool create();

    AddressListView& address_list() { return address_list_; }
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);

  private:
    bool build_controls();
    void on_command(int id, int notification, HWND control);
    void on_notify(const NMHDR& header);
    LRESULT on_control_colour(HDC dc, HWND control);
    void on_activate(WPARAM state);

    void read();
    void show_address_menu();
    void download_selected();
    void copy_selected();
    void open_site();

    static LRESULT CALLBACK site_link_procedure(HWND link, UINT message, WPARAM wparam,
                                                LPARAM lparam, UINT_PTR id, DWORD_PTR self);

    MainWindowOptions options_;
    AddressListView address_list_;
    HWND focused_control_ = nullptr;  // given the focus back when the window is activated again
};

}  // namespace qinglan
