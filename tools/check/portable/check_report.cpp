#include "check_report.h"

#include <cmath>
#include <cstdio>

namespace fernwood_check {

namespace {

std::string Printf(const char* format, double a, double b = 0, double c = 0)
{
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

struct Reason {
    std::string japanese;
    std::string english;
};

double FramesPerSecond(const CheckFormat& format)
{
    return format.frame_interval ? 1e7 / static_cast<double>(format.frame_interval) : 0;
}

// The first thing that stops this PC and disk from recording the format, or
// an empty reason when nothing does.
Reason FirstFault(const Measurement& m)
{
    if (!m.started)
        return {"録画を開始できませんでした（" + m.viewer_message + "）",
                "the recording could not start (the viewer's message is above)"};
    if (m.stopped_early)
        return {"録画が途中で止まりました（" + m.viewer_message + "）",
                "the recording stopped by itself (the viewer's message is above)"};
    if (!m.file_read)
        return {"録画ファイルを読み取れませんでした", "the recorded file could not be read"};
    if (m.file_seconds < m.requested_seconds * kMinCoveredShare)
        return {Printf("録画が %.1f 秒で止まりました。保存先の空きと接続を確かめてください", m.file_seconds),
                Printf("the recording stopped after %.1f s; check the free space and the connection of the disk",
                       m.file_seconds)};
    if (m.frames.lost > 0 || m.card_lost > 0) {
        double lost = static_cast<double>(m.frames.lost > m.card_lost ? m.frames.lost : m.card_lost);
        return {Printf("%.0f フレームが欠落しました", lost), Printf("%.0f frames were lost", lost)};
    }
    if (m.frames.repeated > 0 || m.frames.backwards > 0 || m.unreadable_frames > 0)
        return {"録画ファイルのフレームの順序が乱れています", "frames in the file are out of order or damaged"};
    if (WriteBytesPerSecond(m) < m.stream_bytes_per_second * 0.97)
        return {"ディスクへの書き込みが追いつきません", "the disk does not keep up with the stream"};
    if (!m.has_audio)
        return {"音声が記録されていません", "the file holds no sound"};
    if (m.pairs == 0)
        return {"音声と映像の同期を確かめられませんでした", "the sound could not be matched to the picture"};
    if (std::fabs(m.offset_median_ms) > kMaxSoundOffsetMs)
        return {Printf("音声が映像から %.0f ミリ秒ずれています", m.offset_median_ms),
                Printf("the sound is %.0f ms off the picture", m.offset_median_ms)};
    return {};
}

}  // namespace

CheckFormat FormatForHeight(int height)
{
    if (height == 1080)
        return {1920, 1080, 333667};
    return {1280, 720, 166833};
}

std::string FormatLabel(const CheckFormat& format)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d×%d %.2ffps", format.width, format.height, FramesPerSecond(format));
    return text;
}

double WriteBytesPerSecond(const Measurement& m)
{
    return m.file_seconds > 0 ? static_cast<double>(m.file_bytes) / m.file_seconds : 0;
}

Verdict Judge(const Measurement& m)
{
    std::string label = FormatLabel(m.format);
    Reason fault = FirstFault(m);
    if (fault.japanese.empty())
        return {Outcome::kCanRecord, "このPCとディスクで " + label + " の非圧縮録画ができます",
                "This PC and disk can record " + label + " uncompressed."};
    return {Outcome::kCannotRecord, "このPCとディスクでは " + label + " の非圧縮録画ができません: " + fault.japanese,
            "This PC and disk cannot record " + label + " uncompressed: " + fault.english + "."};
}

std::string FormatFigures(const Measurement& m)
{
    const double mb = 1e6;
    std::string text;
    text += Printf("録画した長さ / recorded:            %.2f s (%.0f s requested)\n", m.file_seconds,
                   m.requested_seconds);
    text += Printf("フレーム 予定 / frames expected:     %.0f\n", static_cast<double>(m.frames.expected));
    text += Printf("フレーム 記録 / frames written:      %.0f\n", static_cast<double>(m.frames.written));
    text += Printf("フレーム 欠落 / frames lost:         %.0f (the card counted %.0f)\n",
                   static_cast<double>(m.frames.lost), static_cast<double>(m.card_lost));
    if (m.frames.repeated || m.frames.backwards || m.unreadable_frames)
        text += Printf("順序の乱れ / out of order:          %.0f repeated, %.0f backwards, %.0f unreadable\n",
                       static_cast<double>(m.frames.repeated), static_cast<double>(m.frames.backwards),
                       m.unreadable_frames);
    if (!m.has_audio)
        text += "音声 / sound:                       なし / none\n";
    else if (m.pairs == 0)
        text += Printf("音声のずれ / sound offset:          測れません / not measured (%.0f flashes, %.0f clicks)\n",
                       m.flashes, m.clicks);
    else
        text += Printf("音声のずれ / sound offset:          %+.1f ms (%+.1f .. %+.1f)\n", m.offset_median_ms,
                       m.offset_min_ms, m.offset_max_ms);
    text += Printf("書き込み速度 / write rate:           %.1f MB/s (the stream needs %.1f MB/s)\n",
                   WriteBytesPerSecond(m) / mb, m.stream_bytes_per_second / mb);
    return text;
}

}  // namespace fernwood_check
