// Page deletion on files made by other programs (ImageMagick, tiffcp) and on
// hand-made old-style JPEG files: libtiff reads every kept page of the copy
// with the same tags and the same raw strips as the original page.
#include <gtest/gtest.h>

#include <cerrno>

#include "edit_tiff_util.h"
#include "qvtav.h"
#include "test_util.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace edit_test;

namespace {

uint32_t type_size(uint16_t t) {
    static const uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return t < 14 ? sizes[t] : 0;
}

// Every entry of a kept page carries the same tag, type (strip arrays may
// widen), count and value bytes as in the original.
void expect_same_tags(const Reader& a, const Dir& da, const Reader& b, const Dir& db) {
    std::vector<Entry> ea, eb;
    for (const Entry& e : da.entries)
        if (e.tag != 32934 && e.tag != 32935) ea.push_back(e);
    for (const Entry& e : db.entries)
        if (e.tag != 32934) eb.push_back(e);
    ASSERT_EQ(ea.size(), eb.size());
    for (size_t i = 0; i < ea.size(); ++i) {
        const Entry& x = ea[i];
        const Entry& y = eb[i];
        SCOPED_TRACE("tag " + std::to_string(x.tag));
        ASSERT_EQ(x.tag, y.tag);
        EXPECT_EQ(x.count, y.count);
        if (x.tag == 273 || x.tag == 279 || (x.tag >= 513 && x.tag <= 521 && x.tag != 515)) {
            if (x.tag == 279) { EXPECT_EQ(a.array(x), b.array(y)); }
            continue;  // positions: compared through the data they point to
        }
        EXPECT_EQ(x.type, y.type);
        uint64_t size = uint64_t(x.count) * type_size(x.type);
        if (size <= 4) {
            EXPECT_EQ(x.value, y.value);
        } else {
            ASSERT_TRUE(a.ok(x.value, uint32_t(size)) && b.ok(y.value, uint32_t(size)));
            EXPECT_TRUE(std::equal(a.bytes.begin() + x.value, a.bytes.begin() + x.value + size,
                                   b.bytes.begin() + y.value));
        }
    }
}

#ifdef QVTAV_HAVE_LIBTIFF
struct TiffCloser {
    TIFF* t;
    ~TiffCloser() {
        if (t) TIFFClose(t);
    }
};

std::vector<uint8_t> raw_strip(TIFF* t, uint32_t s) {
    tmsize_t n = TIFFRawStripSize(t, s);
    std::vector<uint8_t> v(n > 0 ? size_t(n) : 0);
    if (n > 0 && TIFFReadRawStrip(t, s, v.data(), n) != n) v.clear();
    return v;
}

std::vector<uint8_t> decoded_strip(TIFF* t, uint32_t s, bool* ok) {
    std::vector<uint8_t> v(size_t(TIFFStripSize(t)));
    *ok = TIFFReadEncodedStrip(t, s, v.data(), tmsize_t(v.size())) >= 0;
    return v;
}

// libtiff reads page `origPage` of the original and `newPage` of the copy
// with the same strips, raw and decoded.
void expect_libtiff_same(const std::string& orig, uint16_t origPage, const std::string& edited,
                         uint16_t newPage) {
    TiffCloser a{TIFFOpen(orig.c_str(), "r")}, b{TIFFOpen(edited.c_str(), "r")};
    ASSERT_TRUE(a.t && b.t);
    ASSERT_TRUE(TIFFSetDirectory(a.t, origPage));
    ASSERT_TRUE(TIFFSetDirectory(b.t, newPage));
    uint32_t w1 = 0, w2 = 0, h1 = 0, h2 = 0;
    TIFFGetField(a.t, TIFFTAG_IMAGEWIDTH, &w1);
    TIFFGetField(b.t, TIFFTAG_IMAGEWIDTH, &w2);
    TIFFGetField(a.t, TIFFTAG_IMAGELENGTH, &h1);
    TIFFGetField(b.t, TIFFTAG_IMAGELENGTH, &h2);
    EXPECT_EQ(w1, w2);
    EXPECT_EQ(h1, h2);
    ASSERT_EQ(TIFFNumberOfStrips(a.t), TIFFNumberOfStrips(b.t));
    for (uint32_t s = 0; s < TIFFNumberOfStrips(a.t); ++s) {
        EXPECT_EQ(raw_strip(a.t, s), raw_strip(b.t, s)) << "strip " << s;
        bool okA = false, okB = false;
        auto da = decoded_strip(a.t, s, &okA);
        auto db = decoded_strip(b.t, s, &okB);
        if (okA) {
            EXPECT_TRUE(okB) << "strip " << s;
            EXPECT_EQ(da, db) << "strip " << s;
        }
    }
}
#endif

int count_pages(const Reader& r) { return int(r.chain().size()); }

// Deletes page `del` (from 1) of a copy of src and checks every kept page.
void check_delete(const TempDir& d, const std::string& src, int del) {
    SCOPED_TRACE(src + " without page " + std::to_string(del));
    std::string edited = d.file("edited.tif");
    auto bytes = read_file(src);
    ASSERT_FALSE(bytes.empty());
    write_file(edited, bytes);
    Reader before(bytes);
    int pages = count_pages(before);
    ASSERT_GE(pages, 2);
    uint32_t err = 0;
    ASSERT_EQ(xtavdelpgs(nullptr, PathBuf(edited), del, uint32_t(del), &err), 0) << errno;
    Reader after(read_file(edited));
    auto oldChain = before.chain(), newChain = after.chain();
    ASSERT_EQ(int(newChain.size()), pages - 1);
    for (int i = 0, j = 0; i < pages; ++i) {
        if (i == del - 1) continue;
        SCOPED_TRACE("page " + std::to_string(i + 1));
        expect_same_tags(before, oldChain[i], after, newChain[j]);
#ifdef QVTAV_HAVE_LIBTIFF
        expect_libtiff_same(src, uint16_t(i), edited, uint16_t(j));
#endif
        ++j;
    }
}

}  // namespace

TEST(EditInterop, FilesOfOtherProgramsKeepTheirPages) {
    if (!have_program("convert") || !have_program("tiffcp")) GTEST_SKIP() << "convert/tiffcp missing";
#ifdef QVTAV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
#endif
    TempDir d;
    auto q = [&](const std::string& n) { return "'" + d.file(n) + "'"; };
    std::string frames = "-size 64x40 gradient:white-black gradient:red-blue -size 64x40 pattern:checkerboard ";
    std::string bilevel = "-size 64x40 pattern:checkerboard pattern:gray50 pattern:hexagons -monochrome ";
    ASSERT_EQ(run_command("convert " + frames + "-compress LZW -define tiff:rows-per-strip=8 -endian MSB " +
                          q("im_lzw_mm.tif")), 0);
    ASSERT_EQ(run_command("convert " + frames + "-compress LZW -define tiff:rows-per-strip=8 -endian LSB " +
                          q("im_lzw_ii.tif")), 0);
    ASSERT_EQ(run_command("convert " + bilevel + "-compress Group4 -define tiff:rows-per-strip=8 -endian MSB " +
                          q("im_g4_mm.tif")), 0);
    ASSERT_EQ(run_command("convert " + frames + "-compress JPEG -define tiff:rows-per-strip=16 " +
                          q("im_jpeg.tif")), 0);
    ASSERT_EQ(run_command("tiffcp -c lzw -r 8 -B " + q("im_lzw_ii.tif") + " " + q("im_g4_mm.tif") + " " +
                          q("cp_lzw_mm.tif")), 0);
    ASSERT_EQ(run_command("tiffcp -c g4 -L " + q("im_g4_mm.tif") + " " + q("cp_g4_ii.tif")), 0);
    ASSERT_EQ(run_command("tiffcp -c none -r 5 -L " + q("im_lzw_mm.tif") + " " + q("cp_none_ii.tif")), 0);
    for (const char* name : {"im_lzw_mm.tif", "im_lzw_ii.tif", "im_g4_mm.tif", "im_jpeg.tif",
                             "cp_lzw_mm.tif", "cp_g4_ii.tif", "cp_none_ii.tif"}) {
        check_delete(d, d.file(name), 2);
        check_delete(d, d.file(name), 1);
    }
}

// Old-style JPEG pages made by hand from a JFIF file: one whose strip lies
// inside the JPEGInterchangeFormat block (the block is the whole stream) with
// its quantisation table inside the block, and one whose block holds only the
// header, with the strip and a quantisation table elsewhere in the file.
TEST(EditInterop, OldStyleJpegBlocksMoveWithTheirStripsAndTables) {
    if (!have_program("convert")) GTEST_SKIP() << "convert missing";
    TempDir d;
    ASSERT_EQ(run_command("convert -size 16x16 gradient:white-black -colorspace Gray -quality 90 '" +
                          d.file("q.jpg") + "'"), 0);
    auto jpeg = read_file(d.file("q.jpg"));
    // Header length (through the SOS segment) and the first DQT table.
    uint32_t header = 0, qtable = 0;
    for (uint32_t p = 2; p + 4 <= jpeg.size();) {
        ASSERT_EQ(jpeg[p], 0xFF);
        uint8_t m = jpeg[p + 1];
        uint32_t len = uint32_t(jpeg[p + 2]) << 8 | jpeg[p + 3];
        if (m == 0xDB && !qtable) qtable = p + 5;
        if (m == 0xDA) {
            header = p + 2 + len;
            break;
        }
        p += 2 + len;
    }
    ASSERT_TRUE(header && qtable);

    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        Writer w(mm);
        uint8_t mark[2] = {uint8_t(mm ? 'M' : 'I'), uint8_t(mm ? 'M' : 'I')};
        w.at(0, mark, 2);
        w.u16(2, 42);
        // Page 1: a plain page, to be deleted so everything behind it moves.
        std::vector<Page> plain = numbered_pages(1, 1, 100);
        auto first = build_tiff(plain, mm, 0, false);
        w.at(0, first.data(), uint32_t(first.size()));
        uint32_t firstDir = Reader(first).u32(4);
        uint32_t pos = align4(uint32_t(w.bytes.size()));
        // Data of page 2: the whole stream.
        uint32_t whole = pos;
        w.at(whole, jpeg.data(), uint32_t(jpeg.size()));
        pos = align4(whole + uint32_t(jpeg.size()));
        // Data of page 3: header, separate Q table, scan data.
        uint32_t hdr = pos;
        w.at(hdr, jpeg.data(), header);
        pos = align4(hdr + header) + 8;  // a gap, so the table is outside the block
        uint32_t table = pos;
        w.at(table, jpeg.data() + qtable, 64);
        pos = align4(table + 64);
        uint32_t scan = pos;
        uint32_t scanLen = uint32_t(jpeg.size()) - header;
        w.at(scan, jpeg.data() + header, scanLen);
        pos = align4(scan + scanLen);

        auto jpeg_dir = [&](uint32_t at, uint32_t block, uint32_t blockLen, uint32_t strip,
                            uint32_t q, uint32_t next) {
            std::vector<Entry> es = {{256, 3, 1, 16},      {257, 3, 1, 16},        {258, 3, 1, 8},
                                     {259, 3, 1, 6},       {262, 3, 1, 1},         {273, 4, 1, strip},
                                     {277, 3, 1, 1},       {278, 4, 1, 16},        {279, 4, 1, scanLen},
                                     {512, 3, 1, 1},       {513, 4, 1, block},     {514, 4, 1, blockLen},
                                     {519, 4, 1, q}};
            w.u16(at, uint16_t(es.size()));
            for (size_t j = 0; j < es.size(); ++j) w.entry(at + 2 + 12 * uint32_t(j), es[j]);
            w.u32(at + 2 + 12 * uint32_t(es.size()), next);
            return at + 6 + 12 * uint32_t(es.size());
        };
        uint32_t dir2 = pos;
        uint32_t dir3 = align4(dir2 + 6 + 12 * 13);
        jpeg_dir(dir2, whole, uint32_t(jpeg.size()), whole + header, whole + qtable, dir3);
        jpeg_dir(dir3, hdr, header, scan, table, 0);
        // Link page 1 to page 2.
        uint16_t n1 = Reader(first).u16(firstDir);
        w.u32(firstDir + 2 + 12 * n1, dir2);

        std::string path = d.file(mm ? "ojpeg_mm.tif" : "ojpeg_ii.tif");
        write_file(path, w.bytes);
        uint32_t err = 0;
        ASSERT_EQ(xtavdelpgs(nullptr, PathBuf(path), 1, 1, &err), 0) << errno;
        Reader r(read_file(path));
        auto c = r.chain();
        ASSERT_EQ(c.size(), 2u);
        auto bytes_at = [&](uint32_t at, uint32_t n) {
            EXPECT_TRUE(r.ok(at, n));
            return std::vector<uint8_t>(r.bytes.begin() + at, r.bytes.begin() + at + n);
        };
        // Page 2: the block is the whole stream; the strip and the table
        // keep their places inside it.
        uint32_t b2 = c[0].find(513)->value;
        EXPECT_EQ(c[0].find(514)->value, jpeg.size());
        EXPECT_EQ(bytes_at(b2, uint32_t(jpeg.size())), jpeg);
        EXPECT_EQ(r.array(*c[0].find(273))[0], b2 + header);
        EXPECT_EQ(c[0].find(519)->value, b2 + qtable);
        // Page 3: header block, strip and table each copied.
        uint32_t b3 = c[1].find(513)->value;
        EXPECT_EQ(bytes_at(b3, header), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + header));
        EXPECT_EQ(r.strips(c[1]), std::vector<uint8_t>(jpeg.begin() + header, jpeg.end()));
        uint32_t q3 = c[1].find(519)->value;
        EXPECT_TRUE(q3 < b3 || q3 >= b3 + header);
        EXPECT_EQ(bytes_at(q3, 64), std::vector<uint8_t>(jpeg.begin() + qtable, jpeg.begin() + qtable + 64));
    }
}
