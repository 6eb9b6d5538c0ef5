// Rules of the device and compressor choices that need no Windows API.
#ifndef FERNWOODVIEW_SELECTION_RULES_H
#define FERNWOODVIEW_SELECTION_RULES_H

#include <cstddef>
#include <cstdint>

constexpr int kNameSlotBytes = 100;

// Saved menu ids read back: the index to use, or -1 for "none"/"uncompressed".
int SavedVideoIndex(int saved_id, int count);       // 1002 + index; out of range: 0
int SavedAudioIndex(int saved_id, int count);       // 2001 = none; out of range: 0, or none without devices
int SavedCompressorIndex(int saved_id, int count);  // 10001 = uncompressed; out of range: uncompressed

// A listed device as it is saved: its friendly name and, where its moniker
// has one, its DevicePath (empty otherwise).
constexpr int kPathSlotBytes = 260;
struct ListedDevice {
    const char* name;
    const char* path;
};
// The saved device found again in today's list. Windows keeps no order (a
// webcam or another USB port moves the card), so the saved path decides, then
// the saved name (the one at the saved position first, for identical cards),
// and only then `fallback`: the saved position, the one thing an older
// setting.ini holds, or -1 for a device that must be this one or none.
int FindSavedDevice(const ListedDevice* listed, int count, const char* saved_path, const char* saved_name,
                    int fallback);

// The sound to play on a first start: the audio device named after the video
// device. Cards name both alike ("X", "X Audio", "Audio (X)"), so it is an
// audio device whose name holds every word of the video device's name
// (letters and digits, ASCII case aside; double-byte characters as they
// are), the one with the fewest other words, the first of equals. -1 when
// none does: better no sound than the laptop's microphone or Stereo Mix.
int MatchingAudioDevice(const char* video_name, const char* const* audio_names, int count,
                        bool (*is_lead_byte)(unsigned char));

// What the two-rate probe of an audio device does to the rate items.
constexpr int kStateUnchanged = -1;
struct RateOutcome {
    int state_44k;        // new MenuItemState of the 44.1 kHz item, or kStateUnchanged
    int state_48k;        // the same for 48 kHz
    bool reapply_44k;     // the device must be set back to 44.1 kHz
    int rate;             // the rate the device is left at; 0 if neither works
};
RateOutcome ResolveRateProbe(bool ok_44k, bool ok_48k, unsigned state_44k_before);

// Windows' audio engine converts rates, so both probes succeed on any device
// it serves. Where the device's own rate is known (0: not), only that one of
// the two stays; a device at neither rate keeps what the probe found.
void KeepDeviceRate(unsigned device_rate, bool* ok_44k, bool* ok_48k);

// The sound endpoint behind a wave-in capture filter: the one whose name
// begins with the filter's (which Windows cuts to 31 characters), and only
// when exactly one does. -1 otherwise.
int MatchingEndpoint(const char* filter_name, const char* const* endpoint_names, int count);

// The capture formats the program supports.
struct VideoFormat {
    int32_t width;
    int32_t height;
    int64_t avg_time_per_frame;  // 100 ns units
};
VideoFormat VideoFormatForHeight(int height);  // 720, anything else 1080
uint32_t ImageSizeBytes(int32_t width, uint16_t bit_count, int32_t height);

// Cuts `text` so that it has at most `max_bytes` bytes without splitting a
// double-byte character; returns the new length.
size_t CutAtCharacterBoundary(char* text, size_t max_bytes, bool (*is_lead_byte)(unsigned char));

#endif
