// Video for Windows driver "vidc.uyvy", installed in test Wine prefixes only:
//  - decompresses UYVY and YUY2 (the same samples in another byte order), as
//    Windows' own YUV codec does, so that the platform's AVI Decompressor can
//    turn a capture card's 4:2:2 pictures into RGB DIBs;
//  - compresses UYVY, RGB24 and RGB32 to FWRL (portable/fwrl_codec.h), the
//    one compressor of a test prefix that works, and decompresses FWRL back
//    to RGB so that a recorded file can be checked.
#include "fwrl_codec.h"
#include "uyvy_to_rgb.h"

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <cstdlib>
#include <cwchar>
#include <new>
#include <vector>

namespace {

using fernwood::FwrlLayout;
using fernwood::FwrlPicture;

const DWORD kFourccUyvy = mmioFOURCC('U', 'Y', 'V', 'Y');
const DWORD kFourccYuy2 = mmioFOURCC('Y', 'U', 'Y', '2');
const DWORD kFourccFwrl = mmioFOURCC('F', 'W', 'R', 'L');
// The chunk type of compressed DIB data in an AVI file.
const DWORD kChunkCompressed = aviTWOCC('d', 'c');

// An open driver instance: the decoded picture between FWRL and RGB.
struct Instance {
    std::vector<uint8_t> scratch;
};

bool HeaderOk(const BITMAPINFOHEADER* h) { return h && h->biSize >= sizeof(BITMAPINFOHEADER) && h->biPlanes == 1; }

// With BI_BITFIELDS the three masks sit right after the basic header fields:
// following a BITMAPINFOHEADER, or inside the larger header versions.
const DWORD* Masks(const BITMAPINFOHEADER* bih) {
    return reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(bih) + sizeof(BITMAPINFOHEADER));
}

bool IsPacked422(const BITMAPINFOHEADER* in, DWORD fourcc) {
    return HeaderOk(in) && in->biCompression == fourcc && in->biBitCount == 16 &&
           fernwood::UyvyFrameSize(in->biWidth, std::abs(in->biHeight)) != 0 &&
           (in->biSizeImage == 0 ||
            in->biSizeImage >= fernwood::UyvyFrameSize(in->biWidth, std::abs(in->biHeight)));
}

bool IsUyvy(const BITMAPINFOHEADER* in) { return IsPacked422(in, kFourccUyvy); }

// YUY2 is Y0 U Y1 V where UYVY is U Y0 V Y1: swapping each byte pair turns one into the other.
void Yuy2ToUyvy(const uint8_t* in, size_t bytes, uint8_t* out) {
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
    }
}

// The picture an FWRL header describes; its rows are always stored top-down.
bool FwrlOf(const BITMAPINFOHEADER* in, FwrlPicture* picture) {
    if (!HeaderOk(in) || in->biCompression != kFourccFwrl) return false;
    FwrlPicture p;
    if (!fernwood::FwrlLayoutForBits(in->biBitCount, &p.layout)) return false;
    p.width = in->biWidth;
    p.height = std::abs(in->biHeight);
    if (!fernwood::FwrlValid(p)) return false;
    *picture = p;
    return true;
}

// What a compressor input holds and where its rows lie.
bool CompressorInput(const BITMAPINFOHEADER* in, FwrlPicture* picture, fernwood::RawLayout* layout) {
    FwrlPicture p;
    fernwood::RawLayout l;
    if (IsUyvy(in)) {
        p.layout = FwrlLayout::kUyvy;
        l.bottom_up = false;  // UYVY rows always come top-down
    } else if (HeaderOk(in) && in->biCompression == BI_RGB && (in->biBitCount == 24 || in->biBitCount == 32)) {
        p.layout = in->biBitCount == 24 ? FwrlLayout::kRgb24 : FwrlLayout::kRgb32;
        l.bottom_up = in->biHeight > 0;
    } else {
        return false;
    }
    p.width = in->biWidth;
    p.height = std::abs(in->biHeight);
    if (!fernwood::FwrlValid(p)) return false;
    l.stride = p.layout == FwrlLayout::kUyvy ? fernwood::FwrlRowBytes(p)
                                              : fernwood::DibStride(p.width, in->biBitCount);
    if (in->biSizeImage != 0 && in->biSizeImage / l.stride < static_cast<size_t>(p.height)) return false;
    *picture = p;
    *layout = l;
    return true;
}

// --- Decompression ---

// A decompressor input: UYVY, or FWRL of any source layout.
struct Source {
    bool fwrl = false;
    bool yuy2 = false;
    FwrlPicture picture;  // layout kUyvy for plain UYVY and YUY2
};

bool DecompressorInput(const BITMAPINFOHEADER* in, Source* s) {
    if (IsUyvy(in) || IsPacked422(in, kFourccYuy2)) {
        s->fwrl = false;
        s->yuy2 = !IsUyvy(in);
        s->picture = {FwrlLayout::kUyvy, in->biWidth, std::abs(in->biHeight)};
        return true;
    }
    s->fwrl = true;
    return FwrlOf(in, &s->picture);
}

// The RGB layout the output header asks for, or false when it is not one we
// write.
bool OutputLayout(const BITMAPINFOHEADER* out, fernwood::RgbLayout* layout) {
    if (!HeaderOk(out)) return false;
    if (out->biCompression == BI_RGB) {
        switch (out->biBitCount) {
        case 32: *layout = fernwood::RgbLayout::kRgb32; return true;
        case 24: *layout = fernwood::RgbLayout::kRgb24; return true;
        case 16: *layout = fernwood::RgbLayout::kRgb555; return true;
        default: return false;
        }
    }
    if (out->biCompression == BI_BITFIELDS && out->biBitCount == 16) {
        const DWORD* m = Masks(out);
        if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F) {
            *layout = fernwood::RgbLayout::kRgb565;
            return true;
        }
        if (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) {
            *layout = fernwood::RgbLayout::kRgb555;
            return true;
        }
    }
    return false;
}

size_t OutputSize(const BITMAPINFOHEADER* out) {
    return fernwood::DibStride(out->biWidth, out->biBitCount) * static_cast<size_t>(std::abs(out->biHeight));
}

struct Conversion {
    Source source;
    fernwood::RgbLayout layout = fernwood::RgbLayout::kRgb32;
    bool bottom_up = true;
};

// Fills the conversion for an input/output pair, or returns an ICERR code.
LRESULT Describe(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out, Conversion* c) {
    if (!DecompressorInput(in, &c->source)) return ICERR_BADFORMAT;
    if (!out) return ICERR_OK;
    if (!OutputLayout(out, &c->layout)) return ICERR_BADFORMAT;
    const FwrlPicture& p = c->source.picture;
    // RGB pictures come back in their own depths only.
    if (p.layout != FwrlLayout::kUyvy && c->layout != fernwood::RgbLayout::kRgb32 &&
        c->layout != fernwood::RgbLayout::kRgb24)
        return ICERR_BADFORMAT;
    if (out->biWidth != p.width || std::abs(out->biHeight) != p.height) return ICERR_BADFORMAT;
    if (out->biSizeImage != 0 && out->biSizeImage < OutputSize(out)) return ICERR_BADFORMAT;
    // A positive height is a bottom-up DIB.
    c->bottom_up = out->biHeight > 0;
    return ICERR_OK;
}

// Wine's AVI Decompressor begins with its input format as the output too and
// names the real output with each frame; Decompress checks that one.
bool IsWineBeginQuirk(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return HeaderOk(out) && out->biCompression == in->biCompression && out->biBitCount == in->biBitCount &&
           out->biWidth == in->biWidth && out->biHeight == in->biHeight;
}

LRESULT DecompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    Conversion c;
    if (!out) return ICERR_BADFORMAT;
    LRESULT r = Describe(in, out, &c);
    if (r == ICERR_BADFORMAT && DecompressorInput(in, &c.source) && IsWineBeginQuirk(in, out)) r = ICERR_OK;
    return r;
}

LRESULT DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    Source s;
    if (!DecompressorInput(in, &s)) return ICERR_BADFORMAT;
    if (!out) return sizeof(BITMAPINFOHEADER);
    *out = BITMAPINFOHEADER{};
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = s.picture.width;
    out->biHeight = s.picture.height;
    out->biPlanes = 1;
    out->biBitCount = 32;
    out->biCompression = BI_RGB;
    out->biSizeImage = static_cast<DWORD>(OutputSize(out));
    return ICERR_OK;
}

LRESULT Decompress(Instance* instance, const ICDECOMPRESS* icd, LPARAM size) {
    if (!icd || static_cast<size_t>(size) < sizeof(ICDECOMPRESS)) return ICERR_BADPARAM;
    Conversion c;
    LRESULT r = Describe(icd->lpbiInput, icd->lpbiOutput, &c);
    if (r != ICERR_OK) return r;
    if (icd->dwFlags & ICDECOMPRESS_HURRYUP) return ICERR_OK;
    const auto* in = static_cast<const uint8_t*>(icd->lpInput);
    auto* out = static_cast<uint8_t*>(icd->lpOutput);
    const size_t out_size = OutputSize(icd->lpbiOutput);
    const FwrlPicture& p = c.source.picture;
    if (c.source.fwrl) {
        // Without a size in the header the caller vouches for a whole frame.
        const size_t in_size = icd->lpbiInput->biSizeImage ? icd->lpbiInput->biSizeImage
                                                           : fernwood::FwrlMaxEncodedSize(p);
        return fernwood::FwrlDecodeToRgb(in, in_size, p, c.layout, c.bottom_up, out, out_size, &instance->scratch)
                   ? ICERR_OK
                   : ICERR_BADFORMAT;
    }
    const size_t needed_in = fernwood::UyvyFrameSize(p.width, p.height);
    const size_t in_size = icd->lpbiInput->biSizeImage ? icd->lpbiInput->biSizeImage : needed_in;
    if (in_size < needed_in) return ICERR_BADSIZE;
    if (c.source.yuy2) {
        instance->scratch.resize(needed_in);
        Yuy2ToUyvy(in, needed_in, instance->scratch.data());
        in = instance->scratch.data();
    }
    const fernwood::UyvyConversion uc{p.width, p.height, c.layout, c.bottom_up};
    return fernwood::ConvertUyvyToRgb(uc, in, c.source.yuy2 ? needed_in : in_size, out, out_size) ? ICERR_OK
                                                                                           : ICERR_BADSIZE;
}

// --- Compression ---

LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    FwrlPicture p, q;
    fernwood::RawLayout l;
    if (!CompressorInput(in, &p, &l)) return ICERR_BADFORMAT;
    if (!out) return ICERR_OK;
    if (!FwrlOf(out, &q) || q.layout != p.layout || q.width != p.width || q.height != p.height)
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    FwrlPicture p;
    fernwood::RawLayout l;
    if (!CompressorInput(in, &p, &l)) return ICERR_BADFORMAT;
    if (!out) return sizeof(BITMAPINFOHEADER);
    *out = BITMAPINFOHEADER{};
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = p.width;
    out->biHeight = p.height;
    out->biPlanes = 1;
    out->biBitCount = static_cast<WORD>(fernwood::FwrlBitsPerPixel(p.layout));
    out->biCompression = kFourccFwrl;
    out->biSizeImage = static_cast<DWORD>(fernwood::FwrlMaxEncodedSize(p));
    return ICERR_OK;
}

LRESULT CompressGetSize(const BITMAPINFOHEADER* in) {
    FwrlPicture p;
    fernwood::RawLayout l;
    if (!CompressorInput(in, &p, &l)) return 0;
    return static_cast<LRESULT>(fernwood::FwrlMaxEncodedSize(p));
}

LRESULT Compress(const ICCOMPRESS* icc, LPARAM size) {
    if (!icc || static_cast<size_t>(size) < sizeof(ICCOMPRESS) || !icc->lpInput || !icc->lpOutput)
        return ICERR_BADPARAM;
    if (CompressQuery(icc->lpbiInput, icc->lpbiOutput) != ICERR_OK) return ICERR_BADFORMAT;
    FwrlPicture p;
    fernwood::RawLayout l;
    CompressorInput(icc->lpbiInput, &p, &l);
    // Without a size in the header the caller vouches for a whole picture;
    // the output buffer is as large as ICM_COMPRESS_GET_SIZE said.
    const size_t in_size = icc->lpbiInput->biSizeImage
                               ? icc->lpbiInput->biSizeImage
                               : l.stride * static_cast<size_t>(p.height - 1) + fernwood::FwrlRowBytes(p);
    const size_t max = fernwood::FwrlMaxEncodedSize(p);
    const size_t written = fernwood::FwrlEncode(p, static_cast<const uint8_t*>(icc->lpInput), in_size, l,
                                                static_cast<uint8_t*>(icc->lpOutput), max);
    if (written == 0) return ICERR_ERROR;
    icc->lpbiOutput->biSizeImage = static_cast<DWORD>(written);
    if (icc->lpckid) *icc->lpckid = kChunkCompressed;
    if (icc->lpdwFlags) *icc->lpdwFlags = AVIIF_KEYFRAME;  // every frame stands alone
    return ICERR_OK;
}

// --- Driver ---

LRESULT GetInfo(ICINFO* info, LPARAM size) {
    if (!info || static_cast<size_t>(size) < sizeof(ICINFO)) return 0;
    *info = ICINFO{};
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = kFourccUyvy;
    // Lossless key frames only: no quality, size target or temporal flags.
    info->dwFlags = 0;
    info->dwVersion = 0x00020000;
    info->dwVersionICM = ICVERSION;
    wcsncpy(info->szName, L"FWRL", sizeof info->szName / sizeof(WCHAR) - 1);
    wcsncpy(info->szDescription, L"Fernwood test codec (testbed)", sizeof info->szDescription / sizeof(WCHAR) - 1);
    return sizeof(ICINFO);
}

LRESULT Open(ICOPEN* open) {
    // Opened without parameters (e.g. by the driver configuration): nothing to check.
    if (open) {
        if (open->fccType != ICTYPE_VIDEO) return 0;
        if (open->dwFlags == ICMODE_DRAW) {
            open->dwError = ICERR_UNSUPPORTED;
            return 0;
        }
        open->dwError = ICERR_OK;
    }
    Instance* instance = new (std::nothrow) Instance;
    return reinterpret_cast<LRESULT>(instance);
}

}  // namespace

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
    Instance* instance = reinterpret_cast<Instance*>(id);
    switch (msg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_INSTALL:
    case DRV_REMOVE: return DRV_OK;
    case DRV_OPEN: return Open(reinterpret_cast<ICOPEN*>(p2));
    case DRV_CLOSE:
        delete instance;
        return DRV_OK;
    case DRV_QUERYCONFIGURE: return 0;
    case DRV_CONFIGURE: return DRVCNF_OK;
    }
    if (msg < DRV_USER) return DefDriverProc(id, driver, msg, p1, p2);
    // Everything below needs an instance from DRV_OPEN.
    if (!instance) return ICERR_BADHANDLE;

    auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(p2);
    Conversion c;
    switch (msg) {
    case ICM_GETINFO: return GetInfo(reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_GETSTATE: return 0;  // no settings to save
    case ICM_SETSTATE: return 0;
    case ICM_DECOMPRESS_QUERY: return Describe(in, out, &c);
    case ICM_DECOMPRESS_GET_FORMAT: return DecompressGetFormat(in, out);
    case ICM_DECOMPRESS_BEGIN: return DecompressBegin(in, out);
    case ICM_DECOMPRESS: return Decompress(instance, reinterpret_cast<const ICDECOMPRESS*>(p1), p2);
    case ICM_DECOMPRESS_END: return ICERR_OK;
    case ICM_COMPRESS_QUERY: return CompressQuery(in, out);
    case ICM_COMPRESS_GET_FORMAT: return CompressGetFormat(in, out);
    case ICM_COMPRESS_GET_SIZE: return CompressGetSize(in);
    case ICM_COMPRESS_BEGIN: return out ? CompressQuery(in, out) : ICERR_BADFORMAT;
    case ICM_COMPRESS: return Compress(reinterpret_cast<const ICCOMPRESS*>(p1), p2);
    case ICM_COMPRESS_END: return ICERR_OK;
    case ICM_COMPRESS_FRAMES_INFO: return ICERR_OK;  // rates and sizes change nothing
    default:
        // Drawing, palettes (we never write palettized DIBs), quality and key
        // frame rate settings, about and configure boxes.
        return ICERR_UNSUPPORTED;
    }
}
