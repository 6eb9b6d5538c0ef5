// Pin bases. Pins live inside their filter and share its reference count:
// AddRef and Release on a pin go to the filter.
//
// Pin: IPin with media-type negotiation and the connection state.
// OutputPin: the connecting side; negotiates an allocator with the peer's
// IMemInputPin and delivers samples. An input pin base would derive from Pin
// and override ReceiveConnection.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>

#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/media_type.h"

namespace testbed {

class Pin : public IPin {
 public:
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;
  virtual ~Pin() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Connect(IPin* peer, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin* peer, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** peer) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  const std::wstring& Name() const { return name_; }
  PIN_DIRECTION Direction() const { return dir_; }
  Filter& Owner() { return filter_; }
  bool IsConnected();
  // The connection's media type; meaningful only while connected.
  MediaType ConnectionType();
  // A new connection type that came attached to a sample (a dynamic change).
  void AdoptType(const AM_MEDIA_TYPE& mt);

  // S_OK when the pin can carry mt, else S_FALSE or an error.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
  // The pin's preferred types in order; VFW_S_NO_MORE_ITEMS past the last.
  virtual HRESULT GetMediaType(unsigned index, MediaType* out) = 0;
  // Called by the filter on stopped -> paused and on -> stopped.
  virtual HRESULT Activate() { return S_OK; }
  virtual void Deactivate() {}

 protected:
  Pin(Filter& filter, PIN_DIRECTION dir, std::wstring name);
  // The pin's own interfaces (already cast), or nullptr.
  virtual void* Interface(REFIID iid);
  // Called with the filter lock held once the peer and type are set.
  virtual HRESULT CompleteConnect(IPin* peer) { (void)peer; return S_OK; }
  virtual void BreakConnect() {}

  // Connection state, guarded by the filter lock.
  ComPtr<IPin> peer_;
  MediaType mt_;

 private:
  Filter& filter_;
  PIN_DIRECTION dir_;
  std::wstring name_;
};

class OutputPin : public Pin {
 public:
  STDMETHODIMP Connect(IPin* peer, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;

  HRESULT Activate() override;
  void Deactivate() override;

  // A sample from the negotiated allocator (flags: AM_GBF_NOWAIT and friends).
  HRESULT GetDeliveryBuffer(IMediaSample** sample, DWORD flags);
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();

  // For IAMStreamConfig::SetFormat on a connected pin: whether the peer
  // would take mt (S_OK when unconnected or unchanged), and the graph's
  // reconnection in mt (IFilterGraph2::ReconnectEx where the graph has it).
  HRESULT CheckPeerAccepts(const AM_MEDIA_TYPE& mt);
  HRESULT ReconnectIfChanged(const AM_MEDIA_TYPE& mt);
  // The negotiated allocator's properties; VFW_E_NOT_CONNECTED without one.
  HRESULT AllocatorProperties(ALLOCATOR_PROPERTIES* props);

 protected:
  OutputPin(Filter& filter, std::wstring name);
  // Sets the allocator's properties for the connection type; request holds
  // what the peer asked for (zeroes where it did not care).
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  // The types Connect proposes, in order, before trying the peer's; by
  // default the enumerated ones. A pin whose format was set proposes only it.
  virtual HRESULT ProposedType(unsigned index, MediaType* out) { return GetMediaType(index, out); }
  // Whether Connect tries the peer's types before its own.
  virtual bool PeerTypesFirst() { return false; }
  // Whether the allocator the peer offers is taken; if not, the pin makes its own.
  virtual bool TakesPeerAllocator() { return true; }
  // What Connect answers for a whole type the pin does not take.
  virtual HRESULT TypeRefused(const AM_MEDIA_TYPE& mt) {
    (void)mt;
    return VFW_E_TYPE_NOT_ACCEPTED;
  }

 private:
  HRESULT TryMediaType(IPin* peer, const AM_MEDIA_TYPE& mt);
  HRESULT TryOwnTypes(IPin* peer, const AM_MEDIA_TYPE* partial);
  HRESULT TryPeerTypes(IPin* peer, const AM_MEDIA_TYPE* partial);
  HRESULT DecideAllocator(IMemInputPin* input);
  HRESULT OfferAllocator(IMemInputPin* input, IMemAllocator* allocator,
                         ALLOCATOR_PROPERTIES request);

  // Set while connected; read by the streaming thread, which only runs
  // between pause and stop, when connections cannot change.
  ComPtr<IMemInputPin> mem_input_;
  ComPtr<IMemAllocator> allocator_;
};

// The receiving side: accepts connections, hands out or takes an allocator
// and passes samples to OnReceive. Derived classes decide what they accept
// (CheckMediaType) and what they do with samples.
class InputPin : public Pin, public IMemInputPin {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return Pin::QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return Pin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return Pin::Release(); }

  STDMETHODIMP ReceiveConnection(IPin* peer, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  STDMETHODIMP ReceiveCanBlock() override;

 protected:
  InputPin(Filter& filter, std::wstring name);
  void* Interface(REFIID iid) override;
  // Called on the streaming thread, without the filter lock.
  virtual HRESULT OnReceive(IMediaSample* sample) = 0;
  virtual HRESULT OnEndOfStream() { return S_OK; }
  // Between BeginFlush and EndFlush.
  bool Flushing();

 private:
  ComPtr<IMemAllocator> allocator_;
  bool flushing_ = false;
};

// Sets an allocator's properties with at least one buffer of at least
// min_bytes (cbAlign at least 1); E_FAIL when its buffers come out smaller.
HRESULT SetAllocatorAtLeast(IMemAllocator* allocator, ALLOCATOR_PROPERTIES want, long min_bytes);

}  // namespace testbed

// For a pin class that adds interfaces of its own.
#define TESTBED_PIN_IUNKNOWN                                               \
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {           \
    return testbed::Pin::QueryInterface(iid, out);                         \
  }                                                                        \
  STDMETHODIMP_(ULONG) AddRef() override { return testbed::Pin::AddRef(); }\
  STDMETHODIMP_(ULONG) Release() override { return testbed::Pin::Release(); }
