// The Colour Space Converter stand-in: uncompressed RGB (32, 24, 565, 555
// bits) in, the same picture in any of those layouts out, either row order.
// The output offers RGB32, RGB24, RGB565 and RGB555 bottom-up in that order;
// configured (HKCU\Software\FernwoodTestbed\ColourConverter, OutputRows =
// TopDown, OutputFormat = VideoInfo2) it offers them first top-down, a
// negative biHeight as "Top-Down vs. Bottom-Up DIBs" describes uncompressed
// RGB, or described by VIDEOINFOHEADER2, and takes such types in any case.
//
// A renderer may ask for a wider stride or another row order (QueryAccept on
// the output, then a media type attached to the next buffer it hands out);
// any output type that holds the same picture is taken, and the picture is
// written where that type's rcTarget (or the top-left corner) puts it.
#include "colour_converter.h"
#include "standins_module.h"

#include <dshow.h>
#include <windows.h>
// After the headers that bring in the types it uses.
#include <dvdmedia.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cstring>
#include <mutex>
#include <new>

#include "pass_through.h"
#include "rgb_convert.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"
#include "testbed/common/server.h"

namespace fernwood {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

constexpr LONG kMaxSide = 16384;
constexpr DWORD kMask565[3] = {0xF800, 0x07E0, 0x001F};
constexpr DWORD kMask555[3] = {0x7C00, 0x03E0, 0x001F};
constexpr DWORD kMask32[3] = {0xFF0000, 0x00FF00, 0x0000FF};

struct LayoutInfo {
    const GUID* subtype;
    RgbLayout layout;
};
// The order in which the output offers its types.
const LayoutInfo kLayouts[] = {{&MEDIASUBTYPE_RGB32, RgbLayout::kRgb32},
                               {&MEDIASUBTYPE_RGB24, RgbLayout::kRgb24},
                               {&MEDIASUBTYPE_RGB565, RgbLayout::kRgb565},
                               {&MEDIASUBTYPE_RGB555, RgbLayout::kRgb555}};

// An RGB VIDEOINFOHEADER type, checked: where its picture lies in a buffer.
struct RgbFormat {
    RgbLayout layout = RgbLayout::kRgb32;
    LONG width = 0;  // biWidth: pixels per buffer row
    LONG rows = 0;   // |biHeight|
    bool bottom_up = true;
    size_t stride = 0;
    RECT source = {};  // rcSource, or the whole buffer when empty
    RECT target = {};  // rcTarget as given (may be empty)
};

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

bool Inside(const RECT& r, LONG width, LONG rows) {
    return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= rows && !IsEmpty(r);
}

// The masks follow the format block's header, which VIDEOINFOHEADER2 makes longer.
bool MasksAre(const AM_MEDIA_TYPE& mt, size_t header, const DWORD (&expected)[3]) {
    if (mt.cbFormat < header + sizeof expected) return true;  // masks left out: the defaults
    return std::memcmp(mt.pbFormat + header, expected, sizeof expected) == 0;
}

bool CompressionFits(const AM_MEDIA_TYPE& mt, size_t header, RgbLayout layout, DWORD compression) {
    switch (layout) {
        case RgbLayout::kRgb565:
            return compression == BI_BITFIELDS && MasksAre(mt, header, kMask565);
        case RgbLayout::kRgb555:
            return compression == BI_RGB || (compression == BI_BITFIELDS && MasksAre(mt, header, kMask555));
        case RgbLayout::kRgb32:
            return compression == BI_RGB || (compression == BI_BITFIELDS && MasksAre(mt, header, kMask32));
        case RgbLayout::kRgb24:
            return compression == BI_RGB;
    }
    return false;
}

// How far into a format block its BITMAPINFOHEADER ends, or 0 for another
// block; VIDEOINFOHEADER2 only where `vih2` allows it. Both blocks begin
// with rcSource and rcTarget.
size_t HeaderEnd(const AM_MEDIA_TYPE& mt, bool vih2) {
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo)) return sizeof(VIDEOINFOHEADER);
    if (vih2 && IsEqualGUID(mt.formattype, FORMAT_VideoInfo2)) return sizeof(VIDEOINFOHEADER2);
    return 0;
}

bool ParseRgbType(const AM_MEDIA_TYPE& mt, RgbFormat* out, bool vih2 = false) {
    const size_t header = HeaderEnd(mt, vih2);
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || header == 0 || !mt.pbFormat || mt.cbFormat < header)
        return false;
    const auto* layout = std::find_if(std::begin(kLayouts), std::end(kLayouts),
                                      [&](const LayoutInfo& l) { return IsEqualGUID(*l.subtype, mt.subtype); });
    if (layout == std::end(kLayouts)) return false;
    const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    const BITMAPINFOHEADER& bih =
        *reinterpret_cast<const BITMAPINFOHEADER*>(mt.pbFormat + header - sizeof(BITMAPINFOHEADER));
    if (bih.biBitCount != RgbBitsPerPixel(layout->layout) ||
        !CompressionFits(mt, header, layout->layout, bih.biCompression))
        return false;
    RgbFormat f;
    f.layout = layout->layout;
    f.width = bih.biWidth;
    f.rows = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
    f.bottom_up = bih.biHeight > 0;
    if (f.width <= 0 || f.width > kMaxSide || f.rows <= 0 || f.rows > kMaxSide) return false;
    f.stride = DibStride(f.width, bih.biBitCount);
    if (bih.biSizeImage != 0 && bih.biSizeImage < DibBytes(f.stride, f.rows)) return false;
    f.source = IsEmpty(vih.rcSource) ? RECT{0, 0, f.width, f.rows} : vih.rcSource;
    f.target = vih.rcTarget;
    if (!Inside(f.source, f.width, f.rows)) return false;
    if (!IsEmpty(f.target) && !Inside(f.target, f.width, f.rows)) return false;
    *out = f;
    return true;
}

// Where the input's picture goes in an output buffer of type `out`: its
// rcTarget, or the top-left corner of a buffer at least as wide (a renderer's
// stride) and exactly as tall.
bool TargetFor(const RgbFormat& in, const RgbFormat& out, RECT* target) {
    const LONG w = Width(in.source), h = Height(in.source);
    if (!IsEmpty(out.target)) {
        *target = out.target;
        return Width(out.target) == w && Height(out.target) == h;
    }
    *target = RECT{0, 0, w, h};
    return out.width >= w && out.rows == h;
}

PictureView ViewOf(const RgbFormat& f, const RECT& r) {
    PictureView v;
    v.layout = f.layout;
    v.stride = f.stride;
    v.buffer_rows = f.rows;
    v.bottom_up = f.bottom_up;
    v.left = r.left;
    v.top = r.top;
    v.width = Width(r);
    v.height = Height(r);
    return v;
}

// What the output offers, as configured.
struct OutputShape {
    bool top_down = false;
    bool vih2 = false;
};

bool ConfiguredAs(const wchar_t* name, const wchar_t* value) {
    wchar_t text[32] = L"";
    DWORD bytes = sizeof text;
    return RegGetValueW(HKEY_CURRENT_USER, L"Software\\FernwoodTestbed\\ColourConverter", name, RRF_RT_REG_SZ, nullptr,
                        text, &bytes) == ERROR_SUCCESS &&
           std::wcscmp(text, value) == 0;
}

OutputShape ReadOutputShape() {
    return {ConfiguredAs(L"OutputRows", L"TopDown"), ConfiguredAs(L"OutputFormat", L"VideoInfo2")};
}

// The fields both blocks share, up to the bitmap header; a VIDEOINFOHEADER2
// adds square pixels (the picture's own aspect), progressive frames and no
// copy protection (the zeros).
BITMAPINFOHEADER* AllocOutputFormat(MediaType& mt, bool vih2, size_t masks, const VIDEOINFOHEADER& from) {
    const size_t header = vih2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
    BYTE* block = mt.AllocFormat(static_cast<ULONG>(header + masks));
    if (!block) return nullptr;
    mt->formattype = vih2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    auto* shared = reinterpret_cast<VIDEOINFOHEADER*>(block);
    shared->dwBitErrorRate = from.dwBitErrorRate;
    shared->AvgTimePerFrame = from.AvgTimePerFrame;
    if (vih2) {
        auto* vih2_block = reinterpret_cast<VIDEOINFOHEADER2*>(block);
        vih2_block->dwPictAspectRatioX = static_cast<DWORD>(from.bmiHeader.biWidth);
        vih2_block->dwPictAspectRatioY = static_cast<DWORD>(std::abs(from.bmiHeader.biHeight));
    }
    return reinterpret_cast<BITMAPINFOHEADER*>(block + header - sizeof(BITMAPINFOHEADER));
}

MediaType OutputType(const AM_MEDIA_TYPE& input, const RgbFormat& in, const LayoutInfo& layout,
                     const OutputShape& shape) {
    const bool masks = layout.layout == RgbLayout::kRgb565;
    MediaType mt;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = *layout.subtype;
    mt->bFixedSizeSamples = TRUE;
    const auto& from = *reinterpret_cast<const VIDEOINFOHEADER*>(input.pbFormat);
    BITMAPINFOHEADER* header = AllocOutputFormat(mt, shape.vih2, masks ? sizeof kMask565 : 0, from);
    if (!header) return MediaType();
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    const LONG w = Width(in.source), h = Height(in.source);
    const int bits = RgbBitsPerPixel(layout.layout);
    BITMAPINFOHEADER& bih = *header;
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = w;
    bih.biHeight = shape.top_down ? -h : h;
    bih.biPlanes = 1;
    bih.biBitCount = static_cast<WORD>(bits);
    bih.biCompression = masks ? BI_BITFIELDS : BI_RGB;
    bih.biSizeImage = static_cast<DWORD>(DibBytes(DibStride(w, bits), h));
    if (from.AvgTimePerFrame > 0) {
        const double rate = 8.0 * bih.biSizeImage * 1e7 / static_cast<double>(from.AvgTimePerFrame);
        vih->dwBitRate = rate < 4294967295.0 ? static_cast<DWORD>(rate) : 0xFFFFFFFFu;
    }
    if (masks) std::memcpy(header + 1, kMask565, sizeof kMask565);
    mt->lSampleSize = bih.biSizeImage;
    return mt;
}

// What the streaming thread works with, copied out under a lock of its own so
// that it never needs the filter lock while it converts or delivers.
struct Stream {
    bool has_input = false, has_output = false;
    RgbFormat in, out;
    RECT target = {};
    ComPtr<IPin> peer;
    ComPtr<IMemInputPin> downstream;
    ComPtr<IMemAllocator> allocator;
};

class ColourConverter;

class ConverterInput final : public ForwardingInputPin {
public:
    explicit ConverterInput(ColourConverter& filter);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(unsigned, MediaType*) override { return VFW_S_NO_MORE_ITEMS; }

protected:
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT OnReceive(IMediaSample* sample) override;
    std::vector<ComPtr<IPin>> Downstream() override;

private:
    ColourConverter& filter_;
};

class ConverterOutput final : public ForwardingOutputPin {
public:
    ConverterOutput(ColourConverter& filter, ConverterInput& input);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    HRESULT GetMediaType(unsigned index, MediaType* out) override;

protected:
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;

private:
    ColourConverter& filter_;
    ConverterInput& input_;
    ComPtr<IMemAllocator> allocator_candidate_;
};

class ColourConverter final : public testbed::Filter {
public:
    ColourConverter() : Filter(CLSID_Colour), input_(*this), output_(*this, input_) {}

    testbed::Pin* PinAt(unsigned index) override {
        return index == 0   ? static_cast<testbed::Pin*>(&input_)
               : index == 1 ? static_cast<testbed::Pin*>(&output_)
                            : nullptr;
    }

    Stream Snapshot() {
        std::lock_guard<std::mutex> hold(stream_lock_);
        return stream_;
    }
    template <class Change>
    void Update(Change change) {
        std::lock_guard<std::mutex> hold(stream_lock_);
        change(stream_);
    }

    HRESULT Transform(IMediaSample* sample);

private:
    HRESULT TakeTypeChange(IMediaSample* sample, testbed::Pin& pin, Stream* s);

    ConverterInput input_;
    ConverterOutput output_;
    std::mutex stream_lock_;
    Stream stream_;
};

// --- ConverterInput ---

ConverterInput::ConverterInput(ColourConverter& filter)
    : ForwardingInputPin(filter, L"Input", Answer::kDownstream), filter_(filter) {}

// While the output is connected, only inputs that fit its type are taken.
HRESULT ConverterInput::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    RgbFormat in;
    if (!ParseRgbType(mt, &in)) return S_FALSE;
    Stream s = filter_.Snapshot();
    RECT target;
    return !s.has_output || TargetFor(in, s.out, &target) ? S_OK : S_FALSE;
}

HRESULT ConverterInput::CompleteConnect(IPin*) {
    RgbFormat in;
    if (!ParseRgbType(mt_.Get(), &in)) return VFW_E_TYPE_NOT_ACCEPTED;
    filter_.Update([&](Stream& s) {
        s.in = in;
        s.has_input = true;
        if (s.has_output) TargetFor(s.in, s.out, &s.target);
    });
    return S_OK;
}

void ConverterInput::BreakConnect() {
    filter_.Update([](Stream& s) { s.has_input = false; });
}

HRESULT ConverterInput::OnReceive(IMediaSample* sample) { return filter_.Transform(sample); }

std::vector<ComPtr<IPin>> ConverterInput::Downstream() {
    Stream s = filter_.Snapshot();
    if (!s.peer) return {};
    return {s.peer};
}

// --- ConverterOutput ---

ConverterOutput::ConverterOutput(ColourConverter& filter, ConverterInput& input)
    : ForwardingOutputPin(filter, L"XForm Out", input), filter_(filter), input_(input) {}

HRESULT ConverterOutput::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    RgbFormat in, out;
    RECT target;
    if (!input_.IsConnected() || !ParseRgbType(input_.ConnectionType().Get(), &in)) return VFW_E_NOT_CONNECTED;
    return ParseRgbType(mt, &out, true) && TargetFor(in, out, &target) ? S_OK : S_FALSE;
}

// The configured shape's layouts come first, then the usual bottom-up ones,
// so that a renderer that takes only those still connects.
HRESULT ConverterOutput::GetMediaType(unsigned index, MediaType* out) {
    const unsigned layouts = sizeof kLayouts / sizeof kLayouts[0];
    const OutputShape configured = ReadOutputShape();
    const bool plain = !configured.top_down && !configured.vih2;
    if (index >= (plain ? 1 : 2) * layouts) return VFW_S_NO_MORE_ITEMS;
    MediaType input = input_.ConnectionType();
    RgbFormat in;
    if (!input_.IsConnected() || !ParseRgbType(input.Get(), &in)) return VFW_S_NO_MORE_ITEMS;
    *out = OutputType(input.Get(), in, kLayouts[index % layouts], index < layouts ? configured : OutputShape{});
    return out->Get().pbFormat ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConverterOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    RgbFormat out;
    if (!ParseRgbType(mt_.Get(), &out, true)) return VFW_E_TYPE_NOT_ACCEPTED;
    const long image = static_cast<long>(DibBytes(out.stride, out.rows));
    HRESULT hr = testbed::SetAllocatorAtLeast(allocator, *request, image);
    if (FAILED(hr)) return hr;
    allocator_candidate_ = allocator;
    return S_OK;
}

HRESULT ConverterOutput::CompleteConnect(IPin* peer) {
    RgbFormat out;
    ComPtr<IMemInputPin> downstream;
    if (!ParseRgbType(mt_.Get(), &out, true)) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = peer->QueryInterface(IID_IMemInputPin, downstream.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IMemAllocator> allocator = allocator_candidate_;
    filter_.Update([&](Stream& s) {
        s.out = out;
        s.has_output = true;
        s.peer = peer;
        s.downstream = downstream;
        s.allocator = allocator;
        if (s.has_input) TargetFor(s.in, s.out, &s.target);
    });
    return S_OK;
}

void ConverterOutput::BreakConnect() {
    allocator_candidate_.Reset();
    filter_.Update([](Stream& s) {
        s.has_output = false;
        s.peer.Reset();
        s.downstream.Reset();
        s.allocator.Reset();
    });
}

// --- ColourConverter ---

// A type attached to a sample: on the input's sample, the upstream filter's
// change of its type (same picture size only); on an output buffer, the
// renderer's, a different stride or row order it was asked about through
// QueryAccept (it stays attached on delivery).
HRESULT ColourConverter::TakeTypeChange(IMediaSample* sample, testbed::Pin& pin, Stream* s) {
    AM_MEDIA_TYPE* mt = nullptr;
    if (sample->GetMediaType(&mt) != S_OK || !mt) return S_OK;
    RgbFormat Stream::*side = &pin == &input_ ? &Stream::in : &Stream::out;
    Stream changed = *s;
    const bool fits = ParseRgbType(*mt, &(changed.*side), side == &Stream::out) && TargetFor(changed.in, changed.out, &changed.target);
    if (fits) {
        pin.AdoptType(*mt);
        *s = changed;
        Update([&](Stream& current) {
            current.*side = changed.*side;
            current.target = changed.target;
        });
    }
    testbed::DeleteMediaType(mt);
    return fits ? S_OK : VFW_E_INVALIDMEDIATYPE;
}

HRESULT ColourConverter::Transform(IMediaSample* sample) {
    Stream s = Snapshot();
    if (!s.has_input || !s.has_output) return S_OK;  // nowhere to send it
    HRESULT hr = TakeTypeChange(sample, input_, &s);
    if (FAILED(hr)) return hr;
    ComPtr<IMediaSample> buffer;
    if (FAILED(hr = s.allocator->GetBuffer(buffer.Put(), nullptr, nullptr, 0))) return hr;
    if (FAILED(hr = TakeTypeChange(buffer.Get(), output_, &s))) return hr;
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    if (FAILED(hr = sample->GetPointer(&src)) || FAILED(hr = buffer->GetPointer(&dst))) return hr;
    const long src_length = sample->GetActualDataLength();
    const long dst_size = buffer->GetSize();
    if (src_length < 0 || dst_size < 0 ||
        !ConvertPicture(ViewOf(s.in, s.in.source), src, static_cast<size_t>(src_length), ViewOf(s.out, s.target), dst,
                        static_cast<size_t>(dst_size)))
        return E_INVALIDARG;
    buffer->SetActualDataLength(static_cast<long>(DibBytes(s.out.stride, s.out.rows)));
    CopySampleProperties(sample, buffer.Get());
    return s.downstream->Receive(buffer.Get());
}

const REGPINTYPES kRgbTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
                                 {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
                                 {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB565},
                                 {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB555}};
const REGFILTERPINS2 kConverterPins[] = {{0, 1, 4, kRgbTypes, 0, nullptr, nullptr},
                                         {REG_PINFLAG_B_OUTPUT, 1, 4, kRgbTypes, 0, nullptr, nullptr}};

}  // namespace

HRESULT RegisterColourConverterFilter(bool install) {
    return RegisterLegacyFilter(install, CLSID_Colour, L"Color Space Converter", MERIT_UNLIKELY, kConverterPins);
}

HRESULT CreateColourConverter(REFIID iid, void** out) { return CreateObject<ColourConverter>(iid, out); }

}  // namespace fernwood
