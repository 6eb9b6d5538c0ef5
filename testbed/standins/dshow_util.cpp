#include "dshow_util.h"

namespace fernwood {

bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return a == b;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, ua.PutVoid())) ||
        FAILED(b->QueryInterface(IID_IUnknown, ub.PutVoid())))
        return false;
    return ua.Get() == ub.Get();
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> pin_enum;
    if (!filter || FAILED(filter->EnumPins(pin_enum.Put()))) return pins;
    for (int attempt = 0; attempt < 8; ++attempt) {
        pins.clear();
        IPin* pin = nullptr;
        HRESULT hr;
        while ((hr = pin_enum->Next(1, &pin, nullptr)) == S_OK) pins.push_back(ComPtr<IPin>::Adopt(pin));
        if (hr != VFW_E_ENUM_OUT_OF_SYNC) break;
        pin_enum->Reset();
    }
    return pins;
}

ComPtr<IPin> PeerOf(IPin* pin) {
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(peer.Put()) != S_OK) peer.Reset();
    return peer;
}

ComPtr<IBaseFilter> FilterOf(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

bool IsConnected(IPin* pin) { return static_cast<bool>(PeerOf(pin)); }

bool HasDirection(IPin* pin, PIN_DIRECTION dir) {
    PIN_DIRECTION actual;
    return SUCCEEDED(pin->QueryDirection(&actual)) && actual == dir;
}

bool HasCategory(IPin* pin, const GUID& category) {
    ComPtr<IKsPropertySet> props;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, props.PutVoid()))) return false;
    GUID actual{};
    DWORD returned = 0;
    HRESULT hr = props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &actual, sizeof actual,
                            &returned);
    return SUCCEEDED(hr) && IsEqualGUID(actual, category);
}

bool HasMajorType(IPin* pin, const GUID& majortype) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Put()))) return false;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        const bool match = IsEqualGUID(mt->majortype, majortype);
        testbed::DeleteMediaType(mt);
        if (match) return true;
    }
    return false;
}

bool PinMatches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* majortype,
                bool unconnected_only) {
    if (!HasDirection(pin, dir)) return false;
    if (unconnected_only && IsConnected(pin)) return false;
    if (category && !HasCategory(pin, *category)) return false;
    if (majortype && !HasMajorType(pin, *majortype)) return false;
    return true;
}

HRESULT FindMatchingPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* majortype,
                        bool unconnected_only, int index, ComPtr<IPin>* out) {
    out->Reset();
    ComPtr<IPin> pin;
    if (SUCCEEDED(source->QueryInterface(IID_IPin, pin.PutVoid()))) {
        if (index != 0 || !PinMatches(pin.Get(), dir, category, majortype, unconnected_only)) return E_FAIL;
        *out = pin;
        return S_OK;
    }
    ComPtr<IBaseFilter> filter;
    if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.PutVoid()))) return E_NOINTERFACE;
    int seen = 0;
    for (auto& candidate : PinsOf(filter.Get())) {
        if (!PinMatches(candidate.Get(), dir, category, majortype, unconnected_only)) continue;
        if (seen++ == index) {
            *out = candidate;
            return S_OK;
        }
    }
    return E_FAIL;
}

bool IsInGraph(IBaseFilter* filter, IUnknown* graph) {
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) return false;
    ComPtr<IFilterGraph> owner = ComPtr<IFilterGraph>::Adopt(info.pGraph);
    return owner && SameObject(owner.Get(), graph);
}

bool HasClassId(IBaseFilter* filter, const CLSID& clsid) {
    CLSID actual{};
    return SUCCEEDED(filter->GetClassID(&actual)) && IsEqualGUID(actual, clsid);
}

}  // namespace fernwood
