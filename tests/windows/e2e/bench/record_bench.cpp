// Prints what a long uncompressed recording of the test card achieves:
// frames written and lost, audio against video, and the rate written.
// FERNWOOD_BENCH_SECONDS sets the length (60 by default).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "av_sync.h"
#include "capture/capture_graph.h"
#include "card_harness.h"
#include "record/recording.h"
#include "state/command_menu.h"
#include "state/window.h"

namespace {

std::string Utf8(const std::wstring& text)
{
    char bytes[512] = "";
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

class RecordBench : public CardTest {
protected:
    void Measure(UINT format, const char* label)
    {
        const char* seconds_text = std::getenv("FERNWOOD_BENCH_SECONDS");
        const DWORD seconds = seconds_text ? static_cast<DWORD>(std::atoi(seconds_text)) : 60;
        StartWithCard();
        SendMessageA(main_window, WM_COMMAND, format, 0);
        SendMessageA(main_window, WM_COMMAND, IDM_SIZE_HALF, 0);  // a 1080-line window would not fit the screen
        ASSERT_TRUE(PreviewRuns());

        LARGE_INTEGER frequency, started, stopped;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&started);
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        for (const std::wstring& text : CaughtMessageBoxes())
            std::printf("  the viewer said: %s\n", Utf8(text).c_str());
        ClearCaughtMessageBoxes();
        ASSERT_EQ(1, recording_state.recording);
        DWORD until = GetTickCount() + seconds * 1000;
        PumpUntil([until] { return static_cast<LONG>(GetTickCount() - until) >= 0; }, seconds * 1000 + 1000);
        long written = 0, dropped = 0;
        capture_graph.dropped_frames->GetNumNotDropped(&written);
        capture_graph.dropped_frames->GetNumDropped(&dropped);
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        QueryPerformanceCounter(&stopped);
        ASSERT_EQ(0, recording_state.recording);
        double elapsed = static_cast<double>(stopped.QuadPart - started.QuadPart) / frequency.QuadPart;

        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\cap*.avi").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search) << "no movie";
        FindClose(search);
        std::string path = Folder() + "\\" + found.cFileName;
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) << path;
        double bytes = static_cast<double>(static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32 |
                                           attributes.nFileSizeLow);
        AviSummary avi;
        AvSync sync = MeasureAvSync(path, &avi);
        DeleteFileA(path.c_str());

        // The rate the disk had to sustain: the bytes over the time they cover.
        double covered = avi.video_timing.rate
                             ? static_cast<double>(avi.video_slots) * avi.video_timing.scale / avi.video_timing.rate
                             : elapsed;
        std::printf("record %s: %.1f s from command to command, %.2f s in the file; card delivered %ld, lost %ld;"
                    " file %d frames in %d slots, %.0f MB, %.1f MB/s\n",
                    label, elapsed, covered, written, dropped, avi.video_frames, avi.video_slots, bytes / 1e6,
                    bytes / 1e6 / covered);
        if (avi.has_audio)
            std::printf("  audio %lu Hz, %.2f s; %d flashes, %d clicks, %d pairs: click - flash median %.1f ms "
                        "(%.1f .. %.1f)\n",
                        avi.audio.nSamplesPerSec, static_cast<double>(avi.audio_bytes) / avi.audio.nAvgBytesPerSec,
                        sync.flashes, sync.clicks, sync.pairs, sync.median_ms, sync.min_ms, sync.max_ms);
        else
            std::printf("  no audio in the file; %d flashes\n", sync.flashes);
        std::fflush(stdout);
    }
};

TEST_F(RecordBench, At720p5994) { Measure(IDM_RES_720, "1280x720 59.94 UYVY"); }
TEST_F(RecordBench, At1080p2997) { Measure(IDM_RES_1080, "1920x1080 29.97 UYVY"); }

}  // namespace
