// Prints how long the repair of a killed 10 GB recording takes on this disk.
// The recording is written as the AVI Mux stand-in leaves it when its
// process is killed (1 GiB RIFFs, UYVY 1280x720 frames and 48 kHz PCM),
// its pages dropped from the cache, repaired in place and deleted.
// Usage: avi_repair_bench [GB] [--keep PATH] (keeps the repaired file there).
#include "record/avi_repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testbed/standins/portable/avi_layout.h"

namespace {

class PosixFile : public RepairFile, public fernwood::avi::ByteSink {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    uint64_t Size() override
    {
        struct stat st;
        return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    bool ReadAt(uint64_t offset, void* data, size_t size) override
    {
        for (auto* p = static_cast<char*>(data); size;) {
            const ssize_t n = pread(fd_, p, size, static_cast<off_t>(offset));
            if (n <= 0)
                return false;
            p += n, offset += static_cast<uint64_t>(n), size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool WriteAt(uint64_t offset, const void* data, size_t size) override
    {
        for (auto* p = static_cast<const char*>(data); size;) {
            const ssize_t n = pwrite(fd_, p, size, static_cast<off_t>(offset));
            if (n <= 0)
                return false;
            p += n, offset += static_cast<uint64_t>(n), size -= static_cast<size_t>(n);
        }
        ++writes;
        return true;
    }
    bool Truncate(uint64_t size) override { return ftruncate(fd_, static_cast<off_t>(size)) == 0; }

    int writes = 0;

private:
    int fd_;
};

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Put32(std::vector<uint8_t>* b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv)
{
    double gigabytes = 10;
    const char* keep = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else
            gigabytes = std::atof(argv[i]);
    }
    const std::string path = keep ? keep : "/tmp/fernwood-repair-bench.avi";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    PosixFile file(fd);

    JournalStream video, audio;
    video.handler = 0x59565955;  // UYVY
    video.scale = 1001;
    video.rate = 60000;
    for (uint32_t v : {40u, 1280u, 720u, 0x00100001u, 0x59565955u, 1843200u})
        Put32(&video.format, v);
    video.format.resize(40, 0);
    audio.video = false;
    audio.scale = 4;
    audio.rate = 192000;
    audio.sample_size = 4;
    audio.format = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0, 4, 0, 16, 0, 0, 0};
    const std::vector<JournalStream> streams = {video, audio};
    std::vector<fernwood::avi::StreamSetup> setups(2);
    for (size_t s = 0; s < 2; ++s) {
        setups[s].kind = s ? fernwood::avi::StreamKind::kAudio : fernwood::avi::StreamKind::kVideo;
        setups[s].handler = streams[s].handler;
        setups[s].scale = streams[s].scale;
        setups[s].rate = streams[s].rate;
        setups[s].sample_size = streams[s].sample_size;
        setups[s].format = streams[s].format;
    }
    setups[0].width = 1280;
    setups[0].height = 720;

    // Half a second of sound after every 30 frames, as a capture's audio buffers come.
    std::vector<uint8_t> frame(1843200), sound(96096);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7 + i / 1280);
    fernwood::avi::AviWriter writer(file, setups);
    auto start = std::chrono::steady_clock::now();
    bool ok = writer.Begin();
    uint64_t frames = 0;
    while (ok && writer.Size() < gigabytes * 1e9) {
        std::memcpy(frame.data(), &frames, 8);
        ok = writer.AddChunk(0, frame.data(), static_cast<uint32_t>(frame.size()), true);
        if (ok && ++frames % 30 == 0)
            ok = writer.AddChunk(1, sound.data(), static_cast<uint32_t>(sound.size()), true);
    }
    const uint64_t killed_at = writer.Size() - frame.size() / 2;  // in the last frame
    ok = ok && file.Truncate(killed_at) && fsync(fd) == 0;
    const double write_seconds = Since(start);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (!ok) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        close(fd);
        unlink(path.c_str());
        return 1;
    }
    std::printf("avi repair: killed recording of %.2f GB (%llu frames of UYVY 1280x720, %zu RIFFs), written in %.1f s "
                "(%.0f MB/s)\n",
                killed_at / 1e9, static_cast<unsigned long long>(frames), writer.RiffCount(), write_seconds,
                killed_at / 1e6 / write_seconds);

    file.writes = 0;
    start = std::chrono::steady_clock::now();
    const RepairResult result = RepairRecording(file, streams);
    const double repair_seconds = Since(start);
    start = std::chrono::steady_clock::now();
    fsync(fd);
    const double sync_seconds = Since(start);
    std::printf("avi repair: %s in %.3f s (cold cache), %d writes, then fsync %.3f s: %llu frames, %.1f s of sound, "
                "%llu bytes cut\n",
                result.outcome == RepairOutcome::kRepaired ? "repaired" : "NOT repaired", repair_seconds, file.writes,
                sync_seconds, static_cast<unsigned long long>(result.video_frames), result.audio_bytes / 192000.0,
                static_cast<unsigned long long>(result.cut_bytes));
    start = std::chrono::steady_clock::now();
    const RepairOutcome again = RepairRecording(file, streams).outcome;
    std::printf("avi repair: the repaired file %s in %.3f ms\n",
                again == RepairOutcome::kWasWhole ? "is seen to be whole" : "is NOT seen to be whole",
                Since(start) * 1e3);
    close(fd);
    if (!keep)
        unlink(path.c_str());
    return 0;
}
