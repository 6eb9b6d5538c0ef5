#include "report_text.h"

#include <algorithm>
#include <cstdio>

namespace fernwood_check {

const char* const kReportSections[6] = {
    "PC", "Capture devices", "Format choice", "Video compressors", "Trial", "Folders",
};

std::string Number(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string SectionHeading(int number)
{
    if (number < 1 || number > 6)
        return "";
    return "== " + std::to_string(number) + ". " + kReportSections[number - 1] + " ==\n";
}

std::string ReportLine(int depth, const std::string& key, const std::string& value)
{
    std::string line(static_cast<size_t>(depth > 0 ? depth * 2 : 0), ' ');
    line += key + ": ";
    for (char c : value)
        line += c == '\n' || c == '\r' ? ' ' : c;
    return line + "\n";
}

std::string HresultText(long hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr) & 0xFFFFFFFFul);
    return text;
}

std::string IntervalText(int64_t interval)
{
    if (interval <= 0)
        return std::to_string(interval) + " (none)";
    return std::to_string(interval) + " (" + Number(1e7 / static_cast<double>(interval), 2) + " fps)";
}

Spacing MeasureSpacing(const std::vector<int64_t>& stamps)
{
    Spacing spacing;
    if (stamps.size() < 2)
        return spacing;
    std::vector<double> gaps;
    for (size_t i = 1; i < stamps.size(); ++i)
        gaps.push_back(static_cast<double>(stamps[i] - stamps[i - 1]) / 1e4);
    std::sort(gaps.begin(), gaps.end());
    size_t n = gaps.size();
    spacing.gaps = static_cast<int>(n);
    spacing.min_ms = gaps.front();
    spacing.max_ms = gaps.back();
    spacing.median_ms = n % 2 ? gaps[n / 2] : (gaps[n / 2 - 1] + gaps[n / 2]) / 2;
    return spacing;
}

std::string SpacingText(const Spacing& spacing, int64_t nominal_interval)
{
    if (spacing.gaps == 0)
        return "no two stamps";
    std::string text = "min " + Number(spacing.min_ms, 2) + " ms, median " + Number(spacing.median_ms, 2) +
                       " ms, max " + Number(spacing.max_ms, 2) + " ms over " + std::to_string(spacing.gaps) + " gaps";
    if (nominal_interval > 0)
        text += " (nominal " + Number(static_cast<double>(nominal_interval) / 1e4, 2) + " ms)";
    return text;
}

double UncompressedBytesPerSecond(int width, int height, int64_t interval)
{
    if (interval <= 0)
        return 0;
    return static_cast<double>(width) * height * 2 * 1e7 / static_cast<double>(interval);
}

std::string WriteRateText(double measured_bytes_per_second, double needed_bytes_per_second)
{
    return Number(measured_bytes_per_second / 1e6, 1) + " MB/s measured, " +
           Number(needed_bytes_per_second / 1e6, 1) + " MB/s needed: " +
           (measured_bytes_per_second >= needed_bytes_per_second ? "enough" : "not enough");
}

}  // namespace fernwood_check
