#include "card_devices.h"

#include <windows.h>

#include <dshow.h>

#include "testbed/testcard/testcard_ids.h"

namespace {

bool MonikerHasClass(IMoniker* moniker, REFCLSID wanted)
{
    IPropertyBag* bag = nullptr;
    if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) != S_OK || !bag)
        return false;
    VARIANT value;
    VariantInit(&value);
    CLSID clsid{};
    bool match = SUCCEEDED(bag->Read(L"CLSID", &value, nullptr)) && value.vt == VT_BSTR &&
                 SUCCEEDED(CLSIDFromString(value.bstrVal, &clsid)) && IsEqualCLSID(clsid, wanted);
    VariantClear(&value);
    bag->Release();
    return match;
}

// The index the viewer's own enumeration of the category gives the device.
int PositionOf(ICreateDevEnum* devices, REFCLSID category, REFCLSID filter)
{
    IEnumMoniker* monikers = nullptr;
    if (devices->CreateClassEnumerator(category, &monikers, 0) != S_OK || !monikers)
        return -1;
    int found = -1;
    IMoniker* moniker = nullptr;
    for (int i = 0; found < 0 && monikers->Next(1, &moniker, nullptr) == S_OK; ++i) {
        if (MonikerHasClass(moniker, filter))
            found = i;
        moniker->Release();
    }
    monikers->Release();
    return found;
}

}  // namespace

CardDevices FindTestCard()
{
    CardDevices card;
    ICreateDevEnum* devices = nullptr;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices)) != S_OK)
        return card;
    card.video = PositionOf(devices, CLSID_VideoInputDeviceCategory, testcard::CLSID_TestCardVideo);
    card.audio = PositionOf(devices, CLSID_AudioInputDeviceCategory, testcard::CLSID_TestCardAudio);
    devices->Release();
    return card;
}
