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

static void ReadBagText(IPropertyBag* bag, const wchar_t* property, char* converted, int size)
{
    VARIANT value;
    VariantInit(&value);
    bool read = SUCCEEDED(bag->Read(property, &value, nullptr)) &&
                SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) && value.bstrVal &&
                WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, converted, size, nullptr, nullptr) > 0;
    VariantClear(&value);
    if (!read)
        converted[0] = '\0';
}

// A path too long for its slot is left out: cut, it could name another device.
static void ReadDeviceIdentity(IMoniker* moniker, char* name_slot, char* path_slot)
{
    name_slot[0] = '\0';
    if (path_slot)
        path_slot[0] = '\0';
    IPropertyBag* bag = nullptr;
    if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) != S_OK || !bag)
        return;
    VARIANT name;
    VariantInit(&name);
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) &&
        SUCCEEDED(VariantChangeType(&name, &name, 0, VT_BSTR)) && name.bstrVal)
        StoreName(name.bstrVal, name_slot);
    VariantClear(&name);
    if (path_slot)
        ReadBagText(bag, L"DevicePath", path_slot, kPathSlotBytes);
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

int ListDevices(REFCLSID category, char (*names)[kNameSlotBytes], char (*paths)[kPathSlotBytes], int slots,
                UINT first_id, UINT anchor_id)
{
    int count = 0;
    IEnumMoniker* monikers = OpenCategory(category);
    IMoniker* moniker = nullptr;
    while (monikers && count < slots && monikers->Next(1, &moniker, nullptr) == S_OK) {
        ReadDeviceIdentity(moniker, names[count], paths ? paths[count] : nullptr);
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

constexpr int kMostListed = 10;

static int ListIdentities(REFCLSID category, DeviceList& list, bool video)
{
    IEnumMoniker* monikers = OpenCategory(category);
    IMoniker* moniker = nullptr;
    int count = 0;
    while (monikers && count < kMostListed && monikers->Next(1, &moniker, nullptr) == S_OK) {
        ReadDeviceIdentity(moniker, video ? list.video_names[count] : list.audio_names[count],
                           video ? list.video_paths[count] : list.audio_paths[count]);
        moniker->Release();
        ++count;
    }
    SafeRelease(monikers);
    return count;
}

static int Identities(const DeviceList& list, bool video, int count, ListedDevice* listed)
{
    for (int i = 0; i < count; ++i)
        listed[i] = video ? ListedDevice{list.video_names[i], list.video_paths[i]}
                          : ListedDevice{list.audio_names[i], list.audio_paths[i]};
    return count;
}

int FindListedDevice(REFCLSID category, const char* name, const char* path)
{
    // Large: kept off the window thread's stack.
    static DeviceList fresh;
    bool video = category == CLSID_VideoInputDeviceCategory;
    ListedDevice listed[kMostListed];
    int count = Identities(fresh, video, ListIdentities(category, fresh, video), listed);
    return FindSavedDevice(listed, count, path, name, -1);
}

bool device_choices_read = false;

static int SavedDevice(bool video, int count, const char* name_key, const char* path_key, int position)
{
    char name[kNameSlotBytes] = "";
    char path[kPathSlotBytes] = "";
    ReadSettingText("menu", name_key, name, sizeof name);
    ReadSettingText("menu", path_key, path, sizeof path);
    ListedDevice listed[kMostListed];
    Identities(device_list, video, count, listed);
    return FindSavedDevice(listed, count, path, name, position);
}

// No audio device saved yet: the card's own sound, or none rather than
// whatever input happens to come first.
static int FirstStartAudioIndex()
{
    if (video_device_index >= video_device_count)
        return -1;
    const char* names[kMostListed];
    for (int i = 0; i < audio_device_count; ++i)
        names[i] = device_list.audio_names[i];
    return MatchingAudioDevice(device_list.video_names[video_device_index], names, audio_device_count,
                               IsLeadByte);
}

void EnumerateCaptureDevices()
{
    video_device_count = ListDevices(CLSID_VideoInputDeviceCategory, device_list.video_names, device_list.video_paths,
                                     kMostListed, IDM_VIDEO_DEVICE_FIRST, IDM_VIDEO_DEVICE_ANCHOR);
    DeleteMenu(CommandMenu, IDM_VIDEO_DEVICE_ANCHOR, MF_BYCOMMAND);
    audio_device_count = ListDevices(CLSID_AudioInputDeviceCategory, device_list.audio_names, device_list.audio_paths,
                                     kMostListed, IDM_AUDIO_DEVICE_FIRST, IDM_AUDIO_NONE);

    int saved_video = SavedVideoIndex(ReadSettingInt("menu", "capture_device", IDM_VIDEO_DEVICE_FIRST),
                                      video_device_count);
    video_device_index =
        SavedDevice(true, video_device_count, "capture_device_name", "capture_device_path", saved_video);
    CheckMenuItem(CommandMenu, IDM_VIDEO_DEVICE_FIRST + video_device_index, MF_BYCOMMAND | MF_CHECKED);

    int saved_audio_id = ReadSettingInt("menu", "audio_device", 0);
    int saved_audio = SavedAudioIndex(saved_audio_id, audio_device_count);
    if (saved_audio_id == 0)
        audio_device_index = FirstStartAudioIndex();
    else if (saved_audio < 0)
        audio_device_index = -1;
    else
        audio_device_index =
            SavedDevice(false, audio_device_count, "audio_device_name", "audio_device_path", saved_audio);
    CheckMenuItem(CommandMenu, IDM_AUDIO_DEVICE_FIRST + audio_device_index, MF_BYCOMMAND | MF_CHECKED);
    device_choices_read = true;
}
