#include "tiff_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

uint32_t TiffBuilder::type_size(uint16_t type) {
    switch (type) {
    case kShort: return 2;
    case kLong: return 4;
    case kRational: return 8;
    default: return 1;
    }
}

TiffBuilder::TiffBuilder(bool bigEndian) : big_(bigEndian) {
    bytes_ = {uint8_t(big_ ? 'M' : 'I'), uint8_t(big_ ? 'M' : 'I'), 0, 0, 0, 0, 0, 0};
    set16(bytes_, 2, 42);
}

void TiffBuilder::put16(std::vector<uint8_t>& out, uint16_t v) const {
    if (big_) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    } else {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
}

void TiffBuilder::put32(std::vector<uint8_t>& out, uint32_t v) const {
    for (int i = 0; i < 4; ++i) {
        int shift = big_ ? 24 - 8 * i : 8 * i;
        out.push_back(uint8_t(v >> shift));
    }
}

void TiffBuilder::set16(std::vector<uint8_t>& out, uint32_t at, uint16_t v) const {
    std::vector<uint8_t> b;
    put16(b, v);
    if (out.size() < at + 2) out.resize(at + 2);
    std::memcpy(out.data() + at, b.data(), 2);
}

void TiffBuilder::set32(std::vector<uint8_t>& out, uint32_t at, uint32_t v) const {
    std::vector<uint8_t> b;
    put32(b, v);
    if (out.size() < at + 4) out.resize(at + 4);
    std::memcpy(out.data() + at, b.data(), 4);
}

void TiffBuilder::add_property_block(const std::string& text) {
    if (bytes_.size() != 8) throw std::logic_error("property block must come first");
    const char magic[] = "TEXO TIFF ";
    bytes_.insert(bytes_.end(), magic, magic + 10);
    bytes_.push_back(1);  // version, little-endian in every file
    bytes_.push_back(0);
    uint32_t n = uint32_t(text.size());
    for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(n >> (8 * i)));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}

uint32_t TiffBuilder::add_data(const std::vector<uint8_t>& data, uint32_t align) {
    if (align > 1)
        while (bytes_.size() % align) bytes_.push_back(0);
    uint32_t at = uint32_t(bytes_.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return at;
}

uint32_t TiffBuilder::add_data(const std::string& data, uint32_t align) {
    return add_data(std::vector<uint8_t>(data.begin(), data.end()), align);
}

uint32_t TiffBuilder::add_shorts(const std::vector<uint16_t>& v) {
    std::vector<uint8_t> b;
    for (uint16_t x : v) put16(b, x);
    return add_data(b);
}

uint32_t TiffBuilder::add_longs(const std::vector<uint32_t>& v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) put32(b, x);
    return add_data(b);
}

TiffBuilder::Ifd& TiffBuilder::add_ifd() {
    ifds_.push_back(Ifd(this));
    return ifds_.back();
}

TiffBuilder::Ifd& TiffBuilder::Ifd::shorts(uint16_t tag, const std::vector<uint16_t>& v) {
    Entry e;
    e.tag = tag;
    e.type = kShort;
    e.count = uint32_t(v.size());
    for (uint16_t x : v) owner_->put16(e.data, x);
    entries.push_back(std::move(e));
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::longs(uint16_t tag, const std::vector<uint32_t>& v) {
    Entry e;
    e.tag = tag;
    e.type = kLong;
    e.count = uint32_t(v.size());
    for (uint32_t x : v) owner_->put32(e.data, x);
    entries.push_back(std::move(e));
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::rationals(
    uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v) {
    Entry e;
    e.tag = tag;
    e.type = kRational;
    e.count = uint32_t(v.size());
    for (auto [n, d] : v) {
        owner_->put32(e.data, n);
        owner_->put32(e.data, d);
    }
    entries.push_back(std::move(e));
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::ascii(uint16_t tag, const std::string& text) {
    Entry e;
    e.tag = tag;
    e.type = kAscii;
    e.data.assign(text.begin(), text.end());
    e.data.push_back(0);
    e.count = uint32_t(e.data.size());
    entries.push_back(std::move(e));
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::bytes(uint16_t tag, uint16_t type, uint32_t count,
                                          const std::vector<uint8_t>& data) {
    Entry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    e.data = data;
    entries.push_back(std::move(e));
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::raw(uint16_t tag, uint16_t type, uint32_t count,
                                        uint32_t value) {
    std::vector<uint8_t> f;
    if (type == kShort && (count == 1 || count == 2)) {
        owner_->put16(f, uint16_t(value & 0xFFFF));
        owner_->put16(f, uint16_t(value >> 16));
    } else {
        owner_->put32(f, value);
    }
    return raw_field(tag, type, count, f.data());
}

TiffBuilder::Ifd& TiffBuilder::Ifd::raw_field(uint16_t tag, uint16_t type, uint32_t count,
                                              const uint8_t field[4]) {
    Entry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    e.raw = true;
    std::memcpy(e.field, field, 4);
    entries.push_back(std::move(e));
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::remove(uint16_t tag) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) { return e.tag == tag; }),
                  entries.end());
    return *this;
}

uint32_t TiffBuilder::value_offset(size_t i, uint16_t tag) const {
    for (auto [t, off] : valueOffsets_.at(i))
        if (t == tag) return off;
    return 0;
}

std::vector<uint8_t> TiffBuilder::build() {
    std::vector<uint8_t> out = bytes_;
    ifdOffsets_.assign(ifds_.size(), 0);
    valueOffsets_.assign(ifds_.size(), {});
    std::vector<uint32_t> nextPos(ifds_.size(), 0);
    for (size_t i = 0; i < ifds_.size(); ++i) {
        Ifd& d = ifds_[i];
        std::vector<Entry> entries = d.entries;
        if (d.sorted)
            std::stable_sort(entries.begin(), entries.end(),
                             [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        while (out.size() % 2) out.push_back(0);
        uint32_t at = uint32_t(out.size());
        ifdOffsets_[i] = at;
        uint32_t n = uint32_t(entries.size());
        uint32_t valuesAt = at + 2 + 12 * n + 4;
        std::vector<uint8_t> head;
        put16(head, uint16_t(n));
        std::vector<uint8_t> values;
        for (const Entry& e : entries) {
            put16(head, e.tag);
            put16(head, e.type);
            put32(head, e.count);
            if (e.raw) {
                head.insert(head.end(), e.field, e.field + 4);
            } else if (e.data.size() <= 4) {
                uint8_t f[4] = {};
                std::memcpy(f, e.data.data(), e.data.size());
                head.insert(head.end(), f, f + 4);
            } else {
                while ((valuesAt + values.size()) % 2) values.push_back(0);
                uint32_t off = valuesAt + uint32_t(values.size());
                valueOffsets_[i].push_back({e.tag, off});
                put32(head, off);
                values.insert(values.end(), e.data.begin(), e.data.end());
            }
        }
        nextPos[i] = at + 2 + 12 * n;
        put32(head, 0);
        out.insert(out.end(), head.begin(), head.end());
        out.insert(out.end(), values.begin(), values.end());
    }
    for (size_t i = 0; i < ifds_.size(); ++i) {
        uint32_t next = i + 1 < ifds_.size() ? ifdOffsets_[i + 1] : 0;
        if (ifds_[i].hasNextOverride) next = ifds_[i].nextOverride;
        set32(out, nextPos[i], next);
    }
    uint32_t first = ifds_.empty() ? 0 : ifdOffsets_[0];
    if (hasFirstIfdOverride) first = firstIfdOverride;
    set32(out, 4, first);
    return out;
}
