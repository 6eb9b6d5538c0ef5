#include <windows.h>

#include <string>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "viewer_harness.h"

namespace {

std::string ViewerPath()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\')) + "\\fernwoodview.exe";
}

PROCESS_INFORMATION StartViewerProcess(const std::string& folder)
{
    std::string command = "\"" + ViewerPath() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                               &process));
    return process;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process)
{
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool PollFor(bool (*done)(), DWORD timeout_ms = 30000)
{
    for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
        if (done())
            return true;
        Sleep(50);
    }
    return done();
}

int CountViewerWindows()
{
    int count = 0;
    EnumWindows(
        [](HWND hwnd, LPARAM counter) -> BOOL {
            char name[32];
            if (GetClassNameA(hwnd, name, sizeof name) && std::string(name) == "FERNWOODVIEW")
                ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

class SingleInstanceTest : public ::testing::TestWithParam<bool> {};

TEST_P(SingleInstanceTest, SecondStartActivatesTheFirstAndExitsWithZero)
{
    const bool minimise_first = GetParam();
    std::string folder = MakeTempFolder("fwinstance");
    PROCESS_INFORMATION first = StartViewerProcess(folder);
    ASSERT_TRUE(PollFor([] { return FindWindowA("FERNWOODVIEW", nullptr) != nullptr; }));
    HWND window = FindWindowA("FERNWOODVIEW", nullptr);
    if (minimise_first) {
        ShowWindow(window, SW_MINIMIZE);
        ASSERT_TRUE(PollFor([] { return IsIconic(FindWindowA("FERNWOODVIEW", nullptr)) != FALSE; }));
    }

    EXPECT_EQ(0u, WaitForExit(StartViewerProcess(folder)));
    EXPECT_EQ(1, CountViewerWindows());
    EXPECT_TRUE(PollFor([] { return !IsIconic(FindWindowA("FERNWOODVIEW", nullptr)); }));
    EXPECT_TRUE(IsWindowVisible(window));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, WaitForExit(first));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\setting.ini").c_str()));
    RemoveFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(FirstWindow, SingleInstanceTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Minimised" : "Restored"; });

// The three ways a user closes the window all end in the settings being written.
enum class CloseBy { ExitCommand, CloseBox, AltF4 };

class CloseTest : public ViewerTest, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(CloseTest, ClosingWritesTheSettingsAndQuitsWithZero)
{
    StartViewer();
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    switch (GetParam()) {
    case CloseBy::ExitCommand: SendMessageA(main_window, WM_COMMAND, IDM_EXIT, 0); break;
    case CloseBy::CloseBox: SendMessageA(main_window, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case CloseBy::AltF4: SendMessageA(main_window, WM_SYSKEYDOWN, VK_F4, 0x20000001); break;
    }
    ASSERT_TRUE(PumpUntil([] { return quit_code_ >= 0; }));
    EXPECT_EQ(0, quit_code_);
    EXPECT_FALSE(IsWindow(main_window));
    EXPECT_EQ(8u, GetPrivateProfileIntA("menu", "auto_stop", 0, SettingsPath().c_str()));
    UnregisterClassA("FERNWOODVIEW", GetModuleHandleA(nullptr));
}

std::string CloseName(const ::testing::TestParamInfo<CloseBy>& info)
{
    switch (info.param) {
    case CloseBy::ExitCommand: return "ExitCommand";
    case CloseBy::CloseBox: return "CloseBox";
    default: return "AltF4";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, CloseTest, ::testing::Values(CloseBy::ExitCommand, CloseBy::CloseBox, CloseBy::AltF4),
                         CloseName);

}  // namespace
