// Page deletion and property update of TIFF files (xtavdelpgs, xtavputprops):
// the layout of the copy, the in-place update, and the refusals.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "edit_tiff_util.h"
#include "qvtav.h"
#include "test_util.h"

using namespace edit_test;

namespace {

size_t files_in(const TempDir& d) {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(d.path())) (void)e, ++n;
    return n;
}

int delete_pages(const std::string& path, int first, uint32_t last) {
    uint32_t err = 99;
    errno = 0;
    int r = xtavdelpgs(nullptr, PathBuf(path), first, last, &err);
    EXPECT_EQ(err, 0u);  // the frame never reports a code in the cell
    return r;
}

int put_props(const std::string& path, const char* title, uint32_t reserve = 0) {
    PageInfo info{};
    info.propertiesLength = reserve;
    info.title = const_cast<char*>(title);
    info.author = const_cast<char*>("A");
    info.subject = const_cast<char*>("");
    info.keywords = const_cast<char*>("");
    info.comments = const_cast<char*>("");
    uint32_t err = 99;
    errno = 0;
    int r = xtavputprops(nullptr, PathBuf(path), &info, &err);
    EXPECT_EQ(err, 0u);
    return r;
}

// Offsets of the page offset table: T, and the page count it lists.
void expect_table(const Reader& r, const std::vector<Dir>& chain) {
    const Entry* t = chain[0].find(32934);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->count, chain.size() + 4);
    uint32_t at = t->value;
    EXPECT_EQ(at % 4, 0u);
    EXPECT_EQ(r.u32(at), 0x4F584554u);
    EXPECT_EQ(r.u32(at + 4), 1u);
    EXPECT_EQ(r.u32(at + 8), chain.size());
    EXPECT_EQ(r.u32(at + 12), r.bytes.size());
    EXPECT_EQ(r.u32(at + 16), r.u32(4));
    for (size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(r.u32(at + 16 + 4 * uint32_t(i)), chain[i].offset);
}

}  // namespace

TEST(EditDelete, MiddlePageLeavesFirstAndLastLinkedWithTable) {
    for (bool mm : {false, true}) {
        for (bool table : {false, true}) {
            SCOPED_TRACE(std::string(mm ? "MM" : "II") + (table ? " table" : " chain"));
            TempDir d;
            std::string path = d.file("doc.tif");
            auto pages = numbered_pages(3, 3, 40);
            write_file(path, build_tiff(pages, mm, 0, table));
            Reader before(read_file(path));
            auto old = before.chain();

            ASSERT_EQ(delete_pages(path, 2, 2), 0) << errno;
            Reader r(read_file(path));
            EXPECT_EQ(r.mm, mm);
            auto c = r.chain();
            ASSERT_EQ(c.size(), 2u);
            EXPECT_EQ(r.ascii(*c[0].find(305)), "page 1");
            EXPECT_EQ(r.ascii(*c[1].find(305)), "page 3");
            EXPECT_EQ(r.strips(c[0]), before.strips(old[0]));
            EXPECT_EQ(r.strips(c[1]), before.strips(old[2]));
            EXPECT_EQ(c[0].next, c[1].offset);
            EXPECT_EQ(c[1].next, 0u);
            expect_table(r, c);
            EXPECT_EQ(c[1].find(32934), nullptr);
            EXPECT_EQ(files_in(d), 1u);  // no work file left
        }
    }
}

TEST(EditDelete, LastOfTwoLeavesOnePageWithoutTable) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(2, 1, 30), false, 0, true));
    ASSERT_EQ(delete_pages(path, 2, 2), 0) << errno;
    Reader r(read_file(path));
    auto c = r.chain();
    ASSERT_EQ(c.size(), 1u);
    const Entry* t = c[0].find(32934);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->count, 0u);
    EXPECT_EQ(t->value, 0u);
    // Nothing follows the single page's strip: no table was written.
    auto offs = r.array(*c[0].find(273));
    EXPECT_EQ(offs[0] + 30, r.bytes.size());
}

TEST(EditDelete, FirstPagesOfChainGainTableEntryInNewFirstDirectory) {
    TempDir d;
    std::string path = d.file("doc.tif");
    auto pages = numbered_pages(5, 2, 24);
    write_file(path, build_tiff(pages, true, 0, false));
    Reader before(read_file(path));
    auto old = before.chain();
    ASSERT_EQ(delete_pages(path, 1, 2), 0) << errno;
    Reader r(read_file(path));
    auto c = r.chain();
    ASSERT_EQ(c.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.strips(c[i]), before.strips(old[i + 2]));
    expect_table(r, c);
    // The new entry keeps the directory in tag order.
    for (size_t j = 1; j < c[0].entries.size(); ++j)
        EXPECT_LT(c[0].entries[j - 1].tag, c[0].entries[j].tag);
}

TEST(EditDelete, WholeDocumentIsDeleted) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(3, 1, 16), false, 0, true));
    ASSERT_EQ(delete_pages(path, 1, 3), 0) << errno;
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(files_in(d), 0u);
}

TEST(EditDelete, InvalidRangesAreRefusedAndChangeNothing) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(3, 1, 16), false, 0, true));
    auto original = read_file(path);
    struct { int first; uint32_t last; } cases[] = {{0, 1}, {1, 4}, {3, 2}, {-1, 2}};
    for (auto c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        EXPECT_EQ(delete_pages(path, c.first, c.last), -1);
        EXPECT_EQ(errno, TAV_E_PAGE);
        EXPECT_EQ(read_file(path), original);
        EXPECT_EQ(files_in(d), 1u);
    }
}

TEST(EditDelete, RawFilesAreRefused) {
    TempDir d;
    std::string path = d.file("raw.bin");
    write_file(path, std::string("no image format here"));
    EXPECT_EQ(delete_pages(path, 1, 1), -1);
    EXPECT_EQ(errno, TAV_E_UNSUPPORTED);
    EXPECT_EQ(put_props(path, "x"), -1);
    EXPECT_EQ(errno, TAV_E_UNSUPPORTED);
    EXPECT_EQ(read_file(path), std::vector<uint8_t>(std::begin("no image format here"),
                                                    std::end("no image format here") - 1));
    EXPECT_EQ(files_in(d), 1u);
}

TEST(EditProps, FittingTextsAreWrittenInPlace) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(2, 2, 32), false, 200, true, "an old title"));
    auto before = read_file(path);
    ASSERT_EQ(put_props(path, "New"), 0) << errno;
    auto after = read_file(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 24, after.begin()));
    EXPECT_TRUE(std::equal(before.begin() + 224, before.end(), after.begin() + 224));
    const char expect[] = "Title:New\0Author:A\0Subject:\0Keywords:\0Comments:\0";
    EXPECT_EQ(0, std::memcmp(after.data() + 24, expect, sizeof expect));
    for (size_t i = 24 + sizeof expect; i < 224; ++i) ASSERT_EQ(after[i], 0) << i;
}

TEST(EditProps, LongerTextsRewriteWithNewReserve) {
    TempDir d;
    std::string path = d.file("doc.tif");
    auto pages = numbered_pages(3, 2, 32);
    write_file(path, build_tiff(pages, true, 52, true));
    Reader before(read_file(path));
    auto old = before.chain();
    std::string title(100, 't');
    ASSERT_EQ(put_props(path, title.c_str()), 0) << errno;
    Reader r(read_file(path));
    // S = 100 + 1 + 5 = 106, R = 132, R' = ((132 + 40 + 19) & ~3) - 16 = 172.
    const int expected = 172;
    EXPECT_EQ(r.bytes[20] | r.bytes[21] << 8 | r.bytes[22] << 16 | r.bytes[23] << 24, expected);
    EXPECT_EQ(0, std::memcmp(r.bytes.data() + 8, "TEXO TIFF \x01\x00", 12));
    EXPECT_EQ(r.u32(4), 24u + expected);
    EXPECT_EQ(0, std::memcmp(r.bytes.data() + 24, ("Title:" + title).c_str(), title.size() + 7));
    auto c = r.chain();
    ASSERT_EQ(c.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.strips(c[i]), before.strips(old[i]));
    expect_table(r, c);
}

TEST(EditProps, FileWithoutBlockGainsOneAndEveryOffsetMoves) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(3, 3, 20), false, 0, true));
    Reader before(read_file(path));
    auto old = before.chain();
    ASSERT_EQ(put_props(path, "Title text", 300), 0) << errno;
    Reader r(read_file(path));
    uint32_t block = ((300 + 40 + 19) & ~3u) - 16;
    uint32_t shift = 16 + block;
    EXPECT_EQ(r.bytes.size(), before.bytes.size() + shift);
    auto c = r.chain();
    ASSERT_EQ(c.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(c[i].offset, old[i].offset + shift);
        ASSERT_EQ(c[i].entries.size(), old[i].entries.size());
        for (size_t j = 0; j < c[i].entries.size(); ++j) {
            const Entry& a = old[i].entries[j];
            const Entry& b = c[i].entries[j];
            EXPECT_EQ(a.tag, b.tag);
            EXPECT_EQ(a.count, b.count);
            bool isOffset = a.tag == 282 || a.tag == 305 || a.tag == 273 || a.tag == 279 ||
                            (a.tag == 32934 && a.value);
            EXPECT_EQ(b.value, isOffset ? a.value + shift : a.value) << a.tag;
        }
        EXPECT_EQ(r.strips(c[i]), before.strips(old[i]));
    }
    // Everything behind the block is the old file moved by the shift, except
    // offsets and the table's length stamp.
    EXPECT_EQ(r.u32(c[0].find(32934)->value + 12), r.bytes.size());
}
