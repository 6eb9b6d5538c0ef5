// Shared helpers of the stand-in tests: COM set-up, filters by CLSID, pins,
// polling with a bound.
#pragma once

#include "dshow_util.h"

#include <dshow.h>

#include <functional>
#include <initializer_list>
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

// Each present interface is answered with exactly one reference more; each
// absent one is refused with E_NOINTERFACE and a null pointer (gtest
// expectations, `what` naming the object).
void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> present,
                      std::initializer_list<const IID*> absent, const char* what);
// Whether the class's registered server is fernwood_standins.dll.
bool ServedByStandins(const CLSID& clsid);

ComPtr<IPin> Named(IBaseFilter* filter, const wchar_t* id);
std::wstring IdOf(IPin* pin);
// The pins' ids in enumeration order.
std::vector<std::wstring> PinIds(IBaseFilter* filter);
// Disconnects the pin and its peer through the graph.
void DisconnectBoth(IGraphBuilder* graph, IPin* pin);

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
