// setting.ini in the start-up directory, one value at a time. What the
// program keeps there is gathered and replayed by app/saved_settings.
#ifndef FERNWOODVIEW_SETTINGS_FILE_H
#define FERNWOODVIEW_SETTINGS_FILE_H

#include <windows.h>

// Empty when the start-up directory is too long to name the file: the
// program then runs on defaults and writes nothing.
extern char settings_path[260];
// Set by any write that did not reach the file; a save clears it first.
extern bool settings_write_failed;

void InitSettingsPath();
int ReadSettingInt(const char* section, const char* key, int default_value);
void ReadSettingText(const char* section, const char* key, char* buffer, int size);
void WriteSettingInt(const char* section, const char* key, int value);
void WriteSettingText(const char* section, const char* key, const char* text);

#endif
