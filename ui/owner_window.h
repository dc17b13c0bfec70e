// The invisible owner window: a hidden, zero-size tool window that exists from start-up to exit
// and owns the windows shown modally, so that they get no taskbar button of their own.
#pragma once

#include <windows.h>

#include "ui/win_handles.h"

namespace qinglan {

class InvisibleOwnerWindow {
  public:
    // Creates the window; there is one at a time.
    InvisibleOwnerWindow();
    ~InvisibleOwnerWindow();
    InvisibleOwnerWindow(const InvisibleOwnerWindow&) = delete;
    InvisibleOwnerWindow& operator=(const InvisibleOwnerWindow&) = delete;

    HWND handle() const { return window_.get(); }

  private:
    UniqueWindow window_;
};

// The owner window of the running program, or null when none exists.
HWND invisible_owner_window();

}  // namespace qinglan
