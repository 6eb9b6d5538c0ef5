// Capture devices, the capture format, the audio branch and the compressor.
// A listed entry's menu id is its first id + index, and the index is its
// position in a fresh enumeration of its category.
#ifndef FERNWOODVIEW_DEVICES_H
#define FERNWOODVIEW_DEVICES_H

#include <windows.h>

#include <dshow.h>

#include "capture/format_choice.h"
#include "capture/selection_rules.h"

struct DeviceList {
    char video_names[10][kNameSlotBytes];
    char video_paths[10][kPathSlotBytes];  // empty where the moniker has no DevicePath
    char audio_names[10][kNameSlotBytes];
    char audio_paths[10][kPathSlotBytes];
    char compressor_names[50][kNameSlotBytes];
};

extern DeviceList device_list;
extern int video_device_index;  // 0-based
extern int video_device_count;
extern int audio_device_index;  // -1: no audio device
extern int audio_device_count;
extern int compressor_index;    // -1: uncompressed
extern int compressor_count;
// Whether the saved choices were read; a run that ended before (no DirectX 9)
// must leave them in setting.ini as they were.
extern bool device_choices_read;
extern bool compressor_choice_read;

// Shared by the three lists; `paths` may be null.
int ListDevices(REFCLSID category, char (*names)[kNameSlotBytes], char (*paths)[kPathSlotBytes], int slots,
                UINT first_id, UINT anchor_id);
IMoniker* FindDeviceMoniker(REFCLSID category, int index);  // caller releases; null if gone
// The position in a fresh enumeration of the device at `path` (when given),
// else of the one called `name`; -1 if neither is listed.
int FindListedDevice(REFCLSID category, const char* name, const char* path = "");

void EnumerateCaptureDevices();
void AddVideoDevice(int index, int height);
// The capability the viewer takes for the 720 or 1080 format from the
// device's entries, and at which interval; index -1 when none offers it.
FormatChoice ChooseDeviceFormat(IAMStreamConfig* config, int height);
// Sets that entry, shaped to the format; VFW_E_NO_ACCEPTABLE_TYPES when there is none.
HRESULT SetCaptureFormat(IAMStreamConfig* config, int height);
// Sets the chosen format again on the card's pins that are not connected.
void ApplyCaptureFormat();
// Whether the device took the chosen format at the last attempt.
bool CaptureFormatTaken();
void ReleaseVideoDeviceConfig();
// Rebuilds the video branch with device `index`; height 720 selects the
// 1280×720 format, any other value 1920×1080. Leaves the graph's native size
// updated; the layout takes it (view's AdoptVideoBranch).
void SwitchVideoFormat(int index, int height);
// True when the video branch was rebuilt with the chosen device.
bool SelectVideoDevice(UINT id);
// Tells the user once when there is no picture to show because no capture device could be opened.
void ReportMissingVideoDevice();

void AddAudioDevice(int index);
// Cuts the live sound from its renderer, and sends it back through a free
// output of the tee.
void DisconnectLiveSound();
void ReconnectLiveSound();
void ReleaseAudioMonitor();
HRESULT SetAudioFormat(int rate);
// 16-bit stereo PCM at `rate` on an audio capture pin, as the viewer asks for it.
HRESULT SetPcmFormat(IAMStreamConfig* config, int rate);
// The viewer's short sound buffers, asked of `device`'s capture pin before it connects.
void SuggestShortAudioBuffers(ICaptureGraphBuilder2* builder, IBaseFilter* device, IAMStreamConfig* config);
// Narrows the two-rate probe of device `index` to the rate its sound
// endpoint runs at, where that can be read.
void KeepAudioDeviceRate(int index, bool* ok_44k, bool* ok_48k);
void SwitchAudioRate(int index);
void SelectAudioDevice(UINT id);
void DisableAudio();
void DisableRateItems();
void SwitchAudioRateCommand(UINT id);

void EnumerateCompressors();
void SelectCompressor(UINT id);

#endif
