// Writing AWD files through the public interface: pages in, pages out with
// the same bits, the tree and records they leave, the refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "awd_test_util.h"
#include "fileio/mem.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

using AwdWriteTest = AwdFileTest;

// The first rows of `got` are the page's, the rest white.
void expect_page(const BitPage& got, const BitPage& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_GE(got.height, want.height);
    for (uint32_t r = 0; r < got.height; ++r) {
        std::vector<uint8_t> row(got.row(r), got.row(r) + got.row_bytes());
        std::vector<uint8_t> expected(got.row_bytes(), 0);
        if (r < want.height) expected.assign(want.row(r), want.row(r) + want.row_bytes());
        ASSERT_EQ(row, expected) << "row " << r;
    }
}

TEST_F(AwdWriteTest, TwentyPagesWrittenPageByPageReadBackBandByBand) {
    std::string path = dir.file("fax.awd");
    std::vector<BitPage> pages;
    for (uint32_t i = 0; i < 20; ++i) pages.push_back(pattern_page(1728, 100 + 37 * i, i));
    ASSERT_EQ(write_awd(path, pages), 0u);

    AwdHandle f;
    ASSERT_EQ(f.open(path), 0u);
    EXPECT_EQ(f.type, FILETYPE_AWD);
    ASSERT_EQ(f.pages, 20u);
    for (uint16_t p = 1; p <= 20; ++p) {
        const BitPage& want = pages[p - 1];
        ASSERT_EQ(f.info(p, 8192), 0u) << "page " << p;
        // Bands of whole rows: 8192 / 216 = 37 rows.
        EXPECT_EQ(TAV_AWD_LOW(f.pi.maxStripSize), 37u * 216);
        EXPECT_EQ(f.pi.imageWidth, 1728u);
        EXPECT_EQ(f.pi.imageLength, (want.height + 36) / 37 * 37);
        EXPECT_EQ(f.ps.dataBytes, 216u * f.pi.imageLength);
        EXPECT_EQ(f.pi.xResNum, 200u);
        EXPECT_EQ(f.pi.compression, uint32_t(TAV_COMP_NONE));
        EXPECT_EQ(f.pi.photometric, uint32_t(TAV_PHOTO_BILEVEL_WHITE));
        BitPage got;
        uint32_t bands = 0;
        ASSERT_EQ(f.read_bands(p, &got, &bands), 0u);
        EXPECT_EQ(bands, f.pi.imageLength / 37);
        expect_page(got, want);
    }
}

TEST_F(AwdWriteTest, RowsAreWholeAndPaddedAndNarrowPagesAreRefused) {
    std::string path = dir.file("w.awd");
    AwdHandle f;
    ASSERT_EQ(f.create(path), 0u);
    // Widths that are not a multiple of 8 keep their last byte, padded.
    const BitPage odd = pattern_page(1727, 30, 1), eight = pattern_page(8, 5, 2);
    ASSERT_EQ(f.write_page(1, odd), 0u);
    ASSERT_EQ(f.write_page(2, eight), 0u);
    // A write takes whole rows only: 216 x 10 + 100 bytes takes 2160.
    ASSERT_EQ(f.put(3, awd_new_page(1728)), 0u);
    const BitPage wide = pattern_page(1728, 11, 3);
    uint32_t err = 0;
    EXPECT_EQ(xtavwrite(&f.h, const_cast<uint8_t*>(wide.bits.data()), 216 * 10 + 100, 3, 0, &err), 2160);
    EXPECT_EQ(xtavwrite(&f.h, const_cast<uint8_t*>(wide.row(10)), 216, 3, 0, &err), 216);
    EXPECT_EQ(xtavwrite(&f.h, const_cast<uint8_t*>(wide.bits.data()), 100, 3, 0, &err), 0);  // ends the page
    EXPECT_EQ(err, 0u);
    // A page may not end without rows; it stays open for them.
    ASSERT_EQ(f.put(4, awd_new_page(64)), 0u);
    uint8_t none = 0;
    EXPECT_EQ(xtavwrite(&f.h, &none, 0, 4, 0, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_AWD_HEIGHT));
    ASSERT_EQ(f.write_rows(4, pattern_page(64, 3, 4)), 0u);
    // Narrower than 8 pixels: refused.
    ASSERT_EQ(f.put(5, awd_new_page(7)), 0u);
    EXPECT_EQ(f.write_rows(5, pattern_page(7, 3, 5)), uint32_t(TAV_E_SIZE));
    EXPECT_EQ(f.close(), 0u);
    EXPECT_EQ(read_awd(path), (std::vector<BitPage>{odd, eight, wide, pattern_page(64, 3, 4)}));
}

TEST_F(AwdWriteTest, PageInformationOfAnExistingPageIsStoredAtOnce) {
    std::string path = dir.file("p.awd");
    ASSERT_EQ(write_awd(path, {pattern_page(64, 8, 0), pattern_page(64, 8, 1)}), 0u);
    const std::string names = engine_listing(path);
    AwdHandle f;
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    // The page after the last one: nothing is written until its data ends.
    EXPECT_EQ(f.put(3, awd_new_page(64)), 0u);
    f.close();
    EXPECT_EQ(engine_listing(path), names);
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    PageInfo i = awd_new_page(64);
    i.maxStripSize = TAV_AWD_PAIR(0, 90);
    i.stripCount = TAV_AWD_PAIR(150, 60);
    i.rowsPerStrip = 0x5;
    EXPECT_EQ(f.put(1, i), 0u);
    i.maxStripSize = TAV_AWD_PAIR(0, 180);
    EXPECT_EQ(f.put(2, i), 0u);
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(TAV_AWD_HIGH(f.pi.maxStripSize), 90u);
    EXPECT_EQ(f.pi.stripCount, TAV_AWD_PAIR(150, 60));
    EXPECT_EQ(f.pi.rowsPerStrip, 0x5u | TAV_AWD_FLAG_VIEWED);
    ASSERT_EQ(f.info(2), 0u);
    EXPECT_EQ(TAV_AWD_HIGH(f.pi.maxStripSize), 180u);
    // Rotate-all turns every document and counts every page viewed.
    i.rowsPerStrip = TAV_AWD_FLAG_ROTATE_ALL;
    i.maxStripSize = TAV_AWD_PAIR(0, 90);
    EXPECT_EQ(f.put(1, i), 0u);
    f.close();
    EXPECT_TRUE(awd_element_exists(path, {"Persistent Information", "BeenViewed"}));
    ASSERT_EQ(f.open(path), 0u);
    for (uint16_t p = 1; p <= 2; ++p) {
        ASSERT_EQ(f.info(p), 0u);
        // The document turned by 90 adds to the page's own turn.
        EXPECT_EQ(TAV_AWD_HIGH(f.pi.maxStripSize), p == 1 ? 180u : 270u) << p;
    }
}

TEST_F(AwdWriteTest, ReplacingAPageCutsItsDocumentAroundTheNewOne) {
    std::string path = dir.file("r.awd");
    ASSERT_EQ(make_awd_documents(path, {{pattern_page(64, 8, 0), pattern_page(64, 8, 1), pattern_page(64, 8, 2)},
                                        {pattern_page(64, 8, 3)}}),
              0u);
    AwdHandle f;
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    // A page held for reading does not stand in the writer's way.
    ASSERT_EQ(f.info(2, 0), 0u);
    ASSERT_EQ(f.write_page(2, pattern_page(64, 8, 9)), 0u);
    EXPECT_EQ(f.pages, 4u);
    f.close();
    EXPECT_EQ(read_awd(path), (std::vector<BitPage>{pattern_page(64, 8, 0), pattern_page(64, 8, 9),
                                                    pattern_page(64, 8, 2), pattern_page(64, 8, 3)}));
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[3], "DOC1");
    // Nor does it stand in the way of a move.
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    ASSERT_EQ(f.info(4, 0), 0u);
    TavPageMove m{1, 4};
    EXPECT_EQ(f.option(TAV_OPT_MOVE_PAGE, &m), 0u);
    f.close();
    EXPECT_EQ(display_order(path)[0], "DOC1");
    EXPECT_EQ(document_streams(path).size(), 4u);
}

TEST_F(AwdWriteTest, EncoderFailuresLeaveTheFileAsItWas) {
    std::string path = dir.file("e.awd");
    ASSERT_EQ(write_awd(path, {pattern_page(64, 8, 0)}), 0u);
    const std::vector<BitPage> before = read_awd(path);
    const BitPage next = pattern_page(64, 200, 1);
    for (auto [entry, after] : {std::pair<const char*, uint32_t>{"ImageCreate", 0}, {"ImageSetBand", 1},
                                {"ImageSetBand", 4}, {"ImageClose", 0}}) {
        SCOPED_TRACE(std::string(entry) + " after " + std::to_string(after));
        AwdHandle f;
        ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        encoder_fault(entry, after);
        EXPECT_EQ(f.write_page(1, next), uint32_t(TAV_E_AWD_ENCODER));
        encoder_fault("", 0);
        EXPECT_EQ(f.close(), 0u);
        EXPECT_EQ(read_awd(path), before);
        EXPECT_EQ(display_order(path).size(), 1u);
    }
    // The page can be written again after the refusal.
    AwdHandle f;
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    encoder_fault("ImageSetBand", 0);
    ASSERT_EQ(f.put(2, awd_new_page(64)), 0u);
    EXPECT_EQ(f.write_rows(2, next), uint32_t(TAV_E_AWD_ENCODER));
    EXPECT_EQ(f.write_rows(2, next), 0u);
    // Abort gives up a page under way and keeps the pages stored before.
    ASSERT_EQ(f.put(3, awd_new_page(64)), 0u);
    uint32_t err = 0;
    EXPECT_EQ(xtavwrite(&f.h, const_cast<uint8_t*>(next.bits.data()), 64, 3, 0, &err), 64);
    EXPECT_EQ(f.abort(), 0u);
    EXPECT_EQ(read_awd(path), (std::vector<BitPage>{before[0], next}));
}

TEST_F(AwdWriteTest, CreateRefusesWhatExists) {
    std::string path = dir.file("c.awd");
    write_file(path, "not a compound file");
    AwdHandle f;
    EXPECT_EQ(f.create(path), uint32_t(TAV_EEXIST));
    EXPECT_EQ(read_file(path).size(), 19u);
    ASSERT_EQ(write_awd(path = dir.file("d.awd"), {}), 0u);
    EXPECT_EQ(f.create(path), uint32_t(TAV_EEXIST));
    // A storage reference: refused, and the caller's storage stays alive.
    StgRef<StgStorage> root;
    ASSERT_EQ(open_root(path, kStgModeWrite, root), 0u);
    char ref[80];
    std::snprintf(ref, sizeof ref, "texo:\\inboxawd\\fakefile\\%lx", static_cast<unsigned long>(uintptr_t(root.get())));
    EXPECT_EQ(f.create(ref), uint32_t(TAV_EEXIST));
    EXPECT_EQ(stg_live_storage(uintptr_t(root.get())), root.get());
    root.reset();
    // The encoder cannot make the file: 403, nothing left behind.
    encoder_fault("AWDCreate", 0);
    EXPECT_EQ(f.create(path = dir.file("e.awd")), uint32_t(TAV_E_AWD_CREATE));
    encoder_fault("", 0);
    EXPECT_FALSE(file_exists(path));
}

// Files the library writes, as an independent reader sees them.
TEST_F(AwdWriteTest, OlefileReadsTheTree) {
    std::string path = dir.file("o.awd");
    ASSERT_EQ(write_awd(path, {pattern_page(64, 8, 0), pattern_page(64, 8, 1)}), 0u);
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 2u);
    std::string listing = olefile_listing(path, true);
    EXPECT_EQ(listing.find("FAULT"), std::string::npos) << listing;
    auto has = [&](const std::string& line) { return listing.find(line) != std::string::npos; };
    for (const char* storage : {"/Documents storage", "/Persistent Information storage",
                                "/Persistent Information/Global Information storage",
                                "/Persistent Information/Document Information storage",
                                "/Persistent Information/Page Information storage"})
        EXPECT_TRUE(has(storage)) << storage;
    EXPECT_TRUE(has("/\\x05SummaryInformation stream 56 "));
    EXPECT_TRUE(has("/Persistent Information/Global Information/Display Order stream " +
                    std::to_string(order[0].size() + order[1].size() + 2) + " "));
    for (const std::string& name : order) {
        EXPECT_TRUE(has("/Documents/" + name + " stream ")) << name;
        EXPECT_TRUE(has("/Persistent Information/Document Information/" + name + " stream 26 ")) << name;
        EXPECT_TRUE(has("/Persistent Information/Page Information/" + name + "/Page0 stream 22 ")) << name;
        EXPECT_TRUE(has("/Persistent Information/PagesStatus/" + name + "/Page0 stream 0 ")) << name;
    }
}

// A temporary image path longer than the handle keeps (255 bytes) is
// refused, never cut: the page is not written.
TEST_F(AwdWriteTest, OverlongTemporaryNamesAreRefused) {
    std::string path = dir.file("l.awd");
    ASSERT_EQ(write_awd(path, {pattern_page(64, 8, 0)}), 0u);
    // The directory with its final '/' and the shortest name, "WWWn.TMP"
    // (the number is hex without leading zeros), make 256 bytes.
    std::string deep = tmp.path();
    while (deep.size() < 247) deep += "/" + std::string(std::min<size_t>(60, 246 - deep.size()), 'd');
    ASSERT_EQ(deep.size(), 247u);
    std::filesystem::create_directories(deep);
    setenv("TMPDIR", deep.c_str(), 1);
    AwdHandle f;
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    EXPECT_EQ(f.write_page(2, pattern_page(64, 8, 1)), uint32_t(TAV_EINVAL));
    f.close();
    setenv("TMPDIR", tmp.path().c_str(), 1);
    std::filesystem::remove_all(tmp.path() + "/" + deep.substr(tmp.path().size() + 1, 60));
    EXPECT_EQ(read_awd(path).size(), 1u);
}

}  // namespace
