// Looks at the unpacked release from outside, as a user's eyes would, for
// test-package: the picture in the viewer's window, the message box it shows,
// and the version Explorer would show for a file.
//   package_probe frame            prints the frame number the window shows
//   package_probe message          prints the text of the viewer's message box and answers it
//   package_probe close            closes the viewer's window
//   package_probe version FILE     prints the file's version resource
// Exit 1 when there is nothing to read (yet).
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "screen_frame.h"

namespace {

void PrintUtf8(const wchar_t* text)
{
    char bytes[1024] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    std::printf("%s\n", bytes);
}

HWND ViewerWindow()
{
    return FindWindowA("FERNWOODVIEW", nullptr);
}

int ShownFrame()
{
    uint32_t number = 0;
    if (!ReadShownFrameNumber(ViewerWindow(), &number))
        return 1;
    std::printf("%u\n", number);
    return 0;
}

BOOL CALLBACK FindMessageBox(HWND window, LPARAM found)
{
    wchar_t class_name[16];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    DWORD viewer_process = 0;
    GetWindowThreadProcessId(ViewerWindow(), &viewer_process);
    if (IsWindowVisible(window) && process == viewer_process && GetClassNameW(window, class_name, 16) &&
        lstrcmpW(class_name, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

int AnswerMessage()
{
    if (!ViewerWindow())
        return 1;
    HWND box = nullptr;
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (!box)
        return 1;
    wchar_t text[512] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 512);  // the text of a message box
    PrintUtf8(text);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}

int CloseViewer()
{
    HWND window = ViewerWindow();
    return window && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name)
{
    struct Translation {
        WORD language, code_page;
    }* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof *translation)
        return L"";
    wchar_t path[128];
    std::swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->code_page, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&value), &size) || !value)
        return L"";
    return value;
}

int PrintVersion(const wchar_t* file)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file, &handle);
    std::vector<char> block(size);
    if (!size || !GetFileVersionInfoW(file, 0, size, block.data()))
        return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || !fixed)
        return 1;
    std::printf("FixedFileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
                                L"OriginalFilename", L"LegalCopyright"}) {
        std::wstring line = std::wstring(name) + L"=" + VersionString(block, name);
        PrintUtf8(line.c_str());
    }
    return 0;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring command = count > 1 ? args[1] : L"";
    if (command == L"frame")
        return ShownFrame();
    if (command == L"message")
        return AnswerMessage();
    if (command == L"close")
        return CloseViewer();
    if (command == L"version" && count > 2)
        return PrintVersion(args[2]);
    std::fprintf(stderr, "usage: package_probe frame | message | close | version FILE\n");
    return 2;
}
