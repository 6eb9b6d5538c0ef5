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

// Rebuilds the video branch with device `index`; height 720 selects the
// 1280×720 format, any other value 1920×1080. Leaves native size and
// source_rect updated but does not hand them to the renderer.
void SwitchVideoFormat(int index, int height);

void SelectVideoDevice(UINT id);
void SelectAudioDevice(UINT id);
void DisableAudio();
void SwitchAudioRateCommand(UINT id);
void SelectCompressor(UINT id);

#endif
