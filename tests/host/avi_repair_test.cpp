#include "record/avi_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "testbed/standins/portable/avi_layout.h"
#include "testbed/standins/portable/avi_parse.h"

namespace {

using fernwood::avi::FourCC;
using fernwood::avi::ParsedAvi;
using fernwood::avi::ParsedChunk;

// A movie in memory, for the repair and for the stand-in's writer.
class MemoryFile : public RepairFile, public fernwood::avi::ByteSink {
public:
    uint64_t Size() override { return bytes.size(); }
    bool ReadAt(uint64_t offset, void* data, size_t size) override
    {
        if (fail_reads || offset + size > bytes.size())
            return false;
        std::memcpy(data, bytes.data() + offset, size);
        return true;
    }
    bool WriteAt(uint64_t offset, const void* data, size_t size) override
    {
        if (fail_writes)
            return false;
        if (bytes.size() < offset + size)
            bytes.resize(offset + size, 0);
        std::memcpy(bytes.data() + offset, data, size);
        return true;
    }
    bool Truncate(uint64_t size) override
    {
        bytes.resize(size);
        return true;
    }

    std::vector<uint8_t> bytes;
    bool fail_reads = false, fail_writes = false;
};

void Put32(std::vector<uint8_t>* b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<uint8_t>* b, uint16_t v)
{
    b->push_back(static_cast<uint8_t>(v));
    b->push_back(static_cast<uint8_t>(v >> 8));
}

// UYVY 64x48 at 59.94 fps, and 16-bit stereo PCM at 48 kHz.
JournalStream Video()
{
    JournalStream s;
    s.handler = FourCC('U', 'Y', 'V', 'Y');
    s.scale = 166833;
    s.rate = 10000000;
    for (uint32_t v : {40u, 64u, 48u})
        Put32(&s.format, v);
    Put16(&s.format, 1);
    Put16(&s.format, 16);
    Put32(&s.format, FourCC('U', 'Y', 'V', 'Y'));
    Put32(&s.format, 6144);
    s.format.resize(40, 0);
    return s;
}

JournalStream Audio()
{
    JournalStream s;
    s.video = false;
    s.scale = 4;
    s.rate = 192000;
    s.sample_size = 4;
    s.format = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0, 4, 0, 16, 0, 0, 0};
    return s;
}

const std::vector<JournalStream> kStreams = {Video(), Audio()};

fernwood::avi::StreamSetup SetupOf(const JournalStream& j)
{
    fernwood::avi::StreamSetup s;
    s.kind = j.video ? fernwood::avi::StreamKind::kVideo : fernwood::avi::StreamKind::kAudio;
    s.handler = j.handler;
    s.scale = j.scale;
    s.rate = j.rate;
    s.sample_size = j.sample_size;
    s.width = j.video ? 64 : 0;
    s.height = j.video ? 48 : 0;
    s.format = j.format;
    return s;
}

// Frame n starts with its number; sound block n is a pattern of n.
std::vector<uint8_t> Frame(uint32_t n)
{
    std::vector<uint8_t> f(6144);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<uint8_t>(n * 31 + i * 7);
    std::memcpy(f.data(), &n, 4);
    return f;
}

std::vector<uint8_t> Sound(uint32_t n) { return std::vector<uint8_t>(1600, static_cast<uint8_t>(n + 1)); }

uint32_t Stamp(const std::vector<uint8_t>& bytes, uint64_t data)
{
    uint32_t n = 0;
    std::memcpy(&n, bytes.data() + data, 4);
    return n;
}

// A killed recording and the chunks a repair must keep where they are.
struct Killed {
    std::vector<uint8_t> bytes;
    std::vector<ParsedChunk> kept;
};

void AppendChunk(Killed* k, uint32_t id, const std::vector<uint8_t>& data, bool keep = true)
{
    if (keep)
        k->kept.push_back({id, k->bytes.size(), static_cast<uint32_t>(data.size())});
    Put32(&k->bytes, id);
    Put32(&k->bytes, static_cast<uint32_t>(data.size()));
    k->bytes.insert(k->bytes.end(), data.begin(), data.end());
}

// As Wine's multiplexer leaves a recording it never stopped: zeros where
// the header and the 'LIST' 'movi' header go (three lists, avih, dmlh, and
// per stream strl, strh, strf and a super index of 2000 entries), a zero
// hole reserved for each stream's standard index of 4000 entries, another
// where a stream's index filled (here before frame 15 and, for the other
// stream, right after it), every chunk named '##db', and the last frame
// torn where its 64 KB buffer was flushed. `garbage` fills one more hole,
// before frame 25, with bytes that are no chunk but start like one.
Killed WineLike(bool garbage)
{
    Killed k;
    const size_t kIndexHole = 32 + 4000 * 8;
    k.bytes.assign(356 + (84 + 40 + 32 + 2000 * 16) + (84 + 18 + 32 + 2000 * 16) + 12 + 2 * kIndexHole, 0);
    for (uint32_t i = 0; i < 30; ++i) {
        if (i == 15)
            k.bytes.resize(k.bytes.size() + kIndexHole, 0);
        if (i == 25 && garbage) {
            std::vector<uint8_t> junk = Sound(7);
            std::memcpy(junk.data() + 100, "01db\x40\0\0\0", 8);
            k.bytes.insert(k.bytes.end(), junk.begin(), junk.end());
        }
        AppendChunk(&k, FourCC('0', '0', 'd', 'b'), Frame(i));
        if (i == 15)
            k.bytes.resize(k.bytes.size() + kIndexHole, 0);
        AppendChunk(&k, FourCC('0', '1', 'd', 'b'), Sound(i));
    }
    AppendChunk(&k, FourCC('0', '0', 'd', 'b'), Frame(30), false);
    k.bytes.resize(k.bytes.size() - 6144 + 3000);
    return k;
}

// Chunks after `room` zero bytes. The header needs 690 bytes for the two
// streams: RIFF, hdrl, avih 56, odml, dmlh 248 and 'LIST' 'movi'; per stream
// strl, strh 56, strf and a super index of one entry.
Killed AfterRoom(size_t room)
{
    Killed k;
    k.bytes.assign(room, 0);
    for (uint32_t i = 0; i < 4; ++i) {
        AppendChunk(&k, FourCC('0', '0', 'd', 'c'), Frame(i));
        AppendChunk(&k, FourCC('0', '1', 'w', 'b'), Sound(i));
    }
    return k;
}

struct StandIn {
    uint64_t riff_bytes;
    uint32_t frames;
    uint32_t dropped_before;  // a lost frame's empty chunk goes before this frame
    size_t kill_chunk;        // killed this many bytes into this chunk (in file order)
    uint32_t kill_into;
    bool stale_header = false;
};

// The stand-in's recording: every chunk up to the kill is in the file as the
// writer put it there, and nothing else it would have written at its stop.
std::vector<uint8_t> WriteStandIn(const StandIn& s, std::vector<ParsedChunk>* chunks, bool finish)
{
    MemoryFile sink;
    fernwood::avi::Limits limits;
    limits.riff_bytes = s.riff_bytes;
    fernwood::avi::AviWriter writer(sink, {SetupOf(Video()), SetupOf(Audio())}, limits);
    EXPECT_TRUE(writer.Begin());
    for (uint32_t i = 0; i < s.frames; ++i) {
        if (i == s.dropped_before) {
            EXPECT_TRUE(writer.AddChunk(0, nullptr, 0, false));
        }
        const std::vector<uint8_t> f = Frame(i), a = Sound(i);
        EXPECT_TRUE(writer.AddChunk(0, f.data(), 6144, true));
        EXPECT_TRUE(writer.AddChunk(1, a.data(), 1600, true));
    }
    const std::vector<uint8_t> unfinished = sink.bytes;
    EXPECT_TRUE(writer.Finish());
    const ParsedAvi avi = fernwood::avi::ParseAvi(sink.bytes.data(), sink.bytes.size());
    EXPECT_TRUE(avi.ok) << avi.error;
    if (chunks)
        *chunks = avi.chunks;
    return finish ? sink.bytes : unfinished;
}

Killed KilledStandIn(const StandIn& s)
{
    Killed k;
    std::vector<ParsedChunk> chunks;
    k.bytes = WriteStandIn(s, &chunks, false);
    k.bytes.resize(static_cast<size_t>(chunks.at(s.kill_chunk).offset + s.kill_into));
    k.kept.assign(chunks.begin(), chunks.begin() + static_cast<long>(s.kill_chunk));
    if (s.stale_header) {
        StandIn other = s;
        other.frames = 5;
        const std::vector<uint8_t> finished = WriteStandIn(other, nullptr, true);
        const size_t room = static_cast<size_t>(chunks.front().offset);
        std::copy(finished.begin(), finished.begin() + static_cast<long>(room), k.bytes.begin());
    }
    return k;
}

struct RepairCase {
    const char* name;
    std::function<Killed()> make;
    uint64_t frames;  // video chunks kept, lost frames' empty chunks included
    uint64_t frames_with_data;
    uint64_t audio_bytes;
    uint64_t cut_bytes;
};

class AviRepair : public ::testing::TestWithParam<RepairCase> {};

std::vector<uint8_t> DataOf(const std::vector<uint8_t>& bytes, const ParsedChunk& c)
{
    return std::vector<uint8_t>(bytes.begin() + static_cast<long>(c.offset + 8),
                                bytes.begin() + static_cast<long>(c.offset + 8 + c.size));
}

TEST_P(AviRepair, KeepsEveryCompleteChunkInPlaceAndIndexesIt)
{
    const RepairCase& c = GetParam();
    const Killed killed = c.make();
    MemoryFile file;
    file.bytes = killed.bytes;
    const RepairResult result = RepairRecording(file, kStreams);
    ASSERT_EQ(result.outcome, RepairOutcome::kRepaired);
    EXPECT_EQ(result.video_frames, c.frames);
    EXPECT_EQ(result.audio_bytes, c.audio_bytes);
    EXPECT_EQ(result.cut_bytes, c.cut_bytes);

    const ParsedAvi avi = fernwood::avi::ParseAvi(file.bytes.data(), file.bytes.size());
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_EQ(avi.riffs.size(), 1u);
    EXPECT_EQ(avi.riffs[0].movi + 12, killed.kept.front().offset);
    std::vector<ParsedChunk> media;  // the gaps between them are JUNK now
    for (const ParsedChunk& chunk : avi.chunks) {
        if (fernwood::avi::StreamOfChunk(chunk.id) >= 0)
            media.push_back(chunk);
        else
            EXPECT_EQ(chunk.id, FourCC('J', 'U', 'N', 'K')) << chunk.offset;
    }
    EXPECT_EQ(avi.ix.size(), 2u) << "the stop's standard indexes alone";
    ASSERT_EQ(media.size(), killed.kept.size());
    for (size_t i = 0; i < media.size(); ++i) {
        EXPECT_EQ(media[i].offset, killed.kept[i].offset) << i;
        EXPECT_EQ(media[i].id, killed.kept[i].id) << i;
        ASSERT_EQ(media[i].size, killed.kept[i].size) << i;
        EXPECT_EQ(DataOf(file.bytes, media[i]), DataOf(killed.bytes, killed.kept[i])) << i;
    }

    // The journal's formats and rates, the counts of what was kept.
    EXPECT_EQ(avi.micro_sec_per_frame, 16683u);
    EXPECT_EQ(avi.flags, 0x110u);
    EXPECT_EQ(avi.total_frames, c.frames);
    EXPECT_EQ(avi.grand_frames, c.frames);
    EXPECT_EQ(avi.stream_count, 2u);
    EXPECT_EQ(avi.suggested_buffer, 6144u);
    EXPECT_EQ(avi.width, 64u);
    EXPECT_EQ(avi.height, 48u);
    ASSERT_EQ(avi.streams.size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
        EXPECT_EQ(avi.streams[s].type, s ? FourCC('a', 'u', 'd', 's') : FourCC('v', 'i', 'd', 's'));
        EXPECT_EQ(avi.streams[s].handler, kStreams[s].handler);
        EXPECT_EQ(avi.streams[s].scale, kStreams[s].scale);
        EXPECT_EQ(avi.streams[s].rate, kStreams[s].rate);
        EXPECT_EQ(avi.streams[s].sample_size, kStreams[s].sample_size);
        EXPECT_EQ(avi.streams[s].format, kStreams[s].format);
        EXPECT_EQ(avi.streams[s].suggested_buffer, s ? 1600u : 6144u);
    }
    EXPECT_EQ(avi.streams[0].length, c.frames);
    EXPECT_EQ(avi.streams[1].length, c.audio_bytes / 4);
    EXPECT_EQ(avi.streams[0].frame[2], 64);
    EXPECT_EQ(avi.streams[0].frame[3], 48);

    // Both indexes name exactly the kept chunks; lost frames are not key frames.
    ASSERT_TRUE(avi.has_idx1);
    ASSERT_EQ(avi.idx1.size(), killed.kept.size());
    std::vector<ParsedChunk> per_stream[2];
    for (size_t i = 0; i < killed.kept.size(); ++i) {
        const ParsedChunk& k = killed.kept[i];
        EXPECT_EQ(avi.idx1[i].offset + avi.riffs[0].movi + 8, k.offset) << i;
        EXPECT_EQ(avi.idx1[i].size, k.size) << i;
        EXPECT_EQ(avi.idx1[i].flags, k.size ? 0x10u : 0u) << i;
        per_stream[fernwood::avi::StreamOfChunk(k.id)].push_back(k);
    }
    uint32_t next_stamp = 0;
    for (size_t s = 0; s < 2; ++s) {
        const auto& index = avi.streams[s].index;
        ASSERT_EQ(avi.streams[s].super.size(), 1u);
        EXPECT_EQ(avi.streams[s].super[0].duration, s ? c.audio_bytes / 4 : c.frames);
        ASSERT_EQ(index.size(), per_stream[s].size());
        for (size_t i = 0; i < index.size(); ++i) {
            EXPECT_EQ(index[i].data, per_stream[s][i].offset + 8) << s << " " << i;
            EXPECT_EQ(index[i].size, per_stream[s][i].size) << s << " " << i;
            EXPECT_EQ(index[i].key, index[i].size != 0) << s << " " << i;
            if (s == 0 && index[i].size) {
                EXPECT_EQ(Stamp(file.bytes, index[i].data), next_stamp);
                ++next_stamp;
            }
        }
    }
    EXPECT_EQ(next_stamp, c.frames_with_data);

    // The repaired file is whole: another repair leaves it as it is.
    const std::vector<uint8_t> repaired = file.bytes;
    EXPECT_EQ(RepairRecording(file, kStreams).outcome, RepairOutcome::kWasWhole);
    EXPECT_TRUE(file.bytes == repaired);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AviRepair,
    ::testing::Values(RepairCase{"WineLike", [] { return WineLike(false); }, 30, 30, 48000, 3008},
                      RepairCase{"WineLikeWithGarbageInAHole", [] { return WineLike(true); }, 30, 30, 48000, 3008},
                      RepairCase{"RoomForTheHeaderAndTwoBytes", [] { return AfterRoom(692); }, 4, 4, 6400, 0},
                      RepairCase{"StandInKilledInItsFirstRiff",
                                 [] { return KilledStandIn({uint64_t{1} << 30, 20, 7, 31, 108}); }, 16, 15, 24000,
                                 108},
                      RepairCase{"StandInKilledBetweenChunks",
                                 [] { return KilledStandIn({uint64_t{1} << 30, 20, 7, 31, 0}); }, 16, 15, 24000, 0},
                      RepairCase{"StandInWithAStaleHeader",
                                 [] { return KilledStandIn({uint64_t{1} << 30, 20, 7, 31, 108, true}); }, 16, 15,
                                 24000, 108},
                      RepairCase{"StandInKilledAfterRiffsClosed",
                                 [] { return KilledStandIn({64 * 1024, 40, 20, 68, 508}); }, 35, 34, 52800, 508}),
    [](const ::testing::TestParamInfo<RepairCase>& info) { return std::string(info.param.name); });

// Files a repair must leave exactly as they are.
struct LeftAloneCase {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    std::vector<JournalStream> streams;
    RepairOutcome outcome;
};

class AviRepairLeavesAlone : public ::testing::TestWithParam<LeftAloneCase> {};

TEST_P(AviRepairLeavesAlone, WritesNotOneByte)
{
    MemoryFile file;
    file.bytes = GetParam().make();
    const std::vector<uint8_t> before = file.bytes;
    EXPECT_EQ(RepairRecording(file, GetParam().streams).outcome, GetParam().outcome);
    EXPECT_TRUE(file.bytes == before);
}

std::vector<uint8_t> Garbage()
{
    std::vector<uint8_t> g(256 * 1024);
    uint32_t x = 12345;
    for (uint8_t& b : g) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return g;
}

std::vector<uint8_t> KilledFirstRiff() { return KilledStandIn({uint64_t{1} << 30, 20, 7, 31, 108}).bytes; }

JournalStream SmallVideo()
{
    JournalStream s = Video();
    s.format[4] = 16;
    s.format[8] = 16;
    s.format[20] = 0;
    s.format[21] = 2;  // biSizeImage 512: the file's frames are far larger
    return s;
}

JournalStream BrokenVideo()
{
    JournalStream s = Video();
    s.format.resize(12);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Files, AviRepairLeavesAlone,
    ::testing::Values(
        LeftAloneCase{"FinishedInOneRiff", [] { return WriteStandIn({uint64_t{1} << 30, 20, 7, 0, 0}, nullptr, true); },
                      kStreams, RepairOutcome::kWasWhole},
        LeftAloneCase{"FinishedInManyRiffs", [] { return WriteStandIn({16 * 1024, 20, 7, 0, 0}, nullptr, true); },
                      kStreams, RepairOutcome::kWasWhole},
        LeftAloneCase{"Garbage", Garbage, kStreams, RepairOutcome::kNotUnderstood},
        LeftAloneCase{"KilledBeforeItsFirstChunk",
                      [] { return KilledStandIn({uint64_t{1} << 30, 20, 7, 0, 4}).bytes; }, kStreams,
                      RepairOutcome::kNotUnderstood},
        LeftAloneCase{"AJournalWithoutTheSound", KilledFirstRiff, {Video()}, RepairOutcome::kNotUnderstood},
        LeftAloneCase{"AJournalWithTheStreamsSwapped", KilledFirstRiff, {Audio(), Video()},
                      RepairOutcome::kNotUnderstood},
        LeftAloneCase{"AJournalWithSmallerFrames", KilledFirstRiff, {SmallVideo(), Audio()},
                      RepairOutcome::kNotUnderstood},
        LeftAloneCase{"AJournalWithoutAFormat", KilledFirstRiff, {BrokenVideo(), Audio()},
                      RepairOutcome::kNotUnderstood},
        LeftAloneCase{"NoRoomForTheHeader", [] { return AfterRoom(688).bytes; }, kStreams,
                      RepairOutcome::kNotUnderstood},
        LeftAloneCase{"AGapTooSmallForAJunkChunk",
                      [] {
                          Killed k = WineLike(false);
                          const size_t at = static_cast<size_t>(k.kept[3].offset);
                          k.bytes.insert(k.bytes.begin() + static_cast<long>(at), {0xAB, 0xCD, 0xEF, 0x01});
                          return k.bytes;
                      },
                      kStreams, RepairOutcome::kNotUnderstood}),
    [](const ::testing::TestParamInfo<LeftAloneCase>& info) { return std::string(info.param.name); });

TEST(AviRepairFailures, AFailedReadOrWriteIsSaid)
{
    MemoryFile file;
    file.bytes = KilledFirstRiff();
    file.fail_reads = true;
    EXPECT_EQ(RepairRecording(file, kStreams).outcome, RepairOutcome::kFailed);
    file.fail_reads = false;
    file.fail_writes = true;
    EXPECT_EQ(RepairRecording(file, kStreams).outcome, RepairOutcome::kFailed);
}

// A movie of several GiB that keeps only what small writes put in it: of a
// large write only the first 16 bytes (a frame's number) are kept. The
// chunk headers the stand-in's writer puts out alone are logged.
class SparseFile : public RepairFile, public fernwood::avi::ByteSink {
public:
    uint64_t Size() override { return size_; }
    bool ReadAt(uint64_t offset, void* data, size_t size) override
    {
        if (offset + size > size_)
            return false;
        auto* out = static_cast<uint8_t*>(data);
        for (size_t done = 0; done < size;) {
            const uint64_t at = offset + done, page = at / kPage;
            const size_t in = static_cast<size_t>(at % kPage), n = std::min<size_t>(size - done, kPage - in);
            const auto found = pages_.find(page);
            if (found == pages_.end())
                std::memset(out + done, 0, n);
            else
                std::memcpy(out + done, found->second.data() + in, n);
            done += n;
        }
        return true;
    }
    bool WriteAt(uint64_t offset, const void* data, size_t size) override
    {
        ++writes;
        size_ = std::max(size_, offset + size);
        const auto* in = static_cast<const uint8_t*>(data);
        if (logging && size == 8 && in[0] == '0')
            headers.push_back(offset);
        const size_t keep = size > 65536 ? 16 : size;
        for (size_t done = 0; done < keep;) {
            const uint64_t at = offset + done;
            const size_t n = std::min<size_t>(keep - done, static_cast<size_t>(kPage - at % kPage));
            std::memcpy(pages_[at / kPage].data() + at % kPage, in + done, n);
            done += n;
        }
        return true;
    }
    bool Truncate(uint64_t size) override
    {
        ++writes;
        size_ = size;
        pages_.erase(pages_.lower_bound((size + kPage - 1) / kPage), pages_.end());
        if (size % kPage && pages_.count(size / kPage))
            std::memset(pages_[size / kPage].data() + size % kPage, 0, static_cast<size_t>(kPage - size % kPage));
        return true;
    }

    int writes = 0;
    bool logging = false;
    std::vector<uint64_t> headers;

private:
    static constexpr uint64_t kPage = 4096;
    std::map<uint64_t, std::array<uint8_t, kPage>> pages_;
    uint64_t size_ = 0;
};

uint32_t Read32(SparseFile& f, uint64_t at)
{
    uint8_t b[4];
    EXPECT_TRUE(f.ReadAt(at, b, 4));
    return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16) | static_cast<uint32_t>(b[3]) << 24;
}

uint64_t Read64(SparseFile& f, uint64_t at) { return Read32(f, at) | static_cast<uint64_t>(Read32(f, at + 4)) << 32; }

// 16 MiB UYVY frames: 4096x2048.
JournalStream BigVideo()
{
    JournalStream s = Video();
    s.format[4] = 0;
    s.format[5] = 16;
    s.format[8] = 0;
    s.format[9] = 8;
    s.format[20] = 0;
    s.format[21] = 0;
    s.format[22] = 0;
    s.format[23] = 1;
    return s;
}

TEST(AviRepairBeyond4GiB, SplitsIntoRiffsOfAboutAGibibyteAtTheGapsTheStandInLeft)
{
    SparseFile file;
    const std::vector<JournalStream> streams = {BigVideo(), Audio()};
    fernwood::avi::StreamSetup video = SetupOf(streams[0]);
    video.width = 4096;
    video.height = 2048;
    fernwood::avi::AviWriter writer(file, {video, SetupOf(streams[1])});
    file.logging = true;
    ASSERT_TRUE(writer.Begin());
    std::vector<uint8_t> frame(16 << 20), sound(8000);
    for (uint32_t i = 0; i < 340; ++i) {
        std::memcpy(frame.data(), &i, 4);
        std::memcpy(sound.data(), &i, 4);
        ASSERT_TRUE(writer.AddChunk(0, frame.data(), static_cast<uint32_t>(frame.size()), true));
        ASSERT_TRUE(writer.AddChunk(1, sound.data(), 8000, true));
    }
    file.logging = false;
    ASSERT_EQ(file.headers.size(), 680u);
    ASSERT_EQ(writer.RiffCount(), 6u);
    ASSERT_TRUE(file.Truncate(file.headers[2 * 330] + 8 + 5000));  // killed in frame 330

    const RepairResult result = RepairRecording(file, streams);
    ASSERT_EQ(result.outcome, RepairOutcome::kRepaired);
    EXPECT_EQ(result.video_frames, 330u);
    EXPECT_EQ(result.audio_bytes, 330u * 8000);
    EXPECT_EQ(result.cut_bytes, 5008u);

    // RIFFs from 0 to the end, the first 'AVI ', each under 1 GiB but the last.
    std::vector<uint64_t> riffs;
    for (uint64_t at = 0; at < file.Size(); at += 8 + Read32(file, at + 4)) {
        ASSERT_EQ(Read32(file, at), FourCC('R', 'I', 'F', 'F'));
        EXPECT_EQ(Read32(file, at + 8), riffs.empty() ? FourCC('A', 'V', 'I', ' ') : FourCC('A', 'V', 'I', 'X'));
        EXPECT_EQ(Read32(file, at + 12), FourCC('L', 'I', 'S', 'T'));
        riffs.push_back(at);
    }
    ASSERT_EQ(riffs.size(), 6u);
    for (size_t r = 0; r + 1 < riffs.size(); ++r)
        EXPECT_LE(riffs[r + 1] - riffs[r] - 8, uint64_t{1} << 30) << r;
    for (size_t r = 1; r < riffs.size(); ++r) {
        const uint64_t end = r + 1 < riffs.size() ? riffs[r + 1] : file.Size();
        EXPECT_EQ(riffs[r] + 20 + Read32(file, riffs[r] + 16), end) << "the 'movi' list fills RIFF " << r;
    }
    EXPECT_GT(riffs[5], uint64_t{4} << 30);

    // Each stream's super index leads to one standard index per RIFF, and they to every kept chunk.
    uint64_t at = 12 + 12 + 64;
    for (size_t s = 0; s < 2; ++s) {
        ASSERT_EQ(Read32(file, at + 12), FourCC('s', 't', 'r', 'h'));
        EXPECT_EQ(Read32(file, at + 20 + 32), s ? 330u * 2000 : 330u);
        const uint64_t strf = at + 12 + 64;
        const uint64_t indx = strf + 8 + Read32(file, strf + 4);
        ASSERT_EQ(Read32(file, indx), FourCC('i', 'n', 'd', 'x'));
        ASSERT_EQ(Read32(file, indx + 12), 6u);
        size_t chunk = 0;
        for (uint32_t e = 0; e < 6; ++e) {
            const uint64_t ix = Read64(file, indx + 32 + 16 * e);
            ASSERT_EQ(Read32(file, ix) & 0xFFFF, FourCC('i', 'x', 0, 0));
            const uint32_t entries = Read32(file, ix + 12);
            const uint64_t base = Read64(file, ix + 20);
            EXPECT_EQ(base, riffs[e]);
            for (uint32_t i = 0; i < entries; ++i, ++chunk) {
                const uint64_t data = base + Read32(file, ix + 32 + 8 * i);
                ASSERT_EQ(data, file.headers[2 * chunk + s] + 8) << s << " " << chunk;
                EXPECT_EQ(Read32(file, data), chunk);
            }
        }
        EXPECT_EQ(chunk, 330u);
        at += 8 + Read32(file, at + 4);
    }

    const int writes = file.writes;
    EXPECT_EQ(RepairRecording(file, streams).outcome, RepairOutcome::kWasWhole);
    EXPECT_EQ(file.writes, writes);
}

TEST(AviRepairBeyond4GiB, ARiffWithNoGapToSplitAtIsLeftAlone)
{
    SparseFile file;
    const std::vector<JournalStream> streams = {BigVideo()};
    uint64_t at = 100000;
    for (int i = 0; i < 260; ++i, at += 8 + (16 << 20)) {
        const uint8_t head[8] = {'0', '0', 'd', 'c', 0, 0, 0, 1};
        file.WriteAt(at, head, 8);
    }
    file.WriteAt(at - 1, "", 1);
    const int writes = file.writes;
    EXPECT_EQ(RepairRecording(file, streams).outcome, RepairOutcome::kNotUnderstood);
    EXPECT_EQ(file.writes, writes);
}

// The journal's text is pinned: an older or newer viewer must read it.
const char kJournalText[] =
    "journal=fernwood-recording-journal 1\n"
    "movie=D:\\rec\\cap20240101_120000.avi\n"
    "streams=2\n"
    "stream0.type=video\n"
    "stream0.handler=59565955\n"
    "stream0.scale=166833\n"
    "stream0.rate=10000000\n"
    "stream0.sample_size=0\n"
    "stream0.strf=28000000400000003000000001001000555956590018000000000000000000000000000000000000\n"
    "stream1.type=audio\n"
    "stream1.handler=00000000\n"
    "stream1.scale=4\n"
    "stream1.rate=192000\n"
    "stream1.sample_size=4\n"
    "stream1.strf=0100020080bb000000ee0200040010000000\n"
    "end=2\n";

TEST(RecordingJournal, RoundTripsAndRefusesTornOrForeignText)
{
    RecordingJournal journal;
    journal.movie = "D:\\rec\\cap20240101_120000.avi";
    journal.streams = kStreams;
    EXPECT_EQ(FormatJournal(journal), kJournalText);
    RecordingJournal read;
    ASSERT_TRUE(ParseJournal(kJournalText, &read));
    EXPECT_EQ(read.movie, journal.movie);
    ASSERT_EQ(read.streams.size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
        EXPECT_EQ(read.streams[s].video, kStreams[s].video);
        EXPECT_EQ(read.streams[s].handler, kStreams[s].handler);
        EXPECT_EQ(read.streams[s].scale, kStreams[s].scale);
        EXPECT_EQ(read.streams[s].rate, kStreams[s].rate);
        EXPECT_EQ(read.streams[s].sample_size, kStreams[s].sample_size);
        EXPECT_EQ(read.streams[s].format, kStreams[s].format);
    }

    const std::string text = kJournalText;
    for (size_t n = 0; n < text.size(); ++n)
        EXPECT_FALSE(ParseJournal(text.substr(0, n), &read)) << n;
    std::string crlf;
    for (char ch : text)
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    const std::string foreign[] = {
        crlf,
        "[Setting]\nwidth=1280\n",
        text + "stream2.type=video\n",
        std::string(text).replace(text.find("handler=59565955"), 16, "handler=5956595A"),
        std::string(text).replace(text.find("streams=2"), 9, "streams=3"),
        std::string(text).replace(text.find("=video"), 6, "=vidéo"),
        std::string(text).replace(text.find("rate=192000"), 11, "rate=-19200"),
    };
    for (const std::string& t : foreign)
        EXPECT_FALSE(ParseJournal(t, &read)) << t;
}

}  // namespace
