#include "avi_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace fernwood::avi {
namespace {

constexpr uint32_t kRiff = FourCC('R', 'I', 'F', 'F');
constexpr uint32_t kList = FourCC('L', 'I', 'S', 'T');
constexpr size_t kAvihBytes = 56;
constexpr size_t kStrhBytes = 56;
constexpr size_t kDmlhBytes = 248;
constexpr size_t kIndexHeaderBytes = 24;  // after the chunk header, in 'indx' and 'ix##'
constexpr size_t kSuperEntryBytes = 16;
constexpr size_t kStdEntryBytes = 8;
constexpr size_t kIdx1EntryBytes = 16;
// A chunk's size field must leave the delta-frame bit of 'ix##' free.
constexpr uint32_t kMaxChunk = 0x7FFFFFFFu;
// Small chunks go out in one write with their header.
constexpr uint32_t kJoinedWrite = 4096;

uint64_t Padded(uint64_t size) { return size + (size & 1); }

class Bytes {
public:
    void U8(uint8_t v) { data_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Zeros(size_t n) { data_.insert(data_.end(), n, 0); }
    void Append(const std::vector<uint8_t>& bytes) { data_.insert(data_.end(), bytes.begin(), bytes.end()); }
    void Chunk(uint32_t id, uint64_t size) {
        U32(id);
        U32(static_cast<uint32_t>(size));
    }
    void List(uint32_t id, uint64_t size, uint32_t type) {
        Chunk(id, size);
        U32(type);
    }
    size_t Size() const { return data_.size(); }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
};

uint32_t Clamp32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)); }

char Digit(size_t n) { return static_cast<char>('0' + n % 10); }

uint64_t StrlBytes(const StreamSetup& s, uint32_t super_entries) {
    return 12 + 8 + kStrhBytes + 8 + Padded(s.format.size()) + 8 + kIndexHeaderBytes +
           uint64_t{kSuperEntryBytes} * super_entries;
}

}  // namespace

uint32_t ChunkId(size_t stream, const StreamSetup& setup) {
    const char a = Digit(stream / 10), b = Digit(stream);
    if (setup.kind == StreamKind::kAudio) return FourCC(a, b, 'w', 'b');
    return setup.rgb ? FourCC(a, b, 'd', 'b') : FourCC(a, b, 'd', 'c');
}

AviWriter::AviWriter(ByteSink& sink, std::vector<StreamSetup> streams, const Limits& limits)
    : sink_(sink), limits_(limits) {
    limits_.riff_bytes = std::clamp<uint64_t>(limits_.riff_bytes, 1, uint64_t{1} << 31);
    limits_.super_index_entries = std::max<uint32_t>(limits_.super_index_entries, 1);
    for (size_t i = 0; i < streams.size(); ++i) {
        Stream s;
        s.setup = std::move(streams[i]);
        if (s.setup.scale == 0) s.setup.scale = 1;
        if (s.setup.rate == 0) s.setup.rate = 1;
        s.id = ChunkId(i, s.setup);
        if (first_video_ < 0 && s.setup.kind == StreamKind::kVideo) first_video_ = static_cast<int>(i);
        streams_.push_back(std::move(s));
    }
}

bool AviWriter::Fail(Error error) {
    error_ = error;
    if (error == Error::kWriteFailed) broken_ = true;
    return false;
}

bool AviWriter::Usable() {
    if (!started_ || finished_) return Fail(Error::kWrongState);
    return !broken_ || Fail(Error::kWriteFailed);
}

bool AviWriter::Write(uint64_t offset, const void* data, size_t size) {
    if (size == 0) return true;
    return sink_.WriteAt(offset, data, size) || Fail(Error::kWriteFailed);
}

uint64_t AviWriter::HeaderBytes() const {
    uint64_t bytes = 12 + 12 + 8 + kAvihBytes + 12 + 8 + kDmlhBytes;
    for (const Stream& s : streams_) bytes += StrlBytes(s.setup, limits_.super_index_entries);
    bytes += 8;  // JUNK header
    const uint64_t align = std::max<uint32_t>(limits_.header_alignment, 1);
    return (bytes + align - 1) / align * align;
}

uint64_t AviWriter::LengthOf(const Stream& s, uint64_t chunks, uint64_t bytes) const {
    return s.setup.sample_size ? bytes / s.setup.sample_size : chunks;
}

uint64_t AviWriter::Length(size_t stream) const {
    if (stream >= streams_.size()) return 0;
    const Stream& s = streams_[stream];
    return LengthOf(s, s.chunks, s.bytes);
}

void AviWriter::SetStart(size_t stream, uint32_t units) {
    if (stream < streams_.size()) streams_[stream].setup.start = units;
}

void AviWriter::CompensateDrift(size_t master, double master_clock_seconds) {
    if (master >= streams_.size() || Length(master) == 0 || !(master_clock_seconds > 0)) return;
    const StreamSetup& m = streams_[master].setup;
    const double ratio = static_cast<double>(Length(master)) * m.scale / m.rate / master_clock_seconds;
    for (size_t i = 0; i < streams_.size(); ++i) {
        if (i == master || Length(i) == 0) continue;
        StreamSetup& s = streams_[i].setup;
        const double value = s.sample_size ? std::round(s.rate / ratio) : std::round(s.scale * ratio);
        if (value < 1 || value > 4294967295.0) continue;
        (s.sample_size ? s.rate : s.scale) = static_cast<uint32_t>(value);
    }
}

std::vector<uint8_t> AviWriter::Header() const {
    const uint32_t cap = limits_.super_index_entries;
    const uint64_t header_bytes = HeaderBytes();
    uint64_t strl_total = 0;
    for (const Stream& s : streams_) strl_total += StrlBytes(s.setup, cap);
    const uint64_t odml_bytes = 12 + 8 + kDmlhBytes;

    Bytes b;
    b.List(kRiff, riffs_.empty() ? 0 : riffs_.front().size, FourCC('A', 'V', 'I', ' '));
    b.List(kList, 4 + 8 + kAvihBytes + strl_total + odml_bytes, FourCC('h', 'd', 'r', 'l'));

    // avih
    const Stream* video = first_video_ >= 0 ? &streams_[static_cast<size_t>(first_video_)] : nullptr;
    uint64_t max_bytes_per_sec = 0;
    uint32_t max_chunk = 0;
    for (const Stream& s : streams_) {
        const StreamSetup& st = s.setup;
        max_chunk = std::max(max_chunk, s.max_chunk);
        max_bytes_per_sec += st.sample_size ? uint64_t{st.rate} * st.sample_size / st.scale
                                            : uint64_t{s.max_chunk} * st.rate / st.scale;
    }
    b.Chunk(FourCC('a', 'v', 'i', 'h'), kAvihBytes);
    b.U32(video ? Clamp32(static_cast<uint64_t>(std::llround(1e6 * video->setup.scale / video->setup.rate))) : 0);
    b.U32(Clamp32(max_bytes_per_sec));
    b.U32(0);  // dwPaddingGranularity
    b.U32(kAvifIsInterleaved | (limits_.legacy_index ? kAvifHasIndex : 0));
    b.U32(Clamp32(first_riff_frames_));
    b.U32(0);  // dwInitialFrames
    b.U32(static_cast<uint32_t>(streams_.size()));
    b.U32(max_chunk);
    b.U32(video ? static_cast<uint32_t>(video->setup.width) : 0);
    b.U32(video ? static_cast<uint32_t>(std::abs(video->setup.height)) : 0);
    b.Zeros(16);

    for (const Stream& s : streams_) {
        const StreamSetup& st = s.setup;
        const bool is_video = st.kind == StreamKind::kVideo;
        b.List(kList, StrlBytes(st, cap) - 8, FourCC('s', 't', 'r', 'l'));
        b.Chunk(FourCC('s', 't', 'r', 'h'), kStrhBytes);
        b.U32(is_video ? FourCC('v', 'i', 'd', 's') : FourCC('a', 'u', 'd', 's'));
        b.U32(st.handler);
        b.U32(0);  // dwFlags
        b.U32(0);  // wPriority, wLanguage
        b.U32(0);  // dwInitialFrames
        b.U32(st.scale);
        b.U32(st.rate);
        b.U32(st.start);
        b.U32(Clamp32(LengthOf(s, s.chunks, s.bytes)));
        b.U32(s.max_chunk);
        b.U32(0xFFFFFFFFu);  // dwQuality: the default
        b.U32(st.sample_size);
        b.U16(0);
        b.U16(0);
        b.U16(static_cast<uint16_t>(is_video ? st.width : 0));
        b.U16(static_cast<uint16_t>(is_video ? std::abs(st.height) : 0));

        b.Chunk(FourCC('s', 't', 'r', 'f'), st.format.size());
        b.Append(st.format);
        b.Zeros(Padded(st.format.size()) - st.format.size());

        b.Chunk(FourCC('i', 'n', 'd', 'x'), kIndexHeaderBytes + uint64_t{kSuperEntryBytes} * cap);
        b.U16(4);  // wLongsPerEntry
        b.U8(0);   // bIndexSubType
        b.U8(0);   // bIndexType: AVI_INDEX_OF_INDEXES
        b.U32(static_cast<uint32_t>(s.super.size()));
        b.U32(s.id);
        b.Zeros(12);
        for (const SuperEntry& e : s.super) {
            b.U64(e.offset);
            b.U32(e.size);
            b.U32(e.duration);
        }
        b.Zeros((cap - s.super.size()) * kSuperEntryBytes);
    }

    b.List(kList, odml_bytes - 8, FourCC('o', 'd', 'm', 'l'));
    b.Chunk(FourCC('d', 'm', 'l', 'h'), kDmlhBytes);
    b.U32(video ? Clamp32(video->chunks) : 0);
    b.Zeros(kDmlhBytes - 4);

    const uint64_t junk = header_bytes - b.Size() - 8;
    b.Chunk(FourCC('J', 'U', 'N', 'K'), junk);
    b.Zeros(junk);
    return b.Data();
}

bool AviWriter::Begin() {
    if (started_) return Fail(Error::kWrongState);
    started_ = true;
    end_ = 0;
    const std::vector<uint8_t> room(static_cast<size_t>(HeaderBytes()), 0);
    if (!Write(0, room.data(), room.size())) return false;
    end_ = room.size();
    Riff first;
    first.offset = 0;
    riffs_.push_back(first);
    return OpenRiff();
}

// Opens the RIFF last pushed: its headers' room, zeros until it closes (a
// later RIFF also has a 'RIFF' 'AVIX' header before its 'LIST' 'movi').
bool AviWriter::OpenRiff() {
    Riff& riff = riffs_.back();
    const size_t room = riffs_.size() > 1 ? 24 : 12;
    if (riffs_.size() > 1) riff.offset = end_;
    riff.movi = end_ + room - 12;
    const uint8_t zeros[24] = {};
    if (!Write(end_, zeros, room)) return false;
    end_ += room;
    entries_.clear();
    for (Stream& s : streams_) s.riff_entries = s.riff_bytes = 0;
    return true;
}

// 'RIFF' 'AVIX' (for a later RIFF) and 'LIST' 'movi' with their sizes.
std::vector<uint8_t> AviWriter::RiffHeaders(const Riff& riff) const {
    Bytes b;
    if (riff.offset) b.List(kRiff, riff.size, FourCC('A', 'V', 'I', 'X'));
    b.List(kList, riff.movi_size, FourCC('m', 'o', 'v', 'i'));
    return b.Data();
}

uint64_t AviWriter::IndexBytesOnClose(size_t adding_to) const {
    uint64_t bytes = 0;
    for (size_t i = 0; i < streams_.size(); ++i) {
        const uint64_t n = streams_[i].riff_entries + (i == adding_to ? 1 : 0);
        if (n) bytes += 8 + kIndexHeaderBytes + n * kStdEntryBytes;
    }
    if (riffs_.size() == 1 && limits_.legacy_index) {
        const uint64_t n = entries_.size() + (adding_to < streams_.size() ? 1 : 0);
        bytes += 8 + n * kIdx1EntryBytes;
    }
    return bytes;
}

// Writes the open RIFF's standard indexes at the end of its 'movi' (and the
// legacy index after the first 'movi'), then its headers, except the first
// RIFF's, which Finish writes.
bool AviWriter::CloseRiff() {
    Riff& riff = riffs_.back();
    for (size_t i = 0; i < streams_.size(); ++i) {
        Stream& s = streams_[i];
        if (!s.riff_entries) continue;
        Bytes b;
        b.Chunk(FourCC('i', 'x', Digit(i / 10), Digit(i)), kIndexHeaderBytes + s.riff_entries * kStdEntryBytes);
        b.U16(2);  // wLongsPerEntry
        b.U8(0);   // bIndexSubType
        b.U8(1);   // bIndexType: AVI_INDEX_OF_CHUNKS
        b.U32(static_cast<uint32_t>(s.riff_entries));
        b.U32(s.id);
        b.U64(riff.offset);  // qwBaseOffset
        b.U32(0);
        for (const Entry& e : entries_) {
            if (e.stream != i) continue;
            b.U32(static_cast<uint32_t>(e.offset + 8 - riff.offset));
            b.U32(e.size | (e.key ? 0 : kDeltaFrame));
        }
        if (!Write(end_, b.Data().data(), b.Size())) return false;
        s.super.push_back({end_, static_cast<uint32_t>(b.Size()),
                           Clamp32(LengthOf(s, s.riff_entries, s.riff_bytes))});
        end_ += b.Size();
    }
    const uint64_t movi_end = end_;
    if (riffs_.size() == 1) {
        if (first_video_ >= 0) first_riff_frames_ = streams_[static_cast<size_t>(first_video_)].riff_entries;
        if (limits_.legacy_index) {
            Bytes b;
            b.Chunk(FourCC('i', 'd', 'x', '1'), entries_.size() * kIdx1EntryBytes);
            const uint64_t base = riff.movi + 8;  // the 'movi' type
            for (const Entry& e : entries_) {
                b.U32(streams_[e.stream].id);
                b.U32(e.key ? kAviifKeyframe : 0);
                b.U32(static_cast<uint32_t>(e.offset - base));
                b.U32(e.size);
            }
            if (!Write(end_, b.Data().data(), b.Size())) return false;
            end_ += b.Size();
        }
    }
    riff.movi_size = static_cast<uint32_t>(movi_end - riff.movi - 8);
    riff.size = static_cast<uint32_t>(end_ - riff.offset - 8);
    if (riffs_.size() == 1) return true;  // its headers go out with the file's, at Finish
    const std::vector<uint8_t> headers = RiffHeaders(riff);
    return Write(riff.offset, headers.data(), headers.size());
}

bool AviWriter::MakeRoom(size_t stream, uint32_t size) {
    if (entries_.empty()) return true;
    const Riff& riff = riffs_.back();
    const uint64_t after = end_ + 8 + Padded(size) + IndexBytesOnClose(stream) - riff.offset - 8;
    if (after <= limits_.riff_bytes) return true;
    if (riffs_.size() >= limits_.super_index_entries) return Fail(Error::kIndexFull);
    if (!CloseRiff()) return false;
    riffs_.push_back(Riff());
    return OpenRiff();
}

bool AviWriter::AddChunk(size_t stream, const void* data, uint32_t size, bool keyframe) {
    if (!Usable()) return false;
    if (stream >= streams_.size() || (!data && size)) return Fail(Error::kBadStream);
    if (size > kMaxChunk) return Fail(Error::kChunkTooLarge);
    if (!MakeRoom(stream, size)) return false;
    Stream& s = streams_[stream];
    uint8_t head[8];
    for (int i = 0; i < 4; ++i) {
        head[i] = static_cast<uint8_t>(s.id >> (8 * i));
        head[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    const uint64_t at = end_;
    const uint64_t total = 8 + Padded(size);
    if (size <= kJoinedWrite) {
        uint8_t joined[8 + kJoinedWrite + 1] = {};
        std::memcpy(joined, head, 8);
        if (size) std::memcpy(joined + 8, data, size);
        if (!Write(at, joined, static_cast<size_t>(total))) return false;
    } else {
        const uint8_t pad = 0;
        if (!Write(at, head, 8) || !Write(at + 8, data, size) || ((size & 1) && !Write(at + 8 + size, &pad, 1)))
            return false;
    }
    end_ += total;
    entries_.push_back({static_cast<uint32_t>(stream), size, at, keyframe});
    ++s.chunks;
    s.bytes += size;
    ++s.riff_entries;
    s.riff_bytes += size;
    s.max_chunk = std::max(s.max_chunk, size);
    return true;
}

bool AviWriter::AddFilledChunks(size_t stream, uint8_t fill, uint64_t size, uint32_t max_chunk) {
    if (max_chunk == 0) return Fail(Error::kBadStream);
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(size, max_chunk)), fill);
    while (size) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, max_chunk));
        if (!AddChunk(stream, piece.data(), n, true)) return false;
        size -= n;
    }
    return true;
}

bool AviWriter::Finish() {
    if (!Usable()) return false;
    if (!CloseRiff()) return false;
    std::vector<uint8_t> header = Header();
    const std::vector<uint8_t> movi = RiffHeaders(riffs_.front());
    header.insert(header.end(), movi.begin(), movi.end());
    if (!Write(0, header.data(), header.size())) return false;
    finished_ = true;
    return true;
}

uint64_t FrameTimeline::Place(int64_t start) {
    if (duration_ <= 0 || start < 0) {
        ++next_;
        return 0;
    }
    const uint64_t d = static_cast<uint64_t>(duration_), t = static_cast<uint64_t>(start);
    const uint64_t slot = t / d + (t % d >= (d + 1) / 2 ? 1 : 0);
    if (slot <= next_ || slot - next_ > static_cast<uint64_t>(kMaxGap) / d) {
        ++next_;
        return 0;
    }
    const uint64_t gap = slot - next_;
    next_ = slot + 1;
    return gap;
}

uint64_t LeadingSilenceBytes(int64_t start, uint32_t samples_per_second, uint32_t block_align) {
    if (start <= 0 || samples_per_second == 0 || block_align == 0) return 0;
    const uint64_t t = static_cast<uint64_t>(std::min(start, FrameTimeline::kMaxGap));
    const uint64_t second = kUnitsPerSecond;
    const uint64_t frames =
        t / second * samples_per_second + ((t % second) * samples_per_second + second / 2) / second;
    return frames * block_align;
}

uint32_t StartUnits(int64_t start, uint32_t scale, uint32_t rate) {
    if (start <= 0 || scale == 0) return 0;
    const double units = std::round(static_cast<double>(start) / kUnitsPerSecond * rate / scale);
    return units >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(units);
}

}  // namespace fernwood::avi
