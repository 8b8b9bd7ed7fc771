// Hand-made TIFF files for tests: a file assembled in memory, in "II" or
// "MM" order, from data blocks and directories of entries.
//
//   TiffBuilder b(/*bigEndian=*/true);
//   uint32_t strip = b.add_data(pixels);            // offset in the file
//   auto& d = b.add_ifd();
//   d.longs(256, {1728}).longs(257, {10}).shorts(259, {1})
//    .longs(273, {strip}).longs(279, {uint32_t(pixels.size())})
//    .ascii(269, "name");
//   std::vector<uint8_t> file = b.build();
//
// Values are given as host numbers and written in the file's byte order; a
// value that fits four bytes stands in the entry, a longer one is placed
// after its directory. Directories follow all data blocks, each linked to
// the next; entries are sorted by tag unless the directory says otherwise.
// raw() writes an entry exactly as given (hostile counts, offsets that point
// anywhere), and every position is reported so a test can patch the bytes.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class TiffBuilder {
public:
    enum Type : uint16_t {
        kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSByte = 6, kUndefined = 7,
    };

    struct Entry {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        std::vector<uint8_t> data;  // values in the file's order (not used when raw)
        bool raw = false;
        uint8_t field[4] = {};      // the value field as written when raw
    };

    class Ifd {
    public:
        Ifd& shorts(uint16_t tag, const std::vector<uint16_t>& v);
        Ifd& longs(uint16_t tag, const std::vector<uint32_t>& v);
        Ifd& rationals(uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v);
        // ASCII with its terminating NUL counted (as TIFF writers do).
        Ifd& ascii(uint16_t tag, const std::string& text);
        // Any type, values given as bytes already in the file's order.
        Ifd& bytes(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& data);
        // An entry whose count and value field are exactly these: the value
        // is written as one u32 in the file's order, or, for SHORT with
        // count 1 or 2, as the u16 in its low half then the one in its high
        // half.
        Ifd& raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t value);
        // An entry whose four value-field bytes are written as given.
        Ifd& raw_field(uint16_t tag, uint16_t type, uint32_t count, const uint8_t field[4]);
        // Drops every entry with this tag.
        Ifd& remove(uint16_t tag);

        bool sorted = true;           // write entries in ascending tag order
        bool hasNextOverride = false; // write nextOverride as the next-IFD offset
        uint32_t nextOverride = 0;
        std::vector<Entry> entries;

    private:
        friend class TiffBuilder;
        Ifd(TiffBuilder* owner) : owner_(owner) {}
        TiffBuilder* owner_;
    };

    explicit TiffBuilder(bool bigEndian = false);
    TiffBuilder(const TiffBuilder&) = delete;
    TiffBuilder& operator=(const TiffBuilder&) = delete;
    bool big_endian() const { return big_; }

    // The property block at offset 8 ("TEXO TIFF ", version 1, length,
    // text); must come before any data block.
    void add_property_block(const std::string& text);
    // Appends bytes (aligned to `align`), returns their file offset.
    uint32_t add_data(const std::vector<uint8_t>& bytes, uint32_t align = 2);
    uint32_t add_data(const std::string& bytes, uint32_t align = 2);
    uint32_t add_shorts(const std::vector<uint16_t>& v);  // in the file's order
    uint32_t add_longs(const std::vector<uint32_t>& v);
    uint32_t size() const { return uint32_t(bytes_.size()); }

    // A new directory, chained after the previous ones (the reference stays
    // valid while the builder lives).
    Ifd& add_ifd();
    Ifd& ifd(size_t i) { return ifds_[i]; }
    size_t ifd_count() const { return ifds_.size(); }

    // Lays the directories out after the data and returns the whole file.
    // When firstIfdOverride is set, the header names that offset instead.
    std::vector<uint8_t> build();
    bool hasFirstIfdOverride = false;
    uint32_t firstIfdOverride = 0;

    // Positions in the last build: directory i, and entry k of directory i
    // (in the order written).
    uint32_t ifd_offset(size_t i) const { return ifdOffsets_.at(i); }
    uint32_t entry_offset(size_t i, size_t k) const { return ifdOffsets_.at(i) + 2 + 12 * uint32_t(k); }
    // Where the out-of-line values of the entry with this tag went in the
    // last build (0 when they stand in the entry).
    uint32_t value_offset(size_t i, uint16_t tag) const;

    // Encoders in the builder's byte order.
    void put16(std::vector<uint8_t>& out, uint16_t v) const;
    void put32(std::vector<uint8_t>& out, uint32_t v) const;
    void set16(std::vector<uint8_t>& out, uint32_t at, uint16_t v) const;
    void set32(std::vector<uint8_t>& out, uint32_t at, uint32_t v) const;

private:
    static uint32_t type_size(uint16_t type);
    bool big_;
    std::vector<uint8_t> bytes_;
    std::deque<Ifd> ifds_;  // stable references
    std::vector<uint32_t> ifdOffsets_;
    std::vector<std::vector<std::pair<uint16_t, uint32_t>>> valueOffsets_;
};
