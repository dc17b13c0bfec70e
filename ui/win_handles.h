// Owners for the window system's handles: each frees what it holds when it goes out of scope,
// on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace qinglan {

// A handle with a free function; `Traits` gives the empty value and how to free one.
template <typename Traits>
class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::empty(); }

    // Gives up ownership, for handles that someone else frees from now on.
    Handle release() { return std::exchange(handle_, Traits::empty()); }

    void reset(Handle handle = Traits::empty()) {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::empty()) {
            Traits::free(old);
        }
    }

  private:
    Handle handle_ = Traits::empty();
};

struct WindowTraits {
    using Handle = HWND;
    static HWND empty() { return nullptr; }
    static void free(HWND window) { DestroyWindow(window); }
};
using UniqueWindow = UniqueHandle<WindowTraits>;

struct MenuTraits {
    using Handle = HMENU;
    static HMENU empty() { return nullptr; }
    static void free(HMENU menu) { DestroyMenu(menu); }
};
using UniqueMenu = UniqueHandle<MenuTraits>;

struct GlobalMemoryTraits {
    using Handle = HGLOBAL;
    static HGLOBAL empty() { return nullptr; }
    static void free(HGLOBAL memory) { GlobalFree(memory); }
};
using UniqueGlobalMemory = UniqueHandle<GlobalMemoryTraits>;

template <typename GdiObject>
struct GdiObjectTraits {
    using Handle = GdiObject;
    static GdiObject empty() { return nullptr; }
    static void free(GdiObject object) { DeleteObject(object); }
};
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;

struct MemoryDcTraits {
    using Handle = HDC;
    static HDC empty() { return nullptr; }
    static void free(HDC dc) { DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// Selects a GDI object into a device context and puts the old one back on leaving the scope.
class ScopedSelection {
  public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;
    ~ScopedSelection() { SelectObject(dc_, previous_); }

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Keeps a movable memory block locked while it is written.
class GlobalLock {
  public:
    explicit GlobalLock(HGLOBAL memory) : memory_(memory), data_(::GlobalLock(memory)) {}
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;
    ~GlobalLock() {
        if (data_ != nullptr) {
            GlobalUnlock(memory_);
        }
    }
    void* data() const { return data_; }

  private:
    HGLOBAL memory_;
    void* data_;
};

// The clipboard, open for as long as this lives.
class OpenClipboardSession {
  public:
    explicit OpenClipboardSession(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    OpenClipboardSession(const OpenClipboardSession&) = delete;
    OpenClipboardSession& operator=(const OpenClipboardSession&) = delete;
    ~OpenClipboardSession() {
        if (open_) {
            CloseClipboard();
        }
    }
    bool is_open() const { return open_; }

  private:
    bool open_;
};

// Stops a window from repainting until the scope ends, then repaints it once.
class RedrawSuspension {
  public:
    explicit RedrawSuspension(HWND window) : window_(window) {
        SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
    }
    RedrawSuspension(const RedrawSuspension&) = delete;
    RedrawSuspension& operator=(const RedrawSuspension&) = delete;
    ~RedrawSuspension() {
        SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(window_, nullptr, TRUE);
    }

  private:
    HWND window_;
};

}  // namespace qinglan
