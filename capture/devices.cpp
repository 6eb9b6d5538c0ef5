#include "capture/devices.h"

int video_device_index = 0;
int video_device_count = 0;
int audio_device_index = 0;
int audio_device_count = 0;
int compressor_index = 0;
int compressor_count = 0;

void SelectVideoDevice(UINT) {}
void SelectAudioDevice(UINT) {}
void DisableAudio() {}
void SwitchAudioRateCommand(UINT) {}
void SelectCompressor(UINT) {}
void SwitchVideoFormat(int, int) {}
