#include "capture/devices.h"

#include <oleauto.h>

#include "capture/capture_graph.h"
#include "settings/settings_file.h"
#include "state/command_menu.h"

DeviceList device_list;

static bool IsLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

// The slot holds at most 99 bytes; a longer name is cut before the
// character that does not fit, never in the middle of one.
static void StoreName(const wchar_t* name, char* slot)
{
    char converted[1024];
    int length = WideCharToMultiByte(CP_ACP, 0, name, -1, converted, sizeof converted, nullptr, nullptr);
    if (length <= 0)
        converted[0] = '\0';
    converted[sizeof converted - 1] = '\0';
    CutAtCharacterBoundary(converted, kNameSlotBytes - 1, IsLeadByte);
    lstrcpynA(slot, converted, kNameSlotBytes);
}

static void ReadFriendlyName(IMoniker* moniker, char* slot)
{
    slot[0] = '\0';
    IPropertyBag* bag = nullptr;
    if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) != S_OK || !bag)
        return;
    VARIANT name;
    VariantInit(&name);
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) &&
        SUCCEEDED(VariantChangeType(&name, &name, 0, VT_BSTR)) && name.bstrVal)
        StoreName(name.bstrVal, slot);
    VariantClear(&name);
    bag->Release();
}

static IEnumMoniker* OpenCategory(REFCLSID category)
{
    IEnumMoniker* monikers = nullptr;
    if (!capture_graph.device_enum ||
        capture_graph.device_enum->CreateClassEnumerator(category, &monikers, 0) != S_OK || !monikers)
        return nullptr;
    monikers->Reset();
    return monikers;
}

int ListDevices(REFCLSID category, char (*names)[kNameSlotBytes], int slots, UINT first_id, UINT anchor_id)
{
    int count = 0;
    IEnumMoniker* monikers = OpenCategory(category);
    IMoniker* moniker = nullptr;
    while (monikers && count < slots && monikers->Next(1, &moniker, nullptr) == S_OK) {
        ReadFriendlyName(moniker, names[count]);
        moniker->Release();
        wchar_t caption[kNameSlotBytes];
        if (MultiByteToWideChar(CP_ACP, 0, names[count], -1, caption, kNameSlotBytes) <= 0)
            caption[0] = L'\0';
        InsertMenuItemBefore(anchor_id, first_id + count, caption);
        ++count;
    }
    SafeRelease(monikers);
    return count;
}

IMoniker* FindDeviceMoniker(REFCLSID category, int index)
{
    if (index < 0)
        return nullptr;
    IEnumMoniker* monikers = OpenCategory(category);
    IMoniker* moniker = nullptr;
    for (int i = 0; monikers && i <= index; ++i) {
        SafeRelease(moniker);
        if (monikers->Next(1, &moniker, nullptr) != S_OK) {
            moniker = nullptr;
            break;
        }
    }
    SafeRelease(monikers);
    return moniker;
}

int FindListedDevice(REFCLSID category, const char* name)
{
    IEnumMoniker* monikers = OpenCategory(category);
    IMoniker* moniker = nullptr;
    int found = -1;
    for (int i = 0; monikers && found < 0 && monikers->Next(1, &moniker, nullptr) == S_OK; ++i) {
        char listed[kNameSlotBytes];
        ReadFriendlyName(moniker, listed);
        moniker->Release();
        if (name[0] && lstrcmpA(listed, name) == 0)
            found = i;
    }
    SafeRelease(monikers);
    return found;
}

void EnumerateCaptureDevices()
{
    video_device_count =
        ListDevices(CLSID_VideoInputDeviceCategory, device_list.video_names, 10, IDM_VIDEO_DEVICE_FIRST,
                    IDM_VIDEO_DEVICE_ANCHOR);
    DeleteMenu(CommandMenu, IDM_VIDEO_DEVICE_ANCHOR, MF_BYCOMMAND);
    audio_device_count = ListDevices(CLSID_AudioInputDeviceCategory, device_list.audio_names, 10,
                                     IDM_AUDIO_DEVICE_FIRST, IDM_AUDIO_NONE);

    video_device_index = SavedVideoIndex(ReadSettingInt("menu", "capture_device", IDM_VIDEO_DEVICE_FIRST),
                                         video_device_count);
    CheckMenuItem(CommandMenu, IDM_VIDEO_DEVICE_FIRST + video_device_index, MF_BYCOMMAND | MF_CHECKED);
    audio_device_index = SavedAudioIndex(ReadSettingInt("menu", "audio_device", IDM_AUDIO_DEVICE_FIRST),
                                         audio_device_count);
    CheckMenuItem(CommandMenu, IDM_AUDIO_DEVICE_FIRST + audio_device_index, MF_BYCOMMAND | MF_CHECKED);
}
