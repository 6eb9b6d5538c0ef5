// Prints where the time of a still goes, median of 20 stills per format and
// aspect against the test card. Figures only: nothing here is timed against a limit.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "card_harness.h"
#include "state/command_menu.h"
#include "state/window.h"
#include "still/still_picture.h"

namespace {

const int kStills = 20;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class StillBench : public CardTest {
protected:
    // `width` and `height`: the picture the file must hold, so the figures are of the right size.
    void Measure(UINT format, UINT aspect, int width, int height, const char* label)
    {
        StartWithCard();
        SendMessageA(main_window, WM_COMMAND, format, 0);
        SendMessageA(main_window, WM_COMMAND, aspect, 0);
        SendMessageA(main_window, WM_COMMAND, IDM_SIZE_HALF, 0);  // a 1080-line window would not fit the screen
        ASSERT_TRUE(PreviewRuns());
        std::vector<StillStepTimes> runs;
        std::vector<double> command_ms;
        LARGE_INTEGER frequency, before, after;
        QueryPerformanceFrequency(&frequency);
        for (int i = 0; i < kStills; ++i) {
            QueryPerformanceCounter(&before);
            SendMessageA(main_window, WM_COMMAND, IDM_STILL, 0);
            QueryPerformanceCounter(&after);
            ASSERT_TRUE(CaughtMessageBoxes().empty()) << "still " << i << " failed";
            ASSERT_EQ(static_cast<long long>(width) * height * 4 + 54, StillBytes());
            runs.push_back(last_still_times);
            command_ms.push_back(static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 /
                                 static_cast<double>(frequency.QuadPart));
            RemoveStills();
            Pump(200);  // let the preview draw between stills, as a user would see it
        }
        auto step = [&runs](double StillStepTimes::*field) {
            std::vector<double> values;
            for (const StillStepTimes& run : runs)
                values.push_back(run.*field);
            return Median(values);
        };
        std::printf("still %s, median of %d: command %.1f ms = rewire %.1f + run and 100 ms pause %.1f + wait %.1f"
                    " + 100 copies %.1f + squeeze %.1f + write %.1f + restore %.1f\n",
                    label, kStills, Median(command_ms), step(&StillStepTimes::rewire),
                    step(&StillStepTimes::settle), step(&StillStepTimes::wait), step(&StillStepTimes::copies),
                    step(&StillStepTimes::squeeze), step(&StillStepTimes::write), step(&StillStepTimes::restore));
        std::fflush(stdout);
    }

    long long StillBytes()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\pic*.bmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return -1;
        FindClose(search);
        return static_cast<long long>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    }

    void RemoveStills()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((Folder() + "\\pic*.bmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do
            DeleteFileA((Folder() + "\\" + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
};

TEST_F(StillBench, At720pSixteenNine) { Measure(IDM_RES_720, IDM_ASPECT_16_9, 1280, 720, "1280x720 16:9"); }
TEST_F(StillBench, At720pFourThree) { Measure(IDM_RES_720, IDM_ASPECT_4_3, 960, 720, "1280x720 4:3"); }
TEST_F(StillBench, At1080pSixteenNine) { Measure(IDM_RES_1080, IDM_ASPECT_16_9, 1920, 1080, "1920x1080 16:9"); }
TEST_F(StillBench, At1080pFourThree) { Measure(IDM_RES_1080, IDM_ASPECT_4_3, 1440, 1080, "1920x1080 4:3"); }

}  // namespace
