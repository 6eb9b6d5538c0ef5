#include "capture/devices.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include "capture/capture_graph.h"

// PKEY_Device_FriendlyName, spelled out so that no property-key library is needed.
static const PROPERTYKEY kEndpointName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

constexpr int kMostEndpoints = 32;

static void EndpointName(IMMDevice* device, char* name, int size)
{
    name[0] = '\0';
    IPropertyStore* store = nullptr;
    if (FAILED(device->OpenPropertyStore(STGM_READ, &store)) || !store)
        return;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(kEndpointName, &value)) && value.vt == VT_LPWSTR && value.pwszVal &&
        WideCharToMultiByte(CP_ACP, 0, value.pwszVal, -1, name, size, nullptr, nullptr) <= 0)
        name[0] = '\0';
    PropVariantClear(&value);
    store->Release();
}

static unsigned MixRate(IMMDevice* device)
{
    IAudioClient* client = nullptr;
    if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr,
                                reinterpret_cast<void**>(&client))) ||
        !client)
        return 0;
    WAVEFORMATEX* format = nullptr;
    unsigned rate = 0;
    if (SUCCEEDED(client->GetMixFormat(&format)) && format)
        rate = format->nSamplesPerSec;
    CoTaskMemFree(format);
    client->Release();
    return rate;
}

// The rate the shared-mode engine runs the capture endpoint at, which is
// what the device really delivers; 0 where no endpoint answers to the name
// (before Windows Vista, under Wine's drivers, a card of our own testbed).
static unsigned EndpointRate(const char* filter_name)
{
    IMMDeviceEnumerator* enumerator = nullptr;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator))) ||
        !enumerator)
        return 0;
    IMMDeviceCollection* endpoints = nullptr;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &endpoints)) || !endpoints ||
        FAILED(endpoints->GetCount(&count)))
        count = 0;
    IMMDevice* devices[kMostEndpoints];
    static char names[kMostEndpoints][kNameSlotBytes];
    const char* listed[kMostEndpoints];
    int listed_count = 0;
    for (UINT i = 0; i < count && listed_count < kMostEndpoints; ++i) {
        if (FAILED(endpoints->Item(i, &devices[listed_count])) || !devices[listed_count])
            continue;
        EndpointName(devices[listed_count], names[listed_count], kNameSlotBytes);
        listed[listed_count] = names[listed_count];
        ++listed_count;
    }
    int chosen = MatchingEndpoint(filter_name, listed, listed_count);
    unsigned rate = chosen >= 0 ? MixRate(devices[chosen]) : 0;
    for (int i = 0; i < listed_count; ++i)
        devices[i]->Release();
    SafeRelease(endpoints);
    enumerator->Release();
    return rate;
}

void KeepAudioDeviceRate(int index, bool* ok_44k, bool* ok_48k)
{
    if (index < 0 || index >= audio_device_count)
        return;
    KeepDeviceRate(EndpointRate(device_list.audio_names[index]), ok_44k, ok_48k);
}
