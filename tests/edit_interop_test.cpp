// Page deletion on files made by other programs (ImageMagick, tiffcp) and on
// hand-made old-style JPEG files: every kept page of the copy has the same
// tags and, as libtiff reads them, the same raw strips as the original page.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "edit_tiff_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace edit_test;

namespace {

// Same tag, type, count and value bytes; positions (strips, JPEG blocks and
// tables) are compared through the data they point to instead.
void expect_same_tags(const Reader& a, const Dir& da, const Reader& b, const Dir& db) {
    static const uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    std::vector<Entry> ea, eb;
    for (const Entry& e : da.entries)
        if (e.tag != 32934 && e.tag != 32935) ea.push_back(e);
    for (const Entry& e : db.entries)
        if (e.tag != 32934) eb.push_back(e);
    ASSERT_EQ(ea.size(), eb.size());
    for (size_t i = 0; i < ea.size(); ++i) {
        const Entry &x = ea[i], &y = eb[i];
        ASSERT_EQ(x.tag, y.tag);
        EXPECT_EQ(x.count, y.count) << x.tag;
        if (x.tag == 279) { EXPECT_EQ(a.array(x), b.array(y)); }
        if (x.tag == 273 || x.tag == 279 || (x.tag >= 513 && x.tag <= 521 && x.tag != 515)) continue;
        EXPECT_EQ(x.type, y.type) << x.tag;
        uint64_t size = uint64_t(x.count) * (x.type < 14 ? sizes[x.type] : 0);
        if (size <= 4) {
            EXPECT_EQ(x.value, y.value) << x.tag;
        } else {
            ASSERT_TRUE(a.ok(x.value, uint32_t(size)) && b.ok(y.value, uint32_t(size))) << x.tag;
            EXPECT_TRUE(std::equal(a.bytes.begin() + x.value, a.bytes.begin() + x.value + size, b.bytes.begin() + y.value))
                << x.tag;
        }
    }
}

#ifdef QVTAV_HAVE_LIBTIFF
std::vector<std::vector<uint8_t>> libtiff_raw_strips(const std::string& path, uint16_t page) {
    std::vector<std::vector<uint8_t>> out;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    EXPECT_TRUE(t && TIFFSetDirectory(t, page)) << path << " page " << page;
    for (uint32_t s = 0; t && s < TIFFNumberOfStrips(t); ++s) {
        tmsize_t n = TIFFRawStripSize(t, s);
        std::vector<uint8_t> v(n > 0 ? size_t(n) : 0);
        if (n > 0 && TIFFReadRawStrip(t, s, v.data(), n) != n) v.clear();
        out.push_back(v);
    }
    if (t) TIFFClose(t);
    return out;
}
#endif

// Deletes page `del` (from 1) of a copy of src and checks every kept page.
void check_delete(const TempDir& d, const std::string& src, int del) {
    SCOPED_TRACE(src + " without page " + std::to_string(del));
    std::string edited = d.file("edited.tif");
    Reader before(read_file(src));
    write_file(edited, before.bytes);
    auto oldChain = before.chain();
    ASSERT_GE(oldChain.size(), 2u);
    uint32_t err = 0;
    ASSERT_EQ(xtavdelpgs(nullptr, PathBuf(edited), del, uint32_t(del), &err), 0) << errno;
    Reader after(read_file(edited));
    auto newChain = after.chain();
    ASSERT_EQ(newChain.size(), oldChain.size() - 1);
    for (int i = 0, j = 0; i < int(oldChain.size()); ++i) {
        if (i == del - 1) continue;
        SCOPED_TRACE("page " + std::to_string(i + 1));
        expect_same_tags(before, oldChain[i], after, newChain[j]);
#ifdef QVTAV_HAVE_LIBTIFF
        EXPECT_EQ(libtiff_raw_strips(src, uint16_t(i)), libtiff_raw_strips(edited, uint16_t(j)));
#endif
        ++j;
    }
}

}  // namespace

TEST(EditInterop, FilesOfOtherProgramsKeepTheirPages) {
    if (oracle_missing("convert") || oracle_missing("tiffcp")) GTEST_SKIP() << "convert/tiffcp missing";
#ifdef QVTAV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
#endif
    TempDir d;
    auto q = [&](const std::string& n) { return " '" + d.file(n) + "'"; };
    const std::string grey = "convert -size 64x40 gradient:white-black gradient:red-blue pattern:checkerboard ";
    const std::string bilevel = "convert -size 64x40 pattern:checkerboard pattern:gray50 pattern:hexagons -monochrome ";
    const std::pair<const char*, std::string> files[] = {
        {"im_lzw_mm.tif", grey + "-compress LZW -define tiff:rows-per-strip=8 -endian MSB"},
        {"im_lzw_ii.tif", grey + "-compress LZW -define tiff:rows-per-strip=8 -endian LSB"},
        {"im_g4_mm.tif", bilevel + "-compress Group4 -define tiff:rows-per-strip=8 -endian MSB"},
        {"im_jpeg.tif", grey + "-compress JPEG -define tiff:rows-per-strip=16"},
        {"cp_lzw_mm.tif", "tiffcp -c lzw -r 8 -B" + q("im_lzw_ii.tif") + q("im_g4_mm.tif")},
        {"cp_g4_ii.tif", "tiffcp -c g4 -L" + q("im_g4_mm.tif")},
        {"cp_none_ii.tif", "tiffcp -c none -r 5 -L" + q("im_lzw_mm.tif")},
    };
    for (const auto& [name, cmd] : files) ASSERT_EQ(run_command(cmd + q(name)), 0) << cmd;
    for (const auto& f : files) {
        check_delete(d, d.file(f.first), 2);
        check_delete(d, d.file(f.first), 1);
    }
}

// Old-style JPEG pages made by hand from a JFIF stream: on page 2 the
// JPEGInterchangeFormat block is the whole stream, with the strip and the
// quantisation table inside it; on page 3 the block holds only the header,
// and the strip and a table lie elsewhere. Page 1 is deleted so all moves.
TEST(EditInterop, OldStyleJpegBlocksMoveWithTheirStripsAndTables) {
    if (oracle_missing("convert")) GTEST_SKIP() << "convert missing";
    TempDir d;
    ASSERT_EQ(run_command("convert -size 16x16 gradient:white-black -colorspace Gray -quality 90 '" + d.file("q.jpg") + "'"), 0);
    const auto jpeg = read_file(d.file("q.jpg"));
    uint32_t header = 0, qtable = 0;  // header length through SOS; first DQT table
    for (uint32_t p = 2; p + 4 <= jpeg.size() && !header;) {
        ASSERT_EQ(jpeg[p], 0xFF);
        uint32_t len = uint32_t(jpeg[p + 2]) << 8 | jpeg[p + 3];
        if (jpeg[p + 1] == 0xDB && !qtable) qtable = p + 5;
        if (jpeg[p + 1] == 0xDA) header = p + 2 + len;
        p += 2 + len;
    }
    ASSERT_TRUE(header && qtable);
    const auto part = [&](uint32_t from, uint32_t n) {
        return std::vector<uint8_t>(jpeg.begin() + from, jpeg.begin() + from + n);
    };
    const uint32_t scanLen = uint32_t(jpeg.size()) - header;

    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        TiffBuilder b(mm);
        uint32_t plain = b.add_data(std::vector<uint8_t>(100, 0x5A), 4);
        uint32_t whole = b.add_data(jpeg, 4);
        uint32_t hdr = b.add_data(part(0, header), 4);
        b.add_data(std::vector<uint8_t>(8, 0), 4);  // a gap: the table lies outside the block
        uint32_t table = b.add_data(part(qtable, 64), 4);
        uint32_t scan = b.add_data(part(header, scanLen), 4);
        b.add_ifd().longs(256, {50}).longs(257, {2}).shorts(258, {8}).shorts(259, {1}).shorts(262, {1})
            .longs(273, {plain}).longs(278, {2}).longs(279, {100});
        for (auto [block, blockLen, strip, q] : {std::array{whole, uint32_t(jpeg.size()), whole + header, whole + qtable},
                                                 std::array{hdr, header, scan, table}})
            b.add_ifd().shorts(256, {16}).shorts(257, {16}).shorts(258, {8}).shorts(259, {6}).shorts(262, {1})
                .longs(273, {strip}).shorts(277, {1}).longs(278, {16}).longs(279, {scanLen}).shorts(512, {1})
                .longs(513, {block}).longs(514, {blockLen}).longs(519, {q});
        std::string path = d.file("ojpeg.tif");
        write_file(path, b.build());
        uint32_t err = 0;
        ASSERT_EQ(xtavdelpgs(nullptr, PathBuf(path), 1, 1, &err), 0) << errno;
        Reader r(read_file(path));
        auto c = r.chain();
        ASSERT_EQ(c.size(), 2u);
        auto bytes_at = [&](uint32_t at, uint32_t n) {
            return r.ok(at, n) ? std::vector<uint8_t>(r.bytes.begin() + at, r.bytes.begin() + at + n) : std::vector<uint8_t>{};
        };
        // The strip and the table keep their places inside the whole stream.
        uint32_t b2 = c[0].find(513)->value;
        EXPECT_EQ(c[0].find(514)->value, jpeg.size());
        EXPECT_EQ(bytes_at(b2, uint32_t(jpeg.size())), jpeg);
        EXPECT_EQ(r.array(*c[0].find(273))[0], b2 + header);
        EXPECT_EQ(c[0].find(519)->value, b2 + qtable);
        // Header block, strip and table each copied.
        uint32_t b3 = c[1].find(513)->value, q3 = c[1].find(519)->value;
        EXPECT_EQ(bytes_at(b3, header), part(0, header));
        EXPECT_EQ(r.strips(c[1]), part(header, scanLen));
        EXPECT_TRUE(q3 < b3 || q3 >= b3 + header);
        EXPECT_EQ(bytes_at(q3, 64), part(qtable, 64));
    }
}
