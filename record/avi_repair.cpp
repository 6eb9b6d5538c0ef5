#include "record/avi_repair.h"

#include <algorithm>
#include <cstdlib>

// The layout written is OpenDML AVI as Windows' multiplexer writes it: the
// legacy RIFF 'AVI ' first, then 'AVIX' RIFFs of about 1 GiB, a super index
// per stream in the header and one standard index per stream and RIFF.

namespace {

constexpr uint32_t Fcc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kRiff = Fcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = Fcc('L', 'I', 'S', 'T');
constexpr uint32_t kAvi = Fcc('A', 'V', 'I', ' ');
constexpr uint32_t kAvix = Fcc('A', 'V', 'I', 'X');
constexpr uint32_t kMovi = Fcc('m', 'o', 'v', 'i');
constexpr uint32_t kRec = Fcc('r', 'e', 'c', ' ');
constexpr uint32_t kJunk = Fcc('J', 'U', 'N', 'K');
constexpr uint32_t kIdx1 = Fcc('i', 'd', 'x', '1');
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kDeltaFrame = 0x80000000u;
constexpr uint64_t kRiffTarget = uint64_t{1} << 30;
// A RIFF's size and the standard index's offsets from its base are 32-bit.
constexpr uint64_t kRiffMax = 0xFFFFFFFFu;
constexpr uint32_t kCompressedMax = 64u << 20;
constexpr uint32_t kHeaderMax = 1u << 20;
constexpr size_t kScanBlock = 1 << 16;
constexpr uint64_t kFixedHeaderBytes = 12 + 12 + 8 + 56 + 12 + 8 + 248 + 12;  // up to 'movi', no strl
constexpr uint64_t kStrlBytes = 12 + 8 + 56 + 8 + 8 + 24;  // without strf's bytes and super entries

uint64_t Padded(uint64_t n) { return n + (n & 1); }
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16; }
uint64_t Get64(const uint8_t* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }
uint32_t Clamp32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)); }

// Little-endian fields appended in order.
struct Bytes {
    std::vector<uint8_t> b;
    void U16(uint32_t v) { b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
    void U32(uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
    void U64(uint64_t v) { U32(static_cast<uint32_t>(v)), U32(static_cast<uint32_t>(v >> 32)); }
    void Chunk(uint32_t id, uint64_t size) { U32(id), U32(static_cast<uint32_t>(size)); }
    void List(uint32_t id, uint64_t size, uint32_t type) { Chunk(id, size), U32(type); }
    void Zeros(uint64_t n) { b.insert(b.end(), static_cast<size_t>(n), 0); }
};

struct Chunk {
    uint64_t offset;  // of its header
    uint32_t id;
    uint32_t size;
    uint32_t stream;
    bool indexed;  // a frame or a piece of sound; not a palette change
};

struct SuperEntry {
    uint64_t offset;  // of an 'ix##' chunk
    uint32_t size;    // of the whole chunk
    uint32_t duration;
};

struct StreamTotals {
    uint32_t id = 0;
    uint64_t chunks = 0;
    uint64_t bytes = 0;
    uint32_t max_chunk = 0;
    std::vector<SuperEntry> super;
};

// A chunk header as read.
struct Head {
    uint32_t id = 0;
    uint32_t size = 0;
    int stream = -1;
};

struct Repair {
    Repair(RepairFile& f, const std::vector<JournalStream>& s) : file(f), streams(s) {}
    RepairFile& file;
    const std::vector<JournalStream>& streams;
    uint64_t size = 0;
    std::vector<uint32_t> bound;
    std::vector<Chunk> chunks;
    bool foreign = false;
    bool read_failed = false;
    std::vector<uint64_t> riffs;       // where each RIFF starts
    std::vector<size_t> riff_chunks;   // its first chunk
    std::vector<StreamTotals> totals;
};

enum class Kind { kNone, kMedia, kTorn, kDescend, kSkip, kForeign };

// The stream of a '##dc', '##db', '##wb' or '##pc' chunk that fits the
// journal, or -1. Wine's multiplexer names sound chunks '##db' and '##dc'.
int MediaStream(const Repair& r, const uint8_t* h, bool* kind_fits)
{
    if (h[0] < '0' || h[0] > '9' || h[1] < '0' || h[1] > '9')
        return -1;
    const bool dc = h[2] == 'd' && (h[3] == 'c' || h[3] == 'b'), wb = h[2] == 'w' && h[3] == 'b';
    const bool pc = h[2] == 'p' && h[3] == 'c';
    if (!dc && !wb && !pc)
        return -1;
    const int stream = (h[0] - '0') * 10 + (h[1] - '0');
    *kind_fits = stream < static_cast<int>(r.streams.size()) && (r.streams[stream].video ? !wb : !pc);
    return stream;
}

bool IsIndexId(uint32_t id) { return (id & 0xFFFF) == (Fcc('i', 'x', 0, 0) & 0xFFFF); }

Kind Classify(Repair& r, uint64_t at, Head* head)
{
    uint8_t h[12] = {};
    const size_t have = static_cast<size_t>(std::min<uint64_t>(12, r.size - at));
    if (have < 8)
        return Kind::kTorn;
    if (!r.file.ReadAt(at, h, have)) {
        r.read_failed = true;
        return Kind::kNone;
    }
    const uint32_t id = Get32(h), type = have == 12 ? Get32(h + 8) : 0;
    head->id = id;
    head->size = Get32(h + 4);
    const bool fits = at + 8 + Padded(head->size) <= r.size;
    bool kind_fits = false;
    head->stream = MediaStream(r, h, &kind_fits);
    if (head->stream >= 0) {
        if (!kind_fits)
            return fits ? Kind::kForeign : Kind::kNone;
        if (head->size > r.bound[static_cast<size_t>(head->stream)])
            return fits ? Kind::kForeign : Kind::kNone;
        return fits ? Kind::kMedia : Kind::kTorn;
    }
    if (id == kRiff)
        return type == kAvi || type == kAvix ? Kind::kDescend : Kind::kNone;
    if (id == kList && have == 12 && (type == kMovi || type == kRec))
        return Kind::kDescend;
    if (id == kList || id == kJunk || id == kIdx1 || IsIndexId(id))
        return fits ? Kind::kSkip : Kind::kNone;
    return Kind::kNone;
}

// A chunk found by scanning is taken only when what follows it is a chunk
// too, the end of the data, or a zero hole the multiplexer reserved.
bool Confirmed(Repair& r, uint64_t at, uint32_t size)
{
    const uint64_t next = at + 8 + Padded(size);
    if (next + 8 > r.size)
        return true;
    Head head;
    if (Classify(r, next, &head) != Kind::kNone)
        return true;
    uint8_t h[8];
    if (!r.file.ReadAt(next, h, 8)) {
        r.read_failed = true;
        return false;
    }
    return std::all_of(h, h + 8, [](uint8_t b) { return b == 0; });
}

// The next confirmed media chunk at or after `from`, on 2-byte alignment.
bool Resync(Repair& r, uint64_t from, uint64_t* found)
{
    std::vector<uint8_t> block(kScanBlock + 4);
    for (uint64_t base = from; base + 8 <= r.size && !r.read_failed; base += kScanBlock) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kScanBlock + 4, r.size - base));
        if (!r.file.ReadAt(base, block.data(), n)) {
            r.read_failed = true;
            return false;
        }
        for (size_t i = 0; i + 4 <= n && i < kScanBlock; i += 2) {
            bool kind_fits = false;
            if (MediaStream(r, &block[i], &kind_fits) < 0 || !kind_fits)
                continue;
            Head head;
            if (Classify(r, base + i, &head) == Kind::kMedia && Confirmed(r, base + i, head.size)) {
                *found = base + i;
                return true;
            }
        }
    }
    return false;
}

void Walk(Repair& r)
{
    uint64_t at = 0;
    while (at < r.size && !r.read_failed) {
        Head head;
        switch (Classify(r, at, &head)) {
        case Kind::kMedia: {
            const bool palette = head.id >> 16 == (Fcc(0, 0, 'p', 'c') >> 16);
            r.chunks.push_back({at, head.id, head.size, static_cast<uint32_t>(head.stream), !palette});
            at += 8 + Padded(head.size);
            break;
        }
        case Kind::kTorn:
            return;
        case Kind::kDescend:
            at += 12;
            break;
        case Kind::kSkip:
            at += 8 + Padded(head.size);
            break;
        case Kind::kForeign:
            r.foreign = true;
            return;
        case Kind::kNone:
            if (!Resync(r, at + 2, &at))
                return;
            break;
        }
    }
}

// Twice an uncompressed picture's bytes; a compressed frame may come to
// more than its format says.
uint32_t VideoBound(const std::vector<uint8_t>& bih)
{
    const uint32_t compression = Get32(&bih[16]);
    if (compression != 0 && compression != 3 && compression != Fcc('U', 'Y', 'V', 'Y') &&
        compression != Fcc('Y', 'U', 'Y', '2'))
        return kCompressedMax;
    const uint64_t height = static_cast<uint64_t>(std::abs(static_cast<int64_t>(static_cast<int32_t>(Get32(&bih[8])))));
    const uint64_t row = (uint64_t{Get32(&bih[4])} * Get16(&bih[14]) + 31) / 32 * 4;
    const uint64_t image = Get32(&bih[20]) ? Get32(&bih[20]) : row * height;
    return Clamp32(std::clamp<uint64_t>(2 * image, 4096, 0x7FFFFFFF));
}

// The journal's formats must describe streams this repair can write.
bool SetBounds(Repair& r)
{
    if (r.streams.empty() || r.streams.size() > 100)
        return false;
    for (const JournalStream& s : r.streams) {
        const std::vector<uint8_t>& f = s.format;
        if (s.scale == 0 || s.rate == 0)
            return false;
        if (s.video) {
            if (f.size() < 40 || Get32(f.data()) < 40 || static_cast<int32_t>(Get32(&f[4])) <= 0 || Get32(&f[8]) == 0)
                return false;
            r.bound.push_back(VideoBound(f));
        } else {
            if (f.size() < 16 || s.sample_size == 0 || Get16(&f[2]) == 0 || Get32(&f[4]) == 0 || Get32(&f[8]) == 0 ||
                Get16(&f[12]) == 0)
                return false;
            r.bound.push_back(Clamp32(std::clamp<uint64_t>(uint64_t{Get32(&f[8])} * 10, 1u << 20, kCompressedMax)));
        }
    }
    return true;
}

uint64_t ChunkEnd(const Chunk& c) { return c.offset + 8 + Padded(c.size); }

// Where each RIFF starts: at a gap between chunks that holds the 'RIFF'
// 'AVIX' and 'LIST' 'movi' headers (and a JUNK before them), the last such
// gap within kRiffTarget of the RIFF's start, else the first beyond it.
void PlanRiffs(Repair& r)
{
    r.riffs.assign(1, 0);
    r.riff_chunks.assign(1, 0);
    const uint64_t data_end = ChunkEnd(r.chunks.back());
    size_t next = 1;
    while (data_end - r.riffs.back() - 8 > kRiffTarget) {
        size_t best = 0;
        for (size_t i = next; i < r.chunks.size(); ++i) {
            const uint64_t gap = r.chunks[i].offset - ChunkEnd(r.chunks[i - 1]);
            if (gap != 24 && gap < 32)
                continue;
            const bool within = r.chunks[i].offset - 24 - r.riffs.back() - 8 <= kRiffTarget;
            if (!within && best)
                break;
            best = i;
            if (!within)
                break;
        }
        if (!best)
            return;
        r.riffs.push_back(r.chunks[best].offset - 24);
        r.riff_chunks.push_back(best);
        next = best + 1;
    }
}

// The standard indexes of every RIFF, then idx1 for a file of one RIFF;
// returns the bytes of idx1.
uint64_t AppendIndexes(Repair& r, Bytes* tail, uint64_t at)
{
    const size_t n = r.streams.size();
    std::vector<uint64_t> units_before(n, 0);
    for (size_t k = 0; k < r.riffs.size(); ++k) {
        const size_t first = r.riff_chunks[k], last = k + 1 < r.riffs.size() ? r.riff_chunks[k + 1] : r.chunks.size();
        for (size_t s = 0; s < n; ++s) {
            StreamTotals& t = r.totals[s];
            uint32_t entries = 0;
            uint64_t bytes = 0;
            for (size_t c = first; c < last; ++c)
                if (r.chunks[c].stream == s && r.chunks[c].indexed) {
                    ++entries;
                    bytes += r.chunks[c].size;
                }
            if (!entries)
                continue;
            const uint64_t ix_at = at + tail->b.size();
            tail->Chunk(Fcc('i', 'x', static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10)),
                        24 + uint64_t{8} * entries);
            tail->U16(2);  // wLongsPerEntry, bIndexSubType 0, bIndexType AVI_INDEX_OF_CHUNKS
            tail->U16(0x100);
            tail->U32(entries);
            tail->U32(t.id);
            tail->U64(r.riffs[k]);
            tail->U32(0);
            for (size_t c = first; c < last; ++c) {
                const Chunk& ch = r.chunks[c];
                if (ch.stream != s || !ch.indexed)
                    continue;
                tail->U32(static_cast<uint32_t>(ch.offset + 8 - r.riffs[k]));
                tail->U32(ch.size | (ch.size || !r.streams[s].video ? 0 : kDeltaFrame));
            }
            // Sound's durations are whole units from the start, so that they add up to strh's length.
            const uint32_t ss = r.streams[s].sample_size;
            const uint64_t duration =
                ss ? (units_before[s] + bytes) / ss - units_before[s] / ss : entries;
            units_before[s] += bytes;
            t.super.push_back({ix_at, 8 + 24 + 8 * entries, Clamp32(duration)});
        }
    }
    if (r.riffs.size() > 1)
        return 0;
    const uint64_t movi = r.chunks.front().offset - 4;  // idx1 offsets count from the 'movi' type
    const size_t idx1_at = tail->b.size();
    uint64_t entries = 0;
    for (const Chunk& c : r.chunks)
        entries += c.indexed;
    tail->Chunk(kIdx1, 16 * entries);
    for (const Chunk& c : r.chunks) {
        if (!c.indexed)
            continue;
        tail->U32(c.id);
        tail->U32(c.size || !r.streams[c.stream].video ? kAviifKeyframe : 0);
        tail->U32(static_cast<uint32_t>(c.offset - movi));
        tail->U32(c.size);
    }
    return tail->b.size() - idx1_at;
}

uint64_t Units(const JournalStream& s, const StreamTotals& t) { return s.sample_size ? t.bytes / s.sample_size : t.chunks; }

std::vector<uint8_t> Header(Repair& r, uint64_t riff0_size, uint64_t movi0_size)
{
    const uint64_t cap = r.riffs.size();
    const uint64_t room = r.chunks.front().offset;
    uint64_t strl_total = 0;
    for (const JournalStream& s : r.streams)
        strl_total += kStrlBytes + Padded(s.format.size()) + 16 * cap;
    const uint64_t spare = room - kFixedHeaderBytes - strl_total;
    const uint64_t dmlh = 248 + (spare < 8 ? spare : 0);

    int video = -1;
    uint64_t first_riff_frames = 0, max_bytes_per_sec = 0;
    uint32_t max_chunk = 0;
    for (size_t s = 0; s < r.streams.size(); ++s) {
        const JournalStream& st = r.streams[s];
        const StreamTotals& t = r.totals[s];
        if (video < 0 && st.video)
            video = static_cast<int>(s);
        max_chunk = std::max(max_chunk, t.max_chunk);
        max_bytes_per_sec += (st.sample_size ? uint64_t{st.sample_size} : t.max_chunk) * st.rate / st.scale;
    }
    const size_t riff1_chunk = r.riffs.size() > 1 ? r.riff_chunks[1] : r.chunks.size();
    for (size_t c = 0; c < riff1_chunk; ++c)
        first_riff_frames += video >= 0 && r.chunks[c].stream == static_cast<uint32_t>(video) && r.chunks[c].indexed;
    const JournalStream* v = video >= 0 ? &r.streams[static_cast<size_t>(video)] : nullptr;
    const uint32_t width = v ? Get32(&v->format[4]) : 0;
    const uint32_t height = v ? Clamp32(std::abs(static_cast<int64_t>(static_cast<int32_t>(Get32(&v->format[8]))))) : 0;

    Bytes b;
    b.List(kRiff, riff0_size, kAvi);
    b.List(kList, 4 + 8 + 56 + strl_total + 12 + 8 + dmlh, Fcc('h', 'd', 'r', 'l'));
    b.Chunk(Fcc('a', 'v', 'i', 'h'), 56);
    b.U32(v ? Clamp32((uint64_t{v->scale} * 1000000 + v->rate / 2) / v->rate) : 0);
    b.U32(Clamp32(max_bytes_per_sec));
    b.U32(0);
    b.U32((r.streams.size() > 1 ? kAvifIsInterleaved : 0) | (r.riffs.size() == 1 ? kAvifHasIndex : 0));
    b.U32(Clamp32(first_riff_frames));
    b.U32(0);
    b.U32(static_cast<uint32_t>(r.streams.size()));
    b.U32(max_chunk);
    b.U32(width);
    b.U32(height);
    b.Zeros(16);
    for (size_t s = 0; s < r.streams.size(); ++s) {
        const JournalStream& st = r.streams[s];
        const StreamTotals& t = r.totals[s];
        b.List(kList, kStrlBytes - 8 + Padded(st.format.size()) + 16 * cap, Fcc('s', 't', 'r', 'l'));
        b.Chunk(Fcc('s', 't', 'r', 'h'), 56);
        b.U32(st.video ? Fcc('v', 'i', 'd', 's') : Fcc('a', 'u', 'd', 's'));
        b.U32(st.handler);
        b.Zeros(12);  // dwFlags, wPriority, wLanguage, dwInitialFrames
        b.U32(st.scale);
        b.U32(st.rate);
        b.U32(0);
        b.U32(Clamp32(Units(st, t)));
        b.U32(t.max_chunk);
        b.U32(0xFFFFFFFFu);
        b.U32(st.sample_size);
        b.U32(0);
        b.U16(st.video ? width : 0);
        b.U16(st.video ? height : 0);
        b.Chunk(Fcc('s', 't', 'r', 'f'), st.format.size());
        b.b.insert(b.b.end(), st.format.begin(), st.format.end());
        b.Zeros(st.format.size() & 1);
        b.Chunk(Fcc('i', 'n', 'd', 'x'), 24 + 16 * cap);
        b.U16(4);  // wLongsPerEntry, bIndexSubType 0, bIndexType AVI_INDEX_OF_INDEXES
        b.U16(0);
        b.U32(static_cast<uint32_t>(t.super.size()));
        b.U32(t.id);
        b.Zeros(12);
        for (const SuperEntry& e : t.super) {
            b.U64(e.offset);
            b.U32(e.size);
            b.U32(e.duration);
        }
        b.Zeros(16 * (cap - t.super.size()));
    }
    b.List(kList, 4 + 8 + dmlh, Fcc('o', 'd', 'm', 'l'));
    b.Chunk(Fcc('d', 'm', 'l', 'h'), dmlh);
    b.U32(v ? Clamp32(r.totals[static_cast<size_t>(video)].chunks) : 0);
    b.Zeros(dmlh - 4);
    if (spare >= 8) {
        b.Chunk(kJunk, spare - 8);
        b.Zeros(spare - 8);
    }
    b.List(kList, movi0_size, kMovi);
    return b.b;
}

bool WriteList(RepairFile& file, uint64_t at, uint32_t id, uint64_t size, uint32_t type)
{
    Bytes b;
    b.List(id, size, type);
    return file.WriteAt(at, b.b.data(), b.b.size());
}

bool WriteJunk(RepairFile& file, uint64_t from, uint64_t to)
{
    if (to == from)
        return true;
    Bytes b;
    b.Chunk(kJunk, to - from - 8);
    return file.WriteAt(from, b.b.data(), b.b.size());
}

// Everything is checked before the first byte is written.
RepairOutcome Rewrite(Repair& r)
{
    r.totals.assign(r.streams.size(), StreamTotals());
    for (size_t s = 0; s < r.streams.size(); ++s)
        r.totals[s].id = Fcc(static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10),
                             r.streams[s].video ? 'd' : 'w', r.streams[s].video ? 'c' : 'b');
    std::vector<bool> named(r.streams.size(), false);
    for (const Chunk& c : r.chunks) {
        StreamTotals& t = r.totals[c.stream];
        if (!c.indexed)
            continue;
        if (!named[c.stream])
            t.id = c.id;
        named[c.stream] = true;
        ++t.chunks;
        t.bytes += c.size;
        t.max_chunk = std::max(t.max_chunk, c.size);
    }
    for (size_t i = 1; i < r.chunks.size(); ++i) {
        const uint64_t gap = r.chunks[i].offset - ChunkEnd(r.chunks[i - 1]);
        if (gap && gap < 8)
            return RepairOutcome::kNotUnderstood;
    }
    PlanRiffs(r);
    uint64_t strl_total = 0;
    for (const JournalStream& s : r.streams)
        strl_total += kStrlBytes + Padded(s.format.size()) + 16 * r.riffs.size();
    if (r.chunks.front().offset < kFixedHeaderBytes + strl_total)
        return RepairOutcome::kNotUnderstood;

    const uint64_t data_end = ChunkEnd(r.chunks.back());
    Bytes tail;
    const uint64_t idx1 = AppendIndexes(r, &tail, data_end);
    const bool one_riff = r.riffs.size() == 1;
    const uint64_t file_end = data_end + tail.b.size();
    const uint64_t movi_end = file_end - idx1;
    for (size_t k = 0; k < r.riffs.size(); ++k) {
        const uint64_t end = k + 1 < r.riffs.size() ? r.riffs[k + 1] : file_end;
        if (end - r.riffs[k] > kRiffMax)
            return RepairOutcome::kNotUnderstood;
    }

    if (!r.file.WriteAt(data_end, tail.b.data(), tail.b.size()))
        return RepairOutcome::kFailed;
    for (size_t i = 1; i < r.chunks.size(); ++i) {
        const uint64_t from = ChunkEnd(r.chunks[i - 1]), to = r.chunks[i].offset;
        const auto split = std::find(r.riff_chunks.begin() + 1, r.riff_chunks.end(), i);
        if (split == r.riff_chunks.end()) {
            if (!WriteJunk(r.file, from, to))
                return RepairOutcome::kFailed;
            continue;
        }
        const size_t k = static_cast<size_t>(split - r.riff_chunks.begin());
        const uint64_t end = k + 1 < r.riffs.size() ? r.riffs[k + 1] : file_end;
        const uint64_t this_movi_end = k + 1 < r.riffs.size() ? end : movi_end;
        if (!WriteJunk(r.file, from, to - 24) || !WriteList(r.file, to - 24, kRiff, end - (to - 24) - 8, kAvix) ||
            !WriteList(r.file, to - 12, kList, this_movi_end - (to - 12) - 8, kMovi))
            return RepairOutcome::kFailed;
    }
    const uint64_t riff0_end = one_riff ? file_end : r.riffs[1];
    const uint64_t movi0 = r.chunks.front().offset - 12;
    const std::vector<uint8_t> header =
        Header(r, riff0_end - 8, (one_riff ? movi_end : riff0_end) - movi0 - 8);
    if (!r.file.WriteAt(0, header.data(), header.size()) || !r.file.Truncate(file_end))
        return RepairOutcome::kFailed;
    return RepairOutcome::kRepaired;
}

struct HeaderInfo {
    std::vector<JournalStream> streams;
    std::vector<uint32_t> lengths;
    std::vector<uint64_t> durations;  // the super index's, per stream
    std::vector<bool> indexed;        // the super index names chunks inside the file
};

// The stream list of 'hdrl' at offset 12.
bool ReadHeader(RepairFile& file, uint64_t size, HeaderInfo* info)
{
    uint8_t h[24];
    if (size < 24 || !file.ReadAt(0, h, 24) || Get32(h) != kRiff || Get32(h + 8) != kAvi || Get32(h + 12) != kList ||
        Get32(h + 20) != Fcc('h', 'd', 'r', 'l'))
        return false;
    const uint32_t hdrl = Get32(h + 16);
    if (hdrl < 4 || hdrl > kHeaderMax || 20 + uint64_t{hdrl} > size)
        return false;
    std::vector<uint8_t> b(hdrl - 4);
    if (!b.empty() && !file.ReadAt(24, b.data(), b.size()))
        return false;
    for (size_t at = 0; at + 8 <= b.size();) {
        const uint32_t id = Get32(&b[at]), n = Get32(&b[at + 4]);
        if (n > b.size() - at - 8)
            return false;
        const uint8_t* body = &b[at + 8];
        if (id == kList && n >= 4 && Get32(body) == Fcc('s', 't', 'r', 'l')) {
            at += 12;  // into the list
            continue;
        }
        if (id == Fcc('s', 't', 'r', 'h') && n >= 56) {
            JournalStream s;
            s.video = Get32(body) == Fcc('v', 'i', 'd', 's');
            if (!s.video && Get32(body) != Fcc('a', 'u', 'd', 's'))
                return false;
            s.handler = Get32(body + 4);
            s.scale = Get32(body + 20);
            s.rate = Get32(body + 24);
            s.sample_size = Get32(body + 44);
            info->streams.push_back(s);
            info->lengths.push_back(Get32(body + 32));
            info->durations.push_back(0);
            info->indexed.push_back(false);
        } else if (id == Fcc('s', 't', 'r', 'f') && !info->streams.empty()) {
            info->streams.back().format.assign(body, body + n);
        } else if (id == Fcc('i', 'n', 'd', 'x') && !info->streams.empty() && n >= 24) {
            const uint32_t used = Get32(body + 4);
            bool inside = used > 0 && Get16(body) == 4 && body[3] == 0 && used <= (n - 24) / 16;
            uint64_t duration = 0;
            for (uint32_t e = 0; inside && e < used; ++e) {
                const uint8_t* entry = body + 24 + 16 * e;
                inside = Get64(entry) + Get32(entry + 8) <= size;
                duration += Get32(entry + 12);
            }
            info->durations.back() = duration;
            info->indexed.back() = inside;
        }
        at += 8 + static_cast<size_t>(Padded(n));
    }
    return !info->streams.empty();
}

// A finished file: its header counts something, its RIFFs fill it, and an
// index covers the data (idx1 in a file of one RIFF, else every stream's
// super index, as long as the stream).
bool IsWhole(RepairFile& file, uint64_t size)
{
    HeaderInfo info;
    if (!ReadHeader(file, size, &info))
        return false;
    uint64_t counted = 0;
    for (uint32_t length : info.lengths)
        counted += length;
    if (!counted)
        return false;
    uint64_t at = 0;
    size_t riffs = 0;
    bool idx1 = false;
    uint8_t h[12];
    while (size - at >= 12) {
        if (!file.ReadAt(at, h, 12) || Get32(h) != kRiff || Get32(h + 8) != (riffs ? kAvix : kAvi))
            return false;
        const uint64_t end = at + 8 + Padded(Get32(h + 4));
        if (end > size)
            return false;
        for (uint64_t c = at + 12; !riffs && c + 8 <= end;) {
            if (!file.ReadAt(c, h, 8))
                return false;
            idx1 = idx1 || (Get32(h) == kIdx1 && Get32(h + 4) >= 16);
            c += 8 + Padded(Get32(h + 4));
        }
        at = end;
        ++riffs;
    }
    if (riffs == 1 && idx1)
        return true;
    for (size_t s = 0; s < info.streams.size(); ++s)
        if (info.lengths[s] && (!info.indexed[s] || info.durations[s] > info.lengths[s] ||
                                info.durations[s] + riffs < info.lengths[s]))
            return false;
    return true;
}

}  // namespace

RepairResult RepairRecording(RepairFile& file, const std::vector<JournalStream>& streams)
{
    RepairResult result;
    Repair r(file, streams);
    r.size = file.Size();
    if (IsWhole(file, r.size)) {
        result.outcome = RepairOutcome::kWasWhole;
        return result;
    }
    if (!SetBounds(r))
        return result;
    Walk(r);
    if (r.read_failed) {
        result.outcome = RepairOutcome::kFailed;
        return result;
    }
    if (r.foreign || r.chunks.empty())
        return result;
    result.outcome = Rewrite(r);
    if (result.outcome == RepairOutcome::kNotUnderstood)
        return result;
    int video = -1;
    for (size_t s = 0; s < streams.size(); ++s) {
        if (streams[s].video && video < 0)
            video = static_cast<int>(s);
        if (!streams[s].video)
            result.audio_bytes += r.totals[s].bytes;
    }
    result.video_frames = video >= 0 ? r.totals[static_cast<size_t>(video)].chunks : 0;
    result.cut_bytes = r.size - ChunkEnd(r.chunks.back());
    return result;
}

bool StreamsFromHeader(RepairFile& file, std::vector<JournalStream>* streams)
{
    HeaderInfo info;
    if (!ReadHeader(file, file.Size(), &info))
        return false;
    *streams = info.streams;
    return true;
}

// The journal: one "key=value" line each, in this order.
static const char kJournalMagic[] = "fernwood-recording-journal 1";

static void Line(std::string* out, const std::string& key, const std::string& value)
{
    *out += key + "=" + value + "\n";
}

static std::string Hex(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

std::string FormatJournal(const RecordingJournal& journal)
{
    std::string out;
    Line(&out, "journal", kJournalMagic);
    Line(&out, "movie", journal.movie);
    Line(&out, "streams", std::to_string(journal.streams.size()));
    for (size_t i = 0; i < journal.streams.size(); ++i) {
        const JournalStream& s = journal.streams[i];
        const std::string key = "stream" + std::to_string(i) + ".";
        const uint8_t handler[4] = {static_cast<uint8_t>(s.handler >> 24), static_cast<uint8_t>(s.handler >> 16),
                                    static_cast<uint8_t>(s.handler >> 8), static_cast<uint8_t>(s.handler)};
        Line(&out, key + "type", s.video ? "video" : "audio");
        Line(&out, key + "handler", Hex(handler, 4));
        Line(&out, key + "scale", std::to_string(s.scale));
        Line(&out, key + "rate", std::to_string(s.rate));
        Line(&out, key + "sample_size", std::to_string(s.sample_size));
        Line(&out, key + "strf", Hex(s.format.data(), s.format.size()));
    }
    Line(&out, "end", std::to_string(journal.streams.size()));
    return out;
}

static bool Number(const std::string& text, uint32_t* value)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long v = std::stoull(text);
    *value = static_cast<uint32_t>(v);
    return v <= 0xFFFFFFFFu;
}

static bool Unhex(const std::string& text, std::vector<uint8_t>* out)
{
    if (text.size() % 2 || text.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2)
        out->push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return true;
}

// Reads the value of the next line, which must have this key.
static bool Take(const std::string& text, size_t* at, const std::string& key, std::string* value)
{
    const size_t end = text.find('\n', *at);
    if (end == std::string::npos || text.compare(*at, key.size() + 1, key + "=") != 0)
        return false;
    *value = text.substr(*at + key.size() + 1, end - *at - key.size() - 1);
    *at = end + 1;
    return true;
}

bool ParseJournal(const std::string& text, RecordingJournal* journal)
{
    RecordingJournal parsed;
    size_t at = 0;
    std::string value;
    uint32_t count = 0;
    if (!Take(text, &at, "journal", &value) || value != kJournalMagic || !Take(text, &at, "movie", &parsed.movie) ||
        parsed.movie.empty() || !Take(text, &at, "streams", &value) || !Number(value, &count) || count == 0 ||
        count > 100)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string key = "stream" + std::to_string(i) + ".";
        JournalStream s;
        std::vector<uint8_t> handler;
        if (!Take(text, &at, key + "type", &value) || (value != "video" && value != "audio"))
            return false;
        s.video = value == "video";
        if (!Take(text, &at, key + "handler", &value) || !Unhex(value, &handler) || handler.size() != 4 ||
            !Take(text, &at, key + "scale", &value) || !Number(value, &s.scale) ||
            !Take(text, &at, key + "rate", &value) || !Number(value, &s.rate) ||
            !Take(text, &at, key + "sample_size", &value) || !Number(value, &s.sample_size) ||
            !Take(text, &at, key + "strf", &value) || !Unhex(value, &s.format))
            return false;
        s.handler = static_cast<uint32_t>(handler[0]) << 24 | handler[1] << 16 | handler[2] << 8 | handler[3];
        parsed.streams.push_back(s);
    }
    if (!Take(text, &at, "end", &value) || FormatJournal(parsed) != text)
        return false;
    *journal = parsed;
    return true;
}
