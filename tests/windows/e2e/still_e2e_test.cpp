#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "card_harness.h"
#include "still/still_picture.h"
#include "testbed/testcard/portable/test_pattern.h"
#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/testcard_setup.h"

namespace {

using testcard::TestCardSetup;
using testcard::TestCardFrameDeparture;

// Follows the card's departures from a thread of its own while the viewer's
// thread is busy with a still, keeping every run it saw (the card numbers
// frames from 0 at each run, and the still runs the graph anew).
class DepartureWatch {
public:
    explicit DepartureWatch(IBaseFilter* card) : stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        if (card)
            card->QueryInterface(testcard::IID_ITestCardFrameStats, reinterpret_cast<void**>(&stats_));
        if (stats_)
            thread_ = std::thread([this] { Watch(); });
    }
    ~DepartureWatch()
    {
        SetEvent(stop_);
        if (thread_.joinable())
            thread_.join();
        if (stats_)
            stats_->Release();
        CloseHandle(stop_);
    }
    // The frame numbers either pin delivered in each run, oldest run first.
    std::vector<std::vector<uint32_t>> Runs()
    {
        SetEvent(stop_);
        if (thread_.joinable())
            thread_.join();
        std::vector<std::vector<uint32_t>> runs = runs_;
        runs.push_back(current_);
        return runs;
    }

private:
    void Watch()
    {
        std::vector<TestCardFrameDeparture> latest(4096);
        do {
            LONG copied = 0;
            if (FAILED(stats_->GetDepartures(static_cast<LONG>(latest.size()), latest.data(), &copied)))
                continue;
            std::vector<uint32_t> numbers;
            for (LONG i = 0; i < copied; ++i)
                numbers.push_back(latest[i].frame_number);
            // A run that began since the last look has fewer departures or a lower first number.
            if (!current_.empty() &&
                (numbers.size() < current_.size() || (!numbers.empty() && numbers[0] < current_[0])))
                runs_.push_back(current_);
            current_ = numbers;
        } while (WaitForSingleObject(stop_, 1) == WAIT_TIMEOUT);
    }

    HANDLE stop_;
    testcard::ITestCardFrameStats* stats_ = nullptr;
    std::thread thread_;
    std::vector<std::vector<uint32_t>> runs_;
    std::vector<uint32_t> current_;
};

class StillE2E : public CardTest {
protected:
    std::string TakeStill()
    {
        WIN32_FIND_DATAA found;
        SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
        HANDLE search = FindFirstFileA((Folder() + "\\pic*.bmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return "";
        FindClose(search);
        std::string path = Folder() + "\\" + found.cFileName;
        return path;
    }

    static std::vector<uint8_t> ReadFile(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    static uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at)
    {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
    }

    // Checks the headers and reads the frame number from the pixels.
    static bool ReadStill(const std::vector<uint8_t>& bmp, int width, int height, uint32_t* number)
    {
        EXPECT_EQ(static_cast<size_t>(width) * height * 4 + 54, bmp.size());
        if (bmp.size() != static_cast<size_t>(width) * height * 4 + 54)
            return false;
        EXPECT_EQ('B', bmp[0]);
        EXPECT_EQ(bmp.size(), Get32(bmp, 2));
        EXPECT_EQ(static_cast<uint32_t>(width), Get32(bmp, 18));
        EXPECT_EQ(static_cast<uint32_t>(height), Get32(bmp, 22));
        EXPECT_EQ(32, bmp[28]);
        testcard::FrameLayout layout{testcard::PixelFormat::kRgb32, width, height, true};
        return testcard::ReadFrameNumber(bmp.data() + 54, layout, width * 4, number);
    }
};

TEST_F(StillE2E, SixteenNineStillIsTheFrameAndThePreviewComesBack)
{
    StartWithCard();
    ASSERT_TRUE(PreviewRuns());
    DepartureWatch watch(capture_graph.video_capture);
    std::string path = TakeStill();
    std::vector<std::vector<uint32_t>> runs = watch.Runs();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(21u, path.substr(path.find_last_of('\\') + 1).size());
    uint32_t number = 0;
    EXPECT_TRUE(ReadStill(ReadFile(path), 1280, 720, &number));
    // The still is the frame the card was delivering when the viewer copied
    // it: of the still's run (the preview's, the still's, the preview's
    // again), among the last, whatever came after the copy while the picture
    // was written.
    ASSERT_GE(runs.size(), 2u);
    const std::vector<uint32_t>& still_run = runs[1];
    ASSERT_FALSE(still_run.empty());
    EXPECT_NE(still_run.end(), std::find(still_run.begin(), still_run.end(), number)) << number;
    const double after_copy_ms = last_still_times.copies + last_still_times.write;
    const uint32_t last = *std::max_element(still_run.begin(), still_run.end());
    EXPECT_LE(last - number, static_cast<uint32_t>(after_copy_ms * 60 / 1000) + 3)
        << "still " << number << ", last of its run " << last << ", " << after_copy_ms << " ms after the copy";
    EXPECT_TRUE(CaughtMessageBoxes().empty());
    IBaseFilter* grabber = nullptr;
    EXPECT_NE(S_OK, capture_graph.graph->FindFilterByName(L"Sample Grabber", &grabber));
    SafeRelease(grabber);
    EXPECT_TRUE(PreviewRuns());
}

TEST_F(StillE2E, FourThreeStillIsSqueezedInTheSecondRenderMode)
{
    StartWithCard();
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_ASPECT_4_3, 0);
    ASSERT_TRUE(PreviewRuns());
    std::string path = TakeStill();
    ASSERT_FALSE(path.empty());
    std::vector<uint8_t> bmp = ReadFile(path);
    uint32_t number = 0;
    EXPECT_TRUE(ReadStill(bmp, 960, 720, &number));
    for (size_t at = 54 + 3; at < bmp.size(); at += 4 * 997)
        ASSERT_EQ(0, bmp[at]) << "fourth byte at " << at;
    EXPECT_TRUE(PreviewRuns()) << "back on the second renderer";
    EXPECT_EQ(0, ConnectedPins(capture_graph.color_converter)) << "the converter is left unconnected in the second mode";
}

}  // namespace

namespace {

// Many cards have a capture pin only: the preview comes through a Smart Tee,
// and on Windows a renderer cut from the stream no longer knows its size.
TEST_F(StillE2E, ACardWithoutPreviewPinGivesStillsInBothModesAndAspects)
{
    Card().SetNumber(TestCardSetup::Video(0), L"PreviewPin", 0);
    StartWithCard();
    ASSERT_TRUE(PreviewRuns());
    struct Case {
        UINT mode, aspect;
        int width;
    };
    for (Case c : {Case{IDM_MODE_VMR9, IDM_ASPECT_16_9, 1280}, Case{IDM_MODE_VMR9, IDM_ASPECT_4_3, 960},
                   Case{IDM_MODE_VMR7, IDM_ASPECT_4_3, 960}, Case{IDM_MODE_VMR7, IDM_ASPECT_16_9, 1280}}) {
        SendMessageA(main_window, WM_COMMAND, c.mode, 0);
        SendMessageA(main_window, WM_COMMAND, c.aspect, 0);
        std::string path = TakeStill();
        ASSERT_FALSE(path.empty()) << c.mode << " " << c.aspect;
        uint32_t number = 0;
        EXPECT_TRUE(ReadStill(ReadFile(path), c.width, 720, &number)) << c.mode << " " << c.aspect;
        ASSERT_TRUE(DeleteFileA(path.c_str()));
        EXPECT_TRUE(PreviewRuns()) << c.mode << " " << c.aspect;
    }
    EXPECT_TRUE(CaughtMessageBoxes().empty());
}

// A card that takes three seconds after each start to send its first frame:
// the still waits for it rather than reporting that nothing came.
TEST_F(StillE2E, ACardSlowToStartStillGivesItsFirstFrame)
{
    Card().SetNumber(TestCardSetup::Video(0), L"FirstFrameDelayMs", 3000);
    StartWithCard();
    ASSERT_TRUE(PreviewRuns());
    std::string path = TakeStill();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(CaughtMessageBoxes().empty());
    uint32_t number = 0;
    EXPECT_TRUE(ReadStill(ReadFile(path), 1280, 720, &number));
    // Frame n starts at n × 166833 × 100 ns: none before 3 s is made.
    EXPECT_GE(number, 180u);
}

// The Colour Space Converter stand-in's output, as configured for one test.
class ConverterOutput {
public:
    explicit ConverterOutput(const wchar_t* name, const wchar_t* value) : name_(name)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, value,
                        static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
    }
    ~ConverterOutput() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, name_); }
    ConverterOutput(const ConverterOutput&) = delete;
    ConverterOutput& operator=(const ConverterOutput&) = delete;

private:
    static constexpr const wchar_t* kKey = L"Software\\FernwoodTestbed\\ColourConverter";
    const wchar_t* name_;
};

struct GrabShape {
    const char* name;
    bool top_down;
    bool vih2;
};

void PrintTo(const GrabShape& shape, std::ostream* out)
{
    *out << shape.name;
}

class GrabShapeE2E : public StillE2E, public ::testing::WithParamInterface<GrabShape> {};

// The grabber takes whatever RGB32 the converter offers first: rows from the
// top or from the bottom, in either format block. The BMP is the right way up.
TEST_P(GrabShapeE2E, AStillIsTheRightWayUpWhateverTheGrabbedRowOrderAndHeader)
{
    std::unique_ptr<ConverterOutput> rows, header;
    if (GetParam().top_down)
        rows.reset(new ConverterOutput(L"OutputRows", L"TopDown"));
    if (GetParam().vih2)
        header.reset(new ConverterOutput(L"OutputFormat", L"VideoInfo2"));
    StartWithCard();
    for (UINT aspect : {IDM_ASPECT_16_9, IDM_ASPECT_4_3}) {
        SendMessageA(main_window, WM_COMMAND, aspect, 0);
        std::string path = TakeStill();
        ASSERT_FALSE(path.empty()) << CaughtText();
        uint32_t number = 0;
        EXPECT_TRUE(ReadStill(ReadFile(path), aspect == IDM_ASPECT_16_9 ? 1280 : 960, 720, &number))
            << "the frame number reads from a bottom-up BMP";
        ASSERT_TRUE(DeleteFileA(path.c_str()));
    }
    EXPECT_TRUE(CaughtMessageBoxes().empty()) << CaughtText();
}

INSTANTIATE_TEST_SUITE_P(Grabs, GrabShapeE2E,
                         ::testing::Values(GrabShape{"TopDown", true, false}, GrabShape{"VideoInfo2", false, true},
                                           GrabShape{"TopDownVideoInfo2", true, true}),
                         [](const ::testing::TestParamInfo<GrabShape>& info) { return std::string(info.param.name); });

// Names have one-second resolution; a picture of a second that already has
// one (here for every second the test can take) must not replace it.
TEST_F(StillE2E, APictureOfASecondThatHasOneGetsANumberAndReplacesNothing)
{
    StartWithCard();
    ASSERT_TRUE(PreviewRuns());
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER tick{{now.dwLowDateTime, now.dwHighDateTime}};
    for (int second = 0; second < 60; ++second) {
        ULARGE_INTEGER at = tick;
        at.QuadPart += 10000000ull * second;
        FILETIME utc{at.LowPart, at.HighPart}, local;
        SYSTEMTIME t;
        FileTimeToLocalFileTime(&utc, &local);
        FileTimeToSystemTime(&local, &t);
        char name[40];
        std::snprintf(name, sizeof name, "\\pic%d%02d%02d%02d%02d%02d.bmp", t.wYear, t.wMonth, t.wDay, t.wHour,
                      t.wMinute, t.wSecond);
        std::ofstream(Folder() + name) << "an earlier picture";
    }
    for (int i = 0; i < 2; ++i)
        SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
    int earlier = 0, numbered = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((Folder() + "\\pic*.bmp").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        std::vector<uint8_t> bytes = ReadFile(Folder() + "\\" + found.cFileName);
        if (std::string(found.cFileName).find('_') == std::string::npos) {
            EXPECT_EQ("an earlier picture", std::string(bytes.begin(), bytes.end())) << found.cFileName;
            ++earlier;
            continue;
        }
        EXPECT_EQ(23u, std::string(found.cFileName).size()) << found.cFileName;
        uint32_t number = 0;
        EXPECT_TRUE(ReadStill(bytes, 1280, 720, &number)) << found.cFileName;
        ++numbered;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(60, earlier);
    EXPECT_EQ(2, numbered);
    EXPECT_TRUE(CaughtMessageBoxes().empty());
}

}  // namespace
