// Video for Windows decompressor for UYVY: lets the platform's AVI
// Decompressor turn a capture card's UYVY into RGB DIBs. Installed as the
// "vidc.uyvy" driver in test Wine prefixes only.
#include "uyvy_to_rgb.h"

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <cstdlib>
#include <cwchar>
#include <new>

namespace {

const DWORD kFourccUyvy = mmioFOURCC('U', 'Y', 'V', 'Y');

// Conversions are stateless; an instance only gives DRV_OPEN a handle to return.
struct Decoder {};

// With BI_BITFIELDS the three masks sit right after the basic header fields:
// following a BITMAPINFOHEADER, or inside the larger header versions.
const DWORD* Masks(const BITMAPINFOHEADER* bih) {
    return reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(bih) + sizeof(BITMAPINFOHEADER));
}

bool IsUyvy(const BITMAPINFOHEADER* in) {
    return in && in->biSize >= sizeof(BITMAPINFOHEADER) && in->biCompression == kFourccUyvy &&
           in->biBitCount == 16 && in->biPlanes == 1 &&
           fernwood::UyvyFrameSize(in->biWidth, std::abs(in->biHeight)) != 0 &&
           (in->biSizeImage == 0 ||
            in->biSizeImage >= fernwood::UyvyFrameSize(in->biWidth, std::abs(in->biHeight)));
}

// The RGB layout the output header asks for, or false when it is not one we
// write.
bool OutputLayout(const BITMAPINFOHEADER* out, fernwood::RgbLayout* layout) {
    if (out->biSize < sizeof(BITMAPINFOHEADER) || out->biPlanes != 1) return false;
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

// Fills the conversion for an input/output pair, or returns an ICERR code.
LRESULT Describe(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out, fernwood::UyvyConversion* c) {
    if (!IsUyvy(in)) return ICERR_BADFORMAT;
    c->width = in->biWidth;
    c->height = std::abs(in->biHeight);
    if (!out) return ICERR_OK;
    if (!OutputLayout(out, &c->layout)) return ICERR_BADFORMAT;
    if (out->biWidth != in->biWidth || std::abs(out->biHeight) != c->height) return ICERR_BADFORMAT;
    if (out->biSizeImage != 0 && out->biSizeImage < OutputSize(out)) return ICERR_BADFORMAT;
    // A positive height is a bottom-up DIB; UYVY rows always come top-down.
    c->bottom_up = out->biHeight > 0;
    return ICERR_OK;
}

// Wine's AVI Decompressor begins with its input format as the output too and
// names the real output with each frame; Decompress checks that one.
bool IsWineBeginQuirk(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return IsUyvy(out) && out->biWidth == in->biWidth && out->biHeight == in->biHeight;
}

LRESULT Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    fernwood::UyvyConversion c;
    if (!out) return ICERR_BADFORMAT;
    LRESULT r = Describe(in, out, &c);
    if (r == ICERR_BADFORMAT && IsUyvy(in) && IsWineBeginQuirk(in, out)) r = ICERR_OK;
    return r;
}

LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (!IsUyvy(in)) return ICERR_BADFORMAT;
    if (!out) return sizeof(BITMAPINFOHEADER);
    *out = BITMAPINFOHEADER{};
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = std::abs(in->biHeight);
    out->biPlanes = 1;
    out->biBitCount = 32;
    out->biCompression = BI_RGB;
    out->biSizeImage = static_cast<DWORD>(OutputSize(out));
    return ICERR_OK;
}

LRESULT Decompress(const ICDECOMPRESS* icd, LPARAM size) {
    if (!icd || static_cast<size_t>(size) < sizeof(ICDECOMPRESS)) return ICERR_BADPARAM;
    fernwood::UyvyConversion c;
    LRESULT r = Describe(icd->lpbiInput, icd->lpbiOutput, &c);
    if (r != ICERR_OK) return r;
    if (icd->dwFlags & ICDECOMPRESS_HURRYUP) return ICERR_OK;
    // Without sizes in the headers the caller vouches for whole frames.
    const size_t needed_in = fernwood::UyvyFrameSize(c.width, c.height);
    const size_t in_size = icd->lpbiInput->biSizeImage ? icd->lpbiInput->biSizeImage : needed_in;
    if (in_size < needed_in) return ICERR_BADSIZE;
    const size_t out_size = OutputSize(icd->lpbiOutput);
    const bool ok = fernwood::ConvertUyvyToRgb(c, static_cast<const uint8_t*>(icd->lpInput), in_size,
                                               static_cast<uint8_t*>(icd->lpOutput), out_size);
    return ok ? ICERR_OK : ICERR_BADSIZE;
}

LRESULT GetInfo(ICINFO* info, LPARAM size) {
    if (!info || static_cast<size_t>(size) < sizeof(ICINFO)) return 0;
    *info = ICINFO{};
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = kFourccUyvy;
    info->dwFlags = 0;
    info->dwVersion = 0x00010000;
    info->dwVersionICM = ICVERSION;
    wcsncpy(info->szName, L"UYVY", sizeof info->szName / sizeof(WCHAR) - 1);
    wcsncpy(info->szDescription, L"Fernwood UYVY decoder (testbed)",
            sizeof info->szDescription / sizeof(WCHAR) - 1);
    return sizeof(ICINFO);
}

LRESULT Open(ICOPEN* open) {
    // Opened without parameters (e.g. by the driver configuration): nothing to check.
    if (open) {
        if (open->fccType != ICTYPE_VIDEO) return 0;
        const DWORD mode = open->dwFlags;
        if (mode == ICMODE_COMPRESS || mode == ICMODE_FASTCOMPRESS || mode == ICMODE_DRAW) {
            open->dwError = ICERR_UNSUPPORTED;
            return 0;
        }
        open->dwError = ICERR_OK;
    }
    Decoder* d = new (std::nothrow) Decoder;
    return reinterpret_cast<LRESULT>(d);
}

}  // namespace

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
    Decoder* decoder = reinterpret_cast<Decoder*>(id);
    switch (msg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_INSTALL:
    case DRV_REMOVE: return DRV_OK;
    case DRV_OPEN: return Open(reinterpret_cast<ICOPEN*>(p2));
    case DRV_CLOSE:
        delete decoder;
        return DRV_OK;
    case DRV_QUERYCONFIGURE: return 0;
    case DRV_CONFIGURE: return DRVCNF_OK;
    }
    if (msg < DRV_USER) return DefDriverProc(id, driver, msg, p1, p2);
    // Everything below needs an instance from DRV_OPEN.
    if (!decoder) return ICERR_BADHANDLE;

    auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(p2);
    fernwood::UyvyConversion c;
    switch (msg) {
    case ICM_GETINFO: return GetInfo(reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_GETSTATE: return 0;  // no settings to save
    case ICM_SETSTATE: return 0;
    case ICM_DECOMPRESS_QUERY: return Describe(in, out, &c);
    case ICM_DECOMPRESS_GET_FORMAT: return GetFormat(in, out);
    case ICM_DECOMPRESS_BEGIN: return Begin(in, out);
    case ICM_DECOMPRESS: return Decompress(reinterpret_cast<const ICDECOMPRESS*>(p1), p2);
    case ICM_DECOMPRESS_END: return ICERR_OK;
    default:
        // Compression, drawing, palettes (we never write palettized DIBs),
        // about and configure boxes.
        return ICERR_UNSUPPORTED;
    }
}
