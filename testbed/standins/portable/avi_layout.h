// The byte layout of an OpenDML AVI file as the AVI Mux stand-in writes it,
// without any Windows API:
//
//   RIFF 'AVI '  LIST 'hdrl' (avih, one LIST 'strl' per stream with strh,
//                strf and a super index 'indx' with room reserved, LIST 'odml'
//                with dmlh), JUNK up to an aligned 'movi',
//                LIST 'movi' (chunks in the order written, then one 'ix##'
//                per stream), idx1
//   RIFF 'AVIX'  LIST 'movi' (chunks, 'ix##')      once a RIFF is full
//
// Chunks go straight to the sink as they come; nothing else reaches it
// early, since Windows' multiplexer need not write its headers before its
// stop, and Wine's (qcap avimux.c, the public account of the behaviour)
// leaves the header area empty until then. Begin reserves the header and the
// first 'LIST' 'movi' header with zeros, and Finish writes both with the
// final counts; a later RIFF's 'RIFF' 'AVIX' and 'LIST' 'movi' headers are
// reserved when it opens and written, after its indexes, when it closes. So
// a process killed while recording leaves zeros where the headers go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fernwood::avi {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// Flags of 'avih' and 'idx1' and the delta-frame bit of an 'ix##' size.
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kDeltaFrame = 0x80000000u;

// Sample times count 100 ns units.
constexpr int64_t kUnitsPerSecond = 10000000;

enum class StreamKind { kVideo, kAudio };

struct StreamSetup {
    StreamKind kind = StreamKind::kVideo;
    uint32_t handler = 0;      // strh fccHandler
    uint32_t scale = 1;        // a time unit of the stream is scale / rate seconds
    uint32_t rate = 1;
    uint32_t sample_size = 0;  // 0: one chunk is one unit (video); else bytes per unit (audio)
    uint32_t start = 0;        // strh dwStart, in units
    int32_t width = 0;         // video: rcFrame and avih size
    int32_t height = 0;
    bool rgb = false;          // uncompressed DIB: chunks are '##db', else '##dc'
    std::vector<uint8_t> format;  // strf contents (BITMAPINFOHEADER..., WAVEFORMATEX...)
};

struct Limits {
    // A RIFF is closed before a chunk would take it past this many bytes; a
    // RIFF always takes at least one chunk.
    uint64_t riff_bytes = uint64_t{1} << 30;
    // Room in each stream's super index: one entry per RIFF the stream has
    // chunks in.
    uint32_t super_index_entries = 256;
    // 'movi' starts at a multiple of this, after JUNK.
    uint32_t header_alignment = 2048;
    // Whether the first RIFF also carries the legacy 'idx1'.
    bool legacy_index = true;
};

// Where the bytes go. Offsets are absolute in the file.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool WriteAt(uint64_t offset, const void* data, size_t size) = 0;
};

enum class Error { kNone, kWriteFailed, kChunkTooLarge, kIndexFull, kBadStream, kWrongState };

// The chunk id of stream n: '##dc', '##db' or '##wb'.
uint32_t ChunkId(size_t stream, const StreamSetup& setup);

class AviWriter {
public:
    AviWriter(ByteSink& sink, std::vector<StreamSetup> streams, const Limits& limits = Limits());

    // Reserves the header's room with zeros and opens the first 'movi'.
    bool Begin();
    // One chunk of stream `stream`; data may be null only when size is 0.
    bool AddChunk(size_t stream, const void* data, uint32_t size, bool keyframe);
    // A chunk of size bytes that all hold `fill` (silence), in pieces of at
    // most max_chunk bytes.
    bool AddFilledChunks(size_t stream, uint8_t fill, uint64_t size, uint32_t max_chunk);
    // Closes the last RIFF and writes the header with the final counts.
    bool Finish();

    // Changes a stream's strh dwStart before Finish writes it.
    void SetStart(size_t stream, uint32_t units);
    // Compensates the drift of the other streams against `master`, whose
    // data lasted `master_clock_seconds` by the graph's clock: a master that
    // holds more (or less) than that at its nominal rate ran fast (or slow),
    // and every other stream is stretched by the same ratio so that it plays
    // in step with it. A video stream (one chunk a unit) gets strh dwScale =
    // its frame duration times the ratio, with dwRate kept, so the avih
    // dwMicroSecPerFrame of the first video stream follows; an audio stream
    // gets strh dwRate divided by the ratio, with dwScale kept (strf is left
    // as it is). Where and how long the other streams are does not matter:
    // streams that end apart are not drift. An empty master, a clock time
    // that is not positive, or streams without data are left alone.
    void CompensateDrift(size_t master, double master_clock_seconds);

    // Why the last call failed. A failed write leaves the writer unusable;
    // a refused chunk does not.
    Error LastError() const { return error_; }
    bool Started() const { return started_; }
    bool Finished() const { return finished_; }
    size_t StreamCount() const { return streams_.size(); }
    // The stream's length in its own units so far.
    uint64_t Length(size_t stream) const;
    // Bytes of the file so far.
    uint64_t Size() const { return end_; }
    size_t RiffCount() const { return riffs_.size(); }
    // Where the first 'movi' list starts (its 'LIST' header).
    uint64_t FirstMoviOffset() const { return riffs_.empty() ? 0 : riffs_.front().movi; }

private:
    struct Entry {
        uint32_t stream;
        uint32_t size;
        uint64_t offset;  // of the chunk header
        bool key;
    };
    struct SuperEntry {
        uint64_t offset;  // of the 'ix##' chunk
        uint32_t size;    // of the whole chunk
        uint32_t duration;
    };
    struct Stream {
        StreamSetup setup;
        uint32_t id = 0;
        uint64_t chunks = 0;
        uint64_t bytes = 0;
        uint32_t max_chunk = 0;
        uint64_t riff_entries = 0;  // in the open RIFF
        uint64_t riff_bytes = 0;
        std::vector<SuperEntry> super;
    };
    struct Riff {
        uint64_t offset = 0;  // of its 'RIFF' header
        uint64_t movi = 0;    // of its 'LIST' 'movi' header
        uint32_t size = 0;    // the RIFF chunk's size field, once closed
        uint32_t movi_size = 0;
    };

    std::vector<uint8_t> Header() const;
    uint64_t HeaderBytes() const;
    uint64_t IndexBytesOnClose(size_t adding_to) const;
    uint64_t LengthOf(const Stream& s, uint64_t chunks, uint64_t bytes) const;
    bool OpenRiff();
    bool CloseRiff();
    std::vector<uint8_t> RiffHeaders(const Riff& riff) const;
    bool MakeRoom(size_t stream, uint32_t size);
    bool Write(uint64_t offset, const void* data, size_t size);
    bool Fail(Error error);
    bool Usable();

    ByteSink& sink_;
    std::vector<Stream> streams_;
    Limits limits_;
    std::vector<Riff> riffs_;
    std::vector<Entry> entries_;  // of the open RIFF, in file order
    uint64_t end_ = 0;
    int first_video_ = -1;
    uint64_t first_riff_frames_ = 0;  // avih dwTotalFrames: the first RIFF's video chunks
    bool started_ = false;
    bool finished_ = false;
    bool broken_ = false;  // a write failed: nothing more goes out
    Error error_ = Error::kNone;
};

// Where a video frame goes on the file's timeline, one slot per frame
// interval from stream time 0: a frame stamped later than the next free
// slot is preceded by empty chunks for the slots it skipped.
class FrameTimeline {
public:
    // frame_duration in 100 ns units; 0 or less: frames are only appended.
    explicit FrameTimeline(int64_t frame_duration) : duration_(frame_duration) {}

    // The number of empty chunks to write before a frame stamped at start.
    uint64_t Place(int64_t start);
    // A frame without a time stamp takes the next slot.
    void Append() { ++next_; }
    uint64_t NextSlot() const { return next_; }

    // A jump longer than this is taken for a time-stamp fault and not filled.
    static constexpr int64_t kMaxGap = 600 * kUnitsPerSecond;

private:
    int64_t duration_;
    uint64_t next_ = 0;
};

// Bytes of leading silence that put a PCM stream whose first block is
// stamped at start in its place on the timeline: whole blocks, 0 for a start
// at or before 0, bounded by FrameTimeline::kMaxGap.
uint64_t LeadingSilenceBytes(int64_t start, uint32_t samples_per_second, uint32_t block_align);

// strh dwStart, in units of scale / rate seconds, for a stream that starts
// at `start` (100 ns); 0 for a start at or before 0.
uint32_t StartUnits(int64_t start, uint32_t scale, uint32_t rate);

}  // namespace fernwood::avi
