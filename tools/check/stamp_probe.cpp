#include "stamp_probe.h"

#include <dshow.h>
#include <mmreg.h>

#include <mutex>

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "still/sample_grabber.h"
#include "tools/check/portable/report_text.h"

struct ISampleGrabberCB : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE BufferCB(double sample_time, BYTE* buffer, long length) = 0;
};

namespace {

const IID kIidSampleGrabberCB = {0x0579154A, 0x2B53, 0x4994, {0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85}};

// Lives on the stack of ProbeStamps, which stops the graph before it returns.
class StampCollector : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == kIidSampleGrabberCB) {
            *out = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override
    {
        REFERENCE_TIME start = 0, end = 0;
        bool stamped = sample && SUCCEEDED(sample->GetTime(&start, &end));
        std::lock_guard<std::mutex> hold(lock_);
        if (stamped)
            starts_.push_back(start);
        else
            ++unstamped_;
        sizes_.push_back(sample ? sample->GetActualDataLength() : 0);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }

    void Take(std::vector<int64_t>* starts, std::vector<long>* sizes, int* unstamped)
    {
        std::lock_guard<std::mutex> hold(lock_);
        *starts = starts_;
        if (sizes)
            *sizes = sizes_;
        if (unstamped)
            *unstamped = unstamped_;
    }

private:
    std::mutex lock_;
    std::vector<int64_t> starts_;
    std::vector<long> sizes_;
    int unstamped_ = 0;
};

struct ProbeGraph {
    IGraphBuilder* graph = nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    std::vector<IUnknown*> held;
    StampProbe* probe = nullptr;

    HRESULT Note(const char* call, HRESULT hr)
    {
        probe->calls.push_back(std::string(call) + ": " + fernwood_check::HresultText(hr));
        return hr;
    }
    template <class T>
    T* Hold(T* object)
    {
        if (object)
            held.push_back(object);
        return object;
    }
    ~ProbeGraph()
    {
        for (auto it = held.rbegin(); it != held.rend(); ++it)
            (*it)->Release();
        SafeRelease(builder);
        SafeRelease(graph);
    }
};

IBaseFilter* BindDevice(ProbeGraph* g, REFCLSID category, int index, const wchar_t* name)
{
    ICreateDevEnum* devices = nullptr;
    IEnumMoniker* monikers = nullptr;
    IMoniker* moniker = nullptr;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices)) == S_OK &&
        devices->CreateClassEnumerator(category, &monikers, 0) == S_OK && monikers) {
        for (int i = 0; i <= index; ++i) {
            SafeRelease(moniker);
            if (monikers->Next(1, &moniker, nullptr) != S_OK)
                moniker = nullptr;
        }
    }
    SafeRelease(monikers);
    SafeRelease(devices);
    IBaseFilter* filter = nullptr;
    if (moniker)
        g->Note("IMoniker::BindToObject", moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                                reinterpret_cast<void**>(&filter)));
    SafeRelease(moniker);
    if (filter && FAILED(g->Note("IFilterGraph::AddFilter(device)", g->graph->AddFilter(filter, name))))
        SafeRelease(filter);
    return g->Hold(filter);
}

IBaseFilter* AddFilter(ProbeGraph* g, REFCLSID clsid, const wchar_t* name)
{
    IBaseFilter* filter = nullptr;
    if (FAILED(g->Note("CoCreateInstance(filter)", CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                                                    IID_IBaseFilter,
                                                                    reinterpret_cast<void**>(&filter)))) ||
        FAILED(g->Note("IFilterGraph::AddFilter", g->graph->AddFilter(filter, name))))
        SafeRelease(filter);
    return g->Hold(filter);
}

// The device's capture pin of `major` into a Sample Grabber that hands each sample to `collector`.
bool TapCapturePin(ProbeGraph* g, IBaseFilter* device, REFGUID major, StampCollector* collector)
{
    IBaseFilter* grabber = AddFilter(g, kClsidSampleGrabber, L"Sample Grabber");
    IBaseFilter* sink = AddFilter(g, kClsidNullRenderer, L"Null Renderer");
    ISampleGrabber* grab = nullptr;
    if (!grabber || !sink || grabber->QueryInterface(kIidSampleGrabber, reinterpret_cast<void**>(&grab)) != S_OK)
        return false;
    g->Hold(grab);
    grab->SetBufferSamples(FALSE);
    g->Note("ISampleGrabber::SetCallback", grab->SetCallback(collector, 0));
    HRESULT hr = g->Note("RenderStream(CAPTURE, device, Sample Grabber, Null Renderer)",
                         g->builder->RenderStream(&PIN_CATEGORY_CAPTURE, &major, device, grabber, sink));
    return SUCCEEDED(hr);
}

void WaitPumping(double seconds)
{
    DWORD started = GetTickCount();
    DWORD length = static_cast<DWORD>(seconds * 1000);
    MSG message;
    while (GetTickCount() - started < length) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

long AudioBytesPerSecond(ProbeGraph* g, IBaseFilter* device)
{
    IAMStreamConfig* config = nullptr;
    AM_MEDIA_TYPE* type = nullptr;
    long rate = 0;
    if (g->builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, device, IID_IAMStreamConfig,
                                  reinterpret_cast<void**>(&config)) == S_OK &&
        config && SUCCEEDED(config->GetFormat(&type)) && type && type->pbFormat &&
        type->cbFormat >= sizeof(WAVEFORMATEX))
        rate = static_cast<long>(reinterpret_cast<WAVEFORMATEX*>(type->pbFormat)->nAvgBytesPerSec);
    FreeMediaType(type);
    SafeRelease(config);
    return rate;
}

// The format and buffers the viewer asks of the device (48 kHz, else
// 44.1 kHz, in 20 ms buffers), so the buffers measured are the viewer's.
void AskForTheViewersSound(ProbeGraph* g, IBaseFilter* device)
{
    IAMStreamConfig* config = nullptr;
    if (g->builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, device, IID_IAMStreamConfig,
                                  reinterpret_cast<void**>(&config)) != S_OK ||
        !config) {
        SafeRelease(config);
        return;
    }
    if (FAILED(g->Note("SetPcmFormat(48000) (the viewer's)", SetPcmFormat(config, 48000))))
        g->Note("SetPcmFormat(44100) (the viewer's)", SetPcmFormat(config, 44100));
    SuggestShortAudioBuffers(g->builder, device, config);
    config->Release();
}

}  // namespace

StampProbe ProbeStamps(int video, int audio, int height, double seconds)
{
    StampProbe probe;
    // Before the graph, which holds them until it is released.
    StampCollector pictures, sound;
    ProbeGraph g;
    g.probe = &probe;
    g.Note("CoCreateInstance(CLSID_FilterGraph)",
           CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                            reinterpret_cast<void**>(&g.graph)));
    g.Note("CoCreateInstance(CLSID_CaptureGraphBuilder2)",
           CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                            reinterpret_cast<void**>(&g.builder)));
    if (!g.graph || !g.builder || FAILED(g.builder->SetFiltergraph(g.graph)))
        return probe;
    IBaseFilter* card = BindDevice(&g, CLSID_VideoInputDeviceCategory, video, L"video device");
    if (!card)
        return probe;
    IAMStreamConfig* config = nullptr;
    if (g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, card, IID_IAMStreamConfig,
                                 reinterpret_cast<void**>(&config)) == S_OK &&
        config) {
        FormatChoice choice = ChooseDeviceFormat(config, height);
        probe.nominal_interval = choice.interval;
        g.Note("SetCaptureFormat (the viewer's)", SetCaptureFormat(config, height));
    }
    SafeRelease(config);
    if (!TapCapturePin(&g, card, MEDIATYPE_Video, &pictures))
        return probe;
    IBaseFilter* microphone = audio >= 0 ? BindDevice(&g, CLSID_AudioInputDeviceCategory, audio, L"audio device")
                                         : nullptr;
    if (microphone)
        AskForTheViewersSound(&g, microphone);
    if (microphone && TapCapturePin(&g, microphone, MEDIATYPE_Audio, &sound))
        probe.audio_bytes_per_second = AudioBytesPerSecond(&g, microphone);
    IMediaControl* control = nullptr;
    if (g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)) != S_OK || !control)
        return probe;
    g.Hold(control);
    HRESULT hr = g.Note("IMediaControl::Run", control->Run());
    OAFilterState state = State_Stopped;
    probe.ran = SUCCEEDED(hr) && control->GetState(5000, &state) == S_OK && state == State_Running;
    if (probe.ran)
        WaitPumping(seconds);
    g.Note("IMediaControl::Stop", control->Stop());
    pictures.Take(&probe.video_starts, nullptr, &probe.video_unstamped);
    sound.Take(&probe.audio_starts, &probe.audio_sizes, nullptr);
    return probe;
}
