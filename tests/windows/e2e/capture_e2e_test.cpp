#include <windows.h>

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
    IEnumFilters* filters = nullptr;
    if (capture_graph.graph->EnumFilters(&filters) != S_OK)
        return -1;
    int count = 0;
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        ++count;
        filter->Release();
    }
    filters->Release();
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
    LONG width = 0, height = 0;
    int connected = 0;
};

// What the card's connected pins really carry.
PinFormat CardConnection()
{
    PinFormat format;
    IEnumPins* pins = nullptr;
    if (!capture_graph.video_capture || capture_graph.video_capture->EnumPins(&pins) != S_OK)
        return format;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        AM_MEDIA_TYPE type{};
        if (pin->ConnectionMediaType(&type) == S_OK) {
            ++format.connected;
            if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
                auto info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
                format.subtype = type.subtype;
                format.width = info->bmiHeader.biWidth;
                format.height = info->bmiHeader.biHeight;
            }
            FreeMediaTypeContents(type);
        }
        pin->Release();
    }
    pins->Release();
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
}

}  // namespace
