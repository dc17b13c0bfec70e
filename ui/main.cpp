// Start-up and exit of the tool: COM for the page fetch and the invisible owner window first,
// then the main window, then the message loop until the main window has been closed.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "ui/main_window.h"
#include "ui/message_loop.h"
#include "ui/owner_window.h"

namespace {

// COM on this thread for as long as the program runs.
class ComApartment {
  public:
    ComApartment() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_) {
            CoUninitialize();
        }
    }

  private:
    bool initialised_;
};

void initialise_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&controls);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const ComApartment com;
    initialise_common_controls();
    const qinglan::InvisibleOwnerWindow owner;
    qinglan::MainWindow main_window;
    if (!main_window.create()) {
        return 1;
    }
    return qinglan::run_message_loop();
}
