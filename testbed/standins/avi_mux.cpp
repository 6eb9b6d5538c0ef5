// The AVI Mux stand-in. Each connected input becomes one stream of the file,
// in pin order; chunks are written in the order samples are let through.
//
// Interleaving (IConfigInterleaving), as the InterleavingMode reference of the
// DirectShow documentation describes the modes: a sample is let through once
// every other stream that has not ended has received data up to the sample's
// start (INTERLEAVE_FULL), or up to its start less the interleave time
// (INTERLEAVE_CAPTURE, the default); until then Receive blocks, and so does
// the upstream thread. A stream that delivers 0.5 s audio buffers thus stalls
// video in full interleaving, and a live source with a few buffers loses
// frames meanwhile. INTERLEAVE_NONE and INTERLEAVE_NONE_BUFFERED never wait.
// Stream time 0 counts as received.
//
// A master stream (IConfigAviMux::SetMasterStream: the other streams'
// playback rates are adjusted, through strh dwScale and dwRate, "to compensate
// for any drift") sets the file's clock: at stop the master's data is set
// against the stream time its samples covered, and a master that ran fast or
// slow by the graph's clock stretches every other stream alike (see
// avi::AviWriter::CompensateDrift).
//
// Timeline: stream time 0 is the start of the run. A video frame stamped
// past the next free slot is preceded by empty chunks for the slots it
// skipped, so that lost frames keep their time. PCM audio whose first
// sample starts after 0 is preceded by silence (other audio gets strh
// dwStart), so both streams begin at the start of the file.
//
// Inputs are never removed: a disconnected input stays as a free one, and a
// new input appears only when a connection leaves none free. So callers that
// disconnect pins while enumerating them never lose their place.
#include "avi_mux.h"
#include "standins_module.h"

#include "avi_layout.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"

#include <dshow.h>
#include <mmreg.h>
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace fernwood {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

// Two-digit stream numbers in chunk ids.
constexpr unsigned kMaxInputs = 99;
constexpr uint64_t kRiffBytes = uint64_t{1} << 30;
// Frames of a source that does not give its rate.
constexpr REFERENCE_TIME kDefaultFrameTime = 333667;

class AviMux;
class MuxInput;

// The bytes of a recording, written at the stream's offsets. The position is
// tracked so that appending needs no seek.
class StreamSink final : public avi::ByteSink {
public:
    explicit StreamSink(IStream* stream) : stream_(stream) {}

    bool WriteAt(uint64_t offset, const void* data, size_t size) override {
        if (offset != position_) {
            LARGE_INTEGER to;
            to.QuadPart = static_cast<LONGLONG>(offset);
            HRESULT hr = stream_->Seek(to, STREAM_SEEK_SET, nullptr);
            if (FAILED(hr)) return Failed(hr);
            position_ = offset;
        }
        const BYTE* bytes = static_cast<const BYTE*>(data);
        while (size) {
            const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
            ULONG written = 0;
            HRESULT hr = stream_->Write(bytes, piece, &written);
            if (FAILED(hr) || written != piece) return Failed(FAILED(hr) ? hr : STG_E_MEDIUMFULL);
            bytes += piece;
            size -= piece;
            position_ += piece;
        }
        return true;
    }
    HRESULT Error() const { return error_; }

private:
    bool Failed(HRESULT hr) {
        error_ = hr;
        position_ = ~uint64_t{0};
        return false;
    }

    ComPtr<IStream> stream_;
    uint64_t position_ = ~uint64_t{0};
    HRESULT error_ = E_FAIL;
};

bool IsVideoType(const AM_MEDIA_TYPE& mt) {
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) ||
        !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const BITMAPINFOHEADER& bih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    return bih.biSize >= sizeof(BITMAPINFOHEADER) && bih.biWidth > 0 && bih.biHeight != 0;
}

bool IsAudioType(const AM_MEDIA_TYPE& mt) {
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) || !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) ||
        !mt.pbFormat || mt.cbFormat < sizeof(PCMWAVEFORMAT))
        return false;
    const WAVEFORMATEX& wfx = *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    return wfx.nChannels && wfx.nSamplesPerSec && wfx.nAvgBytesPerSec && wfx.nBlockAlign;
}

// What the file needs to know of one input, fixed when the filter pauses.
struct Track {
    MuxInput* pin = nullptr;
    size_t stream = 0;
    bool video = false;
    bool every_frame_key = true;  // no temporal compression
    bool pcm = false;
    uint8_t silence = 0;
    uint32_t samples_per_second = 0, block = 0, scale = 1, rate = 1;
    avi::FrameTimeline timeline{0};
    REFERENCE_TIME frame = 0;  // video
    bool audio_placed = false;
    bool end_of_stream = false;
    bool flushing = false;
    // The stream's data reaches this far in stream time, counting a sample
    // that is waiting for its turn.
    REFERENCE_TIME received_until = 0;
    // What is in the file spans this much stream time: from 0 where the
    // stream is filled from the start of the run (video, PCM), else from its
    // first sample.
    REFERENCE_TIME written_from = -1, written_until = 0;
};

// Where a sample lies in stream time.
struct Span {
    REFERENCE_TIME start, end;
};

avi::StreamSetup SetupFor(const MediaType& type, Track* track) {
    const AM_MEDIA_TYPE& mt = type.Get();
    avi::StreamSetup s;
    if (IsVideoType(mt)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        const BITMAPINFOHEADER& bih = vih->bmiHeader;
        const REFERENCE_TIME frame = vih->AvgTimePerFrame > 0 && vih->AvgTimePerFrame <= 0xFFFFFFFFLL
                                         ? vih->AvgTimePerFrame
                                         : kDefaultFrameTime;
        s.kind = avi::StreamKind::kVideo;
        s.rgb = bih.biCompression == BI_RGB || bih.biCompression == BI_BITFIELDS;
        s.handler = s.rgb ? 0 : bih.biCompression;
        s.scale = static_cast<uint32_t>(frame);
        s.rate = static_cast<uint32_t>(avi::kUnitsPerSecond);
        s.width = bih.biWidth;
        s.height = bih.biHeight;
        const BYTE* from = reinterpret_cast<const BYTE*>(&vih->bmiHeader);
        s.format.assign(from, static_cast<const BYTE*>(mt.pbFormat + mt.cbFormat));
        track->video = true;
        track->every_frame_key = !mt.bTemporalCompression;
        track->timeline = avi::FrameTimeline(frame);
        track->frame = frame;
    } else {
        const WAVEFORMATEX& wfx = *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        s.kind = avi::StreamKind::kAudio;
        s.scale = wfx.nBlockAlign;
        s.rate = wfx.nAvgBytesPerSec;
        s.sample_size = wfx.nBlockAlign;
        size_t bytes = mt.cbFormat;
        if (bytes >= sizeof(WAVEFORMATEX)) bytes = std::min<size_t>(bytes, sizeof(WAVEFORMATEX) + wfx.cbSize);
        s.format.assign(mt.pbFormat, mt.pbFormat + bytes);
        track->pcm = wfx.wFormatTag == WAVE_FORMAT_PCM;
        track->silence = wfx.wBitsPerSample == 8 ? 0x80 : 0;  // 8-bit PCM is unsigned
        track->samples_per_second = wfx.nSamplesPerSec;
        track->block = wfx.nBlockAlign;
    }
    track->scale = s.scale;
    track->rate = s.rate;
    return s;
}

class MuxInput final : public testbed::InputPin {
public:
    MuxInput(AviMux& mux, unsigned number);

    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }  // waits for other streams; writes on the caller's thread

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsVideoType(mt) || IsAudioType(mt) ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(unsigned, MediaType*) override { return VFW_S_NO_MORE_ITEMS; }

protected:
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    AviMux& mux_;
};

class MuxOutput final : public testbed::OutputPin {
public:
    explicit MuxOutput(testbed::Filter& filter) : OutputPin(filter, L"AVI Out") {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsEqualGUID(mt.majortype, MEDIATYPE_Stream) && IsEqualGUID(mt.subtype, MEDIASUBTYPE_Avi) ? S_OK
                                                                                                        : S_FALSE;
    }
    HRESULT GetMediaType(unsigned index, MediaType* out) override {
        if (index > 0) return VFW_S_NO_MORE_ITEMS;
        MediaType mt;
        mt->majortype = MEDIATYPE_Stream;
        mt->subtype = MEDIASUBTYPE_Avi;
        mt->formattype = FORMAT_None;
        mt->bFixedSizeSamples = FALSE;
        mt->lSampleSize = 1;
        *out = mt;
        return S_OK;
    }

protected:
    // The file goes through IStream; the allocator only completes the connection.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES want = {1, std::max<long>(request->cbBuffer, 16), 1, 0}, actual = {};
        return allocator->SetProperties(&want, &actual);
    }
};

// {E2510970-F137-11CE-8B67-00AA00A3F1A6}, as the platform names it.
class AviMux final : public testbed::Filter, public IConfigAviMux, public IConfigInterleaving {
public:
    AviMux() : Filter(CLSID_AviDest), output_(*this) { AddInput(); }
    TESTBED_IUNKNOWN

    testbed::Pin* PinAt(unsigned index) override {
        Hold hold(Lock());
        if (index == 0) return &output_;
        return index <= inputs_.size() ? inputs_[index - 1].get() : nullptr;
    }

    // IConfigAviMux
    STDMETHODIMP SetMasterStream(LONG stream) override {
        if (stream < -1) return E_INVALIDARG;
        Hold hold(Lock());
        master_ = stream;
        return S_OK;
    }
    STDMETHODIMP GetMasterStream(LONG* stream) override {
        if (!stream) return E_POINTER;
        Hold hold(Lock());
        *stream = master_;
        return S_OK;
    }
    STDMETHODIMP SetOutputCompatibilityIndex(BOOL old_index) override {
        Hold hold(Lock());
        old_index_ = old_index != FALSE;
        return S_OK;
    }
    STDMETHODIMP GetOutputCompatibilityIndex(BOOL* old_index) override {
        if (!old_index) return E_POINTER;
        Hold hold(Lock());
        *old_index = old_index_ ? TRUE : FALSE;
        return S_OK;
    }

    // IConfigInterleaving
    STDMETHODIMP put_Mode(InterleavingMode mode) override {
        if (mode < INTERLEAVE_NONE || mode > INTERLEAVE_NONE_BUFFERED) return E_INVALIDARG;
        Hold hold(Lock());
        mode_ = mode;
        return S_OK;
    }
    STDMETHODIMP get_Mode(InterleavingMode* mode) override {
        if (!mode) return E_POINTER;
        Hold hold(Lock());
        *mode = mode_;
        return S_OK;
    }
    STDMETHODIMP put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll) override {
        if (!interleave || !preroll) return E_POINTER;
        Hold hold(Lock());
        interleave_ = *interleave;
        preroll_ = *preroll;
        return S_OK;
    }
    STDMETHODIMP get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll) override {
        if (!interleave || !preroll) return E_POINTER;
        Hold hold(Lock());
        *interleave = interleave_;
        *preroll = preroll_;
        return S_OK;
    }

    // Called with the filter lock held once an input has connected.
    void InputConnected() {
        for (const auto& input : inputs_)
            if (!input->IsConnected()) return;
        if (inputs_.size() < kMaxInputs) AddInput();
    }
    HRESULT Receive(MuxInput& pin, IMediaSample* sample);
    HRESULT EndOfStream(MuxInput& pin);
    void SetFlushing(MuxInput& pin, bool flushing);

protected:
    void* Interface(REFIID iid) override {
        if (IsEqualGUID(iid, IID_IConfigAviMux)) return static_cast<IConfigAviMux*>(this);
        if (IsEqualGUID(iid, IID_IConfigInterleaving)) return static_cast<IConfigInterleaving*>(this);
        return Filter::Interface(iid);
    }
    HRESULT InitStream() override;
    HRESULT CleanupStream() override;

private:
    void AddInput() {
        inputs_.push_back(std::make_unique<MuxInput>(*this, static_cast<unsigned>(inputs_.size() + 1)));
    }
    Track* TrackOf(MuxInput& pin) {
        for (Track& t : tracks_)
            if (t.pin == &pin) return &t;
        return nullptr;
    }
    Span SpanOf(const Track& track, IMediaSample* sample) const;
    bool OthersReached(const Track& track, REFERENCE_TIME time) const;
    HRESULT AwaitTurn(std::unique_lock<std::mutex>& hold, Track& track, IMediaSample* sample);
    HRESULT WriteSample(Track& track, IMediaSample* sample);
    HRESULT WriterError() const;
    void Abort(HRESULT hr);

    MuxOutput output_;
    std::vector<std::unique_ptr<MuxInput>> inputs_;
    LONG master_ = -1;
    bool old_index_ = true;
    InterleavingMode mode_ = INTERLEAVE_CAPTURE;
    REFERENCE_TIME interleave_ = avi::kUnitsPerSecond;
    REFERENCE_TIME preroll_ = 0;

    // The recording between pause and stop. The streaming threads take only
    // this lock; state changes take the filter lock first, then this one.
    std::mutex write_lock_;
    std::condition_variable turn_;  // a stream's data grew, or the run ends
    std::vector<Track> tracks_;
    std::unique_ptr<StreamSink> sink_;
    std::unique_ptr<avi::AviWriter> writer_;
    InterleavingMode run_mode_ = INTERLEAVE_CAPTURE;
    REFERENCE_TIME run_interleave_ = 0;
    LONG run_master_ = -1;
    unsigned waiting_ = 0;
    bool stopping_ = false;
    HRESULT failure_ = S_OK;
    bool end_sent_ = false;
};

MuxInput::MuxInput(AviMux& mux, unsigned number)
    : InputPin(mux, [number] {
          wchar_t name[16];
          std::swprintf(name, 16, L"Input %02u", number);
          return std::wstring(name);
      }()),
      mux_(mux) {}

HRESULT MuxInput::CompleteConnect(IPin*) {
    mux_.InputConnected();
    return S_OK;
}

HRESULT MuxInput::OnReceive(IMediaSample* sample) { return mux_.Receive(*this, sample); }

HRESULT MuxInput::OnEndOfStream() { return mux_.EndOfStream(*this); }

STDMETHODIMP MuxInput::BeginFlush() {
    HRESULT hr = InputPin::BeginFlush();
    mux_.SetFlushing(*this, true);
    return hr;
}

STDMETHODIMP MuxInput::EndFlush() {
    HRESULT hr = InputPin::EndFlush();
    mux_.SetFlushing(*this, false);
    return hr;
}

HRESULT AviMux::InitStream() {
    std::vector<avi::StreamSetup> setups;
    std::vector<Track> tracks;
    for (const auto& input : inputs_) {
        if (!input->IsConnected()) continue;
        Track track;
        track.pin = input.get();
        track.stream = setups.size();
        setups.push_back(SetupFor(input->ConnectionType(), &track));
        tracks.push_back(track);
    }
    std::unique_ptr<StreamSink> sink;
    std::unique_ptr<avi::AviWriter> writer;
    ComPtr<IPin> peer;
    if (!tracks.empty() && output_.ConnectedTo(peer.Put()) == S_OK) {
        ComPtr<IStream> stream;
        HRESULT hr = peer->QueryInterface(IID_IStream, stream.PutVoid());
        if (FAILED(hr)) return hr;
        avi::Limits limits;
        limits.riff_bytes = kRiffBytes;
        limits.legacy_index = old_index_;
        sink = std::make_unique<StreamSink>(stream.Get());
        writer = std::make_unique<avi::AviWriter>(*sink, std::move(setups), limits);
    }
    std::lock_guard<std::mutex> hold(write_lock_);
    tracks_ = std::move(tracks);
    sink_ = std::move(sink);
    writer_ = std::move(writer);
    run_mode_ = mode_;
    run_interleave_ = std::max<REFERENCE_TIME>(interleave_, 0);
    run_master_ = master_;
    stopping_ = false;
    failure_ = S_OK;
    end_sent_ = false;
    return S_OK;
}

// The index and the final header go out only now, after which the stream is
// released so that the writer can close the file.
HRESULT AviMux::CleanupStream() {
    std::unique_ptr<StreamSink> sink;
    HRESULT hr = S_OK;
    {
        std::unique_lock<std::mutex> hold(write_lock_);
        stopping_ = true;
        turn_.notify_all();
        turn_.wait(hold, [&] { return waiting_ == 0; });
        for (const Track& master : tracks_) {
            if (!writer_ || run_master_ < 0 || master.stream != static_cast<size_t>(run_master_)) continue;
            const REFERENCE_TIME from = std::max<REFERENCE_TIME>(master.written_from, 0);
            writer_->CompensateDrift(master.stream,
                                     static_cast<double>(master.written_until - from) / avi::kUnitsPerSecond);
        }
        // A refused chunk still leaves a file to finish; a failed write does not.
        if (writer_ && !writer_->Finished()) {
            const bool ok = (writer_->Started() || writer_->Begin()) && writer_->Finish();
            if (!ok && SUCCEEDED(failure_)) hr = failure_ = WriterError();
        }
        writer_.reset();
        sink = std::move(sink_);
        tracks_.clear();
    }
    sink.reset();
    if (FAILED(hr)) Abort(hr);
    return hr;
}

HRESULT AviMux::WriterError() const {
    switch (writer_->LastError()) {
    case avi::Error::kWriteFailed: return sink_->Error();
    case avi::Error::kChunkTooLarge: return VFW_E_BUFFER_OVERFLOW;
    case avi::Error::kIndexFull: return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    default: return E_UNEXPECTED;
    }
}

// The graph's owner learns of the failure: the recording cannot go on.
void AviMux::Abort(HRESULT hr) {
    ComPtr<IMediaEventSink> events;
    IFilterGraph* graph = Graph();
    if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, events.PutVoid())))
        events->Notify(EC_ERRORABORT, hr, 0);
}

HRESULT AviMux::Receive(MuxInput& pin, IMediaSample* sample) {
    HRESULT hr;
    {
        std::unique_lock<std::mutex> hold(write_lock_);
        Track* track = TrackOf(pin);
        if (!track) return VFW_E_WRONG_STATE;
        if (!writer_) return S_OK;  // nowhere to write: the output is not connected
        if (FAILED(failure_)) return failure_;
        if ((hr = AwaitTurn(hold, *track, sample)) != S_OK) return hr;
        if (FAILED(failure_)) return failure_;
        const Span span = SpanOf(*track, sample);
        hr = WriteSample(*track, sample);
        if (SUCCEEDED(hr)) {
            if (track->written_from < 0) track->written_from = track->video || track->pcm ? 0 : span.start;
            track->written_until = std::max(track->written_until, span.end);
            return hr;
        }
        failure_ = hr;
    }
    Abort(hr);
    return hr;
}

Span AviMux::SpanOf(const Track& track, IMediaSample* sample) const {
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = sample->GetTime(&start, &stop);
    REFERENCE_TIME length = track.frame;
    if (track.video) {
        if (FAILED(timed)) start = static_cast<REFERENCE_TIME>(track.timeline.NextSlot()) * track.frame;
    } else {
        // Audio without a time stamp follows on from the stream's data so far.
        if (FAILED(timed)) start = track.received_until;
        length = track.rate ? std::max(0L, sample->GetActualDataLength()) * avi::kUnitsPerSecond / track.rate : 0;
    }
    return {start, timed == S_OK && stop > start ? stop : start + length};
}

bool AviMux::OthersReached(const Track& track, REFERENCE_TIME time) const {
    for (const Track& t : tracks_)
        if (&t != &track && !t.end_of_stream && t.received_until < time) return false;
    return true;
}

// Blocks the stream until the interleaving mode lets its sample through:
// S_OK to write it, S_FALSE when the pin began flushing, VFW_E_WRONG_STATE
// when the filter stopped.
HRESULT AviMux::AwaitTurn(std::unique_lock<std::mutex>& hold, Track& track, IMediaSample* sample) {
    const Span span = SpanOf(track, sample);
    track.received_until = std::max(track.received_until, span.end);
    turn_.notify_all();
    if (run_mode_ != INTERLEAVE_FULL && run_mode_ != INTERLEAVE_CAPTURE) return S_OK;
    const REFERENCE_TIME due = span.start - (run_mode_ == INTERLEAVE_CAPTURE ? run_interleave_ : 0);
    ++waiting_;
    turn_.wait(hold, [&] { return stopping_ || track.flushing || OthersReached(track, due); });
    --waiting_;
    turn_.notify_all();
    if (stopping_) return VFW_E_WRONG_STATE;
    return track.flushing ? S_FALSE : S_OK;
}

HRESULT AviMux::WriteSample(Track& track, IMediaSample* sample) {
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    const long length = std::max(0L, sample->GetActualDataLength());
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (!writer_->Started() && !writer_->Begin()) return WriterError();
    bool ok = true;
    if (track.video) {
        uint64_t gap = 0;
        if (timed)
            gap = track.timeline.Place(start);
        else
            track.timeline.Append();
        for (; ok && gap; --gap) ok = writer_->AddChunk(track.stream, nullptr, 0, false);
        const bool key = track.every_frame_key || sample->IsSyncPoint() == S_OK;
        ok = ok && writer_->AddChunk(track.stream, data, static_cast<uint32_t>(length), key);
    } else {
        if (!track.audio_placed) {
            track.audio_placed = true;
            if (timed && start > 0 && track.pcm) {
                const uint64_t silence = avi::LeadingSilenceBytes(start, track.samples_per_second, track.block);
                const uint32_t piece = std::max<uint32_t>(65536 / track.block, 1) * track.block;
                ok = writer_->AddFilledChunks(track.stream, track.silence, silence, piece);
            } else if (timed && start > 0) {
                writer_->SetStart(track.stream, avi::StartUnits(start, track.scale, track.rate));
            }
        }
        ok = ok && writer_->AddChunk(track.stream, data, static_cast<uint32_t>(length), true);
    }
    return ok ? S_OK : WriterError();
}

// Once every input has ended, so has the file's stream.
HRESULT AviMux::EndOfStream(MuxInput& pin) {
    if (CurrentState() == State_Stopped) return S_OK;
    {
        std::lock_guard<std::mutex> hold(write_lock_);
        Track* track = TrackOf(pin);
        if (!track) return S_OK;
        track->end_of_stream = true;
        turn_.notify_all();
        for (const Track& t : tracks_)
            if (!t.end_of_stream) return S_OK;
        if (end_sent_) return S_OK;
        end_sent_ = true;
    }
    return output_.IsConnected() ? output_.DeliverEndOfStream() : S_OK;
}

// A flush releases the stream's waiting sample; after it the stream may end again.
void AviMux::SetFlushing(MuxInput& pin, bool flushing) {
    std::lock_guard<std::mutex> hold(write_lock_);
    Track* track = TrackOf(pin);
    if (!track) return;
    track->flushing = flushing;
    if (!flushing) track->end_of_stream = false;
    turn_.notify_all();
}

}  // namespace

HRESULT CreateAviMux(REFIID iid, void** out) { return CreateObject<AviMux>(iid, out); }

}  // namespace fernwood
