#include "report.h"

#include <windows.h>

#include <objbase.h>

#include <cstdio>

#include "console_text.h"
#include "readback.h"
#include "resources/version.h"
#include "stamp_probe.h"
#include "system_report.h"
#include "tools/check/portable/report_text.h"
#include "viewer_session.h"

using fernwood_check::ReportLine;
using fernwood_check::SectionHeading;

namespace {

enum ExitCode { kCanRecord = 0, kCannotRecord = 1, kCouldNotCheck = 2 };

std::wstring DefaultReportName()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"fernwood-report-%04u%02u%02u-%02u%02u%02u.txt", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    return name;
}

std::string CodePage(const std::wstring& wide)
{
    char text[MAX_PATH];
    BOOL lossy = FALSE;
    if (wide.empty() ||
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, text, MAX_PATH, nullptr, &lossy) <= 0 ||
        lossy)
        return "";
    return text;
}

std::string FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? Utf8(full) : Utf8(path.c_str());
}

std::string SavedSettings()
{
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    std::string file = length && length < MAX_PATH - 12 ? std::string(folder) + "\\setting.ini" : "";
    return !file.empty() && GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES ? file : "";
}

std::string PhaseText(const TrialPhase& phase)
{
    std::string text = ReportLine(1, "phase", phase.title);
    text += ReportLine(2, "graph running", phase.running ? "yes" : "no");
    text += ReportLine(2, "calls", std::to_string(phase.calls.size()));
    for (const std::string& call : phase.calls)
        text += "      " + call + "\n";
    for (const std::string& figure : phase.figures)
        text += "    " + figure + "\n";
    return text + phase.graph;
}

std::string TrialText(const ReportRequest& request, const TrialResult& trial, const std::string& settings,
                      fernwood_check::Measurement* m)
{
    std::string text = ReportLine(1, "settings", settings.empty() ? "none in the current folder: the viewer's defaults"
                                                                  : Utf8FromCodePage(settings));
    text += ReportLine(1, "format", fernwood_check::FormatLabel(m->format) + " uncompressed");
    text += ReportLine(1, "video device", trial.video_index < 0 ? "none opened"
                                                                : std::to_string(trial.video_index) + " " +
                                                                      trial.video_name);
    text += ReportLine(1, "audio device", trial.audio_index < 0 ? "none"
                                                                : std::to_string(trial.audio_index) + " " +
                                                                      trial.audio_name);
    for (const TrialPhase& phase : trial.phases)
        text += PhaseText(phase);
    text += ReportLine(1, "viewer's messages", trial.viewer_message.empty() ? "none" : trial.viewer_message);
    if (request.record_seconds <= 0)
        return text + ReportLine(1, "recording", "not asked for (--seconds S --folder PATH)");
    if (!m->started)
        return text + ReportLine(1, "recording", "did not start");
    text += ReportLine(1, "recording", fernwood_check::Number(request.record_seconds, 1) + " s asked for" +
                                           (m->stopped_early ? ", stopped by itself" : ""));
    text += ReportLine(2, "file", Utf8FromCodePage(trial.movie_path));
    if (ReadBack(trial.movie_path, m)) {
        std::string figures = fernwood_check::FormatFigures(*m);
        for (size_t start = 0, end; start < figures.size(); start = end + 1) {
            end = figures.find('\n', start);
            text += "    " + figures.substr(start, end - start) + "\n";
            if (end == std::string::npos)
                break;
        }
    } else {
        text += ReportLine(2, "read back", "not an AVI of the card that can be read");
    }
    fernwood_check::Verdict verdict = fernwood_check::Judge(*m);
    text += ReportLine(2, "verdict", verdict.english);
    if (request.keep) {
        text += ReportLine(2, "file kept", "yes");
    } else {
        DeleteFileA(trial.movie_path.c_str());
        text += ReportLine(2, "file kept", "no, deleted");
    }
    return text;
}

std::string SizesText(const std::vector<long>& sizes, long bytes_per_second)
{
    if (sizes.empty())
        return "none";
    long least = sizes.front(), most = sizes.front();
    for (long size : sizes) {
        least = size < least ? size : least;
        most = size > most ? size : most;
    }
    std::string text = std::to_string(sizes.size()) + " buffers of " + std::to_string(least) + " to " +
                       std::to_string(most) + " bytes";
    if (bytes_per_second > 0)
        text += " (" + fernwood_check::Number(least * 1000.0 / bytes_per_second, 1) + " to " +
                fernwood_check::Number(most * 1000.0 / bytes_per_second, 1) + " ms)";
    return text;
}

std::string ProbeText(const StampProbe& probe)
{
    std::string text = ReportLine(1, "time stamps", "the capture pins into Sample Grabbers, a graph of the check's "
                                                   "own run after the viewer's");
    text += ReportLine(2, "calls", std::to_string(probe.calls.size()));
    for (const std::string& call : probe.calls)
        text += "      " + call + "\n";
    text += ReportLine(2, "graph running", probe.ran ? "yes" : "no");
    if (!probe.ran)
        return text;
    text += ReportLine(2, "video samples", std::to_string(probe.video_starts.size()) + " stamped, " +
                                               std::to_string(probe.video_unstamped) + " without a time stamp");
    text += ReportLine(2, "video spacing", fernwood_check::SpacingText(fernwood_check::MeasureSpacing(probe.video_starts),
                                                                       probe.nominal_interval));
    text += ReportLine(2, "sound buffers", SizesText(probe.audio_sizes, probe.audio_bytes_per_second));
    text += ReportLine(2, "sound spacing", fernwood_check::SpacingText(fernwood_check::MeasureSpacing(probe.audio_starts), 0));
    return text;
}

std::string FoldersText(const TrialResult& trial, const fernwood_check::CheckFormat& format)
{
    double needed = fernwood_check::UncompressedBytesPerSecond(format.width, format.height, format.frame_interval) +
                    48000 * 4;
    std::string movies = trial.movie_folder.empty() ? "." : trial.movie_folder;
    std::string pictures = trial.picture_folder.empty() ? "." : trial.picture_folder;
    return DescribeFolder("movie folder", movies, needed) + DescribeFolder("picture folder", pictures, 0);
}

bool WriteUtf8File(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                written == text.size();
    CloseHandle(file);
    return done;
}

struct TrialWatch {
    std::wstring path;
    std::string text;  // the sections written before the trial
    fernwood_check::CheckFormat format;
    DWORD bound_ms = 0;
    HANDLE done = nullptr;
};

// A trial that hangs in a driver would take the report with it: past the
// bound the report is finished without it and the process ends.
DWORD WINAPI WatchTrial(void* data)
{
    auto watch = static_cast<TrialWatch*>(data);
    if (WaitForSingleObject(watch->done, watch->bound_ms) == WAIT_OBJECT_0)
        return 0;
    const char* phase = "";
    const char* call = "";
    TrialProgress(&phase, &call);
    TrialResult none;
    std::string text = watch->text + SectionHeading(4) +
                       ReportLine(1, "listed", "not known: the viewer's trial did not finish") + SectionHeading(5) +
                       ReportLine(1, "trial", "no answer within " + std::to_string(watch->bound_ms / 1000) +
                                                  " s in the phase \"" + phase +
                                                  "\"; the last call that returned: " + call) +
                       SectionHeading(6) + FoldersText(none, watch->format) + "== end: exit 2 ==\n";
    if (WriteUtf8File(watch->path, text))
        Print("レポート / report: " + FullPath(watch->path) + "\n");
    TerminateProcess(GetCurrentProcess(), kCouldNotCheck);
    return 0;
}

int Outcome(const ReportRequest& request, const DeviceSections& devices, const TrialResult& trial,
            const fernwood_check::Measurement& m)
{
    bool previewed = !trial.phases.empty() && trial.phases[0].running;
    if (devices.video_count == 0 || !previewed)
        return kCouldNotCheck;
    if (request.record_seconds <= 0)
        return kCanRecord;
    return fernwood_check::Judge(m).outcome == fernwood_check::Outcome::kCanRecord ? kCanRecord : kCannotRecord;
}

}  // namespace

int WriteReport(const ReportRequest& request)
{
    std::wstring path = request.file.empty() ? DefaultReportName() : request.file;
    fernwood_check::Measurement m;
    m.format = fernwood_check::FormatForHeight(request.height);
    m.requested_seconds = request.record_seconds;
    CoInitialize(nullptr);
    std::string text = "Fernwood View report " FERNWOOD_VERSION_TEXT "\n";
    text += SectionHeading(1) + DescribePc();
    DeviceSections devices = DescribeDevices();
    text += SectionHeading(2) + devices.devices + SectionHeading(3) + devices.choices;

    TrialRequest trial_request;
    trial_request.video = request.device;
    trial_request.settings_file = SavedSettings();
    trial_request.height = request.height;
    trial_request.record_seconds = request.record_seconds;
    trial_request.folder = CodePage(request.folder);
    TrialWatch watch;
    watch.path = path;
    watch.text = text;
    watch.format = m.format;
    watch.bound_ms = static_cast<DWORD>(120000 + request.record_seconds * 3000);
    watch.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE watcher = CreateThread(nullptr, 0, WatchTrial, &watch, 0, nullptr);
    TrialResult trial = TrialThroughViewer(trial_request, &m);
    SetEvent(watch.done);
    if (watcher) {
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    CloseHandle(watch.done);
    StampProbe probe;
    if (trial.video_index >= 0)
        probe = ProbeStamps(trial.video_index, trial.audio_index, request.height, 2);

    text += SectionHeading(4);
    for (size_t i = 0; i < trial.compressors.size(); ++i)
        text += ReportLine(1, "compressor " + std::to_string(i), trial.compressors[i]);
    text += ReportLine(1, "listed", std::to_string(trial.compressors.size()) +
                                        (trial.window ? " (as the viewer's menu lists them, besides 非圧縮)" : " (the viewer did not start)"));
    text += SectionHeading(5) + TrialText(request, trial, trial_request.settings_file, &m);
    if (trial.video_index >= 0)
        text += ProbeText(probe);
    text += SectionHeading(6) + FoldersText(trial, m.format);
    CoUninitialize();

    int outcome = Outcome(request, devices, trial, m);
    text += "== end: exit " + std::to_string(outcome) + " ==\n";
    if (!WriteUtf8File(path, text)) {
        Print("レポートを書けません / the report cannot be written: " + Utf8(path.c_str()) + "\n");
        return kCouldNotCheck;
    }
    Print("レポート / report: " + FullPath(path) + "\n");
    return outcome;
}
