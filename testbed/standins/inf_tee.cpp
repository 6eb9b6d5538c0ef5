// The Infinite Pin Tee stand-in. Every sample that reaches the input goes to
// each connected output, in pin order on the caller's thread, as the very
// same sample object: the input's allocator is offered to every output's
// peer read-only, as the InfTee sample of the DirectShow SDK shares it, so a
// peer that keeps samples keeps them from the source too. A peer that
// refuses a read-only allocator (one that insists on its own) gets copies in
// its own buffers instead. A branch
// that fails does not stop the others.
//
// Outputs carry exactly the input's connection type. While an output is
// connected the input accepts only that same type again, so a reconnection
// of the input can never leave outputs with a type they did not agree to.
// There is always exactly one free output: connecting the free one adds
// another, and a disconnection that leaves two free ones removes the
// disconnected one. A removed pin's object lives on, unlisted, until the
// filter goes, since callers may still hold it.
#include "inf_tee.h"
#include "standins_module.h"

#include <dshow.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "pass_through.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"
#include "testbed/common/server.h"

namespace fernwood {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

class InfTee;

// What the streaming thread needs of one connected output, held by reference
// so that a disconnection on another thread cannot pull it away mid-sample.
struct Route {
    ComPtr<IPin> peer;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> copies;  // null: the peer takes the input's samples as they are
};

class TeeInput final : public ForwardingInputPin {
public:
    explicit TeeInput(InfTee& tee);

    STDMETHODIMP ReceiveCanBlock() override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(unsigned, MediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    ALLOCATOR_PROPERTIES AllocatorProperties();
    // The allocator the upstream pin delivers from, once it has said so.
    ComPtr<IMemAllocator> SharedAllocator();

protected:
    HRESULT OnReceive(IMediaSample* sample) override;
    void BreakConnect() override;
    std::vector<ComPtr<IPin>> Downstream() override;
    bool PassesEndOfStream() override;

private:
    InfTee& tee_;
    ComPtr<IMemAllocator> shared_;  // guarded by the filter lock
};

class TeeOutput final : public ForwardingOutputPin {
public:
    TeeOutput(InfTee& tee, TeeInput& input, unsigned number);

    STDMETHODIMP Connect(IPin* peer, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(unsigned index, MediaType* out) override;
    HRESULT Activate() override;

    // Called with the filter lock held.
    Route MakeRoute() const { return {peer_, route_input_, shared_ ? nullptr : own_allocator_}; }

protected:
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;

private:
    HRESULT FitAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& request);
    HRESULT ShareInputAllocator();

    InfTee& tee_;
    TeeInput& input_;
    ComPtr<IMemInputPin> route_input_;
    ComPtr<IMemAllocator> own_allocator_;  // negotiated with the peer; used for copies only
    ComPtr<IMemAllocator> offered_;        // the input's allocator as last offered to the peer
    ComPtr<IMemAllocator> shared_;         // the same, when the peer took it
};

class InfTee final : public testbed::Filter {
public:
    InfTee() : Filter(CLSID_InfTee), input_(*this) { AddOutput(); }

    testbed::Pin* PinAt(unsigned index) override {
        Hold hold(Lock());
        if (index == 0) return &input_;
        return index <= outputs_.size() ? outputs_[index - 1].get() : nullptr;
    }

    // Called with the filter lock held.
    void AddOutput() { outputs_.push_back(std::make_unique<TeeOutput>(*this, input_, next_number_++)); }
    void RemoveOutput(TeeOutput* output);
    unsigned FreeOutputs();
    void RebuildRoutes();
    bool AnyOutputConnected(MediaType* type);

    std::vector<Route> Routes() {
        std::lock_guard<std::mutex> hold(routes_lock_);
        return routes_;
    }

private:
    TeeInput input_;
    std::vector<std::unique_ptr<TeeOutput>> outputs_;
    std::vector<std::unique_ptr<TeeOutput>> removed_;
    unsigned next_number_ = 1;
    std::mutex routes_lock_;
    std::vector<Route> routes_;
};

// A copy of the sample in a buffer of the peer's own allocator.
HRESULT DeliverCopy(const Route& route, IMediaSample* sample) {
    BYTE* src = nullptr;
    HRESULT hr = sample->GetPointer(&src);
    if (FAILED(hr)) return hr;
    const long length = sample->GetActualDataLength();
    ComPtr<IMediaSample> copy;
    if (FAILED(hr = route.copies->GetBuffer(copy.Put(), nullptr, nullptr, 0))) return hr;
    BYTE* dst = nullptr;
    if (FAILED(hr = copy->GetPointer(&dst))) return hr;
    if (length < 0 || length > copy->GetSize()) return VFW_E_BUFFER_OVERFLOW;
    std::memcpy(dst, src, static_cast<size_t>(length));
    copy->SetActualDataLength(length);
    CopySampleProperties(sample, copy.Get());
    AM_MEDIA_TYPE* type = nullptr;
    if (sample->GetMediaType(&type) == S_OK && type) {
        copy->SetMediaType(type);
        testbed::DeleteMediaType(type);
    }
    return route.input->Receive(copy.Get());
}

HRESULT DeliverTo(const Route& route, IMediaSample* sample) {
    return route.copies ? DeliverCopy(route, sample) : route.input->Receive(sample);
}

// --- TeeInput ---

// A branch's trouble is not the source's: the others go on and upstream hears S_OK.
TeeInput::TeeInput(InfTee& tee) : ForwardingInputPin(tee, L"Input", Answer::kOwn), tee_(tee) {}

STDMETHODIMP TeeInput::NotifyAllocator(IMemAllocator* allocator, BOOL read_only) {
    HRESULT hr = InputPin::NotifyAllocator(allocator, read_only);
    if (SUCCEEDED(hr)) {
        Hold hold(Owner().Lock());
        shared_ = allocator;
    }
    return hr;
}

ComPtr<IMemAllocator> TeeInput::SharedAllocator() {
    Hold hold(Owner().Lock());
    return shared_;
}

void TeeInput::BreakConnect() { shared_.Reset(); }

HRESULT TeeInput::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    MediaType outputs;
    if (!tee_.AnyOutputConnected(&outputs)) return S_OK;
    return testbed::SameMediaType(outputs.Get(), mt) ? S_OK : S_FALSE;
}

ALLOCATOR_PROPERTIES TeeInput::AllocatorProperties() {
    ALLOCATOR_PROPERTIES props = {};
    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(GetAllocator(allocator.Put()))) allocator->GetProperties(&props);
    return props;
}

HRESULT TeeInput::OnReceive(IMediaSample* sample) {
    for (const Route& route : tee_.Routes()) DeliverTo(route, sample);
    return S_OK;
}

std::vector<ComPtr<IPin>> TeeInput::Downstream() {
    std::vector<ComPtr<IPin>> peers;
    for (const Route& route : tee_.Routes()) peers.push_back(route.peer);
    return peers;
}

// End of stream is passed on only while streaming and not flushing.
bool TeeInput::PassesEndOfStream() {
    Hold hold(Owner().Lock());
    return !Flushing() && Owner().CurrentState() != State_Stopped;
}

STDMETHODIMP TeeInput::ReceiveCanBlock() {
    for (const Route& route : tee_.Routes())
        if (route.input->ReceiveCanBlock() != S_FALSE) return S_OK;
    return S_FALSE;
}

// --- TeeOutput ---

TeeOutput::TeeOutput(InfTee& tee, TeeInput& input, unsigned number)
    : ForwardingOutputPin(tee, L"Output" + std::to_wstring(number), input), tee_(tee), input_(input) {}

STDMETHODIMP TeeOutput::Connect(IPin* peer, const AM_MEDIA_TYPE* mt) {
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    return OutputPin::Connect(peer, mt);
}

STDMETHODIMP TeeOutput::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    *types = nullptr;
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    return OutputPin::EnumMediaTypes(types);
}

HRESULT TeeOutput::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
    return testbed::SameMediaType(input_.ConnectionType().Get(), mt) ? S_OK : S_FALSE;
}

HRESULT TeeOutput::GetMediaType(unsigned index, MediaType* out) {
    if (index > 0 || !input_.IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *out = input_.ConnectionType();
    return S_OK;
}

// Buffers for copies are sized like the input's, so any sample that fits the
// input fits them.
HRESULT TeeOutput::FitAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& request) {
    ALLOCATOR_PROPERTIES want = input_.AllocatorProperties();
    if (want.cbBuffer <= 0) want.cbBuffer = std::max<long>(1, static_cast<long>(input_.ConnectionType()->lSampleSize));
    want.cBuffers = std::max({want.cBuffers, request.cBuffers, 1L});
    want.cbBuffer = std::max(want.cbBuffer, request.cbBuffer);
    want.cbAlign = std::max({want.cbAlign, request.cbAlign, 1L});
    want.cbPrefix = std::max(want.cbPrefix, request.cbPrefix);
    return testbed::SetAllocatorAtLeast(allocator, want, want.cbBuffer);
}

// The allocator of the peer's own choosing, kept for copies; the peer is
// offered the input's allocator once the connection stands.
HRESULT TeeOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    HRESULT hr = FitAllocator(allocator, *request);
    if (SUCCEEDED(hr)) own_allocator_ = allocator;
    return hr;
}

// The peer gets the input's samples themselves if it takes the input's
// allocator read-only; otherwise it keeps its own and gets copies.
HRESULT TeeOutput::ShareInputAllocator() {
    ComPtr<IMemAllocator> shared = input_.SharedAllocator();
    if (shared.Get() == offered_.Get()) return S_OK;
    offered_ = shared;
    shared_.Reset();
    if (shared && SUCCEEDED(route_input_->NotifyAllocator(shared.Get(), TRUE))) {
        shared_ = shared;
        return S_OK;
    }
    return own_allocator_ ? route_input_->NotifyAllocator(own_allocator_.Get(), FALSE) : VFW_E_NO_ALLOCATOR;
}

// The input's allocator may have changed since this output connected.
HRESULT TeeOutput::Activate() {
    Hold hold(Owner().Lock());
    if (!route_input_) return S_OK;
    HRESULT hr = ShareInputAllocator();
    tee_.RebuildRoutes();
    if (FAILED(hr) || shared_) return hr;
    ALLOCATOR_PROPERTIES current = {};
    own_allocator_->GetProperties(&current);
    if (FAILED(hr = FitAllocator(own_allocator_.Get(), current))) return hr;
    return OutputPin::Activate();
}

HRESULT TeeOutput::CompleteConnect(IPin* peer) {
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, route_input_.PutVoid());
    if (SUCCEEDED(hr)) hr = ShareInputAllocator();
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    tee_.AddOutput();
    tee_.RebuildRoutes();
    return S_OK;
}

void TeeOutput::BreakConnect() {
    route_input_.Reset();
    own_allocator_.Reset();
    offered_.Reset();
    shared_.Reset();
}

STDMETHODIMP TeeOutput::Disconnect() {
    Hold hold(Owner().Lock());
    HRESULT hr = OutputPin::Disconnect();
    if (hr == S_OK && tee_.FreeOutputs() >= 2) tee_.RemoveOutput(this);
    return hr;
}

// --- InfTee ---

void InfTee::RemoveOutput(TeeOutput* output) {
    auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const auto& o) { return o.get() == output; });
    if (it == outputs_.end()) return;
    removed_.push_back(std::move(*it));
    outputs_.erase(it);
    RebuildRoutes();
}

unsigned InfTee::FreeOutputs() {
    unsigned free = 0;
    for (const auto& output : outputs_) free += output->IsConnected() ? 0 : 1;
    return free;
}

void InfTee::RebuildRoutes() {
    std::vector<Route> routes;
    for (const auto& output : outputs_)
        if (output->IsConnected()) routes.push_back(output->MakeRoute());
    std::lock_guard<std::mutex> hold(routes_lock_);
    routes_.swap(routes);
}

bool InfTee::AnyOutputConnected(MediaType* type) {
    Hold hold(Lock());
    for (const auto& output : outputs_) {
        if (output->IsConnected()) {
            *type = output->ConnectionType();
            return true;
        }
    }
    return false;
}

const REGPINTYPES kAnyType[] = {{&GUID_NULL, &GUID_NULL}};
const REGFILTERPINS2 kTeePins[] = {{0, 1, 1, kAnyType, 0, nullptr, nullptr},
                                   {REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_MANY, 1, 1, kAnyType, 0, nullptr, nullptr}};

}  // namespace

HRESULT RegisterInfTeeFilter(bool install) {
    return RegisterLegacyFilter(install, CLSID_InfTee, L"Infinite Pin Tee Filter", MERIT_DO_NOT_USE, kTeePins);
}

HRESULT CreateInfTee(REFIID iid, void** out) { return CreateObject<InfTee>(iid, out); }

}  // namespace fernwood
