#include "tools/check/portable/check_report.h"

#include <gtest/gtest.h>

namespace fernwood_check {
namespace {

// A clean ten-second recording at 1080 lines with sound in step.
Measurement CleanRecording()
{
    Measurement m;
    m.format = FormatForHeight(1080);
    m.requested_seconds = 10;
    m.started = true;
    m.card_delivered = 300;
    m.file_read = true;
    m.file_seconds = 10.01;
    m.frames = TallyFrames({});
    m.frames.expected = m.frames.written = 300;
    m.has_audio = true;
    m.flashes = m.clicks = m.pairs = 10;
    m.offset_median_ms = 3;
    m.stream_bytes_per_second = 1920.0 * 1080 * 2 * 30000 / 1001 + 192000;
    m.file_bytes = static_cast<uint64_t>(m.stream_bytes_per_second * m.file_seconds);
    return m;
}

TEST(CheckReport, FormatsAreTheViewersTwo)
{
    EXPECT_EQ("1920×1080 29.97fps", FormatLabel(FormatForHeight(1080)));
    EXPECT_EQ("1280×720 59.94fps", FormatLabel(FormatForHeight(720)));
    EXPECT_EQ(333667, FormatForHeight(1080).frame_interval);
}

TEST(CheckReport, ACleanRecordingCanBeMade)
{
    Verdict verdict = Judge(CleanRecording());
    EXPECT_EQ(Outcome::kCanRecord, verdict.outcome);
    EXPECT_EQ("このPCとディスクで 1920×1080 29.97fps の非圧縮録画ができます", verdict.japanese);
    EXPECT_EQ("This PC and disk can record 1920×1080 29.97fps uncompressed.", verdict.english);
}

// Each fault alone turns the verdict, and the reason names it.
TEST(CheckReport, EachFaultIsNamed)
{
    struct Case {
        void (*spoil)(Measurement&);
        const char* japanese_reason;
        const char* english_reason;
    };
    const Case cases[] = {
        {[](Measurement& m) { m.started = false, m.viewer_message = "保存先に書けません"; },
         "録画を開始できませんでした（保存先に書けません）", "could not start"},
        {[](Measurement& m) { m.stopped_early = true, m.viewer_message = "ディスクがいっぱいです"; },
         "録画が途中で止まりました（ディスクがいっぱいです）", "stopped by itself"},
        {[](Measurement& m) { m.file_read = false; }, "読み取れませんでした", "could not be read"},
        {[](Measurement& m) { m.file_seconds = 8.9, m.file_bytes = 1; }, "8.9 秒で止まりました", "stopped after 8.9 s"},
        {[](Measurement& m) { m.frames.lost = 3; }, "3 フレームが欠落しました", "3 frames were lost"},
        {[](Measurement& m) { m.card_lost = 5; }, "5 フレームが欠落しました", "5 frames were lost"},
        {[](Measurement& m) { m.frames.repeated = 1; }, "順序が乱れています", "out of order"},
        {[](Measurement& m) { m.unreadable_frames = 1; }, "順序が乱れています", "damaged"},
        {[](Measurement& m) { m.file_bytes /= 2; }, "書き込みが追いつきません", "does not keep up"},
        {[](Measurement& m) { m.has_audio = false; }, "音声が記録されていません", "no sound"},
        {[](Measurement& m) { m.pairs = 0; }, "同期を確かめられませんでした", "could not be matched"},
        {[](Measurement& m) { m.offset_median_ms = -60; }, "-60 ミリ秒ずれています", "-60 ms off"},
    };
    for (const Case& c : cases) {
        Measurement m = CleanRecording();
        c.spoil(m);
        Verdict verdict = Judge(m);
        EXPECT_EQ(Outcome::kCannotRecord, verdict.outcome) << c.english_reason;
        EXPECT_EQ(0u, verdict.japanese.rfind("このPCとディスクでは 1920×1080 29.97fps の非圧縮録画ができません: ", 0))
            << verdict.japanese;
        EXPECT_NE(std::string::npos, verdict.japanese.find(c.japanese_reason)) << verdict.japanese;
        EXPECT_NE(std::string::npos, verdict.english.find(c.english_reason)) << verdict.english;
    }
}

// Sound 25 ms from the picture and a file covering 9 of the 10 seconds pass;
// a little beyond either does not.
TEST(CheckReport, TheLimitsThemselvesPass)
{
    auto judged = [](double offset_ms, double file_seconds) {
        Measurement m = CleanRecording();
        m.offset_median_ms = offset_ms;
        m.file_seconds = file_seconds;
        m.file_bytes = static_cast<uint64_t>(m.stream_bytes_per_second * m.file_seconds);
        return Judge(m).outcome;
    };
    EXPECT_EQ(Outcome::kCanRecord, judged(-25.0, 9.0));
    EXPECT_EQ(Outcome::kCanRecord, judged(25.0, 9.0));
    EXPECT_EQ(Outcome::kCannotRecord, judged(-25.1, 9.0));
    EXPECT_EQ(Outcome::kCannotRecord, judged(25.1, 9.0));
    EXPECT_EQ(Outcome::kCannotRecord, judged(3, 8.99));
}

TEST(CheckReport, FiguresShowEveryMeasurement)
{
    Measurement m = CleanRecording();
    m.frames.expected = 302;
    m.frames.written = 300;
    m.frames.lost = 2;
    m.card_lost = 2;
    m.offset_median_ms = -4.5;
    std::string figures = FormatFigures(m);
    EXPECT_NE(std::string::npos, figures.find("frames expected:     302\n")) << figures;
    EXPECT_NE(std::string::npos, figures.find("frames written:      300\n")) << figures;
    EXPECT_NE(std::string::npos, figures.find("frames lost:         2 (the card counted 2)\n")) << figures;
    EXPECT_NE(std::string::npos, figures.find("sound offset:          -4.5 ms")) << figures;
    EXPECT_NE(std::string::npos, figures.find("write rate:           124.5 MB/s (the stream needs 124.5 MB/s)"))
        << figures;
    EXPECT_EQ(std::string::npos, figures.find("out of order")) << figures;
    m.has_audio = false;
    EXPECT_NE(std::string::npos, FormatFigures(m).find("sound:                       なし / none"));
}

}  // namespace
}  // namespace fernwood_check
