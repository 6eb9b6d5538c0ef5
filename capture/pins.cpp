#include "capture/pins.h"

#include "capture/capture_graph.h"

IPin* FindPin(IBaseFilter* filter, const std::function<bool(IPin*)>& wanted)
{
    IEnumPins* pins = nullptr;
    if (!filter || filter->EnumPins(&pins) != S_OK || !pins)
        return nullptr;
    pins->Reset();
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        if (wanted(pin))
            break;
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return pin;
}

static bool HasDirection(IPin* pin, PIN_DIRECTION wanted)
{
    PIN_DIRECTION direction;
    return pin->QueryDirection(&direction) == S_OK && direction == wanted;
}

bool IsOutputPin(IPin* pin)
{
    return HasDirection(pin, PINDIR_OUTPUT);
}

bool IsInputPin(IPin* pin)
{
    return HasDirection(pin, PINDIR_INPUT);
}

bool IsConnected(IPin* pin)
{
    IPin* peer = nullptr;
    bool connected = pin->ConnectedTo(&peer) == S_OK;
    if (peer)
        peer->Release();
    return connected;
}

bool HasConnectedInput(IBaseFilter* filter)
{
    IPin* input = FindPin(filter, [](IPin* pin) { return IsInputPin(pin) && IsConnected(pin); });
    if (!input)
        return false;
    input->Release();
    return true;
}

IBaseFilter* PinOwner(IPin* pin)
{
    PIN_INFO info{};
    if (pin->QueryPinInfo(&info) != S_OK)
        return nullptr;
    return info.pFilter;
}

IBaseFilter* PeerOwner(IPin* pin)
{
    IPin* peer = nullptr;
    if (pin->ConnectedTo(&peer) != S_OK || !peer)
        return nullptr;
    IBaseFilter* owner = PinOwner(peer);
    peer->Release();
    return owner;
}

IPin* FirstOutputPin(IBaseFilter* filter)
{
    return FindPin(filter, IsOutputPin);
}

IPin* FreeOutputPin(IBaseFilter* filter)
{
    return FindPin(filter, [](IPin* pin) { return IsOutputPin(pin) && !IsConnected(pin); });
}

int OutputPins(IBaseFilter* filter, IPin** out, int capacity)
{
    int count = 0;
    if (capacity <= 0)
        return 0;
    IPin* last = FindPin(filter, [&](IPin* pin) {
        if (!IsOutputPin(pin))
            return false;
        pin->AddRef();
        out[count++] = pin;
        return count == capacity;
    });
    if (last)
        last->Release();
    return count;
}

int StreamIndexFedBy(IBaseFilter* filter, IBaseFilter* source)
{
    int stream = 0;
    IPin* input = FindPin(filter, [&](IPin* pin) {
        if (!IsInputPin(pin) || !IsConnected(pin))
            return false;
        IBaseFilter* owner = PeerOwner(pin);
        bool fed = owner && owner == source;
        if (owner)
            owner->Release();
        if (!fed)
            ++stream;
        return fed;
    });
    if (!input)
        return -1;
    input->Release();
    return stream;
}

bool SameObject(IUnknown* a, IUnknown* b)
{
    if (!a || !b)
        return false;
    IUnknown* identity_a = nullptr;
    IUnknown* identity_b = nullptr;
    a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity_a));
    b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity_b));
    bool same = identity_a && identity_a == identity_b;
    SafeRelease(identity_a);
    SafeRelease(identity_b);
    return same;
}
