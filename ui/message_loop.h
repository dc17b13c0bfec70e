// The message loops of the tool, with the keys that its windows share: Esc closes the window,
// Enter does nothing, Tab moves the focus among the controls, Ctrl+A selects an edit box's text.
#pragma once

#include <windows.h>

namespace qinglan {

// Handles the shared keys; true when the message has been dealt with and must not be dispatched.
bool handle_window_keys(MSG& message);

// Runs until the quit message arrives; returns its exit code.
int run_message_loop();

// Runs until `window` has been destroyed or the quit message arrives; a quit message is posted
// again so that the outer loop ends too.
void run_nested_message_loop(HWND window);

}  // namespace qinglan
