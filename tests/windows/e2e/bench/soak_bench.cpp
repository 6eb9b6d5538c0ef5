// An hour of what a user does, to show that nothing grows: preview and a
// recording through the test codec at 1080p29.97, and every few minutes the
// recording stopped, the render mode switched, a still taken and the
// recording started again. Prints the process's private bytes, handles and
// GDI objects at the start and at every report, the frames lost, and the
// sound's offset in the last recording.
// FERNWOOD_SOAK_SECONDS (3600), FERNWOOD_SOAK_STEP_SECONDS (180) and
// FERNWOOD_SOAK_REPORT_SECONDS (600) change the times, FERNWOOD_SOAK_FORMAT
// (1080) the format.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "av_sync.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "card_harness.h"
#include "record/recording.h"

namespace {

DWORD Setting(const char* name, DWORD fallback)
{
    const char* text = std::getenv(name);
    return text && std::atoi(text) > 0 ? static_cast<DWORD>(std::atoi(text)) : fallback;
}

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

void PrintUsage(double minutes, long lost)
{
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    double private_mb = memory.PrivateUsage ? memory.PrivateUsage / 1048576.0 : LinuxAnonymousMb();
    std::printf("soak %6.1f min: private %7.1f MB%s, handles %5ld, GDI objects %4lu, USER objects %4lu%s,"
                " frames lost %ld\n",
                minutes, private_mb, memory.PrivateUsage ? "" : " (anonymous RSS)", HandlesOfThisProcess(),
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

class SoakBench : public CardTest {
protected:
    long lost_ = 0;

    void StopRecording()
    {
        long dropped = 0;
        if (capture_graph.dropped_frames && SUCCEEDED(capture_graph.dropped_frames->GetNumDropped(&dropped)))
            lost_ += dropped;
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }

    // Stop, switch, still, start: what a user does between recordings.
    // FERNWOOD_SOAK_STEPS leaves some out ("mode,still" keeps the recording
    // running), to tell which of them costs what.
    void Restart()
    {
        const char* steps_text = std::getenv("FERNWOOD_SOAK_STEPS");
        const std::string steps = steps_text ? steps_text : "record,mode,still";
        bool restart = steps.find("record") != std::string::npos;
        if (restart || steps.find("mode") != std::string::npos || steps.find("still") != std::string::npos)
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
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }
};

TEST_F(SoakBench, AnHourOfPreviewRecordingSwitchesAndStills)
{
    const DWORD total_ms = Setting("FERNWOOD_SOAK_SECONDS", 3600) * 1000;
    const DWORD step_ms = Setting("FERNWOOD_SOAK_STEP_SECONDS", 180) * 1000;
    const DWORD report_ms = Setting("FERNWOOD_SOAK_REPORT_SECONDS", 600) * 1000;
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, Setting("FERNWOOD_SOAK_FORMAT", 1080) == 720 ? IDM_RES_720 : IDM_RES_1080, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_SIZE_HALF, 0);
    for (int i = 0; i < compressor_count; ++i)
        if (MenuText(CommandMenu, IDM_COMPRESSOR_FIRST + i) == L"Fernwood test codec (testbed)")
            SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_FIRST + i, 0);
    ASSERT_NE(-1, compressor_index) << "the test codec is not installed";
    ASSERT_TRUE(PreviewRuns());
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
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
    std::printf("last recording: %d frames in %d slots; %d flashes, %d clicks, %d pairs: click - flash median %.1f ms "
                "(%.1f .. %.1f)\n",
                avi.video_frames, avi.video_slots, sync.flashes, sync.clicks, sync.pairs, sync.median_ms, sync.min_ms,
                sync.max_ms);
    for (const std::wstring& text : CaughtMessageBoxes()) {
        char bytes[512] = "";
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
        std::printf("  the viewer said: %s\n", bytes);
    }
}

}  // namespace
