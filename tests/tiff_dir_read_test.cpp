// TIFF header, IFDs and typed values (Part 3.1), through files opened with
// xtavopen: normalisation, entry limits, chain ends, the property block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fileio/mem.h"
#include "frame/fct.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff/tiff.h"
#include "tiff_dir_builder.h"

namespace {

using tiffb::Builder;
using tiffb::Entry;
using tiffb::longv;
using tiffb::shortv;

class TiffDirRead : public ::testing::Test {
protected:
    void SetUp() override { blocks_ = mem_live_blocks(); }
    void TearDown() override {
        if (h_ > 0) close();
        EXPECT_EQ(mem_live_blocks(), blocks_) << "memory blocks leaked";
    }
    // Writes the bytes and opens them; the handle's entry, or null with
    // err_ set.
    FctEntry* open(const std::vector<uint8_t>& bytes, const std::string& name = "t.tif") {
        path_ = dir_.file(name);
        write_file(path_, bytes);
        PathBuf p(path_);
        err_ = 0;
        h_ = xtavopen(nullptr, p, 0, &type_, &pages_, &err_);
        if (h_ < 0) return nullptr;
        return fct_entry_at(h_);
    }
    void close() {
        uint32_t err = 0;
        EXPECT_EQ(xtavclose(&h_, &err), 0);
        h_ = 0;
    }
    TempDir dir_;
    std::string path_;
    int32_t h_ = 0;
    uint32_t type_ = 0, pages_ = 0, err_ = 0;
    int blocks_ = 0;
};

const TiffDirEntry* find(const TiffDir& d, uint16_t tag) {
    for (uint16_t i = 0; i < d.entryCount; ++i)
        if (d.entries[i].tag == tag) return &d.entries[i];
    return nullptr;
}

std::vector<uint8_t> property_block(const std::string& text, uint16_t version = 1) {
    std::vector<uint8_t> v = {'T', 'E', 'X', 'O', ' ', 'T', 'I', 'F', 'F', ' '};
    v.push_back(uint8_t(version));
    v.push_back(uint8_t(version >> 8));
    uint32_t n = uint32_t(text.size());
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(n >> (8 * i)));
    v.insert(v.end(), text.begin(), text.end());
    return v;
}

TEST_F(TiffDirRead, BigEndianIsNormalised) {
    Builder b(true);
    // The property block directly behind the header, little-endian inside.
    ASSERT_EQ(b.add_raw(property_block("Title=Big")), 8u);
    uint32_t rational = b.add_words({300, 1, 72, 2});
    uint32_t shorts = b.add_raw({0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    std::vector<Entry> e = b.page_entries(300);
    e.push_back({258, 3, 2, 8, 16});           // SHORT count 2: both values in place
    e.push_back({282, 5, 2, rational});        // two RATIONALs
    e.push_back({320, 3, 3, shorts});          // SHORT count 3 out of line
    e.push_back({305, 2, 4, 0x41424300});      // ASCII "ABC" in the field
    e.push_back({33000, 4, 1, 0x11223344});    // unknown tag, LONG
    uint32_t ifd = b.add_ifd(e, 0);
    b.set_first(ifd);
    FctEntry* fe = open(b.bytes());
    ASSERT_NE(fe, nullptr) << err_;
    EXPECT_EQ(type_, FILETYPE_TIFF);
    EXPECT_EQ(pages_, 1u);
    EXPECT_EQ(fe->detectWord, 0x4D4D);
    EXPECT_EQ(fe->byteOrder, 0x4D4D);
    EXPECT_EQ(fe->firstIfdOffset, ifd);
    ASSERT_NE(fe->hdrBlock, nullptr);
    EXPECT_EQ(fe->hdrBlockLen, 9u);
    EXPECT_EQ(std::memcmp(fe->hdrBlock, "Title=Big", 9), 0);

    TiffDir d;
    ASSERT_EQ(tiff_page_dir(fe, 0, &d), 0);
    EXPECT_EQ(d.nextIfd, 0u);
    for (uint16_t i = 1; i < d.entryCount; ++i) EXPECT_LE(d.entries[i - 1].tag, d.entries[i].tag);
    EXPECT_EQ(tiff_entry_value(*find(d, 256)), 300u);
    // Both 258 entries stay (the page's own BitsPerSample and the one above).
    int n258 = 0;
    for (uint16_t i = 0; i < d.entryCount; ++i)
        if (d.entries[i].tag == 258) {
            ++n258;
            if (d.entries[i].count == 2) {
                EXPECT_EQ(d.entries[i].value, 8u | (16u << 16));
            }
        }
    EXPECT_EQ(n258, 2);
    EXPECT_EQ(find(d, 33000)->value, 0x11223344u);
    EXPECT_EQ(find(d, 305)->value, 0x41424300u);
    EXPECT_EQ(find(d, 282)->value, rational);

    uint32_t r[4] = {};
    ASSERT_EQ(tiff_read_typed(fe, kTiffRational, 2, rational, fe->detectWord, r, sizeof r), 0);
    EXPECT_EQ(r[0], 300u);
    EXPECT_EQ(r[1], 1u);
    EXPECT_EQ(r[2], 72u);
    EXPECT_EQ(r[3], 2u);
    uint16_t s[3] = {};
    ASSERT_EQ(tiff_read_typed(fe, kTiffShort, 3, shorts, fe->detectWord, s, sizeof s), 0);
    EXPECT_EQ(s[0], 0x0102);
    EXPECT_EQ(s[1], 0x0304);
    EXPECT_EQ(s[2], 0x0506);
    uint8_t bytes[6] = {};
    ASSERT_EQ(tiff_read_typed(fe, kTiffByte, 6, shorts, fe->detectWord, bytes, sizeof bytes), 0);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[5], 6);
    // Too small a buffer, and types that read nothing.
    EXPECT_EQ(tiff_read_typed(fe, kTiffShort, 3, shorts, fe->detectWord, s, 4), -1);
    EXPECT_EQ(errno, TAV_EINVAL);
    EXPECT_EQ(tiff_read_typed(fe, 8, 3, shorts, fe->detectWord, nullptr, 0), 0);
    EXPECT_EQ(tiff_read_typed(fe, 12, 3, shorts, fe->detectWord, nullptr, 0), 0);
    // Values past the end of the file.
    EXPECT_EQ(tiff_read_typed(fe, kTiffLong, 4, b.size() - 4, fe->detectWord, r, sizeof r), -1);

    TiffHeader hdr;
    ASSERT_EQ(tiff_read_header(fe, 0, &hdr), 0);
    EXPECT_EQ(hdr.byteOrder, 0x4D4D);
    EXPECT_EQ(hdr.magic, 42);
    EXPECT_EQ(hdr.firstIfd, ifd);
    // Not a TIFF header at offset 8.
    EXPECT_EQ(tiff_read_header(fe, 8, &hdr), -1);
    EXPECT_EQ(errno, TAV_E_NOT_TIFF);
}

TEST_F(TiffDirRead, PropertyBlockVariants) {
    for (int variant = 0; variant < 5; ++variant) {
        Builder b;
        std::vector<uint8_t> blk = property_block("abc");
        if (variant == 1) blk[10] = 2;                      // version 2: ordinary TIFF
        if (variant == 2) std::memset(blk.data() + 12, 0, 4);  // length 0
        if (variant == 3) blk[9] = '_';                     // magic differs
        b.add_raw(blk);
        b.chain(2);
        std::vector<uint8_t> bytes = b.bytes();
        if (variant == 4) {
            // A length the file cannot hold.
            bytes[12 + 8] = 0xFF;
            bytes[13 + 8] = 0xFF;
        }
        FctEntry* fe = open(bytes);
        if (variant == 4) {
            EXPECT_EQ(fe, nullptr);
            EXPECT_EQ(err_, uint32_t(TAV_E_NOT_SUPPORTED));
            continue;
        }
        ASSERT_NE(fe, nullptr) << variant << " " << err_;
        EXPECT_EQ(pages_, 2u);
        if (variant == 0) {
            ASSERT_NE(fe->hdrBlock, nullptr);
            EXPECT_EQ(fe->hdrBlockLen, 3u);
        } else {
            EXPECT_EQ(fe->hdrBlock, nullptr) << variant;
        }
        close();
    }
}

TEST_F(TiffDirRead, ShortTiffFailsWith293) {
    // Fewer than 16 bytes at offset 8.
    std::vector<uint8_t> v = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(open(v), nullptr);
    EXPECT_EQ(err_, uint32_t(TAV_E_NOT_SUPPORTED));
}

TEST_F(TiffDirRead, FiftyFourEntriesReadFiftyFiveRefused) {
    for (int n : {54, 55}) {
        Builder b;
        std::vector<uint32_t> offs = b.chain(1);
        std::vector<Entry> many;
        for (int i = 0; i < n; ++i) many.push_back(shortv(uint16_t(40000 - i), uint16_t(i)));
        uint32_t big = b.add_ifd(many, 0);
        b.set_next(offs[0], big);
        FctEntry* fe = open(b.bytes());
        if (n == 55) {
            EXPECT_EQ(fe, nullptr);
            EXPECT_EQ(err_, uint32_t(TAV_E_DIRECTORY));
            continue;
        }
        ASSERT_NE(fe, nullptr) << err_;
        EXPECT_EQ(pages_, 2u);
        TiffDir d;
        ASSERT_EQ(tiff_page_dir(fe, 1, &d), 0);
        EXPECT_EQ(d.entryCount, 54);
        EXPECT_EQ(d.entries[0].tag, 40000 - 53);
        EXPECT_EQ(d.entries[53].tag, 40000);
        EXPECT_EQ(tiff_entry_value(d.entries[53]), 0u);
        close();
    }
}

TEST_F(TiffDirRead, NextIfdPastTheEndEndsTheChain) {
    Builder b;
    std::vector<uint32_t> offs = b.chain(3);
    b.set_next(offs[2], b.size() + 100);
    FctEntry* fe = open(b.bytes());
    ASSERT_NE(fe, nullptr) << err_;
    EXPECT_EQ(pages_, 3u);
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(fe, 2, &d), 0);
    EXPECT_EQ(d.nextIfd, 0u);
    close();
    // Greater than the size less 4 is past the end as well.
    b.set_next(offs[1], b.size() - 3);
    fe = open(b.bytes());
    ASSERT_NE(fe, nullptr) << err_;
    EXPECT_EQ(pages_, 2u);
}

TEST_F(TiffDirRead, LastIfdCutOffAtTheEnd) {
    Builder b;
    b.chain(3);
    std::vector<uint8_t> v = b.bytes();
    // Without its next-IFD offset.
    v.resize(v.size() - 4);
    ASSERT_NE(open(v, "cut4.tif"), nullptr) << err_;
    EXPECT_EQ(pages_, 3u);
    close();
    // With half of it.
    v = b.bytes();
    v.resize(v.size() - 2);
    ASSERT_NE(open(v, "cut2.tif"), nullptr) << err_;
    EXPECT_EQ(pages_, 3u);
    close();
    // Cut inside the entries: the chain ends early.
    v = b.bytes();
    v.resize(v.size() - 10);
    EXPECT_EQ(open(v, "cut10.tif"), nullptr);
    EXPECT_EQ(err_, uint32_t(TAV_E_DIRECTORY));
}

TEST_F(TiffDirRead, DuplicateTagsKept) {
    Builder b;
    std::vector<Entry> e = b.page_entries(16);
    e.push_back(shortv(256, 99));
    e.push_back(shortv(269, 1));
    e.push_back(shortv(269, 2));
    // Unsorted on disk.
    std::swap(e[0], e[5]);
    b.set_first(b.add_ifd(e, 0));
    FctEntry* fe = open(b.bytes());
    ASSERT_NE(fe, nullptr) << err_;
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(fe, 0, &d), 0);
    EXPECT_EQ(d.entryCount, e.size());
    int widths = 0, names = 0;
    for (uint16_t i = 0; i < d.entryCount; ++i) {
        if (i) {
            EXPECT_LE(d.entries[i - 1].tag, d.entries[i].tag);
        }
        widths += d.entries[i].tag == 256;
        names += d.entries[i].tag == 269;
    }
    EXPECT_EQ(widths, 2);
    EXPECT_EQ(names, 2);
}

TEST_F(TiffDirRead, HighTagsSortUnsigned) {
    Builder b;
    std::vector<Entry> e = {longv(65535, 1), shortv(256, 8), longv(40000, 2), shortv(257, 1)};
    b.set_first(b.add_ifd(e, 0));
    FctEntry* fe = open(b.bytes());
    ASSERT_NE(fe, nullptr) << err_;
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(fe, 0, &d), 0);
    EXPECT_EQ(d.entries[0].tag, 256);
    EXPECT_EQ(d.entries[3].tag, 65535);
}

TEST_F(TiffDirRead, HeaderMagicInEitherOrder) {
    // "II" with 42 stored big-endian: accepted, and nothing is swapped.
    Builder b;
    b.chain(1);
    std::vector<uint8_t> v = b.bytes();
    v[2] = 0;
    v[3] = 42;
    FctEntry* fe = open(v);
    ASSERT_NE(fe, nullptr) << err_;
    TiffHeader h;
    ASSERT_EQ(tiff_read_header(fe, 0, &h), 0);
    EXPECT_EQ(h.magic, 0x2A00);
    EXPECT_EQ(h.firstIfd, b.bytes()[4] | b.bytes()[5] << 8);
}

TEST_F(TiffDirRead, FirstIfdOutsideTheFileFails) {
    Builder b;
    b.add_zeros(16);
    b.set_first(0x7FFFFFF0u);
    EXPECT_EQ(open(b.bytes()), nullptr);
    EXPECT_NE(err_, 0u);
    Builder c;
    c.add_zeros(16);
    c.set_first(0xFFFFFFF0u);
    EXPECT_EQ(open(c.bytes()), nullptr);
    EXPECT_EQ(err_, uint32_t(TAV_E_SEEK));
}

}  // namespace
