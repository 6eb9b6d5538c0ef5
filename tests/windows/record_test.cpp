#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "state/timer_ids.h"
#include "record/record_timer.h"
#include "record/recording.h"
#include "record/wide_path.h"
#include "settings/save_folders.h"
#include "viewer_harness.h"

namespace {

TEST(WidePath, LongPathsGoThroughTheHeapAndConvertAlike)
{
    WidePath path;
    EXPECT_STREQ(L"D:\\rec\\cap20070816105804.avi", path.Convert("D:\\rec\\cap20070816105804.avi"));
    EXPECT_FALSE(path.OnHeap());

    std::string folder = "C:\\" + std::string(150, 'x');
    std::wstring expected = L"C:\\" + std::wstring(150, L'x');
    EXPECT_EQ(expected, path.Convert(folder.c_str()));
    EXPECT_TRUE(path.OnHeap());
    std::string longer = folder + std::string(300, 'y');
    EXPECT_EQ(expected + std::wstring(300, L'y'), path.Convert(longer.c_str()));

    // 127 characters and the terminator still fit in place.
    std::string edge(127, 'e');
    EXPECT_EQ(std::wstring(127, L'e'), path.Convert(edge.c_str()));
    EXPECT_FALSE(path.OnHeap());

    EXPECT_STREQ(L"C:\\録画", path.Convert("C:\\\x98\x5E\x89\xE6"));  // 録画 in code page 932
    try {
        path.Convert(nullptr);
        ADD_FAILURE() << "a missing path must raise";
    } catch (const HresultError& error) {
        EXPECT_EQ(E_INVALIDARG, error.hr);
    }
}

using RecordTest = ViewerTest;

std::wstring RecordCaption()
{
    return MenuText(CommandMenu, IDM_RECORD);
}

void ExpectIdleMenu()
{
    EXPECT_EQ(0, recording_state.recording);
    EXPECT_EQ(L"録画開始　　　　Ctrl+R", RecordCaption());
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(0u, IsMenuChecked(IDM_RES_1080));
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR9));
    EXPECT_EQ(0u, IsMenuChecked(IDM_CAPTURE_PATH));
    EXPECT_EQ(0u, IsMenuChecked(IDM_STILL));
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(IDM_RECORDED_FRAMES));
}

bool WaitForMessageBox()
{
    return ViewerTest::PumpUntil([] { return !CaughtMessageBoxes().empty(); });
}

// An earlier recording under each name the next half minute would give.
std::string TakeTheNextNames()
{
    std::string folder = MakeTempFolder("fwtaken");
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    ULARGE_INTEGER now{{utc.dwLowDateTime, utc.dwHighDateTime}};
    for (int second = -1; second < 30; ++second) {
        ULARGE_INTEGER at = now;
        at.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(second) * 10000000);
        FILETIME then{at.LowPart, at.HighPart}, local;
        SYSTEMTIME time;
        FileTimeToLocalFileTime(&then, &local);
        FileTimeToSystemTime(&local, &time);
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\cap%04u%02u%02u%02u%02u%02u.avi", folder.c_str(), time.wYear, time.wMonth,
                 time.wDay, time.wHour, time.wMinute, time.wSecond);
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "earlier", 7, &written, nullptr);
        CloseHandle(file);
    }
    return folder;
}

// How many movies in the folder still hold the earlier recording's bytes.
int EarlierMoviesKept(const std::string& folder)
{
    int kept = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\cap*.avi").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do
        kept += found.nFileSizeHigh == 0 && found.nFileSizeLow == 7;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return kept;
}

TEST_F(RecordTest, UnwritableFoldersAreRefusedWithAMessageAndNoRecordingState)
{
    StartViewer();
    ASSERT_TRUE(SettleStartupNotices());
    std::string file_as_folder = Folder() + "\\plain.txt";
    CloseHandle(CreateFileA(file_as_folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    struct Case {
        std::string folder;
        const wchar_t* says;
    };
    std::string too_long = Folder() + "\\" + std::string(238 - Folder().size() - 1, 'd');
    ASSERT_EQ(238u, too_long.size());
    const Case cases[] = {
        {Folder() + "\\does-not-exist", L"ファイルを作れません"},
        {file_as_folder, L"ファイルを作れません"},
        {too_long, L"長すぎます"},
        {TakeTheNextNames(), L"同じ名前の録画ファイルが既にあります"},
    };
    for (const Case& c : cases) {
        lstrcpynA(save_folders.path_capture, c.folder.c_str(), MAX_PATH);
        ClearCaughtMessageBoxes();
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ASSERT_TRUE(WaitForMessageBox()) << c.folder;
        EXPECT_NE(std::wstring::npos, CaughtMessageBoxes()[0].find(c.says)) << c.folder;
        ExpectIdleMenu();
    }
    EXPECT_EQ(31, EarlierMoviesKept(cases[3].folder)) << "no earlier recording is overwritten";
    RemoveFolder(cases[3].folder);
}

// Drives the timer dialog from inside its modal loop. A step returns false
// to be called again at the next tick (waiting for something); a script that
// stalls cancels the dialog, so a fault fails the test instead of hanging it.
using Step = std::function<bool(HWND)>;
struct DialogScript {
    std::vector<Step> steps;
    size_t next = 0;
    DWORD last_progress = 0;
    bool stalled = false;
};
DialogScript script;

void CALLBACK RunScript(HWND, UINT, UINT_PTR, DWORD)
{
    static bool busy = false;
    HWND dialog = FindWindowW(L"#32770", L"録画タイマー設定");
    if (busy || !dialog || !IsWindowVisible(dialog))
        return;
    if (script.next >= script.steps.size())
        return;
    busy = true;
    if (script.steps[script.next](dialog)) {
        ++script.next;
        script.last_progress = GetTickCount();
    } else if (GetTickCount() - script.last_progress > 30000) {
        script.stalled = true;
        script.next = script.steps.size();
        PostMessageW(dialog, WM_COMMAND, IDC_TIMER_CANCEL, 0);
    }
    busy = false;
}

void Click(HWND dialog, int id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void ClickAll(HWND dialog, std::initializer_list<int> ids)
{
    for (int id : ids)
        Click(dialog, id);
}

// Wraps a step that always completes at once.
Step Do(std::function<void(HWND)> action)
{
    return [action](HWND dialog) {
        action(dialog);
        return true;
    };
}

void RunTimerDialog(std::vector<Step> steps)
{
    script = DialogScript{std::move(steps), 0, GetTickCount(), false};
    UINT_PTR timer = SetTimer(nullptr, 0, 50, RunScript);
    SendMessageA(main_window, WM_COMMAND, IDM_TIMER_START, 0);
    KillTimer(nullptr, timer);
    EXPECT_FALSE(script.stalled) << "the script stalled at step " << script.next;
}

bool Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

class TimerDialogTest : public ViewerTest {
protected:
    void SetUp() override
    {
        ViewerTest::SetUp();
        StartViewer();
        ASSERT_TRUE(SettleStartupNotices());
        ClearCaughtMessageBoxes();
    }
};

TEST_F(TimerDialogTest, InvalidInputShowsItsMessageAndKeepsTheDialogOpen)
{
    std::vector<std::wstring> seen;
    Step press_set = Do([](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDC_TIMER_SET, 0); });
    Step take_message = [&](HWND) {
        if (CaughtMessageBoxes().empty())
            return false;
        seen.push_back(CaughtMessageBoxes().back());
        ClearCaughtMessageBoxes();
        return true;
    };
    RunTimerDialog({
        Do([](HWND d) { ClickAll(d, {2005, 3001}); }),  // month and day, no hour: incomplete
        press_set, take_message,
        Do([](HWND d) { ClickAll(d, {4023, 5050, 7001, 8001, 9000, 10000, 2012, 3031}); }),  // 12/31 23:50 → 1/1 0:00
        press_set, take_message,
        Do([](HWND d) { ClickAll(d, {7012, 8031, 9023, 10050}); }),  // the same minute on both sides
        press_set, take_message,
        Do([](HWND d) { ClickAll(d, {IDOK, IDCANCEL}); }),  // Enter and Esc do not close it
        Do([](HWND d) { EXPECT_TRUE(IsWindowVisible(d)); }),
        Do([](HWND d) { Click(d, IDC_TIMER_CANCEL); }),
    });
    EXPECT_EQ((std::vector<std::wstring>{L"設定が不十分です 　", L"停止時間が開始時間より早くなっています 　",
                                         L"開始時間と停止時間が同じです 　"}),
              seen);
    EXPECT_EQ(0, record_timer.start.month);
    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
}

// The local time `minutes` from now (negative: before).
SYSTEMTIME LocalTimeIn(long long minutes)
{
    FILETIME now_file;
    SYSTEMTIME now;
    GetLocalTime(&now);
    SystemTimeToFileTime(&now, &now_file);
    ULARGE_INTEGER at{};
    at.LowPart = now_file.dwLowDateTime;
    at.HighPart = now_file.dwHighDateTime;
    at.QuadPart += minutes * 60 * 10000000LL;
    now_file.dwLowDateTime = at.LowPart;
    now_file.dwHighDateTime = at.HighPart;
    SYSTEMTIME shifted;
    FileTimeToSystemTime(&now_file, &shifted);
    return shifted;
}

TEST_F(TimerDialogTest, DatesThatDoNotExistAndTimesGoneByAreRefused)
{
    SYSTEMTIME past = LocalTimeIn(-120);
    if (past.wYear != LocalTimeIn(0).wYear)
        GTEST_SKIP() << "two hours ago was last year: the date is next year's";
    int past_minute = past.wMinute / 10 * 10;
    std::vector<std::wstring> seen;
    Step press_set = Do([](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDC_TIMER_SET, 0); });
    Step take_message = [&](HWND) {
        if (CaughtMessageBoxes().empty())
            return false;
        seen.push_back(CaughtMessageBoxes().back());
        ClearCaughtMessageBoxes();
        return true;
    };
    RunTimerDialog({
        Do([](HWND d) { ClickAll(d, {2002, 3031, 4000, 5000, IDC_STOP_NONE}); }),  // 2月31日
        press_set, take_message,
        Do([&](HWND d) {
            ClickAll(d, {2000 + past.wMonth, 3000 + past.wDay, 4000 + past.wHour, 5000 + past_minute});
        }),
        press_set, take_message,
        Do([](HWND d) { Click(d, IDC_TIMER_CANCEL); }),
    });
    EXPECT_EQ((std::vector<std::wstring>{L"その日付はありません 　", L"その時刻は過ぎています 　"}), seen);
    EXPECT_EQ(0, record_timer.start.month);
}

TEST_F(TimerDialogTest, AcceptedTimesAreStoredShownAndCheckedOnReopening)
{
    // The 4th of next month is always ahead; a fixed date would be past half the year.
    const int m = LocalTimeIn(0).wMonth % 12 + 1;
    RunTimerDialog({
        Do([&](HWND d) {
            EXPECT_TRUE(Checked(d, IDC_START_NONE));
            EXPECT_TRUE(Checked(d, IDC_STOP_NONE));
            int other = 2000 + (m % 12 + 1);
            ClickAll(d, {other, 3004, 4005, 5010, 2000 + m});  // the later month click wins
            EXPECT_FALSE(Checked(d, IDC_START_NONE));
            EXPECT_FALSE(Checked(d, other));
            ClickAll(d, {7000 + m, 8004, 9005, 10020});
            Click(d, IDC_TIMER_SET);
        }),
    });
    EXPECT_EQ(m, record_timer.start.month);
    EXPECT_EQ(20, record_timer.stop.minute);
    EXPECT_EQ(L"開始　" + std::to_wstring(m) + L"月 4日 5時 10分", MenuText(CommandMenu, IDM_TIMER_START));
    EXPECT_EQ(L"停止　" + std::to_wstring(m) + L"月 4日 5時 20分", MenuText(CommandMenu, IDM_TIMER_STOP));
    EXPECT_EQ(1, record_timer.start_pending);
    EXPECT_TRUE(KillTimer(main_window, TIMER_SCHEDULE_START));
    EXPECT_FALSE(KillTimer(main_window, TIMER_SCHEDULE_STOP)) << "the stop waits for a recording";

    RunTimerDialog({
        Do([&](HWND d) {
            for (int id : {2000 + m, 3004, 4005, 5010, 7000 + m, 8004, 9005, 10020})
                EXPECT_TRUE(Checked(d, id)) << id;
            EXPECT_FALSE(Checked(d, IDC_START_NONE));
            ClickAll(d, {2007, IDC_STOP_NONE});
            EXPECT_FALSE(Checked(d, 10020));
            Click(d, IDC_TIMER_CANCEL);
        }),
    });
    EXPECT_EQ(m, record_timer.start.month) << "cancel changes nothing";
    EXPECT_EQ(m, record_timer.stop.month);

    RunTimerDialog({
        Do([](HWND d) { ClickAll(d, {IDC_START_NONE, IDC_STOP_NONE, IDC_TIMER_SET}); }),
    });
    EXPECT_EQ(0, record_timer.start.month);
    EXPECT_EQ(0, record_timer.stop.month);
    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
    EXPECT_EQ(L"停止　設定無し", MenuText(CommandMenu, IDM_TIMER_STOP));
}

// Records the commands that reach the main window without letting IDM_RECORD through.
std::vector<UINT> commands_seen;
WNDPROC viewer_procedure = nullptr;
LRESULT CALLBACK Spy(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COMMAND && LOWORD(wparam) == IDM_RECORD) {
        commands_seen.push_back(IDM_RECORD);
        return 0;
    }
    return CallWindowProcA(viewer_procedure, hwnd, message, wparam, lparam);
}

TEST_F(TimerDialogTest, ScheduledTimesFireOnceInTheirMinute)
{
    viewer_procedure =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(main_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Spy)));
    SYSTEMTIME now;
    GetLocalTime(&now);
    record_timer.start = TimerSpec{now.wMonth, now.wDay, now.wHour, static_cast<uint16_t>((now.wMinute + 30) % 60)};
    record_timer.start_pending = 1;
    SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_START, 0);
    EXPECT_TRUE(commands_seen.empty()) << "another minute does not fire";

    for (int attempt = 0; attempt < 3 && commands_seen.empty(); ++attempt) {
        GetLocalTime(&now);
        record_timer.start = TimerSpec{now.wMonth, now.wDay, now.wHour, now.wMinute};
        SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_START, 0);  // may straddle a minute: try again
    }
    ASSERT_EQ(std::vector<UINT>{IDM_RECORD}, commands_seen);
    EXPECT_EQ(0, record_timer.start.month);
    EXPECT_EQ(0, record_timer.start_pending);
    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
    SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_START, 0);
    EXPECT_EQ(1u, commands_seen.size()) << "fires only once";

    commands_seen.clear();
    recording_state.recording = 1;  // the spy keeps the command from changing it
    for (int attempt = 0; attempt < 3 && commands_seen.empty(); ++attempt) {
        GetLocalTime(&now);
        record_timer.stop = TimerSpec{now.wMonth, now.wDay, now.wHour, now.wMinute};
        SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_STOP, 0);  // may straddle a minute: try again
    }
    recording_state.recording = 0;
    EXPECT_EQ(std::vector<UINT>{IDM_RECORD}, commands_seen);
    EXPECT_EQ(0, record_timer.stop.month);
    EXPECT_EQ(L"停止　設定無し", MenuText(CommandMenu, IDM_TIMER_STOP));
}

// A tick never toggles: a stop that finds nothing recording must not start
// one, and a start that finds a recording running must not stop it. Either
// way what was due is spent.
TEST_F(TimerDialogTest, ScheduledTicksActOnTheStateAndNeverToggleIt)
{
    viewer_procedure =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(main_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Spy)));
    SYSTEMTIME now;
    bool spent = false;
    for (int attempt = 0; attempt < 3 && !spent; ++attempt) {
        GetLocalTime(&now);
        record_timer.stop = TimerSpec{now.wMonth, now.wDay, now.wHour, now.wMinute};
        SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_STOP, 0);
        spent = record_timer.stop.month == 0;
    }
    EXPECT_TRUE(spent);
    EXPECT_TRUE(commands_seen.empty()) << "idle: the stop time passes without a command";

    recording_state.recording = 1;
    spent = false;
    for (int attempt = 0; attempt < 3 && !spent; ++attempt) {
        GetLocalTime(&now);
        record_timer.start = TimerSpec{now.wMonth, now.wDay, now.wHour, now.wMinute};
        record_timer.start_pending = 1;
        SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_START, 0);
        spent = record_timer.start.month == 0;
    }
    recording_state.recording = 0;
    EXPECT_TRUE(spent);
    EXPECT_EQ(0, record_timer.start_pending);
    EXPECT_TRUE(commands_seen.empty()) << "recording: the start time passes without a command";
}

}  // namespace
