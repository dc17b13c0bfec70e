// Helpers for the tests that drive the real windows in this process.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "lookup/text.h"

namespace qinglan::testing {

// Runs `action` from the message loop once it is running, after `delay`: for checks that have to
// happen while a modal loop is in control.
void run_from_message_loop(std::function<void()> action,
                           std::chrono::milliseconds delay = std::chrono::milliseconds(50));

// Drops an action that has not run yet, so that it cannot run in a later test.
void forget_pending_action();

// Dispatches the messages waiting in this thread's queue.
void pump_messages();

// Sends a key press through the program's own key handling, with the given modifier keys held
// down in this thread's keyboard state.
void press_key(HWND target, WPARAM key, std::initializer_list<int> modifiers = {});

// The CF_TEXT bytes on the clipboard, without the terminating zero; nothing if there is none.
std::optional<std::string> clipboard_text();
void put_on_clipboard(const std::string& bytes);

// The lines that the browser stand-in has recorded so far (one per address it was given).
std::string browser_calls();
// Waits until the browser stand-in has recorded `count` lines or `limit` has passed.
std::string wait_for_browser_calls(std::size_t count,
                                   std::chrono::milliseconds limit = std::chrono::seconds(15));

// Outer rectangle of a window, and a child's rectangle in its parent's client coordinates.
RECT outer_rect(HWND window);
RECT rect_in_parent(HWND child);

}  // namespace qinglan::testing
