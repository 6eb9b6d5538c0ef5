// CPU time of the viewer's process per second of preview and of recording
// at 720p59.94 and 1080p29.97, split by thread, and the share of it that our
// own per-frame work (the card's drawing, the UYVY decoder, the colour
// converter) accounts for, measured on the same frames in this process.
// FERNWOOD_CPU_SECONDS (5) sets the length of each measurement.
#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "capture/capture_graph.h"
#include "card_harness.h"
#include "record/recording.h"
#include "rgb_convert.h"
#include "state/command_menu.h"
#include "state/window.h"
#include "testbed/testcard/portable/test_pattern.h"
#include "uyvy_to_rgb.h"

namespace {

std::string Narrow(const wchar_t* text)
{
    char bytes[512] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

std::string SubtypeName(const GUID& subtype)
{
    if (subtype == MEDIASUBTYPE_UYVY) return "UYVY";
    if (subtype == MEDIASUBTYPE_RGB32) return "RGB32";
    if (subtype == MEDIASUBTYPE_RGB24) return "RGB24";
    if (subtype == MEDIASUBTYPE_RGB565) return "RGB565";
    if (subtype == MEDIASUBTYPE_RGB555) return "RGB555";
    if (subtype == MEDIASUBTYPE_YUY2) return "YUY2";
    if (subtype == MEDIASUBTYPE_PCM) return "PCM";
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", subtype.Data1);
    return text;
}

// Every connection of the graph: which filter hands what to which.
void PrintConnections()
{
    IEnumFilters* filters = nullptr;
    if (!capture_graph.graph || FAILED(capture_graph.graph->EnumFilters(&filters)))
        return;
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        FILTER_INFO info{};
        filter->QueryFilterInfo(&info);
        if (info.pGraph)
            info.pGraph->Release();
        IEnumPins* pins = nullptr;
        IPin* pin = nullptr;
        filter->EnumPins(&pins);
        while (pins && pins->Next(1, &pin, nullptr) == S_OK) {
            PIN_DIRECTION direction;
            IPin* peer = nullptr;
            AM_MEDIA_TYPE type{};
            if (pin->QueryDirection(&direction) == S_OK && direction == PINDIR_OUTPUT && pin->ConnectedTo(&peer) == S_OK &&
                pin->ConnectionMediaType(&type) == S_OK) {
                PIN_INFO to{};
                peer->QueryPinInfo(&to);
                FILTER_INFO to_filter{};
                if (to.pFilter) {
                    to.pFilter->QueryFilterInfo(&to_filter);
                    if (to_filter.pGraph)
                        to_filter.pGraph->Release();
                    to.pFilter->Release();
                }
                std::printf("    %s -> %s: %s\n", Narrow(info.achName).c_str(), Narrow(to_filter.achName).c_str(),
                            SubtypeName(type.subtype).c_str());
                FreeMediaTypeContents(type);
            }
            if (peer)
                peer->Release();
            pin->Release();
        }
        if (pins)
            pins->Release();
        filter->Release();
    }
    filters->Release();
}

// CPU ms of this thread per call of job, over at least half a second of CPU.
double CpuMsPerCall(const std::function<void()>& job)
{
    job();
    int calls = 0;
    ULONGLONG start = ThisThreadCpu(), used = 0;
    do {
        job();
        ++calls;
        used = ThisThreadCpu() - start;
    } while (used < 5000000 && calls < 2000);
    return used / 1e4 / calls;
}

// What our own filters cost per second at this frame size and rate, were
// each frame drawn, decoded to RGB32 and converted once.
void PrintOurWork(int width, int height, double fps)
{
    testcard::FrameLayout uyvy{testcard::PixelFormat::kUyvy, width, height, false};
    std::vector<uint8_t> frame(testcard::FrameBytes(uyvy)), copy(frame.size());
    std::vector<uint8_t> rgb(fernwood::DibStride(width, 32) * height), converted(rgb.size());
    uint32_t n = 1;
    double draw = CpuMsPerCall([&] { testcard::DrawTestFrame(uyvy, n++, 1000000, frame.data()); });
    double preview_copy = CpuMsPerCall([&] { std::memcpy(copy.data(), frame.data(), frame.size()); });
    fernwood::UyvyConversion conversion{width, height, fernwood::RgbLayout::kRgb32, true};
    double decode = CpuMsPerCall(
        [&] { fernwood::ConvertUyvyToRgb(conversion, frame.data(), frame.size(), rgb.data(), rgb.size()); });
    fernwood::PictureView view{fernwood::RgbLayout::kRgb32, fernwood::DibStride(width, 32), height, true, 0, 0, width,
                               height};
    fernwood::PictureView flipped = view;
    flipped.bottom_up = false;
    double convert = CpuMsPerCall([&] {
        fernwood::ConvertPicture(view, rgb.data(), rgb.size(), flipped, converted.data(), converted.size());
    });
    auto share = [fps](double ms) { return ms * fps / 10.0; };
    std::printf("  our per-frame work, CPU ms per frame and %% of one core at %.2f fps:\n", fps);
    std::printf("    %6.2f ms %5.1f %%  the card drawing a frame (test pattern)\n", draw, share(draw));
    std::printf("    %6.2f ms %5.1f %%  the card copying it for the preview pin\n", preview_copy, share(preview_copy));
    std::printf("    %6.2f ms %5.1f %%  the UYVY decoder to RGB32\n", decode, share(decode));
    std::printf("    %6.2f ms %5.1f %%  the colour converter, RGB32 turned over\n", convert, share(convert));
}

class CpuBench : public BenchTest {
protected:
    void Measure(UINT format, bool record, const char* label)
    {
        const DWORD seconds = BenchSetting("FERNWOOD_CPU_SECONDS", 5);
        StartShowing(format);
        ASSERT_TRUE(PreviewRuns());
        if (record) {
            SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
            ASSERT_EQ(1, recording_state.recording);
        }
        Pump(1000);  // past the start's own work
        const std::vector<ThreadCpu> before = SnapshotThreads();
        const ULONGLONG process_before = ProcessCpu();
        LARGE_INTEGER frequency, started, stopped;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&started);
        Pump(seconds * 1000);
        QueryPerformanceCounter(&stopped);
        const std::vector<ThreadCpu> after = SnapshotThreads();
        const ULONGLONG process_after = ProcessCpu();
        const double elapsed = static_cast<double>(stopped.QuadPart - started.QuadPart) / frequency.QuadPart;

        std::printf("CPU, %s: %.0f %% of one core in the viewer's process over %.1f s\n", label,
                    100.0 * (process_after - process_before) / 1e7 / elapsed, elapsed);
        PrintThreadShares(before, after, elapsed, CardStreamingThread());
        std::printf("  the graph:\n");
        PrintConnections();
        if (record)
            SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        const bool hd = format == IDM_RES_1080;
        PrintOurWork(hd ? 1920 : 1280, hd ? 1080 : 720, hd ? 30000.0 / 1001 : 60000.0 / 1001);
        std::fflush(stdout);
    }
};

TEST_F(CpuBench, Preview720p)
{
    Measure(IDM_RES_720, false, "preview 720p59.94");
}

TEST_F(CpuBench, Preview1080p)
{
    Measure(IDM_RES_1080, false, "preview 1080p29.97 (half size)");
}

TEST_F(CpuBench, Recording720p)
{
    Measure(IDM_RES_720, true, "recording 720p59.94 with its preview");
}

TEST_F(CpuBench, Recording1080p)
{
    Measure(IDM_RES_1080, true, "recording 1080p29.97 with its preview (half size)");
}

}  // namespace
