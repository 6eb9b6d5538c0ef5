#include "standins_module.h"

#include "audio_renderer.h"
#include "avi_mux.h"
#include "capture_graph_builder.h"
#include "colour_converter.h"
#include "file_writer.h"
#include "inf_tee.h"
#include "testbed/common/com_object.h"

#include <dshow.h>

#include <cwchar>
#include <string>

namespace fernwood {
namespace {

const StandinClass kClasses[] = {
    {&CLSID_CaptureGraphBuilder2, L"Capture Graph Builder 2 (Fernwood testbed stand-in)", CreateCaptureGraphBuilder,
     nullptr},
    {&CLSID_FileWriter, L"File writer (Fernwood testbed stand-in)", CreateFileWriter, nullptr},
    {&CLSID_InfTee, L"Infinite Pin Tee Filter (Fernwood testbed stand-in)", CreateInfTee, RegisterInfTeeFilter},
    {&CLSID_Colour, L"Color Space Converter (Fernwood testbed stand-in)", CreateColourConverter,
     RegisterColourConverterFilter},
    {&CLSID_AviDest, L"AVI Mux (Fernwood testbed stand-in)", CreateAviMux, nullptr},
    {&CLSID_DSoundRender, L"DirectSound Renderer (Fernwood testbed stand-in)", CreateAudioRenderer,
     RegisterAudioRendererFilter},
};

HINSTANCE g_module = nullptr;

HRESULT RegisterStandin(const StandinClass& cls) {
    HRESULT hr = testbed::RegisterInprocServer(g_module, *cls.clsid, cls.name);
    if (FAILED(hr)) return hr;
    return cls.register_extra ? cls.register_extra(true) : S_OK;
}

// Removes the class only while it still names this DLL, so that an
// unregistration never takes away someone else's server.
HRESULT UnregisterStandin(const StandinClass& cls, const wchar_t* module_path) {
    if (cls.register_extra) cls.register_extra(false);
    wchar_t clsid[40];
    if (!StringFromGUID2(*cls.clsid, clsid, 40)) return E_UNEXPECTED;
    const std::wstring server = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
    wchar_t current[MAX_PATH] = {};
    DWORD bytes = sizeof current - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, current, &bytes) !=
            ERROR_SUCCESS ||
        _wcsicmp(current, module_path) != 0)
        return S_OK;
    HRESULT hr = testbed::UnregisterInprocServer(*cls.clsid);
    return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace

HRESULT RegisterLegacyFilter(bool install, REFCLSID clsid, const wchar_t* name, DWORD merit,
                             const REGFILTERPINS2 (&pins)[2]) {
    if (!install) return testbed::UnregisterDeviceFilter(CLSID_LegacyAmFilterCategory, clsid, nullptr);
    REGFILTER2 data = {};
    data.dwVersion = 2;
    data.dwMerit = merit;
    data.cPins2 = 2;
    data.rgPins2 = pins;
    return testbed::RegisterDeviceFilter(CLSID_LegacyAmFilterCategory, clsid, nullptr, name, data, nullptr);
}

}  // namespace fernwood

using fernwood::kClasses;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        fernwood::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const auto& cls : kClasses)
        if (IsEqualCLSID(clsid, *cls.clsid)) return testbed::CreateClassFactory(cls.create, iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return testbed::ModuleInUse() ? S_FALSE : S_OK; }

extern "C" HRESULT WINAPI DllRegisterServer() {
    for (const auto& cls : kClasses) {
        HRESULT hr = fernwood::RegisterStandin(cls);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(fernwood::g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return E_UNEXPECTED;
    HRESULT result = S_OK;
    for (const auto& cls : kClasses) {
        HRESULT hr = fernwood::UnregisterStandin(cls, path);
        if (FAILED(hr)) result = hr;
    }
    return result;
}
