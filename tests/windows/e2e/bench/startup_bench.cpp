// How fast the picture comes up: a cold start of fernwoodview.exe as its own
// process, from CreateProcess to its window and to the card's first frame
// on the screen (median of FERNWOOD_STARTUP_RUNS, 10); then the same start
// inside this process, split into the steps that can be timed from outside
// the viewer's code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "bench_support.h"
#include "capture/capture_graph.h"
#include "card_harness.h"

namespace {

double Now()
{
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return 1000.0 * count.QuadPart / frequency.QuadPart;
}

struct Search {
    DWORD process;
    HWND found;
};

HWND VisibleWindowOf(DWORD process)
{
    Search search{process, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            char name[32] = "";
            GetClassNameA(window, name, sizeof name);
            if (owner == s->process && IsWindowVisible(window) && std::string(name) == "FERNWOODVIEW") {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ViewerPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string own(path, length);
    return own.substr(0, own.find_last_of('\\') + 1) + "fernwoodview.exe";
}

class StartupBench : public CardTest {};

TEST_F(StartupBench, ColdStartOfTheViewerProcess)
{
    ASSERT_EQ(S_OK, Card().Register());
    const DWORD runs = BenchSetting("FERNWOOD_STARTUP_RUNS", 10);
    const std::string exe = ViewerPath();
    std::vector<double> window_ms, picture_ms;
    int failed = 0;
    for (DWORD run = 0; run < runs; ++run) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::string command = "\"" + exe + "\"";
        const double started = Now();
        ASSERT_TRUE(CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, Folder().c_str(),
                                   &startup, &process))
            << exe;
        HWND window = nullptr;
        double shown = 0, picture = 0;
        while (Now() - started < 30000 && !picture) {
            if (!window && (window = VisibleWindowOf(process.dwProcessId)) != nullptr)
                shown = Now() - started;
            uint32_t number = 0;
            if (window && GrabFrameNumber(window, &number))
                picture = Now() - started;
            Sleep(2);
        }
        if (window)
            window_ms.push_back(shown);
        if (picture)
            picture_ms.push_back(picture);
        else
            ++failed;
        if (window)
            PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::printf("cold start of fernwoodview.exe, from CreateProcess:\n");
    std::printf("  window visible: %s\n", Describe(Summarize(window_ms), "ms").c_str());
    std::printf("  card's picture on the screen: %s\n", Describe(Summarize(picture_ms), "ms").c_str());
    if (failed)
        std::printf("  %d runs showed no picture within 30 s\n", failed);
    std::fflush(stdout);
}

TEST_F(StartupBench, InProcessSteps)
{
    ASSERT_EQ(S_OK, Card().Register());
    const double t0 = Now();
    CreateWindowOnly();
    const double window = Now();
    BuildCaptureGraph();
    const double graph = Now();
    // The graph's clock against the performance counter, to place the card's first frame.
    const double graph_offset = GraphNow() / 1e4 - Now();
    ReplayDisplayState();
    const double replayed = Now();
    uint32_t number = 0;
    ASSERT_TRUE(PumpUntil([&] { return GrabFrameNumber(main_window, &number); }, 30000));
    const double on_screen = Now();
    std::vector<testcard::TestCardFrameDeparture> departures = CardDepartures();
    double first_departure = 0, first_frame_end = 0;
    if (!departures.empty()) {
        first_departure = departures.front().delivered / 1e4 - graph_offset;
        first_frame_end = departures.front().frame_end / 1e4 - graph_offset;
    }
    std::printf("start-up inside the process, ms from its beginning:\n");
    std::printf("  %7.1f window created and shown\n", window - t0);
    std::printf("  %7.1f graph built and running (devices, compressors, video and audio device, preview)\n",
                graph - t0);
    std::printf("  %7.1f window state replayed\n", replayed - t0);
    if (!departures.empty()) {
        std::printf("  %7.1f the card's first frame complete\n", first_frame_end - t0);
        std::printf("  %7.1f the card's first frame delivered\n", first_departure - t0);
    }
    std::printf("  %7.1f first frame on the screen (frame %u)\n", on_screen - t0, number);
    std::fflush(stdout);
}

}  // namespace
