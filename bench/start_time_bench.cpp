// Time from starting a program to its window being shown, for qinglan.exe and for the minimal
// program that opens one window, and the ratio of the two. Each start is timed from
// CreateProcess until a visible top-level window of the new process exists ("shown") and until
// the process waits for input ("idle"); the window is then closed and the process must end.
// The programs take turns, and each start of qinglan.exe is compared with the start of the
// minimal program right after it: the median of those ratios is the figure, as it holds up best
// against whatever else the machine is doing.
//
//   start_time_bench <qinglan.exe> <minimal_window.exe> [starts]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK find_visible_window(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND visible_window_of(DWORD process) {
    Search search{process, nullptr};
    EnumWindows(&find_visible_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Start {
    bool ok = false;
    double shown_ms = 0;
    double idle_ms = 0;
};

double milliseconds_since(Clock::time_point started) {
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

Start start_once(const std::wstring& program) {
    Start start;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring command_line = L"\"" + program + L"\"";
    const auto started = Clock::now();
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return start;
    }
    HWND shown = nullptr;
    while (shown == nullptr && milliseconds_since(started) < 30'000) {
        shown = visible_window_of(process.dwProcessId);
        if (shown == nullptr) {
            // Looking too often would keep Wine's server, which starts the program, busy.
            if (WaitForSingleObject(process.hProcess, 2) == WAIT_OBJECT_0) {
                break;  // ended without showing a window
            }
        }
    }
    start.shown_ms = milliseconds_since(started);
    const bool idle = WaitForInputIdle(process.hProcess, 10'000) == 0;
    start.idle_ms = milliseconds_since(started);
    if (shown != nullptr) {
        PostMessageW(shown, WM_CLOSE, 0, 0);
    }
    const bool ended = WaitForSingleObject(process.hProcess, 10'000) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5'000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    start.ok = shown != nullptr && idle && ended;
    return start;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double fastest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

struct Figures {
    std::vector<double> shown;
    std::vector<double> idle;
    int failed = 0;
};

void record(Figures& figures, const Start& start) {
    if (!start.ok) {
        ++figures.failed;
        return;
    }
    figures.shown.push_back(start.shown_ms);
    figures.idle.push_back(start.idle_ms);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: start_time_bench <qinglan.exe> <minimal_window.exe> [starts]\n");
        return 2;
    }
    const std::wstring program = argv[1];
    const std::wstring minimal = argv[2];
    const int starts = argc > 3 ? std::max(1, _wtoi(argv[3])) : 15;

    // The first starts of each program bring its files into the cache; they are not counted.
    start_once(program);
    start_once(minimal);
    Figures ours;
    Figures floor;
    std::vector<double> paired_ratios;
    for (int i = 0; i < starts; ++i) {
        const Start our_start = start_once(program);
        const Start minimal_start = start_once(minimal);
        record(ours, our_start);
        record(floor, minimal_start);
        if (our_start.ok && minimal_start.ok) {
            paired_ratios.push_back(our_start.shown_ms / minimal_start.shown_ms);
        }
    }
    if (ours.shown.empty() || floor.shown.empty()) {
        std::printf("No start of one of the programs showed its window.\n");
        return 1;
    }
    const double shown_ratio = median(paired_ratios);
    const double idle_ratio = median(ours.idle) / median(floor.idle);
    const double fastest_ratio = fastest(ours.shown) / fastest(floor.shown);
    std::printf("Start to window shown under Wine, %d starts each (ms):\n", starts);
    std::printf("  %-16s shown: median %7.1f, fastest %7.1f   idle: median %7.1f\n", "qinglan.exe",
                median(ours.shown), fastest(ours.shown), median(ours.idle));
    std::printf("  %-16s shown: median %7.1f, fastest %7.1f   idle: median %7.1f\n",
                "minimal window", median(floor.shown), fastest(floor.shown), median(floor.idle));
    std::printf(
        "  ratio            shown: median %6.2fx, fastest %6.2fx   idle: median %6.2fx\n"
        "  ratio of each start to the next start of the minimal program, shown: median %.2fx "
        "(goal: within 1.3x)\n",
        median(ours.shown) / median(floor.shown), fastest_ratio, idle_ratio, shown_ratio);
    if (ours.failed + floor.failed > 0) {
        std::printf("  starts that failed: %d of qinglan.exe, %d of the minimal program\n",
                    ours.failed, floor.failed);
    }
    std::printf("Goal: start-up within 1.3x of the minimal program: %s.\n",
                shown_ratio <= 1.3 ? "met" : "MISSED");
    return 0;
}
