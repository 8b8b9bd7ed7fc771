// Helpers of the block file tests: one handle through the exports (local,
// or remote through the stand-in server), pages to write, and the file's
// big-endian fields read and patched by offset.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "qvtav.h"
#include "test_util.h"

namespace bt {

constexpr uint32_t kBlock = 4096;

inline uint32_t be16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at] << 8 | b[at + 1]); }
inline uint32_t be32(const std::vector<uint8_t>& b, size_t at) { return be16(b, at) << 16 | be16(b, at + 2); }
// Sets the big-endian field of `bytes` bytes at `at`.
inline void put_be(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k, v >>= 8) b[at + size_t(k)] = uint8_t(v);
}

// A bilevel T.6 page of width x length at 200 x 100 dpi.
inline PageInfo page(uint32_t width = 1728, uint32_t length = 2200) {
    PageInfo i{};
    i.xResNum = 200, i.yResNum = 100, i.xResDen = i.yResDen = 1, i.resolutionUnit = 2;
    i.imageWidth = width, i.imageLength = length;
    i.bitsPerSample[0] = i.samplesPerPixel = i.fillOrder = 1;
    i.compression = TAV_COMP_CCITT_T6;
    i.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return i;
}

inline std::vector<uint8_t> data(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 7;
    for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    return v;
}

// One handle; every call gives its error code (0 when it succeeded). The
// handle is aborted unless it was closed.
struct Handle {
    int32_t h = 0;
    uint32_t type = 0, pages = 0, err = 0;
    FileLocation loc{};

    Handle() = default;
    explicit Handle(const std::string& server) {
        loc.isRemote = 1;
        std::snprintf(loc.server, sizeof loc.server, "%s", server.c_str());
    }
    ~Handle() {
        if (h > 0) xtavabort(&h, &err);
    }
    FileLocation* where() { return loc.isRemote ? &loc : nullptr; }
    uint32_t code(int32_t r) { return r < 0 ? (err ? err : ~0u) : 0; }

    uint32_t create(const std::string& path) {
        type = FILETYPE_BLOCK;
        return code(h = xtavcreat(where(), PathBuf(path), &type, &err));
    }
    uint32_t open(const std::string& path, uint32_t flags = TAV_OPEN_READ) {
        return code(h = xtavopen(where(), PathBuf(path), flags, &type, &pages, &err));
    }
    uint32_t close() {  // the code of a failed close is in errno
        int32_t r = xtavclose(&h, &err);
        h = 0;
        return r < 0 ? uint32_t(errno) : 0;
    }
    uint32_t put(uint16_t p, PageInfo& info, PutOptions* options = nullptr) {
        return code(xtavputi(&h, p, &info, options, &err));
    }
    uint32_t write(uint16_t p, const std::vector<uint8_t>& bytes, uint8_t flag = 1) {
        int32_t r = xtavwrite(&h, const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()), p, flag, &err);
        return r == int32_t(bytes.size()) ? 0 : code(-1);
    }
    // xtavputi and one xtavwrite with the last-data flag.
    uint32_t add(uint16_t p, PageInfo info, const std::vector<uint8_t>& bytes) {
        uint32_t e = put(p, info);
        return e ? e : write(p, bytes);
    }
    uint32_t info(uint16_t p, PageInfo& i, PageSizes& s) {
        i = PageInfo{}, s = PageSizes{};
        return code(xtavgeti(&h, p, &i, &s, &err));
    }
    uint32_t option(uint32_t opt, void* value) {
        return code(xtavopts(&h, 1, opt, static_cast<uint32_t*>(value), &err));
    }
    // The page's data, read in pieces, each with the right bytes left;
    // empty with `err` set on a failure.
    std::vector<uint8_t> read(uint16_t p, uint32_t piece) {
        PageInfo i;
        PageSizes s;
        if (info(p, i, s)) return {};
        std::vector<uint8_t> out(s.dataBytes);
        for (uint32_t at = 0, n = 0, left = 0; at < s.dataBytes; at += n) {
            n = std::min(piece, s.dataBytes - at);
            if (xtavread(&h, out.data() + at, at, n, &left, p, &err) != int32_t(n) || left != s.dataBytes - at - n) {
                err = err ? err : ~0u;
                return {};
            }
        }
        return out;
    }
};

}  // namespace bt
