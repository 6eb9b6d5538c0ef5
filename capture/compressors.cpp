#include "capture/devices.h"

#include <olectl.h>

#include "capture/capture_graph.h"
#include "settings/settings_file.h"
#include "state/command_menu.h"
#include "state/window.h"

int compressor_index = 0;
int compressor_count = 0;
bool compressor_choice_read = false;

void EnumerateCompressors()
{
    compressor_count = ListDevices(CLSID_VideoCompressorCategory, device_list.compressor_names, nullptr, 50,
                                   IDM_COMPRESSOR_FIRST, IDM_COMPRESSOR_NONE);
    // A saved compressor that is no longer listed falls back to uncompressed,
    // so the menu and the recording agree.
    compressor_index = SavedCompressorIndex(ReadSettingInt("menu", "compressor", IDM_COMPRESSOR_NONE),
                                            compressor_count);
    CheckMenuItem(CommandMenu, IDM_COMPRESSOR_FIRST + compressor_index, MF_BYCOMMAND | MF_CHECKED);
    compressor_choice_read = true;
}

static void ShowPropertyFrame(IBaseFilter* filter, ISpecifyPropertyPages* pages)
{
    FILTER_INFO info{};
    filter->QueryFilterInfo(&info);
    CAUUID page_ids{};
    if (SUCCEEDED(pages->GetPages(&page_ids))) {
        IUnknown* object = filter;
        OleCreatePropertyFrame(main_window, 0, 0, info.achName, 1, &object, page_ids.cElems, page_ids.pElems, 0, 0,
                               nullptr);
        CoTaskMemFree(page_ids.pElems);
    }
    SafeRelease(info.pGraph);
}

static void ShowCompressorConfiguration(IBaseFilter* filter)
{
    IAMVfwCompressDialogs* dialogs = nullptr;
    if (filter->QueryInterface(IID_IAMVfwCompressDialogs, reinterpret_cast<void**>(&dialogs)) == S_OK && dialogs) {
        if (dialogs->ShowDialog(VfwCompressDialog_QueryConfig, nullptr) == S_OK)
            dialogs->ShowDialog(VfwCompressDialog_Config, main_window);
        dialogs->Release();
        return;
    }
    ISpecifyPropertyPages* pages = nullptr;
    if (filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages)) == S_OK && pages) {
        ShowPropertyFrame(filter, pages);
        pages->Release();
    }
}

static void BindCompressor(int index)
{
    CaptureGraph& g = capture_graph;
    if (g.compressor && g.graph)
        g.graph->RemoveFilter(g.compressor);
    SafeRelease(g.compressor);
    IMoniker* moniker = FindDeviceMoniker(CLSID_VideoCompressorCategory, index);
    if (!moniker)
        return;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g.compressor));
    moniker->Release();
    if (g.compressor)
        g.graph->AddFilter(g.compressor, L"ビデオコンプレッサ");
}

void SelectCompressor(UINT id)
{
    int chosen = static_cast<int>(id) - IDM_COMPRESSOR_FIRST;
    CaptureGraph& g = capture_graph;
    if (chosen != compressor_index && IsMenuChecked(id) == MENU_ENABLED) {
        for (int i = -1; i < compressor_count; ++i)
            CheckMenuItem(CommandMenu, IDM_COMPRESSOR_FIRST + i, MF_BYCOMMAND | MF_UNCHECKED);
        CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_CHECKED);
    }
    if (chosen == -1) {
        compressor_index = -1;
        return;
    }
    if (chosen != compressor_index || !g.graph_ready)
        BindCompressor(chosen);
    if (g.graph_ready && g.compressor)
        ShowCompressorConfiguration(g.compressor);
    compressor_index = chosen;
}
