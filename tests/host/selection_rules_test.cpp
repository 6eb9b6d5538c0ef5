#include "capture/selection_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(SavedChoices, VideoAudioAndCompressorRangeRules)
{
    EXPECT_EQ(1, SavedVideoIndex(1003, 3));
    EXPECT_EQ(0, SavedVideoIndex(1005, 3));
    EXPECT_EQ(2, SavedVideoIndex(1004, 3));
    EXPECT_EQ(0, SavedVideoIndex(1001, 3));
    EXPECT_EQ(0, SavedVideoIndex(-5, 3));

    EXPECT_EQ(-1, SavedAudioIndex(2001, 2));
    EXPECT_EQ(1, SavedAudioIndex(2003, 2));  // 2001 + count: the last device
    EXPECT_EQ(0, SavedAudioIndex(2004, 2));  // 2002 + count: first device
    EXPECT_EQ(-1, SavedAudioIndex(2002, 0)) << "no device at all behaves as no audio";
    EXPECT_EQ(-1, SavedAudioIndex(2001, 0));

    EXPECT_EQ(-1, SavedCompressorIndex(10001, 5));
    EXPECT_EQ(4, SavedCompressorIndex(10006, 5));
    EXPECT_EQ(-1, SavedCompressorIndex(10007, 5)) << "an uninstalled compressor falls back to uncompressed";
    EXPECT_EQ(-1, SavedCompressorIndex(0, 5));
}

namespace {

struct SavedDeviceCase {
    const char* what;
    const char* saved_path;
    const char* saved_name;
    int saved_index;
    int found;
};

// Two identical cards (same name, their own paths), a webcam, and a device
// without a path.
const ListedDevice kListed[] = {
    {"HD WebCam", "usb#vid_0c45&pid_6713&mi_00#6&1a2b&0&0000#{65e8773d}\\global"},
    {"Fernwood HD Test Card", "usb#vid_1234&pid_5678#a1#{65e8773d}\\global"},
    {"Fernwood HD Test Card", "usb#vid_1234&pid_5678#b2#{65e8773d}\\global"},
    {"Screen Grabber", ""},
};

const SavedDeviceCase kSavedDeviceCases[] = {
    {"the path wins over a moved position", "usb#vid_1234&pid_5678#b2#{65e8773d}\\global",
     "Fernwood HD Test Card", 0, 2},
    {"the path wins over a renamed device", "usb#vid_1234&pid_5678#a1#{65e8773d}\\global", "Old Name", 3,
     1},
    {"a path gone: the name, at its saved position when that holds it",
     "usb#vid_1234&pid_5678#c3#{65e8773d}\\global", "Fernwood HD Test Card", 2, 2},
    {"a path gone: the name's first listing otherwise", "usb#gone", "Fernwood HD Test Card", 0, 1},
    {"no path saved: the name", "", "Screen Grabber", 0, 3},
    {"an empty listed path never matches an empty saved one", "", "", 2, 2},
    {"an older setting.ini: the position", "", "", 1, 1},
    {"neither path nor name listed: the position", "usb#gone", "Unplugged Card", 0, 0},
};

}  // namespace

TEST(FindSavedDevice, ThePathThenTheNameThenThePosition)
{
    for (const SavedDeviceCase& c : kSavedDeviceCases)
        EXPECT_EQ(c.found, FindSavedDevice(kListed, 4, c.saved_path, c.saved_name, c.saved_index)) << c.what;
    EXPECT_EQ(-1, FindSavedDevice(kListed, 4, "usb#gone", "Unplugged Card", -1)) << "no position to fall back on";
}

namespace {

bool Cp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct AudioMatchCase {
    const char* what;
    const char* video;
    std::vector<const char*> audio;
    int matched;
};

// "\x83\x4C\x83\x83\x83\x76\x83\x60\x83\x83" is キャプチャ in code page 932.
const AudioMatchCase kAudioMatchCases[] = {
    {"the card's own sound after a microphone",
     "Fernwood HD Test Card",
     {"Microphone (Realtek High Definition Audio)", "Stereo Mix (Realtek High Definition Audio)",
      "Fernwood HD Test Card Audio"},
     2},
    {"the first card's sound, not the second's, listed first",
     "Fernwood HD Test Card",
     {"Fernwood HD Test Card Audio 2", "Fernwood HD Test Card Audio"},
     1},
    {"the second card's sound",
     "Fernwood HD Test Card 2",
     {"Fernwood HD Test Card Audio", "Fernwood HD Test Card Audio 2"},
     1},
    {"the name in brackets, case aside", "USB3.0 Capture", {"Line In (Realtek)", "Digital Audio Interface (usb3.0 capture)"}, 1},
    {"part of a word is no match", "Cap", {"Capture Audio"}, -1},
    {"a laptop's inputs only", "Fernwood HD Test Card", {"Microphone Array (Intel SST)", "Stereo Mix"}, -1},
    {"equals: the first", "Grabber", {"Grabber Audio", "Grabber Sound"}, 0},
    {"no video name matches nothing", "", {"Microphone"}, -1},
    {"double-byte words", "\x83\x4C\x83\x83\x83\x76\x83\x60\x83\x83 HD",
     {"Line (L v)", "HD \x83\x4C\x83\x83\x83\x76\x83\x60\x83\x83 Audio"},
     1},
    // ソ is 0x83 0x5C, a backslash on its own.
    {"a trail byte never splits a word", "\x83\x5CX", {"X \x83\x5C"}, -1},
};

}  // namespace

TEST(MatchingAudioDevice, HoldsEveryWordOfTheVideoName)
{
    for (const AudioMatchCase& c : kAudioMatchCases)
        EXPECT_EQ(c.matched, MatchingAudioDevice(c.video, c.audio.data(), static_cast<int>(c.audio.size()),
                                                 Cp932LeadByte))
            << c.what;
    EXPECT_EQ(-1, MatchingAudioDevice("Fernwood HD Test Card", nullptr, 0, Cp932LeadByte)) << "no audio device";
}

TEST(RateProbe, EveryRowOfTheTable)
{
    RateOutcome only44 = ResolveRateProbe(true, false, 0);
    EXPECT_EQ(8, only44.state_44k);
    EXPECT_EQ(3, only44.state_48k);
    EXPECT_EQ(44100, only44.rate);

    RateOutcome both_44_checked = ResolveRateProbe(true, true, 8);
    EXPECT_EQ(kStateUnchanged, both_44_checked.state_44k);
    EXPECT_EQ(0, both_44_checked.state_48k);
    EXPECT_TRUE(both_44_checked.reapply_44k);
    EXPECT_EQ(44100, both_44_checked.rate);

    for (unsigned before : {0u, 3u, 11u}) {
        RateOutcome both = ResolveRateProbe(true, true, before);
        EXPECT_EQ(0, both.state_44k) << before;
        EXPECT_EQ(8, both.state_48k) << before;
        EXPECT_FALSE(both.reapply_44k);
        EXPECT_EQ(48000, both.rate);
    }

    RateOutcome only48 = ResolveRateProbe(false, true, 8);
    EXPECT_EQ(3, only48.state_44k);
    EXPECT_EQ(8, only48.state_48k);

    RateOutcome neither = ResolveRateProbe(false, false, 8);
    EXPECT_EQ(kStateUnchanged, neither.state_44k);
    EXPECT_EQ(kStateUnchanged, neither.state_48k);
    EXPECT_EQ(0, neither.rate);
}

TEST(KeepDeviceRate, OnlyTheDevicesOwnRateOfTheTwo)
{
    struct Case {
        unsigned device_rate;
        bool ok_44k, ok_48k;   // the probe
        bool kept_44k, kept_48k;
    };
    const Case cases[] = {
        {48000, true, true, false, true},   {44100, true, true, true, false},
        {0, true, true, true, true},        {96000, true, true, true, true},
        {48000, true, false, true, false},  // the driver refused its own rate: the probe knows better
        {44100, false, true, false, true},
    };
    for (const Case& c : cases) {
        bool ok_44k = c.ok_44k, ok_48k = c.ok_48k;
        KeepDeviceRate(c.device_rate, &ok_44k, &ok_48k);
        EXPECT_EQ(c.kept_44k, ok_44k) << c.device_rate << " " << c.ok_44k << c.ok_48k;
        EXPECT_EQ(c.kept_48k, ok_48k) << c.device_rate << " " << c.ok_44k << c.ok_48k;
    }
}

TEST(MatchingEndpoint, TheOneEndpointTheCutNameBegins)
{
    const char* endpoints[] = {"Microphone (Realtek High Definition Audio)", "Line In (Realtek High Definition Audio)",
                               "Digital Audio Interface (USB3.0 Capture)", "Microphone (HD WebCam)"};
    EXPECT_EQ(0, MatchingEndpoint("Microphone (Realtek High Defini", endpoints, 4));
    EXPECT_EQ(2, MatchingEndpoint("Digital Audio Interface (USB3.0", endpoints, 4));
    EXPECT_EQ(3, MatchingEndpoint("Microphone (HD WebCam)", endpoints, 4));
    EXPECT_EQ(-1, MatchingEndpoint("Microphone (", endpoints, 4)) << "two begin so";
    EXPECT_EQ(-1, MatchingEndpoint("Fernwood HD Test Card Audio", endpoints, 4));
    EXPECT_EQ(-1, MatchingEndpoint("", endpoints, 4));
}

TEST(VideoFormat, TableAndImageSizes)
{
    VideoFormat hd = VideoFormatForHeight(720);
    EXPECT_EQ(1280, hd.width);
    EXPECT_EQ(166833, hd.avg_time_per_frame);
    VideoFormat full = VideoFormatForHeight(1081);
    EXPECT_EQ(1080, full.height);
    EXPECT_EQ(333667, full.avg_time_per_frame);
    EXPECT_EQ(1843200u, ImageSizeBytes(1280, 16, 720));
    EXPECT_EQ(4147200u, ImageSizeBytes(1920, 16, 1080));
    EXPECT_EQ(3u * 1280 * 720, ImageSizeBytes(1280, 24, 720));
    EXPECT_EQ(16u * 3, ImageSizeBytes(5, 24, 3)) << "15-byte rows padded to 16";
}

static bool Cp932Lead(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(CutAtCharacterBoundary, NeverSplitsADoubleByteCharacter)
{
    std::string name = std::string(98, 'a') + "\x83\x65" + "b";  // a double-byte character across byte 99
    std::string buffer = name;
    EXPECT_EQ(98u, CutAtCharacterBoundary(&buffer[0], 99, Cp932Lead));
    EXPECT_STREQ(std::string(98, 'a').c_str(), buffer.c_str());

    buffer = std::string(97, 'a') + "\x83\x65" + "b";
    EXPECT_EQ(99u, CutAtCharacterBoundary(&buffer[0], 99, Cp932Lead));

    std::string all_double;
    for (int i = 0; i < 60; ++i)
        all_double += "\x82\xA0";
    EXPECT_EQ(98u, CutAtCharacterBoundary(&all_double[0], 99, Cp932Lead));

    char lone_lead[] = "ab\x83";
    EXPECT_EQ(2u, CutAtCharacterBoundary(lone_lead, 99, Cp932Lead));
    char short_name[] = "Card";
    EXPECT_EQ(4u, CutAtCharacterBoundary(short_name, 99, Cp932Lead));
}
