// fernwood-check --report run as a user runs it, on the test card in each of
// the ways real cards differ, and on a PC without a capture device.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "testbed/testcard/testcard_setup.h"

namespace {

using testcard::TestCardSetup;

std::wstring Beside(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

std::wstring ScratchFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"fernwood-report-test-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// testcard_hold.exe holding video device 0 until released, as another program.
class Holder {
public:
    Holder()
        : name_(L"FernwoodReportHold" + std::to_wstring(GetCurrentProcessId())),
          release_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())),
          running_(CreateEventW(nullptr, TRUE, FALSE, (name_ + L".running").c_str())),
          failed_(CreateEventW(nullptr, TRUE, FALSE, (name_ + L".failed").c_str()))
    {
    }
    ~Holder()
    {
        SetEvent(release_);
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0)
                TerminateProcess(process_.hProcess, 9);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        for (HANDLE event : {release_, running_, failed_})
            CloseHandle(event);
    }
    bool Start()
    {
        std::wstring command = L"\"" + Beside(L"testcard_hold.exe") + L"\" 0 " + name_;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
            return false;
        HANDLE waits[] = {running_, failed_, process_.hProcess};
        return WaitForMultipleObjects(3, waits, FALSE, 20000) == WAIT_OBJECT_0;
    }

private:
    std::wstring name_;
    HANDLE release_, running_, failed_;
    PROCESS_INFORMATION process_{};
};

struct Variation {
    const char* name;
    std::vector<std::pair<const wchar_t*, DWORD>> numbers;  // top level when the name is VideoDevices/AudioDevices
    std::vector<std::pair<const wchar_t*, const wchar_t*>> texts;  // of Video0
    bool held;
    bool record;
    // The entries testbed/README.md's table (or the variation's list) gives
    // UYVY (else YUY2) 1280x720 and 1920x1080; -1: no device.
    int entry_720, entry_1080;
    std::vector<const char*> facts;
    std::vector<const char*> absent;
    std::vector<DWORD> exits;
};

void PrintTo(const Variation& variation, std::ostream* out)
{
    *out << variation.name;
}

struct ReportRun {
    DWORD exit = STILL_ACTIVE;
    std::string report;
};

ReportRun RunReport(const std::wstring& folder, bool record)
{
    std::wstring file = folder + L"\\report.txt";
    DeleteFileW(file.c_str());
    std::wstring command = L"\"" + Beside(L"fernwood-check.exe") + L"\" --report \"" + file + L"\"";
    if (record)
        command += L" --seconds 2 --folder \"" + folder + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ReportRun run;
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return run;
    if (WaitForSingleObject(process.hProcess, 240000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 9);
    GetExitCodeProcess(process.hProcess, &run.exit);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::ifstream in(file.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    run.report = text.str();
    return run;
}

// The text between the section's heading and the next.
std::string Section(const std::string& report, int number)
{
    static const char* const headings[] = {"== 1. PC ==\n",     "== 2. Capture devices ==\n",
                                           "== 3. Format choice ==\n", "== 4. Video compressors ==\n",
                                           "== 5. Trial ==\n",  "== 6. Folders ==\n",
                                           "== end: exit "};
    size_t start = report.find(headings[number - 1]);
    size_t end = report.find(headings[number]);
    if (start == std::string::npos || end == std::string::npos || end < start)
        return "";
    return report.substr(start, end - start);
}

class ReportTest : public ::testing::TestWithParam<Variation> {};

TEST_P(ReportTest, StatesWhatTheCardOffersAndWhatTheViewerBuilt)
{
    const Variation& v = GetParam();
    TestCardSetup card;
    for (const auto& number : v.numbers) {
        std::wstring name = number.first;
        bool top = name == L"VideoDevices" || name == L"AudioDevices";
        ASSERT_TRUE(card.SetNumber(top ? L"" : TestCardSetup::Video(0), number.first, number.second));
    }
    for (const auto& text : v.texts)
        ASSERT_TRUE(card.SetText(TestCardSetup::Video(0), text.first, text.second));
    ASSERT_EQ(S_OK, card.Register());
    Holder holder;
    if (v.held) {
        ASSERT_TRUE(holder.Start());
    }
    std::wstring folder = ScratchFolder();
    ReportRun run = RunReport(folder, v.record);
    RemoveDirectoryW(folder.c_str());
    const std::string& r = run.report;
    ASSERT_FALSE(r.empty()) << "no report; exit " << run.exit;
    EXPECT_NE(v.exits.end(), std::find(v.exits.begin(), v.exits.end(), run.exit)) << "exit " << run.exit << "\n" << r;
    for (int section = 1; section <= 6; ++section)
        EXPECT_FALSE(Section(r, section).empty()) << "section " << section << " missing or out of order\n" << r;
    EXPECT_NE(std::string::npos, Section(r, 1).find("  ANSI code page: ")) << r;
    EXPECT_NE(std::string::npos, Section(r, 1).find("  DirectX 9: present")) << r;
    EXPECT_NE(std::string::npos, Section(r, 6).find("  movie folder: ")) << r;
    EXPECT_NE(std::string::npos, Section(r, 6).find("    write rate: ")) << r;
    if (v.entry_720 >= 0) {
        std::string choices = Section(r, 3);
        EXPECT_NE(std::string::npos,
                  choices.find("    1280x720 166833 (59.94 fps): entry " + std::to_string(v.entry_720) + " ("))
            << choices;
        EXPECT_NE(std::string::npos,
                  choices.find("    1920x1080 333667 (29.97 fps): entry " + std::to_string(v.entry_1080) + " ("))
            << choices;
        EXPECT_NE(std::string::npos, Section(r, 2).find("    device path: \\\\?\\root#fernwood_testcard#0000#")) << r;
    }
    for (const char* fact : v.facts)
        EXPECT_NE(std::string::npos, r.find(fact)) << "not stated: " << fact << "\n" << r;
    for (const char* fact : v.absent)
        EXPECT_EQ(std::string::npos, r.find(fact)) << "stated: " << fact << "\n" << r;
}

const Variation kVariations[] = {
    {"Plain", {}, {}, false, true, 3, 4,
     {"  video device 0 Fernwood HD Test Card: \n", "    pin 0 Capture: output, PIN_CATEGORY_CAPTURE\n",
      "    pin 1 Preview: output, PIN_CATEGORY_PREVIEW\n", "      IAMDroppedFrames: filter\n",
      "        entry 4: Video UYVY VideoInfo 1920x1080 16 bit 333667 (29.97 fps); sizes 1920x1080-1920x1080 step 0x0; "
      "intervals 333667 (29.97 fps) to 10000000 (1.00 fps)\n",
      "  audio device 0 Fernwood HD Test Card Audio: \n", "      IMediaControl::Run: 0x0000000",
      "  recording: 2.0 s asked for\n", "    フレーム 記録 / frames written:", "    file kept: no, deleted\n",
      "    video spacing: min ", " (nominal 33.37 ms)\n", "    sound buffers: ", " (the recording's last reading)\n"},
     {"pin 2 "}, {0, 1}},
    {"CapturePinOnly", {{L"PreviewPin", 0}}, {}, false, false, 3, 4,
     {"    pin 0 Capture: output, PIN_CATEGORY_CAPTURE\n", "  recording: not asked for"},
     {"pin 1 Preview"}, {0}},
    {"Yuy2Only", {}, {{L"Capabilities", L"YUY2 1280x720, YUY2 1920x1080, RGB24 1920x1080"}}, false, false, 0, 1,
     {"        entry 2: Video RGB24 VideoInfo 1920x1080"}, {"Video UYVY"}, {0}},
    {"VideoInfo2Only", {}, {{L"FormatType", L"VideoInfo2"}}, false, false, 3, 4,
     {"        entry 4: Video UYVY VideoInfo2 1920x1080"}, {"Video UYVY VideoInfo "}, {0}},
    {"AudioPinFirst", {{L"AudioPin", 1}}, {}, false, false, 3, 4,
     {"    pin 0 Audio: output, PIN_CATEGORY_CAPTURE\n", "      type 0: Audio PCM WaveFormatEx 48000 Hz 2 ch 16 bit\n",
      "    pin 1 Capture: output, PIN_CATEGORY_CAPTURE\n"},
     {}, {0}},
    {"NoDroppedFrameStatistics", {{L"DroppedFrames", 0}}, {}, false, false, 3, 4,
     {"      IAMDroppedFrames: absent\n", "    card frames delivered: not told (no IAMDroppedFrames)\n"},
     {"IAMDroppedFrames: filter"}, {0}},
    // Wine's graph answers S_FALSE for the refused Run; the viewer then asks the card, which names the cause.
    {"HeldByAnotherProgram", {}, {}, true, false, 3, 4,
     {"    graph running: no\n", ": 0x800705AA\n", "  viewer's messages: "}, {"    graph running: yes\n"}, {2}},
    {"NoCaptureDevice", {{L"VideoDevices", 0}, {L"AudioDevices", 0}}, {}, false, false, -1, -1,
     {"  video devices: none\n", "  audio devices: none\n", "  video devices: none: there is nothing to choose",
      "  video device: none opened\n"},
     {"Fernwood HD Test Card"}, {2}},
};

INSTANTIATE_TEST_SUITE_P(Cards, ReportTest, ::testing::ValuesIn(kVariations),
                         [](const ::testing::TestParamInfo<Variation>& info) { return std::string(info.param.name); });

}  // namespace
