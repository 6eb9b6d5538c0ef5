// How long a user waits after a command: render mode, capture format, audio
// rate and audio device switched, and a recording started and stopped; from
// the command to the first frame after it on the screen, and the longest
// time the screen showed no new frame around it. A thread of its own reads
// the screen, since the command holds the window's thread.
// FERNWOOD_SWITCH_REPEATS (2) sets the repeats of each.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "card_harness.h"
#include "record/recording.h"
#include "state/command_menu.h"
#include "state/window.h"

namespace {

struct Seen {
    double at;
    uint32_t number;
};

// Reads the frame number off the screen as often as it can.
class ScreenWatcher {
public:
    explicit ScreenWatcher(HWND window) : window_(window), thread_([this] { Run(); }) {}
    ~ScreenWatcher()
    {
        stop_ = true;
        thread_.join();
    }
    std::vector<Seen> Changes()
    {
        std::lock_guard<std::mutex> hold(mutex_);
        return changes_;
    }

private:
    void Run()
    {
        while (!stop_) {
            uint32_t number = 0;
            if (GrabFrameNumber(window_, &number)) {
                std::lock_guard<std::mutex> hold(mutex_);
                if (changes_.empty() || changes_.back().number != number)
                    changes_.push_back({Now(), number});
            }
            Sleep(1);
        }
    }

    HWND window_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Seen> changes_;
    std::thread thread_;
};

class SwitchBench : public CardTest {
protected:
    struct Figures {
        std::vector<double> command_ms, first_frame_ms, gap_ms;
    };

    // One command, watched from a second before it to `after_ms` after it
    // returned; returns when it was sent.
    double Watch(UINT command, DWORD after_ms, Figures* figures)
    {
        ScreenWatcher watcher(main_window);
        Pump(1000);
        const double sent = Now();
        SendMessageA(main_window, WM_COMMAND, command, 0);
        const double returned = Now();
        Pump(after_ms);
        std::vector<Seen> changes = watcher.Changes();
        double gap = 0, first = -1;
        for (size_t i = 1; i < changes.size(); ++i) {
            if (changes[i].at >= sent - 50)
                gap = std::max(gap, changes[i].at - changes[i - 1].at);
            if (first < 0 && changes[i].at >= returned)
                first = changes[i].at - sent;
        }
        figures->command_ms.push_back(returned - sent);
        if (first >= 0)
            figures->first_frame_ms.push_back(first);
        figures->gap_ms.push_back(gap);
        return sent;
    }

    void Print(const char* label, const Figures& f)
    {
        std::printf("%s:\n", label);
        std::printf("  the command itself: %s\n", Describe(Summarize(f.command_ms), "ms").c_str());
        if (!f.first_frame_ms.empty())
            std::printf("  command to the next frame on the screen: %s\n",
                        Describe(Summarize(f.first_frame_ms), "ms").c_str());
        std::printf("  longest time without a new frame: %s\n", Describe(Summarize(f.gap_ms), "ms").c_str());
        std::fflush(stdout);
    }

    void Toggle(const char* label, UINT a, UINT b)
    {
        const DWORD repeats = BenchSetting("FERNWOOD_SWITCH_REPEATS", 2);
        Figures figures;
        for (DWORD i = 0; i < repeats; ++i) {
            Watch(a, 3000, &figures);
            Watch(b, 3000, &figures);
        }
        Print(label, figures);
    }

    void SetUp() override
    {
        CardTest::SetUp();
        StartWithCard();
        SendMessageA(main_window, WM_COMMAND, IDM_RES_720, 0);
        ASSERT_TRUE(PreviewRuns());
    }
};

TEST_F(SwitchBench, RenderMode)
{
    Toggle("switching the render mode (VMR7, VMR9), 720p", IDM_MODE_VMR7, IDM_MODE_VMR9);
}

TEST_F(SwitchBench, CaptureFormat)
{
    SendMessageA(main_window, WM_COMMAND, IDM_SIZE_HALF, 0);
    Toggle("switching the capture format (1080p29.97, 720p59.94), half size", IDM_RES_1080, IDM_RES_720);
}

TEST_F(SwitchBench, AudioRate)
{
    Toggle("switching the audio rate (44.1 kHz, 48 kHz)", IDM_AUDIO_44K, IDM_AUDIO_48K);
}

TEST_F(SwitchBench, AudioDevice)
{
    if (audio_device_count < 1) {
        std::printf("switching the audio device: the card has no audio device\n");
        return;
    }
    Toggle("switching the audio device (none, the card's)", IDM_AUDIO_NONE, IDM_AUDIO_DEVICE_FIRST);
}

TEST_F(SwitchBench, RecordingStartAndStop)
{
    const DWORD repeats = BenchSetting("FERNWOOD_SWITCH_REPEATS", 2);
    Figures start, stop;
    std::vector<double> to_first_frame;
    for (DWORD i = 0; i < repeats; ++i) {
        const double sent = Watch(IDM_RECORD, 0, &start);
        ASSERT_EQ(1, recording_state.recording);
        // The first frame the capture pin got into the recording chain.
        long written = 0;
        PumpUntil([&] { return capture_graph.dropped_frames &&
                               SUCCEEDED(capture_graph.dropped_frames->GetNumNotDropped(&written)) && written > 0; },
                  10000);
        if (written > 0)
            to_first_frame.push_back(Now() - sent);
        Pump(2000);
        Watch(IDM_RECORD, 2000, &stop);
        ASSERT_EQ(0, recording_state.recording);
    }
    Print("starting a recording", start);
    std::printf("  command to the first frame taken by the recording: %s\n",
                Describe(Summarize(to_first_frame), "ms").c_str());
    Print("stopping a recording", stop);
}

}  // namespace
