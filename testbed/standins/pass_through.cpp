#include "pass_through.h"

namespace fernwood {

using testbed::ComPtr;

void* UpstreamPassThrough::PassThroughInterface(REFIID iid) {
    if (IsEqualGUID(iid, IID_IMediaSeeking)) return static_cast<IMediaSeeking*>(this);
    if (IsEqualGUID(iid, IID_IMediaPosition) || IsEqualGUID(iid, IID_IDispatch))
        return static_cast<IMediaPosition*>(this);
    return nullptr;
}

// Nothing upstream (or an upstream pin that cannot seek) is not an error of
// ours: the caller learns the operation is not available.
template <class I, class Call>
HRESULT UpstreamPassThrough::Forward(REFIID iid, Call call) {
    ComPtr<IPin> peer;
    ComPtr<I> upstream;
    if (input_.ConnectedTo(peer.Put()) != S_OK || FAILED(peer->QueryInterface(iid, upstream.PutVoid())))
        return E_NOTIMPL;
    return call(upstream.Get());
}

#define FORWARD_SEEKING(expr) return Forward<IMediaSeeking>(IID_IMediaSeeking, [&](IMediaSeeking* up) { return expr; })
#define FORWARD_POSITION(expr) \
    return Forward<IMediaPosition>(IID_IMediaPosition, [&](IMediaPosition* up) { return expr; })

STDMETHODIMP UpstreamPassThrough::GetCapabilities(DWORD* caps) { FORWARD_SEEKING(up->GetCapabilities(caps)); }
STDMETHODIMP UpstreamPassThrough::CheckCapabilities(DWORD* caps) { FORWARD_SEEKING(up->CheckCapabilities(caps)); }
STDMETHODIMP UpstreamPassThrough::IsFormatSupported(const GUID* format) {
    FORWARD_SEEKING(up->IsFormatSupported(format));
}
STDMETHODIMP UpstreamPassThrough::QueryPreferredFormat(GUID* format) {
    FORWARD_SEEKING(up->QueryPreferredFormat(format));
}
STDMETHODIMP UpstreamPassThrough::GetTimeFormat(GUID* format) { FORWARD_SEEKING(up->GetTimeFormat(format)); }
STDMETHODIMP UpstreamPassThrough::IsUsingTimeFormat(const GUID* format) {
    FORWARD_SEEKING(up->IsUsingTimeFormat(format));
}
STDMETHODIMP UpstreamPassThrough::SetTimeFormat(const GUID* format) { FORWARD_SEEKING(up->SetTimeFormat(format)); }
STDMETHODIMP UpstreamPassThrough::GetDuration(LONGLONG* duration) { FORWARD_SEEKING(up->GetDuration(duration)); }
STDMETHODIMP UpstreamPassThrough::GetStopPosition(LONGLONG* stop) { FORWARD_SEEKING(up->GetStopPosition(stop)); }
STDMETHODIMP UpstreamPassThrough::GetCurrentPosition(LONGLONG* current) {
    FORWARD_SEEKING(up->GetCurrentPosition(current));
}
STDMETHODIMP UpstreamPassThrough::ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                                                    const GUID* source_format) {
    FORWARD_SEEKING(up->ConvertTimeFormat(target, target_format, source, source_format));
}
STDMETHODIMP UpstreamPassThrough::SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                                               DWORD stop_flags) {
    FORWARD_SEEKING(up->SetPositions(current, current_flags, stop, stop_flags));
}
STDMETHODIMP UpstreamPassThrough::GetPositions(LONGLONG* current, LONGLONG* stop) {
    FORWARD_SEEKING(up->GetPositions(current, stop));
}
STDMETHODIMP UpstreamPassThrough::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    FORWARD_SEEKING(up->GetAvailable(earliest, latest));
}
STDMETHODIMP UpstreamPassThrough::SetRate(double rate) { FORWARD_SEEKING(up->SetRate(rate)); }
STDMETHODIMP UpstreamPassThrough::GetRate(double* rate) { FORWARD_SEEKING(up->GetRate(rate)); }
STDMETHODIMP UpstreamPassThrough::GetPreroll(LONGLONG* preroll) { FORWARD_SEEKING(up->GetPreroll(preroll)); }

STDMETHODIMP UpstreamPassThrough::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
STDMETHODIMP UpstreamPassThrough::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP UpstreamPassThrough::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP UpstreamPassThrough::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

STDMETHODIMP UpstreamPassThrough::get_Duration(REFTIME* length) { FORWARD_POSITION(up->get_Duration(length)); }
STDMETHODIMP UpstreamPassThrough::put_CurrentPosition(REFTIME time) { FORWARD_POSITION(up->put_CurrentPosition(time)); }
STDMETHODIMP UpstreamPassThrough::get_CurrentPosition(REFTIME* time) {
    FORWARD_POSITION(up->get_CurrentPosition(time));
}
STDMETHODIMP UpstreamPassThrough::get_StopTime(REFTIME* time) { FORWARD_POSITION(up->get_StopTime(time)); }
STDMETHODIMP UpstreamPassThrough::put_StopTime(REFTIME time) { FORWARD_POSITION(up->put_StopTime(time)); }
STDMETHODIMP UpstreamPassThrough::get_PrerollTime(REFTIME* time) { FORWARD_POSITION(up->get_PrerollTime(time)); }
STDMETHODIMP UpstreamPassThrough::put_PrerollTime(REFTIME time) { FORWARD_POSITION(up->put_PrerollTime(time)); }
STDMETHODIMP UpstreamPassThrough::put_Rate(double rate) { FORWARD_POSITION(up->put_Rate(rate)); }
STDMETHODIMP UpstreamPassThrough::get_Rate(double* rate) { FORWARD_POSITION(up->get_Rate(rate)); }
STDMETHODIMP UpstreamPassThrough::CanSeekForward(LONG* can) { FORWARD_POSITION(up->CanSeekForward(can)); }
STDMETHODIMP UpstreamPassThrough::CanSeekBackward(LONG* can) { FORWARD_POSITION(up->CanSeekBackward(can)); }

void CopySampleProperties(IMediaSample* from, IMediaSample* to) {
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = from->GetTime(&start, &stop);
    if (hr == S_OK)
        to->SetTime(&start, &stop);
    else if (hr == VFW_S_NO_STOP_TIME)
        to->SetTime(&start, nullptr);
    else
        to->SetTime(nullptr, nullptr);
    LONGLONG media_start = 0, media_stop = 0;
    if (from->GetMediaTime(&media_start, &media_stop) == S_OK)
        to->SetMediaTime(&media_start, &media_stop);
    else
        to->SetMediaTime(nullptr, nullptr);
    to->SetSyncPoint(from->IsSyncPoint() == S_OK);
    to->SetPreroll(from->IsPreroll() == S_OK);
    to->SetDiscontinuity(from->IsDiscontinuity() == S_OK);
}

STDMETHODIMP UpstreamQuality::Notify(IBaseFilter* sender, Quality quality) {
    if (sink_) return sink_->Notify(sender, quality);
    ComPtr<IPin> peer;
    ComPtr<IQualityControl> upstream;
    if (input_.ConnectedTo(peer.Put()) != S_OK || FAILED(peer->QueryInterface(IID_IQualityControl, upstream.PutVoid())))
        return VFW_E_NOT_FOUND;
    return upstream->Notify(&input_.Owner(), quality);
}

STDMETHODIMP UpstreamQuality::SetSink(IQualityControl* sink) {
    sink_ = sink;
    return S_OK;
}

void* ForwardingInputPin::Interface(REFIID iid) {
    if (IsEqualGUID(iid, IID_IQualityControl)) return static_cast<IQualityControl*>(this);
    return InputPin::Interface(iid);
}

template <class Event>
HRESULT ForwardingInputPin::PassOn(Event event) {
    HRESULT result = S_OK;
    for (const ComPtr<IPin>& peer : Downstream()) {
        HRESULT hr = event(peer.Get());
        if (answer_ == Answer::kDownstream) result = hr;
    }
    return result;
}

STDMETHODIMP ForwardingInputPin::EndOfStream() {
    if (!PassesEndOfStream()) return S_OK;
    return PassOn([](IPin* peer) { return peer->EndOfStream(); });
}

STDMETHODIMP ForwardingInputPin::BeginFlush() {
    InputPin::BeginFlush();
    return PassOn([](IPin* peer) { return peer->BeginFlush(); });
}

STDMETHODIMP ForwardingInputPin::EndFlush() {
    InputPin::EndFlush();
    return PassOn([](IPin* peer) { return peer->EndFlush(); });
}

STDMETHODIMP ForwardingInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return PassOn([&](IPin* peer) { return peer->NewSegment(start, stop, rate); });
}

void* ForwardingOutputPin::Interface(REFIID iid) {
    if (IsEqualGUID(iid, IID_IQualityControl)) return static_cast<IQualityControl*>(this);
    if (void* seeking = PassThroughInterface(iid)) return seeking;
    return OutputPin::Interface(iid);
}

#undef FORWARD_SEEKING
#undef FORWARD_POSITION

}  // namespace fernwood
