// Shared helpers of the stand-in tests: COM set-up, filters by CLSID, pins,
// polling with a bound.
#pragma once

#include "dshow_util.h"

#include <dshow.h>

#include <functional>
#include <string>
#include <vector>

namespace fernwood::test {

// Not in the SDK headers the build uses.
extern const CLSID kClsidSampleGrabber;
extern const CLSID kClsidNullRenderer;

class ComApartment {
public:
    ComApartment() : hr_(CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

template <typename T>
HRESULT Create(const CLSID& clsid, REFIID iid, ComPtr<T>* out) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out->PutVoid());
}

ComPtr<IBaseFilter> AddNewFilter(IGraphBuilder* graph, const CLSID& clsid, const wchar_t* name);
ComPtr<IPin> PinAt(IBaseFilter* filter, PIN_DIRECTION dir, int index);
std::vector<ComPtr<IBaseFilter>> FiltersIn(IFilterGraph* graph);
ComPtr<IBaseFilter> FilterWithClsid(IFilterGraph* graph, const CLSID& clsid);

// The current count, by an AddRef and Release pair.
ULONG RefCount(IUnknown* object);

// Calls DllGetClassObject of a named platform DLL directly, bypassing the
// prefix's registration (which may name a stand-in instead).
HRESULT PlatformClassObject(const wchar_t* dll, const CLSID& clsid, ComPtr<IClassFactory>* factory);

// Polls every 10 ms until pred() holds or timeout_ms pass.
template <typename Pred>
bool WaitFor(Pred pred, DWORD timeout_ms = 15000) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    for (;;) {
        if (pred()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(10);
    }
}

HWND CreateTestWindow();

// What the system device enumerator lists under a category.
struct DeviceEntry {
    std::wstring friendly_name;
    std::wstring clsid;         // "{...}" from the property bag, if any
    std::wstring fcc_handler;   // video compressors only
};
std::vector<DeviceEntry> DevicesIn(const CLSID& category);
// Binds the first device of the category that `pick` chooses; null if none.
ComPtr<IBaseFilter> BindDevice(const CLSID& category, const std::function<bool(const DeviceEntry&)>& pick,
                               DeviceEntry* picked = nullptr);
std::wstring ReadBagString(IPropertyBag* bag, const wchar_t* name);

// Walks a filter through its states, checking each one (gtest expectations).
void ExpectStateWalk(IBaseFilter* filter);

}  // namespace fernwood::test
