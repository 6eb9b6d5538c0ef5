// What the testbed's tests share: COM set-up, filters and graphs by CLSID,
// pins, reference counts, interfaces, devices, polling with a bound and the
// state walk.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "testbed/common/com_ptr.h"
#include "testbed/standins/dshow_util.h"

namespace fernwood::test {

using testbed::ComPtr;

// Not in the SDK headers the build uses.
extern const CLSID kClsidSampleGrabber;
extern const CLSID kClsidNullRenderer;

// A single-threaded apartment, as the viewer has.
class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// A fixture whose every test runs in its own apartment.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.Result())); }

private:
    ComApartment com_;
};

template <typename T>
HRESULT Create(const CLSID& clsid, REFIID iid, ComPtr<T>* out) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out->PutVoid());
}
// A filter or a graph, expecting the creation to succeed.
ComPtr<IBaseFilter> CreateFilter(REFCLSID clsid);
ComPtr<IGraphBuilder> CreateGraph();
ComPtr<IBaseFilter> AddNewFilter(IGraphBuilder* graph, const CLSID& clsid, const wchar_t* name);

// The current count, by an AddRef and Release pair.
ULONG RefCount(IUnknown* object);

// Each present interface is answered with exactly one reference more; each
// absent one is refused with E_NOINTERFACE and a null pointer (gtest
// expectations, `what` naming the object).
void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> present,
                      std::initializer_list<const IID*> absent, const char* what);
// Whether the class's registered server is fernwood_standins.dll.
bool ServedByStandins(const CLSID& clsid);

// The index-th pin in enumeration order, of any or of one direction.
ComPtr<IPin> PinAt(IBaseFilter* filter, unsigned index);
ComPtr<IPin> PinAt(IBaseFilter* filter, PIN_DIRECTION dir, int index);
ComPtr<IPin> Named(IBaseFilter* filter, const wchar_t* id);
std::wstring IdOf(IPin* pin);
// The pins' ids in enumeration order.
std::vector<std::wstring> PinIds(IBaseFilter* filter);
std::vector<ComPtr<IBaseFilter>> FiltersIn(IFilterGraph* graph);
ComPtr<IBaseFilter> FilterWithClsid(IFilterGraph* graph, const CLSID& clsid);
// Disconnects the pin and its peer through the graph.
void DisconnectBoth(IGraphBuilder* graph, IPin* pin);

// Calls DllGetClassObject of a named platform DLL directly, bypassing the
// prefix's registration (which may name a stand-in instead).
HRESULT PlatformClassObject(const wchar_t* dll, const CLSID& clsid, ComPtr<IClassFactory>* factory);

// Polls every 10 ms until pred() holds or timeout_ms pass; for states that
// have no event.
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
// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);

// What the system device enumerator lists under a category.
struct DeviceEntry {
    std::wstring friendly_name;
    std::wstring clsid;         // "{...}" from the property bag, if any
    std::wstring fcc_handler;   // video compressors only
    std::wstring device_path;   // empty when the property bag has none
};
// Calls `visit` for each device of the category until it returns true.
void ForEachDevice(const CLSID& category, const std::function<bool(const DeviceEntry&, IMoniker*)>& visit);
std::vector<DeviceEntry> DevicesIn(const CLSID& category);
// Binds the first device of the category that `pick` chooses; null if none.
ComPtr<IBaseFilter> BindDevice(const CLSID& category, const std::function<bool(const DeviceEntry&)>& pick,
                               DeviceEntry* picked = nullptr);
std::wstring ReadBagString(IPropertyBag* bag, const wchar_t* name);

// Walks the filter through stopped, paused, running and back, as a graph
// does, checking each step; GetState answers `paused` while paused (a live
// source cannot cue: VFW_S_CANT_CUE).
void ExpectStateWalk(IBaseFilter* filter, HRESULT paused = S_OK);

}  // namespace fernwood::test
