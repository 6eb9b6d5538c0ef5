// fernwood-check: can this PC and disk record the card uncompressed? Records
// the test card through the viewer's own graph, reads the file back and says.
// With --repair, makes a recording that ended without a stop playable.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "card_devices.h"
#include "console_text.h"
#include "readback.h"
#include "report.h"
#include "record/repair_file.h"
#include "resources/version.h"
#include "viewer_session.h"

namespace {

const char kUsage[] =
    "使い方 / usage: fernwood-check [--format 720|1080] [--seconds N] [--folder PATH] [--keep]\n"
    "                fernwood-check --repair FILE [--journal PATH]\n"
    "                fernwood-check --report [FILE] [--device N] [--format 720|1080] [--seconds N --folder PATH] [--keep]\n"
    "  --format   1280×720 59.94fps (720) または / or 1920×1080 29.97fps (1080, 既定 / default)\n"
    "  --seconds  録画する秒数 / seconds to record, 1-3600 (既定 / default 10)\n"
    "  --folder   録画を書くフォルダ / folder to record into (既定: 現在のフォルダ / default: current folder)\n"
    "  --keep     録画ファイルを消さずに残す / keep the recorded file\n"
    "  --repair   停止せずに終わった録画を再生できるように直す / make a recording that ended without a stop playable\n"
    "  --journal  録画の記録 / the recording's journal (既定: FILE の unfinished.txt、なければ FILE のヘッダー /\n"
    "             default: unfinished.txt in the current folder if it names FILE, else FILE's own header)\n"
    "  --report   このPCのデバイスとビューアのグラフの報告を書く / write a report of this PC's devices and the\n"
    "             viewer's graph (既定 / default: fernwood-report-<日時 / time>.txt); --seconds で録画も / records too\n"
    "  --device   試すビデオデバイスの番号 / the video device to try, from 0 (既定: setting.ini の / default: the saved one)\n";

enum ExitCode { kCanRecord = 0, kCannotRecord = 1, kCouldNotCheck = 2 };
// --repair: repaired or whole already, left alone, could not read or write.
enum RepairExitCode { kRepairedOrWhole = 0, kLeftAlone = 1, kRepairFailed = 2 };

struct Options {
    int height = 1080;
    double seconds = 10;
    std::wstring folder = L".";
    bool keep = false;
    bool recording_options = false;
    std::wstring repair;
    std::wstring journal;
    bool report = false;
    std::wstring report_file;
    int device = -1;
    bool seconds_given = false;
    bool folder_given = false;
};

bool ParseDevice(const wchar_t* text, int* device)
{
    wchar_t* end = nullptr;
    long value = std::wcstol(text, &end, 10);
    if (*end || end == text || value < 0 || value > 9)
        return false;
    *device = static_cast<int>(value);
    return true;
}

bool ParseOptions(int count, wchar_t** args, Options* options)
{
    for (int i = 1; i < count; ++i) {
        std::wstring arg = args[i];
        bool has_value = i + 1 < count;
        options->recording_options = options->recording_options || (arg != L"--repair" && arg != L"--journal");
        if (arg == L"--report") {
            options->report = true;
            if (has_value && std::wcsncmp(args[i + 1], L"--", 2) != 0)
                options->report_file = args[++i];
        } else if (arg == L"--device" && has_value) {
            if (!ParseDevice(args[++i], &options->device))
                return false;
        } else if (arg == L"--keep") {
            options->keep = true;
        } else if (arg == L"--repair" && has_value) {
            options->repair = args[++i];
        } else if (arg == L"--journal" && has_value) {
            options->journal = args[++i];
        } else if (arg == L"--format" && has_value) {
            std::wstring value = args[++i];
            if (value != L"720" && value != L"1080")
                return false;
            options->height = std::stoi(value);
        } else if (arg == L"--seconds" && has_value) {
            wchar_t* end = nullptr;
            options->seconds = std::wcstod(args[++i], &end);
            if (*end || options->seconds < 1 || options->seconds > 3600)
                return false;
            options->seconds_given = true;
        } else if (arg == L"--folder" && has_value) {
            options->folder = args[++i];
            options->folder_given = true;
        } else {
            return false;
        }
    }
    if (options->report)
        return options->repair.empty() && options->journal.empty() && options->seconds_given == options->folder_given;
    if (options->device >= 0)
        return false;
    return options->repair.empty() ? options->journal.empty() : !options->recording_options;
}

// The full path in the code page, as the viewer keeps its paths; empty when
// the file or folder is missing (a folder where `folder`) or its name has no
// exact form in the code page.
std::string CodePagePath(const std::wstring& path, bool folder)
{
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    DWORD attributes = length && length < MAX_PATH ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) != !folder)
        return "";
    char converted[MAX_PATH];
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full, -1, converted, MAX_PATH, nullptr, &lossy) <= 0 ||
        lossy)
        return "";
    return converted;
}

std::string Figure(const char* format, double value)
{
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void WarnOfSpace(const std::string& folder, double needed_bytes)
{
    ULARGE_INTEGER free_bytes{};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &free_bytes, nullptr, nullptr))
        return;
    double available = static_cast<double>(free_bytes.QuadPart);
    Print("空き容量 / free space: " + Figure("%.2f GB", available / 1e9) + " (" +
          Figure("%.2f GB needed)\n", needed_bytes / 1e9));
    if (available < needed_bytes)
        Print("保存先の空きが足りない見込みです / the disk may fill up before the end\n");
}

// Where to record and from which device; false (having said why) when the check cannot run.
bool Prepare(const Options& options, SessionRequest* request)
{
    request->height = options.height;
    request->seconds = options.seconds;
    request->folder = CodePagePath(options.folder, true);
    if (request->folder.empty()) {
        Print("保存先のフォルダがないか、名前を扱えません / the folder is missing or its name cannot be used: " +
              Utf8(options.folder.c_str()) + "\n");
        return false;
    }
    request->card = FindTestCard();
    if (request->card.video < 0) {
        Print("テストカードが見つかりません。install-testcard.cmd を管理者として実行してから、もう一度試してください。\n"
              "The test card is not installed: run install-testcard.cmd as administrator, then try again.\n");
        return false;
    }
    return true;
}

int Report(const Options& options, const SessionResult& session, fernwood_check::Measurement* m)
{
    if (!m->viewer_message.empty())
        Print("ビューアの表示 / the viewer said: " + m->viewer_message + "\n");
    if (!session.movie_path.empty() && ReadBack(session.movie_path, m))
        Print(fernwood_check::FormatFigures(*m));
    fernwood_check::Verdict verdict = fernwood_check::Judge(*m);
    Print(verdict.japanese + "\n" + verdict.english + "\n");
    if (!session.movie_path.empty()) {
        if (options.keep)
            Print("録画ファイル / file kept: " + Utf8FromCodePage(session.movie_path) + "\n");
        else
            DeleteFileA(session.movie_path.c_str());
    }
    return verdict.outcome == fernwood_check::Outcome::kCanRecord ? kCanRecord : kCannotRecord;
}

int Check(const Options& options)
{
    fernwood_check::Measurement m;
    m.format = fernwood_check::FormatForHeight(options.height);
    m.requested_seconds = options.seconds;
    SessionRequest request;
    CoInitialize(nullptr);
    if (!Prepare(options, &request)) {
        CoUninitialize();
        return kCouldNotCheck;
    }
    Print("形式 / format: " + fernwood_check::FormatLabel(m.format) + " 非圧縮 / uncompressed, " +
          Figure("%.0f s\n", options.seconds));
    Print("保存先 / folder: " + Utf8FromCodePage(request.folder) + "\n");
    double needed = static_cast<double>(m.format.width) * m.format.height * 2 * 1e7 /
                    static_cast<double>(m.format.frame_interval) * options.seconds;
    WarnOfSpace(request.folder, needed);
    Print("録画しています… / recording…\n");
    SessionResult session = RecordThroughViewer(request, &m);
    CoUninitialize();
    return Report(options, session, &m);
}

// The journal given, else the one the viewer keeps in the current folder
// while it records, if it is this movie's, else the movie's own header.
bool StreamsToRepair(const Options& options, const std::string& movie, std::vector<JournalStream>* streams)
{
    RecordingJournal journal;
    if (!options.journal.empty()) {
        std::string path = CodePagePath(options.journal, false);
        if (path.empty() || !ReadJournalFile(path.c_str(), &journal)) {
            Print("記録を読めません / the journal cannot be read: " + Utf8(options.journal.c_str()) + "\n");
            return false;
        }
        *streams = journal.streams;
        return true;
    }
    char named[MAX_PATH];
    DWORD length = ReadJournalFile("unfinished.txt", &journal)
                       ? GetFullPathNameA(journal.movie.c_str(), MAX_PATH, named, nullptr)
                       : 0;
    if (length && length < MAX_PATH && lstrcmpiA(named, movie.c_str()) == 0) {
        Print("記録 / journal: unfinished.txt\n");
        *streams = journal.streams;
        return true;
    }
    if (ReadMovieHeaderStreams(movie.c_str(), streams)) {
        Print("記録がないため、ファイルのヘッダーの形式を使います / no journal: the formats come from the file's header\n");
        return true;
    }
    Print("録画の形式がわかりません。--journal で記録を指定してください /\n"
          "no journal names this file and its header cannot be read: give one with --journal\n");
    return false;
}

int Repair(const Options& options)
{
    const std::string movie = CodePagePath(options.repair, false);
    if (movie.empty()) {
        Print("ファイルがないか、名前を扱えません / the file is missing or its name cannot be used: " +
              Utf8(options.repair.c_str()) + "\n");
        return kRepairFailed;
    }
    std::vector<JournalStream> streams;
    if (!StreamsToRepair(options, movie, &streams))
        return kRepairFailed;
    RepairResult result = RepairMovieFile(movie.c_str(), streams);
    double bytes_per_second = 0;
    for (const JournalStream& s : streams)
        if (!s.video && bytes_per_second == 0 && s.format.size() >= 12)
            bytes_per_second = s.format[8] | s.format[9] << 8 | s.format[10] << 16 | s.format[11] << 24;
    switch (result.outcome) {
    case RepairOutcome::kRepaired:
        Print("修復しました / repaired: " + Utf8FromCodePage(movie) + "\n" +
              Figure("残したフレーム / frames kept: %.0f\n", static_cast<double>(result.video_frames)) +
              Figure("残した音声 / sound kept: %.2f s\n",
                     bytes_per_second ? static_cast<double>(result.audio_bytes) / bytes_per_second : 0.0) +
              Figure("切り捨てた途中までの部分 / bytes cut (written in part): %.0f\n",
                     static_cast<double>(result.cut_bytes)));
        return kRepairedOrWhole;
    case RepairOutcome::kWasWhole:
        Print("このファイルは完全です。何も変えていません / the file is whole already; nothing was changed\n");
        return kRepairedOrWhole;
    case RepairOutcome::kNotUnderstood:
        Print("ファイルの構造がわからないため、何も変えていません / the file's layout is not understood; "
              "nothing was changed\n");
        return kLeftAlone;
    default:
        Print("ファイルを読み書きできませんでした / the file could not be read or written\n");
        return kRepairFailed;
    }
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    Options options;
    Print("Fernwood View システムチェック / system check " FERNWOOD_VERSION_TEXT "\n");
    if (!args || !ParseOptions(count, args, &options)) {
        Print(kUsage);
        return kCouldNotCheck;
    }
    LocalFree(args);
    if (options.report) {
        ReportRequest request;
        request.file = options.report_file;
        request.device = options.device;
        request.height = options.height;
        request.record_seconds = options.seconds_given ? options.seconds : 0;
        request.folder = options.folder_given ? options.folder : L"";
        request.keep = options.keep;
        return WriteReport(request);
    }
    return options.repair.empty() ? Check(options) : Repair(options);
}
