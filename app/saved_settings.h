// Every part's saved state: read from setting.ini during start-up, written
// once at shutdown.
#ifndef FERNWOODVIEW_SAVED_SETTINGS_H
#define FERNWOODVIEW_SAVED_SETTINGS_H

#include <windows.h>

#include "settings/settings_file.h"

void ApplySettingsToMenu(HWND hwnd);
void SaveSettings();

#endif
