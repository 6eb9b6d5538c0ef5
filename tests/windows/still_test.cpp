#include <windows.h>

#include <string>

#include "app/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "settings/save_folders.h"
#include "viewer_harness.h"

namespace {

class StillTest : public ViewerTest {
protected:
    void SetUp() override
    {
        ViewerTest::SetUp();
        StartViewer();
        PumpUntil([] { return !CaughtMessageBoxes().empty(); }, 2000);  // the missing-card notice, if any
        ClearCaughtMessageBoxes();
    }

    bool AnyPictureWritten() const
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\pic*.bmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        return true;
    }
};

TEST_F(StillTest, WithoutAPictureNothingIsWrittenAndThePreviewComesBack)
{
    if (capture_graph.video_capture)
        GTEST_SKIP() << "this prefix has a card; the end-to-end tests cover it";
    // Without a converter the still path cannot be built at all; with one, no frame ever arrives.
    const wchar_t* expected = capture_graph.color_converter ? L"映像が届いていません" : L"色空間変換フィルタがありません";
    SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    EXPECT_NE(std::wstring::npos, CaughtMessageBoxes()[0].find(expected));
    EXPECT_FALSE(AnyPictureWritten());
    OAFilterState state = -1;
    capture_graph.media_control->GetState(5000, &state);
    EXPECT_EQ(State_Running, state) << "the preview runs again";
    IBaseFilter* grabber = nullptr;
    EXPECT_NE(S_OK, capture_graph.graph->FindFilterByName(L"Sample Grabber", &grabber));
    SafeRelease(grabber);
}

TEST_F(StillTest, AFolderTooLongForThePathIsRefusedBeforeTheGraphIsTouched)
{
    std::string folder = "C:\\" + std::string(235, 'p');
    ASSERT_EQ(238u, folder.size());
    lstrcpynA(save_folders.path_picture, folder.c_str(), MAX_PATH);
    SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
    ASSERT_TRUE(PumpUntil([] { return !CaughtMessageBoxes().empty(); }));
    EXPECT_NE(std::wstring::npos, CaughtMessageBoxes()[0].find(L"長すぎます"));
    EXPECT_EQ(nullptr, capture_graph.sample_grabber);
}

}  // namespace
