// qinglan_probe: looks at another process's windows and at the clipboard for the end-to-end
// tests, which run it under the same Wine prefix and desktop as the program under test.
//
// Output goes to stdout, one record per line: a record name, then space-separated key=value
// fields. Numbers are decimal, styles and handles 0x-prefixed hex, and every text is the hex of
// its code page 936 bytes (empty text gives an empty value). Class names are printed as they are.
// Exit code 0 on success, 1 when the window (or row) asked for is not there, 2 on usage errors
// and failures.
//
//   window <class>              the top-level window of that class
//   controls <class>            its direct child controls
//   rows <class>                the rows, selection and columns of its list view
//   list-rect <class> <row>     screen rect of a row's label in that list view
//   clipboard                   formats on the clipboard and the CF_TEXT bytes
//   set-clipboard <hex> [--with-unicode [<hex>]]
//   hold-clipboard <ms>         keeps the clipboard open, printing "held" once it is
//   screen                      screen size and ANSI code page
//   wait-window <class> <ms>    waits for a visible top-level window of that class
//   wait-gone <class> <ms>      waits until no visible top-level window of that class remains

#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr UINT kCodePage = 936;
constexpr UINT kSendTimeoutMs = 5000;

// --- Output ---------------------------------------------------------------------------------

std::string ToCodePage(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::string TextHex(const std::wstring& text) {
    return Hex(ToCodePage(text));
}

std::string HexNumber(unsigned long value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", value);
    return buf;
}

std::string HandleHex(const void* handle) {
    return HexNumber(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
}

// Builds one output line: a record name followed by key=value fields.
class Line {
  public:
    explicit Line(const char* record) : text_(record) {}
    Line& Add(const char* key, const std::string& value) {
        text_ += ' ';
        text_ += key;
        text_ += '=';
        text_ += value;
        return *this;
    }
    Line& Add(const char* key, long value) { return Add(key, std::to_string(value)); }
    Line& Add(const char* key, bool value) { return Add(key, std::string(value ? "1" : "0")); }
    Line& Flag(const char* word) {
        text_ += ' ';
        text_ += word;
        return *this;
    }
    void Print() {
        text_ += '\n';
        std::fwrite(text_.data(), 1, text_.size(), stdout);
        std::fflush(stdout);
    }

  private:
    std::string text_;
};

int Fail(const char* message) {
    std::fprintf(stderr, "probe: %s\n", message);
    return 2;
}

// --- Handles --------------------------------------------------------------------------------

class ProcessHandle {
  public:
    explicit ProcessHandle(HANDLE handle) : handle_(handle) {}
    ~ProcessHandle() {
        if (handle_)
            CloseHandle(handle_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    HANDLE handle_;
};

// Memory in another process, for messages whose parameters point at structures.
class RemoteMemory {
  public:
    RemoteMemory(HANDLE process, size_t size)
        : process_(process),
          size_(size),
          address_(
              VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteMemory() {
        if (address_)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    explicit operator bool() const { return address_ != nullptr; }
    char* address() const { return static_cast<char*>(address_); }
    size_t size() const { return size_; }

    bool Write(size_t offset, const void* data, size_t size) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               WriteProcessMemory(process_, address() + offset, data, size, &done) && done == size;
    }
    bool Read(size_t offset, void* data, size_t size) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               ReadProcessMemory(process_, address() + offset, data, size, &done) && done == size;
    }

  private:
    HANDLE process_;
    size_t size_;
    void* address_;
};

// Opens the clipboard, retrying while another program holds it, and closes it when done.
class ClipboardLock {
  public:
    ClipboardLock(HWND owner, DWORD timeout_ms) {
        DWORD start = GetTickCount();
        while (!(open_ = OpenClipboard(owner)) && GetTickCount() - start < timeout_ms)
            Sleep(20);
    }
    ~ClipboardLock() {
        if (open_)
            CloseClipboard();
    }
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;
    explicit operator bool() const { return open_; }

  private:
    bool open_ = false;
};

// Memory for SetClipboardData; freed unless the clipboard took it over.
class GlobalBlock {
  public:
    explicit GlobalBlock(size_t size) : handle_(GlobalAlloc(GMEM_MOVEABLE, size)) {}
    ~GlobalBlock() {
        if (handle_)
            GlobalFree(handle_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL get() const { return handle_; }
    bool Fill(const void* data, size_t size) {
        void* p = handle_ ? GlobalLock(handle_) : nullptr;
        if (!p)
            return false;
        std::memcpy(p, data, size);
        GlobalUnlock(handle_);
        return true;
    }
    void Release() { handle_ = nullptr; }

  private:
    HGLOBAL handle_;
};

// A message-only window to own the clipboard while the probe changes it.
class HiddenWindow {
  public:
    HiddenWindow()
        : hwnd_(CreateWindowExW(0, L"STATIC", L"qinglan_probe", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, GetModuleHandleW(nullptr), nullptr)) {}
    ~HiddenWindow() {
        if (hwnd_)
            DestroyWindow(hwnd_);
    }
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;
    HWND get() const { return hwnd_; }

  private:
    HWND hwnd_;
};

// --- Windows --------------------------------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::string ClassText(HWND hwnd) {
    return hwnd ? ToCodePage(ClassOf(hwnd)) : "none";
}

// The caption as the window manager keeps it; no message goes to the other process.
std::wstring CaptionOf(HWND hwnd) {
    int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

// A control's text through WM_GETTEXT, which Wine and Windows carry across processes.
std::wstring ControlText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &got))
        return {};
    text.resize(got <= length ? got : length);
    return text;
}

struct TopLevelSearch {
    std::wstring cls;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    if (ClassOf(hwnd) == search->cls)
        search->found.push_back(hwnd);
    return TRUE;
}

// All top-level windows of a class, in z order.
std::vector<HWND> TopLevelWindows(const std::wstring& cls) {
    TopLevelSearch search{cls, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The first visible top-level window of the class, else the first hidden one.
HWND FindTopLevel(const std::wstring& cls, size_t* count = nullptr) {
    std::vector<HWND> all = TopLevelWindows(cls);
    if (count)
        *count = all.size();
    for (HWND hwnd : all)
        if (IsWindowVisible(hwnd))
            return hwnd;
    return all.empty() ? nullptr : all.front();
}

bool HasVisibleTopLevel(const std::wstring& cls) {
    for (HWND hwnd : TopLevelWindows(cls))
        if (IsWindowVisible(hwnd))
            return true;
    return false;
}

GUITHREADINFO ThreadInfoOf(HWND hwnd) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info);
    return info;
}

long ControlId(HWND hwnd) {
    return static_cast<long>(GetWindowLongPtrW(hwnd, GWLP_ID));
}

int CmdWindow(const std::wstring& cls) {
    size_t count = 0;
    HWND hwnd = FindTopLevel(cls, &count);
    if (!hwnd)
        return 1;
    RECT outer{}, client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    GUITHREADINFO info = ThreadInfoOf(hwnd);
    HWND owner = GetWindow(hwnd, GW_OWNER);
    Line("window")
        .Add("hwnd", HandleHex(hwnd))
        .Add("class", ToCodePage(cls))
        .Add("count", static_cast<long>(count))
        .Add("pid", static_cast<long>(pid))
        .Add("tid", static_cast<long>(tid))
        .Add("left", outer.left)
        .Add("top", outer.top)
        .Add("right", outer.right)
        .Add("bottom", outer.bottom)
        .Add("client_w", client.right - client.left)
        .Add("client_h", client.bottom - client.top)
        .Add("client_x", origin.x)
        .Add("client_y", origin.y)
        .Add("style", HexNumber(static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE))))
        .Add("exstyle", HexNumber(static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_EXSTYLE))))
        .Add("enabled", IsWindowEnabled(hwnd) != FALSE)
        .Add("visible", IsWindowVisible(hwnd) != FALSE)
        .Add("iconic", IsIconic(hwnd) != FALSE)
        .Add("owner", ClassText(owner))
        .Add("owner_hwnd", HandleHex(owner))
        .Add("caption", TextHex(CaptionOf(hwnd)))
        .Add("foreground", GetForegroundWindow() == hwnd)
        .Add("active", HandleHex(info.hwndActive))
        .Add("focus", HandleHex(info.hwndFocus))
        .Add("focus_class", ClassText(info.hwndFocus))
        .Add("focus_id", info.hwndFocus ? ControlId(info.hwndFocus) : 0L)
        .Add("gui_flags", HexNumber(info.flags))
        .Add("menu_owner", HandleHex(info.hwndMenuOwner))
        .Print();
    return 0;
}

int CmdControls(const std::wstring& cls) {
    HWND parent = FindTopLevel(cls);
    if (!parent)
        return 1;
    HWND focus = ThreadInfoOf(parent).hwndFocus;
    long count = 0;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rc{};
        GetWindowRect(child, &rc);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
        Line("control")
            .Add("hwnd", HandleHex(child))
            .Add("id", ControlId(child))
            .Add("class", ToCodePage(ClassOf(child)))
            .Add("left", rc.left)
            .Add("top", rc.top)
            .Add("right", rc.right)
            .Add("bottom", rc.bottom)
            .Add("style", HexNumber(static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE))))
            .Add("exstyle",
                 HexNumber(static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE))))
            .Add("text", TextHex(ControlText(child)))
            .Add("enabled", IsWindowEnabled(child) != FALSE)
            .Add("visible", IsWindowVisible(child) != FALSE)
            .Add("focus", focus == child)
            .Print();
        ++count;
    }
    Line("count").Add("n", count).Print();
    return 0;
}

// --- List view, across processes ------------------------------------------------------------

HWND FindListView(HWND parent) {
    HWND list = FindWindowExW(parent, nullptr, WC_LISTVIEWW, nullptr);
    if (list)
        return list;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((list = FindListView(child)))
            return list;
    return nullptr;
}

std::optional<LRESULT> Send(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

// The list view of a window and an open handle to the process that owns it.
struct ListTarget {
    HWND list = nullptr;
    HANDLE process = nullptr;
};

HANDLE OpenOwner(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return OpenProcess(
        PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
        FALSE, pid);
}

// Reads a text through a message that fills a structure pointing at a text buffer: the
// structure and the buffer live in the other process, and the buffer grows until the text fits.
// `prepare` fills the local copy of the structure given the remote buffer and its size in
// characters; the returned text is cut at its terminating zero.
template <typename Struct, typename Prepare>
std::optional<std::wstring> RemoteText(const ListTarget& target, UINT msg, WPARAM wparam,
                                       Prepare prepare, Struct* out = nullptr) {
    for (size_t chars = 512; chars <= (size_t{1} << 22); chars *= 4) {
        RemoteMemory memory(target.process, sizeof(Struct) + chars * sizeof(wchar_t));
        if (!memory)
            return std::nullopt;
        auto* remote_text = reinterpret_cast<wchar_t*>(memory.address() + sizeof(Struct));
        Struct local{};
        prepare(local, remote_text, static_cast<int>(chars));
        if (!memory.Write(0, &local, sizeof local))
            return std::nullopt;
        wchar_t zero = 0;
        if (!memory.Write(sizeof(Struct), &zero, sizeof zero))
            return std::nullopt;
        if (!Send(target.list, msg, wparam, reinterpret_cast<LPARAM>(memory.address())))
            return std::nullopt;
        std::wstring text(chars, L'\0');
        if (!memory.Read(sizeof(Struct), text.data(), chars * sizeof(wchar_t)))
            return std::nullopt;
        size_t length = text.find(L'\0');
        // A text that fills the buffer may have been cut: read again with more room.
        if (length == std::wstring::npos || length + 1 >= chars)
            continue;
        text.resize(length);
        if (out && !memory.Read(0, out, sizeof(Struct)))
            return std::nullopt;
        return text;
    }
    return std::nullopt;
}

std::optional<std::wstring> ItemText(const ListTarget& target, int row) {
    return RemoteText<LVITEMW>(target, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                               [](LVITEMW& item, wchar_t* buffer, int chars) {
                                   item.iSubItem = 0;
                                   item.pszText = buffer;
                                   item.cchTextMax = chars;
                               });
}

int CmdRows(const std::wstring& cls) {
    HWND parent = FindTopLevel(cls);
    if (!parent)
        return 1;
    ListTarget target{FindListView(parent), nullptr};
    if (!target.list)
        return 1;
    ProcessHandle process(OpenOwner(target.list));
    if (!process)
        return Fail("cannot open the list view's process");
    target.process = process.get();

    auto count = Send(target.list, LVM_GETITEMCOUNT, 0, 0);
    if (!count)
        return Fail("LVM_GETITEMCOUNT failed");
    Line("count").Add("n", static_cast<long>(*count)).Print();
    for (int row = 0; row < *count; ++row) {
        auto text = ItemText(target, row);
        if (!text)
            return Fail("LVM_GETITEMTEXTW failed");
        auto state = Send(target.list, LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                          LVIS_SELECTED | LVIS_FOCUSED);
        Line("row")
            .Add("index", static_cast<long>(row))
            .Add("text", TextHex(*text))
            .Add("selected", state && (*state & LVIS_SELECTED))
            .Add("focused", state && (*state & LVIS_FOCUSED))
            .Print();
    }
    auto selected = Send(target.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    Line("selected").Add("index", static_cast<long>(selected ? *selected : -1)).Print();
    auto top = Send(target.list, LVM_GETTOPINDEX, 0, 0);
    auto per_page = Send(target.list, LVM_GETCOUNTPERPAGE, 0, 0);
    Line("view")
        .Add("top", static_cast<long>(top ? *top : -1))
        .Add("per_page", static_cast<long>(per_page ? *per_page : -1))
        .Add("style", HexNumber(static_cast<unsigned long>(GetWindowLongW(target.list, GWL_STYLE))))
        .Print();

    HWND header = reinterpret_cast<HWND>(Send(target.list, LVM_GETHEADER, 0, 0).value_or(0));
    long columns = header ? static_cast<long>(Send(header, HDM_GETITEMCOUNT, 0, 0).value_or(0)) : 0;
    for (int col = 0; col < columns; ++col) {
        LVCOLUMNW column{};
        auto text = RemoteText<LVCOLUMNW>(
            target, LVM_GETCOLUMNW, static_cast<WPARAM>(col),
            [](LVCOLUMNW& c, wchar_t* buffer, int chars) {
                c.mask = LVCF_TEXT | LVCF_WIDTH;
                c.pszText = buffer;
                c.cchTextMax = chars;
            },
            &column);
        if (!text)
            return Fail("LVM_GETCOLUMNW failed");
        Line("column")
            .Add("index", static_cast<long>(col))
            .Add("text", TextHex(*text))
            .Add("width", static_cast<long>(column.cx))
            .Print();
    }
    return 0;
}

int CmdListRect(const std::wstring& cls, int row) {
    HWND parent = FindTopLevel(cls);
    if (!parent)
        return 1;
    HWND list = FindListView(parent);
    if (!list)
        return 1;
    ProcessHandle process(OpenOwner(list));
    if (!process)
        return Fail("cannot open the list view's process");
    RemoteMemory memory(process.get(), sizeof(RECT));
    RECT rc{};
    rc.left = LVIR_LABEL;
    if (!memory || !memory.Write(0, &rc, sizeof rc))
        return Fail("cannot write the rect");
    auto ok = Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(memory.address()));
    if (!ok)
        return Fail("LVM_GETITEMRECT failed");
    if (!*ok)
        return 1;
    if (!memory.Read(0, &rc, sizeof rc))
        return Fail("cannot read the rect");
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    Line("rect")
        .Add("left", rc.left)
        .Add("top", rc.top)
        .Add("right", rc.right)
        .Add("bottom", rc.bottom)
        .Print();
    return 0;
}

// --- Clipboard ------------------------------------------------------------------------------

std::string FormatName(UINT format) {
    static const struct {
        UINT id;
        const char* name;
    } kStandard[] = {
        {CF_TEXT, "CF_TEXT"},
        {CF_BITMAP, "CF_BITMAP"},
        {CF_METAFILEPICT, "CF_METAFILEPICT"},
        {CF_OEMTEXT, "CF_OEMTEXT"},
        {CF_DIB, "CF_DIB"},
        {CF_UNICODETEXT, "CF_UNICODETEXT"},
        {CF_ENHMETAFILE, "CF_ENHMETAFILE"},
        {CF_HDROP, "CF_HDROP"},
        {CF_LOCALE, "CF_LOCALE"},
        {CF_DIBV5, "CF_DIBV5"},
    };
    for (const auto& f : kStandard)
        if (f.id == format)
            return f.name;
    wchar_t name[256] = {};
    if (GetClipboardFormatNameW(format, name, 256) > 0)
        return TextHex(name);
    return "-";
}

// Bytes of a clipboard block up to its first zero, never past the block's end.
std::string BlockBytes(HANDLE data, size_t unit) {
    if (!data)
        return {};
    size_t size = GlobalSize(data);
    const char* p = static_cast<const char*>(GlobalLock(data));
    if (!p)
        return {};
    size_t n = 0;
    while (n + unit <= size) {
        bool zero = true;
        for (size_t i = 0; i < unit; ++i)
            zero = zero && p[n + i] == 0;
        if (zero)
            break;
        n += unit;
    }
    std::string bytes(p, n);
    GlobalUnlock(data);
    return bytes;
}

int CmdClipboard() {
    Line("sequence").Add("n", static_cast<long>(GetClipboardSequenceNumber())).Print();
    HWND owner = GetClipboardOwner();
    Line("owner").Add("class", ClassText(owner)).Add("hwnd", HandleHex(owner)).Print();
    ClipboardLock lock(nullptr, 3000);
    if (!lock)
        return Fail("cannot open the clipboard");
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format))
        Line("format").Add("id", static_cast<long>(format)).Add("name", FormatName(format)).Print();
    if (IsClipboardFormatAvailable(CF_TEXT)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        Line("cf_text")
            .Add("bytes", Hex(BlockBytes(data, 1)))
            .Add("size", static_cast<long>(data ? GlobalSize(data) : 0))
            .Print();
    } else {
        Line("cf_text").Flag("none").Print();
    }
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        std::string raw = BlockBytes(GetClipboardData(CF_UNICODETEXT), sizeof(wchar_t));
        std::wstring text(raw.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), raw.data(), text.size() * sizeof(wchar_t));
        Line("cf_unicodetext").Add("text", TextHex(text)).Print();
    } else {
        Line("cf_unicodetext").Flag("none").Print();
    }
    return 0;
}

std::optional<std::string> Unhex(const std::wstring& hex) {
    if (hex.size() % 2)
        return std::nullopt;
    auto digit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

bool PutOnClipboard(UINT format, const void* data, size_t size) {
    GlobalBlock block(size);
    if (!block.Fill(data, size))
        return false;
    if (!SetClipboardData(format, block.get()))
        return false;
    block.Release();
    return true;
}

// Puts the bytes as CF_TEXT and, with `unicode`, a different CF_UNICODETEXT beside them.
int CmdSetClipboard(const std::string& bytes, const std::optional<std::wstring>& unicode) {
    HiddenWindow owner;
    if (!owner.get())
        return Fail("cannot create the clipboard owner window");
    ClipboardLock lock(owner.get(), 3000);
    if (!lock)
        return Fail("cannot open the clipboard");
    if (!EmptyClipboard())
        return Fail("EmptyClipboard failed");
    std::string text = bytes + '\0';
    if (!PutOnClipboard(CF_TEXT, text.data(), text.size()))
        return Fail("SetClipboardData failed");
    if (unicode) {
        std::wstring wide = *unicode + L'\0';
        if (!PutOnClipboard(CF_UNICODETEXT, wide.data(), wide.size() * sizeof(wchar_t)))
            return Fail("SetClipboardData failed");
    }
    Line("set").Add("length", static_cast<long>(bytes.size())).Print();
    return 0;
}

int CmdHoldClipboard(DWORD ms) {
    HiddenWindow owner;
    ClipboardLock lock(owner.get(), 3000);
    if (!lock)
        return Fail("cannot open the clipboard");
    Line("held").Print();
    Sleep(ms);
    Line("released").Print();
    return 0;
}

// --- Misc -----------------------------------------------------------------------------------

int CmdScreen() {
    Line("screen")
        .Add("cx", static_cast<long>(GetSystemMetrics(SM_CXSCREEN)))
        .Add("cy", static_cast<long>(GetSystemMetrics(SM_CYSCREEN)))
        .Add("acp", static_cast<long>(GetACP()))
        .Print();
    return 0;
}

int CmdWait(const std::wstring& cls, DWORD timeout_ms, bool for_window) {
    DWORD start = GetTickCount();
    for (;;) {
        bool visible = HasVisibleTopLevel(cls);
        if (visible == for_window) {
            Line(for_window ? "window" : "gone")
                .Add("class", ToCodePage(cls))
                .Add("ms", static_cast<long>(GetTickCount() - start))
                .Print();
            return 0;
        }
        if (GetTickCount() - start >= timeout_ms) {
            Line("timeout").Add("class", ToCodePage(cls)).Print();
            return 1;
        }
        Sleep(50);
    }
}

int Usage() {
    std::fputs(
        "usage: probe window|controls|rows <class>\n"
        "       probe list-rect <class> <row>\n"
        "       probe clipboard | screen\n"
        "       probe set-clipboard <hex> [--with-unicode [<hex>]]\n"
        "       probe hold-clipboard <ms>\n"
        "       probe wait-window|wait-gone <class> <timeout-ms>\n",
        stderr);
    return 2;
}

std::optional<long> Number(const std::wstring& text) {
    if (text.empty())
        return std::nullopt;
    wchar_t* end = nullptr;
    long value = std::wcstol(text.c_str(), &end, 10);
    if (*end)
        return std::nullopt;
    return value;
}

int Run(const std::vector<std::wstring>& args) {
    if (args.empty())
        return Usage();
    const std::wstring& cmd = args[0];
    size_t n = args.size();
    if (cmd == L"window" && n == 2)
        return CmdWindow(args[1]);
    if (cmd == L"controls" && n == 2)
        return CmdControls(args[1]);
    if (cmd == L"rows" && n == 2)
        return CmdRows(args[1]);
    if (cmd == L"list-rect" && n == 3) {
        auto row = Number(args[2]);
        return row ? CmdListRect(args[1], static_cast<int>(*row)) : Usage();
    }
    if (cmd == L"clipboard" && n == 1)
        return CmdClipboard();
    if (cmd == L"set-clipboard" && (n >= 2 && n <= 4)) {
        auto bytes = Unhex(args[1]);
        if (!bytes)
            return Usage();
        std::optional<std::wstring> unicode;
        if (n >= 3) {
            if (args[2] != L"--with-unicode")
                return Usage();
            std::string other = "probe unicode text";
            if (n == 4) {
                auto given = Unhex(args[3]);
                if (!given)
                    return Usage();
                other = *given;
            }
            std::wstring wide(other.size(), L'\0');
            int len =
                MultiByteToWideChar(kCodePage, 0, other.data(), static_cast<int>(other.size()),
                                    wide.data(), static_cast<int>(wide.size()));
            wide.resize(static_cast<size_t>(len > 0 ? len : 0));
            unicode = wide;
        }
        return CmdSetClipboard(*bytes, unicode);
    }
    if (cmd == L"hold-clipboard" && n == 2) {
        auto ms = Number(args[1]);
        return ms && *ms >= 0 ? CmdHoldClipboard(static_cast<DWORD>(*ms)) : Usage();
    }
    if (cmd == L"screen" && n == 1)
        return CmdScreen();
    if ((cmd == L"wait-window" || cmd == L"wait-gone") && n == 3) {
        auto ms = Number(args[2]);
        return ms && *ms >= 0 ? CmdWait(args[1], static_cast<DWORD>(*ms), cmd == L"wait-window")
                              : Usage();
    }
    return Usage();
}

}  // namespace

int main() {
    // "\n" stays "\n": the tests read the output as bytes.
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return Fail("cannot read the command line");
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);
    return Run(args);
}
