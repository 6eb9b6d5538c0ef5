#include "test_source.h"

#include "dshow_util.h"
#include "uyvy_to_rgb.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace fernwood::test {
namespace {

// {6F0B3C51-2E1D-4C7A-9B1E-5A4F3D2C1B0A}
const CLSID kTestSourceClsid = {0x6f0b3c51, 0x2e1d, 0x4c7a, {0x9b, 0x1e, 0x5a, 0x4f, 0x3d, 0x2c, 0x1b, 0x0a}};

bool CopyInto(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE* to) {
    *to = from;
    to->pUnk = nullptr;
    to->pbFormat = nullptr;
    if (from.cbFormat) {
        to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        if (!to->pbFormat) return false;
        std::memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
    }
    return true;
}

class MediaTypeEnum final : public IEnumMediaTypes {
public:
    MediaTypeEnum(IPin* owner, const AM_MEDIA_TYPE& type, ULONG pos) : owner_(owner), type_(type), pos_(pos) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
            *out = static_cast<IEnumMediaTypes*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (!left) delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (!types || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        if (count > 0 && pos_ == 0) {
            types[0] = CopyToTaskMem(type_);
            if (!types[0]) return E_OUTOFMEMORY;
            n = 1;
            pos_ = 1;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        pos_ += count;
        return pos_ <= 1 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) MediaTypeEnum(owner_.Get(), type_, pos_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::atomic<ULONG> refs_{1};
    ComPtr<IPin> owner_;  // keeps type_ alive
    const AM_MEDIA_TYPE& type_;
    ULONG pos_;
};

class PinEnum final : public IEnumPins {
public:
    PinEnum(TestSource* filter, size_t pos) : filter_(filter), pos_(pos) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
            *out = static_cast<IEnumPins*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (!left) delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < filter_->PinCount()) {
            pins[n] = filter_->Pin(pos_++);
            pins[n++]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        pos_ += count;
        return pos_ <= filter_->PinCount() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) PinEnum(filter_.Get(), pos_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::atomic<ULONG> refs_{1};
    ComPtr<TestSource> filter_;
    size_t pos_;
};

}  // namespace

VideoType::VideoType(const GUID& subtype, int width, int height, WORD bits, DWORD compression)
    : format_(sizeof(VIDEOINFOHEADER)) {
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(format_.data());
    vih->AvgTimePerFrame = 166833;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = bits;
    vih->bmiHeader.biCompression = compression;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(DibStride(width, bits) * static_cast<size_t>(height));
    mt_.majortype = MEDIATYPE_Video;
    mt_.subtype = subtype;
    mt_.bFixedSizeSamples = TRUE;
    mt_.lSampleSize = vih->bmiHeader.biSizeImage;
    mt_.formattype = FORMAT_VideoInfo;
    mt_.cbFormat = static_cast<ULONG>(format_.size());
    mt_.pbFormat = format_.data();
}

AM_MEDIA_TYPE* CopyToTaskMem(const AM_MEDIA_TYPE& mt) {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (copy && !CopyInto(mt, copy)) {
        CoTaskMemFree(copy);
        copy = nullptr;
    }
    return copy;
}

TestOutputPin::TestOutputPin(TestSource* filter, const PinSpec& pin_spec, const VideoType& type)
    : filter_(filter), spec_(pin_spec), type_(type) {}

STDMETHODIMP TestOutputPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin))
        *out = static_cast<IPin*>(this);
    else if (spec_.category && IsEqualIID(iid, IID_IKsPropertySet))
        *out = static_cast<IKsPropertySet*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// Pins live as long as their filter and count on it.
STDMETHODIMP_(ULONG) TestOutputPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) TestOutputPin::Release() { return filter_->Release(); }

bool TestOutputPin::Accepts(const AM_MEDIA_TYPE& mt) const {
    const AM_MEDIA_TYPE& own = type_.Get();
    return IsEqualGUID(mt.majortype, own.majortype) &&
           (IsEqualGUID(mt.subtype, GUID_NULL) || IsEqualGUID(mt.subtype, own.subtype)) &&
           (IsEqualGUID(mt.formattype, GUID_NULL) || IsEqualGUID(mt.formattype, own.formattype));
}

// The receiver may call back into the pin while connecting, so no lock is
// held across the calls out; connections only change on the graph's thread.
STDMETHODIMP TestOutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
    if (!receiver) return E_POINTER;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (peer_) return VFW_E_ALREADY_CONNECTED;
    }
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (mt && !Accepts(*mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (FAILED(receiver->ReceiveConnection(this, &type_.Get()))) return VFW_E_NO_ACCEPTABLE_TYPES;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    HRESULT hr = NegotiateAllocator(receiver, &input, &allocator);
    if (FAILED(hr)) {
        receiver->Disconnect();
        return hr;
    }
    std::lock_guard<std::mutex> hold(lock_);
    peer_ = ComPtr<IPin>(receiver);
    input_ = input;
    allocator_ = allocator;
    return S_OK;
}

HRESULT TestOutputPin::NegotiateAllocator(IPin* receiver, ComPtr<IMemInputPin>* input_out,
                                          ComPtr<IMemAllocator>* allocator_out) {
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    HRESULT hr = receiver->QueryInterface(IID_IMemInputPin, input.PutVoid());
    if (FAILED(hr)) return hr;
    ALLOCATOR_PROPERTIES wanted{}, actual{};
    input->GetAllocatorRequirements(&wanted);
    wanted.cBuffers = wanted.cBuffers > 2 ? wanted.cBuffers : 2;
    wanted.cbBuffer = static_cast<long>(type_.FrameBytes());
    wanted.cbAlign = wanted.cbAlign > 0 ? wanted.cbAlign : 1;
    for (int own = 0; own < 2; ++own) {
        allocator.Reset();
        hr = own ? CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                    allocator.PutVoid())
                 : input->GetAllocator(allocator.Put());
        if (SUCCEEDED(hr)) hr = allocator->SetProperties(&wanted, &actual);
        if (SUCCEEDED(hr) && actual.cbBuffer < wanted.cbBuffer) hr = E_FAIL;
        if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator.Get(), FALSE);
        if (SUCCEEDED(hr)) {
            *input_out = input;
            *allocator_out = allocator;
            return S_OK;
        }
    }
    return hr;
}

STDMETHODIMP TestOutputPin::Disconnect() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!peer_) return S_FALSE;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    peer_.Reset();
    input_.Reset();
    allocator_.Reset();
    return S_OK;
}

STDMETHODIMP TestOutputPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *pin = ComPtr<IPin>(peer_).Detach();
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP TestOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    if (!peer_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyInto(type_.Get(), mt) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TestOutputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    wcsncpy(info->achName, spec_.name, MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    return S_OK;
}

STDMETHODIMP TestOutputPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP TestOutputPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    size_t bytes = (wcslen(spec_.name) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, spec_.name, bytes);
    return S_OK;
}

STDMETHODIMP TestOutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return Accepts(*mt) ? S_OK : S_FALSE;
}

STDMETHODIMP TestOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    *types = new (std::nothrow) MediaTypeEnum(this, type_.Get(), 0);
    return *types ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TestOutputPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size, DWORD* returned) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data || size < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(data, spec_.category, sizeof(GUID));
    if (returned) *returned = sizeof(GUID);
    return S_OK;
}

STDMETHODIMP TestOutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT TestOutputPin::Active() {
    std::lock_guard<std::mutex> hold(lock_);
    discontinuity_ = true;
    return allocator_ ? allocator_->Commit() : S_OK;
}

void TestOutputPin::Inactive() {
    std::lock_guard<std::mutex> hold(lock_);
    if (allocator_) allocator_->Decommit();
}

HRESULT TestOutputPin::Deliver(const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop) {
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!peer_) return VFW_E_NOT_CONNECTED;
        allocator = allocator_;
        input = input_;
    }
    ComPtr<IMediaSample> sample;
    HRESULT hr = allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    if (FAILED(hr = sample->GetPointer(&buffer))) return hr;
    if (size > static_cast<size_t>(sample->GetSize())) return E_INVALIDARG;
    std::memcpy(buffer, data, size);
    sample->SetActualDataLength(static_cast<long>(size));
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity_);
    discontinuity_ = false;
    sample->SetTime(&start, &stop);
    return input->Receive(sample.Get());
}

TestSource::TestSource(const VideoType& type, std::vector<PinSpec> pins) : type_(type) {
    for (const auto& pin_spec : pins) pins_.push_back(std::make_unique<TestOutputPin>(this, pin_spec, type_));
}

TestSource::~TestSource() = default;

STDMETHODIMP TestSource::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter))
        *out = static_cast<IBaseFilter*>(this);
    else if (IsEqualIID(iid, IID_IAMDroppedFrames))
        *out = static_cast<IAMDroppedFrames*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) TestSource::Release() {
    ULONG left = --refs_;
    if (!left) delete this;
    return left;
}

STDMETHODIMP TestSource::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = kTestSourceClsid;
    return S_OK;
}

STDMETHODIMP TestSource::Stop() {
    for (auto& pin : pins_) pin->Inactive();
    state_ = State_Stopped;
    return S_OK;
}

STDMETHODIMP TestSource::Pause() {
    if (state_ == State_Stopped)
        for (auto& pin : pins_) {
            HRESULT hr = pin->Active();
            if (FAILED(hr)) return hr;
        }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP TestSource::Run(REFERENCE_TIME) {
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP TestSource::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    // A live source: nothing to cue while paused, so the graph need not wait.
    return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP TestSource::SetSyncSource(IReferenceClock* clock) {
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

STDMETHODIMP TestSource::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    *clock = ComPtr<IReferenceClock>(clock_).Detach();
    return S_OK;
}

STDMETHODIMP TestSource::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    *pins = new (std::nothrow) PinEnum(this, 0);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TestSource::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    for (auto& p : pins_) {
        LPWSTR own = nullptr;
        p->QueryId(&own);
        const bool match = own && wcscmp(own, id) == 0;
        CoTaskMemFree(own);
        if (match) {
            *pin = p.get();
            p->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP TestSource::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    wcsncpy(info->achName, name_, MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = 0;
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP TestSource::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    graph_ = graph;
    name_[0] = 0;
    if (name) {
        wcsncpy(name_, name, MAX_FILTER_NAME - 1);
        name_[MAX_FILTER_NAME - 1] = 0;
    }
    return S_OK;
}

STDMETHODIMP TestSource::GetNumDropped(long* count) {
    if (!count) return E_POINTER;
    *count = dropped_;
    return S_OK;
}

STDMETHODIMP TestSource::GetNumNotDropped(long* count) {
    if (!count) return E_POINTER;
    *count = delivered_;
    return S_OK;
}

STDMETHODIMP TestSource::GetDroppedInfo(long, long*, long* copied) {
    if (!copied) return E_POINTER;
    *copied = 0;
    return S_OK;
}

STDMETHODIMP TestSource::GetAverageFrameSize(long* size) {
    if (!size) return E_POINTER;
    *size = static_cast<long>(type_.FrameBytes());
    return S_OK;
}

HRESULT TestSource::Deliver(size_t pin, const void* data, size_t size, REFERENCE_TIME start,
                            REFERENCE_TIME stop) {
    if (pin >= pins_.size()) return E_INVALIDARG;
    HRESULT hr = pins_[pin]->Deliver(data, size, start, stop);
    if (hr == S_OK) ++delivered_;
    return hr;
}

}  // namespace fernwood::test
