#include "capture/selection_rules.h"

#include <cstring>

int SavedVideoIndex(int saved_id, int count)
{
    unsigned offset = static_cast<unsigned>(saved_id) - 1002u;
    return offset < static_cast<unsigned>(count) ? static_cast<int>(offset) : 0;
}

int SavedAudioIndex(int saved_id, int count)
{
    unsigned offset = static_cast<unsigned>(saved_id) - 2001u;
    if (offset <= static_cast<unsigned>(count))
        return static_cast<int>(offset) - 1;
    return count > 0 ? 0 : -1;
}

int SavedCompressorIndex(int saved_id, int count)
{
    unsigned offset = static_cast<unsigned>(saved_id) - 10001u;
    return offset <= static_cast<unsigned>(count) ? static_cast<int>(offset) - 1 : -1;
}

RateOutcome ResolveRateProbe(bool ok_44k, bool ok_48k, unsigned state_44k_before)
{
    if (ok_44k && !ok_48k)
        return {8, 3, false, 44100};
    if (ok_44k && ok_48k) {
        if (state_44k_before == 8)
            return {kStateUnchanged, 0, true, 44100};
        return {0, 8, false, 48000};
    }
    if (ok_48k)
        return {3, 8, false, 48000};
    return {kStateUnchanged, kStateUnchanged, false, 0};
}

VideoFormat VideoFormatForHeight(int height)
{
    if (height == 720)
        return {1280, 720, 166833};
    return {1920, 1080, 333667};
}

uint32_t ImageSizeBytes(int32_t width, uint16_t bit_count, int32_t height)
{
    uint64_t stride = (static_cast<uint64_t>(width) * bit_count + 31) / 32 * 4;
    return static_cast<uint32_t>(stride * static_cast<uint64_t>(height));
}

size_t CutAtCharacterBoundary(char* text, size_t max_bytes, bool (*is_lead_byte)(unsigned char))
{
    size_t length = std::strlen(text);
    size_t i = 0;
    while (i < length) {
        size_t width = is_lead_byte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + width > max_bytes || i + width > length)
            break;
        i += width;
    }
    text[i] = '\0';
    return i;
}
