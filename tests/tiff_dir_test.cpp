// TIFF directories through opened files: normalisation of "MM" files, entry
// limits, chain ends, the page offset table with subfile selection, the page
// index and its window, the plain chain with its memo, and looping chains.
#include <cerrno>
#include <cstring>

#include "formats/tiff/tiff.h"
#include "open_util.h"

namespace {

constexpr uint32_t kTexo = 0x4F584554u;

uint32_t value_of(const TiffDir& d, uint16_t tag) {
    for (uint16_t i = 0; i < d.entryCount; ++i)
        if (d.entries[i].tag == tag) return tiff_entry_value(d.entries[i]);
    return 0xFFFFFFFFu;
}

// Two directories A -> B (or B -> A again with `loop`): A a reduced image
// of width 4 (NewSubfileType `first`), B the full image of width 8. With a
// page offset table naming A the file counts one page.
std::vector<uint8_t> subfile_file(bool table, uint32_t first, bool be = false, bool loop = false) {
    TiffBuilder b(be);
    uint32_t t = b.add_longs({kTexo, 1, 1, 0, 0});
    auto& a = b.add_ifd().longs(254, {first}).shorts(256, {4});
    if (table) a.longs(32934, {t});
    auto& full = b.add_ifd().longs(254, {loop ? 1u : 0u}).shorts(256, {8});
    b.build();
    full.hasNextOverride = loop;
    full.nextOverride = b.ifd_offset(0);
    std::vector<uint8_t> out = b.build();
    b.set32(out, t + 12, uint32_t(out.size()));
    b.set32(out, t + 16, b.ifd_offset(0));
    return out;
}

// n pages whose table lists page 0 first, then the others backwards; the
// table's length field is off by `stale`, its page count is `count`.
std::vector<uint8_t> table_file(uint32_t n, bool be, uint32_t stale = 0, uint32_t count = 0) {
    TiffBuilder b(be);
    uint32_t t = b.add_longs(std::vector<uint32_t>(4 + n, 0));
    for (uint32_t i = 0; i < n; ++i) {
        auto& d = b.add_ifd().shorts(256, {uint16_t(i + 1)});
        if (i == 0) d.longs(32934, {t});
    }
    std::vector<uint8_t> out = b.build();
    std::vector<uint32_t> w = {kTexo, 1, count ? count : n, uint32_t(out.size()) + stale, b.ifd_offset(0)};
    for (uint32_t i = n - 1; i >= 1; --i) w.push_back(b.ifd_offset(i));
    for (size_t k = 0; k < w.size(); ++k) b.set32(out, t + 4 * uint32_t(k), w[k]);
    return out;
}

// `pages` pages, each a TIFF stream of its own at bases[i] (page i has width
// i + 1), listed by a page index in chunks of the sizes given.
struct IndexFile {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> bases;
};
IndexFile index_file(uint32_t pages, const std::vector<uint32_t>& chunks, bool be = false,
                     uint32_t kind = 32, uint32_t version = 1, uint32_t count = 0, uint32_t chunkCount = 0) {
    TiffBuilder b(be);
    IndexFile f{{}, {0}};
    for (uint32_t i = 1; i < pages; ++i) {
        TiffBuilder s(be);
        s.add_ifd().shorts(256, {uint16_t(i + 1)}).shorts(257, {1});
        f.bases.push_back(b.add_data(s.build()));
    }
    std::vector<uint32_t> header(13, 0);
    header[0] = version;
    header[9] = count ? count : pages;
    header[10] = chunkCount ? chunkCount : uint32_t(chunks.size());
    header[11] = kind;
    uint32_t page = 0, firstChunk = 0;
    for (uint32_t n : chunks) {
        std::vector<uint32_t> w;
        for (uint32_t k = 0; k < n; ++k, ++page) w.insert(w.end(), {page < pages ? f.bases[page] : 0, 8});
        uint32_t at = b.add_longs(w);
        if (!firstChunk) firstChunk = at;
        header.insert(header.end(), {at, n});
    }
    b.add_ifd().shorts(256, {1}).longs(32935, {b.add_longs(header)});
    f.bytes = b.build();
    b.set32(f.bytes, firstChunk + 4, b.ifd_offset(0));  // page 0: the file's own directory
    return f;
}

using TiffDirs = OpenTest;

TEST_F(TiffDirs, BigEndianIsNormalised) {
    TiffBuilder b(true);
    b.add_property_block("Title=Big");
    b.add_ifd()
        .shorts(256, {300})
        .shorts(258, {8, 16})  // SHORT count 2: both values in the entry
        .rationals(282, {{300, 1}, {72, 2}})
        .longs(33000, {0x11223344})
        .longs(258, {1});  // a duplicate tag, kept
    b.ifd(0).sorted = false;
    std::vector<uint8_t> bytes = b.build();
    FctEntry* e = open(bytes);
    ASSERT_NE(e, nullptr) << err;
    EXPECT_EQ(e->byteOrder, 0x4D4D);
    ASSERT_EQ(tiff_of(e).hdrBlockLen, 9u);
    EXPECT_EQ(std::memcmp(tiff_of(e).hdrBlock, "Title=Big", 9), 0);
    TiffDir d;
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    ASSERT_EQ(d.entryCount, 5);
    for (uint16_t i = 1; i < d.entryCount; ++i) EXPECT_LE(d.entries[i - 1].tag, d.entries[i].tag);
    EXPECT_EQ(value_of(d, 256), 300u);
    EXPECT_EQ(d.entries[1].value, 8u | (16u << 16));
    EXPECT_EQ(d.entries[2].tag, 258);
    EXPECT_EQ(value_of(d, 33000), 0x11223344u);
    uint32_t r[4] = {};
    ASSERT_EQ(tiff_read_typed(e, kTiffRational, 2, value_of(d, 282), e->detectWord, r, sizeof r), 0);
    EXPECT_EQ(std::vector<uint32_t>(r, r + 4), (std::vector<uint32_t>{300, 1, 72, 2}));
    EXPECT_EQ(tiff_read_typed(e, kTiffLong, 4, uint32_t(bytes.size()) - 4, e->detectWord, r, sizeof r), -1);
}

TEST_F(TiffDirs, EntryLimitsAndChainEnds) {
    for (int n : {54, 55}) {
        TiffBuilder b;
        b.add_ifd().shorts(256, {1});
        auto& big = b.add_ifd();
        for (int i = 0; i < n; ++i) big.shorts(uint16_t(40000 - i), {uint16_t(i)});
        FctEntry* e = open(b.build());
        if (n == 55) {
            EXPECT_EQ(err, uint32_t(TAV_E_DIRECTORY));
            continue;
        }
        ASSERT_NE(e, nullptr) << err;
        TiffDir d;
        ASSERT_EQ(tiff_page_dir(e, 1, &d), 0);
        EXPECT_EQ(d.entryCount, 54);
        EXPECT_EQ(d.entries[53].tag, 40000);
    }
    std::vector<uint8_t> v = chain(3);
    struct Case {
        const char* what;
        size_t cut;
        uint32_t pages, err;
    } cases[] = {{"whole", 0, 3, 0}, {"no next offset", 4, 3, 0}, {"half of it", 2, 3, 0},
                 {"inside the entries", 10, 0, TAV_E_DIRECTORY}};
    for (const Case& c : cases) {
        open(std::vector<uint8_t>(v.begin(), v.end() - std::ptrdiff_t(c.cut)));
        EXPECT_EQ(pages, c.err ? 0xDEADu : c.pages) << c.what;
        EXPECT_EQ(err, c.err) << c.what;
    }
    // Next-IFD offsets past the end (or past the size less 4) end the chain.
    TiffBuilder b;
    for (int i = 0; i < 3; ++i) b.add_ifd().shorts(256, {1});
    std::vector<uint8_t> out = b.build();
    b.ifd(1).hasNextOverride = b.ifd(2).hasNextOverride = true;
    b.ifd(1).nextOverride = b.ifd_offset(2);
    for (auto [which, next, want] : {std::tuple{2, uint32_t(out.size()) + 100, 3u}, {1, uint32_t(out.size()) - 3, 2u}}) {
        b.ifd(which).nextOverride = next;
        ASSERT_NE(open(b.build()), nullptr) << err;
        EXPECT_EQ(pages, want);
    }
}

TEST_F(TiffDirs, SubfileSelectionInAOnePageFile) {
    for (bool be : {false, true}) {
        FctEntry* e = open(subfile_file(true, 1, be));
        ASSERT_NE(e, nullptr) << err;
        EXPECT_EQ(pages, 1u);
        TiffDir d;
        for (auto [wanted, width] : {std::pair{0u, 8u}, {1u, 4u}}) {
            e->subfileWanted = wanted;
            ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
            EXPECT_EQ(value_of(d, 256), width) << wanted;
        }
        e->subfileWanted = 4;
        EXPECT_EQ(tiff_page_dir(e, 0, &d), -1);
        EXPECT_EQ(errno, TAV_E_NO_SUBFILE);
    }
    TiffDir d;
    FctEntry* e = open(subfile_file(true, 2));  // type 2 answers a request for 0
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    EXPECT_EQ(value_of(d, 256), 4u);
    e = open(subfile_file(false, 1));  // a plain chain: two pages, no selection
    EXPECT_EQ(pages, 2u);
    ASSERT_EQ(tiff_page_dir(e, 0, &d), 0);
    EXPECT_EQ(value_of(d, 256), 4u);
    // A→B→A, both reduced: no answer for 0, without running round the loop.
    e = open(subfile_file(true, 1, false, true));
    ASSERT_NE(e, nullptr) << err;
    EXPECT_EQ(tiff_page_dir(e, 0, &d), -1);
    EXPECT_EQ(errno, TAV_E_NO_SUBFILE);
}

TEST_F(TiffDirs, PageOffsetTableUsedUnlessStale) {
    struct Case {
        bool be;
        uint32_t stale, count;
        bool used;
    } cases[] = {{false, 0, 0, true}, {true, 0, 0, true}, {false, 10, 0, false}, {false, 0, 60000, false}};
    for (const Case& c : cases) {
        FctEntry* e = open(table_file(5, c.be, c.stale, c.count));
        ASSERT_NE(e, nullptr) << err;
        EXPECT_EQ(pages, 5u);
        EXPECT_EQ(tiff_of(e).pageTableOffset != 0, c.used);
        for (uint32_t p = 0; p < 5; ++p) {
            TiffDir d;
            ASSERT_EQ(tiff_page_dir(e, p, &d), 0) << p;
            EXPECT_EQ(value_of(d, 256), !c.used || p == 0 ? p + 1 : 6 - p) << p;
        }
    }
}

TEST_F(TiffDirs, IndexWindowOf25PagesInThreeChunks) {
    for (bool be : {false, true}) {
        IndexFile f = index_file(25, {12, 9, 4}, be);
        FctEntry* e = open(f.bytes);
        ASSERT_NE(e, nullptr) << err;
        EXPECT_EQ(pages, 25u);
        ASSERT_NE(tiff_of(e).indexCache, nullptr);
        EXPECT_EQ(tiff_of(e).indexCache->windowCount, 10);
        struct Step {
            uint32_t page, first, count;
        } steps[] = {{9, 0, 10}, {17, 17, 4}, {20, 17, 4}, {11, 11, 1}, {3, 3, 9}, {24, 24, 1}, {12, 12, 9}};
        for (const Step& s : steps) {
            TiffDir d;
            ASSERT_EQ(tiff_page_dir(e, s.page, &d), 0) << s.page;
            EXPECT_EQ(value_of(d, 256), s.page + 1) << s.page;
            EXPECT_EQ(tiff_of(e).tiffBase, f.bases[s.page]) << s.page;
            EXPECT_EQ(tiff_of(e).indexCache->windowFirst, s.first) << s.page;
            EXPECT_EQ(tiff_of(e).indexCache->windowCount, s.count) << s.page;
        }
        TiffDir d;
        EXPECT_EQ(tiff_page_dir(e, 25, &d), -1);
        EXPECT_EQ(errno, TAV_E_PAGE_RANGE);
    }
}

TEST_F(TiffDirs, IndexRefusals) {
    struct Case {
        uint32_t kind, version, count, chunks, err;
    } cases[] = {
        {32, 2, 0, 0, TAV_E_INDEX_VERSION}, {16, 1, 0, 0, TAV_E_INDEX_KIND},
        {32, 1, 0xFFFFFFFFu, 0, TAV_E_INDEX_SIZE}, {32, 1, 60000, 0, TAV_E_INDEX_SIZE},
        {32, 1, 0, 0xFFFFFFFFu, TAV_E_INDEX_SIZE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(open(index_file(3, {3}, false, c.kind, c.version, c.count, c.chunks).bytes), nullptr);
        EXPECT_EQ(err, c.err) << c.count << " " << c.chunks;
    }
}

TEST_F(TiffDirs, ChainMemoGivesTheWalksResults) {
    TiffBuilder b(true);
    for (int i = 0; i < 300; ++i) b.add_ifd().shorts(256, {uint16_t(i + 1)});
    FctEntry* e = open(b.build());
    ASSERT_NE(e, nullptr) << err;
    EXPECT_EQ(pages, 300u);
    EXPECT_EQ(tiff_of(e).ifdMemoCount, 300u);
    uint32_t off = 0;
    for (uint32_t p = 0; p < 300; p += 7) {
        ASSERT_EQ(tiff_page_ifd_offset(e, p, &off), 0);
        EXPECT_EQ(off, b.ifd_offset(p));
    }
    tiff_of(e).ifdMemoCount = 0;  // forgotten: the walk finds the same offsets
    for (uint32_t p : {150u, 7u, 299u}) {
        ASSERT_EQ(tiff_walk_to_page(e, p, &off, nullptr), 0);
        EXPECT_EQ(off, b.ifd_offset(p));
    }
    EXPECT_EQ(tiff_of(e).ifdMemoCount, 300u);
}

TEST_F(TiffDirs, LoopingChainCountsToTheFirstRepeat) {
    // Directory n - 1 links back to `to`.
    for (auto [n, to] : {std::pair{3, 1}, {1, 0}, {500, 0}, {6, 3}}) {
        TiffBuilder b;
        for (int i = 0; i < n; ++i) b.add_ifd().shorts(256, {uint16_t(i + 1)});
        b.build();
        b.ifd(n - 1).hasNextOverride = true;
        b.ifd(n - 1).nextOverride = b.ifd_offset(to);
        FctEntry* e = open(b.build());
        ASSERT_NE(e, nullptr) << err;
        EXPECT_EQ(pages, uint32_t(n));
        uint32_t off = 0;
        tiff_of(e).ifdMemoCount = 0;
        EXPECT_EQ(tiff_walk_to_page(e, n, &off, nullptr), -1);
        EXPECT_EQ(errno, TAV_E_PAGE_RANGE);
    }
}

}  // namespace
