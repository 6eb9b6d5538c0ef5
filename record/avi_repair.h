// Making a recording playable that ended without a stop (a crash, a killed
// process, a power cut). Needs no Windows API.
//
// The multiplexer may write the file's headers and indexes only at its stop,
// so what a repair needs is kept outside the movie while it records: the
// journal names the movie and holds every stream's format. The repair walks
// the chunks that reached the disk and writes the headers and indexes around
// them, in place; it never moves or overwrites a complete chunk.
#ifndef FERNWOODVIEW_AVI_REPAIR_H
#define FERNWOODVIEW_AVI_REPAIR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One stream of the movie, in the multiplexer's stream order ('00', '01', ...).
struct JournalStream {
    bool video = true;
    uint32_t handler = 0;      // strh fccHandler (video: biCompression, 0 for RGB)
    uint32_t scale = 1;        // one unit is scale / rate seconds
    uint32_t rate = 1;
    uint32_t sample_size = 0;  // 0 for video (a chunk is a unit), nBlockAlign for audio
    std::vector<uint8_t> format;  // strf: BITMAPINFOHEADER..., or WAVEFORMATEX...
};

struct RecordingJournal {
    std::string movie;  // the movie's full path, in the ANSI code page
    std::vector<JournalStream> streams;
};

// Plain "key=value" lines; ParseJournal refuses anything FormatJournal
// would not write (a torn or foreign file).
std::string FormatJournal(const RecordingJournal& journal);
bool ParseJournal(const std::string& text, RecordingJournal* journal);

// The movie's bytes, for the repair; offsets are absolute.
class RepairFile {
public:
    virtual ~RepairFile() = default;
    virtual uint64_t Size() = 0;
    virtual bool ReadAt(uint64_t offset, void* data, size_t size) = 0;
    virtual bool WriteAt(uint64_t offset, const void* data, size_t size) = 0;
    // Cuts the file at `size` (what lies beyond is a chunk written in part).
    virtual bool Truncate(uint64_t size) = 0;
};

enum class RepairOutcome {
    kRepaired,       // the file now plays to its last complete chunk
    kWasWhole,       // the file was finished already; nothing was written
    kNotUnderstood,  // left exactly as it was
    kFailed,         // reading or writing failed part way
};

struct RepairResult {
    RepairOutcome outcome = RepairOutcome::kNotUnderstood;
    uint64_t video_frames = 0;  // chunks of the first video stream kept
    uint64_t audio_bytes = 0;   // bytes of sound kept, all audio streams
    uint64_t cut_bytes = 0;     // bytes of a chunk written in part, cut off
};

RepairResult RepairRecording(RepairFile& file, const std::vector<JournalStream>& streams);

// The streams a movie's own header names, where it has a readable one (a
// finished movie, or a multiplexer that wrote its header early); false when
// it has none.
bool StreamsFromHeader(RepairFile& file, std::vector<JournalStream>* streams);

#endif
