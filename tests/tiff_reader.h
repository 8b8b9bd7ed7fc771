// Reads the bytes of a TIFF file without the library, as a test checks what
// was written: the header, the chain of directories, entries, arrays of
// values, strips and texts. A read beyond the end of the file gives zeros.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test_tiff {

// One directory entry. value: a SHORT of count 1 or 2 in the low and high
// halves, else the u32 value field (host order).
struct Entry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0, value = 0;
    uint32_t pos = 0;  // file offset of the entry
};

struct Dir {
    uint32_t offset = 0, next = 0;
    std::vector<Entry> entries;
    const Entry* find(uint16_t tag) const {
        for (const Entry& e : entries)
            if (e.tag == tag) return &e;
        return nullptr;
    }
};

class Reader {
public:
    explicit Reader(std::vector<uint8_t> b) : bytes(std::move(b)), mm(!bytes.empty() && bytes[0] == 'M') {}
    explicit Reader(const std::string& path) : Reader(bytes_of(path)) {}

    std::vector<uint8_t> bytes;
    bool mm = false;

    bool ok(uint32_t pos, uint32_t n) const { return uint64_t(pos) + n <= bytes.size(); }
    uint32_t un(uint32_t pos, int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n && ok(pos + i, 1); ++i) v |= uint32_t(bytes[pos + i]) << (mm ? 8 * (n - 1 - i) : 8 * i);
        return v;
    }
    uint32_t u16(uint32_t pos) const { return un(pos, 2); }
    uint32_t u32(uint32_t pos) const { return un(pos, 4); }

    uint32_t first_ifd() const { return u32(4); }
    uint32_t next_of(uint32_t ifd) const { return u32(ifd + 2 + 12 * u16(ifd)); }
    // The directory at off; entries stop at the end of the file.
    Dir dir(uint32_t off) const {
        Dir d;
        d.offset = off;
        const uint32_t n = u16(off);
        for (uint32_t j = 0, p = off + 2; j < n && ok(p, 12); ++j, p += 12) {
            Entry e{uint16_t(u16(p)), uint16_t(u16(p + 2)), u32(p + 4), u32(p + 8), p};
            if (e.type == 3 && e.count <= 2) e.value = u16(p + 8) | (e.count == 2 ? u16(p + 10) << 16 : 0);
            d.entries.push_back(e);
        }
        d.next = next_of(off);
        return d;
    }
    std::vector<Entry> entries(uint32_t ifd) const { return dir(ifd).entries; }
    // The entry of a tag in a directory; a zero entry when absent.
    Entry at(uint32_t ifd, uint16_t tag) const {
        const Dir d = dir(ifd);
        const Entry* e = d.find(tag);
        return e ? *e : Entry{};
    }
    // The chain from the header: its offsets, or its directories.
    std::vector<uint32_t> ifd_offsets() const {
        std::vector<uint32_t> out;
        for (uint32_t ifd = first_ifd(); ifd && out.size() < 100000; ifd = next_of(ifd)) out.push_back(ifd);
        return out;
    }
    std::vector<Dir> chain() const {
        std::vector<Dir> out;
        for (uint32_t off = first_ifd(); off && out.size() < 10000; off = out.back().next) out.push_back(dir(off));
        return out;
    }
    // Elements of a SHORT or LONG array entry.
    std::vector<uint32_t> array(const Entry& e) const {
        std::vector<uint32_t> v;
        const uint32_t w = e.type == 3 ? 2 : 4;
        for (uint32_t i = 0; i < e.count; ++i) {
            if (e.count * w <= 4) v.push_back(w == 2 ? (e.value >> (16 * i)) & 0xFFFF : e.value);
            else v.push_back(un(e.value + w * i, int(w)));
        }
        return v;
    }
    // The strips of a directory, one after the other.
    std::vector<uint8_t> strips(const Dir& d) const {
        std::vector<uint8_t> out;
        const Entry *o = d.find(273), *c = d.find(279);
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
    static std::vector<uint8_t> bytes_of(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool holds(uint32_t at, const std::vector<uint8_t>& v) const {
        return ok(at, uint32_t(v.size())) && std::equal(v.begin(), v.end(), bytes.begin() + at);
    }
};

}  // namespace test_tiff
