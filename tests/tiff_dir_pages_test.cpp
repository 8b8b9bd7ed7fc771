// TIFF page location (Part 3.1): the page offset table, the page index and
// its window, the plain chain with its memo, subfile selection, looping
// chains, absurd counts, and page counts against libtiff's tiffinfo.
#include <gtest/gtest.h>

#include <cstdio>
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

constexpr uint32_t kTexo = 0x4F584554u;

class TiffPages : public ::testing::Test {
protected:
    void SetUp() override { blocks_ = mem_live_blocks(); }
    void TearDown() override {
        if (h_ > 0) close();
        EXPECT_EQ(mem_live_blocks(), blocks_) << "memory blocks leaked";
    }
    FctEntry* open(const std::vector<uint8_t>& bytes, const std::string& name = "t.tif") {
        path_ = dir_.file(name);
        write_file(path_, bytes);
        return open_path(path_);
    }
    FctEntry* open_path(const std::string& path) {
        PathBuf p(path);
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
    static uint32_t width_of(const TiffDir& d) {
        for (uint16_t i = 0; i < d.entryCount; ++i)
            if (d.entries[i].tag == 256) return tiff_entry_value(d.entries[i]);
        return 0;
    }
    static uint32_t subfile_of(const TiffDir& d) {
        for (uint16_t i = 0; i < d.entryCount; ++i)
            if (d.entries[i].tag == 254) return tiff_entry_value(d.entries[i]);
        return 0;
    }
    TempDir dir_;
    std::string path_;
    int32_t h_ = 0;
    uint32_t type_ = 0, pages_ = 0, err_ = 0;
    int blocks_ = 0;
};

// ---- page offset table ----

// Two directories A -> B: A is a reduced-resolution image (NewSubfileType
// `first`), B the full image. With a table the file counts one page.
std::vector<uint8_t> subfile_file(bool withTable, uint32_t first, bool bigEndian = false) {
    Builder b(bigEndian);
    std::vector<Entry> ea = b.page_entries(4, first);
    if (withTable) ea.push_back(longv(32934, 0));
    uint32_t a = b.add_ifd(ea, 0);
    uint32_t bb = b.add_ifd(b.page_entries(8, 0), 0);
    b.set_first(a);
    b.set_next(a, bb);
    if (withTable) {
        uint32_t table = b.add_words({kTexo, 1, 1, 0, a});
        b.put32(table + 12, b.size());  // the file's length
        // Patch the tag's value (the last entry of A).
        b.put32(a + 2 + 12u * uint32_t(ea.size() - 1) + 8, table);
    }
    return b.bytes();
}

TEST_F(TiffPages, SubfileSelectionInAOnePageFile) {
    for (bool be : {false, true}) {
        FctEntry* e = open(subfile_file(true, 1, be));
        ASSERT_NE(e, nullptr) << err_;
        EXPECT_EQ(pages_, 1u);
        EXPECT_NE(e->pageTableOffset, 0u);
        EXPECT_EQ(e->tableIfdIndex, 0u);
        TiffDir d;
        // A request for 0 skips the reduced image.
        e->subfileWanted = 0;
        ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
        EXPECT_EQ(width_of(d), 8u);
        // A request for 1 takes it.
        e->subfileWanted = 1;
        ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
        EXPECT_EQ(width_of(d), 4u);
        // Nobody has type 4.
        e->subfileWanted = 4;
        EXPECT_EQ(tiff_page_dir(e, 0, &d), -1);
        EXPECT_EQ(errno, TAV_E_NO_SUBFILE);
        close();
    }
    // NewSubfileType 2 answers a request for 0.
    FctEntry* e = open(subfile_file(true, 2));
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 1u);
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    EXPECT_EQ(width_of(d), 4u);
    EXPECT_EQ(subfile_of(d), 2u);
    close();
    // The plain chain of the same two directories counts two pages, and
    // with more than one page there is no selection.
    e = open(subfile_file(false, 1));
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 2u);
    EXPECT_EQ(e->pageTableOffset, 0u);
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    EXPECT_EQ(width_of(d), 4u);
    ASSERT_EQ(tiff_page_dir(e, 1, &d), 0);
    EXPECT_EQ(width_of(d), 8u);
}

TEST_F(TiffPages, SubfileSelectionThatLoops) {
    // One page (a table of one entry) whose directories A (1) -> B (1) -> A
    // never satisfy a request for 0: 268, without running round the loop.
    Builder b;
    std::vector<Entry> ea = b.page_entries(4, 1);
    ea.push_back(longv(32934, 0));
    uint32_t a = b.add_ifd(ea, 0);
    uint32_t c = b.add_ifd(b.page_entries(8, 1), a);
    b.set_first(a);
    b.set_next(a, c);
    uint32_t table = b.add_words({kTexo, 1, 1, 0, a});
    b.put32(table + 12, b.size());
    b.put32(a + 2 + 12u * uint32_t(ea.size() - 1) + 8, table);
    FctEntry* e = open(b.bytes());
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 1u);
    TiffDir d;
    EXPECT_EQ(tiff_page_dir(e, 0, &d), -1);
    EXPECT_EQ(errno, TAV_E_NO_SUBFILE);
    e->subfileWanted = 1;
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    EXPECT_EQ(width_of(d), 4u);
}

// A table in the chain's first IFD that lists the pages in another order.
std::vector<uint8_t> table_file(uint32_t pages, bool stale, bool bigEndian,
                                std::vector<uint32_t>* order) {
    Builder b(bigEndian);
    std::vector<uint32_t> offs;
    for (uint32_t i = 0; i < pages; ++i) {
        std::vector<Entry> e = b.page_entries(uint16_t(i + 1));
        if (i == 0) e.push_back(longv(32934, 0));
        uint32_t off = b.add_ifd(e, 0);
        if (offs.empty())
            b.set_first(off);
        else
            b.set_next(offs.back(), off);
        offs.push_back(off);
    }
    // The table: page 0 first, then the others backwards.
    std::vector<uint32_t> words = {kTexo, 1, pages, 0, offs[0]};
    order->assign(1, 1);
    for (uint32_t i = pages - 1; i >= 1; --i) {
        words.push_back(offs[i]);
        order->push_back(i + 1);
    }
    uint32_t table = b.add_words(words);
    b.put32(table + 12, b.size() + (stale ? 10 : 0));
    uint16_t n = b.get16(offs[0]);
    b.put32(offs[0] + 2 + 12u * (n - 1) + 8, table);
    return b.bytes();
}

TEST_F(TiffPages, PageOffsetTableIsUsed) {
    for (bool be : {false, true}) {
        std::vector<uint32_t> order;
        FctEntry* e = open(table_file(5, false, be, &order));
        ASSERT_NE(e, nullptr) << err_;
        EXPECT_EQ(pages_, 5u);
        EXPECT_NE(e->pageTableOffset, 0u);
        for (uint32_t p = 0; p < 5; ++p) {
            TiffDir d;
            ASSERT_EQ(tiff_page_dir(e, p, &d), 0) << p;
            EXPECT_EQ(width_of(d), order[p]) << p;
        }
        close();
    }
}

TEST_F(TiffPages, StaleTableIsIgnored) {
    std::vector<uint32_t> order;
    FctEntry* e = open(table_file(5, true, false, &order));
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 5u);
    EXPECT_EQ(e->pageTableOffset, 0u);
    EXPECT_EQ(e->privateTagSlot, 0u);
    for (uint32_t p = 0; p < 5; ++p) {
        TiffDir d;
        ASSERT_EQ(tiff_page_dir(e, p, &d), 0);
        EXPECT_EQ(width_of(d), p + 1);  // chain order
    }
}

TEST_F(TiffPages, TableWithTooManyPagesIsStale) {
    std::vector<uint32_t> order;
    std::vector<uint8_t> v = table_file(3, false, false, &order);
    // Page count 60000: the table cannot hold it: ignored, the chain counts.
    uint32_t first = v[4] | v[5] << 8;
    uint16_t n = uint16_t(v[first] | v[first + 1] << 8);
    uint32_t at = first + 2 + 12u * (n - 1) + 8;
    uint32_t table = v[at] | v[at + 1] << 8 | v[at + 2] << 16 | uint32_t(v[at + 3]) << 24;
    v[table + 8] = 0x60;
    v[table + 9] = 0xEA;
    FctEntry* e = open(v);
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 3u);
    EXPECT_EQ(e->pageTableOffset, 0u);
}

TEST_F(TiffPages, TableTagWithValueZero) {
    // In the first IFD of a chain of one IFD: one page, table scheme.
    Builder b;
    std::vector<Entry> e = b.page_entries(8);
    e.push_back(longv(32934, 0));
    b.set_first(b.add_ifd(e, 0));
    ASSERT_NE(open(b.bytes()), nullptr) << err_;
    EXPECT_EQ(pages_, 1u);
    close();
    // In a chain of three: the chain is counted.
    Builder c;
    std::vector<uint32_t> offs = c.chain(2);
    uint32_t third = c.add_ifd(e, 0);
    c.set_next(offs[1], third);
    ASSERT_NE(open(c.bytes()), nullptr) << err_;
    EXPECT_EQ(pages_, 3u);
}

// ---- page index ----

struct IndexFile {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> bases;
};

// `pages` pages, each a TIFF stream of its own (page i has width i+1), page
// 0 being the file's own stream; the index lists them in chunks.
IndexFile index_file(uint32_t pages, const std::vector<uint32_t>& chunkSizes, bool be,
                     uint32_t kind = 32, uint32_t version = 1, uint32_t countField = 0,
                     uint32_t chunkField = 0) {
    Builder b(be);
    IndexFile f;
    uint32_t ifd0 = b.add_ifd({shortv(256, 1), longv(32935, 0)}, 0);
    b.set_first(ifd0);
    f.bases.push_back(0);
    for (uint32_t i = 1; i < pages; ++i) {
        uint32_t base = b.add_zeros(8);
        b.bytes()[base] = b.bytes()[base + 1] = be ? 'M' : 'I';
        b.put16(base + 2, 42);
        b.put32(base + 4, 8);
        uint32_t ifd = b.add_ifd({shortv(256, uint16_t(i + 1)), shortv(257, 1)}, 0);
        EXPECT_EQ(ifd, base + 8);
        f.bases.push_back(base);
    }
    std::vector<uint32_t> chunkOffs;
    uint32_t page = 0;
    for (uint32_t n : chunkSizes) {
        std::vector<uint32_t> words;
        for (uint32_t k = 0; k < n; ++k, ++page) {
            words.push_back(page < pages ? f.bases[page] : 0);
            words.push_back(8);
        }
        chunkOffs.push_back(b.add_words(words));
    }
    std::vector<uint32_t> header(13, 0);
    header[0] = version;
    header[9] = countField ? countField : pages;
    header[10] = chunkField ? chunkField : uint32_t(chunkSizes.size());
    header[11] = kind;
    for (size_t k = 0; k < chunkSizes.size(); ++k) {
        header.push_back(chunkOffs[k]);
        header.push_back(chunkSizes[k]);
    }
    uint32_t index = b.add_words(header);
    b.put32(ifd0 + 2 + 12 + 8, index);
    f.bytes = b.bytes();
    return f;
}

TEST_F(TiffPages, IndexWindowOf25PagesInThreeChunks) {
    for (bool be : {false, true}) {
        IndexFile f = index_file(25, {12, 9, 4}, be);
        FctEntry* e = open(f.bytes);
        ASSERT_NE(e, nullptr) << err_;
        EXPECT_EQ(pages_, 25u);
        ASSERT_NE(e->indexCache, nullptr);
        EXPECT_EQ(e->indexKind, 32u);
        EXPECT_EQ(e->hasPrivateIndex, 1);
        EXPECT_EQ(e->indexCache->entriesPerChunk, 10u);
        EXPECT_EQ(e->indexCache->chunkCount, 3u);
        EXPECT_EQ(e->indexCache->windowFirst, 0);
        EXPECT_EQ(e->indexCache->windowCount, 10);
        struct Step {
            uint32_t page, first, count;
        } steps[] = {{0, 0, 10}, {9, 0, 10}, {17, 17, 4}, {20, 17, 4}, {11, 11, 1},
                     {3, 3, 9},  {24, 24, 1}, {12, 12, 9}, {21, 21, 4}, {1, 1, 10}};
        for (const Step& s : steps) {
            TiffDir d;
            ASSERT_EQ(tiff_page_dir(e, s.page, &d), 0) << s.page;
            EXPECT_EQ(width_of(d), s.page + 1) << s.page;
            EXPECT_EQ(e->tiffBase, f.bases[s.page]) << s.page;
            EXPECT_EQ(e->indexCache->windowFirst, s.first) << s.page;
            EXPECT_EQ(e->indexCache->windowCount, s.count) << s.page;
            EXPECT_LE(e->indexCache->windowCount, 10);
        }
        TiffDir d;
        EXPECT_EQ(tiff_page_dir(e, 25, &d), -1);
        EXPECT_EQ(errno, TAV_E_PAGE_RANGE);
        close();
    }
}

TEST_F(TiffPages, IndexFirstWindowSpansChunks) {
    IndexFile f = index_file(25, {4, 4, 17}, false);
    FctEntry* e = open(f.bytes);
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(e->indexCache->windowCount, 10);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(e->indexCache->entries[i][0], f.bases[i]);
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(e, 9, &d), 0);
    EXPECT_EQ(width_of(d), 10u);
    EXPECT_EQ(e->indexCache->windowFirst, 0);  // served from the window
    ASSERT_EQ(tiff_page_dir(e, 10, &d), 0);
    EXPECT_EQ(e->indexCache->windowFirst, 10);
    EXPECT_EQ(e->indexCache->windowCount, 10);
}

TEST_F(TiffPages, IndexRefusals) {
    // Version, kind.
    EXPECT_EQ(open(index_file(3, {3}, false, 32, 2).bytes), nullptr);
    EXPECT_EQ(err_, uint32_t(TAV_E_INDEX_VERSION));
    EXPECT_EQ(open(index_file(3, {3}, false, 16).bytes), nullptr);
    EXPECT_EQ(err_, uint32_t(TAV_E_INDEX_KIND));
    // More than 65535 pages; a count the file cannot hold; a chunk count the
    // file cannot hold: 391, the open fails, nothing is left allocated.
    for (uint32_t count : {70000u, 0xFFFFFFFFu, 60000u}) {
        EXPECT_EQ(open(index_file(3, {3}, false, 32, 1, count).bytes), nullptr) << count;
        EXPECT_EQ(err_, uint32_t(TAV_E_INDEX_SIZE)) << count;
    }
    for (uint32_t chunks : {0x7FFFFFFFu, 0xFFFFFFFFu, 1000u}) {
        EXPECT_EQ(open(index_file(3, {3}, false, 32, 1, 0, chunks).bytes), nullptr) << chunks;
        EXPECT_EQ(err_, uint32_t(TAV_E_INDEX_SIZE)) << chunks;
    }
}

TEST_F(TiffPages, EmptyIndex) {
    Builder b;
    b.set_first(b.add_ifd({shortv(256, 5), longv(32935, 0)}, 0));
    FctEntry* e = open(b.bytes());
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 1u);
    EXPECT_NE(e->indexCache, nullptr);
    EXPECT_EQ(e->hasPrivateIndex, 0);
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    EXPECT_EQ(width_of(d), 5u);
}

// ---- plain chain ----

TEST_F(TiffPages, ChainMemoGivesTheWalksResults) {
    for (bool be : {false, true}) {
        Builder b(be);
        std::vector<uint32_t> offs = b.chain(300);
        FctEntry* e = open(b.bytes());
        ASSERT_NE(e, nullptr) << err_;
        EXPECT_EQ(pages_, 300u);
        EXPECT_EQ(e->ifdMemoCount, 300u);
        for (uint32_t p = 0; p < 300; ++p) {
            uint32_t off = 0;
            ASSERT_EQ(tiff_page_ifd_offset(e, p, &off), 0);
            EXPECT_EQ(off, offs[p]);
            TiffDir d;
            ASSERT_EQ(tiff_page_dir(e, p, &d), 0);
            EXPECT_EQ(width_of(d), p + 1);
        }
        // Forgetting the memo: the walk finds the same offsets again, in
        // any order, and fills the memo as it goes.
        e->ifdMemoCount = 0;
        TiffHeader h;
        uint32_t off = 0;
        ASSERT_EQ(tiff_walk_to_page(e, 150, &off, &h), 0);
        EXPECT_EQ(off, offs[150]);
        EXPECT_EQ(h.firstIfd, offs[0]);
        EXPECT_EQ(e->ifdMemoCount, 151u);
        ASSERT_EQ(tiff_walk_to_page(e, 7, &off, nullptr), 0);
        EXPECT_EQ(off, offs[7]);
        ASSERT_EQ(tiff_walk_to_page(e, 299, &off, nullptr), 0);
        EXPECT_EQ(off, offs[299]);
        EXPECT_EQ(tiff_walk_to_page(e, 300, &off, nullptr), -1);
        EXPECT_EQ(errno, TAV_E_PAGE_RANGE);
        close();
    }
}

TEST_F(TiffPages, LoopingChainCountsToTheFirstRepeat) {
    // A -> B -> C -> B.
    Builder b;
    std::vector<uint32_t> offs = b.chain(3);
    b.set_next(offs[2], offs[1]);
    FctEntry* e = open(b.bytes());
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 3u);
    uint32_t off = 0;
    ASSERT_EQ(tiff_walk_to_page(e, 2, &off, nullptr), 0);
    EXPECT_EQ(off, offs[2]);
    EXPECT_EQ(tiff_walk_to_page(e, 3, &off, nullptr), -1);
    EXPECT_EQ(errno, TAV_E_PAGE_RANGE);
    // The same without the memo.
    e->ifdMemoCount = 0;
    EXPECT_EQ(tiff_walk_to_page(e, 3, &off, nullptr), -1);
    EXPECT_EQ(errno, TAV_E_PAGE_RANGE);
    close();
    // An IFD that points to itself.
    Builder c;
    offs = c.chain(1);
    c.set_next(offs[0], offs[0]);
    ASSERT_NE(open(c.bytes()), nullptr) << err_;
    EXPECT_EQ(pages_, 1u);
    close();
    // A long chain looping back to its start, and one jumping backwards
    // onto a later IFD.
    Builder d;
    offs = d.chain(500);
    d.set_next(offs[499], offs[0]);
    ASSERT_NE(open(d.bytes()), nullptr) << err_;
    EXPECT_EQ(pages_, 500u);
    close();
    Builder f;
    offs = f.chain(6);
    // 0 -> 1 -> ... -> 5 -> 3
    f.set_next(offs[5], offs[3]);
    ASSERT_NE(open(f.bytes()), nullptr) << err_;
    EXPECT_EQ(pages_, 6u);
}

TEST_F(TiffPages, ChainWithIfdsInDecreasingOrder) {
    // IFDs written back to front: every link points backwards.
    Builder b;
    std::vector<uint32_t> offs;
    for (int i = 0; i < 20; ++i) offs.push_back(b.add_ifd(b.page_entries(uint16_t(20 - i)), 0));
    for (int i = 19; i > 0; --i) b.set_next(offs[i], offs[i - 1]);
    b.set_first(offs[19]);
    FctEntry* e = open(b.bytes());
    ASSERT_NE(e, nullptr) << err_;
    EXPECT_EQ(pages_, 20u);
    for (uint32_t p = 0; p < 20; ++p) {
        TiffDir d;
        ASSERT_EQ(tiff_page_dir(e, p, &d), 0);
        EXPECT_EQ(width_of(d), 1 + p);
    }
}

// ---- files made by libtiff and ImageMagick ----

std::string capture(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

uint32_t tiffinfo_pages(const std::string& path) {
    std::string out = capture("tiffinfo " + path + " 2>/dev/null");
    uint32_t n = 0;
    for (size_t at = out.find("TIFF Directory"); at != std::string::npos;
         at = out.find("TIFF Directory", at + 1))
        ++n;
    return n;
}

TEST_F(TiffPages, PageCountsAgreeWithTiffinfo) {
    std::string tool = have_program("magick") ? "magick" : "convert";
    if (!have_program("tiffinfo") || !have_program("tiffcp") || !have_program(tool))
        GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    std::string src = dir_.file("s.pgm");
    std::string s = "P5\n12 5\n255\n";
    for (int i = 0; i < 60; ++i) s.push_back(char(i * 4));
    write_file(src, s);
    std::string im = dir_.file("im.tif");
    std::string args;
    for (int i = 0; i < 7; ++i) args += " " + src;
    ASSERT_EQ(run_command(tool + args + " -compress lzw " + im), 0);
    std::string cp = dir_.file("cp.tif");
    ASSERT_EQ(run_command("tiffcp -B " + im + " " + im + " " + im + " " + cp), 0);
    std::string le = dir_.file("le.tif");
    ASSERT_EQ(run_command("tiffcp -L -c g4 " + im + " " + le + " 2>/dev/null") == 0 ||
                  run_command("tiffcp -L " + im + " " + le) == 0,
              true);
    for (const std::string& p : {im, cp, le}) {
        uint32_t expect = tiffinfo_pages(p);
        ASSERT_GT(expect, 0u) << p;
        ASSERT_NE(open_path(p), nullptr) << p << " " << err_;
        EXPECT_EQ(type_, FILETYPE_TIFF);
        EXPECT_EQ(pages_, expect) << p;
        close();
    }
    EXPECT_EQ(tiffinfo_pages(cp), 21u);
}

}  // namespace
