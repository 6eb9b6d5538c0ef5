// How fast the picture comes up: a cold start of fernwoodview.exe as its own
// process, from CreateProcess to its window and to the card's first frame
// on the screen (median of FERNWOOD_STARTUP_RUNS, 10); then the same start
// inside this process, split into the steps that can be timed from outside
// the viewer's code.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "bench_support.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "card_harness.h"
#include "state/window.h"

namespace {

struct Search {
    DWORD process;
    HWND found;
};

HWND VisibleWindowOf(DWORD process)
{
    Search search{process, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            char name[32] = "";
            GetClassNameA(window, name, sizeof name);
            if (owner == s->process && IsWindowVisible(window) && std::string(name) == "FERNWOODVIEW") {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ViewerPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string own(path, length);
    return own.substr(0, own.find_last_of('\\') + 1) + "fernwoodview.exe";
}

// Which of the viewer's start-up steps the window thread is in, sampled
// every millisecond: the thread is suspended, its live stack copied, and the
// return addresses on it looked up in this program's function table; the
// innermost step found gets the sample. The viewer's code stays untouched.
class StepSampler {
public:
    struct Step {
        const char* name;
        void (*function)();
        int samples;
    };

    explicit StepSampler(std::vector<Step> steps) : steps_(std::move(steps))
    {
        for (Step& step : steps_)
            begins_.push_back(reinterpret_cast<DWORD64>(step.function));
        HMODULE exe = GetModuleHandleA(nullptr);
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(exe);
        auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(exe) + dos->e_lfanew);
        image_begin_ = reinterpret_cast<DWORD64>(exe);
        image_end_ = image_begin_ + nt->OptionalHeader.SizeOfImage;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &target_, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        // The committed part of a stack runs from the current frame up to its base.
        MEMORY_BASIC_INFORMATION region{};
        VirtualQuery(&region, &region, sizeof region);
        stack_base_ = reinterpret_cast<DWORD64>(region.BaseAddress) + region.RegionSize;
        thread_ = std::thread([this] { Run(); });
    }
    ~StepSampler() { Stop(); }

    void Stop()
    {
        if (!thread_.joinable())
            return;
        stop_ = true;
        thread_.join();
        CloseHandle(target_);
    }
    const std::vector<Step>& Steps() const { return steps_; }
    int Samples() const { return samples_; }
    // Where the thread was (the module of its instruction) in the samples outside the steps.
    const std::map<std::string, int>& OtherModules() const { return other_modules_; }
    int Other() const { return other_; }

private:
    void Run()
    {
        std::vector<DWORD64> copy(64 * 1024);
        while (!stop_) {
            Sleep(1);
            if (SuspendThread(target_) == static_cast<DWORD>(-1))
                continue;
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            size_t words = 0;
            if (GetThreadContext(target_, &context) && context.Rsp < stack_base_) {
                words = std::min<size_t>(copy.size(), (stack_base_ - context.Rsp) / 8);
                std::memcpy(copy.data(), reinterpret_cast<const void*>(context.Rsp), words * 8);
            }
            ResumeThread(target_);
            ++samples_;
            int step = Innermost(context.Rip, copy.data(), words);
            if (step >= 0)
                ++steps_[static_cast<size_t>(step)].samples;
            else
                ++other_, ++other_modules_[ModuleName(context.Rip)];
        }
    }

    static std::string ModuleName(DWORD64 address)
    {
        HMODULE module = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(address), &module))
            return "outside any module";
        char path[MAX_PATH] = "";
        GetModuleFileNameA(module, path, MAX_PATH);
        const char* name = std::strrchr(path, '\\');
        return name ? name + 1 : path;
    }

    int StepOf(DWORD64 address)
    {
        if (address < image_begin_ || address >= image_end_)
            return -1;
        DWORD64 base = 0;
        PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(address, &base, nullptr);
        if (!entry)
            return -1;
        DWORD64 begin = base + entry->BeginAddress;
        // A pointer to a function (as in our own list of steps) is no return address.
        if (address == begin)
            return -1;
        for (size_t i = 0; i < begins_.size(); ++i)
            if (begins_[i] == begin)
                return static_cast<int>(i);
        return -1;
    }

    int Innermost(DWORD64 pc, const DWORD64* stack, size_t words)
    {
        int step = StepOf(pc);
        for (size_t i = 0; i < words && step < 0; ++i)
            step = StepOf(stack[i]);
        return step;
    }

    std::vector<Step> steps_;
    std::vector<DWORD64> begins_;
    DWORD64 image_begin_ = 0, image_end_ = 0, stack_base_ = 0;
    HANDLE target_ = nullptr;
    std::atomic<bool> stop_{false};
    int samples_ = 0, other_ = 0;
    std::map<std::string, int> other_modules_;
    std::thread thread_;
};

class StartupBench : public CardTest {};

// Cards that make the viewer fall back from the first entry it looks at.
struct StartCard {
    const char* name;
    const wchar_t* capabilities;  // null: the card's default list
    const wchar_t* format_type;   // null: VIDEOINFOHEADER
};
const StartCard kStartCards[] = {
    {"the plain card", nullptr, nullptr},
    {"YUY2 only", L"YUY2 1280x720, YUY2 1920x1080", nullptr},
    {"VIDEOINFOHEADER2 only", nullptr, L"VideoInfo2"},
    {"exactly 60.00 fps", L"UYVY 1280x720 166667-166667, UYVY 1920x1080 333333-333333", nullptr},
};

TEST_F(StartupBench, ColdStartOfTheViewerProcess)
{
    const DWORD runs = BenchSetting("FERNWOOD_STARTUP_RUNS", 10);
    const std::string exe = ViewerPath();
    std::printf("cold start of fernwoodview.exe, from CreateProcess:\n");
    for (const StartCard& card : kStartCards) {
        testcard::TestCardSetup setup;
        if (card.capabilities)
            setup.SetText(testcard::TestCardSetup::Video(0), L"Capabilities", card.capabilities);
        if (card.format_type)
            setup.SetText(testcard::TestCardSetup::Video(0), L"FormatType", card.format_type);
        ASSERT_EQ(S_OK, setup.Register());
        std::vector<double> window_ms, picture_ms;
        int failed = 0;
        for (DWORD run = 0; run < runs; ++run) {
            STARTUPINFOA startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process{};
            std::string command = "\"" + exe + "\"";
            const double started = Now();
            ASSERT_TRUE(CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                       Folder().c_str(), &startup, &process))
                << exe;
            HWND window = nullptr;
            double shown = 0, picture = 0;
            while (Now() - started < 30000 && !picture) {
                if (!window && (window = VisibleWindowOf(process.dwProcessId)) != nullptr)
                    shown = Now() - started;
                uint32_t number = 0;
                if (window && GrabFrameNumber(window, &number))
                    picture = Now() - started;
                Sleep(2);
            }
            if (window)
                window_ms.push_back(shown);
            if (picture)
                picture_ms.push_back(picture);
            else
                ++failed;
            if (window)
                PostMessageA(window, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0)
                TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        std::printf("  %s:\n", card.name);
        std::printf("    window visible: %s\n", Describe(Summarize(window_ms), "ms").c_str());
        std::printf("    card's picture on the screen: %s\n", Describe(Summarize(picture_ms), "ms").c_str());
        if (failed)
            std::printf("    %d runs showed no picture within 30 s\n", failed);
        std::fflush(stdout);
    }
}

TEST_F(StartupBench, InProcessSteps)
{
    ASSERT_EQ(S_OK, Card().Register());
    const double t0 = Now();
    CreateWindowOnly();
    const double window = Now();
    StepSampler sampler({{"listing the devices", EnumerateCaptureDevices, 0},
                         {"listing the compressors", EnumerateCompressors, 0},
                         {"selecting the compressor", reinterpret_cast<void (*)()>(SelectCompressor), 0},
                         {"connecting the preview", ConnectPreview, 0},
                         {"the video device (without its preview)", reinterpret_cast<void (*)()>(AddVideoDevice), 0},
                         {"the audio device with its rate probe", reinterpret_cast<void (*)()>(AddAudioDevice), 0}});
    StartCaptureGraph();
    const double graph = Now();
    sampler.Stop();
    // The graph's clock against the performance counter, to place the card's first frame.
    const double graph_offset = GraphNow() / 1e4 - Now();
    ReplayDisplayState();
    const double replayed = Now();
    uint32_t number = 0;
    ASSERT_TRUE(PumpUntil([&] { return GrabFrameNumber(main_window, &number); }, 30000));
    const double on_screen = Now();
    std::vector<testcard::TestCardFrameDeparture> departures = CardDepartures();
    double first_departure = 0, first_frame_end = 0;
    if (!departures.empty()) {
        first_departure = departures.front().delivered / 1e4 - graph_offset;
        first_frame_end = departures.front().frame_end / 1e4 - graph_offset;
    }
    std::printf("start-up inside the process, ms from its beginning:\n");
    std::printf("  %7.1f window created and shown\n", window - t0);
    std::printf("  %7.1f graph built and running (devices, compressors, video and audio device, preview)\n",
                graph - t0);
    std::printf("  %7.1f window state replayed\n", replayed - t0);
    const double per_sample = sampler.Samples() ? (graph - window) / sampler.Samples() : 0;
    std::printf("  building the graph, sampled every %.1f ms (%d samples):\n", per_sample, sampler.Samples());
    for (const StepSampler::Step& step : sampler.Steps())
        std::printf("    %7.1f ms  %s\n", step.samples * per_sample, step.name);
    std::printf("    %7.1f ms  the rest (COM, the graph, the renderers and filters it adds, running it)\n",
                sampler.Other() * per_sample);
    for (const auto& module : sampler.OtherModules())
        if (module.second * per_sample >= 20)
            std::printf("              %7.1f ms of it in %s\n", module.second * per_sample, module.first.c_str());
    if (!departures.empty()) {
        std::printf("  %7.1f the card's first frame complete\n", first_frame_end - t0);
        std::printf("  %7.1f the card's first frame delivered\n", first_departure - t0);
    }
    std::printf("  %7.1f first frame on the screen (frame %u)\n", on_screen - t0, number);
    std::fflush(stdout);
}

}  // namespace

namespace {

// What each renderer costs to create and set up as the viewer sets it up
// (windowless, clipped to the window), in a process where neither was made
// before: the graph building above is mostly this under Wine.
TEST_F(StartupBench, RendererCreationCold)
{
    CreateWindowOnly();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    struct Renderer {
        const char* name;
        const CLSID* clsid;
        bool vmr9;
    };
    for (const Renderer& r : {Renderer{"VMR9", &CLSID_VideoMixingRenderer9, true},
                              Renderer{"VMR7", &CLSID_VideoMixingRenderer, false}}) {
        const double t0 = Now();
        IBaseFilter* filter = nullptr;
        CoCreateInstance(*r.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        const double created = Now();
        if (!filter) {
            std::printf("%s: not created\n", r.name);
            continue;
        }
        if (r.vmr9) {
            IVMRFilterConfig9* config = nullptr;
            IVMRWindowlessControl9* windowless = nullptr;
            if (filter->QueryInterface(IID_IVMRFilterConfig9, reinterpret_cast<void**>(&config)) == S_OK) {
                config->SetRenderingMode(VMR9Mode_Windowless);
                config->Release();
            }
            if (filter->QueryInterface(IID_IVMRWindowlessControl9, reinterpret_cast<void**>(&windowless)) == S_OK) {
                windowless->SetVideoClippingWindow(main_window);
                windowless->Release();
            }
        } else {
            IVMRFilterConfig* config = nullptr;
            IVMRWindowlessControl* windowless = nullptr;
            if (filter->QueryInterface(IID_IVMRFilterConfig, reinterpret_cast<void**>(&config)) == S_OK) {
                config->SetRenderingMode(VMRMode_Windowless);
                config->Release();
            }
            if (filter->QueryInterface(IID_IVMRWindowlessControl, reinterpret_cast<void**>(&windowless)) == S_OK) {
                windowless->SetVideoClippingWindow(main_window);
                windowless->Release();
            }
        }
        const double set_up = Now();
        filter->Release();
        std::printf("renderer %s, cold: created in %.1f ms, windowless and clipped to the window in %.1f ms more\n",
                    r.name, created - t0, set_up - created);
    }
    CoUninitialize();
    std::fflush(stdout);
}

}  // namespace
