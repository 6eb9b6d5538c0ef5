#include "standins_module.h"

#include "avi_mux.h"
#include "capture_graph_builder.h"
#include "colour_converter.h"
#include "file_writer.h"
#include "inf_tee.h"
#include "testbed/common/com_object.h"

#include <dshow.h>

#include <atomic>
#include <cwchar>
#include <new>

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
};

std::atomic<long> g_locks{0};
HINSTANCE g_module = nullptr;

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const StandinClass& cls) : cls_(cls) { ModuleLock(); }
    ~ClassFactory() { ModuleUnlock(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        return cls_.create(outer, iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? ModuleLock() : ModuleUnlock();
        return S_OK;
    }

private:
    const StandinClass& cls_;
    std::atomic<ULONG> refs_{1};
};

// "{...}" of a CLSID, for registry key names.
bool ClsidKey(const CLSID& clsid, wchar_t* key, size_t size) {
    wchar_t text[40];
    if (!StringFromGUID2(clsid, text, 40)) return false;
    int n = std::swprintf(key, size, L"CLSID\\%ls", text);
    return n > 0 && static_cast<size_t>(n) < size;
}

LSTATUS SetString(HKEY key, const wchar_t* name, const wchar_t* value) {
    DWORD bytes = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

HRESULT RegisterStandin(const StandinClass& cls, const wchar_t* module_path) {
    wchar_t key_name[64];
    if (!ClsidKey(*cls.clsid, key_name, 64)) return E_UNEXPECTED;
    HKEY key = nullptr, server = nullptr;
    LSTATUS s = RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (s == ERROR_SUCCESS) s = SetString(key, nullptr, cls.name);
    if (s == ERROR_SUCCESS)
        s = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
    if (s == ERROR_SUCCESS) s = SetString(server, nullptr, module_path);
    if (s == ERROR_SUCCESS) s = SetString(server, L"ThreadingModel", L"Both");
    if (server) RegCloseKey(server);
    if (key) RegCloseKey(key);
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
    return cls.register_extra ? cls.register_extra(true) : S_OK;
}

// Removes the class only while it still names this DLL, so that an
// unregistration never takes away someone else's server.
HRESULT UnregisterStandin(const StandinClass& cls, const wchar_t* module_path) {
    if (cls.register_extra) cls.register_extra(false);
    wchar_t key_name[64], server_name[96];
    if (!ClsidKey(*cls.clsid, key_name, 64)) return E_UNEXPECTED;
    int n = std::swprintf(server_name, 96, L"%ls\\InprocServer32", key_name);
    if (n <= 0 || n >= 96) return E_UNEXPECTED;
    wchar_t current[MAX_PATH] = {};
    DWORD bytes = sizeof current - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, server_name, nullptr, RRF_RT_REG_SZ, nullptr, current, &bytes) !=
            ERROR_SUCCESS ||
        _wcsicmp(current, module_path) != 0)
        return S_OK;
    LSTATUS s = RegDeleteTreeW(HKEY_CLASSES_ROOT, key_name);
    return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s);
}

bool ModulePath(wchar_t* path, DWORD size) {
    DWORD n = GetModuleFileNameW(g_module, path, size);
    return n > 0 && n < size;
}

}  // namespace

void ModuleLock() { ++g_locks; }
void ModuleUnlock() { --g_locks; }

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
    for (const auto& cls : kClasses) {
        if (!IsEqualCLSID(clsid, *cls.clsid)) continue;
        auto* factory = new (std::nothrow) fernwood::ClassFactory(cls);
        if (!factory) return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return fernwood::g_locks == 0 && !testbed::ModuleInUse() ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    if (!fernwood::ModulePath(path, MAX_PATH)) return E_UNEXPECTED;
    for (const auto& cls : kClasses) {
        HRESULT hr = fernwood::RegisterStandin(cls, path);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    wchar_t path[MAX_PATH];
    if (!fernwood::ModulePath(path, MAX_PATH)) return E_UNEXPECTED;
    HRESULT result = S_OK;
    for (const auto& cls : kClasses) {
        HRESULT hr = fernwood::UnregisterStandin(cls, path);
        if (FAILED(hr)) result = hr;
    }
    return result;
}
