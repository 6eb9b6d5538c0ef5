#include "capture/graph_faults.h"

#include <dshow.h>

#include <cwchar>

#include "state/messages.h"
#include "state/timer_ids.h"
#include "state/window.h"

namespace {

bool standing = false;
bool held = false;
HRESULT standing_hr = S_OK;
wchar_t queued[512] = L"";

struct Cause {
    HRESULT hr;
    Message text;
};

// Built at run time: HRESULT_FROM_WIN32 is a function in some SDKs.
const wchar_t* PlainCause(HRESULT hr)
{
    const Cause causes[] = {
        {HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), Message::kDeviceInUse},
        {HRESULT_FROM_WIN32(ERROR_BUSY), Message::kDeviceInUse},
        {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), Message::kDeviceInUse},
        {E_ACCESSDENIED, Message::kCameraPrivacy},
        {VFW_E_NO_ACCEPTABLE_TYPES, Message::kNoSuchFormat},
        {VFW_E_TYPE_NOT_ACCEPTED, Message::kNoSuchFormat},
        {VFW_E_INVALIDMEDIATYPE, Message::kNoSuchFormat},
        {VFW_E_CANNOT_CONNECT, Message::kNoSuchFormat},
        {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), Message::kDeviceNotConnected},
        {HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST), Message::kDeviceNotConnected},
        {VFW_E_NO_CAPTURE_HARDWARE, Message::kDeviceNotConnected},
        {HRESULT_FROM_WIN32(ERROR_DISK_FULL), Message::kDiskFull},
        {HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), Message::kDiskFull},
        {STG_E_MEDIUMFULL, Message::kDiskFull},
        {HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), Message::kFileTooLarge},
    };
    for (const Cause& cause : causes)
        if (cause.hr == hr)
            return MessageText(cause.text);
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
    case GraphStep::kFormat: return MessageText(Message::kFormatStepFailed);
    case GraphStep::kPreview: return MessageText(Message::kPreviewStepFailed);
    case GraphStep::kRun: return MessageText(Message::kRunStepFailed);
    case GraphStep::kStreaming: return MessageText(Message::kStreamingFailed);
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
    std::swprintf(text, size, system[0] ? MessageText(Message::kErrorCodeWithText) : MessageText(Message::kErrorCode),
                  static_cast<unsigned long>(hr), system);
}

bool IsDiskFull(HRESULT hr)
{
    const wchar_t* cause = PlainCause(hr);
    return cause == MessageText(Message::kDiskFull) || cause == MessageText(Message::kFileTooLarge);
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
    std::swprintf(text, sizeof text / sizeof text[0], MessageText(Message::kFormatNotOffered),
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
