// The lines of the report `fernwood-check --report` writes: numbered
// sections, "key: value" lines indented by depth, figures in fixed units, so
// that a person reads it and a script splits it on the first ": ". No Windows API.
#ifndef FERNWOOD_CHECK_REPORT_TEXT_H
#define FERNWOOD_CHECK_REPORT_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace fernwood_check {

// The sections in their fixed order; the report holds each exactly once.
extern const char* const kReportSections[6];
// "== 3. Format choice ==\n"
std::string SectionHeading(int number);

// "    key: value\n", two spaces a level; line breaks in the value become spaces.
std::string ReportLine(int depth, const std::string& key, const std::string& value);
// "0x80070005"
std::string HresultText(long hr);
// "333667 (29.97 fps)"; "0 (none)" for 0.
std::string IntervalText(int64_t interval);
// "%.*f" with `decimals`.
std::string Number(double value, int decimals = 0);

// The spacing of successive time stamps (100 ns units), in milliseconds.
struct Spacing {
    int gaps = 0;  // differences measured: one fewer than the stamps
    double min_ms = 0;
    double median_ms = 0;
    double max_ms = 0;
};
Spacing MeasureSpacing(const std::vector<int64_t>& stamps);
// "min 33.4 ms, median 33.4 ms, max 33.4 ms over 59 gaps (nominal 33.37 ms)";
// "no two stamps" below two. A nominal of 0 is left out.
std::string SpacingText(const Spacing& spacing, int64_t nominal_interval);

// The bytes a second an uncompressed 4:2:2 stream of the size and interval needs.
double UncompressedBytesPerSecond(int width, int height, int64_t interval);
// "124.3 MB/s measured, 124.3 MB/s needed: enough" (or "not enough").
std::string WriteRateText(double measured_bytes_per_second, double needed_bytes_per_second);

}  // namespace fernwood_check

#endif
