// UTF-8 text to the console, or to a file or pipe as UTF-8 bytes.
#ifndef FERNWOOD_CHECK_CONSOLE_TEXT_H
#define FERNWOOD_CHECK_CONSOLE_TEXT_H

#include <string>

void Print(const std::string& utf8);
std::string Utf8(const wchar_t* wide);
// From the ANSI code page, as the viewer keeps its paths.
std::string Utf8FromCodePage(const std::string& text);

#endif
