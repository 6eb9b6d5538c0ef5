#include "stream_filters.h"

#include <cstring>
#include <new>

#include "testbed/common/com_object.h"

namespace fernwood::test {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

// {7A3C1E52-8B0D-4F6E-A1C2-3D4E5F60718A}, {7A3C1E53-...}
const CLSID kPushSourceClsid = {0x7a3c1e52, 0x8b0d, 0x4f6e, {0xa1, 0xc2, 0x3d, 0x4e, 0x5f, 0x60, 0x71, 0x8a}};
const CLSID kRecordingSinkClsid = {0x7a3c1e53, 0x8b0d, 0x4f6e, {0xa1, 0xc2, 0x3d, 0x4e, 0x5f, 0x60, 0x71, 0x8a}};

// The memory allocator, except that it can attach a media type to the next
// buffer it hands out.
class SwitchingAllocator final : public testbed::ComObject, public IMemAllocator {
public:
    explicit SwitchingAllocator(IMemAllocator* inner) : inner_(inner) {}
    TESTBED_IUNKNOWN

    void Attach(const AM_MEDIA_TYPE& mt) {
        std::lock_guard<std::mutex> hold(lock_);
        pending_ = MediaType(mt);
        has_pending_ = true;
    }

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        return inner_->SetProperties(request, actual);
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override { return inner_->GetProperties(props); }
    STDMETHODIMP Commit() override { return inner_->Commit(); }
    STDMETHODIMP Decommit() override { return inner_->Decommit(); }
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override { return inner_->ReleaseBuffer(sample); }
    STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override {
        HRESULT hr = inner_->GetBuffer(sample, start, stop, flags);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> hold(lock_);
        if (has_pending_) {
            (*sample)->SetMediaType(const_cast<AM_MEDIA_TYPE*>(&pending_.Get()));
            has_pending_ = false;
        }
        return hr;
    }

protected:
    void* Interface(REFIID iid) override {
        if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IMemAllocator))
            return static_cast<IMemAllocator*>(this);
        return nullptr;
    }

private:
    ComPtr<IMemAllocator> inner_;
    std::mutex lock_;
    MediaType pending_;
    bool has_pending_ = false;
};

}  // namespace

MediaType VideoInfoType(const GUID& subtype, int w, int h, WORD bits, DWORD compression, REFERENCE_TIME frame) {
    const bool masks = compression == BI_BITFIELDS;
    MediaType mt;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype;
    mt->formattype = FORMAT_VideoInfo;
    mt->bFixedSizeSamples = TRUE;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(
        mt.AllocFormat(static_cast<ULONG>(sizeof(VIDEOINFOHEADER) + (masks ? 12 : 0))));
    vih->AvgTimePerFrame = frame;
    BITMAPINFOHEADER& bih = vih->bmiHeader;
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = bits;
    bih.biCompression = compression;
    bih.biSizeImage = static_cast<DWORD>(((w * bits + 31) / 32) * 4 * (h < 0 ? -h : h));
    if (masks) {
        const DWORD m[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(vih + 1, m, sizeof m);
    }
    mt->lSampleSize = bih.biSizeImage;
    return mt;
}

MediaType RgbVideoType(const GUID& subtype, int w, int h) {
    const bool masks = IsEqualGUID(subtype, MEDIASUBTYPE_RGB565) != 0;
    const WORD bits = IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)   ? 32
                      : IsEqualGUID(subtype, MEDIASUBTYPE_RGB24) ? 24
                                                                 : 16;
    return VideoInfoType(subtype, w, h, bits, masks ? BI_BITFIELDS : BI_RGB);
}

MediaType PcmType(int rate, int channels, int bits) {
    const int block = channels * bits / 8;
    MediaType mt;
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->formattype = FORMAT_WaveFormatEx;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = static_cast<ULONG>(block);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormat(sizeof(WAVEFORMATEX)));
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = static_cast<WORD>(channels);
    wfx->nSamplesPerSec = static_cast<DWORD>(rate);
    wfx->nBlockAlign = static_cast<WORD>(block);
    wfx->nAvgBytesPerSec = static_cast<DWORD>(rate * block);
    wfx->wBitsPerSample = static_cast<WORD>(bits);
    return mt;
}

// --- PushSource ---

PushPin::PushPin(PushSource& filter, const PinOffer& offer, const MediaType& type, long buffer_size)
    : OutputPin(filter, offer.name), category_(offer.category), type_(type), buffer_size_(buffer_size) {}

void* PushPin::Interface(REFIID iid) {
    if (category_ && IsEqualGUID(iid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
    return OutputPin::Interface(iid);
}

STDMETHODIMP PushPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size, DWORD* returned) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data || size < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(data, category_, sizeof(GUID));
    if (returned) *returned = sizeof(GUID);
    return S_OK;
}

STDMETHODIMP PushPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT PushPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    return testbed::SameMediaType(mt, type_.Get()) ? S_OK : S_FALSE;
}

HRESULT PushPin::GetMediaType(unsigned index, MediaType* out) {
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    *out = type_;
    return S_OK;
}

HRESULT PushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    ALLOCATOR_PROPERTIES want = *request, actual = {};
    want.cBuffers = want.cBuffers > 2 ? want.cBuffers : 2;
    want.cbBuffer = want.cbBuffer > buffer_size_ ? want.cbBuffer : buffer_size_;
    want.cbAlign = want.cbAlign > 1 ? want.cbAlign : 1;
    HRESULT hr = allocator->SetProperties(&want, &actual);
    return FAILED(hr) ? hr : actual.cbBuffer < buffer_size_ ? E_FAIL : S_OK;
}

HRESULT PushPin::Push(const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop,
                      const PushFlags& flags) {
    ComPtr<IMediaSample> sample;
    HRESULT hr = GetDeliveryBuffer(sample.Put(), 0);
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    if (FAILED(hr = sample->GetPointer(&buffer))) return hr;
    if (size > static_cast<size_t>(sample->GetSize())) return E_INVALIDARG;
    std::memcpy(buffer, data, size);
    sample->SetActualDataLength(static_cast<long>(size));
    sample->SetTime(&start, &stop);
    if (flags.with_media_time) {
        LONGLONG media_start = flags.media_start, media_stop = flags.media_stop;
        sample->SetMediaTime(&media_start, &media_stop);
    }
    sample->SetSyncPoint(flags.sync);
    sample->SetPreroll(flags.preroll);
    sample->SetDiscontinuity(flags.discontinuity);
    if (flags.attach) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(flags.attach));
    last_sample_ = sample.Get();
    ++receives_entered_;
    return Deliver(sample.Get());
}

PushSource::PushSource(const MediaType& type, long buffer_size, const std::vector<PinOffer>& pins)
    : Filter(kPushSourceClsid), frame_bytes_(static_cast<long>(type->lSampleSize)) {
    for (const PinOffer& offer : pins) pins_.push_back(std::make_unique<PushPin>(*this, offer, type, buffer_size));
}

void* PushSource::Interface(REFIID iid) {
    if (IsEqualGUID(iid, IID_IAMDroppedFrames)) return static_cast<IAMDroppedFrames*>(this);
    return Filter::Interface(iid);
}

HRESULT PushSource::PushTo(size_t pin, const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop,
                           const PushFlags& flags) {
    if (pin >= pins_.size()) return E_INVALIDARG;
    const HRESULT hr = pins_[pin]->Push(data, size, start, stop, flags);
    if (hr == S_OK) ++delivered_;
    return hr;
}

STDMETHODIMP PushSource::GetNumDropped(long* count) {
    if (!count) return E_POINTER;
    *count = dropped_;
    return S_OK;
}

STDMETHODIMP PushSource::GetNumNotDropped(long* count) {
    if (!count) return E_POINTER;
    *count = delivered_;
    return S_OK;
}

STDMETHODIMP PushSource::GetDroppedInfo(long, long*, long* copied) {
    if (!copied) return E_POINTER;
    *copied = 0;
    return S_OK;
}

STDMETHODIMP PushSource::GetAverageFrameSize(long* size) {
    if (!size) return E_POINTER;
    *size = frame_bytes_;
    return S_OK;
}

// --- RecordingSink ---

RecordingPin::RecordingPin(RecordingSink& sink) : InputPin(sink, L"In"), sink_(sink) {}

HRESULT RecordingPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    return sink_.accept_all_ || testbed::MatchesPartial(mt, sink_.accept_.Get()) ? S_OK : S_FALSE;
}

STDMETHODIMP RecordingPin::BeginFlush() {
    InputPin::BeginFlush();
    std::lock_guard<std::mutex> hold(sink_.lock_);
    ++sink_.begin_flush_;
    return S_OK;
}

STDMETHODIMP RecordingPin::EndFlush() {
    InputPin::EndFlush();
    std::lock_guard<std::mutex> hold(sink_.lock_);
    ++sink_.end_flush_;
    return S_OK;
}

STDMETHODIMP RecordingPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    std::lock_guard<std::mutex> hold(sink_.lock_);
    ++sink_.segments_;
    return S_OK;
}

HRESULT RecordingPin::OnEndOfStream() {
    std::lock_guard<std::mutex> hold(sink_.lock_);
    ++sink_.eos_;
    return S_OK;
}

STDMETHODIMP RecordingPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    Hold hold(Owner().Lock());
    if (!sink_.own_allocator_) {
        HRESULT hr = InputPin::GetAllocator(allocator);
        if (SUCCEEDED(hr)) sink_.handed_out_ = *allocator;
        return hr;
    }
    if (!sink_.switching_allocator_) {
        ComPtr<IMemAllocator> inner;
        HRESULT hr = InputPin::GetAllocator(inner.Put());
        if (FAILED(hr)) return hr;
        auto* own = new (std::nothrow) SwitchingAllocator(inner.Get());
        if (!own) return E_OUTOFMEMORY;
        sink_.switching_allocator_ = ComPtr<IMemAllocator>::Adopt(own);
    }
    sink_.handed_out_ = sink_.switching_allocator_.Get();
    return testbed::CopyOut(sink_.switching_allocator_.Get(), allocator) == S_OK ? S_OK : E_FAIL;
}

STDMETHODIMP RecordingPin::NotifyAllocator(IMemAllocator* allocator, BOOL read_only) {
    Hold hold(Owner().Lock());
    if (sink_.insist_ && allocator != sink_.handed_out_) return E_FAIL;
    HRESULT hr = InputPin::NotifyAllocator(allocator, read_only);
    if (SUCCEEDED(hr)) {
        sink_.notified_ = allocator;
        sink_.notified_read_only_ = read_only != FALSE;
    }
    return hr;
}

STDMETHODIMP RecordingPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    if (sink_.required_buffer_ <= 0) return E_NOTIMPL;
    *props = ALLOCATOR_PROPERTIES{1, sink_.required_buffer_, 1, 0};
    return S_OK;
}

HRESULT RecordingPin::AskUpstream(const AM_MEDIA_TYPE& mt) {
    testbed::ComPtr<IPin> peer;
    if (ConnectedTo(peer.Put()) != S_OK) return VFW_E_NOT_CONNECTED;
    return peer->QueryAccept(&mt);
}

HRESULT RecordingPin::OnReceive(IMediaSample* sample) {
    sink_.Record(sample);
    return S_OK;
}

RecordingSink::RecordingSink(const AM_MEDIA_TYPE* accept)
    : Filter(kRecordingSinkClsid),
      pin_(*this),
      accept_all_(accept == nullptr),
      arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (accept) accept_ = MediaType(*accept);
}

RecordingSink::~RecordingSink() { CloseHandle(arrived_); }

void RecordingSink::AttachToNextBuffer(const AM_MEDIA_TYPE& mt) {
    Hold hold(Lock());
    if (switching_allocator_) static_cast<SwitchingAllocator*>(switching_allocator_.Get())->Attach(mt);
}

void RecordingSink::Record(IMediaSample* sample) {
    Received r;
    BYTE* data = nullptr;
    const long length = sample->GetActualDataLength();
    if (SUCCEEDED(sample->GetPointer(&data)) && length > 0) r.data.assign(data, data + length);
    r.buffer_size = sample->GetSize();
    r.object = sample;
    r.time_result = sample->GetTime(&r.start, &r.stop);
    r.has_media_time = sample->GetMediaTime(&r.media_start, &r.media_stop) == S_OK;
    r.sync = sample->IsSyncPoint() == S_OK;
    r.preroll = sample->IsPreroll() == S_OK;
    r.discontinuity = sample->IsDiscontinuity() == S_OK;
    AM_MEDIA_TYPE* mt = nullptr;
    if (sample->GetMediaType(&mt) == S_OK && mt) {
        r.has_type = true;
        r.type = MediaType(*mt);
        testbed::DeleteMediaType(mt);
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        samples_.push_back(std::move(r));
    }
    SetEvent(arrived_);
}

IMemAllocator* RecordingSink::NotifiedAllocator() {
    Hold hold(Lock());
    return notified_;
}

bool RecordingSink::NotifiedReadOnly() {
    Hold hold(Lock());
    return notified_read_only_;
}

IMemAllocator* RecordingSink::OwnAllocator() {
    Hold hold(Lock());
    return handed_out_;
}

size_t RecordingSink::Count() {
    std::lock_guard<std::mutex> hold(lock_);
    return samples_.size();
}

std::vector<Received> RecordingSink::Samples() {
    std::lock_guard<std::mutex> hold(lock_);
    return samples_;
}

bool RecordingSink::WaitForCount(size_t count, DWORD timeout_ms) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    while (Count() < count) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        WaitForSingleObject(arrived_, static_cast<DWORD>(end - now));
    }
    return true;
}

int RecordingSink::EndOfStreams() {
    std::lock_guard<std::mutex> hold(lock_);
    return eos_;
}
int RecordingSink::BeginFlushes() {
    std::lock_guard<std::mutex> hold(lock_);
    return begin_flush_;
}
int RecordingSink::EndFlushes() {
    std::lock_guard<std::mutex> hold(lock_);
    return end_flush_;
}
int RecordingSink::Segments() {
    std::lock_guard<std::mutex> hold(lock_);
    return segments_;
}

}  // namespace fernwood::test
