#include "viewer_harness.h"

#include <shellapi.h>

#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "record/recording_journal.h"
#include "settings/settings_file.h"
#include "state/timer_ids.h"

int ViewerTest::quit_code_ = -1;

std::string MakeTempFolder(const char* prefix)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (unsigned attempt = 0;; ++attempt) {
        char folder[MAX_PATH];
        snprintf(folder, sizeof folder, "%s%s%lu_%u", temp, prefix, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(folder, nullptr))
            return folder;
    }
}

void RemoveFolder(const std::string& folder)
{
    std::string from = folder + std::string(1, '\0');
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationA(&operation);
}

static std::vector<std::wstring> caught_message_boxes;
static std::function<void(const std::wstring&)> message_box_hook;

static BOOL CALLBACK AnswerMessageBox(HWND window, LPARAM)
{
    wchar_t class_name[16];
    if (!IsWindowVisible(window) || !GetClassNameW(window, class_name, 16) || lstrcmpW(class_name, L"#32770") != 0)
        return TRUE;
    wchar_t title[64] = L"";
    GetWindowTextW(window, title, 64);
    if (lstrcmpW(title, L"録画タイマー設定") == 0)  // the program's own dialog, driven by its tests
        return TRUE;
    wchar_t text[512] = L"";
    GetDlgItemTextW(window, 0xFFFF, text, 512);  // the message text of a message box
    caught_message_boxes.push_back(text);
    if (message_box_hook) {
        auto hook = message_box_hook;  // a hook may clear itself
        hook(text);
    }
    if (IsWindow(window))
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

static void CALLBACK CatchMessageBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), AnswerMessageBox, 0);
}

void StartMessageBoxCatcher()
{
    static UINT_PTR timer = 0;
    if (!timer)
        timer = SetTimer(nullptr, 0, 100, CatchMessageBoxes);
}

void SetMessageBoxHook(std::function<void(const std::wstring&)> hook)
{
    message_box_hook = std::move(hook);
}

const std::vector<std::wstring>& CaughtMessageBoxes()
{
    return caught_message_boxes;
}

void ClearCaughtMessageBoxes()
{
    caught_message_boxes.clear();
}

void ViewerTest::SetUp()
{
    StartMessageBoxCatcher();
    // Tests of one parametrised suite share a process.
    ClearCaughtMessageBoxes();
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    previous_folder_ = current;
    folder_ = MakeTempFolder("fwtest");
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
}

void ViewerTest::TearDown()
{
    SetMessageBoxHook(nullptr);
    if (main_window && IsWindow(main_window))
        CloseViewer();
    SetCurrentDirectoryA(previous_folder_.c_str());
    RemoveFolder(folder_);
}

void ViewerTest::WriteSetting(const char* section, const char* key, const char* value)
{
    ASSERT_TRUE(WritePrivateProfileStringA(section, key, value, SettingsPath().c_str()));
}

void ViewerTest::CreateWindowOnly()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(RegisterMainWindowClass(instance));
    InitSettingsPath();
    main_window = CreateMainWindow(instance);
    ASSERT_NE(nullptr, main_window) << "window creation failed with error " << GetLastError();
}

void ViewerTest::StartViewer()
{
    CreateWindowOnly();
    if (HasFatalFailure())
        return;
    StartCaptureGraph();
    if (!capture_graph.dx9_missing)
        ReplayDisplayState();
    RepairUnfinishedRecording();
    Pump();
}

void ViewerTest::CloseViewer()
{
    SendMessageA(main_window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(PumpUntil([] { return quit_code_ >= 0; }));
    EXPECT_FALSE(IsWindow(main_window));
    UnregisterClassA("FERNWOODVIEW", GetModuleHandleA(nullptr));
}

bool ViewerTest::SettleStartupNotices()
{
    return PumpUntil([] {
        MSG queued;
        return !PeekMessageA(&queued, nullptr, WM_GRAPH_FAULT, WM_GRAPH_FAULT, PM_NOREMOVE);
    });
}

void ViewerTest::Pump(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

bool ViewerTest::PumpUntil(const std::function<bool()>& done, DWORD timeout_ms)
{
    DWORD until = GetTickCount() + timeout_ms;
    MSG message;
    for (;;) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit_code_ = static_cast<int>(message.wParam);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        if (GetTickCount() >= until)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

SIZE ViewerTest::ClientSize() const
{
    RECT client{};
    GetClientRect(main_window, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

std::vector<ViewerTest::Section> ViewerTest::ReadSettingsFile() const
{
    std::vector<Section> sections;
    std::ifstream file(SettingsPath());
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
        } else if (!sections.empty()) {
            size_t equals = line.find('=');
            sections.back().second.push_back({line.substr(0, equals), line.substr(equals + 1)});
        }
    }
    return sections;
}

std::wstring MenuText(HMENU menu, UINT id)
{
    wchar_t text[256] = L"";
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 256;
    if (!GetMenuItemInfoW(menu, id, FALSE, &info))
        return L"<no item>";
    return text;
}
