// The configured devices as the platform's device enumerator lists them.
#include <string>
#include <vector>

#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/testcard_setup.h"
#include "testcard_harness.h"

namespace testcard_test {
namespace {

using testcard::TestCardSetup;

using Device = ListedDevice;

ComPtr<IBaseFilter> Bind(IMoniker* moniker, HRESULT* hr) {
  ComPtr<IBaseFilter> filter;
  *hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
  return filter;
}

using DevicesTest = ComTest;

TEST_F(DevicesTest, DefaultPrefixListsOneCardAndOneAudioSource) {
  std::vector<Device> video = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(1u, video.size());
  EXPECT_EQ(L"Fernwood HD Test Card", video[0].name);
  std::vector<Device> audio = ListDevices(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(1u, audio.size());
  EXPECT_EQ(L"Fernwood HD Test Card Audio", audio[0].name);
  HRESULT hr;
  ComPtr<IBaseFilter> card = Bind(video[0].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  CLSID clsid;
  ASSERT_EQ(S_OK, card->GetClassID(&clsid));
  EXPECT_TRUE(IsEqualGUID(testcard::CLSID_TestCardVideo, clsid));
  ComPtr<IBaseFilter> source = Bind(audio[0].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  EXPECT_EQ(1u, RefCount(source.Get()));
}

TEST_F(DevicesTest, ConfiguredDevicesAppearInOrderWithTheirNames) {
  TestCardSetup setup;
  // 51 characters, 102 bytes in code page 932: more than a 100-byte buffer holds.
  const std::wstring long_name =
      L"超高精細テストカード第二号機は名前が長くて百バイトに収まらない場合の確認用デバイス名です本当にそうです";
  ASSERT_GT(WideCharToMultiByte(932, 0, long_name.c_str(), -1, nullptr, 0, nullptr, nullptr), 100);
  ASSERT_TRUE(setup.SetNumber(L"", L"VideoDevices", 3));
  ASSERT_TRUE(setup.SetNumber(L"", L"AudioDevices", 2));
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"FriendlyName", L"Card A"));
  ASSERT_TRUE(setup.SetText(setup.Video(1), L"FriendlyName", long_name));
  ASSERT_TRUE(setup.SetText(setup.Audio(1), L"FriendlyName", L"Line In B"));
  ASSERT_EQ(S_OK, setup.Register());

  std::vector<Device> video = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(3u, video.size());
  EXPECT_EQ(L"Card A", video[0].name);
  EXPECT_EQ(long_name, video[1].name);
  EXPECT_EQ(L"Fernwood HD Test Card 3", video[2].name);
  // Each video device has a path of its own, as a KS device's interface; audio devices none.
  for (size_t i = 0; i < video.size(); ++i) {
    EXPECT_EQ(0u, video[i].path.rfind(L"\\\\?\\", 0)) << video[i].path;
    for (size_t j = 0; j < i; ++j) EXPECT_NE(video[j].path, video[i].path);
  }
  std::vector<Device> audio = ListDevices(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(2u, audio.size());
  EXPECT_EQ(L"Fernwood HD Test Card Audio", audio[0].name);
  EXPECT_EQ(L"Line In B", audio[1].name);
  EXPECT_TRUE(audio[0].path.empty());
}

TEST_F(DevicesTest, TwelveDevicesAndNone) {
  TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(L"", L"VideoDevices", 12));
  ASSERT_EQ(S_OK, setup.Register());
  std::vector<Device> video = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(12u, video.size());
  EXPECT_EQ(L"Fernwood HD Test Card", video[0].name);
  EXPECT_EQ(L"Fernwood HD Test Card 10", video[9].name);
  EXPECT_EQ(L"Fernwood HD Test Card 12", video[11].name);

  ASSERT_TRUE(setup.SetNumber(L"", L"VideoDevices", 0));
  ASSERT_TRUE(setup.SetNumber(L"", L"AudioDevices", 0));
  ASSERT_EQ(S_OK, setup.Register());
  EXPECT_TRUE(ListDevices(CLSID_VideoInputDeviceCategory).empty());
  EXPECT_TRUE(ListDevices(CLSID_AudioInputDeviceCategory).empty());
}

TEST_F(DevicesTest, EachDeviceBindsToItsOwnConfiguration) {
  TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(L"", L"VideoDevices", 2));
  ASSERT_TRUE(setup.SetNumber(L"", L"AudioDevices", 2));
  ASSERT_TRUE(setup.SetText(setup.Video(1), L"Capabilities", L"UYVY 1920x1080, UYVY 1280x720"));
  ASSERT_TRUE(setup.SetText(setup.Audio(1), L"Rates", L"48000"));
  ASSERT_EQ(S_OK, setup.Register());
  std::vector<Device> video = ListDevices(CLSID_VideoInputDeviceCategory);
  std::vector<Device> audio = ListDevices(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(2u, video.size());
  ASSERT_EQ(2u, audio.size());

  HRESULT hr;
  ComPtr<IBaseFilter> cards[2];
  for (size_t i = 0; i < 2; ++i) {
    cards[i] = Bind(video[i].moniker.Get(), &hr);
    ASSERT_EQ(S_OK, hr);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, Named(cards[i].Get(), L"Capture").As(&config));
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(i == 0 ? 7 : 2, count);
  }
  // Each device is held on its own: another binding of device 0 waits for it.
  EXPECT_EQ(S_OK, cards[0]->Pause());
  EXPECT_EQ(S_OK, cards[1]->Pause());
  ComPtr<IBaseFilter> again = Bind(video[0].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), again->Pause());
  for (ComPtr<IBaseFilter>& card : cards) EXPECT_EQ(S_OK, card->Stop());
  EXPECT_EQ(S_OK, again->Pause());
  EXPECT_EQ(S_OK, again->Stop());
  ComPtr<IBaseFilter> only48 = Bind(audio[1].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, PinAt(only48.Get(), 0).As(&config));
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(1, count);
}

unsigned CountPins(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  unsigned count = 0;
  if (SUCCEEDED(filter->EnumPins(pins.Put())))
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) ++count;
  return count;
}

TEST_F(DevicesTest, PinsFollowTheBoundDevice) {
  TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(L"", L"VideoDevices", 3));
  ASSERT_TRUE(setup.SetNumber(setup.Video(1), L"PreviewPin", 0));
  ASSERT_TRUE(setup.SetNumber(setup.Video(2), L"AudioPin", 1));
  ASSERT_EQ(S_OK, setup.Register());
  std::vector<Device> video = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(3u, video.size());
  HRESULT hr;
  ComPtr<IBaseFilter> with_preview = Bind(video[0].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  EXPECT_EQ(2u, CountPins(with_preview.Get()));
  ComPtr<IBaseFilter> capture_only = Bind(video[1].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  EXPECT_EQ(1u, CountPins(capture_only.Get()));
  ComPtr<IPin> none;
  EXPECT_EQ(VFW_E_NOT_FOUND, capture_only->FindPin(L"Preview", none.Put()));
  EXPECT_TRUE(Named(capture_only.Get(), L"Capture"));
  ComPtr<IBaseFilter> with_sound = Bind(video[2].moniker.Get(), &hr);
  ASSERT_EQ(S_OK, hr);
  EXPECT_EQ(3u, CountPins(with_sound.Get()));
  EXPECT_EQ(Named(with_sound.Get(), L"Audio").Get(), PinAt(with_sound.Get(), 0).Get());
}

TEST_F(DevicesTest, DisappearedDeviceIsListedButCannotBeBound) {
  TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(L"", L"VideoDevices", 2));
  ASSERT_TRUE(setup.SetNumber(setup.Video(1), L"Missing", 1));
  ASSERT_TRUE(setup.SetNumber(setup.Audio(0), L"Missing", 1));
  ASSERT_EQ(S_OK, setup.Register());
  std::vector<Device> video = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(2u, video.size());
  HRESULT hr;
  EXPECT_TRUE(Bind(video[0].moniker.Get(), &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_FALSE(Bind(video[1].moniker.Get(), &hr));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), hr);
  std::vector<Device> audio = ListDevices(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(1u, audio.size());
  EXPECT_FALSE(Bind(audio[0].moniker.Get(), &hr));
  EXPECT_TRUE(FAILED(hr));
}

}  // namespace
}  // namespace testcard_test
