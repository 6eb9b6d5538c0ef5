// Throughput of the UYVY decoder against a plain memcpy of the same bytes,
// and of the FWRL test codec. Prints figures only; nothing here is a
// pass/fail test.
#include "fwrl_codec.h"
#include "uyvy_bars.h"
#include "uyvy_to_rgb.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#else
#include <time.h>
#endif

namespace {

// Seconds of CPU this thread has used: the machine is shared, and wall time
// would count the other programs' turns as ours.
double ThreadSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
#endif
}

// Runs the job until it has used at least min_seconds of CPU; returns MB/s
// of bytes_per_run (1 MB = 10^6 bytes) per second of CPU.
double Measure(const std::function<void()>& job, size_t bytes_per_run, double min_seconds) {
    job();  // warm caches and page in the buffers
    size_t runs = 0;
    const double start = ThreadSeconds();
    double elapsed = 0;
    do {
        job();
        ++runs;
        elapsed = ThreadSeconds() - start;
    } while (elapsed < min_seconds);
    return static_cast<double>(bytes_per_run) * static_cast<double>(runs) / elapsed / 1e6;
}

// Bars with a little noise so that the clamps see realistic values.
std::vector<uint8_t> MakeFrame(int w, int h) {
    auto frame = fernwood::MakeUyvyBars(w, h);
    uint32_t seed = 12345;
    for (auto& b : frame) {
        seed = seed * 1664525u + 1013904223u;
        int v = b + static_cast<int>((seed >> 24) % 9) - 4;
        b = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return frame;
}

#ifdef _WIN32
// The same conversion through the installed driver, as the AVI Decompressor
// calls it. Returns 0 when no driver for UYVY is installed.
double MeasureDriver(const std::vector<uint8_t>& src, int w, int h, int bits,
                     std::vector<uint8_t>& dst, double min_seconds) {
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('U', 'Y', 'V', 'Y'), ICMODE_DECOMPRESS);
    if (!hic) return 0;
    BITMAPINFOHEADER in = {sizeof(in), w, h, 1, 16, mmioFOURCC('U', 'Y', 'V', 'Y'),
                           static_cast<DWORD>(src.size()), 0, 0, 0, 0};
    BITMAPINFOHEADER out = {sizeof(out), w, h, 1, static_cast<WORD>(bits), BI_RGB,
                            static_cast<DWORD>(dst.size()), 0, 0, 0, 0};
    double mbps = 0;
    if (ICDecompressBegin(hic, &in, &out) == ICERR_OK) {
        mbps = Measure([&] { ICDecompress(hic, 0, &in, const_cast<uint8_t*>(src.data()), &out, dst.data()); },
                       src.size(), min_seconds);
        ICDecompressEnd(hic);
    }
    ICClose(hic);
    return mbps;
}
#endif

}  // namespace

int main() {
    const double kSeconds = 1.0;
    const struct {
        int w, h;
    } sizes[] = {{1280, 720}, {1920, 1080}};
    std::printf("UYVY decoder throughput, MB/s of UYVY input (1 MB = 10^6 bytes) per second of this thread's CPU,"
                " %.1f s per figure\n",
                kSeconds);
    std::printf("%-10s %-6s %8s %8s %8s %8s %8s %10s %12s\n", "frame", "path", "memcpy", "RGB32", "RGB24", "RGB565",
                "RGB555", "fps RGB32", "RGB32/memcpy");
    const fernwood::UyvyPath initial = fernwood::CurrentUyvyPath();
    const struct {
        fernwood::UyvyPath path;
        const char* name;
    } paths[] = {{fernwood::UyvyPath::kScalar, "scalar"}, {fernwood::UyvyPath::kSse2, "SSE2"},
                 {fernwood::UyvyPath::kAvx2, "AVX2"}};
    for (const auto& s : sizes) {
        const auto src = MakeFrame(s.w, s.h);
        std::vector<uint8_t> dst(fernwood::DibStride(s.w, 32) * static_cast<size_t>(s.h));
        std::vector<uint8_t> copy(src.size());
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", s.w, s.h);
        for (const auto& path : paths) {
            if (!fernwood::SetUyvyPath(path.path)) continue;
            // memcpy again on every line: the other programs' load drifts.
            const double copy_mbps = Measure([&] { std::memcpy(copy.data(), src.data(), src.size()); },
                                             src.size(), kSeconds);
            double conv[4];
            const fernwood::RgbLayout layouts[4] = {fernwood::RgbLayout::kRgb32, fernwood::RgbLayout::kRgb24,
                                                    fernwood::RgbLayout::kRgb565, fernwood::RgbLayout::kRgb555};
            for (int i = 0; i < 4; ++i) {
                fernwood::UyvyConversion c{s.w, s.h, layouts[i], true};
                conv[i] = Measure(
                    [&] { fernwood::ConvertUyvyToRgb(c, src.data(), src.size(), dst.data(), dst.size()); },
                    src.size(), kSeconds);
            }
            std::printf("%-10s %-6s %8.0f %8.0f %8.0f %8.0f %8.0f %10.1f %11.0f%%\n", name, path.name, copy_mbps,
                        conv[0], conv[1], conv[2], conv[3], conv[0] * 1e6 / static_cast<double>(src.size()),
                        100.0 * conv[0] / copy_mbps);
        }
        fernwood::SetUyvyPath(initial);
        // FWRL of clean bars (long runs) and of the noisy frame (hardly any).
        const auto clean = fernwood::MakeUyvyBars(s.w, s.h);
        for (const auto* picture : {&clean, &src}) {
            const fernwood::FwrlPicture p{fernwood::FwrlLayout::kUyvy, s.w, s.h};
            const fernwood::RawLayout raw{static_cast<size_t>(s.w) * 2, false};
            std::vector<uint8_t> coded(fernwood::FwrlMaxEncodedSize(p)), scratch;
            size_t n = 0;
            const double enc = Measure(
                [&] { n = fernwood::FwrlEncode(p, picture->data(), picture->size(), raw, coded.data(), coded.size()); },
                picture->size(), kSeconds);
            const double dec = Measure(
                [&] {
                    fernwood::FwrlDecodeToRgb(coded.data(), n, p, fernwood::RgbLayout::kRgb32, true, dst.data(),
                                              dst.size(), &scratch);
                },
                picture->size(), kSeconds);
            const double fps = 1e6 / static_cast<double>(picture->size());
            std::printf("%-10s FWRL %-5s %5.1f%% of UYVY; encode %6.0f MB/s (%5.0f fps), decode to RGB32 %6.0f MB/s "
                        "(%5.0f fps)\n",
                        name, picture == &clean ? "bars" : "noisy",
                        100.0 * static_cast<double>(n) / static_cast<double>(picture->size()), enc, enc * fps, dec,
                        dec * fps);
        }
#ifdef _WIN32
        const double driver = MeasureDriver(src, s.w, s.h, 32, dst, kSeconds);
        if (driver > 0)
            std::printf("%-10s through ICDecompress (installed driver), RGB32: %.0f MB/s\n", name, driver);
        else
            std::printf("%-10s no installed UYVY driver: ICDecompress not measured\n", name);
#endif
    }
    return 0;
}
