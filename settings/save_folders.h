// The movie and picture folders, ANSI (code page) paths.
#ifndef FERNWOODVIEW_SAVE_FOLDERS_H
#define FERNWOODVIEW_SAVE_FOLDERS_H

#include <windows.h>

struct SaveFolders {
    char path_capture[260];
    char path_picture[260];
};

extern SaveFolders save_folders;

// Handler of IDM_CAPTURE_PATH and IDM_PICTURE_PATH.
void ChooseSaveFolder(HWND owner, UINT id);

#endif
