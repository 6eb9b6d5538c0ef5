// What the system check measured and what it concludes, as text for the
// user (UTF-8, Japanese with English alongside). No Windows API.
#ifndef FERNWOOD_CHECK_REPORT_H
#define FERNWOOD_CHECK_REPORT_H

#include <cstdint>
#include <string>

#include "frame_tally.h"

namespace fernwood_check {

struct CheckFormat {
    int width = 0;
    int height = 0;
    int64_t frame_interval = 0;  // 100 ns units
};

// The two formats the viewer records: 1280×720 59.94 and 1920×1080 29.97.
CheckFormat FormatForHeight(int height);
// "1920×1080 29.97fps"
std::string FormatLabel(const CheckFormat& format);

struct Measurement {
    CheckFormat format;
    double requested_seconds = 0;

    bool started = false;        // the viewer began recording
    std::string viewer_message;  // what the viewer told the user, if anything
    bool stopped_early = false;  // the viewer ended the recording by itself
    long card_delivered = 0;     // the card's counters for the recording
    long card_lost = 0;

    bool file_read = false;
    uint64_t file_bytes = 0;
    double file_seconds = 0;  // the time the file's video covers
    int unreadable_frames = 0;
    FrameTally frames;

    bool has_audio = false;
    int flashes = 0;
    int clicks = 0;
    int pairs = 0;  // clicks matched to a flash
    double offset_median_ms = 0;
    double offset_min_ms = 0;
    double offset_max_ms = 0;

    double stream_bytes_per_second = 0;  // what the format needs, sound included
};

// The rate the file was written at: its bytes over the time its video covers.
double WriteBytesPerSecond(const Measurement& m);

// Sound further from the picture than this is a fault (a 59.94 frame and a
// half; the card's flash and click are made at the same instant).
constexpr double kMaxSoundOffsetMs = 25.0;
// The file must cover this share of the time asked for.
constexpr double kMinCoveredShare = 0.9;

enum class Outcome { kCanRecord, kCannotRecord };

struct Verdict {
    Outcome outcome = Outcome::kCannotRecord;
    std::string japanese;
    std::string english;
};

Verdict Judge(const Measurement& m);

// The figures, one per line, each labelled in both languages.
std::string FormatFigures(const Measurement& m);

}  // namespace fernwood_check

#endif
