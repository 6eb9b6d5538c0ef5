#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "state/timer_ids.h"
#include "record/record_timer.h"
#include "record/recording.h"
#include "still/still_picture.h"
#include "av_sync.h"
#include "avi_reader.h"
#include "card_harness.h"
#include "screen_frame.h"
#include "testbed/testcard/portable/test_pattern.h"
#include "testbed/testcard/testcard_ids.h"

namespace {

using testcard::TestCardSetup;

class RecordE2E : public CardTest {
protected:
    // Moves a movie beside the test program for check-recording, which
    // reads it with ffprobe once this process has ended.
    static void KeepForFfprobe(const std::string& movie, const char* kept_name = "viewer_recording.avi")
    {
        char kept[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, kept, MAX_PATH);
        ASSERT_TRUE(length > 0 && length < MAX_PATH);
        std::string path(kept, length);
        path = path.substr(0, path.find_last_of('\\') + 1) + kept_name;
        ASSERT_TRUE(MoveFileExA(movie.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            << GetLastError();
    }

    // The one movie of the test, named cap + 14 digits of local time + .avi.
    std::string MovieFile()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\cap*.avi").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return "";
        FindClose(search);
        return found.cFileName;
    }

    // Starts the viewer on the card and a recording; `name` is its movie.
    void StartRecordingOnTheCard(std::string* name)
    {
        StartWithCard();
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ASSERT_EQ(1, recording_state.recording);
        *name = MovieFile();
    }

    // A movie that is finished and holds every frame up to `last`, in order.
    void ExpectEveryFrameUpTo(const std::string& name, uint32_t last, bool with_sound)
    {
        AviSummary avi;
        std::vector<uint32_t> numbers = FrameNumbers(Folder() + "\\" + name, &avi);
        ASSERT_TRUE(avi.valid) << "the file is finished";
        EXPECT_EQ(with_sound, avi.has_audio);
        ASSERT_FALSE(numbers.empty());
        EXPECT_EQ(last, numbers.back()) << "every frame up to the fault";
        EXPECT_EQ(static_cast<size_t>(avi.video_frames), numbers.size());
    }

    // The frame numbers of a UYVY 1280x720 movie, in file order.
    static std::vector<uint32_t> FrameNumbers(const std::string& path, AviSummary* avi)
    {
        std::vector<uint32_t> numbers;
        *avi = ReadAvi(path, [&](const uint8_t* bytes, uint32_t size) {
            testcard::FrameLayout layout{testcard::PixelFormat::kUyvy, 1280, 720, false};
            uint32_t number = 0;
            if (size >= 1843200 && testcard::ReadFrameNumber(bytes, layout, 2560, &number))
                numbers.push_back(number);
        });
        return numbers;
    }

    // The major type of each of the multiplexer's streams, in stream order
    // (its connected inputs, as IConfigAviMux numbers them).
    static std::vector<GUID> MuxStreams()
    {
        std::vector<GUID> streams;
        ForEachPin(capture_graph.avi_mux, [&](IPin* pin) {
            PIN_DIRECTION direction;
            AM_MEDIA_TYPE type{};
            if (pin->QueryDirection(&direction) != S_OK || direction != PINDIR_INPUT ||
                pin->ConnectionMediaType(&type) != S_OK)
                return;
            streams.push_back(type.majortype);
            FreeMediaTypeContents(type);
        });
        return streams;
    }

    static LONG MasterStream()
    {
        IConfigAviMux* config = nullptr;
        LONG master = -2;
        if (capture_graph.avi_mux &&
            capture_graph.avi_mux->QueryInterface(IID_IConfigAviMux, reinterpret_cast<void**>(&config)) == S_OK) {
            config->GetMasterStream(&master);
            config->Release();
        }
        return master;
    }

    // The testbed's codec: the platform's own ones under Wine take no pictures from the card.
    void ChooseTestCodec()
    {
        int codec = -1;
        for (int i = 0; i < compressor_count; ++i)
            if (MenuText(CommandMenu, IDM_COMPRESSOR_FIRST + i) == L"Fernwood test codec (testbed)")
                codec = i;
        ASSERT_NE(-1, codec);
        SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_FIRST + codec, 0);
        ASSERT_EQ(codec, compressor_index);
    }

    // Records until the counters report `frames` recorded frames.
    void RecordFrames(long frames, DWORD timeout_ms = 60000)
    {
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ASSERT_EQ(1, recording_state.recording);
        ASSERT_TRUE(PumpUntil(
            [frames] {
                long recorded = 0;
                return capture_graph.dropped_frames &&
                       SUCCEEDED(capture_graph.dropped_frames->GetNumNotDropped(&recorded)) && recorded >= frames;
            },
            timeout_ms));
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ASSERT_EQ(0, recording_state.recording);
    }
};

TEST_F(RecordE2E, ARecordingHoldsEveryFrameInOrder)
{
    StartWithCard();
    ASSERT_TRUE(PreviewRuns());
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    EXPECT_EQ(L"録画停止　　　　Ctrl+S", MenuText(CommandMenu, IDM_RECORD));
    EXPECT_EQ(11u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(3u, IsMenuChecked(IDM_RES_1080));
    EXPECT_EQ(11u, IsMenuChecked(IDM_VIDEO_DEVICE_FIRST));
    EXPECT_EQ(3u, IsMenuChecked(IDM_CAPTURE_PATH));
    EXPECT_EQ(3u, IsMenuChecked(IDM_STILL));
    EXPECT_EQ(L"", MenuText(CommandMenu, IDM_RECORDED_FRAMES));
    ASSERT_TRUE(PumpUntil([] {
        long recorded = 0;
        capture_graph.dropped_frames->GetNumNotDropped(&recorded);
        return recorded >= 120 && MenuText(CommandMenu, IDM_RECORDED_FRAMES) != L"";
    }, 60000));
    std::vector<GUID> streams = MuxStreams();
    ASSERT_EQ(2u, streams.size());
    EXPECT_TRUE(streams[0] == MEDIATYPE_Video && streams[1] == MEDIATYPE_Audio) << "the picture first";
    EXPECT_EQ(1, MasterStream()) << "the sound's stream sets the file's clock";
    EXPECT_EQ(0u, MenuText(CommandMenu, IDM_RECORDED_FRAMES).rfind(L"録画フレーム数　", 0));
    EXPECT_EQ(0u, MenuText(CommandMenu, IDM_DROPPED_FRAMES).rfind(L"欠落フレーム数　", 0));
    long dropped = -1;
    capture_graph.dropped_frames->GetNumDropped(&dropped);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);

    EXPECT_EQ(0, recording_state.recording);
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(0u, IsMenuChecked(IDM_RES_1080));
    EXPECT_EQ(0u, IsMenuChecked(IDM_CAPTURE_PATH));
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(IDM_RECORDED_FRAMES));
    EXPECT_TRUE(PreviewRuns());

    std::string name = MovieFile();
    ASSERT_EQ(21u, name.size()) << name;
    EXPECT_EQ(std::string::npos, name.substr(3, 14).find_first_not_of("0123456789")) << name;
    std::vector<uint32_t> numbers;
    AviSummary avi = ReadAvi(Folder() + "\\" + name, [&](const uint8_t* bytes, uint32_t size) {
        testcard::FrameLayout layout{testcard::PixelFormat::kUyvy, 1280, 720, false};
        uint32_t number = 0;
        if (size >= 1843200 && testcard::ReadFrameNumber(bytes, layout, 2560, &number))
            numbers.push_back(number);
    });
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(MAKEFOURCC('U', 'Y', 'V', 'Y'), avi.video.biCompression);
    EXPECT_EQ(1280, avi.video.biWidth);
    EXPECT_EQ(720, avi.video.biHeight);
    ASSERT_GE(avi.video_frames, 120);
    ASSERT_EQ(static_cast<size_t>(avi.video_frames), numbers.size()) << "every frame carries its number";
    int gaps = 0;
    for (size_t i = 1; i < numbers.size(); ++i)
        gaps += static_cast<int>(numbers[i] - numbers[i - 1] - 1);
    EXPECT_EQ(dropped, gaps) << "frames missing from the file are exactly the ones the card dropped";
    ASSERT_TRUE(avi.has_audio) << "the sound is recorded with the picture";
    EXPECT_EQ(WAVE_FORMAT_PCM, avi.audio.wFormatTag);
    EXPECT_EQ(2, avi.audio.nChannels);
    EXPECT_EQ(16, avi.audio.wBitsPerSample);
    EXPECT_EQ(48000u, avi.audio.nSamplesPerSec);
    EXPECT_TRUE(CaughtMessageBoxes().empty());
    AvSync sync = MeasureAvSync(Folder() + "\\" + name, nullptr);
    EXPECT_GE(sync.pairs, 1) << sync.flashes << " flashes, " << sync.clicks << " clicks";
    // The card clicks as it flashes: in the file they stay within a frame of each other.
    EXPECT_LE(sync.min_ms, 17.0);
    EXPECT_GE(sync.max_ms, -17.0);
    KeepForFfprobe(Folder() + "\\" + name);
}

TEST_F(RecordE2E, TheLockGreysEveryRewiringItemAndTheStopGivesEachBack)
{
    Card().SetText(testcard::TestCardSetup::Audio(0), L"Rates", L"48000");
    StartWithCard();
    ASSERT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K)) << "the device takes 48 kHz only";
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    const UINT checked[] = {IDM_VIDEO_DEVICE_FIRST, IDM_AUDIO_DEVICE_FIRST, IDM_AUDIO_48K, IDM_MODE_VMR9,
                            IDM_RES_720, IDM_COMPRESSOR_NONE};
    const UINT unchecked[] = {IDM_AUDIO_NONE, IDM_AUDIO_44K, IDM_MODE_VMR7, IDM_RES_1080, IDM_NO_PREVIEW,
                              IDM_AUTO_STOP, IDM_COMPRESSOR_FIRST};
    for (UINT id : checked)
        EXPECT_EQ(11u, IsMenuChecked(id)) << id;
    for (UINT id : unchecked)
        EXPECT_EQ(3u, IsMenuChecked(id)) << id;
    // Setting what is already set reads the state back without changing it.
    const EXECUTION_STATE awake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
    EXPECT_EQ(awake, SetThreadExecutionState(awake)) << "the PC stays awake while recording";
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(0, recording_state.recording);
    EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS), SetThreadExecutionState(ES_CONTINUOUS))
        << "and may sleep once nothing is due";
    for (UINT id : checked)
        EXPECT_EQ(8u, IsMenuChecked(id)) << id;
    for (UINT id : unchecked)
        EXPECT_EQ(id == IDM_AUDIO_44K ? 3u : 0u, IsMenuChecked(id)) << id << ": as it was before the recording";
}

TEST_F(RecordE2E, AChosenCompressorCodesTheStreamAndNoneLeavesItRaw)
{
    StartWithCard();
    ChooseTestCodec();
    if (HasFatalFailure())
        return;
    RecordFrames(60);
    std::string name = MovieFile();
    AviSummary coded = ReadAvi(Folder() + "\\" + name, [](const uint8_t*, uint32_t) {});
    ASSERT_TRUE(coded.valid);
    EXPECT_EQ(MAKEFOURCC('F', 'W', 'R', 'L'), coded.video.biCompression);
    EXPECT_GE(coded.video_frames, 60);
    ASSERT_TRUE(DeleteFileA((Folder() + "\\" + name).c_str()));

    SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_NONE, 0);
    ASSERT_EQ(-1, compressor_index);
    RecordFrames(60);
    AviSummary raw = ReadAvi(Folder() + "\\" + MovieFile(), [](const uint8_t*, uint32_t) {});
    EXPECT_EQ(MAKEFOURCC('U', 'Y', 'V', 'Y'), raw.video.biCompression);
    IBaseFilter* codec_filter = nullptr;
    EXPECT_EQ(S_OK, capture_graph.graph->FindFilterByName(L"ビデオコンプレッサ", &codec_filter));
    if (codec_filter) {
        EXPECT_EQ(0, ConnectedPins(codec_filter)) << "uncompressed goes straight to the multiplexer";
        codec_filter->Release();
    }
}

// The local time `minutes` from now.
SYSTEMTIME MinutesFromNow(int minutes)
{
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    ULARGE_INTEGER at{{utc.dwLowDateTime, utc.dwHighDateTime}};
    at.QuadPart += static_cast<ULONGLONG>(minutes) * 60 * 10000000;
    utc = FILETIME{at.LowPart, at.HighPart};
    SYSTEMTIME time{};
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &time);
    return time;
}

// The schedule alone, on the viewer's own timers: a start in the next minute
// and a stop in the one after give a recording of about a minute.
TEST_F(RecordE2E, AScheduleStartsARecordingInItsMinuteAndStopsItInTheNext)
{
    const SYSTEMTIME start = MinutesFromNow(1), stop = MinutesFromNow(2);
    for (auto when : {std::make_pair("timer_start", start), std::make_pair("timer_stop", stop)}) {
        WriteSetting(when.first, "month", std::to_string(when.second.wMonth).c_str());
        WriteSetting(when.first, "day", std::to_string(when.second.wDay).c_str());
        WriteSetting(when.first, "hour", std::to_string(when.second.wHour).c_str());
        WriteSetting(when.first, "minute", std::to_string(when.second.wMinute).c_str());
    }
    StartWithCard();
    // A minute of raw pictures would be 6 GB: the testbed's codec keeps it small.
    ChooseTestCodec();
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, recording_state.recording);
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 1; }, 90000)) << "the start minute came";
    // Named for the moment it started: cap, then YYYYMMDDhhmm.
    std::string name = MovieFile();
    ASSERT_EQ(21u, name.size()) << name;
    EXPECT_EQ(start.wHour * 100 + start.wMinute, std::stoi(name.substr(11, 4))) << name;
    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 90000)) << "the stop minute came";
    EXPECT_EQ(L"停止　設定無し", MenuText(CommandMenu, IDM_TIMER_STOP)) << "the stop's tick ended it";
    EXPECT_TRUE(CaughtMessageBoxes().empty()) << CaughtText();

    AviSummary avi = ReadAvi(Folder() + "\\" + name, [](const uint8_t*, uint32_t) {});
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(MAKEFOURCC('F', 'W', 'R', 'L'), avi.video.biCompression);
    ASSERT_TRUE(avi.has_audio);
    double video_seconds = avi.video_slots * 166833 / 1e7;
    double sound_seconds = static_cast<double>(avi.audio_bytes) / avi.audio.nAvgBytesPerSec;
    std::printf("%d frames in %d slots (%.1f s), %.1f s of sound\n", avi.video_frames, avi.video_slots, video_seconds,
                sound_seconds);
    // The ticks come every 10 s, the stop's from the start on: 50 to 70 s,
    // less the time the graph takes to start. Lost frames are the machine's.
    EXPECT_GT(video_seconds, 40.0);
    EXPECT_LT(video_seconds, 70.0);
    EXPECT_GT(avi.video_frames, 0);
    EXPECT_GT(sound_seconds, 0.0);
}

TEST_F(RecordE2E, WithoutPreviewTheWindowIsBlackAndEverythingComesBack)
{
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    EXPECT_EQ(1, recording_state.no_preview_active);
    EXPECT_EQ(11u, IsMenuChecked(IDM_NO_PREVIEW));
    EXPECT_EQ(3u, IsMenuChecked(IDM_FRAME_RATE));
    EXPECT_EQ(L"平均 - fps", MenuText(CommandMenu, IDM_FRAME_RATE));
    // Every grab over 30 recorded frames reads the window, and finds it black.
    int grabs = 0, unread = 0, shown = 0;
    EXPECT_TRUE(PumpUntil(
        [&] {
            bool black = false;
            ++grabs;
            if (!ReadClientIsBlack(main_window, &black))
                ++unread;
            else if (!black)
                ++shown;
            long recorded = 0;
            return capture_graph.dropped_frames && SUCCEEDED(capture_graph.dropped_frames->GetNumNotDropped(&recorded)) &&
                   recorded >= 30;
        },
        60000));
    EXPECT_GE(grabs, 2);
    EXPECT_EQ(0, unread);
    EXPECT_EQ(0, shown) << "no picture while recording without preview";
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    EXPECT_EQ(0, recording_state.no_preview_active);
    EXPECT_EQ(8u, IsMenuChecked(IDM_NO_PREVIEW));
    EXPECT_EQ(0u, IsMenuChecked(IDM_FRAME_RATE));
    EXPECT_TRUE(PreviewRuns());
}

// The filter the tee's live-sound output feeds: every connected tee output
// whose peer is not the multiplexer.
IBaseFilter* LiveSoundRenderer()
{
    IBaseFilter* found = nullptr;
    IEnumPins* pins = nullptr;
    if (!capture_graph.pin_tee || capture_graph.pin_tee->EnumPins(&pins) != S_OK)
        return nullptr;
    IPin* pin = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        IPin* peer = nullptr;
        if (pin->QueryDirection(&direction) == S_OK && direction == PINDIR_OUTPUT && pin->ConnectedTo(&peer) == S_OK) {
            PIN_INFO info{};
            peer->QueryPinInfo(&info);
            if (info.pFilter && info.pFilter != capture_graph.avi_mux)
                found = info.pFilter;
            else
                SafeRelease(info.pFilter);
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    return found;
}

// An audio renderer that runs with the graph: the tee hands it every buffer.
bool PlaysSound(IBaseFilter* renderer)
{
    IBasicAudio* audio = nullptr;
    if (renderer->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&audio)) != S_OK)
        return false;
    audio->Release();
    FILTER_STATE state = State_Stopped;
    return renderer->GetState(5000, &state) == S_OK && state == State_Running;
}

TEST_F(RecordE2E, AfterARecordingWithoutPreviewTheSoundReachesItsRendererAgain)
{
    StartWithCard();
    IBaseFilter* renderer = LiveSoundRenderer();
    ASSERT_NE(nullptr, renderer);
    EXPECT_TRUE(PlaysSound(renderer));
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    for (int recording = 1; recording <= 2; ++recording) {
        RecordFrames(30);
        IBaseFilter* after = LiveSoundRenderer();
        EXPECT_EQ(renderer, after) << "the same renderer, not the multiplexer's free input, after " << recording;
        if (after) {
            EXPECT_TRUE(PlaysSound(after)) << recording;
        }
        SafeRelease(after);
        ASSERT_TRUE(DeleteFileA((Folder() + "\\" + MovieFile()).c_str()));
    }
    SafeRelease(renderer);
    CloseViewer();
}

TEST_F(RecordE2E, ClosingTheWindowWhileRecordingKeepsEveryFrameUpToTheClose)
{
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    long recorded = 0;
    ASSERT_TRUE(PumpUntil([&recorded] {
        capture_graph.dropped_frames->GetNumNotDropped(&recorded);
        return recorded >= 90;
    }, 60000));
    std::string name = MovieFile();
    CloseViewer();

    std::vector<uint32_t> numbers;
    AviSummary avi = ReadAvi(Folder() + "\\" + name, [&](const uint8_t* bytes, uint32_t size) {
        testcard::FrameLayout layout{testcard::PixelFormat::kUyvy, 1280, 720, false};
        uint32_t number = 0;
        if (size >= 1843200 && testcard::ReadFrameNumber(bytes, layout, 2560, &number))
            numbers.push_back(number);
    });
    ASSERT_TRUE(avi.valid) << name;
    EXPECT_GE(avi.video_frames, recorded) << "the frames counted before the close are all in the file";
    ASSERT_EQ(static_cast<size_t>(avi.video_frames), numbers.size());
    for (size_t i = 1; i < numbers.size(); ++i)
        ASSERT_LT(numbers[i - 1], numbers[i]) << "in order at " << i;
    EXPECT_TRUE(avi.has_audio);
}

TEST_F(RecordE2E, AutoStopEndsTheRecordingAtTheFirstDroppedFrame)
{
    Card().SetText(testcard::TestCardSetup::Video(0), L"DropFrames", L"90");
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 60000));
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    EXPECT_EQ(L"欠落フレームを検知したので録画を停止しました 　　", CaughtMessageBoxes().back());
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUTO_STOP));
}

int MovieCount(const std::string& folder)
{
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\cap*.avi").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do
        ++count;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

TimerSpec Now()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TimerSpec{now.wMonth, now.wDay, now.wHour, now.wMinute};
}

// The notice's modal loop dispatches the schedule's ticks: a stop falling due
// then must not start a second recording that nothing would stop.
TEST_F(RecordE2E, AScheduledStopDuringTheAutoStopNoticeStartsNothing)
{
    Card().SetText(testcard::TestCardSetup::Video(0), L"DropFrames", L"90");
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    record_timer.stop = Now();
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    int recording_during_notice = -1;
    SetMessageBoxHook([&](const std::wstring& text) {
        if (text.find(L"欠落フレーム") == std::wstring::npos)
            return;
        record_timer.stop = Now();  // due now, whatever minute it has become
        SendMessageA(main_window, WM_TIMER, TIMER_SCHEDULE_STOP, 0);
        recording_during_notice = recording_state.recording;
    });
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }, 60000));
    EXPECT_EQ(0, recording_during_notice);
    Pump(500);
    EXPECT_EQ(0, recording_state.recording);
    EXPECT_EQ(1, MovieCount(Folder()));
}

TEST_F(RecordE2E, TheAutoStopNoticeShowsTheCursorInFullscreenAndHidesItAgain)
{
    Card().SetText(testcard::TestCardSetup::Video(0), L"DropFrames", L"90");
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_SIZE_FULLSCREEN, 0);
    auto cursor_count = [] {
        int lowered = ShowCursor(FALSE);
        ShowCursor(TRUE);
        return lowered + 1;
    };
    ASSERT_TRUE(PumpUntil([&] { return cursor_count() < 0; })) << "hidden in fullscreen";
    int shown_during_notice = -1;
    SetMessageBoxHook([&](const std::wstring&) { shown_during_notice = cursor_count(); });
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }, 60000));
    EXPECT_GE(shown_during_notice, 0) << "the cursor shows while the notice is open";
    EXPECT_TRUE(PumpUntil([&] { return cursor_count() < 0; })) << "and hides again after it";
}

TEST_F(RecordE2E, ASecondRecordingAfterAFormatSwitchCountsAndHasTheNewFormat)
{
    StartWithCard();
    RecordFrames(30);
    SendMessageA(main_window, WM_COMMAND, IDM_RES_1080, 0);
    ASSERT_EQ(8u, IsMenuChecked(IDM_RES_1080));
    std::string first = MovieFile();
    ASSERT_TRUE(MoveFileA((Folder() + "\\" + first).c_str(), (Folder() + "\\first.avi.done").c_str()));
    RecordFrames(30);
    AviSummary avi = ReadAvi(Folder() + "\\" + MovieFile(), [](const uint8_t*, uint32_t) {});
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(1920, avi.video.biWidth);
    EXPECT_EQ(1080, avi.video.biHeight);
    EXPECT_EQ(MAKEFOURCC('U', 'Y', 'V', 'Y'), avi.video.biCompression);
    EXPECT_GE(avi.video_frames, 30);
}

TEST_F(RecordE2E, WithoutAnAudioDeviceARecordingIsPictureOnlyAndSaysNothing)
{
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_AUDIO_NONE, 0);
    RecordFrames(30);
    AviSummary avi = ReadAvi(Folder() + "\\" + MovieFile(), [](const uint8_t*, uint32_t) {});
    ASSERT_TRUE(avi.valid);
    EXPECT_FALSE(avi.has_audio);
    EXPECT_GE(avi.video_frames, 30);
    EXPECT_TRUE(CaughtMessageBoxes().empty());
}

// What the card's audio pin delivered since the graph last ran.
struct AudioDelivery {
    LONG buffers = 0, largest = 0, smallest = 0, lost = 0;
};

AudioDelivery CardAudioDelivery()
{
    AudioDelivery delivery;
    testcard::ITestCardAudioStats* stats = nullptr;
    if (!capture_graph.audio_capture ||
        capture_graph.audio_capture->QueryInterface(testcard::IID_ITestCardAudioStats,
                                                    reinterpret_cast<void**>(&stats)) != S_OK)
        return delivery;
    stats->GetDeliveryStats(&delivery.buffers, &delivery.largest, &delivery.smallest);
    stats->GetLostBuffers(&delivery.lost);
    stats->Release();
    return delivery;
}

// Like Windows' audio capture filters, the card sends half a second at a time
// unless asked: the live sound would trail the picture by that much, and the
// multiplexer would wait on it.
// The audio renderer must not be the graph's clock: as the clock it would
// never match its rate to the card's sound, and the live sound would drift.
// The graph's clock as its identity, with a reference the caller releases.
static IUnknown* GraphClock()
{
    IMediaFilter* media = nullptr;
    IReferenceClock* clock = nullptr;
    capture_graph.graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&media));
    if (media)
        media->GetSyncSource(&clock);
    SafeRelease(media);
    IUnknown* identity = nullptr;
    if (clock)
        clock->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    SafeRelease(clock);
    return identity;
}

static bool IsAFiltersOwn(IUnknown* clock)
{
    bool own = false;
    CardTest::ForEachFilter([&](IBaseFilter* filter) {
        IUnknown* identity = nullptr;
        filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        own = own || (identity && identity == clock);
        SafeRelease(identity);
    });
    return own;
}

TEST_F(RecordE2E, TheSoundComesInShortBuffersAndTwentySecondsKeepEveryFrameInStep)
{
    StartWithCard();
    IUnknown* clock = GraphClock();
    ASSERT_NE(nullptr, clock) << "the graph runs on a clock";
    EXPECT_FALSE(IsAFiltersOwn(clock)) << "the card has no clock: the system clock, not the renderer's";
    ASSERT_TRUE(PumpUntil([] { return CardAudioDelivery().buffers >= 10; }));
    AudioDelivery preview = CardAudioDelivery();
    const LONG asked = 48000 * 4 / 50;  // 20 ms
    EXPECT_LE(preview.largest, asked) << "bytes per buffer while previewing";
    EXPECT_GT(preview.smallest, 0);

    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_EQ(1, recording_state.recording);
    // One system clock for every run: a clock let go can hang in its Release under Wine.
    IUnknown* recording_clock = GraphClock();
    EXPECT_EQ(clock, recording_clock) << "the re-wired graph runs on the clock it ran on";
    SafeRelease(recording_clock);
    SafeRelease(clock);
    ASSERT_TRUE(PumpUntil([] {
        long recorded = 0;
        return SUCCEEDED(capture_graph.dropped_frames->GetNumNotDropped(&recorded)) && recorded >= 1200;
    }, 120000));
    long recorded = 0, dropped = 0;
    capture_graph.dropped_frames->GetNumNotDropped(&recorded);
    capture_graph.dropped_frames->GetNumDropped(&dropped);
    AudioDelivery recording = CardAudioDelivery();
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    EXPECT_LE(recording.largest, asked) << "bytes per buffer while recording";
    EXPECT_EQ(0, recording.lost) << "no sound lost for want of buffers";

    // How many frames a busy machine loses is not the point (the benchmarks
    // print it): every frame the card delivered must be in the file, in its slot.
    AviSummary avi;
    AvSync sync = MeasureAvSync(Folder() + "\\" + MovieFile(), &avi);
    ASSERT_TRUE(avi.valid);
    ASSERT_TRUE(avi.has_audio);
    EXPECT_GE(avi.video_frames, recorded) << dropped << " lost by the card";
    EXPECT_GE(avi.video_slots, 1200);
    EXPECT_GE(sync.pairs, 18) << sync.flashes << " flashes, " << sync.clicks << " clicks";
    EXPECT_LE(sync.max_ms, 17.0) << "every click within a frame of its flash";
    EXPECT_GE(sync.min_ms, -17.0);
}

// A card's sound runs on a crystal of its own: 1000 ppm is 60 ms a minute,
// nearly four frames at 59.94. The sound is the file's master stream, so the
// multiplexer stretches the picture's frame time to it (strh dwScale) and
// the sound keeps its 48 kHz: every click stays within a frame of its flash.
class RecordDriftE2E : public RecordE2E {
protected:
    void RecordAMinuteOfDriftingSound(UINT format, bool test_codec, int32_t sound_ppm)
    {
        Card().SetNumber(TestCardSetup::Audio(0), L"ClockPpm", static_cast<DWORD>(sound_ppm));
        StartWithCard();
        if (format == IDM_RES_1080)
            SendMessageA(main_window, WM_COMMAND, IDM_RES_1080, 0);
        if (test_codec)
            ChooseTestCodec();
        if (HasFatalFailure())
            return;
        const double frame_s = format == IDM_RES_1080 ? 1001.0 / 30000 : 1001.0 / 60000;
        RecordFrames(static_cast<long>(60 / frame_s), 180000);
        AviSummary avi;
        AvSync sync = MeasureAvSync(Folder() + "\\" + MovieFile(), &avi);
        ASSERT_TRUE(avi.valid);
        ASSERT_TRUE(avi.has_audio);
        EXPECT_EQ(test_codec ? MAKEFOURCC('F', 'W', 'R', 'L') : MAKEFOURCC('U', 'Y', 'V', 'Y'),
                  avi.video.biCompression);
        std::printf("sound %+d ppm: %d frames in %d slots, frame %u/%u s; click minus flash "
                    "%.1f..%.1f ms (median %.1f) over %d pairs\n",
                    sound_ppm, avi.video_frames, avi.video_slots, avi.video_timing.scale,
                    avi.video_timing.rate, sync.min_ms, sync.max_ms, sync.median_ms, sync.pairs);
        EXPECT_GE(sync.pairs, 55) << sync.flashes << " flashes, " << sync.clicks << " clicks";
        EXPECT_LE(sync.max_ms, frame_s * 1000) << "every click within a frame of its flash, to the end";
        EXPECT_GE(sync.min_ms, -frame_s * 1000);
        ASSERT_GT(avi.video_timing.rate, 0u);
        ASSERT_GT(avi.audio_timing.scale, 0u);
        double stretch = avi.video_timing.scale / static_cast<double>(avi.video_timing.rate) / frame_s - 1;
        EXPECT_NEAR(sound_ppm * 1e-6, stretch, 200e-6) << "the picture's frame time follows the sound";
        EXPECT_DOUBLE_EQ(48000.0, avi.audio_timing.rate / static_cast<double>(avi.audio_timing.scale))
            << "the master keeps its rate";
    }
};

TEST_F(RecordDriftE2E, SoundFastAt720Uncompressed) { RecordAMinuteOfDriftingSound(IDM_RES_720, false, 1000); }
TEST_F(RecordDriftE2E, SoundSlowAt1080Uncompressed) { RecordAMinuteOfDriftingSound(IDM_RES_1080, false, -1000); }
TEST_F(RecordDriftE2E, SoundSlowAt720ThroughTheTestCodec) { RecordAMinuteOfDriftingSound(IDM_RES_720, true, -1000); }
TEST_F(RecordDriftE2E, SoundFastAt1080ThroughTheTestCodec) { RecordAMinuteOfDriftingSound(IDM_RES_1080, true, 1000); }

TEST_F(RecordE2E, ACardWithItsSoundPinFirstRecordsItsPicture)
{
    Card().SetNumber(TestCardSetup::Video(0), L"AudioPin", 1);
    StartWithCard();
    ASSERT_TRUE(PreviewRuns());
    ASSERT_NO_FATAL_FAILURE(RecordFrames(60));
    AviSummary avi;
    std::vector<uint32_t> numbers = FrameNumbers(Folder() + "\\" + MovieFile(), &avi);
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(MAKEFOURCC('U', 'Y', 'V', 'Y'), avi.video.biCompression);
    EXPECT_EQ(1280, avi.video.biWidth);
    EXPECT_EQ(720, avi.video.biHeight);
    EXPECT_GE(numbers.size(), 60u) << "the picture, not the card's sound pin";
    EXPECT_TRUE(avi.has_audio);
}

TEST_F(RecordE2E, AutoStopOnACardWithoutStatisticsIsSaidOnce)
{
    Card().SetNumber(TestCardSetup::Video(0), L"DroppedFrames", 0);
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    const wchar_t* blind = L"欠落フレームを報告しません";
    for (int recording = 0; recording < 2; ++recording) {
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ASSERT_EQ(1, recording_state.recording);
        ASSERT_TRUE(PumpUntil([&] { return MessageSaid(blind); }));
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }
    EXPECT_EQ(1, MessagesSaying(blind)) << "once per device, not per recording";
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(IDM_RECORDED_FRAMES)) << "no counters that would stay at zero";
}

TEST_F(RecordE2E, AnUnpluggedCardStopsTheRecordingAndKeepsWhatWasWritten)
{
    // Counted from each run: the recording's run loses the card 4 s in.
    Card().SetNumber(TestCardSetup::Video(0), L"LoseDeviceAfterFrames", 240);
    std::string name;
    ASSERT_NO_FATAL_FAILURE(StartRecordingOnTheCard(&name));
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 60000)) << "the recording stops by itself";
    ASSERT_TRUE(PumpUntil([] { return MessageSaid(L"「Fernwood HD Test Card」が外されました"); })) << "and says why";
    EXPECT_EQ(L"録画開始　　　　Ctrl+R", MenuText(CommandMenu, IDM_RECORD));
    ExpectEveryFrameUpTo(name, 239, true);
    CloseViewer();
    KeepForFfprobe(Folder() + "\\" + name, "unplugged_recording.avi");
}

// A driver that tells of the card pulled out by failing its stream rather
// than by a removal: the recording stops as at any stream error, whole.
class StreamErrorE2E : public RecordE2E, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(StreamErrorE2E, ACardWhoseStreamFailsStopsTheRecordingAndKeepsWhatWasWritten)
{
    Card().SetNumber(TestCardSetup::Video(0), L"LoseDeviceAfterFrames", 240);
    Card().SetText(TestCardSetup::Video(0), L"LossEvent", GetParam());
    std::string name;
    ASSERT_NO_FATAL_FAILURE(StartRecordingOnTheCard(&name));
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 60000)) << "the recording stops by itself";
    ASSERT_TRUE(PumpUntil([] { return MessageSaid(L"録画中にエラーが起きたため録画を停止しました"); })) << CaughtText();
    EXPECT_EQ(1, MessagesSaying(L"録画中にエラーが起きたため録画を停止しました")) << CaughtText();
    EXPECT_FALSE(MessageSaid(L"が外されました")) << "the driver told of no removal";
    EXPECT_EQ(L"録画開始　　　　Ctrl+R", MenuText(CommandMenu, IDM_RECORD));
    AviSummary avi;
    std::vector<uint32_t> numbers = FrameNumbers(Folder() + "\\" + name, &avi);
    ASSERT_TRUE(avi.valid) << "the file is finished";
    EXPECT_TRUE(avi.has_audio);
    ASSERT_FALSE(numbers.empty());
    // The last frames before the fault, less any the card lost on a busy machine.
    EXPECT_LE(numbers.back(), 239u);
    EXPECT_GE(numbers.back(), 230u);
    EXPECT_EQ(static_cast<size_t>(avi.video_frames), numbers.size());
}

INSTANTIATE_TEST_SUITE_P(LossEvents, StreamErrorE2E, ::testing::Values(L"ErrorAbortEx", L"StreamErrorStopped"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             return std::string(info.param, info.param + lstrlenW(info.param));
                         });

// The File Writer stand-in fails its writes past a size, as a full disk does.
class FullDisk {
public:
    explicit FullDisk(DWORD bytes)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"FailAfterBytes", REG_DWORD, &bytes, sizeof bytes);
    }
    ~FullDisk() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"FailAfterBytes"); }

private:
    static constexpr const wchar_t* kKey = L"Software\\FernwoodTestbed\\FileWriter";
};

TEST_F(RecordE2E, AFullDiskStopsTheRecordingAndSaysSo)
{
    FullDisk disk(64 * 1024 * 1024);
    std::string name;
    ASSERT_NO_FATAL_FAILURE(StartRecordingOnTheCard(&name));
    ASSERT_TRUE(PumpUntil([] { return recording_state.recording == 0; }, 60000));
    ASSERT_TRUE(PumpUntil([] { return MessageSaid(L"ディスクの空き"); }));
    EXPECT_FALSE(MessageSaid(L"キャプチャデバイス")) << "the disk, not the card";
    EXPECT_EQ(L"録画開始　　　　Ctrl+R", MenuText(CommandMenu, IDM_RECORD));
    WIN32_FILE_ATTRIBUTE_DATA file;
    ASSERT_TRUE(GetFileAttributesExA((Folder() + "\\" + name).c_str(), GetFileExInfoStandard, &file));
    EXPECT_LE(file.nFileSizeLow, 64u * 1024 * 1024);
    AviSummary avi;
    EXPECT_GE(FrameNumbers(Folder() + "\\" + name, &avi).size(), 20u);
    EXPECT_TRUE(avi.valid) << "the writer stopped short of the index: the file is repaired at once";
    EXPECT_TRUE(PreviewRuns()) << "the picture goes on";
}

// Closing while the fault's message is open must neither crash nor lose the file.
TEST_F(RecordE2E, ClosingWhileTheFaultMessageIsOpenStillFinishesTheFile)
{
    Card().SetNumber(TestCardSetup::Video(0), L"LoseDeviceAfterFrames", 240);
    std::string name;
    ASSERT_NO_FATAL_FAILURE(StartRecordingOnTheCard(&name));
    bool closed = false;
    SetMessageBoxHook([&](const std::wstring& text) {
        if (closed || text.find(L"が外されました") == std::wstring::npos)
            return;
        closed = true;
        // The box disables the window's own close box: another program
        // (a task manager's end task) sends the close.
        SendMessageA(main_window, WM_CLOSE, 0, 0);
    });
    ASSERT_TRUE(PumpUntil([&] { return closed && quit_code_ >= 0; }, 60000))
        << "closed " << closed << ", quit " << quit_code_ << ", boxes " << CaughtMessageBoxes().size()
        << ", recording " << recording_state.recording << ", window " << IsWindow(main_window);
    EXPECT_FALSE(IsWindow(main_window));
    UnregisterClassA("FERNWOODVIEW", GetModuleHandleA(nullptr));
    ExpectEveryFrameUpTo(name, 239, true);
}

TEST_F(RecordE2E, AStartWithoutACardIsRefusedAndUndone)
{
    Card().SetNumber(L"", L"VideoDevices", 0);
    StartWithCard();
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));  // the missing-card notice
    ClearCaughtMessageBoxes();
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    EXPECT_NE(std::wstring::npos, CaughtMessageBoxes()[0].find(L"録画を開始できませんでした"));
    EXPECT_EQ(0, recording_state.recording);
    EXPECT_EQ(0, recording_state.no_preview_active);
    EXPECT_EQ(L"録画開始　　　　Ctrl+R", MenuText(CommandMenu, IDM_RECORD));
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(8u, IsMenuChecked(IDM_NO_PREVIEW));
    EXPECT_EQ(0u, IsMenuChecked(IDM_CAPTURE_PATH));
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(IDM_RECORDED_FRAMES));
    EXPECT_EQ("", MovieFile()) << "no movie file is left behind";
}

TEST_F(RecordE2E, AStillWithoutPicturesIsReportedWithinTheBound)
{
    Card().SetNumber(L"", L"VideoDevices", 0);
    StartWithCard();
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    ClearCaughtMessageBoxes();
    const DWORD asked = GetTickCount();
    SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    const DWORD reported = GetTickCount() - asked;
    EXPECT_NE(std::wstring::npos, CaughtMessageBoxes()[0].find(L"映像が届いていません"));
    // The card gets five seconds for its first frame (less a tick of
    // GetTickCount's 16 ms on Windows), and the wait then gives up.
    EXPECT_GE(last_still_times.wait, 4984.0);
    EXPECT_LT(last_still_times.wait, 10000.0);
    EXPECT_GE(reported, 4984u);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((Folder() + "\\pic*.bmp").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "nothing is written";
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    OAFilterState state = -1;
    capture_graph.media_control->GetState(5000, &state);
    EXPECT_EQ(State_Running, state) << "the graph runs again";
}

}  // namespace
