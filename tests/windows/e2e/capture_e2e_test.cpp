#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <string>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "card_harness.h"
#include "view/video_layout.h"

namespace {

using CaptureE2E = CardTest;
using testcard::TestCardSetup;

TEST_F(CaptureE2E, TheDefaultCardIsShownInBothRenderModes)
{
    StartWithCard();
    ASSERT_EQ(1, video_device_count);
    EXPECT_EQ(L"Fernwood HD Test Card", MenuText(CommandMenu, IDM_VIDEO_DEVICE_FIRST));
    EXPECT_EQ(8u, IsMenuChecked(IDM_VIDEO_DEVICE_FIRST));
    EXPECT_TRUE(CaughtMessageBoxes().empty());
    EXPECT_EQ(1280, video_rects.native_width);
    EXPECT_EQ(720, video_rects.native_height);
    EXPECT_TRUE(PreviewRuns()) << "first renderer";

    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    EXPECT_TRUE(PreviewRuns()) << "second renderer";
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR9, 0);
    EXPECT_TRUE(PreviewRuns()) << "back on the first renderer";
}

TEST_F(CaptureE2E, ThreeDevicesAreListedInOrderAndTheSavedOneIsChosen)
{
    Card().SetNumber(L"", L"VideoDevices", 3);
    WriteSetting("menu", "capture_device", "1003");
    StartWithCard();
    ASSERT_EQ(3, video_device_count);
    EXPECT_EQ(L"Fernwood HD Test Card", MenuText(CommandMenu, 1002));
    EXPECT_EQ(L"Fernwood HD Test Card 2", MenuText(CommandMenu, 1003));
    EXPECT_EQ(L"Fernwood HD Test Card 3", MenuText(CommandMenu, 1004));
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(1005));
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(IDM_VIDEO_DEVICE_ANCHOR));
    EXPECT_EQ(1, video_device_index);
    EXPECT_EQ(8u, IsMenuChecked(1003));
    EXPECT_EQ(0u, IsMenuChecked(1002));

    SendMessageA(main_window, WM_COMMAND, 1004, 0);
    EXPECT_EQ(2, video_device_index);
    EXPECT_EQ(8u, IsMenuChecked(1004));
    EXPECT_EQ(0u, IsMenuChecked(1003));
    EXPECT_TRUE(PreviewRuns());
}

TEST_F(CaptureE2E, ASavedDeviceBeyondTheListFallsBackToTheFirst)
{
    Card().SetNumber(L"", L"VideoDevices", 3);
    WriteSetting("menu", "capture_device", "1005");
    StartWithCard();
    EXPECT_EQ(0, video_device_index);
    EXPECT_EQ(8u, IsMenuChecked(1002));
}

std::string SavedText(const std::string& path, const char* key)
{
    char text[300] = "";
    GetPrivateProfileStringA("menu", key, "", text, sizeof text, path.c_str());
    return text;
}

// A webcam plugged in since, or the card on another port, moves the card in
// the list: its name finds it where its position would open another device.
TEST_F(CaptureE2E, ASavedDeviceIsFoundByNameWhereverItIsNowListed)
{
    Card().SetNumber(L"", L"VideoDevices", 3);
    WriteSetting("menu", "capture_device", "1002");
    WriteSetting("menu", "capture_device_name", "Fernwood HD Test Card 3");
    WriteSetting("menu", "audio_device", "2002");
    WriteSetting("menu", "audio_device_name", "Fernwood HD Test Card Audio");
    StartWithCard();
    EXPECT_EQ(2, video_device_index);
    EXPECT_EQ(8u, IsMenuChecked(1004));
    EXPECT_EQ(0u, IsMenuChecked(1002));
    EXPECT_TRUE(PreviewRuns());
    CloseViewer();
    EXPECT_EQ(1004u, GetPrivateProfileIntA("menu", "capture_device", 0, SettingsPath().c_str()));
    EXPECT_EQ("Fernwood HD Test Card 3", SavedText(SettingsPath(), "capture_device_name"));
    EXPECT_EQ("Fernwood HD Test Card Audio", SavedText(SettingsPath(), "audio_device_name"));
}

// With no audio device saved, the card's own sound is played, never the
// microphone that happens to be listed first.
TEST_F(CaptureE2E, AFirstStartPlaysTheAudioDeviceNamedAfterTheCard)
{
    Card().SetNumber(L"", L"AudioDevices", 2);
    Card().SetText(TestCardSetup::Audio(0), L"FriendlyName", L"マイク (Realtek High Definition Audio)");
    Card().SetText(TestCardSetup::Audio(1), L"FriendlyName", L"Fernwood HD Test Card Audio");
    StartWithCard();
    EXPECT_EQ(1, audio_device_index);
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_DEVICE_FIRST + 1));
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUDIO_DEVICE_FIRST));
    IBaseFilter* device = nullptr;
    EXPECT_EQ(S_OK, capture_graph.graph->FindFilterByName(L"オーディオデバイス", &device));
    SafeRelease(device);
}

TEST_F(CaptureE2E, AFirstStartWithoutTheCardsSoundPlaysNone)
{
    Card().SetNumber(L"", L"AudioDevices", 2);
    Card().SetText(TestCardSetup::Audio(0), L"FriendlyName", L"マイク (Realtek High Definition Audio)");
    Card().SetText(TestCardSetup::Audio(1), L"FriendlyName", L"ステレオ ミキサー (Realtek High Definition Audio)");
    StartWithCard();
    EXPECT_EQ(-1, audio_device_index);
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_NONE));
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K));
    IBaseFilter* device = nullptr;
    EXPECT_NE(S_OK, capture_graph.graph->FindFilterByName(L"オーディオデバイス", &device));
    SafeRelease(device);
}

TEST_F(CaptureE2E, TwelveDevicesListTenAndTheAudioStillFollows)
{
    Card().SetNumber(L"", L"VideoDevices", 12);
    StartWithCard();
    EXPECT_EQ(10, video_device_count);
    EXPECT_EQ(L"Fernwood HD Test Card 10", MenuText(CommandMenu, 1011));
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(1012));
    EXPECT_EQ(1, audio_device_count);
    EXPECT_EQ(L"Fernwood HD Test Card Audio", MenuText(CommandMenu, IDM_AUDIO_DEVICE_FIRST));
}

VIDEOINFOHEADER CurrentFormat(GUID* subtype)
{
    AM_MEDIA_TYPE* type = nullptr;
    VIDEOINFOHEADER info{};
    if (capture_graph.video_config && SUCCEEDED(capture_graph.video_config->GetFormat(&type)) && type) {
        *subtype = type->subtype;
        if (type->pbFormat && type->cbFormat >= sizeof info)
            info = *reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
        FreeMediaType(type);
    }
    return info;
}

TEST_F(CaptureE2E, TheUyvyCapabilityIsFoundBehindOtherFormatsAndSwitched)
{
    StartWithCard();  // the card lists YUY2 and RGB24 first, UYVY 720 at index 3
    GUID subtype{};
    VIDEOINFOHEADER info = CurrentFormat(&subtype);
    EXPECT_TRUE(subtype == MEDIASUBTYPE_UYVY);
    EXPECT_EQ(1280, info.bmiHeader.biWidth);
    EXPECT_EQ(720, info.bmiHeader.biHeight);
    EXPECT_EQ(166833, info.AvgTimePerFrame);
    EXPECT_EQ(1843200u, info.bmiHeader.biSizeImage);

    SwitchShownVideoFormat(video_device_index, 1080);
    info = CurrentFormat(&subtype);
    EXPECT_TRUE(subtype == MEDIASUBTYPE_UYVY);
    EXPECT_EQ(1920, info.bmiHeader.biWidth);
    EXPECT_EQ(1080, info.bmiHeader.biHeight);
    EXPECT_EQ(333667, info.AvgTimePerFrame);
    EXPECT_EQ(4147200u, info.bmiHeader.biSizeImage);
    EXPECT_EQ(1920, video_rects.native_width);
    EXPECT_EQ(1080, video_rects.native_height);
    EXPECT_TRUE(PreviewRuns());
}

TEST_F(CaptureE2E, ALongJapaneseNameIsCutAtACharacterBoundary)
{
    std::wstring name;
    for (int i = 0; i < 51; ++i)
        name += L"録";  // 102 bytes in code page 932
    Card().SetText(TestCardSetup::Video(0), L"FriendlyName", name);
    StartWithCard();
    EXPECT_EQ(name.substr(0, 49), MenuText(CommandMenu, IDM_VIDEO_DEVICE_FIRST));
    EXPECT_EQ(98u, std::string(device_list.video_names[0]).size());
}

TEST_F(CaptureE2E, ADeviceThatCannotBeOpenedIsReportedOnce)
{
    Card().SetNumber(TestCardSetup::Video(0), L"Missing", 1);
    StartWithCard();
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    EXPECT_EQ(std::vector<std::wstring>{L"ビデオキャプチャデバイスを開けませんでした"}, CaughtMessageBoxes());
    EXPECT_EQ(nullptr, capture_graph.video_capture);
    EXPECT_TRUE(IsWindow(main_window));
}

TEST_F(CaptureE2E, NoDeviceAtAllIsReportedOnce)
{
    Card().SetNumber(L"", L"VideoDevices", 0);
    Card().SetNumber(L"", L"AudioDevices", 0);
    StartWithCard();
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    EXPECT_EQ(std::vector<std::wstring>{L"ビデオキャプチャデバイスが見つかりません"}, CaughtMessageBoxes());
    EXPECT_EQ(-1, audio_device_index) << "no audio device behaves as none chosen";
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_NONE));
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_48K));
}

int CurrentAudioRate()
{
    AM_MEDIA_TYPE* type = nullptr;
    int rate = 0;
    if (capture_graph.audio_config && SUCCEEDED(capture_graph.audio_config->GetFormat(&type)) && type) {
        if (type->pbFormat && type->cbFormat >= sizeof(WAVEFORMATEX))
            rate = static_cast<int>(reinterpret_cast<WAVEFORMATEX*>(type->pbFormat)->nSamplesPerSec);
        FreeMediaType(type);
    }
    return rate;
}

// Another program holding the card, as a streaming program or the card
// maker's tool does; it lets go when its event is set.
class CardHolder {
public:
    CardHolder() : stop_(CreateEventW(nullptr, TRUE, FALSE, L"fernwood-hold")),
                   running_(CreateEventW(nullptr, TRUE, FALSE, L"fernwood-hold.running"))
    {
        char exe[MAX_PATH];
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string path(exe);
        path = path.substr(0, path.find_last_of('\\') + 1) + "testcard_hold.exe";
        std::string command = "\"" + path + "\" 0 fernwood-hold";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process_) != FALSE;
    }
    ~CardHolder()
    {
        LetGo();
        CloseHandle(stop_);
        CloseHandle(running_);
    }
    bool Holds() const { return started_ && WaitForSingleObject(running_, 20000) == WAIT_OBJECT_0; }
    bool LetGo()
    {
        if (!started_)
            return false;
        SetEvent(stop_);
        bool ended = WaitForSingleObject(process_.hProcess, 20000) == WAIT_OBJECT_0;
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        started_ = false;
        return ended;
    }

private:
    HANDLE stop_, running_;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

TEST_F(CaptureE2E, ACardHeldByAnotherProgramIsSaidAndPreviewsWhenChosenAgain)
{
    ASSERT_EQ(S_OK, Card().Register());
    CardHolder holder;
    ASSERT_TRUE(holder.Holds());
    StartViewer();
    const wchar_t* in_use = L"ほかのプログラムが使っています";
    ASSERT_TRUE(PumpUntil([&] { return MessageSaid(in_use); })) << CaughtText();
    // Still usable: switches re-wire and fail for the same reason without a new box.
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR9, 0);
    Pump(500);
    EXPECT_EQ(1u, CaughtMessageBoxes().size());
    EXPECT_EQ(8u, IsMenuChecked(IDM_VIDEO_DEVICE_FIRST));

    ASSERT_TRUE(holder.LetGo());
    SendMessageA(main_window, WM_COMMAND, IDM_VIDEO_DEVICE_FIRST, 0);
    EXPECT_TRUE(PreviewRuns()) << "the chosen device may be chosen again to try again";
    EXPECT_EQ(1u, CaughtMessageBoxes().size());
    EXPECT_EQ(8u, IsMenuChecked(IDM_VIDEO_DEVICE_FIRST));
}

TEST_F(CaptureE2E, RateItemsFollowWhatTheAudioDeviceAccepts)
{
    Card().SetNumber(L"", L"AudioDevices", 3);
    Card().SetText(TestCardSetup::Audio(1), L"Rates", L"48000");
    Card().SetText(TestCardSetup::Audio(2), L"Rates", L"8000");
    StartWithCard();
    // Both rates, first start: 48 kHz.
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_48K));
    EXPECT_EQ(48000, CurrentAudioRate());

    SendMessageA(main_window, WM_COMMAND, IDM_AUDIO_44K, 0);
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUDIO_48K));
    EXPECT_EQ(44100, CurrentAudioRate());

    SendMessageA(main_window, WM_COMMAND, IDM_AUDIO_DEVICE_FIRST + 1, 0);  // only 48 kHz
    EXPECT_EQ(1, audio_device_index);
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_48K));
    EXPECT_EQ(48000, CurrentAudioRate());

    SendMessageA(main_window, WM_COMMAND, IDM_AUDIO_DEVICE_FIRST + 2, 0);  // neither
    EXPECT_EQ(2, audio_device_index);
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K)) << "unchanged";
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_48K)) << "unchanged";

    SendMessageA(main_window, WM_COMMAND, IDM_AUDIO_NONE, 0);
    EXPECT_EQ(-1, audio_device_index);
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_48K));
    IBaseFilter* device = nullptr;
    EXPECT_NE(S_OK, capture_graph.graph->FindFilterByName(L"オーディオデバイス", &device));
    SafeRelease(device);
    CloseViewer();
    EXPECT_EQ(2001u, GetPrivateProfileIntA("menu", "audio_device", 0, SettingsPath().c_str()));
    EXPECT_EQ(17003u, GetPrivateProfileIntA("menu", "sampling_rate", 0, SettingsPath().c_str()));
}

int FiltersInGraph()
{
    int count = 0;
    CardTest::ForEachFilter([&](IBaseFilter*) { ++count; });
    return count;
}

TEST_F(CaptureE2E, RateAndDeviceSwitchesDoNotGrowTheGraph)
{
    Card().SetNumber(L"", L"AudioDevices", 2);
    StartWithCard();
    int at_start = FiltersInGraph();
    ASSERT_GT(at_start, 0);
    for (UINT id : {IDM_AUDIO_44K, IDM_AUDIO_48K, IDM_AUDIO_DEVICE_FIRST + 1, IDM_AUDIO_DEVICE_FIRST, IDM_AUDIO_44K})
        SendMessageA(main_window, WM_COMMAND, id, 0);
    EXPECT_EQ(44100, CurrentAudioRate());
    EXPECT_EQ(at_start, FiltersInGraph());
}

TEST_F(CaptureE2E, TheAudioIsRenderedThroughTheTee)
{
    StartWithCard();
    ASSERT_NE(nullptr, capture_graph.pin_tee);
    ASSERT_NE(nullptr, capture_graph.audio_capture);
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, capture_graph.pin_tee->EnumPins(&pins));
    int connected_outputs = 0;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        IPin* peer = nullptr;
        pin->QueryDirection(&direction);
        if (direction == PINDIR_OUTPUT && pin->ConnectedTo(&peer) == S_OK) {
            ++connected_outputs;
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    EXPECT_EQ(1, connected_outputs) << "the monitor output feeds the audio renderer";
}

}  // namespace

namespace {

struct PinFormat {
    GUID subtype = GUID_NULL;
    GUID formattype = GUID_NULL;
    LONG width = 0, height = 0;
    REFERENCE_TIME interval = 0;
    int connected = 0;
};

// The picture's header in either format block.
bool ReadVideoType(const AM_MEDIA_TYPE& type, PinFormat* format)
{
    const BITMAPINFOHEADER* header = nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        header = &info->bmiHeader;
        format->interval = info->AvgTimePerFrame;
    } else if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto info = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        header = &info->bmiHeader;
        format->interval = info->AvgTimePerFrame;
    }
    if (!header || type.majortype != MEDIATYPE_Video)
        return false;
    format->subtype = type.subtype;
    format->formattype = type.formattype;
    format->width = header->biWidth;
    format->height = header->biHeight;
    return true;
}

// What the card's connected pins really carry.
PinFormat CardConnection()
{
    PinFormat format;
    if (!capture_graph.video_capture)
        return format;
    CardTest::ForEachPin(capture_graph.video_capture, [&](IPin* pin) {
        AM_MEDIA_TYPE type{};
        if (pin->ConnectionMediaType(&type) == S_OK) {
            format.connected += ReadVideoType(type, &format);
            FreeMediaTypeContents(type);
        }
    });
    return format;
}

void ExpectCardFormat(LONG width, LONG height, const char* after)
{
    PinFormat format = CardConnection();
    EXPECT_GE(format.connected, 1) << after;
    EXPECT_TRUE(format.subtype == MEDIASUBTYPE_UYVY) << after;
    EXPECT_EQ(width, format.width) << after;
    EXPECT_EQ(height, format.height) << after;
}

// The card forgets its format whenever its pins are disconnected, as Windows'
// capture pins do: every re-wiring must set it again.
void ExpectFormatSurvivesRewiring(LONG width, LONG height)
{
    ExpectCardFormat(width, height, "at start");
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    ExpectCardFormat(width, height, "after the switch to the second renderer");
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR9, 0);
    ExpectCardFormat(width, height, "after the switch back");
    SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
    ExpectCardFormat(width, height, "after a still");
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ExpectCardFormat(width, height, "recording");
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ExpectCardFormat(width, height, "after the recording");
    EXPECT_TRUE(CardTest::PreviewRuns());
    EXPECT_TRUE(CaughtMessageBoxes().empty());
}

// Smart Tees in the graph whose input is cut: left over from a re-wiring.
int IdleSmartTees()
{
    int idle = 0;
    CardTest::ForEachFilter([&](IBaseFilter* filter) {
        CLSID clsid{};
        if (filter->GetClassID(&clsid) != S_OK || clsid != CLSID_SmartTee)
            return;
        bool fed = false;
        CardTest::ForEachPin(filter, [&](IPin* pin) {
            PIN_DIRECTION direction;
            IPin* peer = nullptr;
            if (pin->QueryDirection(&direction) == S_OK && direction == PINDIR_INPUT && pin->ConnectedTo(&peer) == S_OK) {
                fed = true;
                peer->Release();
            }
        });
        idle += !fed;
    });
    return idle;
}

// Filters that end the sound: an audio input connected and no output at all.
int SoundSinks()
{
    int sinks = 0;
    CardTest::ForEachFilter([&](IBaseFilter* filter) {
        bool hears = false, outputs = false;
        CardTest::ForEachPin(filter, [&](IPin* pin) {
            PIN_DIRECTION direction;
            AM_MEDIA_TYPE type{};
            pin->QueryDirection(&direction);
            outputs = outputs || direction == PINDIR_OUTPUT;
            if (direction == PINDIR_INPUT && pin->ConnectionMediaType(&type) == S_OK) {
                hears = hears || type.majortype == MEDIATYPE_Audio;
                FreeMediaTypeContents(type);
            }
        });
        sinks += hears && !outputs;
    });
    return sinks;
}

class FormatE2E : public CardTest {};

TEST_F(FormatE2E, The720FormatSurvivesEveryRewiring)
{
    StartWithCard();
    ExpectFormatSurvivesRewiring(1280, 720);
}

TEST_F(FormatE2E, The1080FormatSurvivesEveryRewiring)
{
    WriteSetting("menu", "resolution", "4002");
    WriteSetting("menu", "size", "6001");  // a 1080-line window would not fit the screen
    StartWithCard();
    ExpectFormatSurvivesRewiring(1920, 1080);
}

TEST_F(FormatE2E, ACardWithoutPreviewPinPreviewsSwitchesAndRecordsThroughASmartTee)
{
    Card().SetNumber(TestCardSetup::Video(0), L"PreviewPin", 0);
    StartWithCard();
    EXPECT_TRUE(PreviewRuns());
    SendMessageA(main_window, WM_COMMAND, IDM_SIZE_HALF, 0);  // a 1080-line window would not fit the screen
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    EXPECT_TRUE(PreviewRuns());
    SendMessageA(main_window, WM_COMMAND, IDM_RES_1080, 0);
    EXPECT_TRUE(PreviewRuns());
    ExpectFormatSurvivesRewiring(1920, 1080);
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    EXPECT_TRUE(PreviewRuns());
    EXPECT_EQ(0, IdleSmartTees()) << "the tees of earlier connections are gone";
    EXPECT_EQ(1, SoundSinks()) << "the live sound plays once, not through an old tee as well";
}

// A card as varied as real ones: the menu's format is previewed with the
// size and rate it names, or the user is told once why not and something is
// shown all the same.
struct CardVariation {
    const char* name;
    std::vector<std::pair<const wchar_t*, std::wstring>> texts;
    std::vector<std::pair<const wchar_t*, DWORD>> numbers;
    int height;
    GUID subtype;  // what the card must be connected with; GUID_NULL: no preview
    GUID formattype;
    REFERENCE_TIME interval;
    const wchar_t* told;  // the message the user sees once, or nullptr
};

// Each variation runs in a process of its own: the viewer's state is process-wide.
class CardVariationE2E : public CardTest {
protected:
    void Expect(const CardVariation& v);
};

void CardVariationE2E::Expect(const CardVariation& v)
{
    for (const auto& text : v.texts)
        Card().SetText(TestCardSetup::Video(0), text.first, text.second);
    for (const auto& number : v.numbers)
        Card().SetNumber(TestCardSetup::Video(0), number.first, number.second);
    if (v.height == 1080) {
        WriteSetting("menu", "resolution", "4002");
        WriteSetting("menu", "size", "6001");  // a 1080-line window would not fit the screen
    }
    StartWithCard();
    if (v.told) {
        ASSERT_TRUE(PumpUntil([&] { return MessageSaid(v.told); })) << v.name << ": " << CaughtText();
        Pump(500);
        EXPECT_EQ(1, MessagesSaying(v.told)) << v.name;
    }
    EXPECT_EQ(v.told ? 1u : 0u, CaughtMessageBoxes().size()) << v.name << ": " << CaughtText();
    EXPECT_TRUE(IsWindow(main_window));
    if (v.subtype == GUID_NULL)
        return;
    EXPECT_TRUE(PreviewRuns()) << v.name;
    PinFormat format = CardConnection();
    EXPECT_GE(format.connected, 1) << v.name;
    EXPECT_TRUE(format.subtype == v.subtype) << v.name;
    EXPECT_TRUE(format.formattype == v.formattype) << v.name;
    if (v.told)
        return;  // the card's own format
    EXPECT_EQ(v.height == 720 ? 1280 : 1920, format.width) << v.name;
    EXPECT_EQ(v.height, format.height) << v.name;
    EXPECT_EQ(v.interval, format.interval) << v.name;
}

std::wstring ManyCapabilities()
{
    std::wstring list;
    for (int i = 0; i < 22; ++i)
        list += std::wstring(i % 2 ? L"RGB24" : L"RGB32") + L" 1280x720, ";
    return list + L"UYVY 1920x1080, UYVY 1280x720";
}

TEST_F(CardVariationE2E, Plain)
{
    Expect({"plain", {}, {}, 720, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 166833, nullptr});
}

TEST_F(CardVariationE2E, UyvyOnly)
{
    Expect({"UYVY only", {{L"Capabilities", L"UYVY 1280x720, UYVY 1920x1080"}}, {}, 1080, MEDIASUBTYPE_UYVY,
            FORMAT_VideoInfo, 333667, nullptr});
}

TEST_F(CardVariationE2E, Yuy2Only)
{
    Expect({"YUY2 only", {{L"Capabilities", L"YUY2 1920x1080, YUY2 1280x720"}}, {}, 720, MEDIASUBTYPE_YUY2,
            FORMAT_VideoInfo, 166833, nullptr});
}

TEST_F(CardVariationE2E, MoreThanTwentyEntries)
{
    Expect({"more than twenty entries", {{L"Capabilities", ManyCapabilities()}}, {}, 720, MEDIASUBTYPE_UYVY,
            FORMAT_VideoInfo, 166833, nullptr});
}

TEST_F(CardVariationE2E, VideoInfo2Only)
{
    Expect({"VIDEOINFOHEADER2 only", {{L"FormatType", L"VideoInfo2"}}, {}, 720, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo2,
            166833, nullptr});
}

TEST_F(CardVariationE2E, Exactly60)
{
    Expect({"exactly 60.00 fps", {{L"Capabilities", L"UYVY 1280x720 166667-166667, UYVY 1920x1080 333333-333333"}},
            {}, 720, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 166667, nullptr});
}

TEST_F(CardVariationE2E, ARangeStartingJustAbove5994)
{
    Expect({"a range from 166834", {{L"Capabilities", L"UYVY 1920x1080 333667, UYVY 1280x720 166834-333667"}}, {},
            720, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 166834, nullptr});
}

TEST_F(CardVariationE2E, AScalingRange)
{
    Expect({"a scaling range", {{L"Capabilities", L"RGB24 1280x720, UYVY 640x360-1920x1080/8 333667"}}, {}, 1080,
            MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 333667, nullptr});
}

TEST_F(CardVariationE2E, AnAudioPinBeforeThePictures)
{
    Expect({"an audio pin first", {}, {{L"AudioPin", 1}}, 720, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 166833,
            nullptr});
}

// The preview pin does not follow the capture pin's format: the viewer sets it too.
TEST_F(CardVariationE2E, PinsWithFormatsOfTheirOwn)
{
    Expect({"pins with formats of their own", {{L"PinFormats", L"Independent"}}, {}, 1080, MEDIASUBTYPE_UYVY,
            FORMAT_VideoInfo, 333667, nullptr});
}

TEST_F(CardVariationE2E, CamerasTurnedOffInThePrivacySettings)
{
    Expect({"privacy switch", {}, {{L"RunResult", static_cast<DWORD>(E_ACCESSDENIED)}}, 720, GUID_NULL, GUID_NULL, 0,
            L"プライバシー設定でカメラへのアクセスがオフ"});
}

TEST_F(CardVariationE2E, No1080Lines)
{
    Expect({"no 1080 lines", {{L"Capabilities", L"UYVY 1280x720"}}, {}, 1080, MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 0,
            L"このデバイスは 1920×1080 29.97fps の映像を出せません"});
}

}  // namespace
