// Helpers for the page information and page data tests: open a file through
// the public interface and ask for pages.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qvtav.h"
#include "test_util.h"

struct OpenedFile {
    int32_t handle = 0;
    uint32_t type = 0;
    uint32_t pages = 0;
    uint32_t error = 0;

    explicit OpenedFile(const std::string& path, uint32_t flags = 0) {
        PathBuf p(path);
        handle = xtavopen(nullptr, p, flags, &type, &pages, &error);
    }
    ~OpenedFile() {
        if (handle > 0) {
            uint32_t err = 0;
            xtavclose(&handle, &err);
        }
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    bool ok() const { return handle > 0; }

    // xtavgeti; returns the error code (0 on success).
    uint32_t info(uint16_t page, PageInfo& pi, PageSizes& ps) {
        uint32_t err = 0;
        int32_t r = xtavgeti(&handle, page, &pi, &ps, &err);
        return r < 0 ? (err ? err : 0xFFFFFFFFu) : 0;
    }
    // xtavread; returns the result, error in *err.
    int32_t read(void* buf, uint32_t start, uint32_t count, uint32_t* remaining, uint16_t page,
                 uint32_t* err) {
        return xtavread(&handle, buf, start, count, remaining, page, err);
    }
    // The whole stream of the current page (page from 1) in pieces of `piece`
    // bytes; empty with *err set on failure.
    std::vector<uint8_t> stream(uint16_t page, uint32_t size, uint32_t piece, uint32_t* err) {
        std::vector<uint8_t> out(size);
        uint32_t pos = 0;
        *err = 0;
        while (pos < size) {
            uint32_t want = size - pos < piece ? size - pos : piece;
            uint32_t remaining = 0;
            int32_t r = xtavread(&handle, out.data() + pos, pos, want, &remaining, page, err);
            if (r <= 0) {
                if (*err == 0) *err = 0xFFFFFFFFu;
                return {};
            }
            pos += uint32_t(r);
            if (remaining != size - pos) {
                *err = 0xFFFFFFFEu;
                return {};
            }
        }
        return out;
    }
    uint32_t option(uint32_t action, uint32_t option, void* value) {
        uint32_t err = 0;
        int32_t r = xtavopts(&handle, action, option, static_cast<uint32_t*>(value), &err);
        return r < 0 ? (err ? err : 0xFFFFFFFFu) : 0;
    }
    uint32_t data(PageInfo& pi) {
        uint32_t err = 0;
        int32_t r = xtavgtdata(&handle, &pi, &err);
        return r < 0 ? (err ? err : 0xFFFFFFFFu) : 0;
    }
};

inline PageInfo fresh_info() {
    PageInfo pi;
    std::memset(&pi, 0, sizeof pi);
    return pi;
}

inline PageSizes fresh_sizes() {
    PageSizes ps;
    std::memset(&ps, 0, sizeof ps);
    return ps;
}
