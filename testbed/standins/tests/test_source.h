// A tiny push source for the stand-in tests: output pins with an optional
// pin category and one fixed media type each, samples pushed by the test
// itself, and frame counters through IAMDroppedFrames.
#pragma once

#include "dshow_util.h"

#include <dshow.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace fernwood::test {

// An owned AM_MEDIA_TYPE with a VIDEOINFOHEADER.
class VideoType {
public:
    VideoType(const GUID& subtype, int width, int height, WORD bits, DWORD compression);
    VideoType(const VideoType& other) : format_(other.format_), mt_(other.mt_) { mt_.pbFormat = format_.data(); }
    VideoType& operator=(const VideoType&) = delete;
    const AM_MEDIA_TYPE& Get() const { return mt_; }
    const VIDEOINFOHEADER& Info() const { return *reinterpret_cast<const VIDEOINFOHEADER*>(format_.data()); }
    size_t FrameBytes() const { return mt_.lSampleSize; }

private:
    std::vector<BYTE> format_;
    AM_MEDIA_TYPE mt_{};
};

// A CoTaskMem copy of mt, for callers that free it with DeleteMediaType.
AM_MEDIA_TYPE* CopyToTaskMem(const AM_MEDIA_TYPE& mt);

struct PinSpec {
    const wchar_t* name;
    const GUID* category;  // null: the pin offers no IKsPropertySet
};

class TestSource;

class TestOutputPin final : public IPin, public IKsPropertySet {
public:
    TestOutputPin(TestSource* filter, const PinSpec& pin_spec, const VideoType& type);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    STDMETHODIMP Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    HRESULT Active();
    void Inactive();
    HRESULT Deliver(const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop);

private:
    HRESULT NegotiateAllocator(IPin* receiver, ComPtr<IMemInputPin>* input, ComPtr<IMemAllocator>* allocator);
    bool Accepts(const AM_MEDIA_TYPE& mt) const;

    TestSource* filter_;
    PinSpec spec_;
    const VideoType& type_;
    std::mutex lock_;
    ComPtr<IPin> peer_;
    ComPtr<IMemInputPin> input_;
    ComPtr<IMemAllocator> allocator_;
    bool discontinuity_ = true;
};

class TestSource final : public IBaseFilter, public IAMDroppedFrames {
public:
    // Starts with one reference, owned by the caller.
    TestSource(const VideoType& type, std::vector<PinSpec> pins);
    ~TestSource();

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME) override;
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    STDMETHODIMP GetNumDropped(long* count) override;
    STDMETHODIMP GetNumNotDropped(long* count) override;
    STDMETHODIMP GetDroppedInfo(long, long*, long* copied) override;
    STDMETHODIMP GetAverageFrameSize(long* size) override;

    size_t PinCount() const { return pins_.size(); }
    IPin* Pin(size_t i) const { return pins_[i].get(); }
    IBaseFilter* AsFilter() { return this; }
    FILTER_STATE State() const { return state_; }
    // Pushes one frame from the test's own thread.
    HRESULT Deliver(size_t pin, const void* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop);
    void SetDroppedCount(long dropped) { dropped_ = dropped; }

private:
    std::atomic<ULONG> refs_{1};
    VideoType type_;
    std::vector<std::unique_ptr<TestOutputPin>> pins_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IFilterGraph* graph_ = nullptr;  // not a reference: the graph owns its filters
    wchar_t name_[MAX_FILTER_NAME] = {};
    ComPtr<IReferenceClock> clock_;
    std::atomic<long> delivered_{0};
    std::atomic<long> dropped_{0};
};

}  // namespace fernwood::test
