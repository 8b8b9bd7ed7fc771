#include "tiff_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

TiffBuilder::TiffBuilder(bool bigEndian) : big_(bigEndian) {
    bytes_ = {uint8_t(big_ ? 'M' : 'I'), uint8_t(big_ ? 'M' : 'I')};
    put16(bytes_, 42);
    put32(bytes_, 0);
}

void TiffBuilder::put16(std::vector<uint8_t>& out, uint16_t v) const {
    out.push_back(uint8_t(big_ ? v >> 8 : v));
    out.push_back(uint8_t(big_ ? v : v >> 8));
}

void TiffBuilder::put32(std::vector<uint8_t>& out, uint32_t v) const {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (big_ ? 24 - 8 * i : 8 * i)));
}

void TiffBuilder::set32(std::vector<uint8_t>& out, uint32_t at, uint32_t v) const {
    if (out.size() < at + 4) out.resize(at + 4);
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (big_ ? 24 - 8 * i : 8 * i));
}

void TiffBuilder::add_property_block(const std::string& text) {
    if (bytes_.size() != 8) throw std::logic_error("property block must come first");
    const char magic[] = "TEXO TIFF \x01";  // version 1, little-endian in every file
    bytes_.insert(bytes_.end(), magic, magic + 12);
    for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(text.size() >> (8 * i)));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}

uint32_t TiffBuilder::add_data(const std::vector<uint8_t>& data, uint32_t align) {
    while (align > 1 && bytes_.size() % align) bytes_.push_back(0);
    uint32_t at = uint32_t(bytes_.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return at;
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

TiffBuilder::Ifd& TiffBuilder::add_subifd() {
    subIfds_.push_back(Ifd(this, subIfds_.size()));
    return subIfds_.back();
}

TiffBuilder::Ifd& TiffBuilder::Ifd::add(uint16_t tag, uint16_t type, uint32_t count,
                                        std::vector<uint8_t> data, bool raw) {
    entries.push_back(Entry{tag, type, count, std::move(data), raw, {}});
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::shorts(uint16_t tag, const std::vector<uint16_t>& v) {
    std::vector<uint8_t> d;
    for (uint16_t x : v) owner_->put16(d, x);
    return add(tag, 3, uint32_t(v.size()), std::move(d));
}

TiffBuilder::Ifd& TiffBuilder::Ifd::longs(uint16_t tag, const std::vector<uint32_t>& v) {
    std::vector<uint8_t> d;
    for (uint32_t x : v) owner_->put32(d, x);
    return add(tag, 4, uint32_t(v.size()), std::move(d));
}

TiffBuilder::Ifd& TiffBuilder::Ifd::rationals(
    uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v) {
    std::vector<uint8_t> d;
    for (auto [n, den] : v) {
        owner_->put32(d, n);
        owner_->put32(d, den);
    }
    return add(tag, 5, uint32_t(v.size()), std::move(d));
}

TiffBuilder::Ifd& TiffBuilder::Ifd::ascii(uint16_t tag, const std::string& text) {
    std::vector<uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    const uint32_t count = uint32_t(d.size());
    return add(tag, 2, count, std::move(d));
}

TiffBuilder::Ifd& TiffBuilder::Ifd::bytes(uint16_t tag, uint16_t type, uint32_t count,
                                          const std::vector<uint8_t>& data) {
    return add(tag, type, count, data);
}

TiffBuilder::Ifd& TiffBuilder::Ifd::raw(uint16_t tag, uint16_t type, uint32_t count,
                                        uint32_t value) {
    std::vector<uint8_t> f;
    if (type == 3 && (count == 1 || count == 2)) {
        owner_->put16(f, uint16_t(value & 0xFFFF));
        owner_->put16(f, uint16_t(value >> 16));
    } else {
        owner_->put32(f, value);
    }
    return add(tag, type, count, std::move(f), true);
}

TiffBuilder::Ifd& TiffBuilder::Ifd::links(uint16_t tag, uint16_t type, const std::vector<size_t>& subifds) {
    add(tag, type, uint32_t(subifds.size()), std::vector<uint8_t>(4 * subifds.size(), 0));
    entries.back().links = subifds;
    return *this;
}

TiffBuilder::Ifd& TiffBuilder::Ifd::remove(uint16_t tag) {
    std::erase_if(entries, [&](const Entry& e) { return e.tag == tag; });
    return *this;
}

uint32_t TiffBuilder::value_offset(size_t i, uint16_t tag) const {
    for (auto [t, off] : valueOffsets_.at(i))
        if (t == tag) return off;
    return 0;
}

uint32_t TiffBuilder::lay_out(std::vector<uint8_t>& out, const Ifd& ifd,
                              std::vector<std::pair<uint16_t, uint32_t>>& valueOffsets, uint32_t* nextPos,
                              std::vector<LinkPatch>& patches) const {
    std::vector<Entry> entries = ifd.entries;
    if (ifd.sorted)
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    while (out.size() % 2) out.push_back(0);
    const uint32_t at = uint32_t(out.size());
    const uint32_t n = uint32_t(entries.size());
    const uint32_t valuesAt = at + 2 + 12 * n + 4;
    std::vector<uint8_t> head, values;
    put16(head, uint16_t(n));
    for (const Entry& e : entries) {
        put16(head, e.tag);
        put16(head, e.type);
        put32(head, e.count);
        if (e.raw || e.data.size() <= 4) {
            if (!e.links.empty()) patches.push_back({at + uint32_t(head.size()), e.links});
            uint8_t f[4] = {};
            std::memcpy(f, e.data.data(), e.data.size());
            head.insert(head.end(), f, f + 4);
        } else {
            while ((valuesAt + values.size()) % 2) values.push_back(0);
            uint32_t off = valuesAt + uint32_t(values.size());
            if (!e.links.empty()) patches.push_back({off, e.links});
            valueOffsets.push_back({e.tag, off});
            put32(head, off);
            values.insert(values.end(), e.data.begin(), e.data.end());
        }
    }
    *nextPos = at + 2 + 12 * n;
    put32(head, 0);
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), values.begin(), values.end());
    return at;
}

std::vector<uint8_t> TiffBuilder::build() {
    std::vector<uint8_t> out = bytes_;
    ifdOffsets_.assign(ifds_.size(), 0);
    subOffsets_.assign(subIfds_.size(), 0);
    valueOffsets_.assign(ifds_.size(), {});
    std::vector<uint32_t> nextPos(ifds_.size(), 0), subNextPos(subIfds_.size(), 0);
    std::vector<LinkPatch> patches;
    for (size_t i = 0; i < ifds_.size(); ++i)
        ifdOffsets_[i] = lay_out(out, ifds_[i], valueOffsets_[i], &nextPos[i], patches);
    for (size_t i = 0; i < subIfds_.size(); ++i) {
        std::vector<std::pair<uint16_t, uint32_t>> unused;
        subOffsets_[i] = lay_out(out, subIfds_[i], unused, &subNextPos[i], patches);
    }
    for (size_t i = 0; i < ifds_.size(); ++i) {
        uint32_t next = i + 1 < ifds_.size() ? ifdOffsets_[i + 1] : 0;
        set32(out, nextPos[i], ifds_[i].hasNextOverride ? ifds_[i].nextOverride : next);
    }
    for (size_t i = 0; i < subIfds_.size(); ++i)
        set32(out, subNextPos[i], subIfds_[i].hasNextOverride ? subIfds_[i].nextOverride : 0);
    for (const LinkPatch& p : patches)
        for (size_t k = 0; k < p.subifds.size(); ++k) set32(out, p.at + 4 * uint32_t(k), subOffsets_.at(p.subifds[k]));
    uint32_t first = ifds_.empty() ? 0 : ifdOffsets_[0];
    set32(out, 4, hasFirstIfdOverride ? firstIfdOverride : first);
    return out;
}

PageIndexFile page_index_file(const std::vector<uint8_t>& first, bool firstIsPage,
                              const std::vector<std::vector<uint8_t>>& more) {
    PageIndexFile f;
    f.bytes = first;
    auto le32 = [&](uint32_t at, uint32_t v) {
        if (f.bytes.size() < at + 4) f.bytes.resize(at + 4);
        for (int i = 0; i < 4; ++i) f.bytes[at + i] = uint8_t(v >> (8 * i));
    };
    auto get16 = [&](uint32_t at) { return uint32_t(f.bytes[at] | f.bytes[at + 1] << 8); };
    auto align = [&] { while (f.bytes.size() % 4) f.bytes.push_back(0); };
    align();
    f.indexAt = uint32_t(f.bytes.size());
    const uint32_t pages = uint32_t(more.size()) + firstIsPage, chunkAt = f.indexAt + 64;
    f.bytes.resize(chunkAt + 8 * pages, 0);  // header of 60 bytes, then the chunk
    if (firstIsPage) f.bases.push_back(0);
    for (const auto& s : more) {
        align();
        f.bases.push_back(uint32_t(f.bytes.size()));
        f.bytes.insert(f.bytes.end(), s.begin(), s.end());
    }
    uint32_t ifd = f.bytes[4] | f.bytes[5] << 8 | f.bytes[6] << 16 | uint32_t(f.bytes[7]) << 24;
    for (uint32_t k = 0, n = get16(ifd); k < n; ++k)
        if (get16(ifd + 2 + 12 * k) == 32935) le32(ifd + 2 + 12 * k + 8, f.indexAt);
    le32(f.indexAt, 1);        // version
    le32(f.indexAt + 36, pages);
    le32(f.indexAt + 40, 1);   // one chunk
    le32(f.indexAt + 44, 32);  // entry kind
    le32(f.indexAt + 52, chunkAt);
    le32(f.indexAt + 56, pages);
    for (uint32_t p = 0; p < pages; ++p) {
        le32(chunkAt + 8 * p, f.bases[p]);
        le32(chunkAt + 8 * p + 4, 8);  // each stream's directory, relative to its base
    }
    return f;
}
