#include "avi_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "avi_parse.h"

namespace fernwood::avi {
namespace {

class MemorySink : public ByteSink {
public:
    bool WriteAt(uint64_t offset, const void* data, size_t size) override {
        if (fail_after_ >= 0 && static_cast<int64_t>(written_ + size) > fail_after_) return false;
        written_ += size;
        if (bytes.size() < offset + size) bytes.resize(offset + size, 0xCD);
        std::memcpy(bytes.data() + offset, data, size);
        return true;
    }
    void FailAfter(int64_t bytes_written) { fail_after_ = bytes_written; }
    ParsedAvi Parse() const { return ParseAvi(bytes.data(), bytes.size()); }

    std::vector<uint8_t> bytes;

private:
    uint64_t written_ = 0;
    int64_t fail_after_ = -1;
};

StreamSetup Video(int width, int height, bool rgb = false) {
    StreamSetup s;
    s.kind = StreamKind::kVideo;
    s.handler = rgb ? 0 : FourCC('U', 'Y', 'V', 'Y');
    s.scale = 166833;
    s.rate = 10000000;
    s.width = width;
    s.height = height;
    s.rgb = rgb;
    s.format.assign(40, 0);
    s.format[0] = 40;
    s.format[4] = static_cast<uint8_t>(width);
    s.format[8] = static_cast<uint8_t>(height);
    return s;
}

StreamSetup Pcm(uint32_t rate, uint16_t channels) {
    StreamSetup s;
    s.kind = StreamKind::kAudio;
    s.scale = 2u * channels;
    s.rate = rate * 2u * channels;
    s.sample_size = 2u * channels;
    s.format = {1, 0, static_cast<uint8_t>(channels), 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0, 0, 0};
    s.format[4] = static_cast<uint8_t>(rate);
    s.format[5] = static_cast<uint8_t>(rate >> 8);
    return s;
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

std::vector<uint8_t> DataOf(const MemorySink& sink, const ParsedChunk& c) {
    return std::vector<uint8_t>(sink.bytes.begin() + static_cast<long>(c.offset + 8),
                                sink.bytes.begin() + static_cast<long>(c.offset + 8 + c.size));
}

std::vector<ParsedChunk> ChunksOf(const ParsedAvi& avi, int stream) {
    std::vector<ParsedChunk> out;
    for (const auto& c : avi.chunks)
        if (StreamOfChunk(c.id) == stream) out.push_back(c);
    return out;
}

uint32_t LengthField(const MemorySink& sink, uint64_t at) {
    return static_cast<uint32_t>(sink.bytes[at + 4] | sink.bytes[at + 5] << 8 | sink.bytes[at + 6] << 16 |
                                 sink.bytes[at + 7] << 24);
}

TEST(AviLayout, ChunkIdsNameTheStreamAndItsKind) {
    EXPECT_EQ(ChunkId(0, Video(2, 2)), FourCC('0', '0', 'd', 'c'));
    EXPECT_EQ(ChunkId(1, Video(2, 2, true)), FourCC('0', '1', 'd', 'b'));
    EXPECT_EQ(ChunkId(12, Pcm(48000, 2)), FourCC('1', '2', 'w', 'b'));
}

TEST(AviLayout, WritesHeadersChunksAndBothIndexesOfOneRiff) {
    MemorySink sink;
    AviWriter writer(sink, {Video(64, 48), Pcm(48000, 2)});
    ASSERT_TRUE(writer.Begin());
    const auto f0 = Pattern(6144, 1), a0 = Pattern(1920, 2), f2 = Pattern(6144, 3), a1 = Pattern(7, 4);
    ASSERT_TRUE(writer.AddChunk(0, f0.data(), static_cast<uint32_t>(f0.size()), true));
    ASSERT_TRUE(writer.AddChunk(1, a0.data(), static_cast<uint32_t>(a0.size()), true));
    ASSERT_TRUE(writer.AddChunk(0, nullptr, 0, false));  // a lost frame
    ASSERT_TRUE(writer.AddChunk(0, f2.data(), static_cast<uint32_t>(f2.size()), false));
    ASSERT_TRUE(writer.AddChunk(1, a1.data(), static_cast<uint32_t>(a1.size()), true));  // odd: padded
    EXPECT_EQ(writer.Length(0), 3u);
    EXPECT_EQ(writer.Length(1), (1920u + 7u) / 4u);
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(writer.Size(), sink.bytes.size());

    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_EQ(avi.riffs.size(), 1u);
    EXPECT_EQ(avi.riffs[0].size + 8u, sink.bytes.size());
    EXPECT_EQ(avi.riffs[0].movi % 2048, 0u);
    EXPECT_EQ(avi.riffs[0].movi, writer.FirstMoviOffset());
    EXPECT_GE(avi.junk_bytes, 8u);

    EXPECT_EQ(avi.micro_sec_per_frame, 16683u);
    EXPECT_EQ(avi.flags, kAvifHasIndex | kAvifIsInterleaved);
    EXPECT_EQ(avi.total_frames, 3u);
    EXPECT_EQ(avi.stream_count, 2u);
    EXPECT_EQ(avi.suggested_buffer, 6144u);
    EXPECT_EQ(avi.width, 64u);
    EXPECT_EQ(avi.height, 48u);
    EXPECT_EQ(avi.max_bytes_per_sec, 6144ull * 10000000 / 166833 + 192000);
    EXPECT_TRUE(avi.has_dmlh);
    EXPECT_EQ(avi.grand_frames, 3u);

    ASSERT_EQ(avi.streams.size(), 2u);
    const ParsedStream& v = avi.streams[0];
    EXPECT_EQ(v.type, FourCC('v', 'i', 'd', 's'));
    EXPECT_EQ(v.handler, FourCC('U', 'Y', 'V', 'Y'));
    EXPECT_EQ(v.scale, 166833u);
    EXPECT_EQ(v.rate, 10000000u);
    EXPECT_EQ(v.length, 3u);
    EXPECT_EQ(v.suggested_buffer, 6144u);
    EXPECT_EQ(v.sample_size, 0u);
    EXPECT_EQ(v.frame[2], 64);
    EXPECT_EQ(v.frame[3], 48);
    EXPECT_EQ(v.format, Video(64, 48).format);
    const ParsedStream& a = avi.streams[1];
    EXPECT_EQ(a.type, FourCC('a', 'u', 'd', 's'));
    EXPECT_EQ(a.scale, 4u);
    EXPECT_EQ(a.rate, 192000u);
    EXPECT_EQ(a.sample_size, 4u);
    EXPECT_EQ(a.length, (1920u + 7u) / 4u);
    EXPECT_EQ(a.format, Pcm(48000, 2).format);

    // The chunks in the order written, each right after the last.
    ASSERT_EQ(avi.chunks.size(), 5u);
    const uint32_t ids[] = {FourCC('0', '0', 'd', 'c'), FourCC('0', '1', 'w', 'b'), FourCC('0', '0', 'd', 'c'),
                            FourCC('0', '0', 'd', 'c'), FourCC('0', '1', 'w', 'b')};
    const uint32_t sizes[] = {6144, 1920, 0, 6144, 7};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(avi.chunks[i].id, ids[i]) << i;
        EXPECT_EQ(avi.chunks[i].size, sizes[i]) << i;
    }
    EXPECT_EQ(avi.chunks[0].offset, avi.riffs[0].movi + 12);
    EXPECT_EQ(avi.chunks[4].offset + 8 + 8, avi.ix[0].offset);  // 7 bytes and a pad byte
    EXPECT_EQ(DataOf(sink, avi.chunks[0]), f0);
    EXPECT_EQ(DataOf(sink, avi.chunks[3]), f2);
    EXPECT_EQ(DataOf(sink, avi.chunks[4]), a1);

    // Standard indexes: one per stream, after the last chunk, pointing at the data.
    ASSERT_EQ(avi.ix.size(), 2u);
    ASSERT_EQ(v.super.size(), 1u);
    EXPECT_EQ(v.super[0].duration, 3u);
    EXPECT_EQ(v.super[0].offset, avi.ix[0].offset);
    EXPECT_EQ(v.super_chunk_id, ids[0]);
    EXPECT_EQ(v.super_capacity, Limits().super_index_entries);
    ASSERT_EQ(a.super.size(), 1u);
    EXPECT_EQ(a.super[0].duration, (1920u + 7u) / 4u);
    ASSERT_EQ(v.index.size(), 3u);
    const size_t video_chunks[] = {0, 2, 3};
    const bool video_keys[] = {true, false, false};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(v.index[i].data, avi.chunks[video_chunks[i]].offset + 8) << i;
        EXPECT_EQ(v.index[i].size, avi.chunks[video_chunks[i]].size) << i;
        EXPECT_EQ(v.index[i].key, video_keys[i]) << i;
    }
    ASSERT_EQ(a.index.size(), 2u);
    EXPECT_EQ(a.index[1].data, avi.chunks[4].offset + 8);
    EXPECT_TRUE(a.index[0].key && a.index[1].key);

    // The legacy index, relative to the 'movi' type.
    ASSERT_TRUE(avi.has_idx1);
    ASSERT_EQ(avi.idx1.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(avi.idx1[i].id, ids[i]) << i;
        EXPECT_EQ(avi.idx1[i].offset + avi.riffs[0].movi + 8, avi.chunks[i].offset) << i;
        EXPECT_EQ(avi.idx1[i].size, sizes[i]) << i;
    }
    EXPECT_EQ(avi.idx1[0].flags, kAviifKeyframe);
    EXPECT_EQ(avi.idx1[2].flags, 0u);
    EXPECT_EQ(avi.idx1[3].flags, 0u);
    EXPECT_EQ(avi.idx1[4].flags, kAviifKeyframe);
}

TEST(AviLayout, AnEmptyRecordingIsStillAWellFormedFile) {
    MemorySink sink;
    AviWriter writer(sink, {Video(32, 32, true)});
    ASSERT_TRUE(writer.Begin());
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    EXPECT_TRUE(avi.chunks.empty());
    EXPECT_TRUE(avi.ix.empty());
    EXPECT_TRUE(avi.streams[0].super.empty());
    EXPECT_EQ(avi.streams[0].length, 0u);
    EXPECT_TRUE(avi.has_idx1);
    EXPECT_TRUE(avi.idx1.empty());
    EXPECT_EQ(LengthField(sink, avi.riffs[0].movi), 4u);
}

TEST(AviLayout, LeavesTheLegacyIndexOutWhenAsked) {
    MemorySink sink;
    Limits limits;
    limits.legacy_index = false;
    AviWriter writer(sink, {Video(16, 16)}, limits);
    const auto frame = Pattern(512, 9);
    ASSERT_TRUE(writer.Begin());
    ASSERT_TRUE(writer.AddChunk(0, frame.data(), 512, true));
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    EXPECT_FALSE(avi.has_idx1);
    EXPECT_EQ(avi.flags, kAvifIsInterleaved);
    ASSERT_EQ(avi.streams[0].index.size(), 1u);
    EXPECT_EQ(avi.streams[0].index[0].data, avi.chunks[0].offset + 8);
}

TEST(AviLayout, ContinuesInAvixRiffsOnceARiffIsFull) {
    MemorySink sink;
    Limits limits;
    limits.riff_bytes = 64 * 1024;
    limits.super_index_entries = 16;
    AviWriter writer(sink, {Video(64, 48), Pcm(44100, 2)}, limits);
    ASSERT_TRUE(writer.Begin());
    std::vector<std::vector<uint8_t>> frames, blocks;
    for (int i = 0; i < 40; ++i) {
        frames.push_back(Pattern(10000 + static_cast<size_t>(i), static_cast<uint8_t>(i)));
        blocks.push_back(Pattern(1764, static_cast<uint8_t>(100 + i)));
        ASSERT_TRUE(writer.AddChunk(0, frames.back().data(), static_cast<uint32_t>(frames.back().size()), true));
        ASSERT_TRUE(writer.AddChunk(1, blocks.back().data(), 1764, true));
        if (i % 10 == 9) {
            ASSERT_TRUE(writer.AddChunk(0, nullptr, 0, false));
        }
    }
    ASSERT_TRUE(writer.Finish());

    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_GE(avi.riffs.size(), 6u);
    EXPECT_EQ(avi.riffs.size(), writer.RiffCount());
    uint64_t total = 0;
    for (size_t r = 0; r < avi.riffs.size(); ++r) {
        EXPECT_EQ(avi.riffs[r].type, r ? FourCC('A', 'V', 'I', 'X') : FourCC('A', 'V', 'I', ' ')) << r;
        EXPECT_LE(avi.riffs[r].size, limits.riff_bytes) << r;
        EXPECT_NE(avi.riffs[r].movi, 0u) << r;
        total += avi.riffs[r].size + 8;
    }
    EXPECT_EQ(total, sink.bytes.size());

    // Counts: stream lengths over the whole file, avih over the first RIFF only.
    const std::vector<ParsedChunk> video = ChunksOf(avi, 0), audio = ChunksOf(avi, 1);
    ASSERT_EQ(video.size(), 44u);
    ASSERT_EQ(audio.size(), 40u);
    EXPECT_EQ(avi.streams[0].length, 44u);
    EXPECT_EQ(avi.grand_frames, 44u);
    EXPECT_EQ(avi.streams[1].length, 40u * 1764u / 4u);
    uint32_t first_riff_frames = 0;
    for (const auto& c : video) first_riff_frames += c.offset < avi.riffs[1].offset;
    EXPECT_EQ(avi.total_frames, first_riff_frames);
    EXPECT_LT(first_riff_frames, 44u);

    // The legacy index covers the first RIFF, which holds it.
    ASSERT_TRUE(avi.has_idx1);
    size_t in_first = 0;
    for (const auto& c : avi.chunks) in_first += c.offset < avi.riffs[1].offset;
    ASSERT_EQ(avi.idx1.size(), in_first);
    for (size_t i = 0; i < in_first; ++i) EXPECT_EQ(avi.idx1[i].offset + avi.riffs[0].movi + 8, avi.chunks[i].offset);

    // One 'ix##' per stream and RIFF, inside that RIFF's 'movi', naming only its chunks.
    for (int stream = 0; stream < 2; ++stream) {
        const ParsedStream& s = avi.streams[static_cast<size_t>(stream)];
        const std::vector<ParsedChunk>& chunks = stream ? audio : video;
        ASSERT_EQ(s.super.size(), avi.riffs.size()) << stream;
        ASSERT_EQ(s.index.size(), chunks.size()) << stream;
        uint64_t duration = 0;
        for (size_t r = 0; r < s.super.size(); ++r) {
            const ParsedRiff& riff = avi.riffs[r];
            EXPECT_GT(s.super[r].offset, riff.movi);
            EXPECT_LT(s.super[r].offset, riff.offset + 8 + riff.size);
            duration += s.super[r].duration;
        }
        EXPECT_EQ(duration, s.length) << stream;
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(s.index[i].data, chunks[i].offset + 8) << stream << " " << i;
            EXPECT_EQ(s.index[i].size, chunks[i].size) << stream << " " << i;
        }
    }
    for (size_t i = 0, frame = 0; i < video.size(); ++i) {
        if (video[i].size == 0) continue;
        EXPECT_EQ(DataOf(sink, video[i]), frames[frame]) << i;
        ++frame;
    }
    for (size_t i = 0; i < audio.size(); ++i) EXPECT_EQ(DataOf(sink, audio[i]), blocks[i]) << i;
}

// As Wine's multiplexer leaves its header area empty until its stop, a
// killed recording holds zeros where the headers go; a RIFF's own headers
// reach the file only once it has closed.
TEST(AviLayout, HeadersReachTheFileOnlyOnceTheirRiffHasClosed) {
    MemorySink sink;
    Limits limits;
    limits.riff_bytes = 16 * 1024;
    AviWriter writer(sink, {Video(64, 48), Pcm(48000, 2)}, limits);
    ASSERT_TRUE(writer.Begin());
    const auto frame = Pattern(6000, 3), block = Pattern(1600, 4);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(writer.AddChunk(0, frame.data(), 6000, true));
        ASSERT_TRUE(writer.AddChunk(1, block.data(), 1600, true));
    }
    const std::vector<uint8_t> killed = sink.bytes;
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_EQ(avi.riffs.size(), 5u);
    for (uint64_t at = 0; at < avi.riffs[0].movi + 12; ++at) ASSERT_EQ(killed[at], 0) << at;
    for (size_t r = 1; r < 4; ++r)
        EXPECT_TRUE(std::equal(killed.begin() + static_cast<long>(avi.riffs[r].offset),
                               killed.begin() + static_cast<long>(avi.riffs[r].movi + 12),
                               sink.bytes.begin() + static_cast<long>(avi.riffs[r].offset)))
            << r;
    for (uint64_t at = avi.riffs[4].offset; at < avi.riffs[4].movi + 12; ++at) ASSERT_EQ(killed[at], 0) << at;
    EXPECT_EQ(killed.size(), avi.chunks.back().offset + 8 + 1600);
}

TEST(AviLayout, AChunkLargerThanARiffGetsARiffOfItsOwn) {
    MemorySink sink;
    Limits limits;
    limits.riff_bytes = 16 * 1024;
    AviWriter writer(sink, {Video(8, 8)}, limits);
    ASSERT_TRUE(writer.Begin());
    const auto small = Pattern(100, 1), big = Pattern(40000, 2);
    ASSERT_TRUE(writer.AddChunk(0, small.data(), 100, true));
    ASSERT_TRUE(writer.AddChunk(0, big.data(), 40000, true));
    ASSERT_TRUE(writer.AddChunk(0, small.data(), 100, true));
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_EQ(avi.riffs.size(), 3u);
    ASSERT_EQ(avi.chunks.size(), 3u);
    EXPECT_GT(avi.chunks[1].offset, avi.riffs[1].offset);
    EXPECT_LT(avi.chunks[1].offset, avi.riffs[2].offset);
    EXPECT_EQ(DataOf(sink, avi.chunks[1]), big);
}

TEST(AviLayout, RefusesARiffBeyondTheSuperIndexButStillFinishes) {
    MemorySink sink;
    Limits limits;
    limits.riff_bytes = 8 * 1024;
    limits.super_index_entries = 2;
    AviWriter writer(sink, {Video(8, 8)}, limits);
    ASSERT_TRUE(writer.Begin());
    const auto frame = Pattern(3000, 5);
    int written = 0;
    while (writer.AddChunk(0, frame.data(), 3000, true)) ++written;
    EXPECT_EQ(writer.LastError(), Error::kIndexFull);
    EXPECT_EQ(writer.RiffCount(), 2u);
    EXPECT_GT(written, 2);
    EXPECT_TRUE(writer.AddChunk(0, nullptr, 0, false));  // an empty chunk still fits
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    EXPECT_EQ(avi.streams[0].length, static_cast<uint32_t>(written + 1));
    EXPECT_EQ(avi.streams[0].super.size(), 2u);
}

TEST(AviLayout, AFailedWriteStopsEverythingAfterIt) {
    MemorySink sink;
    AviWriter writer(sink, {Video(8, 8)});
    ASSERT_TRUE(writer.Begin());
    sink.FailAfter(static_cast<int64_t>(sink.bytes.size()) + 20000);
    const auto frame = Pattern(6000, 5);
    int written = 0;
    while (written < 10 && writer.AddChunk(0, frame.data(), 6000, true)) ++written;
    EXPECT_EQ(written, 3);
    EXPECT_EQ(writer.LastError(), Error::kWriteFailed);
    sink.FailAfter(-1);
    EXPECT_FALSE(writer.AddChunk(0, frame.data(), 10, true));
    EXPECT_EQ(writer.LastError(), Error::kWriteFailed);
    EXPECT_FALSE(writer.Finish());
}

TEST(AviLayout, RefusesMisuse) {
    MemorySink sink;
    AviWriter writer(sink, {Pcm(8000, 1)});
    const uint8_t byte = 0;
    EXPECT_FALSE(writer.AddChunk(0, &byte, 1, true));
    EXPECT_EQ(writer.LastError(), Error::kWrongState);
    EXPECT_FALSE(writer.Finish());
    ASSERT_TRUE(writer.Begin());
    EXPECT_FALSE(writer.Begin());
    EXPECT_FALSE(writer.AddChunk(1, &byte, 1, true));
    EXPECT_EQ(writer.LastError(), Error::kBadStream);
    EXPECT_FALSE(writer.AddChunk(0, nullptr, 4, true));
    EXPECT_FALSE(writer.AddChunk(0, &byte, 0x80000000u, true));
    EXPECT_EQ(writer.LastError(), Error::kChunkTooLarge);
    EXPECT_TRUE(writer.AddChunk(0, &byte, 1, true));
    ASSERT_TRUE(writer.Finish());
    EXPECT_FALSE(writer.AddChunk(0, &byte, 1, true));
    EXPECT_EQ(writer.LastError(), Error::kWrongState);
    EXPECT_FALSE(writer.Finish());
}

TEST(AviLayout, FilledChunksComeInPiecesOfTheFill) {
    MemorySink sink;
    AviWriter writer(sink, {Pcm(8000, 1)});
    ASSERT_TRUE(writer.Begin());
    ASSERT_TRUE(writer.AddFilledChunks(0, 0x80, 2500, 1000));
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_EQ(avi.chunks.size(), 3u);
    EXPECT_EQ(avi.chunks[2].size, 500u);
    for (const auto& c : avi.chunks) EXPECT_EQ(DataOf(sink, c), std::vector<uint8_t>(c.size, 0x80));
    EXPECT_EQ(avi.streams[0].length, 1250u);
}

TEST(AviLayout, SetStartReachesTheStreamHeader) {
    MemorySink sink;
    AviWriter writer(sink, {Video(8, 8), Pcm(48000, 2)});
    ASSERT_TRUE(writer.Begin());
    writer.SetStart(1, 2400);
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    EXPECT_EQ(avi.streams[0].start, 0u);
    EXPECT_EQ(avi.streams[1].start, 2400u);
}

// 1.002 s of 48 kHz audio that the clock saw arrive in 1.000 s ran 0.2 %
// fast: with the audio as master the video's frames are stretched as much.
// 60 frames seen in 0.999 s ran fast too: as master they slow the audio's
// byte rate. A master that kept time changes nothing, however the others end.
TEST(AviLayout, AMasterStreamCompensatesTheOthersDrift) {
    const uint32_t audio_bytes = 48096 * 4;  // 1.002 s at the nominal rate
    struct Case {
        size_t master;
        double clock_seconds;
        uint32_t video_scale, audio_rate;
    };
    const double video_ratio = 60 * 166833 / 1e7 / 0.999;
    for (Case c : {Case{1, 1.0, 167167, 192000},
                   Case{0, 0.999, 166833, static_cast<uint32_t>(std::lround(192000 / video_ratio))},
                   Case{1, 1.002, 166833, 192000}, Case{0, 60 * 166833 / 1e7, 166833, 192000}}) {
        MemorySink sink;
        AviWriter writer(sink, {Video(8, 8), Pcm(48000, 2), Video(4, 4)});
        ASSERT_TRUE(writer.Begin());
        for (int i = 0; i < 60; ++i) ASSERT_TRUE(writer.AddChunk(0, "abcd", 4, true));
        ASSERT_TRUE(writer.AddFilledChunks(1, 0, audio_bytes, 65536));
        writer.CompensateDrift(c.master, c.clock_seconds);
        ASSERT_TRUE(writer.Finish());
        const ParsedAvi avi = sink.Parse();
        ASSERT_TRUE(avi.ok) << avi.error;
        EXPECT_EQ(avi.streams[0].scale, c.video_scale) << c.master << " " << c.clock_seconds;
        EXPECT_EQ(avi.streams[0].rate, 10000000u);
        EXPECT_EQ(avi.micro_sec_per_frame, (c.video_scale + 5) / 10);
        EXPECT_EQ(avi.streams[1].scale, 4u);
        EXPECT_EQ(avi.streams[1].rate, c.audio_rate) << c.master << " " << c.clock_seconds;
        EXPECT_EQ(avi.streams[2].scale, 166833u) << "a stream without data stays";
        EXPECT_EQ(avi.streams[1].length, 48096u);
    }
    MemorySink sink;
    AviWriter writer(sink, {Video(8, 8), Pcm(48000, 2)});
    ASSERT_TRUE(writer.Begin());
    ASSERT_TRUE(writer.AddChunk(0, "abcd", 4, true));
    writer.CompensateDrift(1, 1.0);  // an empty master changes nothing
    writer.CompensateDrift(7, 1.0);  // nor does one that is not there
    ASSERT_TRUE(writer.AddFilledChunks(1, 0, 4800, 65536));
    writer.CompensateDrift(1, 0.0);  // nor a clock that saw no time pass
    ASSERT_TRUE(writer.Finish());
    const ParsedAvi avi = sink.Parse();
    ASSERT_TRUE(avi.ok) << avi.error;
    EXPECT_EQ(avi.streams[0].scale, 166833u);
}

TEST(FrameTimeline, FillsSkippedSlotsAndAppendsEverythingElse) {
    const int64_t t = 166833;
    FrameTimeline line(t);
    EXPECT_EQ(line.Place(0), 0u);
    EXPECT_EQ(line.Place(t), 0u);
    EXPECT_EQ(line.Place(4 * t), 2u);  // slots 2 and 3 were lost
    EXPECT_EQ(line.NextSlot(), 5u);
    EXPECT_EQ(line.Place(5 * t + t / 3), 0u);  // jitter rounds to its slot
    EXPECT_EQ(line.Place(7 * t - t / 3), 1u);  // slot 7, early: slot 6 was lost
    EXPECT_EQ(line.NextSlot(), 8u);
    EXPECT_EQ(line.Place(8 * t + (t + 1) / 2), 1u);  // half way rounds up to slot 9
    EXPECT_EQ(line.Place(2 * t), 0u);                // late or repeated: appended
    EXPECT_EQ(line.NextSlot(), 11u);
    line.Append();
    EXPECT_EQ(line.Place(-5), 0u);
    EXPECT_EQ(line.NextSlot(), 13u);
    EXPECT_EQ(line.Place(FrameTimeline::kMaxGap + 100 * t), 0u);  // a fault, not ten minutes lost
    const int64_t longest = FrameTimeline::kMaxGap / t;
    EXPECT_EQ(line.Place((14 + longest) * t), static_cast<uint64_t>(longest));
    EXPECT_EQ(line.NextSlot(), static_cast<uint64_t>(15 + longest));

    FrameTimeline untimed(0);
    EXPECT_EQ(untimed.Place(50 * t), 0u);
    EXPECT_EQ(untimed.NextSlot(), 1u);
}

TEST(AudioStart, SilenceAndStartUnitsMatchTheFirstSampleTime) {
    EXPECT_EQ(LeadingSilenceBytes(0, 48000, 4), 0u);
    EXPECT_EQ(LeadingSilenceBytes(-10000, 48000, 4), 0u);
    EXPECT_EQ(LeadingSilenceBytes(100000, 48000, 4), 480u * 4u);     // 10 ms
    EXPECT_EQ(LeadingSilenceBytes(10000, 44100, 4), 44u * 4u);       // 1 ms: 44.1 samples
    EXPECT_EQ(LeadingSilenceBytes(30 * kUnitsPerSecond + 5000, 44100, 4), (30u * 44100u + 22u) * 4u);
    EXPECT_EQ(LeadingSilenceBytes(INT64_MAX, 192000, 8), 600ull * 192000 * 8);
    EXPECT_EQ(StartUnits(100000, 4, 192000), 480u);  // 10 ms of stereo 16-bit blocks
    EXPECT_EQ(StartUnits(100000, 1, 1000), 10u);
    EXPECT_EQ(StartUnits(-1, 1, 1000), 0u);
    EXPECT_EQ(StartUnits(INT64_MAX, 1, 1000000), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace fernwood::avi
