// Reads an AVI file back for the tests of the AVI Mux stand-in, apart from
// the code that writes it: the RIFF nesting with every size checked against
// its parent, the headers, both kinds of index, and where each chunk lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fernwood::avi {

struct ParsedSuperEntry {
    uint64_t offset = 0;
    uint32_t size = 0;
    uint32_t duration = 0;
};

struct ParsedIndexEntry {
    uint64_t data = 0;  // absolute offset of the chunk's data
    uint32_t size = 0;
    bool key = false;
};

struct ParsedStream {
    uint32_t type = 0, handler = 0;
    uint32_t scale = 0, rate = 0, start = 0, length = 0;
    uint32_t suggested_buffer = 0, sample_size = 0;
    int16_t frame[4] = {};
    std::vector<uint8_t> format;
    uint32_t super_chunk_id = 0;
    uint32_t super_capacity = 0;
    std::vector<ParsedSuperEntry> super;
    // The standard index entries of every 'ix##' the super index names, in order.
    std::vector<ParsedIndexEntry> index;
};

struct ParsedChunk {
    uint32_t id = 0;
    uint64_t offset = 0;  // of the chunk header
    uint32_t size = 0;
};

struct ParsedRiff {
    uint32_t type = 0;  // 'AVI ' or 'AVIX'
    uint64_t offset = 0;
    uint32_t size = 0;
    uint64_t movi = 0;  // offset of its 'LIST' 'movi'
};

struct ParsedIdx1Entry {
    uint32_t id = 0, flags = 0, offset = 0, size = 0;
};

struct ParsedAvi {
    bool ok = false;
    std::string error;
    uint32_t micro_sec_per_frame = 0, max_bytes_per_sec = 0, flags = 0, total_frames = 0;
    uint32_t stream_count = 0, suggested_buffer = 0, width = 0, height = 0;
    bool has_dmlh = false;
    uint32_t grand_frames = 0;
    uint64_t junk_bytes = 0;  // JUNK in 'AVI ' before the first 'movi', headers included
    std::vector<ParsedStream> streams;
    std::vector<ParsedRiff> riffs;
    std::vector<ParsedChunk> chunks;  // stream chunks of every 'movi' in file order
    std::vector<ParsedChunk> ix;      // 'ix##' chunks in file order
    bool has_idx1 = false;
    std::vector<ParsedIdx1Entry> idx1;
};

ParsedAvi ParseAvi(const uint8_t* data, size_t size);

// The stream number of a '##xx' chunk id, or -1.
int StreamOfChunk(uint32_t id);

}  // namespace fernwood::avi
