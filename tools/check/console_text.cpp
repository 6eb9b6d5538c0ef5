#include "console_text.h"

#include <windows.h>

#include <vector>

void Print(const std::string& utf8)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, done = 0;
    if (GetConsoleMode(out, &mode)) {
        // A console shows Japanese whatever its code page when given UTF-16.
        int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        std::vector<wchar_t> wide(static_cast<size_t>(length) + 1);
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(length), &done, nullptr);
    } else {
        WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
    }
}

std::string Utf8(const wchar_t* wide)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return "";
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, nullptr, nullptr);
    text.resize(static_cast<size_t>(length) - 1);
    return text;
}

std::string Utf8FromCodePage(const std::string& text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 1)
        return "";
    std::vector<wchar_t> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return Utf8(wide.data());
}
