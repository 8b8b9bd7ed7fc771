// Appending pages to existing TIFF files: files with our page offset table,
// plain IFD chains written by other programs, and page index files, which
// are converted in place. An abort gives back the original bytes.
#include <cstring>

#include "frame/fct.h"
#include "write_test_util.h"

namespace {

using wt::File;

struct UpdateTiff : ::testing::Test {
    TempDir dir;

    // A file of n pages written by us (so it carries a page offset table).
    std::string ours(const std::string& name, int n) {
        std::string path = dir.file(name);
        int32_t h = wt::create(path);
        for (int p = 1; p <= n; ++p) {
            PageInfo info = wt::bilevel(16, 2);
            EXPECT_EQ(0u, wt::put_page(h, uint16_t(p), info, wt::pattern(4, uint32_t(p))));
        }
        wt::close(h);
        return path;
    }

    // Appends pages and closes (abort = false) or aborts.
    void append(const std::string& path, uint32_t from, int count, bool abort) {
        uint32_t pages = 0;
        int32_t h = wt::open_update(path, &pages);
        ASSERT_EQ(from, pages);
        for (int i = 0; i < count; ++i) {
            PageInfo info = wt::bilevel(24, 3);
            ASSERT_EQ(0u, wt::put_page(h, uint16_t(from + 1 + i), info, wt::pattern(9, 1000 + i)));
        }
        uint32_t err = 0;
        if (abort)
            EXPECT_EQ(0, xtavabort(&h, &err));
        else
            EXPECT_EQ(0, xtavclose(&h, &err));
    }

    static uint32_t page_count(const std::string& path) {
        PathBuf p(path);
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
        EXPECT_GT(h, 0) << err;
        xtavclose(&h, &err);
        return pages;
    }
};

TEST_F(UpdateTiff, ChainWorkFileHoldsTheDirectories) {
    std::string path = dir.file("c.tif");
    // Three pages chained by hand, no table.
    std::vector<uint8_t> b(200, 0);
    std::memcpy(b.data(), "II*\0\x08\0\0\0", 8);
    const uint32_t ifds[3] = {8, 60, 120};
    for (int i = 0; i < 3; ++i) {
        uint8_t* d = &b[ifds[i]];
        d[0] = 1;                    // one entry: ImageWidth
        d[2] = 0x00; d[3] = 0x01;    // tag 256
        d[4] = 3; d[8] = 1; d[10] = 8;
        uint32_t next = i < 2 ? ifds[i + 1] : 0;
        std::memcpy(d + 14, &next, 4);
    }
    write_file(path, b);
    uint32_t pages = 0;
    int32_t h = wt::open_update(path, &pages);
    ASSERT_EQ(3u, pages);
    FctEntry* e = fct_entry_at(h);
    ASSERT_TRUE(e->temp2Open);
    std::vector<uint8_t> work = read_file(e->tempName);
    ASSERT_EQ(28u, work.size());
    uint32_t v[7];
    std::memcpy(v, work.data(), 28);
    EXPECT_EQ(0, std::memcmp(work.data(), "TEXO", 4));
    EXPECT_EQ(3u, v[2]);
    EXPECT_EQ(8u, v[4]);
    EXPECT_EQ(60u, v[5]);
    EXPECT_EQ(120u, v[6]);
    std::string work_name = e->tempName;
    uint32_t err = 0;
    xtavclose(&h, &err);
    EXPECT_FALSE(file_exists(work_name));
    EXPECT_EQ(b, read_file(path));  // nothing appended: nothing changed
}

TEST_F(UpdateTiff, AppendToTableFileAndAbort) {
    std::string path = ours("t.tif", 200);
    const std::vector<uint8_t> original = read_file(path);
    for (int n : {1, 2}) {
        append(path, 200, n, true);
        EXPECT_TRUE(read_file(path) == original) << "abort after " << n;
    }
    append(path, 200, 2, false);
    std::vector<uint8_t> now = read_file(path);
    ASSERT_GT(now.size(), original.size());
    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(202u, chain.size());
    // The old pages stay where they were; the new ones follow the old end.
    EXPECT_GE(chain[200], original.size());
    auto es = f.entries(chain[0]);
    uint32_t t = f.find(es, 32934)->value;
    EXPECT_EQ(206u, f.find(es, 32934)->count);
    EXPECT_EQ(202u, f.u32(t + 8));
    EXPECT_EQ(now.size(), f.u32(t + 12));
    for (uint32_t i = 0; i < 202; ++i) EXPECT_EQ(chain[i], f.u32(t + 16 + 4 * i));
    EXPECT_EQ(202u, page_count(path));
#ifdef QVTAV_HAVE_LIBTIFF
    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(202u, pages.size());
    for (int i = 0; i < 200; ++i) EXPECT_TRUE(wt::same_bytes(wt::pattern(4, uint32_t(i + 1)), pages[i].strips[0]));
    EXPECT_EQ(24u, pages[201].width);
    EXPECT_TRUE(wt::same_bytes(wt::pattern(9, 1001), pages[201].strips[0]));
#endif
}

#ifdef QVTAV_HAVE_LIBTIFF
TEST_F(UpdateTiff, AppendToPlainChainAndAbort) {
    std::string made = dir.file("lt.tif"), path = dir.file("chain.tif");
    wt::quiet_libtiff();
    TIFF* t = TIFFOpen(made.c_str(), "w");
    ASSERT_TRUE(t);
    for (int i = 0; i < 200; ++i) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
        std::vector<uint8_t> px = wt::pattern(4, uint32_t(i));
        TIFFWriteEncodedStrip(t, 0, px.data(), 4);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    if (have_program("tiffcp"))
        ASSERT_EQ(0, run_command("tiffcp " + made + " " + path));
    else
        write_file(path, read_file(made));
    const std::vector<uint8_t> original = read_file(path);
    for (int n : {1, 2}) {
        append(path, 200, n, true);
        EXPECT_TRUE(read_file(path) == original) << "abort after " << n;
    }
    append(path, 200, 2, false);
    auto pages = wt::libtiff_read(path);
    ASSERT_EQ(202u, pages.size());
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(wt::same_bytes(wt::pattern(4, uint32_t(i)), pages[i].strips[0]));
    EXPECT_TRUE(wt::same_bytes(wt::pattern(9, 1000), pages[200].strips[0]));
    EXPECT_EQ(202u, page_count(path));
    // The table now carried by the first appended page is found at the next
    // open; appending again links page 203 behind page 202.
    append(path, 202, 1, false);
    EXPECT_EQ(203u, wt::libtiff_read(path).size());
    EXPECT_EQ(203u, page_count(path));
}
#endif

// A page index file of two pages, page 1 a TIFF stream of its own at 5000.
std::vector<uint8_t> index_file() {
    std::vector<uint8_t> b(5400, 0);
    auto p16 = [&](uint32_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
    auto p32 = [&](uint32_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
    auto entry = [&](uint32_t at, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        p16(at, tag);
        p16(at + 2, type);
        p32(at + 4, count);
        if (type == 3 && count == 1)
            p16(at + 8, uint16_t(value));
        else
            p32(at + 8, value);
    };
    // A page stream: header at base, directory at base + 8, strip at base +
    // 300, resolution at base + 200 (all offsets relative to the base).
    auto page = [&](uint32_t base, uint32_t width, bool index) {
        std::memcpy(&b[base], "II*\0", 4);
        p32(base + 4, 8);
        uint32_t d = base + 8, n = index ? 10 : 9;
        p16(d, uint16_t(n));
        uint32_t e = d + 2;
        entry(e, 256, 3, 1, width); e += 12;
        entry(e, 257, 3, 1, 2); e += 12;
        entry(e, 258, 3, 1, 1); e += 12;
        entry(e, 259, 3, 1, 1); e += 12;
        entry(e, 262, 3, 1, 0); e += 12;
        entry(e, 273, 4, 1, 300); e += 12;
        entry(e, 278, 3, 1, 2); e += 12;
        entry(e, 279, 4, 1, width / 4); e += 12;
        entry(e, 282, 5, 1, 200); e += 12;
        if (index) { entry(e, 32935, 4, 1, 1000); e += 12; }
        p32(e, 0);
        p32(base + 200, 300 + base);
        p32(base + 204, 1);
        for (uint32_t i = 0; i < width / 4; ++i) b[base + 300 + i] = uint8_t(0x10 * (i + 1) + width);
    };
    page(0, 16, true);
    page(5000, 24, false);
    // Index header at 1000, one chunk of two entries at 1100.
    p32(1000, 1);
    p32(1036, 2);
    p32(1040, 1);
    p32(1044, 32);
    p32(1052, 1100);
    p32(1056, 2);
    p32(1100, 0);
    p32(1104, 8);
    p32(1108, 5000);
    p32(1112, 8);
    return b;
}

TEST_F(UpdateTiff, PageIndexFileIsConvertedInPlace) {
    std::string path = dir.file("idx.tif");
    write_file(path, index_file());
    uint32_t pages = 0;
    int32_t h = wt::open_update(path, &pages);
    ASSERT_EQ(2u, pages);
    uint32_t err = 0;
    // The conversion stays even when the appending is given up.
    PageInfo info = wt::bilevel(24, 3);
    ASSERT_EQ(0u, wt::put_page(h, 3, info, wt::pattern(9, 7)));
    EXPECT_EQ(0, xtavabort(&h, &err));

    File f(path);
    auto chain = f.chain();
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(8u, chain[0]);
    auto es0 = f.entries(8);
    const wt::Entry* tag = f.find(es0, 32934);
    ASSERT_TRUE(tag);
    EXPECT_EQ(nullptr, f.find(es0, 32935));
    EXPECT_EQ(1000u, tag->value);  // the table fits where the index was
    EXPECT_EQ(6u, tag->count);
    EXPECT_EQ(0, std::memcmp(&f.bytes[1000], "TEXO", 4));
    EXPECT_EQ(f.bytes.size(), f.u32(1012));
    EXPECT_EQ(chain[1], f.u32(1020));
    // Page 1's directory grew by the table tag: it was written at the end,
    // with its offsets made absolute.
    EXPECT_GE(chain[1], 5400u);
    auto es1 = f.entries(chain[1]);
    EXPECT_EQ(5300u, f.find(es1, 273)->value);
    EXPECT_EQ(5200u, f.find(es1, 282)->value);
    EXPECT_TRUE(f.find(es1, 32934));
    EXPECT_EQ(2u, page_count(path));
#ifdef QVTAV_HAVE_LIBTIFF
    auto lt = wt::libtiff_read(path);
    ASSERT_EQ(2u, lt.size());
    EXPECT_EQ(24u, lt[1].width);
    EXPECT_EQ(300.0f, lt[1].xres - 5000.0f);
    std::vector<uint8_t> strip1 = {0x10 + 24, 0x20 + 24, 0x30 + 24, 0x40 + 24, 0x50 + 24, 0x60 + 24};
    EXPECT_TRUE(wt::same_bytes(strip1, lt[1].strips[0]));
#endif
    // Appending to the converted file.
    append(path, 2, 1, false);
    EXPECT_EQ(3u, File(path).chain().size());
    EXPECT_EQ(3u, page_count(path));
#ifdef QVTAV_HAVE_LIBTIFF
    EXPECT_EQ(3u, wt::libtiff_read(path).size());
#endif
}

}  // namespace
