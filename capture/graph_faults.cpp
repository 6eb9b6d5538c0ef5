#include "capture/graph_faults.h"

#include <dshow.h>

#include <cwchar>

#include "state/timer_ids.h"
#include "state/window.h"

namespace {

bool standing = false;
bool held = false;
HRESULT standing_hr = S_OK;
wchar_t queued[512] = L"";

struct Cause {
    HRESULT hr;
    const wchar_t* text;
};

const wchar_t kInUse[] =
    L"このデバイスはほかのプログラムが使っています。\nそのプログラムを終えてから、メニューでデバイスを選び直してください。";
const wchar_t kPrivacy[] =
    L"Windows のプライバシー設定でカメラへのアクセスがオフになっています。\n「設定」→「プライバシー」→「カメラ」で、"
    L"デスクトップアプリがカメラにアクセスできるようにしてください。";
const wchar_t kNoSuchFormat[] = L"このデバイスは選んだ形式の映像を出せません。";
const wchar_t kNotConnected[] = L"デバイスがつながっていません。ケーブルと電源を確かめてください。";
const wchar_t kDiskFull[] = L"保存先のディスクがいっぱいです。";
const wchar_t kFileTooLarge[] = L"録画ファイルが保存先のファイルシステムの上限を超えました。";

// Built at run time: HRESULT_FROM_WIN32 is a function in some SDKs.
const wchar_t* PlainCause(HRESULT hr)
{
    const Cause causes[] = {
        {HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), kInUse},
        {HRESULT_FROM_WIN32(ERROR_BUSY), kInUse},
        {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), kInUse},
        {E_ACCESSDENIED, kPrivacy},
        {VFW_E_NO_ACCEPTABLE_TYPES, kNoSuchFormat},
        {VFW_E_TYPE_NOT_ACCEPTED, kNoSuchFormat},
        {VFW_E_INVALIDMEDIATYPE, kNoSuchFormat},
        {VFW_E_CANNOT_CONNECT, kNoSuchFormat},
        {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), kNotConnected},
        {HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST), kNotConnected},
        {VFW_E_NO_CAPTURE_HARDWARE, kNotConnected},
        {HRESULT_FROM_WIN32(ERROR_DISK_FULL), kDiskFull},
        {HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), kDiskFull},
        {STG_E_MEDIUMFULL, kDiskFull},
        {HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), kFileTooLarge},
    };
    for (const Cause& cause : causes)
        if (cause.hr == hr)
            return cause.text;
    return nullptr;
}

// The system's own words for the code: Windows' table, then DirectShow's.
void SystemText(HRESULT hr, wchar_t* text, DWORD size)
{
    text[0] = L'\0';
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(hr), 0, text, size, nullptr);
    if (length == 0)
        length = AMGetErrorTextW(hr, text, size);
    if (length >= size)
        length = size - 1;
    text[length] = L'\0';
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
        text[--length] = L'\0';
}

const wchar_t* StepText(GraphStep step)
{
    switch (step) {
    case GraphStep::kFormat: return L"映像の形式を設定できませんでした。";
    case GraphStep::kPreview: return L"映像をウィンドウにつなげられませんでした。";
    case GraphStep::kRun: return L"キャプチャを開始できませんでした。";
    case GraphStep::kStreaming: return L"キャプチャ中にエラーが起きました。";
    }
    return L"";
}

void Queue(HRESULT hr, const wchar_t* text)
{
    if (held || (standing && standing_hr == hr))
        return;
    standing = true;
    standing_hr = hr;
    // The first fault of a command is the cause; what follows from it is not news.
    if (queued[0] != L'\0')
        return;
    std::swprintf(queued, sizeof queued / sizeof queued[0], L"%ls", text);
    if (main_window)
        PostMessageW(main_window, WM_GRAPH_FAULT, 0, 0);
}

}  // namespace

void DescribeFailure(HRESULT hr, wchar_t* text, size_t size)
{
    if (const wchar_t* cause = PlainCause(hr)) {
        std::swprintf(text, size, L"%ls", cause);
        return;
    }
    wchar_t system[256];
    SystemText(hr, system, sizeof system / sizeof system[0]);
    std::swprintf(text, size, system[0] ? L"（エラー 0x%08lX: %ls）" : L"（エラー 0x%08lX）",
                  static_cast<unsigned long>(hr), system);
}

bool IsDiskFull(HRESULT hr)
{
    const wchar_t* cause = PlainCause(hr);
    return cause == kDiskFull || cause == kFileTooLarge;
}

void ReportGraphFault(GraphStep step, HRESULT hr)
{
    wchar_t cause[400];
    DescribeFailure(hr, cause, sizeof cause / sizeof cause[0]);
    wchar_t text[512];
    std::swprintf(text, sizeof text / sizeof text[0], L"%ls\n%ls", StepText(step), cause);
    Queue(hr, text);
}

void ReportFormatNotOffered(int height)
{
    wchar_t text[200];
    std::swprintf(text, sizeof text / sizeof text[0], L"このデバイスは %ls の映像を出せません。\nデバイスの既定の形式で表示します。",
                  height == 720 ? L"1280×720 59.94fps" : L"1920×1080 29.97fps");
    Queue(VFW_E_NO_ACCEPTABLE_TYPES, text);
}

void NoteGraphFault(HRESULT hr)
{
    standing = true;
    standing_hr = hr;
}

void ClearGraphFault()
{
    standing = false;
    standing_hr = S_OK;
}

void HoldGraphFaults(bool hold)
{
    held = hold;
}

bool GraphFaultStands()
{
    return standing;
}

void ShowQueuedGraphFault()
{
    if (queued[0] == L'\0')
        return;
    wchar_t text[512];
    std::swprintf(text, sizeof text / sizeof text[0], L"%ls", queued);
    queued[0] = L'\0';
    ShowMessageBox(text, L"エラー", MB_OK | MB_ICONWARNING);
}
