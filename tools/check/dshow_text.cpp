#include "dshow_text.h"

#include <dvdmedia.h>
#include <mmreg.h>

#include <cstring>

#include "capture/capture_graph.h"
#include "capture/pins.h"
#include "console_text.h"
#include "tools/check/portable/report_text.h"

using fernwood_check::IntervalText;
using fernwood_check::ReportLine;

namespace {

struct NamedGuid {
    const GUID* guid;
    const char* name;
};

const NamedGuid kNames[] = {
    {&MEDIATYPE_Video, "Video"},
    {&MEDIATYPE_Audio, "Audio"},
    {&MEDIATYPE_Interleaved, "Interleaved"},
    {&MEDIATYPE_Stream, "Stream"},
    {&MEDIASUBTYPE_RGB24, "RGB24"},
    {&MEDIASUBTYPE_RGB32, "RGB32"},
    {&MEDIASUBTYPE_ARGB32, "ARGB32"},
    {&MEDIASUBTYPE_RGB565, "RGB565"},
    {&MEDIASUBTYPE_RGB555, "RGB555"},
    {&MEDIASUBTYPE_PCM, "PCM"},
    {&MEDIASUBTYPE_Avi, "Avi"},
    {&FORMAT_VideoInfo, "VideoInfo"},
    {&FORMAT_VideoInfo2, "VideoInfo2"},
    {&FORMAT_WaveFormatEx, "WaveFormatEx"},
    {&FORMAT_None, "None"},
    {&PIN_CATEGORY_CAPTURE, "PIN_CATEGORY_CAPTURE"},
    {&PIN_CATEGORY_PREVIEW, "PIN_CATEGORY_PREVIEW"},
    {&PIN_CATEGORY_ANALOGVIDEOIN, "PIN_CATEGORY_ANALOGVIDEOIN"},
    {&PIN_CATEGORY_VBI, "PIN_CATEGORY_VBI"},
    {&PIN_CATEGORY_STILL, "PIN_CATEGORY_STILL"},
};

// {XXXXXXXX-0000-0010-8000-00AA00389B71}: a subtype named by its FOURCC.
bool IsFourccGuid(REFGUID guid)
{
    static const unsigned char tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (guid.Data2 != 0 || guid.Data3 != 0x10 || memcmp(guid.Data4, tail, 8) != 0)
        return false;
    for (int i = 0; i < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(guid.Data1 >> (8 * i));
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

std::string VideoText(const BITMAPINFOHEADER& bitmap, REFERENCE_TIME interval)
{
    return " " + std::to_string(bitmap.biWidth) + "x" + std::to_string(bitmap.biHeight) + " " + std::to_string(bitmap.biBitCount) +
           " bit " + IntervalText(interval);
}

std::string FormatText(const AM_MEDIA_TYPE& type)
{
    if (!type.pbFormat)
        return "";
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        return VideoText(info->bmiHeader, info->AvgTimePerFrame);
    }
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto info = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        return VideoText(info->bmiHeader, info->AvgTimePerFrame) + " aspect " +
               std::to_string(info->dwPictAspectRatioX) + ":" + std::to_string(info->dwPictAspectRatioY);
    }
    if (type.formattype == FORMAT_WaveFormatEx && type.cbFormat >= sizeof(WAVEFORMATEX)) {
        auto wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
        return " " + std::to_string(wave->nSamplesPerSec) + " Hz " + std::to_string(wave->nChannels) + " ch " +
               std::to_string(wave->wBitsPerSample) + " bit";
    }
    return " (" + std::to_string(type.cbFormat) + " format bytes)";
}

}  // namespace

std::string GuidName(REFGUID guid)
{
    for (const NamedGuid& named : kNames)
        if (IsEqualGUID(*named.guid, guid))
            return named.name;
    if (IsFourccGuid(guid)) {
        std::string fourcc;
        for (int i = 0; i < 4; ++i)
            fourcc += static_cast<char>(guid.Data1 >> (8 * i));
        return fourcc;
    }
    wchar_t text[40];
    return StringFromGUID2(guid, text, 40) ? Utf8(text) : "?";
}

std::string MediaTypeText(const AM_MEDIA_TYPE& type)
{
    return GuidName(type.majortype) + " " + GuidName(type.subtype) + " " + GuidName(type.formattype) + FormatText(type);
}

std::string FilterName(IBaseFilter* filter)
{
    FILTER_INFO info{};
    if (!filter || filter->QueryFilterInfo(&info) != S_OK)
        return "?";
    SafeRelease(info.pGraph);
    return Utf8(info.achName);
}

std::string PinName(IPin* pin)
{
    PIN_INFO info{};
    if (!pin || pin->QueryPinInfo(&info) != S_OK)
        return "?";
    SafeRelease(info.pFilter);
    return Utf8(info.achName);
}

namespace {

std::string ConnectionText(IPin* output)
{
    IPin* peer = nullptr;
    if (output->ConnectedTo(&peer) != S_OK || !peer)
        return "";
    IBaseFilter* from = PinOwner(output);
    IBaseFilter* to = PinOwner(peer);
    AM_MEDIA_TYPE type{};
    std::string media = output->ConnectionMediaType(&type) == S_OK ? MediaTypeText(type) : "type unknown";
    FreeMediaTypeContents(type);
    std::string text = FilterName(from) + "." + PinName(output) + " -> " + FilterName(to) + "." + PinName(peer) +
                       ": " + media;
    SafeRelease(from);
    SafeRelease(to);
    peer->Release();
    return text;
}

}  // namespace

std::string GraphText(IGraphBuilder* graph, int depth)
{
    IEnumFilters* filters = nullptr;
    if (!graph || graph->EnumFilters(&filters) != S_OK || !filters)
        return ReportLine(depth, "graph", "none");
    std::string listed, connections;
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        CLSID clsid{};
        filter->GetClassID(&clsid);
        listed += ReportLine(depth + 1, FilterName(filter), GuidName(clsid));
        IPin* last = FindPin(filter, [&](IPin* pin) {
            std::string text = IsOutputPin(pin) ? ConnectionText(pin) : "";
            if (!text.empty())
                connections += std::string(static_cast<size_t>(depth + 1) * 2, ' ') + text + "\n";
            return false;
        });
        SafeRelease(last);
        filter->Release();
    }
    filters->Release();
    return std::string(static_cast<size_t>(depth) * 2, ' ') + "filters:\n" + listed +
           std::string(static_cast<size_t>(depth) * 2, ' ') + "connections:\n" + connections;
}
