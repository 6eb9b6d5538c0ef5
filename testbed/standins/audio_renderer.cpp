// The DirectSound Renderer, as the DirectShow documentation describes it
// ("DirectSound Renderer Filter", "IAMClockSlave", "Reference Clocks",
// "Live Sources"), over a sound device of its own that plays on the PC's
// clock (the performance counter) and makes no sound: what a test needs is
// when each sample was heard, which the device records (ITestAudioRendererStats).
//
// The device plays from a ring of one second at the connection's nominal
// rate, silence when the ring is empty (an underrun is a gap). The renderer
// writes a fixed lead of kLeadMs ahead of the play position when it starts
// into an empty ring, as a DirectSound buffer's write cursor runs ahead of
// its play cursor. Receive blocks while the ring is full and gives up at
// once on Stop (VFW_E_WRONG_STATE) and on a flush (S_FALSE).
//
// Its clock ("Reference Clocks": the audio renderer's clock follows its
// device) is the device position while playing, and otherwise runs on the
// performance counter from where it was; like CBaseReferenceClock it never
// runs backwards. Graph clock its own: samples go to the device as they
// come ("IAMClockSlave::SetErrorTolerance": such a renderer is in step with
// the clock by definition). Graph clock another: it matches rates, as
// IAMClockSlave describes and AM_AUDREND_STAT_PARAM_SLAVE_MODE names it
// (rates matched to the graph's clock by the samples' time stamps): each
// sample is to be heard at its stamp plus the latency the first sample of
// the run had, and the renderer keeps it there by playing up to 1% fast or
// slow (the documented renderer slaves its DirectSound buffer's frequency),
// dropping the start of a buffer that would be heard more than the
// tolerance late and putting silence before one that would be heard more
// than the tolerance early.
#include "audio_renderer.h"
#include "audio_renderer_stats.h"
#include "standins_module.h"

#include "portable/audio_playout.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"

#include <dshow.h>
#include <mmreg.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fernwood {
namespace {

using namespace playout;
template <typename T>
using ComPtr = testbed::ComPtr<T>;

const int kLeadMs = 100;
// The documentation gives no default. 40 ms keeps a drift that reaches it
// inside what viewers notice of sound ahead of the picture (about 45 ms,
// ITU-R BT.1359) while leaving rate matching, which corrects far less than
// that a second, room to work without drops or gaps.
const DWORD kDefaultToleranceMs = 40;
const size_t kClicksKept = 4096;
const DWORD kTickMs = 5;

REFERENCE_TIME PerformanceNow() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart / frequency * kUnitsPerSecond + count.QuadPart % frequency * kUnitsPerSecond / frequency;
}

// PCM the device plays: 8- or 16-bit, mono or stereo, 8 to 192 kHz, as
// WAVE_FORMAT_PCM or as WAVE_FORMAT_EXTENSIBLE with the PCM sub-format.
bool PlayablePcm(const AM_MEDIA_TYPE& mt) {
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM) ||
        !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    const auto& wave = *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    if (wave.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) || wave.cbSize < 22) return false;
        const auto& ext = *reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mt.pbFormat);
        // KSDATAFORMAT_SUBTYPE_PCM is the same GUID as MEDIASUBTYPE_PCM.
        if (!IsEqualGUID(ext.SubFormat, MEDIASUBTYPE_PCM) ||
            ext.Samples.wValidBitsPerSample != wave.wBitsPerSample)
            return false;
    } else if (wave.wFormatTag != WAVE_FORMAT_PCM) {
        return false;
    }
    return (wave.nChannels == 1 || wave.nChannels == 2) && (wave.wBitsPerSample == 8 || wave.wBitsPerSample == 16) &&
           wave.nSamplesPerSec >= 8000 && wave.nSamplesPerSec <= 192000 &&
           wave.nBlockAlign == wave.nChannels * wave.wBitsPerSample / 8 &&
           wave.nAvgBytesPerSec == wave.nSamplesPerSec * wave.nBlockAlign;
}

struct Advise {
    DWORD_PTR cookie;
    REFERENCE_TIME at;
    REFERENCE_TIME period;  // 0: once, an event
    HANDLE handle;
};

struct Glitch {
    LONG count = 0;
    REFERENCE_TIME longest = 0;
    void Add(REFERENCE_TIME span) {
        ++count;
        longest = std::max(longest, span);
    }
};

class AudioRenderer;

class RendererInput final : public testbed::InputPin {
public:
    explicit RendererInput(testbed::Filter& filter) : InputPin(filter, L"Audio Input pin (rendered)") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return PlayablePcm(mt) ? S_OK : S_FALSE; }
    HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

protected:
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
};

// {79376820-07D0-11CF-A24D-0020AFD79767}, as the platform names it.
class AudioRenderer final : public testbed::Filter,
                            public IReferenceClock,
                            public IAMClockSlave,
                            public IBasicAudio,
                            public IAMFilterMiscFlags,
                            public ITestAudioRendererStats {
public:
    AudioRenderer() : Filter(CLSID_DSoundRender), input_(*this) {
        wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        sample_arrived_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        idle_offset_ = 0;
        device_thread_ = std::thread([this] { DeviceLoop(); });
    }
    ~AudioRenderer() override {
        {
            std::lock_guard<std::mutex> hold(device_);
            quit_ = true;
        }
        SetEvent(wake_);
        device_thread_.join();
        CloseHandle(wake_);
        CloseHandle(sample_arrived_);
    }
    TESTBED_IUNKNOWN

    testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &input_ : nullptr; }

    // A paused renderer has not finished pausing until it has data (or the
    // end of the stream) to play, as the base renderer's GetState says; a
    // live graph answers VFW_S_CANT_CUE for it.
    STDMETHODIMP GetState(DWORD timeout_ms, FILTER_STATE* state) override {
        if (state && CurrentState() == State_Paused && input_.IsConnected())
            WaitForSingleObject(sample_arrived_, timeout_ms);
        return Filter::GetState(timeout_ms, state);
    }

    // The renderer as the graph's clock is held by the graph, not by itself,
    // or it would never be freed.
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        std::lock_guard<std::recursive_mutex> hold(Lock());
        own_clock_ = IsOwnClock(clock);
        return Filter::SetSyncSource(own_clock_ ? nullptr : clock);
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        if (!clock) return E_POINTER;
        std::lock_guard<std::recursive_mutex> hold(Lock());
        if (!own_clock_) return Filter::GetSyncSource(clock);
        *clock = static_cast<IReferenceClock*>(this);
        AddRef();
        return S_OK;
    }

    // IReferenceClock
    STDMETHODIMP GetTime(REFERENCE_TIME* time) override {
        if (!time) return E_POINTER;
        std::lock_guard<std::mutex> hold(device_);
        const REFERENCE_TIME before = last_time_;
        *time = DeviceTimeLocked(PerformanceNow());
        return *time == before ? S_FALSE : S_OK;
    }
    STDMETHODIMP AdviseTime(REFERENCE_TIME base, REFERENCE_TIME offset, HEVENT event, DWORD_PTR* cookie) override {
        if (!cookie) return E_POINTER;
        if (!event || base + offset <= 0) return E_INVALIDARG;
        return AddAdvise(base + offset, 0, reinterpret_cast<HANDLE>(event), cookie);
    }
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                                DWORD_PTR* cookie) override {
        if (!cookie) return E_POINTER;
        if (!semaphore || start <= 0 || period <= 0) return E_INVALIDARG;
        return AddAdvise(start, period, reinterpret_cast<HANDLE>(semaphore), cookie);
    }
    STDMETHODIMP Unadvise(DWORD_PTR cookie) override {
        std::lock_guard<std::mutex> hold(device_);
        auto it = std::find_if(advises_.begin(), advises_.end(), [&](const Advise& a) { return a.cookie == cookie; });
        if (it == advises_.end()) return S_FALSE;
        advises_.erase(it);
        return S_OK;
    }

    // IAMClockSlave ("IAMClockSlave::SetErrorTolerance": 1 to 1000 ms,
    // only while stopped).
    STDMETHODIMP SetErrorTolerance(DWORD ms) override {
        std::lock_guard<std::recursive_mutex> hold(Lock());
        if (CurrentState() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (ms < 1 || ms > 1000) return E_FAIL;
        std::lock_guard<std::mutex> device(device_);
        tolerance_ms_ = ms;
        return S_OK;
    }
    STDMETHODIMP GetErrorTolerance(DWORD* ms) override {
        if (!ms) return E_POINTER;
        std::lock_guard<std::mutex> hold(device_);
        *ms = tolerance_ms_;
        return S_OK;
    }

    // IDispatch, for IBasicAudio: no type library.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    // IBasicAudio: kept, not applied (the device makes no sound, and the
    // clicks it listens for must stay full scale). Ranges as documented:
    // volume -10000 (silence) to 0 hundredths of a dB, balance -10000 to 10000.
    STDMETHODIMP put_Volume(long volume) override {
        if (volume < -10000 || volume > 0) return E_INVALIDARG;
        volume_ = volume;
        return S_OK;
    }
    STDMETHODIMP get_Volume(long* volume) override {
        if (!volume) return E_POINTER;
        *volume = volume_;
        return S_OK;
    }
    STDMETHODIMP put_Balance(long balance) override {
        if (balance < -10000 || balance > 10000) return E_INVALIDARG;
        balance_ = balance;
        return S_OK;
    }
    STDMETHODIMP get_Balance(long* balance) override {
        if (!balance) return E_POINTER;
        *balance = balance_;
        return S_OK;
    }

    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // ITestAudioRendererStats
    STDMETHODIMP GetClicks(LONG size, HeardClick* clicks, LONG* copied) override {
        if (!clicks || !copied) return E_POINTER;
        if (size < 1) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(device_);
        const size_t n = std::min(static_cast<size_t>(size), clicks_.size());
        std::copy(clicks_.end() - static_cast<std::ptrdiff_t>(n), clicks_.end(), clicks);
        *copied = static_cast<LONG>(n);
        return S_OK;
    }
    STDMETHODIMP GetGlitches(RendererGlitches* glitches) override {
        if (!glitches) return E_POINTER;
        std::lock_guard<std::mutex> hold(device_);
        *glitches = {drops_.count, drops_.longest, silences_.count, silences_.longest, underruns_.count,
                     underruns_.longest};
        return S_OK;
    }

    // From the input pin.
    HRESULT Connected(const WAVEFORMATEX& wave);
    void Disconnected();
    HRESULT Play(IMediaSample* sample);
    void EndOfStream();
    void Flush(bool begin);

protected:
    void* Interface(REFIID iid) override {
        if (IsEqualGUID(iid, IID_IReferenceClock)) return static_cast<IReferenceClock*>(this);
        if (IsEqualGUID(iid, IID_IAMClockSlave)) return static_cast<IAMClockSlave*>(this);
        if (IsEqualGUID(iid, IID_IBasicAudio) || IsEqualGUID(iid, IID_IDispatch))
            return static_cast<IBasicAudio*>(this);
        if (IsEqualGUID(iid, IID_IAMFilterMiscFlags)) return static_cast<IAMFilterMiscFlags*>(this);
        if (IsEqualGUID(iid, IID_ITestAudioRendererStats)) return static_cast<ITestAudioRendererStats*>(this);
        return Filter::Interface(iid);
    }
    HRESULT InitStream() override;
    HRESULT StartStream(REFERENCE_TIME start) override;
    HRESULT StopStream() override;
    HRESULT CleanupStream() override;
    HRESULT StateResult(FILTER_STATE state) override {
        if (state == State_Paused && input_.IsConnected() && WaitForSingleObject(sample_arrived_, 0) == WAIT_TIMEOUT)
            return VFW_S_STATE_INTERMEDIATE;
        return S_OK;
    }

private:
    bool IsOwnClock(IReferenceClock* clock) {
        if (!clock) return false;
        if (clock == static_cast<IReferenceClock*>(this)) return true;
        ComPtr<IUnknown> identity;
        clock->QueryInterface(IID_IUnknown, identity.PutVoid());
        return identity.Get() == static_cast<IUnknown*>(static_cast<IBaseFilter*>(this));
    }
    HRESULT AddAdvise(REFERENCE_TIME at, REFERENCE_TIME period, HANDLE handle, DWORD_PTR* cookie);
    void DeviceLoop();
    REFERENCE_TIME DeviceTimeLocked(REFERENCE_TIME now);
    void StartPlayingLocked(REFERENCE_TIME now);
    void StopPlayingLocked(REFERENCE_TIME now);
    void AdvanceLocked(REFERENCE_TIME now);
    void HearLocked(const uint8_t* frames, uint32_t real, uint32_t due, uint64_t first, REFERENCE_TIME now);
    REFERENCE_TIME GraphTimeLocked(REFERENCE_TIME now);
    void FireAdvisesLocked(REFERENCE_TIME now);
    void LeadLocked(REFERENCE_TIME now, REFERENCE_TIME stamp);
    void MatchRateLocked(REFERENCE_TIME now, REFERENCE_TIME stamp, const uint8_t** data, uint32_t* frames);
    void ResetStreamLocked();

    RendererInput input_;
    bool own_clock_ = false;  // guarded by the filter lock
    long volume_ = 0, balance_ = 0;

    std::mutex device_;  // taken after the filter lock, never before
    std::condition_variable room_;
    std::thread device_thread_;
    HANDLE wake_;
    HANDLE sample_arrived_;
    bool quit_ = false;

    // The sound device.
    std::unique_ptr<PcmRing> ring_;
    int rate_ = 0, bits_ = 16;
    uint32_t block_ = 0;
    std::vector<uint8_t> scratch_;
    PlayPosition position_;
    bool playing_ = false;
    double adjust_ = 0;
    REFERENCE_TIME session_base_ = 0;  // clock time when playing started
    uint64_t played_ = 0;              // frames played since then
    REFERENCE_TIME idle_offset_;       // clock minus the performance counter while not playing
    REFERENCE_TIME last_time_ = 0;
    std::vector<Advise> advises_;
    DWORD_PTR next_cookie_ = 0;

    // The stream.
    bool active_ = false;     // paused or running
    bool flushing_ = false;
    bool slaved_ = false;
    ComPtr<IReferenceClock> graph_clock_;  // while running slaved; never this filter
    REFERENCE_TIME run_start_ = 0;
    bool have_latency_ = false;
    bool dropping_ = false;   // the last buffer was dropped whole
    uint32_t drop_run_ = 0;
    REFERENCE_TIME latency_ = 0;
    DWORD tolerance_ms_ = kDefaultToleranceMs;
    bool heard_data_ = false;
    uint64_t underrun_frames_ = 0;
    bool end_of_stream_ = false, complete_due_ = false;
    ClickDetector detector_;
    std::deque<HeardClick> clicks_;
    Glitch drops_, silences_, underruns_;
};

HRESULT AudioRenderer::AddAdvise(REFERENCE_TIME at, REFERENCE_TIME period, HANDLE handle, DWORD_PTR* cookie) {
    {
        std::lock_guard<std::mutex> hold(device_);
        *cookie = ++next_cookie_;
        advises_.push_back({*cookie, at, period, handle});
    }
    SetEvent(wake_);
    return S_OK;
}

void AudioRenderer::DeviceLoop() {
    for (;;) {
        WaitForSingleObject(wake_, kTickMs);
        bool complete = false;
        {
            std::lock_guard<std::mutex> hold(device_);
            if (quit_) return;
            const REFERENCE_TIME now = PerformanceNow();
            if (playing_) AdvanceLocked(now);
            FireAdvisesLocked(now);
            complete = complete_due_;
            complete_due_ = false;
        }
        room_.notify_all();
        if (complete) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    }
}

REFERENCE_TIME AudioRenderer::DeviceTimeLocked(REFERENCE_TIME now) {
    REFERENCE_TIME t;
    if (playing_) {
        AdvanceLocked(now);
        t = session_base_ + SpanOf(played_, rate_);
    } else {
        t = now + idle_offset_;
    }
    last_time_ = std::max(last_time_, t);
    return last_time_;
}

void AudioRenderer::StartPlayingLocked(REFERENCE_TIME now) {
    if (playing_ || !ring_) return;
    session_base_ = DeviceTimeLocked(now);
    played_ = 0;
    position_.Start(now, rate_ * (1 + adjust_));
    playing_ = true;
}

void AudioRenderer::StopPlayingLocked(REFERENCE_TIME now) {
    if (!playing_) return;
    const REFERENCE_TIME t = DeviceTimeLocked(now);
    playing_ = false;
    idle_offset_ = t - now;
}

void AudioRenderer::AdvanceLocked(REFERENCE_TIME now) {
    const uint32_t due = position_.Advance(now);
    if (!due) return;
    scratch_.resize(static_cast<size_t>(due) * block_);
    const uint64_t first = ring_->ReadPosition();
    const uint32_t real = ring_->Read(scratch_.data(), due);
    played_ += due;
    HearLocked(scratch_.data(), real, due, first, now);
    if (real == 0 && end_of_stream_ && active_) {
        end_of_stream_ = false;
        complete_due_ = true;
        heard_data_ = false;
    }
}

// Clicks and gaps in what the device just played: `due` frames ending now,
// the first `real` of them from the ring (frame numbers from `first`).
void AudioRenderer::HearLocked(const uint8_t* frames, uint32_t real, uint32_t due, uint64_t first,
                               REFERENCE_TIME now) {
    if (real > 0) {
        if (underrun_frames_) underruns_.Add(SpanOf(underrun_frames_, rate_));
        underrun_frames_ = 0;
        heard_data_ = true;
    }
    if (real < due && heard_data_ && !end_of_stream_) underrun_frames_ += due - real;
    REFERENCE_TIME graph_now = 0;
    bool have_graph_now = false;
    for (uint32_t i = 0; i < real; ++i) {
        if (!detector_.Feed(LeftSample(frames + static_cast<size_t>(i) * block_, bits_))) continue;
        const int64_t stamp = ring_->StampAt(first + i);
        if (stamp == kNoStamp) continue;
        if (!have_graph_now) {
            graph_now = GraphTimeLocked(now);
            have_graph_now = true;
        }
        const REFERENCE_TIME played = graph_now - SpanOf(due - i, rate_) - run_start_;
        clicks_.push_back({played, stamp});
        if (clicks_.size() > kClicksKept) clicks_.pop_front();
    }
}

REFERENCE_TIME AudioRenderer::GraphTimeLocked(REFERENCE_TIME now) {
    REFERENCE_TIME t = 0;
    if (graph_clock_ && SUCCEEDED(graph_clock_->GetTime(&t))) return t;
    return session_base_ + SpanOf(played_, rate_) + (now - position_.LastUpdate());
}

void AudioRenderer::FireAdvisesLocked(REFERENCE_TIME now) {
    if (advises_.empty()) return;
    const REFERENCE_TIME t = DeviceTimeLocked(now);
    for (auto it = advises_.begin(); it != advises_.end();) {
        if (it->at > t) {
            ++it;
        } else if (it->period == 0) {
            SetEvent(it->handle);
            it = advises_.erase(it);
        } else {
            // One a tick: a late clock catches up over the next ticks.
            ReleaseSemaphore(it->handle, 1, nullptr);
            it->at += it->period;
            ++it;
        }
    }
}

HRESULT AudioRenderer::Connected(const WAVEFORMATEX& wave) {
    std::lock_guard<std::mutex> hold(device_);
    rate_ = static_cast<int>(wave.nSamplesPerSec);
    bits_ = wave.wBitsPerSample;
    block_ = wave.nBlockAlign;
    // One second of sound.
    ring_ = std::make_unique<PcmRing>(wave.nSamplesPerSec, block_, rate_, bits_ == 8 ? 0x80 : 0);
    return S_OK;
}

void AudioRenderer::Disconnected() {
    std::lock_guard<std::mutex> hold(device_);
    StopPlayingLocked(PerformanceNow());
    ring_.reset();
}

void AudioRenderer::ResetStreamLocked() {
    if (ring_) ring_->Clear();
    have_latency_ = false;
    dropping_ = false;
    heard_data_ = false;
    underrun_frames_ = 0;
    end_of_stream_ = false;
    adjust_ = 0;
    detector_.Reset();
    ResetEvent(sample_arrived_);
}

HRESULT AudioRenderer::InitStream() {
    {
        std::lock_guard<std::mutex> hold(device_);
        ResetStreamLocked();
        active_ = true;
        clicks_.clear();
        drops_ = silences_ = underruns_ = Glitch();
    }
    if (!input_.IsConnected()) SetEvent(sample_arrived_);
    return S_OK;
}

HRESULT AudioRenderer::StartStream(REFERENCE_TIME start) {
    // Without a clock, or on its own, it plays as the samples come.
    ComPtr<IReferenceClock> clock = own_clock_ ? nullptr : Clock();
    std::lock_guard<std::mutex> hold(device_);
    slaved_ = static_cast<bool>(clock);
    graph_clock_ = clock;
    run_start_ = start;
    StartPlayingLocked(PerformanceNow());
    return S_OK;
}

HRESULT AudioRenderer::StopStream() {
    ComPtr<IReferenceClock> released;
    std::lock_guard<std::mutex> hold(device_);
    StopPlayingLocked(PerformanceNow());
    released = graph_clock_;  // let go of it outside the device lock
    graph_clock_.Reset();
    return S_OK;
}

HRESULT AudioRenderer::CleanupStream() {
    {
        std::lock_guard<std::mutex> hold(device_);
        active_ = false;
        ResetStreamLocked();
        complete_due_ = false;
    }
    room_.notify_all();
    return S_OK;
}

void AudioRenderer::Flush(bool begin) {
    {
        std::lock_guard<std::mutex> hold(device_);
        flushing_ = begin;
        if (begin) ResetStreamLocked();
    }
    room_.notify_all();
}

void AudioRenderer::EndOfStream() {
    std::lock_guard<std::mutex> hold(device_);
    if (!active_ || flushing_) return;
    end_of_stream_ = true;
    SetEvent(sample_arrived_);
}

// Into an empty ring the device writes its lead ahead of the play position;
// the run's first sample also waits for its stamp, as no renderer plays a
// sample before its time.
void AudioRenderer::LeadLocked(REFERENCE_TIME now, REFERENCE_TIME stamp) {
    if (ring_->Queued() != 0 || (have_latency_ && slaved_)) return;
    REFERENCE_TIME wait = kLeadMs * 10000LL;
    if (!have_latency_ && stamp != kNoStamp) wait = std::max(wait, run_start_ + stamp - GraphTimeLocked(now));
    ring_->WriteSilence(FramesIn(wait, rate_));
}

// Where the next buffer would be heard against where its stamp says, and
// what rate matching does about it (see the top of the file).
void AudioRenderer::MatchRateLocked(REFERENCE_TIME now, REFERENCE_TIME stamp, const uint8_t** data,
                                    uint32_t* frames) {
    const REFERENCE_TIME heard = GraphTimeLocked(now) + SpanOf(ring_->Queued(), rate_);
    if (!have_latency_) {
        latency_ = heard - (run_start_ + stamp);
        have_latency_ = true;
    }
    SlaveSettings settings;
    settings.tolerance = tolerance_ms_ * 10000LL;
    const Decision d = Decide(heard - (run_start_ + stamp + latency_), *frames, rate_, settings);
    if (d.kind == Decision::kDrop) {
        // A buffer dropped whole leaves the next drop in the same run.
        drop_run_ = (dropping_ ? drop_run_ : 0) + d.frames;
        if (!dropping_) ++drops_.count;
        drops_.longest = std::max(drops_.longest, SpanOf(drop_run_, rate_));
        dropping_ = d.frames == *frames;
        *data += static_cast<size_t>(d.frames) * block_;
        *frames -= d.frames;
    } else {
        dropping_ = false;
    }
    if (d.kind == Decision::kInsertSilence) {
        silences_.Add(SpanOf(d.frames, rate_));
        ring_->WriteSilence(d.frames);
    }
    if (d.kind == Decision::kPlay && d.rate_adjust != adjust_) {
        adjust_ = d.rate_adjust;
        position_.SetRate(now, rate_ * (1 + adjust_));
    }
}

HRESULT AudioRenderer::Play(IMediaSample* sample) {
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK) {
        testbed::DeleteMediaType(changed);
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    BYTE* bytes = nullptr;
    HRESULT hr = sample->GetPointer(&bytes);
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    const uint8_t* data = bytes;

    std::unique_lock<std::mutex> hold(device_);
    if (!active_ || !ring_) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    SetEvent(sample_arrived_);
    if (sample->IsPreroll() == S_OK) return S_OK;
    uint32_t frames = static_cast<uint32_t>(std::max(0L, sample->GetActualDataLength())) / block_;
    const REFERENCE_TIME stamp = timed ? start : kNoStamp;
    if (playing_) {
        const REFERENCE_TIME now = PerformanceNow();
        AdvanceLocked(now);
        LeadLocked(now, timed ? start : kNoStamp);
        if (slaved_ && timed) MatchRateLocked(now, start, &data, &frames);
        have_latency_ = have_latency_ || !slaved_ || !timed;
    }
    REFERENCE_TIME at = stamp;
    while (frames > 0) {
        room_.wait(hold, [&] { return !active_ || flushing_ || ring_->Free() > 0; });
        if (!active_) return VFW_E_WRONG_STATE;
        if (flushing_) return S_FALSE;
        const uint32_t taken = ring_->Write(data, frames, at);
        data += static_cast<size_t>(taken) * block_;
        frames -= taken;
        if (at != kNoStamp) at += SpanOf(taken, rate_);
    }
    return S_OK;
}

HRESULT RendererInput::CompleteConnect(IPin*) {
    return static_cast<AudioRenderer&>(Owner()).Connected(*reinterpret_cast<const WAVEFORMATEX*>(mt_.Get().pbFormat));
}

void RendererInput::BreakConnect() { static_cast<AudioRenderer&>(Owner()).Disconnected(); }

HRESULT RendererInput::OnReceive(IMediaSample* sample) { return static_cast<AudioRenderer&>(Owner()).Play(sample); }

HRESULT RendererInput::OnEndOfStream() {
    static_cast<AudioRenderer&>(Owner()).EndOfStream();
    return S_OK;
}

STDMETHODIMP RendererInput::BeginFlush() {
    HRESULT hr = InputPin::BeginFlush();
    static_cast<AudioRenderer&>(Owner()).Flush(true);
    return hr;
}

STDMETHODIMP RendererInput::EndFlush() {
    static_cast<AudioRenderer&>(Owner()).Flush(false);
    return InputPin::EndFlush();
}

const REGPINTYPES kPcm[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const REGFILTERPINS2 kRendererPins[] = {{REG_PINFLAG_B_RENDERER, 1, 1, kPcm, 0, nullptr, nullptr}};
const wchar_t kListedName[] = L"Default DirectSound Device";

}  // namespace

HRESULT CreateAudioRenderer(REFIID iid, void** out) { return CreateObject<AudioRenderer>(iid, out); }

HRESULT RegisterAudioRendererFilter(bool install) {
    HRESULT result = S_OK;
    for (const GUID* category : {&CLSID_AudioRendererCategory, &CLSID_LegacyAmFilterCategory}) {
        HRESULT hr;
        if (install) {
            REGFILTER2 data = {};
            data.dwVersion = 2;
            data.dwMerit = MERIT_PREFERRED;
            data.cPins2 = 1;
            data.rgPins2 = kRendererPins;
            hr = testbed::RegisterDeviceFilter(*category, CLSID_DSoundRender, nullptr, kListedName, data, nullptr);
        } else {
            hr = testbed::UnregisterDeviceFilter(*category, CLSID_DSoundRender, nullptr);
        }
        if (FAILED(hr)) result = hr;
    }
    return result;
}

}  // namespace fernwood
