// Runs the viewer's start-up inside the test process, in a folder of its own.
#ifndef FERNWOODVIEW_VIEWER_HARNESS_H
#define FERNWOODVIEW_VIEWER_HARNESS_H

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class ViewerTest : public ::testing::Test {
public:
    // Dispatches what is queued, including posted messages, for `ms` or until `done`.
    static void Pump(DWORD ms = 50);
    static bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 10000);
    // Dispatches until no notice of the start-up (a missing card, a graph
    // fault) is still queued; those shown are among the caught boxes then.
    static bool SettleStartupNotices();

protected:
    void SetUp() override;
    void TearDown() override;

    // setting.ini in the test folder, written before the viewer starts.
    void WriteSetting(const char* section, const char* key, const char* value);
    std::string SettingsPath() const { return folder_ + "\\setting.ini"; }
    const std::string& Folder() const { return folder_; }

    // Start-up as the entry point runs it, up to the message loop.
    void StartViewer();
    // Only the window (and with it the menu and the settings), no graph.
    void CreateWindowOnly();
    // Destroys the window as the close box does and collects the quit message.
    void CloseViewer();

    SIZE ClientSize() const;
    // Sections in file order, each with its keys and values in file order.
    using Section = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;
    std::vector<Section> ReadSettingsFile() const;

    // wParam of the quit message once one has been dispatched, else -1.
    static int quit_code_;

private:
    std::string folder_;
    std::string previous_folder_;
};

// Message boxes the viewer shows on this thread are answered with OK by a
// thread timer (it runs inside their modal loops) and their texts collected.
void StartMessageBoxCatcher();
const std::vector<std::wstring>& CaughtMessageBoxes();
void ClearCaughtMessageBoxes();
// Runs inside the box's modal loop, with its text, before the box is answered.
void SetMessageBoxHook(std::function<void(const std::wstring&)> hook);

// Wide text of a menu item, by command.
std::wstring MenuText(HMENU menu, UINT id);

// A fresh folder under the temporary directory.
std::string MakeTempFolder(const char* prefix);
void RemoveFolder(const std::string& folder);

#endif
