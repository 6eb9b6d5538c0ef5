#include "testbed/common/pin.h"

#include <cwchar>
#include <utility>

#include "testbed/common/enumerators.h"

namespace testbed {

using Hold = std::lock_guard<std::recursive_mutex>;

Pin::Pin(Filter& filter, PIN_DIRECTION dir, std::wstring name)
    : filter_(filter), dir_(dir), name_(std::move(name)) {
  if (name_.size() >= MAX_PIN_NAME) name_.resize(MAX_PIN_NAME - 1);
}

void* Pin::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IPin))
    return static_cast<IPin*>(this);
  return nullptr;
}

STDMETHODIMP Pin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = Interface(iid);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Pin::AddRef() { return filter_.AddRef(); }

STDMETHODIMP_(ULONG) Pin::Release() { return filter_.Release(); }

STDMETHODIMP Pin::Connect(IPin* peer, const AM_MEDIA_TYPE* mt) {
  (void)peer;
  (void)mt;
  return E_UNEXPECTED;
}

STDMETHODIMP Pin::ReceiveConnection(IPin* peer, const AM_MEDIA_TYPE* mt) {
  (void)peer;
  (void)mt;
  return E_UNEXPECTED;
}

STDMETHODIMP Pin::Disconnect() {
  Hold hold(filter_.Lock());
  if (filter_.CurrentState() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!peer_) return S_FALSE;
  BreakConnect();
  peer_.Reset();
  mt_ = MediaType();
  return S_OK;
}

STDMETHODIMP Pin::ConnectedTo(IPin** peer) {
  if (!peer) return E_POINTER;
  Hold hold(filter_.Lock());
  CopyOut(peer_.Get(), peer);
  return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP Pin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  Hold hold(filter_.Lock());
  if (!peer_) {
    *mt = AM_MEDIA_TYPE();
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mt, mt_.Get());
}

STDMETHODIMP Pin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = dir_;
  std::wmemcpy(info->achName, name_.c_str(), name_.size() + 1);
  return S_OK;
}

STDMETHODIMP Pin::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = dir_;
  return S_OK;
}

STDMETHODIMP Pin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::wmemcpy(*id, name_.c_str(), name_.size() + 1);
  return S_OK;
}

STDMETHODIMP Pin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  return CheckMediaType(*mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP Pin::EnumMediaTypes(IEnumMediaTypes** types) {
  return CreateMediaTypeEnumerator(*this, types);
}

STDMETHODIMP Pin::QueryInternalConnections(IPin** pins, ULONG* count) {
  (void)pins;
  (void)count;
  return E_NOTIMPL;
}

STDMETHODIMP Pin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP Pin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP Pin::EndFlush() { return E_UNEXPECTED; }

STDMETHODIMP Pin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  (void)start;
  (void)stop;
  (void)rate;
  return E_UNEXPECTED;
}

bool Pin::IsConnected() {
  Hold hold(filter_.Lock());
  return static_cast<bool>(peer_);
}

MediaType Pin::ConnectionType() {
  Hold hold(filter_.Lock());
  return mt_;
}

void Pin::AdoptType(const AM_MEDIA_TYPE& mt) {
  Hold hold(filter_.Lock());
  mt_ = MediaType(mt);
}

OutputPin::OutputPin(Filter& filter, std::wstring name)
    : Pin(filter, PINDIR_OUTPUT, std::move(name)) {}

STDMETHODIMP OutputPin::Connect(IPin* peer, const AM_MEDIA_TYPE* mt) {
  if (!peer) return E_POINTER;
  Hold hold(Owner().Lock());
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  if (Owner().CurrentState() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (mt && IsFullySpecified(*mt)) return TryMediaType(peer, *mt);
  bool connected = PeerTypesFirst()
                       ? TryPeerTypes(peer, mt) == S_OK || TryOwnTypes(peer, mt) == S_OK
                       : TryOwnTypes(peer, mt) == S_OK || TryPeerTypes(peer, mt) == S_OK;
  return connected ? S_OK : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::TryOwnTypes(IPin* peer, const AM_MEDIA_TYPE* partial) {
  MediaType mt;
  for (unsigned i = 0; ProposedType(i, &mt) == S_OK; ++i) {
    if (partial && !MatchesPartial(mt.Get(), *partial)) continue;
    if (TryMediaType(peer, mt.Get()) == S_OK) return S_OK;
  }
  return S_FALSE;
}

HRESULT OutputPin::TryPeerTypes(IPin* peer, const AM_MEDIA_TYPE* partial) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(peer->EnumMediaTypes(types.Put()))) return S_FALSE;
  AM_MEDIA_TYPE* mt = nullptr;
  while (types->Next(1, &mt, nullptr) == S_OK) {
    bool wanted = !partial || MatchesPartial(*mt, *partial);
    HRESULT hr = wanted ? TryMediaType(peer, *mt) : S_FALSE;
    DeleteMediaType(mt);
    if (hr == S_OK) return S_OK;
  }
  return S_FALSE;
}

HRESULT OutputPin::TryMediaType(IPin* peer, const AM_MEDIA_TYPE& mt) {
  if (CheckMediaType(mt) != S_OK) return TypeRefused(mt);
  peer_ = peer;
  mt_ = MediaType(mt);
  HRESULT hr = peer->ReceiveConnection(this, &mt);
  if (SUCCEEDED(hr)) {
    ComPtr<IMemInputPin> input;
    hr = peer->QueryInterface(IID_IMemInputPin, input.PutVoid());
    if (FAILED(hr)) hr = VFW_E_NO_TRANSPORT;
    if (SUCCEEDED(hr)) hr = DecideAllocator(input.Get());
    if (SUCCEEDED(hr)) mem_input_ = input;
    if (SUCCEEDED(hr)) hr = CompleteConnect(peer);
    if (FAILED(hr)) peer->Disconnect();
  }
  if (FAILED(hr)) {
    mem_input_.Reset();
    allocator_.Reset();
    peer_.Reset();
    mt_ = MediaType();
    return hr;
  }
  return S_OK;
}

HRESULT OutputPin::DecideAllocator(IMemInputPin* input) {
  ALLOCATOR_PROPERTIES request = {};
  input->GetAllocatorRequirements(&request);
  ComPtr<IMemAllocator> allocator;
  if (TakesPeerAllocator() && SUCCEEDED(input->GetAllocator(allocator.Put())) &&
      SUCCEEDED(OfferAllocator(input, allocator.Get(), request)))
    return S_OK;
  HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IMemAllocator, allocator.PutVoid());
  if (FAILED(hr)) return hr;
  return OfferAllocator(input, allocator.Get(), request);
}

HRESULT OutputPin::OfferAllocator(IMemInputPin* input, IMemAllocator* allocator,
                                  ALLOCATOR_PROPERTIES request) {
  HRESULT hr = DecideBufferSize(allocator, &request);
  if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, FALSE);
  if (SUCCEEDED(hr)) allocator_ = allocator;
  return hr;
}

STDMETHODIMP OutputPin::Disconnect() {
  Hold hold(Owner().Lock());
  HRESULT hr = Pin::Disconnect();
  if (hr == S_OK) {
    if (allocator_) allocator_->Decommit();
    allocator_.Reset();
    mem_input_.Reset();
  }
  return hr;
}

HRESULT OutputPin::Activate() {
  Hold hold(Owner().Lock());
  return allocator_ ? allocator_->Commit() : S_OK;
}

void OutputPin::Deactivate() {
  Hold hold(Owner().Lock());
  if (allocator_) allocator_->Decommit();
}

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample** sample, DWORD flags) {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, nullptr, nullptr, flags);
}

HRESULT OutputPin::Deliver(IMediaSample* sample) {
  if (!mem_input_) return VFW_E_NOT_CONNECTED;
  return mem_input_->Receive(sample);
}

HRESULT OutputPin::CheckPeerAccepts(const AM_MEDIA_TYPE& mt) {
  Hold hold(Owner().Lock());
  if (!peer_ || SameMediaType(mt_.Get(), mt)) return S_OK;
  return peer_->QueryAccept(&mt) == S_OK ? S_OK : VFW_E_INVALIDMEDIATYPE;
}

HRESULT OutputPin::ReconnectIfChanged(const AM_MEDIA_TYPE& mt) {
  Hold hold(Owner().Lock());
  if (!peer_ || SameMediaType(mt_.Get(), mt)) return S_OK;
  IFilterGraph* graph = Owner().Graph();
  if (!graph) return VFW_E_NOT_IN_GRAPH;
  // With the type given, the new connection cannot fall back on another one.
  ComPtr<IFilterGraph2> graph2;
  if (SUCCEEDED(graph->QueryInterface(IID_IFilterGraph2, graph2.PutVoid())))
    return graph2->ReconnectEx(this, &mt);
  return graph->Reconnect(this);
}

HRESULT OutputPin::AllocatorProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  Hold hold(Owner().Lock());
  if (!peer_ || !allocator_) return VFW_E_NOT_CONNECTED;
  return allocator_->GetProperties(props);
}

HRESULT OutputPin::DeliverEndOfStream() {
  if (!peer_) return VFW_E_NOT_CONNECTED;
  return peer_->EndOfStream();
}

InputPin::InputPin(Filter& filter, std::wstring name)
    : Pin(filter, PINDIR_INPUT, std::move(name)) {}

void* InputPin::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IMemInputPin)) return static_cast<IMemInputPin*>(this);
  return Pin::Interface(iid);
}

STDMETHODIMP InputPin::ReceiveConnection(IPin* peer, const AM_MEDIA_TYPE* mt) {
  if (!peer || !mt) return E_POINTER;
  Hold hold(Owner().Lock());
  if (Owner().CurrentState() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  PIN_DIRECTION dir;
  if (FAILED(peer->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  if (CheckMediaType(*mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  peer_ = peer;
  mt_ = MediaType(*mt);
  HRESULT hr = CompleteConnect(peer);
  if (FAILED(hr)) {
    peer_.Reset();
    mt_ = MediaType();
  }
  return hr;
}

STDMETHODIMP InputPin::Disconnect() {
  Hold hold(Owner().Lock());
  HRESULT hr = Pin::Disconnect();
  if (hr == S_OK) allocator_.Reset();
  return hr;
}

STDMETHODIMP InputPin::EndOfStream() { return OnEndOfStream(); }

STDMETHODIMP InputPin::BeginFlush() {
  Hold hold(Owner().Lock());
  flushing_ = true;
  return S_OK;
}

STDMETHODIMP InputPin::EndFlush() {
  Hold hold(Owner().Lock());
  flushing_ = false;
  return S_OK;
}

bool InputPin::Flushing() {
  Hold hold(Owner().Lock());
  return flushing_;
}

STDMETHODIMP InputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  (void)start;
  (void)stop;
  (void)rate;
  return S_OK;
}

STDMETHODIMP InputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  Hold hold(Owner().Lock());
  if (!allocator_) {
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IMemAllocator, allocator_.PutVoid());
    if (FAILED(hr)) return hr;
  }
  CopyOut(allocator_.Get(), allocator);
  return S_OK;
}

STDMETHODIMP InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL read_only) {
  (void)read_only;
  if (!allocator) return E_POINTER;
  Hold hold(Owner().Lock());
  allocator_ = allocator;
  return S_OK;
}

STDMETHODIMP InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
  (void)props;
  return E_NOTIMPL;
}

STDMETHODIMP InputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  {
    Hold hold(Owner().Lock());
    if (Owner().CurrentState() == State_Stopped) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
  }
  return OnReceive(sample);
}

STDMETHODIMP InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (!samples || !processed) return E_POINTER;
  HRESULT hr = S_OK;
  for (*processed = 0; *processed < count; ++*processed) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
  }
  return hr;
}

STDMETHODIMP InputPin::ReceiveCanBlock() { return S_FALSE; }

HRESULT SetAllocatorAtLeast(IMemAllocator* allocator, ALLOCATOR_PROPERTIES want, long min_bytes) {
  if (want.cBuffers < 1) want.cBuffers = 1;
  if (want.cbBuffer < min_bytes) want.cbBuffer = min_bytes;
  if (want.cbAlign < 1) want.cbAlign = 1;
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= min_bytes ? S_OK : E_FAIL;
}

}  // namespace testbed
