// Helpers of the page information and page data tests: hand-made files
// saved in a temporary directory, opened through the public interface.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

struct OpenedFile {
    int32_t handle = 0;
    uint32_t type = 0, pages = 0, error = 0;
    PageInfo pi{};   // the records of info(page)
    PageSizes ps{};

    explicit OpenedFile(const std::string& path, uint32_t flags = 0, FileLocation* where = nullptr) {
        PathBuf p(path);
        handle = xtavopen(where, p, flags, &type, &pages, &error);
    }
    ~OpenedFile() {
        if (handle > 0) xtavclose(&handle, &error);
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    bool ok() const { return handle > 0; }

    // The calls, each giving its error code (0 on success).
    // (err is read after the call: the argument is a pointer.)
    static uint32_t code(int32_t r, const uint32_t* err) { return r < 0 ? (*err ? *err : ~0u) : 0; }
    uint32_t info(uint16_t page, PageInfo& i, PageSizes& s) {
        uint32_t err = 0;
        return code(xtavgeti(&handle, page, &i, &s, &err), &err);
    }
    uint32_t info(uint16_t page) { return info(page, pi, ps); }
    uint32_t data(PageInfo& i) {
        uint32_t err = 0;
        return code(xtavgtdata(&handle, &i, &err), &err);
    }
    uint32_t data() { return data(pi); }
    uint32_t option(uint32_t action, uint32_t opt, void* value) {
        uint32_t err = 0;
        return code(xtavopts(&handle, action, opt, static_cast<uint32_t*>(value), &err), &err);
    }
    int32_t read(void* buf, uint32_t start, uint32_t count, uint32_t* remaining, uint16_t page,
                 uint32_t* err) {
        return xtavread(&handle, buf, start, count, remaining, page, err);
    }
    // The page's stream of `size` bytes read in pieces; empty with *err set
    // on a failure or a wrong remaining count.
    std::vector<uint8_t> stream(uint16_t page, uint32_t size, uint32_t piece, uint32_t* err) {
        std::vector<uint8_t> out(size);
        *err = 0;
        for (uint32_t pos = 0, remaining = 0; pos < size;) {
            int32_t r = read(out.data() + pos, pos, std::min(piece, size - pos), &remaining, page, err);
            if (r <= 0 || remaining != size - pos - uint32_t(r)) {
                if (!*err) *err = ~0u;
                return {};
            }
            pos += uint32_t(r);
        }
        return out;
    }
};

// The stored strips of page p as the library reads them (the last strip
// cut to its stored byte count: the reader lets a single strip run to the
// end of the file); nothing when the page does not read.
inline std::optional<std::vector<uint8_t>> read_page(OpenedFile& f, uint16_t p) {
    uint16_t width = 0;
    if (f.info(p) != 0 || f.option(1, TAV_OPT_COUNT_SIZE, &width) != 0 || width != 4) return std::nullopt;
    std::vector<uint32_t> counts(f.pi.stripCount);
    TavStripCounts stored{uint32_t(counts.size()), counts.data()};
    if (f.option(1, TAV_OPT_STORED_COUNTS, &stored) != 0) return std::nullopt;
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    uint32_t err = 0;
    auto data = f.stream(p, f.ps.dataBytes, 4096, &err);
    if (err || data.size() < total) return std::nullopt;
    data.resize(size_t(total));
    return data;
}

// Every page; nothing when the file does not open or a page does not read.
inline std::optional<std::vector<std::vector<uint8_t>>> read_pages(const std::string& path) {
    OpenedFile f(path);
    if (!f.ok()) return std::nullopt;
    std::vector<std::vector<uint8_t>> pages;
    for (uint16_t p = 1; p <= f.pages; ++p) {
        auto page = read_page(f, p);
        if (!page) return std::nullopt;
        pages.push_back(std::move(*page));
    }
    return pages;
}

struct TiffFileTest : ::testing::Test {
    TempDir dir;
    int n = 0;
    std::string save(const std::vector<uint8_t>& bytes) {
        std::string path = dir.file("t" + std::to_string(n++) + ".tif");
        write_file(path, bytes);
        return path;
    }
    // A bilevel page 64 x 10 with one strip of 100 bytes; `more` adds or
    // replaces entries.
    template <typename F>
    std::string one_page(bool mm, F more) {
        TiffBuilder b(mm);
        uint32_t off = b.add_data(std::vector<uint8_t>(100, 0x55));
        auto& d = b.add_ifd();
        d.longs(256, {64}).longs(257, {10}).longs(273, {off}).longs(279, {100});
        more(d);
        return save(b.build());
    }
};
