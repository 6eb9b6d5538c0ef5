#include <windows.h>

#include <string>

#include "state/command_menu.h"
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
        ASSERT_TRUE(SettleStartupNotices());
        ClearCaughtMessageBoxes();
    }

};

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
