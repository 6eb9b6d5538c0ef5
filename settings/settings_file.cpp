#include "settings/settings_file.h"

#include <cstdio>
#include <cstring>

#include "settings/settings_rules.h"

char settings_path[260];
bool settings_write_failed = false;

void InitSettingsPath()
{
    char folder[kPathBufferSize];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || !JoinPath(settings_path, sizeof settings_path, folder, "setting.ini"))
        settings_path[0] = '\0';
}

int ReadSettingInt(const char* section, const char* key, int default_value)
{
    if (!settings_path[0])
        return default_value;
    return static_cast<int>(GetPrivateProfileIntA(section, key, default_value, settings_path));
}

// A cut string must not end in half a double-byte character.
static void DropPartialCharacter(char* text)
{
    size_t length = std::strlen(text);
    size_t i = 0;
    while (i < length) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i]))) {
            if (i + 1 >= length) {
                text[i] = '\0';
                return;
            }
            i += 2;
        } else {
            i += 1;
        }
    }
}

// `buffer` holds the default on entry; it is read back into the same buffer.
void ReadSettingText(const char* section, const char* key, char* buffer, int size)
{
    char fallback[kPathBufferSize];
    std::snprintf(fallback, sizeof fallback, "%s", buffer);
    if (settings_path[0])
        GetPrivateProfileStringA(section, key, fallback, buffer, size, settings_path);
    else
        std::snprintf(buffer, static_cast<size_t>(size), "%s", fallback);
    DropPartialCharacter(buffer);
}

void WriteSettingInt(const char* section, const char* key, int value)
{
    char text[kSettingTextSize];
    std::snprintf(text, sizeof text, "%d", value);
    WriteSettingText(section, key, text);
}

void WriteSettingText(const char* section, const char* key, const char* text)
{
    if (!settings_path[0] || !WritePrivateProfileStringA(section, key, text, settings_path))
        settings_write_failed = true;
}
