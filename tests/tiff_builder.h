// Hand-made TIFF files for tests: a file assembled in memory, in "II" or
// "MM" order, from data blocks and directories of entries.
//
//   TiffBuilder b(/*bigEndian=*/true);
//   uint32_t strip = b.add_data(pixels);            // offset in the file
//   b.add_ifd().longs(256, {1728}).longs(257, {10}).longs(273, {strip}).ascii(269, "name");
//   std::vector<uint8_t> file = b.build();
//
// Values are host numbers written in the file's order; a value of up to four
// bytes stands in the entry, a longer one follows its directory. Directories
// follow all data blocks, each linked to the next, entries sorted by tag
// unless the directory says otherwise. raw() writes an entry's count and
// value field exactly as given (hostile counts, offsets anywhere).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class TiffBuilder {
public:
    struct Entry {
        uint16_t tag = 0, type = 0;
        uint32_t count = 0;
        std::vector<uint8_t> data;  // values in the file's order
        bool raw = false;           // data is the 4-byte value field itself
    };

    class Ifd {
    public:
        Ifd& shorts(uint16_t tag, const std::vector<uint16_t>& v);
        Ifd& longs(uint16_t tag, const std::vector<uint32_t>& v);
        Ifd& rationals(uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v);
        Ifd& ascii(uint16_t tag, const std::string& text);  // NUL counted
        // Any type, values given as bytes already in the file's order.
        Ifd& bytes(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& data);
        // Count and value field as given: one u32 in the file's order, or
        // for SHORT with count 1 or 2 the low half then the high.
        Ifd& raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t value);
        Ifd& remove(uint16_t tag);  // drops every entry with this tag

        bool sorted = true;           // write entries in ascending tag order
        bool hasNextOverride = false; // write nextOverride as the next-IFD offset
        uint32_t nextOverride = 0;
        std::vector<Entry> entries;

    private:
        friend class TiffBuilder;
        Ifd(TiffBuilder* owner) : owner_(owner) {}
        Ifd& add(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> data, bool raw = false);
        TiffBuilder* owner_;
    };

    explicit TiffBuilder(bool bigEndian = false);
    TiffBuilder(const TiffBuilder&) = delete;
    TiffBuilder& operator=(const TiffBuilder&) = delete;

    // The property block at offset 8 ("TEXO TIFF ", version 1, length,
    // text); must come before any data block.
    void add_property_block(const std::string& text);
    // Appends bytes (aligned to `align`), returns their file offset.
    uint32_t add_data(const std::vector<uint8_t>& bytes, uint32_t align = 2);
    uint32_t add_shorts(const std::vector<uint16_t>& v);  // in the file's order
    uint32_t add_longs(const std::vector<uint32_t>& v);
    uint32_t size() const { return uint32_t(bytes_.size()); }

    // A new directory chained after the previous ones (stable reference).
    Ifd& add_ifd();
    Ifd& ifd(size_t i) { return ifds_[i]; }

    // Lays the directories out after the data and returns the whole file;
    // with firstIfdOverride set the header names that offset instead.
    std::vector<uint8_t> build();
    bool hasFirstIfdOverride = false;
    uint32_t firstIfdOverride = 0;

    // Positions in the last build: directory i and the out-of-line values
    // of a tag in it (0: inline).
    uint32_t ifd_offset(size_t i) const { return ifdOffsets_.at(i); }
    uint32_t value_offset(size_t i, uint16_t tag) const;

    // Encoders in the builder's byte order.
    void put16(std::vector<uint8_t>& out, uint16_t v) const;
    void put32(std::vector<uint8_t>& out, uint32_t v) const;
    void set32(std::vector<uint8_t>& out, uint32_t at, uint32_t v) const;

private:
    bool big_;
    std::vector<uint8_t> bytes_;
    std::deque<Ifd> ifds_;  // stable references
    std::vector<uint32_t> ifdOffsets_;
    std::vector<std::vector<std::pair<uint16_t, uint32_t>>> valueOffsets_;
};

// A little-endian file in the page index scheme: `first` (whose first
// directory must carry tag 32935, value patched here) stands at offset 0,
// the index follows it, then each of `more` at a 4-aligned base. Every page
// is a TIFF stream of its own with offsets relative to its base; the index
// lists `first` as page 1 when firstIsPage, then the streams of `more`.
struct PageIndexFile {
    std::vector<uint8_t> bytes;
    uint32_t indexAt = 0;
    std::vector<uint32_t> bases;  // of the pages listed
};
PageIndexFile page_index_file(const std::vector<uint8_t>& first, bool firstIsPage,
                              const std::vector<std::vector<uint8_t>>& more);
