#include "ui/tests/ui_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "ui/code_page.h"
#include "ui/message_loop.h"
#include "ui/win_handles.h"

namespace qinglan::testing {
namespace {

std::function<void()>& pending_action() {
    static std::function<void()> action;
    return action;
}

void CALLBACK run_pending_action(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    auto action = std::exchange(pending_action(), nullptr);
    if (action) {
        action();
    }
}

}  // namespace

void run_from_message_loop(std::function<void()> action, std::chrono::milliseconds delay) {
    pending_action() = std::move(action);
    SetTimer(nullptr, 0, static_cast<UINT>(delay.count()), &run_pending_action);
}

void forget_pending_action() {
    pending_action() = nullptr;
}

void pump_messages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            continue;
        }
        if (!handle_window_keys(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void press_key(HWND target, WPARAM key, std::initializer_list<int> modifiers) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    BYTE pressed[256];
    std::copy(std::begin(state), std::end(state), pressed);
    for (const int modifier : modifiers) {
        pressed[modifier] = 0x80;
    }
    SetKeyboardState(pressed);
    MSG message{target, WM_KEYDOWN, key, 1, static_cast<DWORD>(GetMessageTime()), {}};
    if (!handle_window_keys(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    SetKeyboardState(state);
}

std::optional<std::string> clipboard_text() {
    const OpenClipboardSession clipboard(nullptr);
    if (!clipboard.is_open() || !IsClipboardFormatAvailable(CF_TEXT)) {
        return std::nullopt;
    }
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data == nullptr) {
        return std::nullopt;
    }
    const GlobalLock lock(data);
    const auto* bytes = static_cast<const char*>(lock.data());
    return bytes != nullptr ? std::optional<std::string>(bytes) : std::nullopt;
}

void put_on_clipboard(const std::string& bytes) {
    const OpenClipboardSession clipboard(nullptr);
    EmptyClipboard();
    UniqueGlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, bytes.size() + 1));
    {
        const GlobalLock lock(block.get());
        std::copy(bytes.begin(), bytes.end(), static_cast<char*>(lock.data()));
        static_cast<char*>(lock.data())[bytes.size()] = '\0';
    }
    if (SetClipboardData(CF_TEXT, block.get()) != nullptr) {
        block.release();
    }
}

std::string browser_calls() {
    const char* log = std::getenv("QINGLAN_BROWSER_LOG");
    if (log == nullptr) {
        return {};
    }
    std::ifstream file(log, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string wait_for_browser_calls(std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string calls = browser_calls();
    while (static_cast<std::size_t>(std::count(calls.begin(), calls.end(), '\n')) < count &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        calls = browser_calls();
    }
    return calls;
}

RECT outer_rect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT rect_in_parent(HWND child) {
    RECT rect = outer_rect(child);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace qinglan::testing
