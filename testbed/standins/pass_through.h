// What the pins of the transform and tee stand-ins pass upstream: seeking and
// position requests and quality messages go on to whatever feeds the filter's
// input pin, as the platform's own filters pass them. A pin class derives
// from these beside its other interfaces; the pin's own IUnknown (one per pin
// class) serves these interfaces too.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "testbed/common/com_ptr.h"
#include "testbed/common/pin.h"

namespace fernwood {

class UpstreamPassThrough : public IMediaSeeking, public IMediaPosition {
public:
    explicit UpstreamPassThrough(testbed::Pin& input) : input_(input) {}
    virtual ~UpstreamPassThrough() = default;

    // IMediaSeeking
    STDMETHODIMP GetCapabilities(DWORD* caps) override;
    STDMETHODIMP CheckCapabilities(DWORD* caps) override;
    STDMETHODIMP IsFormatSupported(const GUID* format) override;
    STDMETHODIMP QueryPreferredFormat(GUID* format) override;
    STDMETHODIMP GetTimeFormat(GUID* format) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;
    STDMETHODIMP SetTimeFormat(const GUID* format) override;
    STDMETHODIMP GetDuration(LONGLONG* duration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* stop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                                   const GUID* source_format) override;
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop, DWORD stop_flags) override;
    STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override;
    STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    STDMETHODIMP SetRate(double rate) override;
    STDMETHODIMP GetRate(double* rate) override;
    STDMETHODIMP GetPreroll(LONGLONG* preroll) override;

    // IDispatch: no type information; callers use the vtable.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* arg_error) override;

    // IMediaPosition
    STDMETHODIMP get_Duration(REFTIME* length) override;
    STDMETHODIMP put_CurrentPosition(REFTIME time) override;
    STDMETHODIMP get_CurrentPosition(REFTIME* time) override;
    STDMETHODIMP get_StopTime(REFTIME* time) override;
    STDMETHODIMP put_StopTime(REFTIME time) override;
    STDMETHODIMP get_PrerollTime(REFTIME* time) override;
    STDMETHODIMP put_PrerollTime(REFTIME time) override;
    STDMETHODIMP put_Rate(double rate) override;
    STDMETHODIMP get_Rate(double* rate) override;
    STDMETHODIMP CanSeekForward(LONG* can) override;
    STDMETHODIMP CanSeekBackward(LONG* can) override;

protected:
    // The pin's answer for IMediaSeeking and IMediaPosition, or nullptr.
    void* PassThroughInterface(REFIID iid);

private:
    template <class I, class Call>
    HRESULT Forward(REFIID iid, Call call);

    testbed::Pin& input_;
};

// Copies time stamps, media times and the sync point, preroll and
// discontinuity flags from one sample to another (not data or media type).
void CopySampleProperties(IMediaSample* from, IMediaSample* to);

// Quality messages go to the sink set on the pin, else upstream of the
// filter's input pin. The sink is not referenced, as with the platform's pins.
class UpstreamQuality : public IQualityControl {
public:
    explicit UpstreamQuality(testbed::Pin& input) : input_(input) {}
    virtual ~UpstreamQuality() = default;

    STDMETHODIMP Notify(IBaseFilter* sender, Quality quality) override;
    STDMETHODIMP SetSink(IQualityControl* sink) override;

private:
    testbed::Pin& input_;
    IQualityControl* sink_ = nullptr;
};

// The input pin of a filter that passes quality messages upstream and
// stream events (end of stream, flushes, segments) to the pins its outputs
// feed, in pin order.
class ForwardingInputPin : public testbed::InputPin, public UpstreamQuality {
public:
    TESTBED_PIN_IUNKNOWN

    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

protected:
    // What the upstream pin hears back from an event passed on.
    enum class Answer {
        kOwn,         // S_OK, whatever the downstream pins say
        kDownstream,  // the last downstream pin's answer (S_OK with none)
    };
    ForwardingInputPin(testbed::Filter& filter, std::wstring name, Answer answer)
        : InputPin(filter, std::move(name)), UpstreamQuality(static_cast<testbed::Pin&>(*this)), answer_(answer) {}
    void* Interface(REFIID iid) override;

    // The peers of the filter's connected outputs.
    virtual std::vector<testbed::ComPtr<IPin>> Downstream() = 0;
    // Whether end of stream goes on now.
    virtual bool PassesEndOfStream() { return true; }

private:
    template <class Event>
    HRESULT PassOn(Event event);

    Answer answer_;
};

// The output pin of a filter whose seeking, position and quality requests
// belong to whatever feeds `input`.
class ForwardingOutputPin : public testbed::OutputPin, public UpstreamPassThrough, public UpstreamQuality {
public:
    TESTBED_PIN_IUNKNOWN

protected:
    ForwardingOutputPin(testbed::Filter& filter, std::wstring name, testbed::Pin& input)
        : OutputPin(filter, std::move(name)), UpstreamPassThrough(input), UpstreamQuality(input) {}
    void* Interface(REFIID iid) override;
};

}  // namespace fernwood
