// How far the live sound trails the picture because of the audio buffers:
// a buffer's first sample reaches the renderer only once the whole buffer is
// full, so the sound is at least one buffer late. Printed for the viewer's
// own graph, and for the same card connected the way a program that asks for
// nothing gets it.
#include <windows.h>

#include <cstdio>

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "card_harness.h"
#include "testbed/testcard/testcard_ids.h"

namespace {

struct Delivery {
    LONG buffers = 0, largest = 0, smallest = 0;
    double bytes_per_ms = 0;
};

// The rate the card's pin is connected at.
double BytesPerMs(IBaseFilter* audio)
{
    double rate = 0;
    IEnumPins* pins = nullptr;
    IPin* pin = nullptr;
    if (audio->EnumPins(&pins) == S_OK && pins->Next(1, &pin, nullptr) == S_OK) {
        AM_MEDIA_TYPE type{};
        if (pin->ConnectionMediaType(&type) == S_OK) {
            if (type.pbFormat && type.cbFormat >= sizeof(WAVEFORMATEX))
                rate = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->nAvgBytesPerSec / 1000.0;
            FreeMediaTypeContents(type);
        }
        pin->Release();
    }
    SafeRelease(pins);
    return rate;
}

Delivery Read(IBaseFilter* audio)
{
    Delivery d;
    d.bytes_per_ms = BytesPerMs(audio);
    testcard::ITestCardAudioStats* stats = nullptr;
    if (audio->QueryInterface(testcard::IID_ITestCardAudioStats, reinterpret_cast<void**>(&stats)) == S_OK) {
        stats->GetDeliveryStats(&d.buffers, &d.largest, &d.smallest);
        stats->Release();
    }
    return d;
}

void Print(const char* label, const Delivery& d)
{
    double per_ms = d.bytes_per_ms > 0 ? d.bytes_per_ms : 1;
    std::printf("live sound, %s: %ld buffers of %ld..%ld bytes at %.0f bytes/s: the sound trails by %.1f..%.1f ms\n",
                label, d.buffers, d.smallest, d.largest, d.bytes_per_ms * 1000, d.smallest / per_ms, d.largest / per_ms);
    std::fflush(stdout);
}

// The card's audio rendered as the platform does it when nothing is asked.
Delivery UnnegotiatedDelivery()
{
    Delivery d;
    IGraphBuilder* graph = nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    IBaseFilter* audio = nullptr;
    IMoniker* moniker = FindDeviceMoniker(CLSID_AudioInputDeviceCategory, 0);
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     reinterpret_cast<void**>(&builder));
    if (moniker && graph && builder &&
        SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&audio)))) {
        builder->SetFiltergraph(graph);
        graph->AddFilter(audio, L"audio");
        builder->RenderStream(nullptr, &MEDIATYPE_Audio, audio, nullptr, nullptr);
        IMediaControl* control = nullptr;
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        control->Run();
        ViewerTest::PumpUntil([&] { return Read(audio).buffers >= 6; }, 10000);
        d = Read(audio);
        control->Stop();
        control->Release();
    }
    SafeRelease(audio);
    SafeRelease(moniker);
    SafeRelease(builder);
    SafeRelease(graph);
    return d;
}

class AudioBench : public CardTest {};

TEST_F(AudioBench, LiveSoundDelayFromTheAudioBuffers)
{
    StartWithCard();
    ASSERT_NE(nullptr, capture_graph.audio_capture);
    ASSERT_TRUE(PumpUntil([] { return Read(capture_graph.audio_capture).buffers >= 100; }, 20000));
    Print("the viewer's graph", Read(capture_graph.audio_capture));
    Print("the card's defaults", UnnegotiatedDelivery());
}

}  // namespace
