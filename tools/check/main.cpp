// fernwood-check: can this PC and disk record the card uncompressed? Records
// the test card through the viewer's own graph, reads the file back and says.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "card_devices.h"
#include "console_text.h"
#include "readback.h"
#include "resources/version.h"
#include "viewer_session.h"

namespace {

const char kUsage[] =
    "使い方 / usage: fernwood-check [--format 720|1080] [--seconds N] [--folder PATH] [--keep]\n"
    "  --format   1280×720 59.94fps (720) または / or 1920×1080 29.97fps (1080, 既定 / default)\n"
    "  --seconds  録画する秒数 / seconds to record, 1-3600 (既定 / default 10)\n"
    "  --folder   録画を書くフォルダ / folder to record into (既定: 現在のフォルダ / default: current folder)\n"
    "  --keep     録画ファイルを消さずに残す / keep the recorded file\n";

enum ExitCode { kCanRecord = 0, kCannotRecord = 1, kCouldNotCheck = 2 };

struct Options {
    int height = 1080;
    double seconds = 10;
    std::wstring folder = L".";
    bool keep = false;
};

bool ParseOptions(int count, wchar_t** args, Options* options)
{
    for (int i = 1; i < count; ++i) {
        std::wstring arg = args[i];
        bool has_value = i + 1 < count;
        if (arg == L"--keep") {
            options->keep = true;
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
        } else if (arg == L"--folder" && has_value) {
            options->folder = args[++i];
        } else {
            return false;
        }
    }
    return true;
}

// The full path in the code page, as the viewer keeps its folders; empty when
// the folder is missing or its name has no exact form in the code page.
std::string CodePageFolder(const std::wstring& folder)
{
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
    DWORD attributes = length && length < MAX_PATH ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
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
    request->folder = CodePageFolder(options.folder);
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
    return Check(options);
}
