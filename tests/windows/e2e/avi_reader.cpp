#include "avi_reader.h"

#include <cstring>
#include <fstream>
#include <vector>

namespace {

uint32_t FourCc(const char* text)
{
    return static_cast<uint32_t>(text[0]) | static_cast<uint32_t>(text[1]) << 8 |
           static_cast<uint32_t>(text[2]) << 16 | static_cast<uint32_t>(text[3]) << 24;
}

struct Reader {
    std::ifstream file;
    AviSummary summary;
    const AviFrameReader* frame;
    const std::function<void(const uint8_t*, uint32_t)>* audio;
    uint32_t stream_type = 0;  // fccType of the last 'strh'

    bool Read(void* out, uint32_t size) { return static_cast<bool>(file.read(static_cast<char*>(out), size)); }

    void Chunk(uint32_t id, uint32_t size, std::streamoff start)
    {
        if (id == FourCc("strh") && size >= 32) {
            uint32_t header[8];
            Read(header, sizeof header);
            stream_type = header[0];
            AviStreamTiming timing{header[5], header[6], header[7]};
            if (stream_type == FourCc("vids"))
                summary.video_timing = timing;
            else if (stream_type == FourCc("auds"))
                summary.audio_timing = timing;
        } else if (id == FourCc("strf") && stream_type == FourCc("vids") && size >= sizeof(BITMAPINFOHEADER)) {
            Read(&summary.video, sizeof summary.video);
        } else if (id == FourCc("strf") && stream_type == FourCc("auds") && size >= 16) {
            Read(&summary.audio, size < sizeof summary.audio ? size : sizeof summary.audio);
            summary.has_audio = true;
        } else if ((id >> 16) == ('d' | 'c' << 8) || (id >> 16) == ('d' | 'b' << 8)) {
            std::vector<uint8_t> bytes(size);
            if (size && Read(bytes.data(), size)) {
                ++summary.video_frames;
                (*frame)(summary, summary.video_slots, bytes.data(), size);
            }
            ++summary.video_slots;
        } else if ((id >> 16) == ('w' | 'b' << 8)) {
            ++summary.audio_chunks;
            summary.audio_bytes += size;
            if (*audio && size) {
                std::vector<uint8_t> bytes(size);
                if (Read(bytes.data(), size))
                    (*audio)(bytes.data(), size);
            }
        }
        file.seekg(start + ((size + 1) & ~1u));
    }

    void List(std::streamoff end)
    {
        while (file.tellg() < end) {
            uint32_t header[2];
            if (!Read(header, 8))
                return;
            std::streamoff start = file.tellg();
            if (header[0] == FourCc("LIST") || header[0] == FourCc("RIFF")) {
                uint32_t kind;
                if (!Read(&kind, 4))
                    return;
                List(start + header[1]);
                file.seekg(start + ((header[1] + 1) & ~1u));
            } else {
                Chunk(header[0], header[1], start);
            }
            if (!file)
                return;
        }
    }
};

}  // namespace

AviSummary ReadAvi(const std::string& path, const std::function<void(const uint8_t*, uint32_t)>& frame)
{
    return ReadAviStreams(
        path, [&frame](const AviSummary&, int, const uint8_t* bytes, uint32_t size) { frame(bytes, size); },
        nullptr);
}

AviSummary ReadAviStreams(const std::string& path, const AviFrameReader& frame,
                          const std::function<void(const uint8_t*, uint32_t)>& audio)
{
    Reader reader;
    reader.frame = &frame;
    reader.audio = &audio;
    reader.file.open(path, std::ios::binary);
    if (!reader.file)
        return reader.summary;
    reader.file.seekg(0, std::ios::end);
    std::streamoff size = reader.file.tellg();
    reader.file.seekg(0);
    uint32_t riff[3];
    if (!reader.Read(riff, 12) || riff[0] != FourCc("RIFF") || riff[2] != FourCc("AVI "))
        return reader.summary;
    reader.file.seekg(0);
    reader.List(size);
    reader.summary.valid = reader.summary.video.biSize != 0;
    return reader.summary;
}
