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

int FindSavedDevice(const ListedDevice* listed, int count, const char* saved_path, const char* saved_name,
                    int saved_index)
{
    if (saved_path[0])
        for (int i = 0; i < count; ++i)
            if (std::strcmp(listed[i].path, saved_path) == 0)
                return i;
    if (saved_name[0]) {
        if (saved_index >= 0 && saved_index < count && std::strcmp(listed[saved_index].name, saved_name) == 0)
            return saved_index;
        for (int i = 0; i < count; ++i)
            if (std::strcmp(listed[i].name, saved_name) == 0)
                return i;
    }
    return saved_index;
}

namespace {

struct Word {
    const char* start;
    size_t length;
};

bool IsWordByte(unsigned char byte)
{
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte >= 0x80;
}

// The next word at or after `text`, or length 0 at the end; a double-byte
// character is one unit, so its trail byte never ends or starts a word.
Word NextWord(const char*& text, bool (*is_lead_byte)(unsigned char))
{
    while (*text && !IsWordByte(static_cast<unsigned char>(*text)))
        ++text;
    Word word{text, 0};
    while (*text && IsWordByte(static_cast<unsigned char>(*text))) {
        size_t width = is_lead_byte(static_cast<unsigned char>(*text)) && text[1] ? 2 : 1;
        text += width;
        word.length += width;
    }
    return word;
}

char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameWord(const Word& a, const Word& b)
{
    if (a.length != b.length)
        return false;
    for (size_t i = 0; i < a.length; ++i)
        if (Folded(a.start[i]) != Folded(b.start[i]))
            return false;
    return true;
}

bool HoldsWord(const char* text, const Word& word, bool (*is_lead_byte)(unsigned char))
{
    for (Word w = NextWord(text, is_lead_byte); w.length; w = NextWord(text, is_lead_byte))
        if (SameWord(w, word))
            return true;
    return false;
}

int CountWords(const char* text, bool (*is_lead_byte)(unsigned char))
{
    int words = 0;
    while (NextWord(text, is_lead_byte).length)
        ++words;
    return words;
}

// The number of the audio name's words beyond the video name's, or -1 when
// a word of the video name is missing from it.
int ExtraWords(const char* video_name, const char* audio_name, bool (*is_lead_byte)(unsigned char))
{
    int video_words = 0;
    const char* text = video_name;
    for (Word w = NextWord(text, is_lead_byte); w.length; w = NextWord(text, is_lead_byte), ++video_words)
        if (!HoldsWord(audio_name, w, is_lead_byte))
            return -1;
    if (video_words == 0)
        return -1;
    int extra = CountWords(audio_name, is_lead_byte) - video_words;
    return extra > 0 ? extra : 0;
}

}  // namespace

int MatchingAudioDevice(const char* video_name, const char* const* audio_names, int count,
                        bool (*is_lead_byte)(unsigned char))
{
    int best = -1;
    int best_extra = 0;
    for (int i = 0; i < count; ++i) {
        int extra = ExtraWords(video_name, audio_names[i], is_lead_byte);
        if (extra >= 0 && (best < 0 || extra < best_extra)) {
            best = i;
            best_extra = extra;
        }
    }
    return best;
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

void KeepDeviceRate(unsigned device_rate, bool* ok_44k, bool* ok_48k)
{
    if (device_rate == 44100 && *ok_44k)
        *ok_48k = false;
    else if (device_rate == 48000 && *ok_48k)
        *ok_44k = false;
}

int MatchingEndpoint(const char* filter_name, const char* const* endpoint_names, int count)
{
    size_t length = std::strlen(filter_name);
    int found = -1;
    for (int i = 0; length > 0 && i < count; ++i) {
        if (std::strncmp(endpoint_names[i], filter_name, length) != 0)
            continue;
        if (found >= 0)
            return -1;
        found = i;
    }
    return found;
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
