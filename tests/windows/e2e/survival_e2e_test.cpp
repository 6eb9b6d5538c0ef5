// What a recording keeps when the session ends, the process dies, the disk
// fills or the card goes away: the viewer's own executable in a process of
// its own where the process must end, the viewer in this one where it starts.
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "record/recording.h"
#include "resources/resource_ids.h"
#include "state/command_menu.h"
#include "avi_reader.h"
#include "card_harness.h"
#include "testbed/testcard/portable/test_pattern.h"
#include "testbed/testcard/testcard_setup.h"

namespace {

using testcard::TestCardSetup;

const uint32_t kUyvyFrameBytes = 1280 * 720 * 2;

std::string BesideTests(const char* name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

uint64_t FileBytes(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// fernwoodview.exe started in a folder, as a user starts it there.
class ViewerProcess {
public:
    explicit ViewerProcess(const std::string& folder)
    {
        std::string command = "\"" + BesideTests("fernwoodview.exe") + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                                  &process_) != FALSE;
    }
    ~ViewerProcess()
    {
        Kill();
    }

    // The main window, once its message loop answers.
    HWND Window()
    {
        for (DWORD waited = 0; started_ && waited < 60000; waited += 100) {
            HWND found = FindWindowA("FERNWOODVIEW", nullptr);
            DWORD owner = 0;
            if (found)
                GetWindowThreadProcessId(found, &owner);
            DWORD_PTR answer = 0;
            if (found && owner == process_.dwProcessId &&
                SendMessageTimeoutA(found, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer))
                return found;
            Sleep(100);
        }
        return nullptr;
    }
    // Sends and waits for the viewer to finish handling the message.
    static bool Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result = nullptr)
    {
        DWORD_PTR answer = 0;
        bool sent = SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, 60000, &answer) != 0;
        if (result)
            *result = answer;
        return sent;
    }
    // As Task Manager ends a process, or a crash does: nothing of the viewer runs.
    void Kill()
    {
        if (!started_)
            return;
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, 30000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        started_ = false;
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

class SurvivalE2E : public CardTest {
protected:
    std::string MoviePath()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\cap*.avi").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return "";
        FindClose(search);
        return Folder() + "\\" + found.cFileName;
    }

    // Polls until the movie holds `bytes` (it is written as it records).
    bool RecordsPast(uint64_t bytes)
    {
        for (DWORD waited = 0; waited < 180000; waited += 50) {
            if (FileBytes(MoviePath()) >= bytes)
                return true;
            Sleep(50);
        }
        return false;
    }

    // Starts a recording in another viewer process and kills it once the
    // movie is past `bytes` and has recorded a second more; `before` is the
    // movie's size a second before the kill.
    void RecordAndKill(uint64_t bytes, uint64_t* before)
    {
        uint64_t at_kill = 0;
        RecordAndKill(bytes, before, &at_kill);
        std::printf("the movie held %llu bytes a second before the kill, %llu at it\n",
                    static_cast<unsigned long long>(*before), static_cast<unsigned long long>(at_kill));
    }
    void RecordAndKill(uint64_t bytes, uint64_t* before, uint64_t* at_kill)
    {
        ASSERT_EQ(S_OK, Card().Register());
        ViewerProcess viewer(Folder());
        HWND window = viewer.Window();
        ASSERT_NE(nullptr, window);
        ASSERT_TRUE(ViewerProcess::Send(window, WM_COMMAND, IDM_RECORD, 0));
        ASSERT_TRUE(RecordsPast(bytes));
        *before = FileBytes(MoviePath());
        DWORD from = GetTickCount();
        while (GetTickCount() - from < 1000 || FileBytes(MoviePath()) <= *before) {
            ASSERT_LT(GetTickCount() - from, 60000u) << "the recording stalled";
            Sleep(20);
        }
        viewer.Kill();
        *at_kill = FileBytes(MoviePath());
        ASSERT_TRUE(Exists(Folder() + "\\unfinished.txt")) << "what the repair needs was kept";
    }

    // The payload of every chunk, and the frame numbers of a UYVY picture.
    struct Kept {
        AviSummary avi;
        uint64_t video_bytes = 0;
        std::vector<uint32_t> numbers;
    };
    static Kept ReadKept(const std::string& path)
    {
        Kept kept;
        kept.avi = ReadAvi(path, [&](const uint8_t* bytes, uint32_t size) {
            kept.video_bytes += size;
            testcard::FrameLayout layout{testcard::PixelFormat::kUyvy, 1280, 720, false};
            uint32_t number = 0;
            if (size == kUyvyFrameBytes && testcard::ReadFrameNumber(bytes, layout, 2560, &number))
                kept.numbers.push_back(number);
        });
        return kept;
    }

    // After the next start: the movie plays, with everything that was on the
    // disk a second before the kill, and the start said so once.
    Kept ExpectRepairedAtNextStart(uint64_t before, bool uyvy, bool sound)
    {
        std::string movie = MoviePath();
        EXPECT_FALSE(ReadAvi(movie, [](const uint8_t*, uint32_t) {}).valid) << "a killed recording has no header";
        StartWithCard();
        EXPECT_EQ(1, MessagesSaying(L"再生できるように直しました")) << CaughtText();
        EXPECT_FALSE(Exists(Folder() + "\\unfinished.txt"));
        Kept kept = ReadKept(movie);
        std::printf("kept %d frames (%llu bytes) and %llu bytes of sound\n", kept.avi.video_frames,
                    static_cast<unsigned long long>(kept.video_bytes),
                    static_cast<unsigned long long>(kept.avi.audio_bytes));
        EXPECT_TRUE(kept.avi.valid);
        EXPECT_EQ(sound, kept.avi.has_audio);
        // The header's room, one chunk written in part, and chunk headers.
        const uint64_t slack = 2 * 1024 * 1024 + kUyvyFrameBytes;
        EXPECT_GE(kept.video_bytes + kept.avi.audio_bytes + slack, before);
        if (uyvy) {
            EXPECT_EQ(static_cast<size_t>(kept.avi.video_frames), kept.numbers.size());
            for (size_t i = 1; i < kept.numbers.size(); ++i)
                EXPECT_LT(kept.numbers[i - 1], kept.numbers[i]) << "frame " << i << " in order";
        }
        if (sound) {
            double video_seconds = kept.avi.video_slots * 166833 / 1e7;
            double sound_seconds = static_cast<double>(kept.avi.audio_bytes) / 192000;
            EXPECT_NEAR(video_seconds, sound_seconds, 1.0);
        }
        return kept;
    }

    int TestCodecIndex()
    {
        ICreateDevEnum* devices = nullptr;
        IEnumMoniker* monikers = nullptr;
        int found = -1;
        HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices));
        if (devices && devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) == S_OK) {
            IMoniker* moniker = nullptr;
            for (int i = 0; found < 0 && monikers->Next(1, &moniker, nullptr) == S_OK; ++i) {
                IPropertyBag* bag = nullptr;
                VARIANT name;
                VariantInit(&name);
                if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) ==
                        S_OK &&
                    bag->Read(L"FriendlyName", &name, nullptr) == S_OK &&
                    std::wstring(name.bstrVal) == L"Fernwood test codec (testbed)")
                    found = i;
                VariantClear(&name);
                SafeRelease(bag);
                moniker->Release();
            }
            monikers->Release();
        }
        SafeRelease(devices);
        if (SUCCEEDED(com))
            CoUninitialize();
        return found;
    }
};

TEST_F(SurvivalE2E, TheEndOfTheWindowsSessionFinishesTheMovieAndKeepsTheSettings)
{
    ASSERT_EQ(S_OK, Card().Register());
    ViewerProcess viewer(Folder());
    HWND window = viewer.Window();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(ViewerProcess::Send(window, WM_COMMAND, IDM_ASPECT_4_3, 0));
    ASSERT_TRUE(ViewerProcess::Send(window, WM_COMMAND, IDM_RECORD, 0));
    ASSERT_TRUE(RecordsPast(100u << 20));
    DWORD_PTR answer = 0;
    ASSERT_TRUE(ViewerProcess::Send(window, WM_QUERYENDSESSION, 0, 0, &answer));
    EXPECT_EQ(TRUE, static_cast<BOOL>(answer)) << "the session is never vetoed";
    ASSERT_TRUE(ViewerProcess::Send(window, WM_ENDSESSION, TRUE, 0));
    // Windows may end the process as soon as WM_ENDSESSION has returned.
    viewer.Kill();

    EXPECT_FALSE(Exists(Folder() + "\\unfinished.txt")) << "the recording was finished";
    EXPECT_EQ(IDM_ASPECT_4_3, static_cast<int>(GetPrivateProfileIntA("menu", "aspect_ratio", 0, SettingsPath().c_str())));
    Kept kept = ReadKept(MoviePath());
    ASSERT_TRUE(kept.avi.valid);
    EXPECT_TRUE(kept.avi.has_audio);
    ASSERT_GE(kept.numbers.size(), 50u);
    EXPECT_EQ(static_cast<size_t>(kept.avi.video_frames), kept.numbers.size());
    for (size_t i = 1; i < kept.numbers.size(); ++i)
        EXPECT_LT(kept.numbers[i - 1], kept.numbers[i]) << "frame " << i << " in order";
}

TEST_F(SurvivalE2E, AKilledRecordingIsRepairedAtTheNextStart)
{
    uint64_t before = 0;
    ASSERT_NO_FATAL_FAILURE(RecordAndKill(40u << 20, &before));
    Kept kept = ExpectRepairedAtNextStart(before, true, true);
    EXPECT_GE(kept.numbers.size(), 20u);
}

TEST_F(SurvivalE2E, AKilledRecordingWithoutSoundIsRepaired)
{
    WriteSetting("menu", "audio_device", std::to_string(IDM_AUDIO_NONE).c_str());
    uint64_t before = 0;
    ASSERT_NO_FATAL_FAILURE(RecordAndKill(40u << 20, &before));
    ExpectRepairedAtNextStart(before, true, false);
}

TEST_F(SurvivalE2E, AKilledRecordingThroughTheTestCodecIsRepaired)
{
    int codec = TestCodecIndex();
    ASSERT_GE(codec, 0);
    WriteSetting("menu", "compressor", std::to_string(IDM_COMPRESSOR_FIRST + codec).c_str());
    uint64_t before = 0;
    // The codec's frames are small: a megabyte is some seconds in.
    ASSERT_NO_FATAL_FAILURE(RecordAndKill(1u << 20, &before));
    Kept kept = ExpectRepairedAtNextStart(before, false, true);
    EXPECT_EQ(MAKEFOURCC('F', 'W', 'R', 'L'), kept.avi.video.biCompression);
    EXPECT_GE(kept.avi.video_frames, 60);
}

// Past the first RIFF, where the file continues in OpenDML's AVIX lists.
TEST_F(SurvivalE2E, AKilledRecordingPastOneGibibyteIsRepairedWhole)
{
    uint64_t before = 0;
    ASSERT_NO_FATAL_FAILURE(RecordAndKill(uint64_t{1100} << 20, &before));
    Kept kept = ExpectRepairedAtNextStart(before, true, true);
    EXPECT_GE(kept.numbers.size(), 600u);
    CloseViewer();
    ASSERT_TRUE(MoveFileExA(MoviePath().c_str(), BesideTests("killed_recording.avi").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
}

// A volume of its own that fills up: the ctest fixture mounts it and names
// it in FERNWOOD_SMALL_VOLUME (a Unix path, Z: in the test prefix).
TEST_F(SurvivalE2E, ANearlyFullVolumeStopsTheRecordingWhileTheFileCanBeFinished)
{
    char unix_path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("FERNWOOD_SMALL_VOLUME", unix_path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        GTEST_SKIP() << "no small volume was mounted (FERNWOOD_SMALL_VOLUME)";
    std::string folder = std::string("Z:") + unix_path;
    for (char& c : folder)
        c = c == '/' ? '\\' : c;
    ULARGE_INTEGER free_bytes, total;
    ASSERT_TRUE(GetDiskFreeSpaceExA(folder.c_str(), &free_bytes, &total, nullptr));
    if (total.QuadPart > (uint64_t{4} << 30))
        GTEST_SKIP() << folder << " is no small volume: the mount was refused here";
    WriteSetting("menu", "path_capture", folder.c_str());
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 120000)) << "the recording stops by itself";
    EXPECT_EQ(1, MessagesSaying(L"空きが少なくなったため録画を停止しました")) << CaughtText();
    ASSERT_TRUE(GetDiskFreeSpaceExA(folder.c_str(), &free_bytes, nullptr, nullptr));
    EXPECT_GT(free_bytes.QuadPart, 0u) << "the multiplexer had room for the index";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\cap*.avi").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    FindClose(search);
    std::string movie = folder + "\\" + found.cFileName;
    Kept kept = ReadKept(movie);
    ASSERT_TRUE(kept.avi.valid);
    EXPECT_GE(kept.numbers.size(), 60u);
    EXPECT_EQ(static_cast<size_t>(kept.avi.video_frames), kept.numbers.size());
    CloseViewer();
    ASSERT_TRUE(MoveFileExA(movie.c_str(), BesideTests("full_volume_recording.avi").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
}

// A device that goes away 4 s into the recording and comes back 3 s later:
// told once per loss, the preview back by itself, the recording on in a new
// file each time.
struct Unplugging {
    const char* name;
    const wchar_t* device;  // its key under the card's configuration
    const wchar_t* said;
    int losses;
};

void PrintTo(const Unplugging& unplugging, std::ostream* out)
{
    *out << unplugging.name;
}

class UnpluggedE2E : public SurvivalE2E, public ::testing::WithParamInterface<Unplugging> {
protected:
    std::vector<std::string> Movies()
    {
        std::vector<std::string> movies;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\cap*.avi").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return movies;
        do
            movies.push_back(Folder() + "\\" + found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
        return movies;
    }
};

TEST_P(UnpluggedE2E, ADeviceUnpluggedWhileRecordingComesBackAndRecordsOnInANewFile)
{
    const Unplugging& unplugging = GetParam();
    bool video = std::wstring(unplugging.device) == TestCardSetup::Video(0);
    if (video) {
        Card().SetNumber(TestCardSetup::Video(0), L"LoseDeviceAfterFrames", 240);
        Card().SetNumber(TestCardSetup::Audio(0), L"LoseWithVideo", 0);
    } else {
        // Buffers of 20 ms.
        Card().SetNumber(TestCardSetup::Audio(0), L"LoseDeviceAfterBuffers", 200);
    }
    Card().SetNumber(unplugging.device, L"ReturnAfterMs", 3000);
    Card().SetNumber(unplugging.device, L"LoseDeviceTimes", unplugging.losses);
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    std::vector<std::string> cut;
    for (int loss = 0; loss < unplugging.losses; ++loss) {
        std::vector<std::string> movies = Movies();
        ASSERT_FALSE(movies.empty());
        // Named by the time it started.
        cut.push_back(*std::max_element(movies.begin(), movies.end()));
        ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 60000)) << "loss " << loss << " stops it";
        const wchar_t* device = unplugging.device;
        ASSERT_TRUE(PumpUntil([device] { return !TestCardSetup::Unplugged(device) || recording_state.recording == 1; },
                              60000));
        DWORD back = GetTickCount();
        ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 1; }, 60000)) << "the return resumes it";
        std::printf("the recording resumed %lu ms after the device was seen back\n", GetTickCount() - back);
    }
    EXPECT_EQ(L"録画停止　　　　Ctrl+S", MenuText(CommandMenu, IDM_RECORD));
    EXPECT_TRUE(PreviewRuns());
    ASSERT_TRUE(PumpUntil(
        [] {
            long recorded = 0;
            return capture_graph.dropped_frames &&
                   SUCCEEDED(capture_graph.dropped_frames->GetNumNotDropped(&recorded)) && recorded >= 120;
        },
        60000))
        << CaughtText();
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    // A card's sound filter may report before its picture's: either names the loss.
    EXPECT_EQ(unplugging.losses, MessagesSaying(L"が外されました")) << CaughtText();
    EXPECT_TRUE(MessageSaid(unplugging.said)) << CaughtText();
    EXPECT_EQ(unplugging.losses, static_cast<int>(CaughtMessageBoxes().size())) << CaughtText();

    std::vector<std::string> movies = Movies();
    ASSERT_EQ(static_cast<size_t>(unplugging.losses + 1), movies.size());
    for (const std::string& movie : cut) {
        Kept before = ReadKept(movie);
        ASSERT_TRUE(before.avi.valid) << movie;
        EXPECT_TRUE(before.avi.has_audio) << movie;
        ASSERT_FALSE(before.numbers.empty()) << movie;
        if (video)
            EXPECT_EQ(239u, before.numbers.back()) << "every frame up to the loss";
        else
            EXPECT_GE(before.numbers.size(), 120u) << movie;
    }
    for (const std::string& movie : movies) {
        if (std::find(cut.begin(), cut.end(), movie) != cut.end())
            continue;
        Kept after = ReadKept(movie);
        ASSERT_TRUE(after.avi.valid);
        EXPECT_TRUE(after.avi.has_audio);
        EXPECT_GE(after.numbers.size(), 120u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Losses, UnpluggedE2E,
    ::testing::Values(Unplugging{"TheCardAndItsSound", L"Video0", L"「Fernwood HD Test Card」が外されました", 1},
                      Unplugging{"TheCardTwiceInOneRun", L"Video0", L"「Fernwood HD Test Card」が外されました", 2},
                      Unplugging{"ItsSoundAlone", L"Audio0", L"「Fernwood HD Test Card Audio」が外されました", 1}),
    [](const ::testing::TestParamInfo<Unplugging>& info) { return std::string(info.param.name); });

}  // namespace
