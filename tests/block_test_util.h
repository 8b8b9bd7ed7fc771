// Helpers of the block file tests: pages written and read through the
// exports (locally or through a remote location), and the file's big-endian
// fields read and patched by offset.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "qvtav.h"
#include "test_util.h"

namespace bt {

constexpr uint32_t kBlock = 4096;

inline uint32_t be16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at] << 8 | b[at + 1]); }
inline uint32_t be32(const std::vector<uint8_t>& b, size_t at) { return be16(b, at) << 16 | be16(b, at + 2); }
inline void put_be16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
inline void put_be32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put_be16(b, at, v >> 16);
    put_be16(b, at + 2, v & 0xFFFF);
}

// A bilevel T.6 page of width x length at 200 x 100 dpi.
inline PageInfo page(uint32_t width = 1728, uint32_t length = 2200) {
    PageInfo i{};
    i.xResNum = 200;
    i.yResNum = 100;
    i.xResDen = i.yResDen = 1;
    i.resolutionUnit = 2;
    i.imageWidth = width;
    i.imageLength = length;
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

// One handle through the exports; every call gives its error code (0 when
// it succeeded).
struct Handle {
    int32_t h = 0;
    uint32_t type = 0, pages = 0;
    FileLocation loc{};
    bool remote = false;

    Handle() = default;
    // Files served from directory `server` through the remote-access library.
    explicit Handle(const std::string& server) : remote(true) {
        loc.isRemote = 1;
        std::snprintf(loc.server, sizeof loc.server, "%s", server.c_str());
    }
    ~Handle() { abort(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    FileLocation* where() { return remote ? &loc : nullptr; }
    uint32_t create(const std::string& path) {
        PathBuf p(path);
        uint32_t err = 0;
        type = FILETYPE_BLOCK;
        h = xtavcreat(where(), p, &type, &err);
        return h > 0 ? 0 : err;
    }
    uint32_t open(const std::string& path, uint32_t flags = TAV_OPEN_READ) {
        PathBuf p(path);
        uint32_t err = 0;
        h = xtavopen(where(), p, flags, &type, &pages, &err);
        return h > 0 ? 0 : err;
    }
    uint32_t close() {
        uint32_t err = 0;
        int32_t r = xtavclose(&h, &err);
        h = 0;
        return r < 0 ? uint32_t(errno) : 0;
    }
    void abort() {
        uint32_t err = 0;
        if (h > 0) xtavabort(&h, &err);
        h = 0;
    }
    uint32_t put(uint16_t p, PageInfo& info, PutOptions* options = nullptr) {
        uint32_t err = 0;
        return xtavputi(&h, p, &info, options, &err) < 0 ? err : 0;
    }
    uint32_t write(uint16_t p, const std::vector<uint8_t>& bytes, uint8_t flag = 1) {
        uint32_t err = 0;
        int32_t r = xtavwrite(&h, const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()), p, flag, &err);
        if (r < 0) return err;
        return r == int32_t(bytes.size()) ? 0 : ~0u;
    }
    // xtavputi and one xtavwrite with the last-data flag.
    uint32_t add(uint16_t p, PageInfo info, const std::vector<uint8_t>& bytes) {
        uint32_t err = put(p, info);
        return err ? err : write(p, bytes);
    }
    uint32_t info(uint16_t p, PageInfo& i, PageSizes& s) {
        uint32_t err = 0;
        i = PageInfo{};
        s = PageSizes{};
        return xtavgeti(&h, p, &i, &s, &err) < 0 ? err : 0;
    }
    uint32_t option(uint32_t opt, void* value) {
        uint32_t err = 0;
        return xtavopts(&h, 1, opt, static_cast<uint32_t*>(value), &err) < 0 ? err : 0;
    }
    // The page's data read in pieces; *err gets the first failure.
    std::vector<uint8_t> read(uint16_t p, uint32_t piece, uint32_t* err) {
        PageInfo i;
        PageSizes s;
        std::vector<uint8_t> out;
        if ((*err = info(p, i, s)) != 0) return out;
        out.resize(s.dataBytes);
        for (uint32_t at = 0; at < s.dataBytes;) {
            uint32_t n = std::min(piece, s.dataBytes - at), left = 0;
            int32_t r = xtavread(&h, out.data() + at, at, n, &left, p, err);
            if (r != int32_t(n) || left != s.dataBytes - at - n) {
                if (!*err) *err = ~0u;
                return {};
            }
            at += n;
        }
        return out;
    }
};

}  // namespace bt
