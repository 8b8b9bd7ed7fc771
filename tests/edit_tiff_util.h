// A small TIFF builder and parser for the editing tests: files laid out
// exactly as the page-by-page copy lays them out (directory with room for one
// more entry, values, strips, strip tables), so layouts can be compared
// offset by offset, and a parser that reads back chains, entries and the page
// offset table without the library.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace edit_test {

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;  // host order; SHORT count 1 or 2 in the low/high halves
};

struct Page {
    uint32_t width = 16, height = 8;
    std::vector<std::vector<uint8_t>> strips;
    std::string software = "edit test builder";
};

inline uint32_t align4(uint32_t v) { return (v + 3) & ~3u; }

class Writer {
public:
    explicit Writer(bool mm) : mm_(mm) {}
    std::vector<uint8_t> bytes;
    void at(uint32_t pos, const void* p, uint32_t n) {
        if (bytes.size() < pos + n) bytes.resize(pos + n);
        std::memcpy(bytes.data() + pos, p, n);
    }
    void u16(uint32_t pos, uint16_t v) {
        uint8_t b[2] = {uint8_t(mm_ ? v >> 8 : v), uint8_t(mm_ ? v : v >> 8)};
        at(pos, b, 2);
    }
    void u32(uint32_t pos, uint32_t v) {
        uint8_t b[4];
        for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (mm_ ? 24 - 8 * i : 8 * i));
        at(pos, b, 4);
    }
    void entry(uint32_t pos, const Entry& e) {
        u16(pos, e.tag);
        u16(pos + 2, e.type);
        u32(pos + 4, e.count);
        if (e.type == 3 && e.count <= 2) {
            u16(pos + 8, uint16_t(e.value));
            u16(pos + 10, uint16_t(e.value >> 16));
        } else {
            u32(pos + 8, e.value);
        }
    }
    bool mm() const { return mm_; }

private:
    bool mm_;
};

// Builds a TIFF file: byte order, optional property block of blockLen bytes
// (text "Title:..." at its start), pages, and a page offset table (tag 32934
// in the first directory) when withTable is set and there are 2 pages or more.
inline std::vector<uint8_t> build_tiff(const std::vector<Page>& pages, bool mm, uint32_t blockLen,
                                       bool withTable, const std::string& title = "old") {
    Writer w(mm);
    uint8_t mark[2] = {uint8_t(mm ? 'M' : 'I'), uint8_t(mm ? 'M' : 'I')};
    w.at(0, mark, 2);
    w.u16(2, 42);
    uint32_t dir = 8;
    if (blockLen) {
        w.at(8, "TEXO TIFF ", 10);
        uint8_t v[6] = {1, 0, uint8_t(blockLen), uint8_t(blockLen >> 8), uint8_t(blockLen >> 16),
                        uint8_t(blockLen >> 24)};
        w.at(18, v, 6);
        std::vector<uint8_t> block(blockLen, 0);
        std::string text = "Title:" + title;
        std::memcpy(block.data(), text.data(), std::min<size_t>(text.size(), blockLen));
        const char* rest[4] = {"Author:", "Subject:", "Keywords:", "Comments:"};
        size_t p = text.size() + 1;
        for (const char* r : rest) {
            size_t l = std::strlen(r);
            if (p + l < blockLen) std::memcpy(block.data() + p, r, l);
            p += l + 1;
        }
        w.at(24, block.data(), blockLen);
        dir = 24 + blockLen;
    }
    w.u32(4, dir);
    std::vector<uint32_t> dirs;
    uint32_t tableEntryPos = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page& pg = pages[i];
        uint32_t nStrips = uint32_t(pg.strips.size());
        std::vector<Entry> es = {
            {256, 4, 1, pg.width},  {257, 4, 1, pg.height}, {258, 3, 1, 8},
            {259, 3, 1, 1},         {262, 3, 1, 1},         {273, 4, nStrips, 0},
            {278, 4, 1, (pg.height + nStrips - 1) / nStrips},
            {279, 4, nStrips, 0},   {282, 5, 1, 0},         {305, 2, uint32_t(pg.software.size() + 1), 0},
        };
        if (i == 0 && withTable) es.push_back({32934, 4, 0, 0});
        uint32_t n = uint32_t(es.size());
        uint32_t pos = align4(dir + 12 * (n + 1) + 6);
        for (Entry& e : es) {
            if (e.tag == 282) {
                e.value = pos;
                w.u32(pos, 72);
                w.u32(pos + 4, 1);
                pos = align4(pos + 8);
            } else if (e.tag == 305) {
                e.value = pos;
                w.at(pos, pg.software.c_str(), e.count);
                pos = align4(pos + e.count);
            }
        }
        std::vector<uint32_t> offs;
        for (const auto& s : pg.strips) {
            offs.push_back(pos);
            w.at(pos, s.data(), uint32_t(s.size()));
            pos += uint32_t(s.size());
        }
        for (Entry& e : es) {
            if (e.tag != 273 && e.tag != 279) continue;
            if (nStrips == 1) {
                e.value = e.tag == 273 ? offs[0] : uint32_t(pg.strips[0].size());
            }
        }
        if (nStrips > 1) {
            pos = align4(pos);
            for (Entry& e : es)
                if (e.tag == 279) e.value = pos;
            for (const auto& s : pg.strips) {
                w.u32(pos, uint32_t(s.size()));
                pos += 4;
            }
            pos = align4(pos);
            for (Entry& e : es)
                if (e.tag == 273) e.value = pos;
            for (uint32_t o : offs) {
                w.u32(pos, o);
                pos += 4;
            }
        }
        uint32_t next = i + 1 < pages.size() ? align4(pos) : 0;
        w.u16(dir, uint16_t(n));
        for (uint32_t j = 0; j < n; ++j) {
            if (es[j].tag == 32934) tableEntryPos = dir + 2 + 12 * j;
            w.entry(dir + 2 + 12 * j, es[j]);
        }
        w.u32(dir + 2 + 12 * n, next);
        dirs.push_back(dir);
        if (w.bytes.size() < pos) w.bytes.resize(pos);
        dir = next;
    }
    if (withTable && pages.size() >= 2) {
        uint32_t t = align4(uint32_t(w.bytes.size()));
        uint32_t k = uint32_t(dirs.size());
        w.u32(t, 0x4F584554);
        w.u32(t + 4, 1);
        w.u32(t + 8, k);
        w.u32(t + 12, t + 16 + 4 * k);
        for (uint32_t i = 0; i < k; ++i) w.u32(t + 16 + 4 * i, dirs[i]);
        w.u32(tableEntryPos + 4, k + 4);
        w.u32(tableEntryPos + 8, t);
    }
    return w.bytes;
}

// Pages with recognisable strip content: page p, strip s holds bytes
// (p * 16 + s + k) for k = 0..size-1.
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

// ---- parsing ----

struct Dir {
    uint32_t offset = 0;
    std::vector<Entry> entries;
    uint32_t next = 0;
    const Entry* find(uint16_t tag) const {
        for (const Entry& e : entries)
            if (e.tag == tag) return &e;
        return nullptr;
    }
};

class Reader {
public:
    explicit Reader(std::vector<uint8_t> b) : bytes(std::move(b)) { mm = bytes.size() > 1 && bytes[0] == 'M'; }
    std::vector<uint8_t> bytes;
    bool mm = false;
    bool ok(uint32_t pos, uint32_t n) const { return uint64_t(pos) + n <= bytes.size(); }
    uint16_t u16(uint32_t pos) const {
        if (!ok(pos, 2)) return 0;
        return mm ? uint16_t(bytes[pos] << 8 | bytes[pos + 1]) : uint16_t(bytes[pos] | bytes[pos + 1] << 8);
    }
    uint32_t u32(uint32_t pos) const {
        if (!ok(pos, 4)) return 0;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(bytes[pos + i]) << (mm ? 24 - 8 * i : 8 * i);
        return v;
    }
    Dir dir(uint32_t off) const {
        Dir d;
        d.offset = off;
        uint16_t n = u16(off);
        for (uint32_t j = 0; j < n && j < 60; ++j) {
            uint32_t p = off + 2 + 12 * j;
            Entry e{u16(p), u16(p + 2), u32(p + 4), 0};
            if (e.type == 3 && e.count <= 2)
                e.value = u16(p + 8) | (e.count == 2 ? uint32_t(u16(p + 10)) << 16 : 0);
            else
                e.value = u32(p + 8);
            d.entries.push_back(e);
        }
        d.next = u32(off + 2 + 12 * n);
        return d;
    }
    std::vector<Dir> chain(size_t limit = 10000) const {
        std::vector<Dir> out;
        for (uint32_t off = u32(4); off && out.size() < limit; off = out.back().next) out.push_back(dir(off));
        return out;
    }
    // Elements of a SHORT or LONG array entry.
    std::vector<uint32_t> array(const Entry& e) const {
        std::vector<uint32_t> v;
        uint32_t w = e.type == 3 ? 2 : 4;
        if (e.count * w <= 4) {
            for (uint32_t i = 0; i < e.count; ++i) v.push_back(w == 2 ? (e.value >> (16 * i)) & 0xFFFF : e.value);
            return v;
        }
        for (uint32_t i = 0; i < e.count; ++i) v.push_back(w == 2 ? u16(e.value + 2 * i) : u32(e.value + 4 * i));
        return v;
    }
    // Concatenated strips of a directory.
    std::vector<uint8_t> strips(const Dir& d) const {
        std::vector<uint8_t> out;
        const Entry* o = d.find(273);
        const Entry* c = d.find(279);
        if (!o || !c) return out;
        auto offs = array(*o), cnts = array(*c);
        for (size_t i = 0; i < offs.size() && i < cnts.size(); ++i)
            if (ok(offs[i], cnts[i])) out.insert(out.end(), bytes.begin() + offs[i], bytes.begin() + offs[i] + cnts[i]);
        return out;
    }
    std::string ascii(const Entry& e) const {
        if (e.count <= 4) return std::string(reinterpret_cast<const char*>(&e.value), e.count ? e.count - 1 : 0);
        if (!ok(e.value, e.count)) return {};
        return std::string(reinterpret_cast<const char*>(bytes.data() + e.value), e.count - 1);
    }
};

}  // namespace edit_test
