// An hour of what a user does, to show that nothing grows: preview and a
// recording through the test codec at 1080p29.97, and every few minutes the
// recording stopped, the render mode switched, a still taken and the
// recording started again. Prints the process's private bytes, handles and
// GDI objects at the start and at every report, the frames lost, the live
// sound's delay behind the picture, and the sound's offset in the last
// recording.
// FERNWOOD_SOAK_SECONDS (3600), FERNWOOD_SOAK_STEP_SECONDS (180) and
// FERNWOOD_SOAK_REPORT_SECONDS (600) change the times, FERNWOOD_SOAK_SOUND_PPM
// (100) how fast the card's sound runs against the PC's clock, FERNWOOD_SOAK_FORMAT
// (1080) the format.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <d3d9.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "av_sync.h"
#include "bench_support.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "card_harness.h"
#include "record/recording.h"
#include "state/command_menu.h"
#include "state/window.h"

namespace {

std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

// Under Wine a file is opened by the wine server, so /proc/self is the
// server: find this process's own entry by its command line.
std::string LinuxStatusPath()
{
    char module[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string name(module, length);
    name = name.substr(name.find_last_of('\\') + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return "";
    std::string path;
    do {
        std::string entry = found.cFileName;
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string command = ReadWholeFile("Z:\\proc\\" + entry + "\\cmdline");
        if (command.find(name) != std::string::npos && command.find("wineserver") == std::string::npos)
            path = "Z:\\proc\\" + entry + "\\status";
    } while (path.empty() && FindNextFileA(search, &found));
    FindClose(search);
    return path;
}

// Wine answers 0 for the process's private bytes and handle count; there the
// anonymous memory of the Linux process and the wine server's handle table
// stand in for them.
double LinuxAnonymousMb()
{
    static const std::string path = LinuxStatusPath();
    std::string text = path.empty() ? "" : ReadWholeFile(path);
    size_t at = text.find("RssAnon:");
    return at == std::string::npos ? 0 : std::atof(text.c_str() + at + 8) / 1024.0;
}

struct HandleEntry {
    ULONG process;
    UCHAR type;
    UCHAR flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};

long HandlesOfThisProcess()
{
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles)
        return static_cast<long>(handles);
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    while (query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) ==
           static_cast<LONG>(0xC0000004)) {  // buffer too small
        if (buffer.size() >= (64u << 20))
            return -1;
        buffer.resize(buffer.size() * 2);
    }
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    auto entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    long mine = 0;
    for (ULONG i = 0; i < count; ++i)
        mine += entries[i].process == GetCurrentProcessId();
    return mine;
}

long ThreadsOfThisProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long mine = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        mine += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return mine;
}

void PrintUsage(double minutes, long lost)
{
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    double private_mb = memory.PrivateUsage ? memory.PrivateUsage / 1048576.0 : LinuxAnonymousMb();
    std::printf("soak %6.1f min: private %7.1f MB%s, handles %5ld, threads %3ld, GDI objects %4lu, USER objects %4lu%s,"
                " frames lost %ld\n",
                minutes, private_mb, memory.PrivateUsage ? "" : " (anonymous RSS)", HandlesOfThisProcess(),
                ThreadsOfThisProcess(),
                GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
                GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) ? "" : " (not counted by Wine)", lost);
    std::fflush(stdout);
}

void DeleteAll(const std::string& folder, const char* pattern)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        DeleteFileA((folder + "\\" + found.cFileName).c_str());
    while (FindNextFileA(search, &found));
    FindClose(search);
}

class SoakBench : public BenchTest {
protected:
    long lost_ = 0;
    int recordings_ = 0;
    double recording_started_ = 0;
    long reported_ = 0;
    double frame_ms_ = 1001.0 / 30;
    int sound_ppm_ = 0;
    std::vector<ThreadCpu> threads_at_start_;

    void StartTheSoaksViewer()
    {
        const bool hd = BenchSetting("FERNWOOD_SOAK_FORMAT", 1080) != 720;
        // A card's sound on a crystal of its own, 100 ppm fast unless told.
        sound_ppm_ = static_cast<int>(BenchSetting("FERNWOOD_SOAK_SOUND_PPM", 100));
        Card().SetNumber(testcard::TestCardSetup::Audio(0), L"ClockPpm", static_cast<DWORD>(sound_ppm_));
        StartShowing(hd ? IDM_RES_1080 : IDM_RES_720);
        frame_ms_ = hd ? 1001.0 / 30 : 1001.0 / 60;
        for (int i = 0; i < compressor_count; ++i)
            if (MenuText(CommandMenu, IDM_COMPRESSOR_FIRST + i) == L"Fernwood test codec (testbed)")
                SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_FIRST + i, 0);
    }

    void StartRecording()
    {
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ++recordings_;
        recording_started_ = Now();
        reported_ = 0;
        threads_at_start_ = SnapshotThreads();
    }

    // Which frames the card lost, when, and why, read while the card still
    // remembers the frames around them (its departures cover about a
    // minute): a frame the capture pin sent and had refused, one that found
    // none of the capture pin's buffers free while the preview got it, or
    // one the card's thread woke too late for.
    void NoteLostFrames()
    {
        std::vector<long> numbers(1000);
        long copied = 0;
        if (!recording_state.recording || !capture_graph.dropped_frames ||
            FAILED(capture_graph.dropped_frames->GetDroppedInfo(static_cast<long>(numbers.size()), numbers.data(),
                                                                &copied)))
            return;
        const std::vector<testcard::TestCardFrameDeparture> sent = CardDepartures();
        auto left = [&](long number, DWORD pin) {
            return std::any_of(sent.begin(), sent.end(), [&](const testcard::TestCardFrameDeparture& d) {
                return d.frame_number == static_cast<DWORD>(number) && d.pin == pin;
            });
        };
        for (long i = reported_; i < copied; ++i)
            std::printf("  recording %d: frame %ld lost, %.1f s into it: %s\n", recordings_, numbers[i],
                        numbers[i] * frame_ms_ / 1000,
                        left(numbers[i], 0)   ? "the capture pin's Deliver failed"
                        : left(numbers[i], 1) ? "no free capture buffer"
                        : sent.empty() || sent.front().frame_number > static_cast<DWORD>(numbers[i])
                            ? "no longer known"
                            : "the card's thread was late");
        reported_ = copied;
    }

    void StopRecording()
    {
        NoteLostFrames();
        long dropped = 0;
        if (capture_graph.dropped_frames && SUCCEEDED(capture_graph.dropped_frames->GetNumDropped(&dropped)))
            lost_ += dropped;
        std::printf("  recording %d: %ld frames lost in %.0f s; CPU of the threads while it ran:\n", recordings_,
                    dropped, (Now() - recording_started_) / 1000);
        PrintThreadShares(threads_at_start_, SnapshotThreads(), (Now() - recording_started_) / 1000,
                          CardStreamingThread());
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }

    // The latest click the window played: the renderer's figures start
    // again each time the graph runs, as after a switch of render mode.
    static void PrintLiveSound()
    {
        const HeardSound heard = ReadHeardSound();
        const REFERENCE_TIME latest = heard.clicks.empty() ? 0 : heard.clicks.back().stamp;
        std::printf("  live sound: %s; since the graph ran: %ld dropped runs, %ld inserted silences, %ld underruns\n",
                    DescribeDelayAt(heard, latest).c_str(), heard.glitches.dropped_runs, heard.glitches.silences,
                    heard.glitches.underruns);
        std::fflush(stdout);
    }

    // Stop, switch, still, start: what a user does between recordings.
    // FERNWOOD_SOAK_STEPS leaves some out ("mode" takes no still), to
    // tell which of them costs what.
    void Restart()
    {
        const char* steps_text = std::getenv("FERNWOOD_SOAK_STEPS");
        const std::string steps = steps_text ? steps_text : "mode,still";
        StopRecording();
        DeleteAll(Folder(), "cap*.avi");
        if (steps.find("mode") != std::string::npos) {
            bool vmr9 = IsMenuChecked(IDM_MODE_VMR9) == MENU_CHECKED;
            SendMessageA(main_window, WM_COMMAND, vmr9 ? IDM_MODE_VMR7 : IDM_MODE_VMR9, 0);
        }
        if (steps.find("still") != std::string::npos) {
            SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
            DeleteAll(Folder(), "pic*.bmp");
        }
        StartRecording();
    }
};

TEST_F(SoakBench, AnHourOfPreviewRecordingSwitchesAndStills)
{
    const DWORD total_ms = BenchSetting("FERNWOOD_SOAK_SECONDS", 3600) * 1000;
    const DWORD step_ms = BenchSetting("FERNWOOD_SOAK_STEP_SECONDS", 180) * 1000;
    const DWORD report_ms = BenchSetting("FERNWOOD_SOAK_REPORT_SECONDS", 600) * 1000;
    StartTheSoaksViewer();
    ASSERT_NE(-1, compressor_index) << "the test codec is not installed";
    ASSERT_TRUE(PreviewRuns());
    StartRecording();
    ASSERT_EQ(1, recording_state.recording);

    const DWORD started = GetTickCount();
    DWORD next_step = step_ms, next_report = report_ms;
    PrintUsage(0, lost_);
    while (GetTickCount() - started < total_ms) {
        DWORD now = GetTickCount() - started;
        DWORD due = next_step < next_report ? next_step : next_report;
        if (now < due) {
            DWORD wait = due - now < 1000 ? due - now : 1000;
            Pump(wait);
            NoteLostFrames();
            continue;
        }
        if (now >= next_step) {
            Restart();
            next_step += step_ms;
        }
        if (now >= next_report) {
            long lost_so_far = lost_;
            long dropped = 0;
            if (capture_graph.dropped_frames && SUCCEEDED(capture_graph.dropped_frames->GetNumDropped(&dropped)))
                lost_so_far += dropped;
            PrintUsage(now / 60000.0, lost_so_far);
            PrintLiveSound();
            next_report += report_ms;
        }
    }
    StopRecording();
    PrintUsage((GetTickCount() - started) / 60000.0, lost_);

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((Folder() + "\\cap*.avi").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    FindClose(search);
    AviSummary avi;
    AvSync sync = MeasureAvSync(Folder() + "\\" + found.cFileName, &avi);
    std::printf("last recording, sound %+d ppm: %d frames in %d slots; %d flashes, %d clicks, %d pairs: click - flash "
                "median %.1f ms (%.1f .. %.1f)\n",
                sound_ppm_, avi.video_frames, avi.video_slots, sync.flashes, sync.clicks, sync.pairs, sync.median_ms, sync.min_ms,
                sync.max_ms);
    for (const std::wstring& text : CaughtMessageBoxes()) {
        char bytes[512] = "";
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
        std::printf("  the viewer said: %s\n", bytes);
    }
}

// The same growth without any of the viewer's code in the loop: the renderer
// in use is cut from its upstream pin and connected again with the graph's
// own calls, as a render-mode switch or a still does. Compared with a
// Direct3D 9 device created and released as often, it shows whether the
// renderer or the viewer keeps what each connection allocates.
TEST_F(SoakBench, RendererReconnectionsAlone)
{
    const int cycles = static_cast<int>(BenchSetting("FERNWOOD_RECONNECT_CYCLES", 5));
    StartShowing(IDM_RES_1080);
    ASSERT_TRUE(PreviewRuns());
    IBaseFilter* renderer = IsMenuChecked(IDM_MODE_VMR9) == MENU_CHECKED ? capture_graph.vmr9 : capture_graph.vmr7;
    IPin* input = nullptr;
    IPin* upstream = nullptr;
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, renderer->EnumPins(&pins));
    ASSERT_EQ(S_OK, pins->Next(1, &input, nullptr));
    pins->Release();
    ASSERT_EQ(S_OK, input->ConnectedTo(&upstream));
    std::printf("renderer reconnections at 1080p, %s:\n", renderer == capture_graph.vmr9 ? "VMR-9" : "VMR-7");
    PrintUsage(0, 0);
    for (int i = 1; i <= cycles; ++i) {
        capture_graph.media_control->Stop();
        capture_graph.graph->Disconnect(upstream);
        capture_graph.graph->Disconnect(input);
        ASSERT_EQ(S_OK, capture_graph.graph->Connect(upstream, input));
        capture_graph.media_control->Run();
        ASSERT_TRUE(PreviewRuns());
        std::printf("after %d: ", i);
        PrintUsage(0, 0);
    }
    upstream->Release();
    input->Release();

    std::printf("Direct3D 9 devices created and released on the viewer's window:\n");
    HMODULE d3d9 = LoadLibraryA("d3d9.dll");
    ASSERT_NE(nullptr, d3d9);
    using Create = IUnknown*(WINAPI*)(UINT);
    auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(d3d9, "Direct3DCreate9")));
    ASSERT_NE(nullptr, create);
    for (int i = 1; i <= cycles; ++i) {
        IDirect3D9* direct3d = reinterpret_cast<IDirect3D9*>(create(D3D_SDK_VERSION));
        ASSERT_NE(nullptr, direct3d);
        D3DPRESENT_PARAMETERS present{};
        present.Windowed = TRUE;
        present.hDeviceWindow = main_window;
        present.SwapEffect = D3DSWAPEFFECT_COPY;
        present.BackBufferWidth = 1920;
        present.BackBufferHeight = 1080;
        IDirect3DDevice9* device = nullptr;
        HRESULT hr = direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                                            D3DCREATE_MIXED_VERTEXPROCESSING, &present, &device);
        if (SUCCEEDED(hr))
            device->Release();
        direct3d->Release();
        std::printf("after %d (%s): ", i, SUCCEEDED(hr) ? "created" : "refused");
        PrintUsage(0, 0);
    }
    FreeLibrary(d3d9);
}

// Which kinds of handle a recording restart leaves behind, if any: the
// handles this process holds before and after a few restarts, by type.
std::map<USHORT, std::wstring> HandlesByValue()
{
    std::map<USHORT, std::wstring> found;
    using QuerySystem = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto query = reinterpret_cast<QuerySystem>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    auto object = reinterpret_cast<QueryObject>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    std::vector<unsigned char> buffer(4 << 20);
    ULONG needed = 0;
    if (!query || !object || query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0)
        return found;
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    auto entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    for (ULONG i = 0; i < count; ++i) {
        if (entries[i].process != GetCurrentProcessId())
            continue;
        unsigned char type[1024] = {};
        std::wstring name = L"?";
        HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entries[i].value));
        if (object(handle, 2 /* ObjectTypeInformation */, type, sizeof type, nullptr) == 0) {
            auto text = reinterpret_cast<const UNICODE_STRING*>(type);
            name.assign(text->Buffer, text->Length / sizeof(wchar_t));
        }
        // A key's path says who opened it.
        unsigned char path[2048] = {};
        if (name == L"Key" && object(handle, 1 /* ObjectNameInformation */, path, sizeof path - 2, nullptr) == 0) {
            auto text = reinterpret_cast<const UNICODE_STRING*>(path);
            name += L" " + std::wstring(text->Buffer, text->Length / sizeof(wchar_t));
        }
        found[entries[i].value] = name;
    }
    return found;
}

TEST_F(SoakBench, HandlesLeftByRecordingRestarts)
{
    StartTheSoaksViewer();
    ASSERT_TRUE(PreviewRuns());
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    Pump(2000);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    Pump(2000);
    std::map<USHORT, std::wstring> before = HandlesByValue();
    const int restarts = static_cast<int>(BenchSetting("FERNWOOD_RESTART_CYCLES", 5));
    for (int i = 0; i < restarts; ++i) {
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        DeleteAll(Folder(), "cap*.avi");
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        Pump(2000);
    }
    std::map<USHORT, std::wstring> after = HandlesByValue();
    std::map<std::wstring, int> change;
    for (const auto& entry : after)
        if (!before.count(entry.first) || before[entry.first] != entry.second)
            ++change[entry.second];
    for (const auto& entry : before)
        if (!after.count(entry.first) || after[entry.first] != entry.second)
            --change[entry.second];
    std::printf("handles after %d recording restarts: %zu before, %zu after\n", restarts, before.size(), after.size());
    for (const auto& entry : change)
        if (entry.second)
            std::printf("  %ls: %+d\n", entry.first.c_str(), entry.second);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
}

}  // namespace
