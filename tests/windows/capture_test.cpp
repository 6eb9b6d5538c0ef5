#include <windows.h>

#include <string>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "state/timer_ids.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "viewer_harness.h"

namespace {

using CaptureTest = ViewerTest;

bool InGraph(const wchar_t* name)
{
    IBaseFilter* filter = nullptr;
    if (capture_graph.graph->FindFilterByName(name, &filter) != S_OK)
        return false;
    filter->Release();
    return true;
}

OAFilterState GraphState()
{
    OAFilterState state = -1;
    capture_graph.media_control->GetState(5000, &state);
    return state;
}

TEST_F(CaptureTest, GraphHoldsRenderersDecompressorsAndConverterAndRuns)
{
    StartViewer();
    ASSERT_EQ(1, capture_graph.graph_ready);
    for (const wchar_t* name : {L"Video Mixing Renderer9", L"Video Mixing Renderer7", L"AviDecompressor1",
                                L"AviDecompressor2"})
        EXPECT_TRUE(InGraph(name)) << name;
    EXPECT_NE(nullptr, capture_graph.vmr9_windowless);
    EXPECT_NE(nullptr, capture_graph.vmr7_windowless);
    EXPECT_NE(nullptr, capture_graph.device_enum);
    EXPECT_EQ(State_Running, GraphState());
}

TEST_F(CaptureTest, RenderModeSwitchesFollowTheMenu)
{
    StartViewer();
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR9, 0);  // already checked: nothing
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR9));
    EXPECT_EQ(0u, IsMenuChecked(IDM_FRAME_RATE));

    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    EXPECT_EQ(0u, IsMenuChecked(IDM_MODE_VMR9));
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR7));
    EXPECT_EQ(3u, IsMenuChecked(IDM_FRAME_RATE));
    EXPECT_EQ(L"平均 - fps", MenuText(CommandMenu, IDM_FRAME_RATE));
    EXPECT_FALSE(KillTimer(main_window, TIMER_FPS)) << "no readout in the second mode";
    EXPECT_EQ(State_Running, GraphState());

    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR9, 0);
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR9));
    EXPECT_EQ(0u, IsMenuChecked(IDM_MODE_VMR7));
    EXPECT_EQ(0u, IsMenuChecked(IDM_FRAME_RATE));
    EXPECT_TRUE(KillTimer(main_window, TIMER_FPS));
    EXPECT_EQ(State_Running, GraphState());

    SetMenuState(IDM_MODE_VMR7, MENU_GRAYED);  // as while recording
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR9));
}

// A renderer as the readout sees it: IQualProp with an average rate
// (hundredths of a frame a second), one that fails, or no IQualProp at all.
class FakeStatisticsRenderer final : public IBaseFilter, public IQualProp {
public:
    FakeStatisticsRenderer(bool statistics, HRESULT result, int rate)
        : statistics_(statistics), result_(result), rate_(rate) {}
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IBaseFilter)
            *out = static_cast<IBaseFilter*>(this);
        else if (iid == IID_IQualProp && statistics_)
            *out = static_cast<IQualProp*>(this);
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT WINAPI Stop() override { return E_NOTIMPL; }
    HRESULT WINAPI Pause() override { return E_NOTIMPL; }
    HRESULT WINAPI Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT WINAPI GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
    HRESULT WINAPI EnumPins(IEnumPins**) override { return E_NOTIMPL; }
    HRESULT WINAPI FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    HRESULT WINAPI QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    HRESULT WINAPI JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_FramesDroppedInRenderer(int*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_FramesDrawn(int*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_AvgFrameRate(int* rate) override
    {
        *rate = rate_;
        return result_;
    }
    HRESULT WINAPI get_Jitter(int*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_AvgSyncOffset(int*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_DevSyncOffset(int*) override { return E_NOTIMPL; }

private:
    bool statistics_;
    HRESULT result_;
    int rate_;
};

TEST_F(CaptureTest, ReadoutShowsTheRenderersAverageOrADash)
{
    StartViewer();
    struct {
        FakeStatisticsRenderer renderer;
        const wchar_t* caption;
    } cases[] = {
        {{true, S_OK, 5994}, L"平均 59 fps"},  // whole frames, cut down
        {{true, S_OK, 2997}, L"平均 29 fps"},
        {{true, S_OK, 0}, L"平均 0 fps"},
        {{true, E_FAIL, 5994}, L"平均 - fps"},
        {{false, S_OK, 5994}, L"平均 - fps"},
    };
    IBaseFilter* real = capture_graph.vmr9;
    for (auto& c : cases) {
        capture_graph.vmr9 = &c.renderer;
        SendMessageA(main_window, WM_TIMER, TIMER_FPS, 0);
        capture_graph.vmr9 = real;
        EXPECT_EQ(c.caption, MenuText(CommandMenu, IDM_FRAME_RATE));
    }
}

// The platform lists compressors of its own; they come before "uncompressed".
TEST_F(CaptureTest, CompressorsAreListedBeforeUncompressedWhichIsTheDefault)
{
    StartViewer();
    ASSERT_GT(compressor_count, 0);
    for (int i = 0; i < compressor_count; ++i) {
        EXPECT_EQ(0u, IsMenuChecked(IDM_COMPRESSOR_FIRST + i));
        EXPECT_NE(L"<no item>", MenuText(CommandMenu, IDM_COMPRESSOR_FIRST + i));
    }
    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(IDM_COMPRESSOR_FIRST + compressor_count));
    EXPECT_EQ(8u, IsMenuChecked(IDM_COMPRESSOR_NONE));
    EXPECT_EQ(-1, compressor_index);
    EXPECT_FALSE(InGraph(L"ビデオコンプレッサ"));
}

TEST_F(CaptureTest, SavedCompressorIsBoundWithoutADialog)
{
    WriteSetting("menu", "compressor", "10002");
    StartViewer();
    ASSERT_GE(compressor_count, 1);
    EXPECT_EQ(0, compressor_index);
    EXPECT_EQ(8u, IsMenuChecked(10002));
    EXPECT_EQ(0u, IsMenuChecked(IDM_COMPRESSOR_NONE));
    EXPECT_TRUE(InGraph(L"ビデオコンプレッサ"));
}

TEST_F(CaptureTest, SavedCompressorNoLongerListedSettlesOnUncompressed)
{
    WriteSetting("menu", "compressor", "10051");
    StartViewer();
    EXPECT_EQ(-1, compressor_index);
    EXPECT_EQ(8u, IsMenuChecked(IDM_COMPRESSOR_NONE));
    EXPECT_FALSE(InGraph(L"ビデオコンプレッサ"));
    CloseViewer();
    EXPECT_EQ(10001u, GetPrivateProfileIntA("menu", "compressor", 0, SettingsPath().c_str()));
}

TEST_F(CaptureTest, UncompressedAfterACompressorKeepsTheFilterInTheGraph)
{
    StartViewer();
    ASSERT_GT(compressor_count, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_FIRST, 0);
    EXPECT_EQ(0, compressor_index);
    EXPECT_EQ(8u, IsMenuChecked(IDM_COMPRESSOR_FIRST));
    EXPECT_EQ(0u, IsMenuChecked(IDM_COMPRESSOR_NONE));
    ASSERT_TRUE(InGraph(L"ビデオコンプレッサ"));
    IBaseFilter* chosen = capture_graph.compressor;

    SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_FIRST, 0);  // again: only its dialog
    EXPECT_EQ(chosen, capture_graph.compressor);

    SendMessageA(main_window, WM_COMMAND, IDM_COMPRESSOR_NONE, 0);
    EXPECT_EQ(-1, compressor_index);
    EXPECT_EQ(8u, IsMenuChecked(IDM_COMPRESSOR_NONE));
    EXPECT_EQ(0u, IsMenuChecked(IDM_COMPRESSOR_FIRST));
    EXPECT_TRUE(InGraph(L"ビデオコンプレッサ"));
    CloseViewer();
    EXPECT_EQ(10001u, GetPrivateProfileIntA("menu", "compressor", 0, SettingsPath().c_str()));
}

TEST_F(CaptureTest, NoAudioChosenGreysBothRatesAndSurvivesARestart)
{
    WriteSetting("menu", "audio_device", "2001");
    StartViewer();
    EXPECT_EQ(-1, audio_device_index);
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUDIO_NONE));
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(3u, IsMenuChecked(IDM_AUDIO_48K));
    EXPECT_EQ(nullptr, capture_graph.audio_capture);

    // Re-enabled rate items (as after a recording) without a device change nothing in the graph.
    SetMenuState(IDM_AUDIO_44K, MENU_ENABLED);
    SendMessageA(main_window, WM_COMMAND, IDM_AUDIO_44K, 0);
    EXPECT_EQ(nullptr, capture_graph.audio_capture);
    EXPECT_EQ(State_Running, GraphState());
    CloseViewer();
    EXPECT_EQ(2001u, GetPrivateProfileIntA("menu", "audio_device", 0, SettingsPath().c_str()));
}

}  // namespace

namespace {

// Points the second renderer's class at a class nobody provides, as on a
// system without DirectX 9. Wine reads classes from the machine's part of the
// registry only; scripts/wine-prefix removes the redirection should a test
// die before its destructor runs.
class MissingVmr9 {
public:
    MissingVmr9()
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        const wchar_t nobody[] = L"{6A1F3C2E-0B7D-4E55-9C41-FE7700D3A9B1}";
        set_ = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(nobody), sizeof nobody) ==
               ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~MissingVmr9() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }
    bool Set() const { return set_; }

private:
    static constexpr const wchar_t* kKey = L"Software\\Classes\\CLSID\\{51B4ABF3-748F-4E3B-A276-C828330E926A}\\TreatAs";
    bool set_ = false;
};

TEST_F(CaptureTest, WithoutDirectX9TheUserIsToldTheSettingsAreKeptAndTheProgramEnds)
{
    WriteSetting("menu", "aspect_ratio", "5002");
    // Never read in a run without DirectX 9: they must survive it unchanged.
    WriteSetting("menu", "capture_device", "1004");
    WriteSetting("menu", "capture_device_name", "Second Card");
    WriteSetting("menu", "audio_device", "2001");
    WriteSetting("menu", "compressor", "10001");
    MissingVmr9 missing;
    ASSERT_TRUE(missing.Set());
    StartViewer();
    EXPECT_EQ(1, capture_graph.dx9_missing);
    ASSERT_EQ(1u, CaughtMessageBoxes().size());
    EXPECT_EQ(L"DirectX9をインストールしてください", CaughtMessageBoxes()[0]);
    EXPECT_TRUE(PumpUntil([] { return quit_code_ >= 0; }));
    EXPECT_FALSE(IsWindow(main_window));
    EXPECT_EQ(nullptr, capture_graph.graph) << "everything released";
    EXPECT_EQ(5002u, GetPrivateProfileIntA("menu", "aspect_ratio", 0, SettingsPath().c_str()))
        << "the settings are written back";
    const std::string path = SettingsPath();
    EXPECT_EQ(1004u, GetPrivateProfileIntA("menu", "capture_device", 0, path.c_str()));
    char name[100] = "";
    GetPrivateProfileStringA("menu", "capture_device_name", "", name, sizeof name, path.c_str());
    EXPECT_STREQ("Second Card", name);
    EXPECT_EQ(2001u, GetPrivateProfileIntA("menu", "audio_device", 0, path.c_str()));
    EXPECT_EQ(10001u, GetPrivateProfileIntA("menu", "compressor", 0, path.c_str())) << "uncompressed stays";
    UnregisterClassA("FERNWOODVIEW", GetModuleHandleA(nullptr));
}

}  // namespace
