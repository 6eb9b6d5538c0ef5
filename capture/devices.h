// Chosen capture devices and compressor: menu id = first id + index.
#ifndef FERNWOODVIEW_DEVICES_H
#define FERNWOODVIEW_DEVICES_H

#include <windows.h>

extern int video_device_index;  // 0-based
extern int video_device_count;
extern int audio_device_index;  // -1: no audio device
extern int audio_device_count;
extern int compressor_index;    // -1: uncompressed
extern int compressor_count;

void SelectVideoDevice(UINT id);
void SelectAudioDevice(UINT id);
void DisableAudio();
void SwitchAudioRateCommand(UINT id);
void SelectCompressor(UINT id);

#endif
