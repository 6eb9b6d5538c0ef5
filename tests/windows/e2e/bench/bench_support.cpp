#include "bench_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "capture/capture_graph.h"
#include "resources/resource_ids.h"
#include "state/window.h"
#include "screen_frame.h"
#include "testbed/testcard/portable/test_pattern.h"

void BenchTest::StartShowing(UINT format, UINT mode)
{
    StartWithCard();
    if (mode)
        SendMessageA(main_window, WM_COMMAND, mode, 0);
    SendMessageA(main_window, WM_COMMAND, format, 0);
    if (format == IDM_RES_1080)
        SendMessageA(main_window, WM_COMMAND, IDM_SIZE_HALF, 0);
}

Summary Summarize(std::vector<double> values)
{
    Summary s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[static_cast<size_t>(q * (values.size() - 1) + 0.5)]; };
    s.median = at(0.5);
    s.p95 = at(0.95);
    s.min = values.front();
    s.max = values.back();
    return s;
}

std::string Describe(const Summary& s, const char* unit)
{
    char text[200];
    if (s.count == 0)
        return "no samples";
    std::snprintf(text, sizeof text, "median %.1f %s, p95 %.1f %s (%.1f .. %.1f, n=%zu)", s.median, unit, s.p95, unit,
                  s.min, s.max, s.count);
    return text;
}

DWORD BenchSetting(const char* name, DWORD fallback)
{
    const char* text = std::getenv(name);
    return text && std::atoi(text) > 0 ? static_cast<DWORD>(std::atoi(text)) : fallback;
}

double Now()
{
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return 1000.0 * count.QuadPart / frequency.QuadPart;
}

REFERENCE_TIME GraphNow()
{
    REFERENCE_TIME now = 0;
    IMediaFilter* filter = nullptr;
    if (!capture_graph.graph ||
        FAILED(capture_graph.graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&filter))))
        return 0;
    IReferenceClock* clock = nullptr;
    if (filter->GetSyncSource(&clock) == S_OK && clock) {
        clock->GetTime(&now);
        clock->Release();
    }
    filter->Release();
    return now;
}

namespace {

testcard::ITestCardFrameStats* Stats()
{
    testcard::ITestCardFrameStats* stats = nullptr;
    if (capture_graph.video_capture)
        capture_graph.video_capture->QueryInterface(testcard::IID_ITestCardFrameStats,
                                                    reinterpret_cast<void**>(&stats));
    return stats;
}

}  // namespace

HeardSound ReadHeardSound()
{
    HeardSound heard;
    fernwood::ITestAudioRendererStats* stats = nullptr;
    CardTest::ForEachFilter([&](IBaseFilter* filter) {
        CLSID clsid{};
        if (!stats && filter->GetClassID(&clsid) == S_OK && IsEqualCLSID(clsid, CLSID_DSoundRender))
            filter->QueryInterface(fernwood::IID_ITestAudioRendererStats, reinterpret_cast<void**>(&stats));
    });
    if (!stats)
        return heard;
    heard.clicks.resize(4096);
    LONG copied = 0;
    if (stats->GetClicks(static_cast<LONG>(heard.clicks.size()), heard.clicks.data(), &copied) != S_OK)
        copied = 0;
    heard.clicks.resize(static_cast<size_t>(copied));
    stats->GetGlitches(&heard.glitches);
    stats->Release();
    return heard;
}

std::string DescribeDelayAt(const HeardSound& heard, REFERENCE_TIME at)
{
    const fernwood::HeardClick* nearest = nullptr;
    for (const fernwood::HeardClick& c : heard.clicks)
        if (!nearest || std::llabs(c.stamp - at) < std::llabs(nearest->stamp - at))
            nearest = &c;
    if (!nearest)
        return "no click heard";
    char text[128];
    std::snprintf(text, sizeof text, "%.1f ms behind the picture (click stamped %.3f s)",
                  (nearest->played - nearest->stamp) / 1e4, nearest->stamp / 1e7);
    return text;
}

std::vector<testcard::TestCardFrameDeparture> CardDepartures(LONG size)
{
    std::vector<testcard::TestCardFrameDeparture> departures(static_cast<size_t>(size));
    LONG copied = 0;
    testcard::ITestCardFrameStats* stats = Stats();
    if (!stats || FAILED(stats->GetDepartures(size, departures.data(), &copied)))
        copied = 0;
    if (stats)
        stats->Release();
    departures.resize(static_cast<size_t>(copied));
    return departures;
}

DWORD CardStreamingThread()
{
    DWORD id = 0;
    testcard::ITestCardFrameStats* stats = Stats();
    if (stats) {
        stats->GetStreamingThread(&id);
        stats->Release();
    }
    return id;
}

bool FindDeparture(const std::vector<testcard::TestCardFrameDeparture>& departures, uint32_t number,
                   testcard::TestCardFrameDeparture* found)
{
    // The preview pin's copy when there is one, else the capture pin's (a
    // card without a preview pin is previewed through a tee).
    bool any = false;
    for (auto it = departures.rbegin(); it != departures.rend(); ++it) {
        if (it->frame_number != number)
            continue;
        if (!any || it->pin == 1)
            *found = *it;
        any = true;
        if (it->pin == 1)
            break;
    }
    return any;
}

bool GrabFrameNumber(HWND window, uint32_t* number)
{
    return ReadShownFrameNumber(window, number);
}

namespace {

ULONGLONG Ticks(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

std::string Narrow(const wchar_t* text)
{
    char bytes[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

std::string ModuleOfStart(HANDLE thread)
{
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    void* start = nullptr;
    if (!query || query(thread, 9 /* ThreadQuerySetWin32StartAddress */, &start, sizeof start, nullptr) != 0 ||
        !start)
        return "?";
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(start), &module))
        return "?";
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    const wchar_t* name = wcsrchr(path, L'\\');
    return "started in " + Narrow(name ? name + 1 : path);
}

std::string Description(HANDLE thread)
{
    using Get = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    static auto get = reinterpret_cast<Get>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "GetThreadDescription")));
    PWSTR text = nullptr;
    std::string name;
    if (get && SUCCEEDED(get(thread, &text)) && text) {
        name = Narrow(text);
        LocalFree(text);
    }
    return name;
}

}  // namespace

std::vector<ThreadCpu> SnapshotThreads()
{
    std::vector<ThreadCpu> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        ThreadCpu t;
        t.id = entry.th32ThreadID;
        FILETIME created, exited, kernel, user;
        if (GetThreadTimes(thread, &created, &exited, &kernel, &user))
            t.cpu = Ticks(kernel) + Ticks(user);
        t.name = Description(thread);
        if (t.name.empty())
            t.name = ModuleOfStart(thread);
        if (t.id == GetCurrentThreadId())
            t.name = "the viewer's window thread (" + t.name + ")";
        CloseHandle(thread);
        threads.push_back(t);
    }
    CloseHandle(snapshot);
    return threads;
}

ULONGLONG ProcessCpu()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Ticks(kernel) + Ticks(user);
}

ULONGLONG ThisThreadCpu()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return Ticks(kernel) + Ticks(user);
}

void PrintThreadShares(const std::vector<ThreadCpu>& before, const std::vector<ThreadCpu>& after, double seconds,
                       DWORD card_thread)
{
    std::map<DWORD, ULONGLONG> start;
    for (const ThreadCpu& t : before)
        start[t.id] = t.cpu;
    std::vector<std::pair<double, std::string>> rows;
    double others = 0;
    for (const ThreadCpu& t : after) {
        auto found = start.find(t.id);
        ULONGLONG used = t.cpu - (found == start.end() ? 0 : found->second);
        double share = 100.0 * used / 1e7 / seconds;
        std::string name = t.id == card_thread ? "the card's streaming thread (the card and each filter its Deliver reaches)"
                                               : t.name;
        if (share < 0.5 && t.id != card_thread)
            others += share;
        else
            rows.emplace_back(share, name + " [" + std::to_string(t.id) + "]");
    }
    std::sort(rows.rbegin(), rows.rend());
    for (const auto& row : rows)
        std::printf("    %6.1f %%  %s\n", row.first, row.second.c_str());
    std::printf("    %6.1f %%  the other threads together\n", others);
}
