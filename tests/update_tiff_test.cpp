// Appending pages to existing TIFF files: files with our page offset table,
// plain IFD chains written by other programs, and page index files, which
// are converted in place. An abort gives back the original bytes. Pages
// moved and appended in one session keep the order asked for.
#include <algorithm>
#include <cstring>

#include "edit_tiff_util.h"
#include "tiff_builder.h"
#include "write_test_util.h"

namespace {

using wt::File;

struct UpdateTiff : ::testing::Test {
    TempDir dir;

    // Appends pages 24 x 3 (data pattern(9, 1000 + i)), then closes or aborts.
    void append(const std::string& path, uint32_t from, int count, bool abort) {
        uint32_t pages = 0, err = 0;
        int32_t h = wt::open_update(path, &pages);
        ASSERT_EQ(from, pages);
        for (int i = 0; i < count; ++i) {
            PageInfo info = wt::bilevel(24, 3);
            ASSERT_EQ(0u, wt::put_page(h, uint16_t(from + 1 + i), info, wt::pattern(9, 1000 + i)));
        }
        EXPECT_EQ(0, abort ? xtavabort(&h, &err) : xtavclose(&h, &err)) << err;
    }
    // Aborts after one and two pages give back the original; then two pages
    // are appended and every page checked by libtiff and our own reader.
    void append_and_abort(const std::string& path, uint32_t seed0) {
        const std::vector<uint8_t> original = read_file(path);
        for (int n : {0, 1, 2}) {  // closing after no page changes nothing either
            append(path, 200, n, n > 0);
            EXPECT_TRUE(read_file(path) == original) << "abort after " << n;
        }
        append(path, 200, 2, false);
        EXPECT_EQ(202u, page_count(path));
        File f(path);
        ASSERT_EQ(202u, f.ifd_offsets().size());
        EXPECT_GE(f.ifd_offsets()[200], original.size());  // the old pages stay where they were
#ifdef QVTAV_HAVE_LIBTIFF
        auto pages = wt::libtiff_read(path);
        ASSERT_EQ(202u, pages.size());
        for (uint32_t i = 0; i < 202; ++i) {
            auto want = i < 200 ? wt::pattern(4, seed0 + i) : wt::pattern(9, 1000 + i - 200);
            EXPECT_TRUE(want == pages[i].strips.at(0)) << i;
        }
#endif
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

TEST_F(UpdateTiff, AppendToTableFileAndAbort) {
    std::string path = dir.file("t.tif");
    wt::write_pages(path, 200, 16, 2);
    append_and_abort(path, 1);
    File f(path);
    auto chain = f.ifd_offsets();
    const wt::Entry tag = f.at(chain[0], 32934);
    EXPECT_EQ(206u, tag.count);
    EXPECT_EQ(202u, f.u32(tag.value + 8));
    EXPECT_EQ(f.bytes.size(), f.u32(tag.value + 12));
    for (uint32_t i = 0; i < 202; ++i) EXPECT_EQ(chain[i], f.u32(tag.value + 16 + 4 * i));
}

#ifdef QVTAV_HAVE_LIBTIFF
// Options 17 and 21 append to the areas of the page being written: before
// the first xtavputi of a session (or of a new file) there is none, and
// nothing is written, least of all over the header.
TEST_F(UpdateTiff, AreaAppendsNeedAPageBeingWritten) {
    std::string path = dir.file("t.tif");
    int32_t h = wt::create(path);
    const std::vector<uint8_t> note = wt::pattern(8, 77);
    TavAreaAppend append{uint32_t(note.size()), note.data()};
    auto option = [&](uint32_t opt, void* value) {
        uint32_t err = 0;
        return xtavopts(&h, 1, opt, static_cast<uint32_t*>(value), &err) < 0 ? err : 0u;
    };
    EXPECT_EQ(uint32_t(TAV_EACCES), option(TAV_OPT_AREA1_APPEND, &append));
    PageInfo info = wt::bilevel(16, 2);
    ASSERT_EQ(0u, wt::put_page(h, 1, info, wt::pattern(4, 1)));
    wt::close(h);
    const std::vector<uint8_t> original = read_file(path);

    uint32_t pages = 0;
    h = wt::open_update(path, &pages);
    for (uint32_t opt : {TAV_OPT_AREA1_APPEND, TAV_OPT_AREA2_APPEND})
        EXPECT_EQ(uint32_t(TAV_EACCES), option(opt, &append)) << opt;
    EXPECT_TRUE(read_file(path) == original);
    ASSERT_EQ(0u, wt::put_page(h, 2, info, wt::pattern(4, 2)));
    ASSERT_EQ(0u, option(TAV_OPT_AREA2_APPEND, &append));
    wt::close(h);

    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 8, read_file(path).begin()));
    uint32_t type = 0, err = 0;
    h = xtavopen(nullptr, PathBuf(path), TAV_OPEN_READ, &type, &pages, &err);
    ASSERT_GT(h, 0) << err;
    EXPECT_EQ(std::vector<uint32_t>({type, pages}), std::vector<uint32_t>({FILETYPE_TIFF, 2}));
    PageSizes sizes{};
    ASSERT_EQ(0, xtavgeti(&h, 2, &info, &sizes, &err)) << err;
    std::vector<uint8_t> back(8);
    TavAreaRead read{8, 0, back.data()};
    ASSERT_EQ(0u, option(TAV_OPT_AREA2_READ, &read));
    EXPECT_TRUE(back == note);
    wt::close(h);
}

TEST_F(UpdateTiff, AppendToPlainChainAndAbort) {
    if (oracle_missing("tiffcp")) GTEST_SKIP() << "tiffcp missing";
    std::string made = dir.file("lt.tif"), path = dir.file("chain.tif");
    wt::quiet_libtiff();
    TIFF* t = TIFFOpen(made.c_str(), "w");
    ASSERT_TRUE(t);
    for (uint32_t i = 0; i < 200; ++i) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        std::vector<uint8_t> px = wt::pattern(4, i);
        TIFFWriteEncodedStrip(t, 0, px.data(), 4);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    ASSERT_EQ(0, run_command("tiffcp " + made + " " + path));
    append_and_abort(path, 0);
    // The table now carried by the first appended page is found at the next
    // open; appending again links page 203 behind page 202.
    append(path, 202, 1, false);
    EXPECT_EQ(203u, wt::libtiff_read(path).size());
    EXPECT_EQ(203u, page_count(path));
}
#endif

TEST_F(UpdateTiff, PageIndexFileIsConvertedInPlace) {
    // Two pages 16 x 2 and 24 x 2; page 2 at a base of its own.
    TiffBuilder p1, p2;
    for (TiffBuilder* b : {&p1, &p2}) {
        const uint32_t w = b == &p1 ? 16 : 24;
        uint32_t off = b->add_data(wt::pattern(w / 4, w));
        auto& d = b->add_ifd().shorts(256, {uint16_t(w)}).shorts(257, {2}).longs(273, {off})
            .longs(279, {w / 4}).rationals(282, {{300, 1}});
        if (b == &p1) d.longs(32935, {0});
    }
    std::vector<uint8_t> second = p2.build();
    const PageIndexFile idx = page_index_file(p1.build(), true, {second});
    const uint32_t base = idx.bases[1];
    std::string path = dir.file("idx.tif");
    write_file(path, idx.bytes);
    uint32_t pages = 0, err = 0;
    // An abort gives back the page index file, conversion and all; a close
    // without a page keeps the conversion.
    for (bool abort : {true, false}) {
        int32_t h = wt::open_update(path, &pages);
        ASSERT_EQ(2u, pages);
        PageInfo info = wt::bilevel(24, 3);
        if (abort) {
            ASSERT_EQ(0u, wt::put_page(h, 3, info, wt::pattern(9, 7)));
        }
        EXPECT_EQ(0, abort ? xtavabort(&h, &err) : xtavclose(&h, &err)) << err;
        EXPECT_EQ(abort, read_file(path) == idx.bytes);
    }

    File f(path);
    auto chain = f.ifd_offsets();
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(p1.ifd_offset(0), chain[0]);
    EXPECT_EQ(0u, f.at(chain[0], 32935).tag);
    const wt::Entry tag = f.at(chain[0], 32934);
    EXPECT_EQ(idx.indexAt, tag.value);  // the table fits where the index was
    EXPECT_EQ(6u, tag.count);
    EXPECT_EQ(0, std::memcmp(&f.bytes[idx.indexAt], "TEXO", 4));
    EXPECT_EQ(f.bytes.size(), f.u32(idx.indexAt + 12));
    EXPECT_EQ(chain[1], f.u32(idx.indexAt + 20));
    // Page 2's directory grew by the table tag: written at the end, its
    // offsets made absolute.
    EXPECT_GE(chain[1], idx.bytes.size());
    EXPECT_EQ(base + 8, f.at(chain[1], 273).value);
    EXPECT_EQ(base + p2.value_offset(0, 282), f.at(chain[1], 282).value);
    EXPECT_NE(0u, f.at(chain[1], 32934).tag);
    EXPECT_EQ(2u, page_count(path));
#ifdef QVTAV_HAVE_LIBTIFF
    auto lt = wt::libtiff_read(path);
    ASSERT_EQ(2u, lt.size());
    EXPECT_EQ(24u, lt[1].width);
    EXPECT_EQ(300.0f, lt[1].xres);
    EXPECT_TRUE(wt::pattern(6, 24) == lt[1].strips.at(0));
#endif
    append(path, 2, 1, false);
    EXPECT_EQ(3u, File(path).ifd_offsets().size());
    EXPECT_EQ(3u, page_count(path));
}

// The first bytes of every page, read through the library, are the ones
// expected, in order.
void expect_pages(const std::string& path, const std::vector<std::vector<uint8_t>>& want) {
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    ASSERT_GT(h, 0) << err;
    EXPECT_EQ(want.size(), pages);
    for (uint32_t i = 0; i < pages && i < want.size(); ++i) {
        PageInfo info{};
        PageSizes sizes{};
        ASSERT_EQ(0, xtavgeti(&h, uint16_t(i + 1), &info, &sizes, &err)) << i << " " << err;
        std::vector<uint8_t> got(want[i].size());
        uint32_t remaining = 0;
        EXPECT_EQ(int32_t(got.size()), xtavread(&h, got.data(), 0, uint32_t(got.size()), &remaining, uint16_t(i + 1), &err));
        EXPECT_TRUE(got == want[i]) << "page " << i + 1;
    }
    xtavclose(&h, &err);
}

// A page offset table, wherever a directory of the chain carries a valid
// one, lists the chain's directories.
void expect_table_matches_chain(const File& f) {
    const auto chain = f.ifd_offsets();
    for (uint32_t ifd : chain) {
        const wt::Entry t = f.at(ifd, 32934);
        if (t.tag == 0 || t.count == 0 || f.u32(t.value + 12) != f.bytes.size()) continue;
        ASSERT_EQ(chain.size(), f.u32(t.value + 8));
        for (uint32_t i = 0; i < chain.size(); ++i) EXPECT_EQ(chain[i], f.u32(t.value + 16 + 4 * i)) << i;
    }
}

// Two moves and an appended page in one session, in every order, on a file
// the library wrote (with a page offset table) and on plain chains in both
// byte orders: the pages end up in the order the calls asked for, in the
// chain, in the table when there is one, and for libtiff; an abort instead
// gives the file back exactly.
TEST_F(UpdateTiff, MovesAndAppendsComposeInAnyOrder) {
    enum Step { kMoveThirdFirst, kMoveLastSecond, kAppend };
    const std::vector<std::vector<Step>> orders = {{kMoveThirdFirst, kAppend, kMoveLastSecond},
                                                   {kAppend, kMoveThirdFirst, kMoveLastSecond},
                                                   {kMoveThirdFirst, kMoveLastSecond, kAppend}};
    for (int kind = 0; kind < 3; ++kind) {
        for (const auto& order : orders) {
            SCOPED_TRACE("file kind " + std::to_string(kind) + ", order " + std::to_string(&order - &orders[0]));
            std::string path = dir.file("moves.tif");
            std::remove(path.c_str());
            std::vector<std::vector<uint8_t>> pages;  // contents, in page order
            if (kind == 0) {
                pages = wt::write_pages(path, 3);
            } else {
                auto numbered = edit_test::numbered_pages(3, 1, 4);
                for (const auto& pg : numbered) pages.push_back(pg.strips[0]);
                write_file(path, edit_test::build_tiff(numbered, kind == 2, 0, false));
            }
            // The session, ended by an abort (which gives the file back byte
            // for byte) and then by a close.
            const std::vector<uint8_t> original = read_file(path);
            const std::vector<std::vector<uint8_t>> pagesAtOpen = pages;
            for (bool abort : {true, false}) {
                pages = pagesAtOpen;
                uint32_t count = 0, err = 0;
                int32_t h = wt::open_update(path, &count);
                ASSERT_EQ(3u, count);
                for (Step step : order) {
                    if (step == kAppend) {
                        PageInfo info = wt::bilevel(24, 3);
                        pages.push_back(wt::pattern(9, 50));
                        ASSERT_EQ(0u, wt::put_page(h, uint16_t(pages.size()), info, pages.back()));
                        continue;
                    }
                    TavPageMove move{step == kMoveThirdFirst ? 1u : 2u,
                                     step == kMoveThirdFirst ? 3u : uint32_t(pages.size())};
                    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&move), &err)) << err;
                    auto first = pages.begin() + (move.targetPage - 1), moved = pages.begin() + (move.movedPage - 1);
                    std::rotate(first, moved, moved + 1);
                }
                if (abort) {
                    ASSERT_EQ(0, xtavabort(&h, &err)) << err;
                    EXPECT_TRUE(read_file(path) == original) << "abort did not give the file back";
                } else {
                    ASSERT_EQ(0, xtavclose(&h, &err)) << err;
                }
            }

            expect_pages(path, pages);
            File f(path);
            EXPECT_EQ(pages.size(), f.ifd_offsets().size());
            expect_table_matches_chain(f);
#ifdef QVTAV_HAVE_LIBTIFF
            auto lt = wt::libtiff_read(path);
            ASSERT_EQ(pages.size(), lt.size());
            for (size_t i = 0; i < lt.size(); ++i) EXPECT_TRUE(lt[i].strips.at(0) == pages[i]) << i;
#endif
        }
    }
}

// A first directory with an empty page index (tag 32935, value 0) is a file
// of one page, whatever its next-IFD field holds. Appending turns the index
// tag into the table tag, so the new page is counted; an abort, with or
// without a page appended, gives the file back byte for byte, in both byte
// orders.
TEST_F(UpdateTiff, EmptyPageIndexFileGainsPages) {
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        TiffBuilder b(mm);
        uint32_t s = b.add_data(wt::pattern(4, 1));
        auto& d = b.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s}).longs(279, {4}).longs(32935, {0});
        d.hasNextOverride = true;
        d.nextOverride = 0x07000000;
        const std::vector<uint8_t> original = b.build();
        std::string path = dir.file("empty_index.tif");
        write_file(path, original);
        for (int appended : {0, 1}) {
            append(path, 1, appended, true);
            EXPECT_TRUE(read_file(path) == original) << "abort after " << appended << " pages";
        }
        append(path, 1, 1, false);
        EXPECT_EQ(2u, page_count(path));
        expect_pages(path, {wt::pattern(4, 1), wt::pattern(9, 1000)});
    }
}

// An update open refused with 297: the file stays as it was and reads as
// before.
void expect_update_refused(const std::string& path, uint32_t pages) {
    const auto before = read_file(path);
    ASSERT_EQ(pages, UpdateTiff::page_count(path));
    uint32_t type = 0, count = 0, err = 0;
    PathBuf p(path);
    EXPECT_LT(xtavopen(nullptr, p, TAV_OPEN_UPDATE | TAV_OPEN_READWRITE, &type, &count, &err), 0);
    EXPECT_EQ(uint32_t(TAV_E_DIRECTORY), err);
    EXPECT_TRUE(read_file(path) == before);
    EXPECT_EQ(pages, UpdateTiff::page_count(path));
}

// Damaged files whose update would damage them further: an appended page
// is linked by rewriting the last page's next-IFD field, and in them that
// field lies inside another page's directory, or where the property block's
// length is read; or the first directory names a page index twice, so that
// its conversion would leave readers one index tag to find.
TEST_F(UpdateTiff, DamagedFilesRefuseTheUpdate) {
    // Page 2's directory starts inside page 1's (its entry count is the high
    // half of page 1's last value), so both share one next-IFD field.
    Bytes overlap(66);
    overlap.put(0, 0x4949, 2), overlap.put(2, 42, 2), overlap.put(4, 8, 4), overlap.put(8, 4, 2);
    overlap.entry(10, 256, 3, 1, 16), overlap.entry(22, 257, 3, 1, 2);
    overlap.entry(34, 273, 4, 1, 62), overlap.entry(46, 279, 4, 1, 4);
    overlap.put(58, 56, 4);
    write_file(dir.file("overlap.tif"), overlap.b);
    expect_update_refused(dir.file("overlap.tif"), 2);

    // A property block mark of length 0 (no block), and the only directory at
    // 20 (no entries): its next-IFD field is the block's length.
    Bytes block(40);
    block.put(0, 0x4949, 2), block.put(2, 42, 2), block.put(4, 20, 4);
    std::memcpy(&block.b[8], "TEXO TIFF \x01\x00", 12);
    write_file(dir.file("block.tif"), block.b);
    expect_update_refused(dir.file("block.tif"), 1);

    // Two page index tags in a page index file's first directory.
    TiffBuilder p1, p2;
    uint32_t s1 = p1.add_data(wt::pattern(4, 1)), s2 = p2.add_data(wt::pattern(4, 2));
    p1.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s1}).longs(279, {4}).longs(32935, {0});
    p2.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s2}).longs(279, {4});
    PageIndexFile idx = page_index_file(p1.build(), true, {p2.build()});
    const uint32_t first = p1.ifd_offset(0);
    Bytes twice(idx.bytes.size());
    twice.b = idx.bytes;
    twice.entry(first + 2 + 12 * 3, 32935, 4, 1, idx.indexAt);  // 279 becomes a second index tag
    write_file(dir.file("twice.tif"), twice.b);
    expect_update_refused(dir.file("twice.tif"), 2);
}

// A file the library wrote whose chain is broken behind page 1 (its
// next-IFD field points nowhere) reads through its table. A page moved to
// the front carries the table, and the table written at close goes to the
// chain's first directory, so the pages stay readable after moves, with or
// without an appended page. A damaged directory that names a page index is
// not brought to the front (readers would take the file for a page index
// file): 297, and nothing changes.
// Moves page `from` before page `to` in the model and through the handle.
void move(int32_t h, std::vector<std::vector<uint8_t>>& pages, uint32_t to, uint32_t from) {
    uint32_t err = 0;
    TavPageMove m{to, from};
    ASSERT_EQ(0, xtavopts(&h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&m), &err)) << err;
    std::rotate(pages.begin() + (to - 1), pages.begin() + (from - 1), pages.begin() + from);
}

TEST_F(UpdateTiff, TableKeepsThePagesOfABrokenChainThroughMoves) {
    std::string path = dir.file("broken.tif");
    for (bool appending : {false, true}) {
        auto pages = wt::write_pages(path, 3);
        File f(path);
        Bytes broken;
        broken.b = f.bytes;
        broken.put(f.ifd_offsets()[0] + 2 + 12 * f.u16(f.ifd_offsets()[0]), 0x7FFFFF00, 4);
        write_file(path, broken.b);
        ASSERT_EQ(3u, page_count(path));

        uint32_t count = 0, err = 0;
        int32_t h = wt::open_update(path, &count);
        move(h, pages, 1, 3);
        if (appending) {
            PageInfo info = wt::bilevel(24, 3);
            pages.push_back(wt::pattern(9, 50));
            ASSERT_EQ(0u, wt::put_page(h, 4, info, pages.back()));
        }
        ASSERT_EQ(0, xtavclose(&h, &err)) << err;
        expect_pages(path, pages);
        std::remove(path.c_str());
    }

    // A damaged directory of a file of `pages` pages: moving page `from`
    // before page 1 is refused with TAV_E_DIRECTORY and nothing changes.
    auto refused = [&](uint16_t pages, uint16_t from, auto damage) {
        wt::write_pages(path, pages);
        File f(path);
        Bytes damaged;
        damaged.b = f.bytes;
        damage(f, damaged);
        write_file(path, damaged.b);
        uint32_t count = 0, err = 0;
        int32_t h = wt::open_update(path, &count);
        ASSERT_EQ(pages, count);
        TavPageMove m{1, from};
        EXPECT_EQ(-1, xtavopts(&h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&m), &err));
        EXPECT_EQ(uint32_t(TAV_E_DIRECTORY), err);
        EXPECT_EQ(0, xtavclose(&h, &err)) << err;
        EXPECT_TRUE(read_file(path) == damaged.b);
        std::remove(path.c_str());
    };
    // Page 2's table entry turned into a page index tag.
    refused(2, 2, [](File& f, Bytes& b) { b.put(f.at(f.ifd_offsets()[1], 32934).pos, 32935, 2); });
    // Page 2's entry count claims far more entries than the file holds: its
    // next-IFD field would lie 700 KB beyond the end, and moving page 3 (which
    // rewrites that field) is refused instead of growing the file there.
    refused(3, 3, [](File& f, Bytes& b) { b.put(f.ifd_offsets()[1], 0xF000, 2); });
}

// A page moved to the front takes over the table entry (readers look in the
// first directory first); the old first directory's entry is cleared, so
// that exactly one directory of the chain names the table.
TEST_F(UpdateTiff, OneDirectoryNamesTheTableAfterAMoveToTheFront) {
    std::string path = dir.file("front.tif");
    auto pages = wt::write_pages(path, 4);
    uint32_t count = 0, err = 0;
    int32_t h = wt::open_update(path, &count);
    move(h, pages, 1, 3);
    ASSERT_EQ(0, xtavclose(&h, &err)) << err;

    File f(path);
    const auto chain = f.ifd_offsets();
    ASSERT_EQ(4u, chain.size());
    int naming = 0;
    for (uint32_t ifd : chain) naming += f.at(ifd, 32934).value != 0;
    EXPECT_EQ(1, naming);
    const wt::Entry carried = f.at(chain[0], 32934);
    EXPECT_EQ(8u, carried.count);
    EXPECT_EQ(0, std::memcmp(&f.bytes[carried.value], "TEXO", 4));
    const wt::Entry cleared = f.at(chain[1], 32934);
    EXPECT_EQ(32934u, cleared.tag);
    EXPECT_EQ(0u, cleared.value);
    expect_table_matches_chain(f);
    expect_pages(path, pages);
#ifdef QVTAV_HAVE_LIBTIFF
    EXPECT_EQ(4u, wt::libtiff_read(path).size());
#endif
}

// A file whose chain holds 2 directories while its table lists 6 (page 2's
// directory is damaged: its table entry gone, its next-IFD field pointing
// nowhere; pages 3 to 6 are linked to nothing). An appended page and moves
// that bring it and page 2 before page 1 keep every page the table lists:
// the table is named by the directory readers meet first on the chain,
// wherever the moves take the chain.
TEST_F(UpdateTiff, TableKeepsEveryPageThroughMovesAndAnAppend) {
    std::string path = dir.file("two_of_six.tif");
    auto pages = wt::write_pages(path, 6);
    File f(path);
    const auto chain = f.ifd_offsets();
    Bytes damaged(f.bytes.size());
    damaged.b = f.bytes;
    damaged.put(f.at(chain[1], 32934).pos, 0x8000, 2);  // still in tag order
    damaged.put(chain[1] + 2 + 12 * f.u16(chain[1]), 0x12000006, 4);
    for (int i = 2; i < 5; ++i) damaged.put(chain[i] + 2 + 12 * f.u16(chain[i]), 0, 4);
    write_file(path, damaged.b);
#ifdef QVTAV_HAVE_LIBTIFF
    ASSERT_EQ(2u, wt::libtiff_read(path).size());
#endif
    ASSERT_EQ(6u, page_count(path));

    uint32_t count = 0, err = 0;
    int32_t h = wt::open_update(path, &count);
    PageInfo info = wt::bilevel(24, 3);
    pages.push_back(wt::pattern(9, 70));
    ASSERT_EQ(0u, wt::put_page(h, 7, info, pages.back()));
    move(h, pages, 1, 2);
    move(h, pages, 3, 7);
    move(h, pages, 2, 3);
    ASSERT_EQ(0, xtavclose(&h, &err)) << err;
    const std::vector<std::vector<uint8_t>> order = {wt::pattern(4, 2), wt::pattern(9, 70), wt::pattern(4, 1),
                                                     wt::pattern(4, 3), wt::pattern(4, 4), wt::pattern(4, 5),
                                                     wt::pattern(4, 6)};
    EXPECT_TRUE(pages == order);
    expect_pages(path, pages);
}

// A page index file of page 1 and `more` index entries that lead to page
// streams at the given bases; the streams' bytes lie in `body`, which
// follows page 1's stream at the offset returned in *bodyAt.
std::vector<uint8_t> index_file(const std::vector<uint32_t>& bases, const std::vector<uint8_t>& body,
                                uint32_t* bodyAt) {
    TiffBuilder first;
    uint32_t s = first.add_data(wt::pattern(4, 1));
    first.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s}).longs(279, {4}).longs(32935, {0});
    std::vector<uint8_t> f = first.build();
    auto put = [&](uint32_t at, uint32_t v) {
        if (f.size() < at + 4) f.resize(at + 4);
        for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
    };
    f.resize((f.size() + 3) & ~size_t(3));
    const uint32_t indexAt = uint32_t(f.size()), pages = uint32_t(bases.size()) + 1, chunkAt = indexAt + 64;
    put(indexAt, 1), put(indexAt + 36, pages), put(indexAt + 40, 1), put(indexAt + 44, 32);
    put(indexAt + 52, chunkAt), put(indexAt + 56, pages);
    put(chunkAt, 0), put(chunkAt + 4, 8);
    for (uint32_t i = 0; i < bases.size(); ++i) put(chunkAt + 8 + 8 * i, bases[i]), put(chunkAt + 12 + 8 * i, 8);
    *bodyAt = uint32_t(f.size());
    f.insert(f.end(), body.begin(), body.end());
    put(first.ifd_offset(0) + 2 + 12 * 4 + 8, indexAt);  // the index tag: page 1's fifth entry
    return f;
}

// Many index entries that lead to one page stream, whose directory holds
// an offset array of 200 strips: the update open rebases the array once
// (it used to write a copy for every entry, growing the file with the
// square of its size), and every page reads its strips.
TEST_F(UpdateTiff, PageIndexEntriesSharingAnArrayRebaseItOnce) {
    constexpr uint32_t kStrips = 200, kSharing = 100;
    TiffBuilder page;
    uint32_t data = page.add_data(wt::pattern(kStrips, 2));
    std::vector<uint32_t> offsets(kStrips), counts(kStrips, 1);
    for (uint32_t k = 0; k < kStrips; ++k) offsets[k] = data + k;
    page.add_ifd().shorts(256, {8}).shorts(257, {uint16_t(kStrips)}).shorts(278, {1}).longs(273, offsets)
        .longs(279, counts);
    uint32_t base = 0;
    const std::vector<uint8_t> stream = page.build();
    std::vector<uint8_t> file = index_file({}, stream, &base);  // learns where the stream lands
    file = index_file(std::vector<uint32_t>(kSharing, base + 8 * kSharing), stream, &base);
    std::string path = dir.file("shared.tif");
    write_file(path, file);

    uint32_t pages = 0, err = 0;
    int32_t h = wt::open_update(path, &pages);
    ASSERT_EQ(kSharing + 1, pages);
    EXPECT_EQ(0, xtavclose(&h, &err)) << err;
    const size_t grown = read_file(path).size() - file.size();
    EXPECT_LT(grown, kSharing * 128 + 4 * kStrips + 4096);  // a directory per page, the array once
    std::vector<std::vector<uint8_t>> want(kSharing + 1, wt::pattern(kStrips, 2));
    want[0] = wt::pattern(4, 1);
    expect_pages(path, want);
}

// Index entries at different bases whose pages' offset arrays overlap in
// the file: rebased copies would claim more bytes than the file holds. The
// update open is refused (297) after part of the conversion has been
// written, and the file is given back byte for byte.
TEST_F(UpdateTiff, PageIndexArraysOverlappingUnderDifferentBasesAreRefused) {
    constexpr uint32_t kStrips = 200, kPages = 40;
    // At body offset 0: kPages TIFF headers 8 bytes apart, all naming one
    // directory (offsets relative to each header); behind them the
    // directory and a region the headers' offset arrays fall into.
    uint32_t bodyAt = 0;
    std::vector<uint8_t> probe = index_file(std::vector<uint32_t>(kPages, 0), {}, &bodyAt);
    const uint32_t dirAt = 8 * kPages, arraysAt = dirAt + 2 + 12 * 5 + 4;
    std::vector<uint8_t> body(arraysAt + 4 * kStrips + 8 * kPages, 0x01);
    auto put = [&](uint32_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) body[at + i] = uint8_t(v >> (8 * i));
    };
    std::vector<uint32_t> bases;
    for (uint32_t i = 0; i < kPages; ++i) {
        put(8 * i, 0x002A4949, 4), put(8 * i + 4, dirAt - 8 * i, 4);
        bases.push_back(bodyAt + 8 * i);
    }
    put(dirAt, 5, 2);
    const uint32_t entries[5][4] = {{256, 3, 1, 8}, {257, 3, 1, kStrips}, {273, 4, kStrips, arraysAt},
                                    {278, 3, 1, 1}, {279, 4, 1, 1}};
    for (uint32_t k = 0; k < 5; ++k)
        for (int j = 0; j < 4; ++j) put(dirAt + 2 + 12 * k + (j < 2 ? 2 * j : 4 * j - 4), entries[k][j], j < 2 ? 2 : 4);
    put(dirAt + 2 + 60, 0, 4);
    std::vector<uint8_t> file = index_file(bases, body, &bodyAt);
    std::string path = dir.file("overlap_index.tif");
    write_file(path, file);
    ASSERT_EQ(kPages + 1, page_count(path));

    uint32_t type = 0, pages = 0, err = 0;
    PathBuf p(path);
    EXPECT_LT(xtavopen(nullptr, p, TAV_OPEN_UPDATE | TAV_OPEN_READWRITE, &type, &pages, &err), 0);
    EXPECT_EQ(uint32_t(TAV_E_DIRECTORY), err);
    EXPECT_TRUE(read_file(path) == file);
    EXPECT_EQ(kPages + 1, page_count(path));
}

}  // namespace
