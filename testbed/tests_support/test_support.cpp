#include "testbed/tests_support/test_support.h"

#include <cstdio>
#include <cwchar>

namespace fernwood::test {

const CLSID kClsidSampleGrabber = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID kClsidNullRenderer = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

ComPtr<IBaseFilter> AddNewFilter(IGraphBuilder* graph, const CLSID& clsid, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(Create(clsid, IID_IBaseFilter, &filter)) || FAILED(graph->AddFilter(filter.Get(), name)))
        return nullptr;
    return filter;
}

ComPtr<IBaseFilter> CreateFilter(REFCLSID clsid) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(Create(clsid, IID_IBaseFilter, &filter), S_OK);
    return filter;
}

ComPtr<IGraphBuilder> CreateGraph() {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    return graph;
}

ComPtr<IPin> PinAt(IBaseFilter* filter, unsigned index) {
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    if (FAILED(filter->EnumPins(pins.Put())) || pins->Skip(index) != S_OK || pins->Next(1, pin.Put(), nullptr) != S_OK)
        return nullptr;
    return pin;
}

ComPtr<IPin> PinAt(IBaseFilter* filter, PIN_DIRECTION dir, int index) {
    ComPtr<IPin> pin;
    FindMatchingPin(filter, dir, nullptr, nullptr, false, index, &pin);
    return pin;
}

std::vector<ComPtr<IBaseFilter>> FiltersIn(IFilterGraph* graph) {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> e;
    if (FAILED(graph->EnumFilters(e.Put()))) return filters;
    IBaseFilter* f = nullptr;
    while (e->Next(1, &f, nullptr) == S_OK) filters.push_back(ComPtr<IBaseFilter>::Adopt(f));
    return filters;
}

ComPtr<IBaseFilter> FilterWithClsid(IFilterGraph* graph, const CLSID& clsid) {
    for (auto& f : FiltersIn(graph))
        if (HasClassId(f.Get(), clsid)) return f;
    return nullptr;
}

void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> present,
                      std::initializer_list<const IID*> absent, const char* what) {
    const ULONG base = RefCount(object);
    for (const IID* iid : present) {
        ComPtr<IUnknown> got;
        EXPECT_EQ(object->QueryInterface(*iid, got.PutVoid()), S_OK) << what;
        if (got) {
            EXPECT_EQ(RefCount(object), base + 1) << what;
        }
    }
    for (const IID* iid : absent) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE) << what;
        EXPECT_EQ(out, nullptr) << what;
    }
    EXPECT_EQ(RefCount(object), base) << what;
}

bool ServedByStandins(const CLSID& clsid) {
    wchar_t text[40];
    if (!StringFromGUID2(clsid, text, 40)) return false;
    const std::wstring key = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
    wchar_t server[MAX_PATH] = {};
    DWORD bytes = sizeof server - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, server, &bytes) != ERROR_SUCCESS)
        return false;
    const std::wstring dll = L"fernwood_standins.dll", path = server;
    return path.size() >= dll.size() && _wcsicmp(path.c_str() + path.size() - dll.size(), dll.c_str()) == 0;
}

ComPtr<IPin> Named(IBaseFilter* filter, const wchar_t* id) {
    ComPtr<IPin> pin;
    filter->FindPin(id, pin.Put());
    return pin;
}

std::wstring IdOf(IPin* pin) {
    LPWSTR id = nullptr;
    if (FAILED(pin->QueryId(&id))) return L"";
    std::wstring text = id;
    CoTaskMemFree(id);
    return text;
}

std::vector<std::wstring> PinIds(IBaseFilter* filter) {
    std::vector<std::wstring> ids;
    for (auto& pin : PinsOf(filter)) ids.push_back(IdOf(pin.Get()));
    return ids;
}

void DisconnectBoth(IGraphBuilder* graph, IPin* pin) {
    ComPtr<IPin> peer = PeerOf(pin);
    graph->Disconnect(pin);
    if (peer) graph->Disconnect(peer.Get());
}

ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

HRESULT PlatformClassObject(const wchar_t* dll, const CLSID& clsid, ComPtr<IClassFactory>* factory) {
    HMODULE module = LoadLibraryW(dll);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return HRESULT_FROM_WIN32(GetLastError());
    // The module stays loaded for the process: objects from it may outlive this call.
    return get(clsid, IID_IClassFactory, factory->PutVoid());
}

HWND CreateTestWindow() {
    return CreateWindowExW(0, L"STATIC", L"standins test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

std::wstring ReadBagString(IPropertyBag* bag, const wchar_t* name) {
    VARIANT v;
    VariantInit(&v);
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) text = v.bstrVal;
    VariantClear(&v);
    return text;
}

void ForEachDevice(const CLSID& category, const std::function<bool(const DeviceEntry&, IMoniker*)>& visit) {
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    const HRESULT hr = Create(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, &devices);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr) || devices->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK) return;
    IMoniker* m = nullptr;
    while (monikers->Next(1, &m, nullptr) == S_OK) {
        ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Adopt(m);
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) continue;
        DeviceEntry entry{ReadBagString(bag.Get(), L"FriendlyName"), ReadBagString(bag.Get(), L"CLSID"),
                          ReadBagString(bag.Get(), L"FccHandler"),
                          ReadBagString(bag.Get(), L"DevicePath")};
        if (visit(entry, moniker.Get())) return;
    }
}

std::vector<DeviceEntry> DevicesIn(const CLSID& category) {
    std::vector<DeviceEntry> entries;
    ForEachDevice(category, [&entries](const DeviceEntry& entry, IMoniker*) {
        entries.push_back(entry);
        return false;
    });
    return entries;
}

ComPtr<IBaseFilter> BindDevice(const CLSID& category, const std::function<bool(const DeviceEntry&)>& pick,
                               DeviceEntry* picked) {
    ComPtr<IBaseFilter> filter;
    ForEachDevice(category, [&](const DeviceEntry& entry, IMoniker* moniker) {
        if (!pick(entry)) return false;
        if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid())) && picked)
            *picked = entry;
        return true;
    });
    return filter;
}

void ExpectStateWalk(IBaseFilter* filter, HRESULT paused) {
    const struct {
        HRESULT (*step)(IBaseFilter*);
        FILTER_STATE expect;
    } walk[] = {{[](IBaseFilter* f) { return f->Pause(); }, State_Paused},
                {[](IBaseFilter* f) { return f->Run(0); }, State_Running},
                {[](IBaseFilter* f) { return f->Pause(); }, State_Paused},
                {[](IBaseFilter* f) { return f->Stop(); }, State_Stopped},
                // Straight from stopped to running and back, and a second stop.
                {[](IBaseFilter* f) { return f->Run(0); }, State_Running},
                {[](IBaseFilter* f) { return f->Stop(); }, State_Stopped},
                {[](IBaseFilter* f) { return f->Stop(); }, State_Stopped}};
    FILTER_STATE state = State_Running;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    for (const auto& s : walk) {
        EXPECT_EQ(s.step(filter), S_OK);
        EXPECT_EQ(filter->GetState(0, &state), s.expect == State_Paused ? paused : S_OK);
        EXPECT_EQ(state, s.expect);
    }
}

}  // namespace fernwood::test
