// Page deletion, property update and page move of TIFF files (xtavdelpgs,
// xtavputprops, option 22): the layout of the result and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "edit_tiff_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

using namespace edit_test;

namespace {

uint32_t page_count(const std::string& path) {
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, PathBuf(path), TAV_OPEN_READ, &type, &pages, &err);
    if (h < 0) return 0;
    xtavclose(&h, &err);
    return pages;
}

int delete_pages(const std::string& path, int first, uint32_t last) {
    uint32_t err = 99;
    errno = 0;
    int r = xtavdelpgs(nullptr, PathBuf(path), first, last, &err);
    EXPECT_EQ(err, 0u);  // failures are reported in errno, never in the cell
    return r;
}

int put_props(const std::string& path, const char* title, uint32_t reserve = 0) {
    PageInfo info{};
    info.propertiesLength = reserve;
    info.title = const_cast<char*>(title);
    info.author = const_cast<char*>("A");
    info.subject = info.keywords = info.comments = const_cast<char*>("");
    uint32_t err = 99;
    errno = 0;
    int r = xtavputprops(nullptr, PathBuf(path), &info, &err);
    EXPECT_EQ(err, 0u);
    return r;
}

// The page offset table lists the chain's directories and ends the file.
// After a move its entry stays in the directory that held it.
void expect_table(const Reader& r, const std::vector<Dir>& chain, bool moved = false) {
    const Entry* t = chain[0].find(32934);
    for (size_t i = 1; moved && !t && i < chain.size(); ++i) t = chain[i].find(32934);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->count, chain.size() + 4);
    uint32_t at = t->value;
    EXPECT_EQ(at % 4, 0u);
    EXPECT_EQ(r.u32(at), 0x4F584554u);
    EXPECT_EQ(r.u32(at + 4), 1u);
    EXPECT_EQ(r.u32(at + 8), chain.size());
    EXPECT_EQ(r.u32(at + 12), r.bytes.size());
    for (size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(r.u32(at + 16 + 4 * uint32_t(i)), chain[i].offset) << i;
}

std::vector<std::string> page_names(const Reader& r) {
    std::vector<std::string> v;
    for (const Dir& d : r.chain()) v.push_back(r.ascii(*d.find(305)));
    return v;
}

}  // namespace

// Kept pages in order with their strips, linked, with a table in the first
// directory only (also when the original had none), and no work file left.
TEST(EditDelete, KeptPagesAreLinkedWithTable) {
    struct Case { int pages; bool mm, table; int first, last; std::vector<std::string> kept; } cases[] = {
        {3, false, false, 2, 2, {"page 1", "page 3"}}, {3, false, true, 2, 2, {"page 1", "page 3"}},
        {3, true, false, 2, 2, {"page 1", "page 3"}},  {3, true, true, 2, 2, {"page 1", "page 3"}},
        {5, true, false, 1, 2, {"page 3", "page 4", "page 5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pages << (c.mm ? " MM" : " II") << (c.table ? " table" : "") << " -" << c.first);
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, build_tiff(numbered_pages(c.pages, 3, 40), c.mm, 0, c.table));
        Reader before(read_file(path));
        auto old = before.chain();
        ASSERT_EQ(delete_pages(path, c.first, uint32_t(c.last)), 0) << errno;
        Reader r(read_file(path));
        EXPECT_EQ(r.mm, c.mm);
        auto ch = r.chain();
        ASSERT_EQ(page_names(r), c.kept);
        for (size_t i = 0; i < ch.size(); ++i) {
            int from = std::stoi(c.kept[i].substr(5)) - 1;
            EXPECT_EQ(r.strips(ch[i]), before.strips(old[from])) << i;
            if (i) { EXPECT_EQ(ch[i].find(32934), nullptr); }
        }
        expect_table(r, ch);
        for (size_t j = 1; j < ch[0].entries.size(); ++j) EXPECT_LT(ch[0].entries[j - 1].tag, ch[0].entries[j].tag);
        EXPECT_EQ(dir_entries(d.path()), 1u);
    }
}

// Down to one page: no table, the entry kept with count 0; no page left:
// no file.
TEST(EditDelete, LastOfTwoAndWholeDocument) {
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
    EXPECT_EQ(r.array(*c[0].find(273))[0] + 30, r.bytes.size());  // nothing after the strip
    ASSERT_EQ(delete_pages(path, 1, 1), 0) << errno;
    EXPECT_EQ(dir_entries(d.path()), 0u);
}

TEST(EditDelete, BadRangesAndRawFilesAreRefusedAndChangeNothing) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(3, 1, 16), false, 0, true));
    auto original = read_file(path);
    struct { int first; uint32_t last; } cases[] = {{0, 1}, {1, 4}, {3, 2}, {-1, 2}};
    for (auto c : cases) {
        EXPECT_EQ(delete_pages(path, c.first, c.last), -1) << c.first << ".." << c.last;
        EXPECT_EQ(errno, TAV_E_PAGE);
    }
    EXPECT_EQ(read_file(path), original);
    std::string raw = d.file("raw.bin");
    write_file(raw, std::string("no image format here"));
    EXPECT_EQ(delete_pages(raw, 1, 1), -1);
    EXPECT_EQ(errno, TAV_E_UNSUPPORTED);
    EXPECT_EQ(put_props(raw, "x"), -1);
    EXPECT_EQ(errno, TAV_E_UNSUPPORTED);
    EXPECT_EQ(dir_entries(d.path()), 2u);
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
    write_file(path, build_tiff(numbered_pages(3, 2, 32), true, 52, true));
    Reader before(read_file(path));
    auto old = before.chain();
    std::string title(100, 't');
    ASSERT_EQ(put_props(path, title.c_str()), 0) << errno;
    Reader r(read_file(path));
    // S = 100 + 1 + 5 = 106, R = 132, R' = ((132 + 40 + 19) & ~3) - 16 = 172.
    EXPECT_EQ(r.bytes[20] | r.bytes[21] << 8 | r.bytes[22] << 16 | r.bytes[23] << 24, 172);
    EXPECT_EQ(0, std::memcmp(r.bytes.data() + 8, "TEXO TIFF \x01\x00", 12));
    EXPECT_EQ(r.u32(4), 24u + 172);
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
    const uint32_t shift = 16 + ((300 + 40 + 19) & ~3u) - 16;
    EXPECT_EQ(r.bytes.size(), before.bytes.size() + shift);
    auto c = r.chain();
    ASSERT_EQ(c.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c[i].offset, old[i].offset + shift);
        ASSERT_EQ(c[i].entries.size(), old[i].entries.size());
        for (size_t j = 0; j < c[i].entries.size(); ++j) {
            const Entry &a = old[i].entries[j], &b = c[i].entries[j];
            EXPECT_EQ(a.tag, b.tag);
            EXPECT_EQ(a.count, b.count);
            bool isOffset = a.tag == 282 || a.tag == 305 || a.tag == 273 || a.tag == 279 || (a.tag == 32934 && a.value);
            EXPECT_EQ(b.value, isOffset ? a.value + shift : a.value) << i << " tag " << a.tag;
        }
        EXPECT_EQ(r.strips(c[i]), before.strips(old[i]));
    }
    expect_table(r, c);
}

// Byte counts that claim up to 2^31 bytes in a file of a few hundred: the
// copy cuts each strip to the end of the file and places only the bytes it
// copies, whether properties are replaced or a page is deleted.
TEST(EditHostile, ClaimedStripBytesAreCutToTheEndOfTheFile) {
    TiffBuilder b;
    uint32_t s1 = b.add_data(std::vector<uint8_t>(16, 0x11)), s2 = b.add_data(std::vector<uint8_t>(16, 0x22));
    uint32_t s3 = b.add_data(std::vector<uint8_t>(16, 0x33)), s4 = b.add_data(std::vector<uint8_t>(16, 0x44));
    b.add_ifd().shorts(256, {16}).shorts(257, {8}).longs(273, {s1}).longs(279, {0x7FFFFFF0});
    b.add_ifd().shorts(256, {16}).shorts(257, {8}).shorts(278, {4}).longs(273, {s2, s3}).longs(279, {16, 1u << 30});
    b.add_ifd().shorts(256, {16}).shorts(257, {8}).longs(273, {s4}).longs(279, {16});
    const std::vector<uint8_t> original = b.build();
    const uint32_t toEnd1 = uint32_t(original.size() - s1), toEnd3 = uint32_t(original.size() - s3);
    for (bool deleting : {false, true}) {
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, original);
        ASSERT_EQ(deleting ? delete_pages(path, 3, 3) : put_props(path, "T"), 0) << errno;
        Reader r(read_file(path));
        EXPECT_LT(r.bytes.size(), 2 * original.size() + 1024) << deleting;
        auto c = r.chain();
        ASSERT_EQ(c.size(), deleting ? 2u : 3u);
        EXPECT_EQ(r.array(*c[0].find(279)), std::vector<uint32_t>{toEnd1});
        EXPECT_EQ(r.strips(c[0]), std::vector<uint8_t>(original.begin() + s1, original.end()));
        EXPECT_EQ(r.array(*c[1].find(279)), (std::vector<uint32_t>{16, toEnd3}));
        std::vector<uint8_t> page2(16, 0x22);
        page2.insert(page2.end(), original.begin() + s3, original.end());
        EXPECT_EQ(r.strips(c[1]), page2);
        EXPECT_EQ(dir_entries(d.path()), 1u);
    }
}

// The old file's page index and page table entries point into the old
// file: a copy keeps none of them, only the new table entry. A first
// directory that names its index twice used to keep the second name, and
// the result of a deletion then failed to open (265).
TEST(EditHostile, OldIndexAndTableEntriesAreNotCopied) {
    std::vector<std::vector<uint8_t>> streams;
    for (uint8_t p = 2; p <= 3; ++p) {
        TiffBuilder b;
        uint32_t s = b.add_data(std::vector<uint8_t>(4, p));
        b.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s}).longs(279, {4}).longs(32934, {8});
        streams.push_back(b.build());
    }
    TiffBuilder first;
    uint32_t s = first.add_data(std::vector<uint8_t>(4, 1));
    first.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s}).longs(279, {4}).longs(32935, {0}).longs(
        32935, {0});
    const PageIndexFile original = page_index_file(first.build(), true, streams);
    for (bool deleting : {false, true}) {
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, original.bytes);
        ASSERT_EQ(page_count(path), 3u);
        ASSERT_EQ(deleting ? delete_pages(path, 2, 2) : put_props(path, std::string(300, 'T').c_str()), 0) << errno;
        ASSERT_EQ(page_count(path), deleting ? 2u : 3u);
        Reader r(read_file(path));
        for (const auto& dir : r.chain()) {
            EXPECT_EQ(dir.find(32935), nullptr);
            EXPECT_LE(std::count_if(dir.entries.begin(), dir.entries.end(), [](const Entry& e) { return e.tag == 32934; }),
                      1);
        }
        EXPECT_EQ(r.strips(r.chain().back()), std::vector<uint8_t>(4, 3));
    }
}

// Pages that share their strips and their strip arrays in the source share
// them in the copy: 60 pages of 16 strips, every one pointing at the same
// 4 KB, stay a small file (a copy per page made a 5 KB file grow to 200 KB),
// and every kept page still reads its bytes.
TEST(EditHostile, SharedStripsAndArraysAreCopiedOnce) {
    TiffBuilder b;
    std::vector<uint8_t> strip(256);
    for (size_t i = 0; i < strip.size(); ++i) strip[i] = uint8_t(i * 7);
    std::vector<uint32_t> offsets;
    for (int k = 0; k < 16; ++k) offsets.push_back(b.add_data(strip));
    const uint32_t offsetArray = b.add_longs(offsets), countArray = b.add_longs(std::vector<uint32_t>(16, 256));
    for (int p = 0; p < 60; ++p)
        b.add_ifd().shorts(256, {64}).shorts(257, {16}).shorts(278, {1}).raw(273, 4, 16, offsetArray).raw(
            279, 4, 16, countArray);
    const std::vector<uint8_t> original = b.build();
    std::vector<uint8_t> page;
    for (int k = 0; k < 16; ++k) page.insert(page.end(), strip.begin(), strip.end());
    for (bool deleting : {false, true}) {
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, original);
        ASSERT_EQ(deleting ? delete_pages(path, 30, 30) : put_props(path, "T"), 0) << errno;
        Reader r(read_file(path));
        EXPECT_LT(r.bytes.size(), original.size() + 60 * 12 * 8 + 1024) << deleting;
        auto c = r.chain();
        ASSERT_EQ(c.size(), deleting ? 59u : 60u);
        for (const Dir& dir : c) ASSERT_EQ(r.strips(dir), page);
    }
}

// Any other value that runs past the end of the file cannot be copied: the
// edit is refused with 292 and the file stays as it was.
TEST(EditHostile, ValueBeyondTheEndRefusesTheCopy) {
    TiffBuilder b;
    uint32_t s = b.add_data(std::vector<uint8_t>(16, 0x11));
    b.add_ifd().shorts(256, {16}).shorts(257, {8}).longs(273, {s}).longs(279, {16}).raw(270, 2, 100000, s);
    b.add_ifd().shorts(256, {16}).shorts(257, {8}).longs(273, {s}).longs(279, {16});
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, b.build());
    const auto before = read_file(path);
    EXPECT_EQ(put_props(path, "T"), -1);
    EXPECT_EQ(errno, TAV_E_OFFSET);
    EXPECT_EQ(delete_pages(path, 2, 2), -1);
    EXPECT_EQ(errno, TAV_E_OFFSET);
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(dir_entries(d.path()), 1u);
}

// A damaged property block that runs over a part of a page: the first
// directory, a later page's directory (the chain visits it second although
// it lies first), or a strip. New texts that would fit the block are not
// written over it (that would wipe the page out); the document is copied
// with a new block instead, every page as it was.
TEST(EditHostile, PropertyBlockOverAPageIsNotOverwritten) {
    enum Over { kFirstDirectory, kLaterDirectory, kStrip };
    for (Over over : {kFirstDirectory, kLaterDirectory, kStrip}) {
        SCOPED_TRACE(int(over));
        TiffBuilder b;
        std::string text = std::string("Title:old") + '\0' + "Author:" + '\0' + "Subject:" + '\0' + "Keywords:" +
                           '\0' + "Comments:" + '\0' + std::string(40, '\0');
        b.add_property_block(text);
        uint32_t s1 = b.add_data(std::vector<uint8_t>(16, 0x11));
        uint32_t s2 = b.add_data(std::vector<uint8_t>(16, 0x22));
        b.add_ifd().shorts(256, {16}).shorts(257, {8}).longs(273, {s1}).longs(279, {16});
        b.add_ifd().shorts(256, {16}).shorts(257, {8}).longs(273, {s2}).longs(279, {16});
        std::vector<uint8_t> file = b.build();
        uint32_t blockEnd = 0;  // where the damaged block claims to end
        if (over == kFirstDirectory) blockEnd = b.ifd_offset(0) + 30;
        if (over == kStrip) blockEnd = s2 + 8;
        if (over == kLaterDirectory) {
            // The chain runs from the second directory back to the first; the
            // block ends between them.
            b.hasFirstIfdOverride = true, b.firstIfdOverride = b.ifd_offset(1);
            b.ifd(1).hasNextOverride = true, b.ifd(1).nextOverride = b.ifd_offset(0);
            b.ifd(0).hasNextOverride = true, b.ifd(0).nextOverride = 0;
            file = b.build();
            blockEnd = b.ifd_offset(0) + 30;
        }
        b.set32(file, 20, blockEnd - 24);
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, file);
        ASSERT_EQ(put_props(path, "T"), 0) << errno;
        Reader r(read_file(path));
        auto c = r.chain();
        ASSERT_EQ(c.size(), 2u);
        std::vector<uint8_t> first(16, 0x11), second(16, 0x22);
        EXPECT_EQ(r.strips(c[0]), over == kLaterDirectory ? second : first);
        EXPECT_EQ(r.strips(c[1]), over == kLaterDirectory ? first : second);
        EXPECT_EQ(0, std::memcmp(r.bytes.data() + 24, "Title:T", 8));
    }
}

namespace {
// Opens for update, moves page `from` before page `to`, closes.
int move_page(const std::string& path, uint32_t to, uint32_t from) {
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, PathBuf(path), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &err);
    EXPECT_GT(h, 0) << err;
    if (h <= 0) return -2;
    uint32_t value[2] = {to, from};
    int r = xtavopts(&h, 1, 22, value, &err);
    EXPECT_EQ(xtavclose(&h, &err), 0) << err;
    return r;
}
}  // namespace

// The chain and the table both follow the new order; refused moves change nothing.
TEST(EditMove, PagesMoveInChainAndTable) {
    for (bool mm : {false, true}) {
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, build_tiff(numbered_pages(5, 2, 32), mm, 0, true));
        ASSERT_EQ(move_page(path, 1, 3), 0) << mm;
        Reader r(read_file(path));
        EXPECT_EQ(page_names(r), (std::vector<std::string>{"page 3", "page 1", "page 2", "page 4", "page 5"}));
        expect_table(r, r.chain(), true);
        for (auto [to, from] : {std::pair{3u, 3u}, {4u, 2u}, {1u, 6u}}) EXPECT_EQ(move_page(path, to, from), -1) << to << from;
        EXPECT_EQ(read_file(path), r.bytes);
    }
}
