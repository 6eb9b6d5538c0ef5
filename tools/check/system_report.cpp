#include "system_report.h"

#include <windows.h>

#include <d3d9.h>
#include <dshow.h>
#include <oleauto.h>

#include <vector>

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "capture/pins.h"
#include "console_text.h"
#include "dshow_text.h"
#include "tools/check/portable/report_text.h"

using fernwood_check::HresultText;
using fernwood_check::IntervalText;
using fernwood_check::Number;
using fernwood_check::ReportLine;

namespace {

template <class Function>
Function SystemFunction(const wchar_t* module, const char* name)
{
    HMODULE loaded = LoadLibraryW(module);
    return loaded ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name))) : nullptr;
}

std::string WindowsVersion()
{
    typedef LONG(WINAPI * RtlGetVersionFunction)(OSVERSIONINFOW*);
    // GetVersionEx answers what the manifest declares, not what runs.
    auto get_version = SystemFunction<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!get_version || get_version(&version) != 0)
        return "unknown";
    std::string text = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
                       " build " + std::to_string(version.dwBuildNumber);
    std::string service_pack = Utf8(version.szCSDVersion);
    return service_pack.empty() ? text : text + " " + service_pack;
}

std::string DpiAwareness()
{
    typedef void*(WINAPI * ThreadContextFunction)();
    typedef int(WINAPI * AwarenessFunction)(void*);
    auto context = SystemFunction<ThreadContextFunction>(L"user32.dll", "GetThreadDpiAwarenessContext");
    auto awareness = SystemFunction<AwarenessFunction>(L"user32.dll", "GetAwarenessFromDpiAwarenessContext");
    if (context && awareness) {
        static const char* const names[] = {"unaware", "system aware", "per-monitor aware"};
        int value = awareness(context());
        return value >= 0 && value <= 2 ? names[value] : "invalid";
    }
    return IsProcessDPIAware() ? "system aware (no per-monitor query)" : "unaware (no per-monitor query)";
}

BOOL CALLBACK DescribeMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    typedef HRESULT(WINAPI * MonitorDpiFunction)(HMONITOR, int, UINT*, UINT*);
    auto dpi_for = SystemFunction<MonitorDpiFunction>(L"shcore.dll", "GetDpiForMonitor");
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    std::string& text = *reinterpret_cast<std::string*>(data);
    if (!GetMonitorInfoW(monitor, &info))
        return TRUE;
    const RECT& r = info.rcMonitor;
    std::string value = "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) +
                        "," + std::to_string(r.bottom) + ")";
    UINT dpi_x = 0, dpi_y = 0;
    if (dpi_for && dpi_for(monitor, 0, &dpi_x, &dpi_y) == S_OK)
        value += " scaling " + std::to_string(dpi_x * 100 / 96) + "% (" + std::to_string(dpi_x) + " dpi)";
    else
        value += " scaling unknown";
    if (info.dwFlags & MONITORINFOF_PRIMARY)
        value += " primary";
    text += ReportLine(1, "monitor " + Utf8(info.szDevice), value);
    return TRUE;
}

std::string Direct3D9()
{
    typedef IDirect3D9*(WINAPI * CreateFunction)(UINT);
    auto create = SystemFunction<CreateFunction>(L"d3d9.dll", "Direct3DCreate9");
    IDirect3D9* d3d = create ? create(D3D_SDK_VERSION) : nullptr;
    if (!d3d)
        return create ? "d3d9.dll present, Direct3DCreate9 failed" : "absent";
    D3DADAPTER_IDENTIFIER9 adapter{};
    std::string text = "present";
    if (d3d->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &adapter) == D3D_OK)
        text += ", adapter " + std::string(adapter.Description);
    d3d->Release();
    return text;
}

}  // namespace

std::string DescribePc()
{
    std::string text;
    text += ReportLine(1, "Windows", WindowsVersion());
    text += ReportLine(1, "DPI awareness", DpiAwareness());
    EnumDisplayMonitors(nullptr, nullptr, DescribeMonitor, reinterpret_cast<LPARAM>(&text));
    text += ReportLine(1, "DirectX 9", Direct3D9());
    CPINFOEXW code_page{};
    text += ReportLine(1, "ANSI code page",
                       std::to_string(GetACP()) +
                           (GetCPInfoExW(CP_ACP, 0, &code_page) ? " " + Utf8(code_page.CodePageName) : ""));
    return text;
}

namespace {

std::string BagText(IPropertyBag* bag, const wchar_t* property)
{
    VARIANT value;
    VariantInit(&value);
    std::string text = SUCCEEDED(bag->Read(property, &value, nullptr)) && value.vt == VT_BSTR ? Utf8(value.bstrVal)
                                                                                             : "(none)";
    VariantClear(&value);
    return text;
}

std::string PinCategory(IPin* pin)
{
    IKsPropertySet* properties = nullptr;
    if (pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties)) != S_OK || !properties)
        return "no IKsPropertySet";
    GUID category{};
    DWORD returned = 0;
    HRESULT hr = properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category,
                                 &returned);
    properties->Release();
    return SUCCEEDED(hr) && returned == sizeof category ? GuidName(category) : "unknown " + HresultText(hr);
}

std::string MediaTypesText(IPin* pin)
{
    IEnumMediaTypes* types = nullptr;
    HRESULT hr = pin->EnumMediaTypes(&types);
    if (hr != S_OK || !types)
        return ReportLine(3, "media types", "EnumMediaTypes " + HresultText(hr));
    std::string text;
    AM_MEDIA_TYPE* type = nullptr;
    for (int i = 0; i < 256 && types->Next(1, &type, nullptr) == S_OK; ++i) {
        text += ReportLine(3, "type " + std::to_string(i), type ? MediaTypeText(*type) : "null");
        FreeMediaType(type);
    }
    types->Release();
    return text.empty() ? ReportLine(3, "media types", "none") : text;
}

std::string RangeText(const SIZE& min, const SIZE& max, LONG step_x, LONG step_y)
{
    return std::to_string(min.cx) + "x" + std::to_string(min.cy) + "-" + std::to_string(max.cx) + "x" +
           std::to_string(max.cy) + " step " + std::to_string(step_x) + "x" + std::to_string(step_y);
}

std::string CapabilitiesText(IPin* pin)
{
    IAMStreamConfig* config = nullptr;
    if (pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)) != S_OK || !config)
        return "";
    int count = 0, size = 0;
    HRESULT hr = config->GetNumberOfCapabilities(&count, &size);
    std::string text = ReportLine(3, "capabilities", std::to_string(count) + " of " + std::to_string(size) +
                                                         " bytes, " + HresultText(hr));
    std::vector<BYTE> caps(size > 0 && size <= 4096 ? static_cast<size_t>(size) : 0);
    for (int i = 0; SUCCEEDED(hr) && !caps.empty() && i < count && i < 1024; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        HRESULT got = config->GetStreamCaps(i, &type, caps.data());
        std::string entry = FAILED(got) || !type ? "GetStreamCaps " + HresultText(got) : MediaTypeText(*type);
        if (SUCCEEDED(got) && type && type->majortype == MEDIATYPE_Video &&
            size >= static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))) {
            auto v = reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(caps.data());
            entry += "; sizes " + RangeText(v->MinOutputSize, v->MaxOutputSize, v->OutputGranularityX,
                                             v->OutputGranularityY) +
                     "; intervals " + IntervalText(v->MinFrameInterval) + " to " + IntervalText(v->MaxFrameInterval);
        } else if (SUCCEEDED(got) && type && type->majortype == MEDIATYPE_Audio &&
                   size >= static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS))) {
            auto a = reinterpret_cast<const AUDIO_STREAM_CONFIG_CAPS*>(caps.data());
            entry += "; " + std::to_string(a->MinimumChannels) + "-" + std::to_string(a->MaximumChannels) + " ch, " +
                     std::to_string(a->MinimumBitsPerSample) + "-" + std::to_string(a->MaximumBitsPerSample) +
                     " bit, " + std::to_string(a->MinimumSampleFrequency) + "-" +
                     std::to_string(a->MaximumSampleFrequency) + " Hz";
        }
        FreeMediaType(type);
        text += ReportLine(4, "entry " + std::to_string(i), entry);
    }
    config->Release();
    return text;
}

struct Interface {
    const IID* iid;
    const char* name;
};
const Interface kInterfaces[] = {
    {&IID_IAMStreamConfig, "IAMStreamConfig"},   {&IID_IAMDroppedFrames, "IAMDroppedFrames"},
    {&IID_IAMBufferNegotiation, "IAMBufferNegotiation"}, {&IID_IAMVideoProcAmp, "IAMVideoProcAmp"},
    {&IID_IAMVideoControl, "IAMVideoControl"},   {&IID_IKsPropertySet, "IKsPropertySet"},
    {&IID_IAMFilterMiscFlags, "IAMFilterMiscFlags"},
};

bool Offers(IUnknown* object, REFIID iid)
{
    IUnknown* found = nullptr;
    bool offered = object->QueryInterface(iid, reinterpret_cast<void**>(&found)) == S_OK && found;
    SafeRelease(found);
    return offered;
}

// Where each interface is offered: on the filter, on which pins, or not at all.
std::string InterfacesText(IBaseFilter* filter, ICaptureGraphBuilder2* builder)
{
    std::string text = ReportLine(2, "interfaces", "");
    for (const Interface& wanted : kInterfaces) {
        std::string where = Offers(filter, *wanted.iid) ? "filter" : "";
        IPin* last = FindPin(filter, [&](IPin* pin) {
            if (Offers(pin, *wanted.iid))
                where += (where.empty() ? "pin " : ", pin ") + PinName(pin);
            return false;
        });
        SafeRelease(last);
        text += ReportLine(3, wanted.name, where.empty() ? "absent" : where);
    }
    IAMCrossbar* crossbar = nullptr;
    HRESULT hr = builder ? builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, filter, IID_IAMCrossbar,
                                                  reinterpret_cast<void**>(&crossbar))
                         : E_POINTER;
    text += ReportLine(3, "crossbar upstream", crossbar ? "present" : "absent (" + HresultText(hr) + ")");
    SafeRelease(crossbar);
    return text;
}

std::string PinsText(IBaseFilter* filter)
{
    std::string text;
    int index = 0;
    IPin* last = FindPin(filter, [&](IPin* pin) {
        text += ReportLine(2, "pin " + std::to_string(index++) + " " + PinName(pin),
                           std::string(IsOutputPin(pin) ? "output" : "input") + ", " + PinCategory(pin));
        text += MediaTypesText(pin);
        text += CapabilitiesText(pin);
        return false;
    });
    SafeRelease(last);
    return text;
}

// What the viewer's own choice takes on the pin it would record from.
std::string ChoiceText(const std::string& device, IBaseFilter* filter, ICaptureGraphBuilder2* builder)
{
    std::string text = ReportLine(1, "device " + device, "");
    IAMStreamConfig* config = nullptr;
    HRESULT hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter, IID_IAMStreamConfig,
                                        reinterpret_cast<void**>(&config));
    if (hr != S_OK || !config) {
        SafeRelease(config);
        return text + ReportLine(2, "capture pin", "no IAMStreamConfig (" + HresultText(hr) +
                                                       "): the viewer cannot choose a format; the device keeps its own");
    }
    for (int height : {720, 1080}) {
        VideoFormat wanted = VideoFormatForHeight(height);
        std::string label = std::to_string(wanted.width) + "x" + std::to_string(wanted.height) + " " +
                            IntervalText(wanted.avg_time_per_frame);
        FormatChoice choice = ChooseDeviceFormat(config, height);
        if (choice.index < 0) {
            text += ReportLine(2, label, "cannot: no UYVY or YUY2 entry with VIDEOINFOHEADER(2) offers the size "
                                         "within 0.5% of the rate; the device keeps its own format");
            continue;
        }
        std::vector<BYTE> caps(4096);
        AM_MEDIA_TYPE* type = nullptr;
        std::string entry = SUCCEEDED(config->GetStreamCaps(choice.index, &type, caps.data())) && type
                                ? MediaTypeText(*type)
                                : "?";
        FreeMediaType(type);
        text += ReportLine(2, label, "entry " + std::to_string(choice.index) + " (" + entry + "), interval " +
                                         IntervalText(choice.interval) +
                                         "; rule: UYVY before YUY2, then the interval nearest the wanted one, "
                                         "then the first listed");
    }
    config->Release();
    return text;
}

struct DeviceJob {
    const CLSID* category = nullptr;
    int index = 0;
    bool video = false;
    std::string name;
    std::string devices;
    std::string choices;
};

void InspectFilter(DeviceJob* job, IBaseFilter* filter)
{
    IGraphBuilder* graph = nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     reinterpret_cast<void**>(&builder));
    // The builder finds pins and the crossbar only for a filter in its graph.
    if (graph && builder && graph->AddFilter(filter, L"device") == S_OK)
        builder->SetFiltergraph(graph);
    else
        SafeRelease(builder);
    job->devices += InterfacesText(filter, builder);
    job->devices += PinsText(filter);
    if (job->video)
        job->choices += builder ? ChoiceText(job->name, filter, builder)
                                : ReportLine(1, "device " + job->name, "no graph to look at it in");
    if (graph)
        graph->RemoveFilter(filter);
    SafeRelease(builder);
    SafeRelease(graph);
}

IEnumMoniker* OpenCategory(REFCLSID category)
{
    ICreateDevEnum* devices = nullptr;
    IEnumMoniker* monikers = nullptr;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices)) == S_OK &&
        devices->CreateClassEnumerator(category, &monikers, 0) != S_OK)
        SafeRelease(monikers);
    SafeRelease(devices);
    return monikers;
}

// The device's moniker from an enumeration of the thread's own apartment.
void InspectListedDevice(DeviceJob* job)
{
    IEnumMoniker* monikers = OpenCategory(*job->category);
    IMoniker* moniker = nullptr;
    for (int i = 0; monikers && i <= job->index; ++i) {
        SafeRelease(moniker);
        if (monikers->Next(1, &moniker, nullptr) != S_OK)
            moniker = nullptr;
    }
    SafeRelease(monikers);
    if (!moniker) {
        job->devices += ReportLine(2, "open", "no longer listed");
        return;
    }
    IPropertyBag* bag = nullptr;
    if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) == S_OK &&
        bag) {
        job->devices += ReportLine(2, "device path", BagText(bag, L"DevicePath"));
        job->devices += ReportLine(2, "CLSID", BagText(bag, L"CLSID"));
        bag->Release();
    }
    IBaseFilter* filter = nullptr;
    HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    if (FAILED(hr) || !filter) {
        job->devices += ReportLine(2, "open", "failed " + HresultText(hr));
        if (job->video)
            job->choices += ReportLine(1, "device " + job->name, "cannot: the device does not open (" +
                                                                     HresultText(hr) + ")");
    } else {
        job->devices += ReportLine(2, "open", "S_OK");
        InspectFilter(job, filter);
        filter->Release();
    }
    moniker->Release();
}

DWORD WINAPI InspectDevice(void* data)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    InspectListedDevice(static_cast<DeviceJob*>(data));
    CoUninitialize();
    return 0;
}

const DWORD kDeviceBoundMs = 20000;

// A filter that lives in a single-threaded apartment is made on this thread,
// which must keep taking messages for the inspecting thread to reach it.
bool WaitPumping(HANDLE thread, DWORD bound_ms)
{
    DWORD started = GetTickCount();
    for (;;) {
        DWORD waited = GetTickCount() - started;
        if (waited >= bound_ms)
            return false;
        DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, bound_ms - waited, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

void DescribeCategory(REFCLSID category, bool video, DeviceSections* sections)
{
    IEnumMoniker* monikers = OpenCategory(category);
    int& count = video ? sections->video_count : sections->audio_count;
    IMoniker* moniker = nullptr;
    while (monikers && monikers->Next(1, &moniker, nullptr) == S_OK) {
        // Left to the thread when it does not come back in time.
        auto job = new DeviceJob;
        job->category = &category;
        job->index = count;
        job->video = video;
        job->name = std::to_string(count);
        IPropertyBag* bag = nullptr;
        if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) == S_OK && bag) {
            job->name += " " + BagText(bag, L"FriendlyName");
            bag->Release();
        }
        moniker->Release();
        sections->devices += ReportLine(1, std::string(video ? "video device " : "audio device ") + job->name, "");
        HANDLE thread = CreateThread(nullptr, 0, InspectDevice, job, 0, nullptr);
        if (thread && WaitPumping(thread, kDeviceBoundMs)) {
            sections->devices += job->devices;
            sections->choices += job->choices;
            delete job;
        } else {
            sections->devices += ReportLine(2, "open", "no answer within " + std::to_string(kDeviceBoundMs / 1000) +
                                                           " s; left behind");
            if (video)
                sections->choices += ReportLine(1, "device " + job->name, "cannot: the device did not answer");
        }
        if (thread)
            CloseHandle(thread);
        ++count;
    }
    SafeRelease(monikers);
    if (count == 0)
        sections->devices += ReportLine(1, video ? "video devices" : "audio devices", "none");
}

}  // namespace

DeviceSections DescribeDevices()
{
    DeviceSections sections;
    DescribeCategory(CLSID_VideoInputDeviceCategory, true, &sections);
    DescribeCategory(CLSID_AudioInputDeviceCategory, false, &sections);
    if (sections.video_count == 0)
        sections.choices += ReportLine(1, "video devices", "none: there is nothing to choose a format on");
    return sections;
}

namespace {

std::wstring Wide(const std::string& utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    return wide.data();
}

const DWORD kTestChunkBytes = 4u << 20;
const int kTestChunks = 32;

// Writes 128 MB through to the disk in the folder and times it; the file
// deletes itself on close. 0 when it could not be written.
double MeasureWriteRate(const std::wstring& folder, std::string* failure)
{
    std::wstring path = folder + L"\\fernwood-check-write-test.tmp";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *failure = "cannot create a test file (error " + std::to_string(GetLastError()) + ")";
        return 0;
    }
    std::vector<char> chunk(kTestChunkBytes, 0x5A);
    LARGE_INTEGER frequency, started, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    DWORD written = 0;
    double total = 0;
    for (int i = 0; i < kTestChunks; ++i) {
        if (!WriteFile(file, chunk.data(), kTestChunkBytes, &written, nullptr) || written != kTestChunkBytes) {
            *failure = "writing stopped after " + Number(total / 1e6) + " MB (error " +
                       std::to_string(GetLastError()) + ")";
            break;
        }
        total += written;
    }
    FlushFileBuffers(file);
    QueryPerformanceCounter(&ended);
    CloseHandle(file);
    double seconds = static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
    return failure->empty() && seconds > 0 ? total / seconds : 0;
}

}  // namespace

std::string DescribeFolder(const std::string& role, const std::string& folder, double needed_bytes_per_second)
{
    std::string text = ReportLine(1, role, folder);
    std::wstring wide = Wide(folder);
    wchar_t volume[MAX_PATH] = L"";
    if (!GetVolumePathNameW(wide.c_str(), volume, MAX_PATH))
        return text + ReportLine(2, "volume", "unknown (error " + std::to_string(GetLastError()) + ")");
    wchar_t label[MAX_PATH + 1] = L"", file_system[MAX_PATH + 1] = L"";
    DWORD serial = 0, longest = 0, flags = 0;
    bool known = GetVolumeInformationW(volume, label, MAX_PATH + 1, &serial, &longest, &flags, file_system,
                                       MAX_PATH + 1) != FALSE;
    text += ReportLine(2, "volume", Utf8(volume) + (known ? " \"" + Utf8(label) + "\"" : ""));
    text += ReportLine(2, "file system", known ? Utf8(file_system) : "unknown");
    ULARGE_INTEGER free_bytes{}, total_bytes{};
    if (GetDiskFreeSpaceExW(wide.c_str(), &free_bytes, &total_bytes, nullptr))
        text += ReportLine(2, "free space", Number(static_cast<double>(free_bytes.QuadPart) / 1e9, 2) + " GB of " +
                                               Number(static_cast<double>(total_bytes.QuadPart) / 1e9, 2) + " GB");
    if (needed_bytes_per_second <= 0)
        return text;
    std::string failure;
    double rate = MeasureWriteRate(wide, &failure);
    text += ReportLine(2, "write rate", failure.empty()
                                            ? fernwood_check::WriteRateText(rate, needed_bytes_per_second) +
                                                  " (128 MB written through)"
                                            : failure);
    return text;
}
