// Two small test filters on the shared testbed base: a source whose outputs
// carry a fixed media type and whose samples the test pushes itself (any time
// stamps and flags), with pin categories and frame counters as a capture
// filter has them; and a sink that records what arrives (data, time stamps,
// flags, an attached media type, stream events) and can play a renderer that
// switches its buffers to another format.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/media_type.h"
#include "testbed/common/pin.h"

namespace fernwood::test {

// A VIDEOINFOHEADER type of w x h (h < 0: top-down), as a source offers it.
testbed::MediaType VideoInfoType(const GUID& subtype, int w, int h, WORD bits, DWORD compression,
                                 REFERENCE_TIME frame = 333667);
// The same for an RGB subtype, with the bit masks that RGB565 carries.
testbed::MediaType RgbVideoType(const GUID& subtype, int w, int h);
// PCM, 16-bit unless told.
testbed::MediaType PcmType(int rate, int channels, int bits = 16);

struct PushFlags {
    bool sync = true, preroll = false, discontinuity = false;
    bool with_media_time = false;
    LONGLONG media_start = 0, media_stop = 0;
    const AM_MEDIA_TYPE* attach = nullptr;  // a type change announced with the sample
};

struct PinOffer {
    const wchar_t* name;
    const GUID* category;  // null: the pin offers no IKsPropertySet
};

// The flags of the i-th frame of a run, whose first follows a gap as a
// capture filter marks it.
inline PushFlags RunFrame(int i) {
    PushFlags flags;
    flags.discontinuity = i == 0;
    return flags;
}

class PushSource;
class PushPin final : public testbed::OutputPin, public IKsPropertySet {
public:
    PushPin(PushSource& filter, const PinOffer& offer, const testbed::MediaType& type, long buffer_size);
    TESTBED_PIN_IUNKNOWN
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(unsigned index, testbed::MediaType* out) override;
    HRESULT Push(const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop, const PushFlags& flags);
    IMediaSample* LastSample() const { return last_sample_; }
    int ReceivesEntered() const { return receives_entered_; }

    STDMETHODIMP Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

protected:
    void* Interface(REFIID iid) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    const GUID* category_;
    testbed::MediaType type_;
    long buffer_size_;
    std::atomic<IMediaSample*> last_sample_{nullptr};  // identity only, not referenced
    std::atomic<int> receives_entered_{0};
};

class PushSource final : public testbed::Filter, public IAMDroppedFrames {
public:
    // One reference, owned by the caller.
    PushSource(const testbed::MediaType& type, long buffer_size,
               const std::vector<PinOffer>& pins = {{L"Out", nullptr}});
    TESTBED_IUNKNOWN
    testbed::Pin* PinAt(unsigned index) override { return index < pins_.size() ? pins_[index].get() : nullptr; }
    IPin* Output(size_t pin = 0) { return pins_[pin].get(); }
    IBaseFilter* AsFilter() { return this; }
    HRESULT Push(const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop,
                 const PushFlags& flags = PushFlags()) {
        return PushTo(0, data, size, start, stop, flags);
    }
    HRESULT PushTo(size_t pin, const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop,
                   const PushFlags& flags = PushFlags());
    // The sample object of the last push, for identity checks downstream.
    IMediaSample* LastSample() const { return pins_[0]->LastSample(); }
    // Pushes that have got a buffer and are about to call the downstream
    // Receive, so that a test can tell a push that blocks there from one
    // whose thread has not run yet.
    int ReceivesEntered() const { return pins_[0]->ReceivesEntered(); }
    void SetDroppedCount(long dropped) { dropped_ = dropped; }

    // Frames pushed count as not dropped.
    STDMETHODIMP GetNumDropped(long* count) override;
    STDMETHODIMP GetNumNotDropped(long* count) override;
    STDMETHODIMP GetDroppedInfo(long, long*, long* copied) override;
    STDMETHODIMP GetAverageFrameSize(long* size) override;

protected:
    void* Interface(REFIID iid) override;
    // Live: nothing to cue while paused.
    HRESULT StateResult(FILTER_STATE state) override { return state == State_Paused ? VFW_S_CANT_CUE : S_OK; }

private:
    std::vector<std::unique_ptr<PushPin>> pins_;
    long frame_bytes_;
    std::atomic<long> delivered_{0};
    std::atomic<long> dropped_{0};
};

struct Received {
    std::vector<uint8_t> data;
    long buffer_size = 0;
    HRESULT time_result = E_FAIL;
    REFERENCE_TIME start = 0, stop = 0;
    bool has_media_time = false;
    LONGLONG media_start = 0, media_stop = 0;
    bool sync = false, preroll = false, discontinuity = false;
    bool has_type = false;
    testbed::MediaType type;  // attached to the sample, when has_type
    IMediaSample* object = nullptr;  // identity only, not referenced
};

class RecordingSink;
class RecordingPin final : public testbed::InputPin {
public:
    explicit RecordingPin(RecordingSink& sink);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
    // Asks the upstream output whether it takes mt, as a renderer does.
    HRESULT AskUpstream(const AM_MEDIA_TYPE& mt);

protected:
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    RecordingSink& sink_;
};

class RecordingSink final : public testbed::Filter {
public:
    // accept: the types taken (GUID_NULL fields match anything), or all types.
    explicit RecordingSink(const AM_MEDIA_TYPE* accept = nullptr);
    ~RecordingSink() override;
    testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &pin_ : nullptr; }
    IPin* Input() { return &pin_; }
    RecordingPin& Pin() { return pin_; }

    // Buffers at least this large are asked of the upstream allocator.
    void RequireBufferSize(long bytes) { required_buffer_ = bytes; }
    // Connections get this filter's own allocator, which attaches `mt` to the
    // next buffer it hands out (a renderer switching surfaces).
    void OfferOwnAllocator() { own_allocator_ = true; }
    void AttachToNextBuffer(const AM_MEDIA_TYPE& mt);
    // Refuses any allocator but the one its pin handed out, as a renderer
    // with buffers of its own does.
    void InsistOnOwnAllocator() { insist_ = true; }
    // What the upstream pin last said it delivers from (identity only).
    IMemAllocator* NotifiedAllocator();
    bool NotifiedReadOnly();
    IMemAllocator* OwnAllocator();

    size_t Count();
    std::vector<Received> Samples();
    bool WaitForCount(size_t count, DWORD timeout_ms = 15000);
    int EndOfStreams();
    int BeginFlushes();
    int EndFlushes();
    int Segments();

private:
    friend class RecordingPin;
    void Record(IMediaSample* sample);

    RecordingPin pin_;
    bool accept_all_;
    testbed::MediaType accept_;
    long required_buffer_ = 0;
    bool own_allocator_ = false;
    bool insist_ = false;
    IMemAllocator* handed_out_ = nullptr;
    IMemAllocator* notified_ = nullptr;
    bool notified_read_only_ = false;
    testbed::ComPtr<IMemAllocator> switching_allocator_;
    std::mutex lock_;
    std::vector<Received> samples_;
    int eos_ = 0, begin_flush_ = 0, end_flush_ = 0, segments_ = 0;
    HANDLE arrived_;
};

}  // namespace fernwood::test
