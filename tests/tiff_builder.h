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
//
// Sub-directories (Exif, GPS, SubIFDs) are directories outside the chain,
// laid out behind it; links() makes an entry whose values are their offsets:
//
//   TiffBuilder::Ifd& exif = b.add_subifd();
//   exif.ascii(36867, "2024:01:02 03:04:05");
//   b.add_ifd()...links(34665, 4, {exif.index()});
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
        std::vector<size_t> links;  // sub-directories whose offsets are the values
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
        // Values: the offsets of the sub-directories with these indexes.
        Ifd& links(uint16_t tag, uint16_t type, const std::vector<size_t>& subifds);
        size_t index() const { return index_; }  // of a sub-directory

        bool sorted = true;           // write entries in ascending tag order
        bool hasNextOverride = false; // write nextOverride as the next-IFD offset
        uint32_t nextOverride = 0;
        std::vector<Entry> entries;

    private:
        friend class TiffBuilder;
        Ifd(TiffBuilder* owner, size_t index = 0) : owner_(owner), index_(index) {}
        Ifd& add(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> data, bool raw = false);
        TiffBuilder* owner_;
        size_t index_;
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
    // A directory outside the chain (next link 0 unless overridden).
    Ifd& add_subifd();
    Ifd& subifd(size_t i) { return subIfds_[i]; }

    // Lays the directories out after the data and returns the whole file;
    // with firstIfdOverride set the header names that offset instead.
    std::vector<uint8_t> build();
    bool hasFirstIfdOverride = false;
    uint32_t firstIfdOverride = 0;

    // Positions in the last build: directory i and the out-of-line values
    // of a tag in it (0: inline).
    uint32_t ifd_offset(size_t i) const { return ifdOffsets_.at(i); }
    uint32_t value_offset(size_t i, uint16_t tag) const;
    uint32_t subifd_offset(size_t i) const { return subOffsets_.at(i); }

    // Encoders in the builder's byte order.
    void put16(std::vector<uint8_t>& out, uint16_t v) const;
    void put32(std::vector<uint8_t>& out, uint32_t v) const;
    void set32(std::vector<uint8_t>& out, uint32_t at, uint32_t v) const;

private:
    bool big_;
    std::vector<uint8_t> bytes_;
    std::deque<Ifd> ifds_;  // stable references
    std::deque<Ifd> subIfds_;
    std::vector<uint32_t> ifdOffsets_, subOffsets_;
    std::vector<std::vector<std::pair<uint16_t, uint32_t>>> valueOffsets_;
    // Where the links of an entry go: the value field or the array.
    struct LinkPatch {
        uint32_t at;
        std::vector<size_t> subifds;
    };
    // Lays one directory out at the (2-aligned) end of out; its offset.
    uint32_t lay_out(std::vector<uint8_t>& out, const Ifd& ifd, std::vector<std::pair<uint16_t, uint32_t>>& values,
                     uint32_t* nextPos, std::vector<LinkPatch>& patches) const;
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
