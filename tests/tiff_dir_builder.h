// Hand-made TIFF files for the open and directory tests: a byte vector
// grown field by field in either byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qvtav.h"

namespace tiffb {

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;       // LONG value or offset; first SHORT for SHORT count 1 or 2
    uint16_t second = 0;  // second SHORT for SHORT count 2
};

inline Entry shortv(uint16_t tag, uint16_t v) { return {tag, 3, 1, v}; }
inline Entry longv(uint16_t tag, uint32_t v) { return {tag, 4, 1, v}; }

class Builder {
public:
    explicit Builder(bool bigEndian = false) : be_(bigEndian) {
        bytes_.resize(8, 0);
        bytes_[0] = bytes_[1] = be_ ? 'M' : 'I';
        put16(2, 42);
    }
    bool big() const { return be_; }
    std::vector<uint8_t>& bytes() { return bytes_; }
    uint32_t size() const { return uint32_t(bytes_.size()); }

    void put16(uint32_t at, uint16_t v) {
        grow(at + 2);
        if (be_) {
            bytes_[at] = uint8_t(v >> 8);
            bytes_[at + 1] = uint8_t(v);
        } else {
            bytes_[at] = uint8_t(v);
            bytes_[at + 1] = uint8_t(v >> 8);
        }
    }
    void put32(uint32_t at, uint32_t v) {
        grow(at + 4);
        for (int i = 0; i < 4; ++i)
            bytes_[at + i] = uint8_t(be_ ? v >> (24 - 8 * i) : v >> (8 * i));
    }
    void set_first(uint32_t off) { put32(4, off); }

    // Appends raw bytes at an even offset; returns where they start.
    uint32_t add_raw(const std::vector<uint8_t>& data) {
        align();
        uint32_t at = size();
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return at;
    }
    uint32_t add_zeros(uint32_t n) { return add_raw(std::vector<uint8_t>(n, 0)); }
    // u32 words in the file's order.
    uint32_t add_words(const std::vector<uint32_t>& words) {
        align();
        uint32_t at = size();
        for (size_t i = 0; i < words.size(); ++i) put32(at + uint32_t(4 * i), words[i]);
        return at;
    }

    // Appends an IFD with the entries in the order given.
    uint32_t add_ifd(const std::vector<Entry>& entries, uint32_t next = 0) {
        align();
        uint32_t at = size();
        put16(at, uint16_t(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            uint32_t p = at + 2 + uint32_t(12 * i);
            const Entry& d = entries[i];
            put16(p, d.tag);
            put16(p + 2, d.type);
            put32(p + 4, d.count);
            if (d.type == 3 && d.count <= 2) {
                put16(p + 8, uint16_t(d.value));
                put16(p + 10, d.second);
            } else {
                put32(p + 8, d.value);
            }
        }
        put32(at + 2 + uint32_t(12 * entries.size()), next);
        return at;
    }
    // Rewrites the next-IFD field of the IFD at `ifd`.
    void set_next(uint32_t ifd, uint32_t next) {
        uint16_t n = get16(ifd);
        put32(ifd + 2 + 12u * n, next);
    }
    uint16_t get16(uint32_t at) const {
        return be_ ? uint16_t(bytes_[at] << 8 | bytes_[at + 1])
                   : uint16_t(bytes_[at] | bytes_[at + 1] << 8);
    }

    // A small bilevel page: 8x1 pixels, one uncompressed strip.
    std::vector<Entry> page_entries(uint16_t width = 8, uint32_t subfile = 0xFFFFFFFFu) {
        uint32_t strip = add_raw(std::vector<uint8_t>((width + 7) / 8, 0));
        std::vector<Entry> v;
        if (subfile != 0xFFFFFFFFu) v.push_back(longv(254, subfile));
        v.push_back(shortv(256, width));
        v.push_back(shortv(257, 1));
        v.push_back(shortv(258, 1));
        v.push_back(shortv(259, 1));
        v.push_back(shortv(262, 0));
        v.push_back(longv(273, strip));
        v.push_back(shortv(278, 1));
        v.push_back(longv(279, (width + 7) / 8));
        return v;
    }

    // A plain chain of n pages (page i has width i+1); returns the offsets.
    std::vector<uint32_t> chain(uint32_t n) {
        std::vector<uint32_t> offs;
        for (uint32_t i = 0; i < n; ++i) {
            auto entries = page_entries(uint16_t(i + 1));
            uint32_t off = add_ifd(entries, 0);
            if (offs.empty())
                set_first(off);
            else
                set_next(offs.back(), off);
            offs.push_back(off);
        }
        return offs;
    }

private:
    void grow(uint32_t n) {
        if (bytes_.size() < n) bytes_.resize(n, 0);
    }
    void align() {
        if (bytes_.size() & 1) bytes_.push_back(0);
    }
    bool be_;
    std::vector<uint8_t> bytes_;
};

}  // namespace tiffb
