// The audio renderer stand-in as the prefix serves it for CLSID_DSoundRender.
#include <dshow.h>
#include <gtest/gtest.h>
#include <mmreg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <thread>
#include <vector>

#include "audio_renderer_stats.h"
#include "dshow_util.h"
#include "testbed/tests_support/stream_filters.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/testcard/portable/audio_tone.h"
#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/testcard_setup.h"

namespace fernwood::test {
namespace {

const int kRate = 48000;
// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
const GUID kFloatSubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::vector<HeardClick> Clicks(IBaseFilter* renderer) {
    ComPtr<ITestAudioRendererStats> stats;
    std::vector<HeardClick> clicks(4096);
    LONG copied = 0;
    if (renderer->QueryInterface(IID_ITestAudioRendererStats, stats.PutVoid()) != S_OK ||
        stats->GetClicks(static_cast<LONG>(clicks.size()), clicks.data(), &copied) != S_OK)
        copied = 0;
    clicks.resize(static_cast<size_t>(copied));
    return clicks;
}

RendererGlitches Glitches(IBaseFilter* renderer) {
    ComPtr<ITestAudioRendererStats> stats;
    RendererGlitches g = {};
    if (renderer->QueryInterface(IID_ITestAudioRendererStats, stats.PutVoid()) == S_OK) stats->GetGlitches(&g);
    return g;
}

// A graph with a PCM push source and the renderer; everything in it must go
// with its last reference at the end.
class AudioRendererGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
        source = new PushSource(PcmType(kRate, 2), kRate * 4);
        source_filter = ComPtr<IBaseFilter>::Adopt(source);
        graph->AddFilter(source_filter.Get(), L"audio");
        renderer = AddNewFilter(graph.Get(), CLSID_DSoundRender, L"renderer");
        ASSERT_TRUE(renderer);
    }
    void TearDown() override {
        if (!graph || !renderer) return;
        control->Stop();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        control.Reset();
        EXPECT_EQ(graph.Detach()->Release(), 0u);
        EXPECT_EQ(source_filter.Detach()->Release(), 0u);
        EXPECT_EQ(renderer.Detach()->Release(), 0u);
    }
    HRESULT Connect() { return graph->ConnectDirect(source->Output(), Input().Get(), nullptr); }
    ComPtr<IPin> Input() { return PinAt(renderer.Get(), PINDIR_INPUT, 0); }
    // `ms` of the card's tone starting at sample `first`, stamped by position.
    HRESULT PushTone(uint64_t first, int ms) {
        const uint32_t frames = static_cast<uint32_t>(kRate * ms / 1000);
        std::vector<int16_t> pcm(frames * 2);
        testcard::RenderTone(pcm.data(), frames, first, kRate, 60 * 166833);
        return source->Push(pcm.data(), pcm.size() * 2, testcard::SampleTime(first, kRate),
                            testcard::SampleTime(first + frames, kRate));
    }

    ComApartment com;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> renderer, source_filter;
    PushSource* source = nullptr;
};

TEST(AudioRenderer, IsTheStandInWithItsInterfacesAndExactReferenceCounts) {
    ComApartment com;
    ASSERT_TRUE(ServedByStandins(CLSID_DSoundRender));
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(Create(CLSID_DSoundRender, IID_IBaseFilter, &renderer), S_OK);
    EXPECT_EQ(RefCount(renderer.Get()), 1u);
    ExpectInterfaces(renderer.Get(),
                     {&IID_IAMClockSlave, &IID_IAMFilterMiscFlags, &IID_IBaseFilter, &IID_IBasicAudio, &IID_IDispatch,
                      &IID_IMediaFilter, &IID_IPersist, &IID_IReferenceClock, &IID_IUnknown},
                     {&IID_IAMDirectSound, &IID_IKsPropertySet, &IID_IMediaPosition, &IID_IMediaSeeking,
                      &IID_IMemInputPin, &IID_IPin, &IID_IQualProp, &IID_IVideoWindow},
                     "filter");
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(renderer->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid()), S_OK);
    EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER));
    flags.Reset();

    EXPECT_EQ(PinIds(renderer.Get()), std::vector<std::wstring>{L"Audio Input pin (rendered)"});
    ComPtr<IPin> input = PinAt(renderer.Get(), PINDIR_INPUT, 0);
    ASSERT_TRUE(input);
    EXPECT_EQ(RefCount(renderer.Get()), 2u);
    ExpectInterfaces(input.Get(), {&IID_IMemInputPin, &IID_IPin, &IID_IUnknown},
                     {&IID_IKsPropertySet, &IID_IMediaSeeking, &IID_IAsyncReader}, "input");
    ComPtr<IMemInputPin> mem;
    ASSERT_EQ(input->QueryInterface(IID_IMemInputPin, mem.PutVoid()), S_OK);
    EXPECT_EQ(mem->ReceiveCanBlock(), S_OK);
    mem.Reset();
    input.Reset();
    EXPECT_EQ(RefCount(renderer.Get()), 1u);

    ComPtr<IAMClockSlave> slave;
    ASSERT_EQ(renderer->QueryInterface(IID_IAMClockSlave, slave.PutVoid()), S_OK);
    DWORD tolerance = 0;
    EXPECT_EQ(slave->GetErrorTolerance(&tolerance), S_OK);
    EXPECT_EQ(tolerance, 40u);
    EXPECT_EQ(slave->GetErrorTolerance(nullptr), E_POINTER);
    for (DWORD bad : {0u, 1001u}) EXPECT_EQ(slave->SetErrorTolerance(bad), E_FAIL) << bad;
    for (DWORD good : {1u, 1000u, 25u}) EXPECT_EQ(slave->SetErrorTolerance(good), S_OK) << good;
    EXPECT_EQ(slave->GetErrorTolerance(&tolerance), S_OK);
    EXPECT_EQ(tolerance, 25u);
    ASSERT_EQ(renderer->Pause(), S_OK);
    EXPECT_EQ(slave->SetErrorTolerance(30), VFW_E_NOT_STOPPED);
    ASSERT_EQ(renderer->Stop(), S_OK);

    ComPtr<IBasicAudio> audio;
    ASSERT_EQ(renderer->QueryInterface(IID_IBasicAudio, audio.PutVoid()), S_OK);
    long volume = 1, balance = 1;
    EXPECT_EQ(audio->get_Volume(&volume), S_OK);
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
    EXPECT_EQ(audio->put_Volume(-10001), E_INVALIDARG);
    EXPECT_EQ(audio->put_Volume(-2500), S_OK);
    EXPECT_EQ(audio->put_Balance(10001), E_INVALIDARG);
    EXPECT_EQ(audio->put_Balance(-3000), S_OK);
    EXPECT_EQ(audio->get_Volume(&volume), S_OK);
    EXPECT_EQ(audio->get_Balance(&balance), S_OK);
    EXPECT_EQ(volume, -2500);
    EXPECT_EQ(balance, -3000);
    audio.Reset();
    slave.Reset();

    ComPtr<IUnknown> outer, inner;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IUnknown, &outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_DSoundRender, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(renderer.Detach()->Release(), 0u);
}

TEST(AudioRenderer, WalksItsStatesUnconnectedAndItsClockNeverStopsOrRunsBack) {
    ComApartment com;
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(Create(CLSID_DSoundRender, IID_IBaseFilter, &renderer), S_OK);
    ExpectStateWalk(renderer.Get());
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(renderer->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    REFERENCE_TIME first = 0, now = 0;
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&first)));
    // Not playing, it runs as a system clock does.
    EXPECT_TRUE(WaitFor([&] { return SUCCEEDED(clock->GetTime(&now)) && now >= first + 500000; }));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD_PTR cookie = 0;
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&now)));
    ASSERT_EQ(clock->AdviseTime(now, 200000, reinterpret_cast<HEVENT>(event), &cookie), S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 15000), WAIT_OBJECT_0);
    REFERENCE_TIME fired = 0;
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&fired)));
    EXPECT_GE(fired, now + 200000);
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);  // a one-shot advise is gone once fired
    CloseHandle(event);
    clock.Reset();
    EXPECT_EQ(renderer.Detach()->Release(), 0u);
}

TEST_F(AudioRendererGraph, TakesPcmOfEveryLayoutItPlaysAndNothingElse) {
    const testbed::MediaType stereo = PcmType(kRate, 2);
    auto wave_of = [](testbed::MediaType& mt) { return reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat); };
    ComPtr<IPin> input = Input();
    EXPECT_EQ(input->QueryAccept(&stereo.Get()), S_OK);
    for (auto [rate, channels, bits] : {std::tuple{8000, 1, 8}, {192000, 2, 16}, {44100, 1, 16}}) {
        testbed::MediaType mt = PcmType(rate, channels);
        WAVEFORMATEX* w = wave_of(mt);
        w->wBitsPerSample = static_cast<WORD>(bits);
        w->nBlockAlign = static_cast<WORD>(channels * bits / 8);
        w->nAvgBytesPerSec = static_cast<DWORD>(rate) * w->nBlockAlign;
        EXPECT_EQ(input->QueryAccept(&mt.Get()), S_OK) << rate << " " << channels << " " << bits;
    }
    for (auto [rate, channels, bits] : {std::tuple{4000, 2, 16}, {96000, 3, 16}, {kRate, 2, 24}}) {
        testbed::MediaType mt = PcmType(rate, channels);
        WAVEFORMATEX* w = wave_of(mt);
        w->wBitsPerSample = static_cast<WORD>(bits);
        w->nBlockAlign = static_cast<WORD>(channels * bits / 8);
        w->nAvgBytesPerSec = static_cast<DWORD>(rate) * w->nBlockAlign;
        EXPECT_EQ(input->QueryAccept(&mt.Get()), S_FALSE) << rate << " " << channels << " " << bits;
    }
    testbed::MediaType extensible = PcmType(kRate, 2);
    auto* ext = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(extensible.AllocFormat(sizeof(WAVEFORMATEXTENSIBLE)));
    ext->Format = *wave_of(const_cast<testbed::MediaType&>(stereo));
    ext->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    ext->Format.cbSize = 22;
    ext->Samples.wValidBitsPerSample = 16;
    ext->dwChannelMask = 3;               // front left and right
    ext->SubFormat = MEDIASUBTYPE_PCM;   // the same GUID as KSDATAFORMAT_SUBTYPE_PCM
    EXPECT_EQ(input->QueryAccept(&extensible.Get()), S_OK);
    ext->SubFormat = kFloatSubFormat;
    EXPECT_EQ(input->QueryAccept(&extensible.Get()), S_FALSE);
    testbed::MediaType float_tag = PcmType(kRate, 2);
    wave_of(float_tag)->wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    EXPECT_EQ(input->QueryAccept(&float_tag.Get()), S_FALSE);

    ASSERT_EQ(Connect(), S_OK);
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(input->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_PCM));
    ASSERT_EQ(connected.cbFormat, stereo->cbFormat);
    EXPECT_EQ(memcmp(connected.pbFormat, stereo->pbFormat, connected.cbFormat), 0);
    testbed::FreeMediaType(&connected);
}

TEST_F(AudioRendererGraph, PlaysWhatItGetsThenCompletesAndABlockedReceiveGivesUpOnStop) {
    ASSERT_EQ(Connect(), S_OK);
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    // Half a second holding the card's first click, at sample 0.
    ASSERT_EQ(PushTone(0, 500), S_OK);
    ASSERT_EQ(Input()->EndOfStream(), S_OK);
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(15000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    const auto heard = Clicks(renderer.Get());
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].stamp, 0);
    EXPECT_GT(heard[0].played, 0);
    EXPECT_EQ(Glitches(renderer.Get()).underruns, 0);

    // Paused, the device plays nothing: a second fills its ring and the
    // next push waits for room, until the graph stops.
    ASSERT_EQ(control->Stop(), S_OK);
    ASSERT_EQ(control->Pause(), S_OK);
    std::atomic<int> pushed{0};
    HRESULT results[2] = {E_FAIL, E_FAIL};
    std::thread pusher([&] {
        for (int i = 0; i < 2; ++i) {
            results[i] = PushTone(static_cast<uint64_t>(i) * kRate, 1000);
            ++pushed;
        }
    });
    EXPECT_TRUE(WaitFor([&] { return pushed >= 1; }));
    FILTER_STATE state;
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);  // it has data: paused for good
    EXPECT_EQ(pushed.load(), 1);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_TRUE(WaitFor([&] { return pushed == 2; }));
    pusher.join();
    EXPECT_EQ(results[0], S_OK);
    // Refused by the stopped renderer, or by the source's allocator had the
    // push not reached the renderer yet.
    EXPECT_TRUE(results[1] == VFW_E_WRONG_STATE || results[1] == VFW_E_NOT_COMMITTED) << std::hex << results[1];
}

// The card's sound 5000 ppm fast for 20 s, in 50 ms buffers. On the system
// clock the renderer matches rates: the sound stays within the tolerance
// of where its first click was heard and does not drift. On its own clock
// it plays the sound at its device's pace, 0.5% slower than it comes, so
// the delay grows by 5 ms a second, 100 ms over the run.
TEST(AudioRendererDrift, MatchesRatesToAnotherClockAndDriftsOnItsOwn) {
    ComApartment com;
    testcard::TestCardSetup setup;
    ASSERT_TRUE(setup.SetNumber(testcard::TestCardSetup::Audio(0), L"ClockPpm", 5000));
    ASSERT_TRUE(setup.SetText(testcard::TestCardSetup::Audio(0), L"Rates", L"48000"));
    ASSERT_EQ(setup.Register(), S_OK);
    for (bool own_clock : {false, true}) {
        SCOPED_TRACE(own_clock ? "renderer's clock" : "system clock");
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
        ComPtr<IBaseFilter> card = BindDevice(CLSID_AudioInputDeviceCategory, [](const DeviceEntry&) { return true; });
        ASSERT_TRUE(card);
        graph->AddFilter(card.Get(), L"card");
        ComPtr<IBaseFilter> renderer = AddNewFilter(graph.Get(), CLSID_DSoundRender, L"renderer");
        ASSERT_TRUE(renderer);
        ComPtr<IPin> output = PinAt(card.Get(), PINDIR_OUTPUT, 0);
        ComPtr<IAMBufferNegotiation> negotiation;
        ASSERT_EQ(output->QueryInterface(IID_IAMBufferNegotiation, negotiation.PutVoid()), S_OK);
        ALLOCATOR_PROPERTIES want = {8, kRate * 4 / 20, -1, -1};  // 50 ms each
        ASSERT_EQ(negotiation->SuggestAllocatorProperties(&want), S_OK);
        negotiation.Reset();
        ASSERT_EQ(graph->ConnectDirect(output.Get(), PinAt(renderer.Get(), PINDIR_INPUT, 0).Get(), nullptr), S_OK);
        ComPtr<IReferenceClock> clock;
        if (own_clock)
            ASSERT_EQ(renderer->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
        else
            ASSERT_EQ(Create(CLSID_SystemClock, IID_IReferenceClock, &clock), S_OK);
        ComPtr<IMediaFilter> media;
        ASSERT_EQ(graph->QueryInterface(IID_IMediaFilter, media.PutVoid()), S_OK);
        ASSERT_EQ(media->SetSyncSource(clock.Get()), S_OK);
        clock.Reset();
        ComPtr<IMediaControl> control;
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        std::vector<HeardClick> heard;
        EXPECT_TRUE(WaitFor(
            [&] {
                heard = Clicks(renderer.Get());
                return !heard.empty() && heard.back().stamp >= 20 * 10000000LL;
            },
            60000));
        const RendererGlitches glitches = Glitches(renderer.Get());
        LONG lost = 0;
        ComPtr<testcard::ITestCardAudioStats> card_stats;
        if (card->QueryInterface(testcard::IID_ITestCardAudioStats, card_stats.PutVoid()) == S_OK)
            card_stats->GetLostBuffers(&lost);
        card_stats.Reset();
        control->Stop();
        ASSERT_GE(heard.size(), 10u);
        // How much later each click is heard than the one before, per second
        // of stamps: the median leaves out the jump a stalled process makes.
        std::vector<double> growth;
        for (size_t i = 1; i < heard.size(); ++i)
            growth.push_back(static_cast<double>((heard[i].played - heard[i].stamp) -
                                                 (heard[i - 1].played - heard[i - 1].stamp)) /
                             static_cast<double>(heard[i].stamp - heard[i - 1].stamp));
        std::sort(growth.begin(), growth.end());
        const double median_growth = growth[growth.size() / 2];
        std::printf("%s: %zu clicks heard %.1f to %.1f ms after their stamps, growing %.2f ms/s (median); "
                    "%ld dropped runs (longest %.1f ms), %ld silences (longest %.1f ms), %ld underruns (longest "
                    "%.1f ms), %ld buffers lost by the card\n",
                    own_clock ? "renderer's clock" : "system clock", heard.size(),
                    (heard.front().played - heard.front().stamp) / 1e4, (heard.back().played - heard.back().stamp) / 1e4,
                    median_growth * 1e3, glitches.dropped_runs, glitches.longest_drop / 1e4, glitches.silences,
                    glitches.longest_silence / 1e4, glitches.underruns, glitches.longest_underrun / 1e4, lost);
        if (!own_clock) {
            EXPECT_LT(std::abs(median_growth), 0.001);
            const REFERENCE_TIME first = heard.front().played - heard.front().stamp;
            for (const HeardClick& c : heard) EXPECT_LE(std::abs(c.played - c.stamp - first), 400000) << c.stamp;
        } else {
            EXPECT_NEAR(median_growth, 0.005, 0.001);
            EXPECT_EQ(glitches.dropped_runs + glitches.silences, 0);
        }
        // Longer glitches follow only a stall of the process (an underrun, or
        // sound the card lost for want of a free buffer).
        if (glitches.underruns == 0 && lost == 0) {
            EXPECT_LE(glitches.longest_drop, 500000);
            EXPECT_LE(glitches.longest_silence, 500000);
        }
        control.Reset();
        media.Reset();
        output.Reset();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        EXPECT_EQ(graph.Detach()->Release(), 0u);
        EXPECT_EQ(card.Detach()->Release(), 0u);
        EXPECT_EQ(renderer.Detach()->Release(), 0u);
    }
}

}  // namespace
}  // namespace fernwood::test
