#include "avi_parse.h"

#include <cstring>

namespace fernwood::avi {
namespace {

constexpr uint32_t Id(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

std::string Text(uint32_t id) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(id >> (8 * i));
    return s;
}

class Parser {
public:
    Parser(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    ParsedAvi Run() {
        uint64_t at = 0;
        while (at < size_ && out_.error.empty()) {
            if (size_ - at < 12) return Fail("trailing bytes at " + std::to_string(at));
            const uint32_t id = U32(at), size = U32(at + 4), type = U32(at + 8);
            if (id != Id("RIFF")) return Fail("not a RIFF at " + std::to_string(at));
            const uint64_t end = at + 8 + size;
            if (end > size_) return Fail("RIFF at " + std::to_string(at) + " runs past the file");
            if (out_.riffs.empty() ? type != Id("AVI ") : type != Id("AVIX"))
                return Fail("RIFF of type " + Text(type) + " at " + std::to_string(at));
            out_.riffs.push_back({type, at, size, 0});
            List(at + 12, end, type);
            at = end + (size & 1);
        }
        if (!out_.error.empty()) return out_;
        if (out_.riffs.empty()) return Fail("empty file");
        for (size_t i = 0; i < out_.streams.size() && out_.error.empty(); ++i) ReadStandardIndexes(i);
        out_.ok = out_.error.empty();
        return out_;
    }

private:
    uint16_t U16(uint64_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
    uint32_t U32(uint64_t at) const {
        return static_cast<uint32_t>(U16(at)) | static_cast<uint32_t>(U16(at + 2)) << 16;
    }
    uint64_t U64(uint64_t at) const { return U32(at) | static_cast<uint64_t>(U32(at + 4)) << 32; }

    ParsedAvi Fail(const std::string& why) {
        if (out_.error.empty()) out_.error = why;
        return out_;
    }

    // The chunks of a list from `at` to `end`; `parent` is the list type.
    void List(uint64_t at, uint64_t end, uint32_t parent) {
        while (at < end && out_.error.empty()) {
            if (end - at < 8) {
                Fail("a chunk header does not fit its list at " + std::to_string(at));
                return;
            }
            const uint32_t id = U32(at), size = U32(at + 4);
            const uint64_t body = at + 8, next = body + size + (size & 1);
            if (body + size > end) {
                Fail(Text(id) + " at " + std::to_string(at) + " runs past its list");
                return;
            }
            if (id == Id("LIST")) {
                if (size < 4) {
                    Fail("short LIST at " + std::to_string(at));
                    return;
                }
                const uint32_t type = U32(body);
                if (type == Id("movi")) {
                    if (out_.riffs.back().movi) Fail("two 'movi' in one RIFF");
                    out_.riffs.back().movi = at;
                }
                List(body + 4, body + size, type);
            } else {
                Chunk(id, at, size, parent);
            }
            at = next;
        }
    }

    void Chunk(uint32_t id, uint64_t at, uint32_t size, uint32_t parent) {
        const uint64_t body = at + 8;
        if (parent == Id("movi")) {
            if ((id & 0xFFFF) == (Id("ix00") & 0xFFFF))
                out_.ix.push_back({id, at, size});
            else
                out_.chunks.push_back({id, at, size});
        } else if (id == Id("avih") && size >= 56) {
            out_.micro_sec_per_frame = U32(body);
            out_.max_bytes_per_sec = U32(body + 4);
            out_.flags = U32(body + 12);
            out_.total_frames = U32(body + 16);
            out_.stream_count = U32(body + 24);
            out_.suggested_buffer = U32(body + 28);
            out_.width = U32(body + 32);
            out_.height = U32(body + 36);
        } else if (id == Id("strh") && size >= 56) {
            ParsedStream s;
            s.type = U32(body);
            s.handler = U32(body + 4);
            s.scale = U32(body + 20);
            s.rate = U32(body + 24);
            s.start = U32(body + 28);
            s.length = U32(body + 32);
            s.suggested_buffer = U32(body + 36);
            s.sample_size = U32(body + 44);
            for (int i = 0; i < 4; ++i) s.frame[i] = static_cast<int16_t>(U16(body + 48 + 2 * i));
            out_.streams.push_back(s);
        } else if (id == Id("strf") && !out_.streams.empty()) {
            out_.streams.back().format.assign(data_ + body, data_ + body + size);
        } else if (id == Id("indx") && !out_.streams.empty()) {
            SuperIndex(body, size);
        } else if (id == Id("dmlh") && size >= 4) {
            out_.has_dmlh = true;
            out_.grand_frames = U32(body);
        } else if (id == Id("JUNK") && parent == Id("AVI ")) {
            out_.junk_bytes += 8 + size;
        } else if (id == Id("idx1")) {
            if (parent != Id("AVI ")) Fail("idx1 outside the first RIFF");
            out_.has_idx1 = true;
            for (uint64_t e = body; e + 16 <= body + size; e += 16)
                out_.idx1.push_back({U32(e), U32(e + 4), U32(e + 8), U32(e + 12)});
        }
    }

    void SuperIndex(uint64_t body, uint32_t size) {
        ParsedStream& s = out_.streams.back();
        if (size < 24 || U16(body) != 4 || data_[body + 2] != 0 || data_[body + 3] != 0) {
            Fail("malformed super index");
            return;
        }
        const uint32_t used = U32(body + 4);
        s.super_chunk_id = U32(body + 8);
        s.super_capacity = (size - 24) / 16;
        if (used > s.super_capacity) {
            Fail("super index uses more entries than it holds");
            return;
        }
        for (uint32_t i = 0; i < used; ++i) {
            const uint64_t e = body + 24 + 16 * uint64_t{i};
            s.super.push_back({U64(e), U32(e + 8), U32(e + 12)});
        }
    }

    void ReadStandardIndexes(size_t stream) {
        ParsedStream& s = out_.streams[stream];
        for (const ParsedSuperEntry& e : s.super) {
            if (e.offset + 32 > size_) {
                Fail("super index entry past the file");
                return;
            }
            const uint32_t size = U32(e.offset + 4);
            const std::string digits = {static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10)};
            if (Text(U32(e.offset)) != "ix" + digits || e.size != size + 8 || e.offset + 8 + size > size_) {
                Fail("super index entry does not name an ix" + digits + " chunk of its size");
                return;
            }
            const uint64_t b = e.offset + 8;
            const uint32_t used = U32(b + 4);
            if (U16(b) != 2 || data_[b + 3] != 1 || U32(b + 8) != s.super_chunk_id || 24 + 8 * uint64_t{used} > size) {
                Fail("malformed standard index");
                return;
            }
            const uint64_t base = U64(b + 12);
            for (uint32_t i = 0; i < used; ++i) {
                const uint64_t entry = b + 24 + 8 * uint64_t{i};
                const uint32_t sz = U32(entry + 4);
                s.index.push_back({base + U32(entry), sz & 0x7FFFFFFFu, (sz & 0x80000000u) == 0});
            }
        }
    }

    const uint8_t* data_;
    size_t size_;
    ParsedAvi out_;
};

}  // namespace

ParsedAvi ParseAvi(const uint8_t* data, size_t size) { return Parser(data, size).Run(); }

int StreamOfChunk(uint32_t id) {
    const char a = static_cast<char>(id), b = static_cast<char>(id >> 8);
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    return (a - '0') * 10 + (b - '0');
}

}  // namespace fernwood::avi
