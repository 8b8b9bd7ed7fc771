// TIFF files laid out as the page-by-page copy lays them out (directory with
// room for one more entry, values, strips, strip tables), so layouts can be
// compared offset by offset; they are read back with the test TIFF reader
// (tiff_reader.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tiff_reader.h"

namespace edit_test {

using Entry = test_tiff::Entry;

struct Page {
    uint32_t width = 16, height = 8;
    std::vector<std::vector<uint8_t>> strips;
    std::string software = "edit test builder";
};

inline uint32_t align4(uint32_t v) { return (v + 3) & ~3u; }

// Byte order mm, a property block of blockLen bytes ("Title:<title>" and the
// other labels) when blockLen > 0, and a page offset table (32934 in the first
// directory) when withTable is set and there are two pages or more.
inline std::vector<uint8_t> build_tiff(const std::vector<Page>& pages, bool mm, uint32_t blockLen,
                                       bool withTable, const std::string& title = "old") {
    std::vector<uint8_t> b;
    auto at = [&](uint32_t pos, const void* p, size_t n) {
        if (b.size() < pos + n) b.resize(pos + n);
        std::memcpy(b.data() + pos, p, n);
    };
    auto u16 = [&](uint32_t pos, uint16_t v) {
        uint8_t x[2] = {uint8_t(mm ? v >> 8 : v), uint8_t(mm ? v : v >> 8)};
        at(pos, x, 2);
    };
    auto u32 = [&](uint32_t pos, uint32_t v) {
        uint8_t x[4];
        for (int i = 0; i < 4; ++i) x[i] = uint8_t(v >> (mm ? 24 - 8 * i : 8 * i));
        at(pos, x, 4);
    };
    at(0, mm ? "MM" : "II", 2);
    u16(2, 42);
    uint32_t dir = 8;
    if (blockLen) {
        at(8, "TEXO TIFF \x01\x00", 12);
        uint8_t len[4] = {uint8_t(blockLen), uint8_t(blockLen >> 8), uint8_t(blockLen >> 16), uint8_t(blockLen >> 24)};
        at(20, len, 4);
        std::string text = "Title:" + title + '\0' + "Author:" + '\0' + "Subject:" + '\0' + "Keywords:" + '\0' +
                           "Comments:" + '\0';
        text.resize(blockLen, '\0');
        at(24, text.data(), blockLen);
        dir = 24 + blockLen;
    }
    u32(4, dir);
    std::vector<uint32_t> dirs;
    uint32_t tableEntry = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page& pg = pages[i];
        uint32_t ns = uint32_t(pg.strips.size());
        std::vector<Entry> es = {{256, 4, 1, pg.width}, {257, 4, 1, pg.height}, {258, 3, 1, 8},
                                 {259, 3, 1, 1}, {262, 3, 1, 1}, {273, 4, ns, 0}, {278, 4, 1, (pg.height + ns - 1) / ns},
                                 {279, 4, ns, 0}, {282, 5, 1, 0}, {305, 2, uint32_t(pg.software.size() + 1), 0}};
        if (i == 0 && withTable) es.push_back({32934, 4, 0, 0});
        uint32_t n = uint32_t(es.size());
        uint32_t pos = align4(dir + 12 * (n + 1) + 6);
        es[8].value = pos;
        u32(pos, 72), u32(pos + 4, 1);
        es[9].value = pos + 8;
        at(pos + 8, pg.software.c_str(), es[9].count);
        pos = align4(pos + 8 + es[9].count);
        std::vector<uint32_t> offs, cnts;
        for (const auto& s : pg.strips) {
            offs.push_back(pos), cnts.push_back(uint32_t(s.size()));
            at(pos, s.data(), s.size());
            pos += uint32_t(s.size());
        }
        if (ns == 1) {
            es[5].value = offs[0], es[7].value = cnts[0];
        } else {
            pos = align4(pos);
            es[7].value = pos;
            for (uint32_t c : cnts) u32(pos, c), pos += 4;
            es[5].value = pos;
            for (uint32_t o : offs) u32(pos, o), pos += 4;
        }
        uint32_t next = i + 1 < pages.size() ? align4(pos) : 0;
        u16(dir, uint16_t(n));
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t p = dir + 2 + 12 * j;
            const Entry& e = es[j];
            if (e.tag == 32934) tableEntry = p;
            u16(p, e.tag), u16(p + 2, e.type), u32(p + 4, e.count);
            if (e.type == 3 && e.count <= 2) u16(p + 8, uint16_t(e.value)), u16(p + 10, uint16_t(e.value >> 16));
            else u32(p + 8, e.value);
        }
        u32(dir + 2 + 12 * n, next);
        dirs.push_back(dir);
        if (b.size() < pos) b.resize(pos);
        dir = next;
    }
    if (withTable && pages.size() >= 2) {
        uint32_t t = align4(uint32_t(b.size())), k = uint32_t(dirs.size());
        u32(t, 0x4F584554), u32(t + 4, 1), u32(t + 8, k), u32(t + 12, t + 16 + 4 * k);
        for (uint32_t i = 0; i < k; ++i) u32(t + 16 + 4 * i, dirs[i]);
        u32(tableEntry + 4, k + 4), u32(tableEntry + 8, t);
    }
    return b;
}

// Page p, strip s holds the bytes (p * 16 + s + k), k = 0..stripSize-1; the
// software text is "page <p+1>".
inline std::vector<Page> numbered_pages(int count, int strips, uint32_t stripSize) {
    std::vector<Page> pages(count);
    for (int p = 0; p < count; ++p) {
        pages[p].height = uint32_t(strips) * 2;
        pages[p].width = stripSize / 2;
        pages[p].software = "page " + std::to_string(p + 1);
        for (int s = 0; s < strips; ++s) {
            std::vector<uint8_t> d(stripSize);
            for (uint32_t k = 0; k < stripSize; ++k) d[k] = uint8_t(p * 16 + s + k);
            pages[p].strips.push_back(d);
        }
    }
    return pages;
}

using Dir = test_tiff::Dir;
using Reader = test_tiff::Reader;

}  // namespace edit_test
