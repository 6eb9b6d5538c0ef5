#include "settings/save_folders.h"

#include <shlobj.h>

#include "state/command_menu.h"

SaveFolders save_folders;

// The browser runs wide so that its Japanese title shows on any system; the
// folder itself stays a code-page path, as setting.ini stores it.
static int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        wchar_t wide[MAX_PATH];
        const char* folder = reinterpret_cast<const char*>(data);
        if (MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH) > 0)
            SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(wide));
    }
    return 0;
}

// False when the path has no exact code-page form or does not fit the buffer.
static bool WideToFolder(const wchar_t* wide, char* folder)
{
    char converted[MAX_PATH];
    BOOL lossy = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, converted, MAX_PATH, nullptr, &lossy);
    if (length <= 0 || lossy)
        return false;
    lstrcpynA(folder, converted, MAX_PATH);
    return true;
}

void ChooseSaveFolder(HWND owner, UINT id)
{
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)))
        return;
    bool movies = id == IDM_CAPTURE_PATH;
    char* folder = movies ? save_folders.path_capture : save_folders.path_picture;

    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = movies ? L"動画の保存先を指定してください" : L"静止画の保存先を指定してください";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(folder);

    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen) {
        wchar_t wide[MAX_PATH];
        if (SHGetPathFromIDListW(chosen, wide) && WideToFolder(wide, folder))
            SetMenuText(id, folder);
        allocator->Free(chosen);
    }
    allocator->Release();
}
