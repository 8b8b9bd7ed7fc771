// Reading AWD files: the display order and the document table it gives,
// page numbering, what the records make a page show, and the bands.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "awd_test_util.h"
#include "fileio/mem.h"
#include "formats/awd/awd_display.h"
#include "formats/awd/awd_state.h"
#include "frame/fct.h"
#include "platform/plat_version.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

constexpr char kPersistent[] = "Persistent Information";

struct AwdReadTest : ::testing::Test {
    void SetUp() override { blocks = mem_live_blocks(); }
    void TearDown() override { EXPECT_EQ(mem_live_blocks(), blocks) << "memory blocks leaked"; }
    TempDir dir;
    int blocks = 0;
};

// Runs body on the storage at a path of names from the root of a file open
// for writing through the engine.
template <class Body>
void with_storage(const std::string& path, const std::vector<std::string>& names, Body body) {
    StgRef<StgStorage> held[4];
    ASSERT_EQ(open_root(path, kStgModeWrite, held[0]), 0u);
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(held[i]->ops->OpenStorage(held[i].get(), wide(names[i]).c_str(), nullptr, kStgModeWrite,
                                            nullptr, 0, held[i + 1].put()),
                  0u)
            << names[i];
    body(held[names.size()].get());
}

void destroy(const std::string& path, const std::vector<std::string>& names, const std::string& name) {
    with_storage(path, names, [&](StgStorage* s) { s->ops->DestroyElement(s, wide(name).c_str()); });
}

TEST(AwdDisplay, RecordsAndSettingsConvertBothWays) {
    AwdDocRecord doc;
    auto shown = [&](uint16_t docRotation, const AwdPageRecord* page) {
        doc.rotation = docRotation;
        return awd_combine_display(doc, page).rotation;
    };
    EXPECT_EQ(shown(90, nullptr), 270);
    EXPECT_EQ(shown(0, nullptr), 0);
    AwdPageRecord page;
    page.rotation = 270;
    EXPECT_EQ(shown(90, &page), 0);
    // Scales: a percentage of the document's, kept within 2 and 6500.
    for (auto [d, p, want] : {std::array<uint16_t, 3>{100, 1, 2}, {200, 5000, 6500}, {6500, 6500, 6500}}) {
        doc.xScale = d;
        page.xScale = p;
        EXPECT_EQ(awd_combine_display(doc, &page).xScale, want) << d << " x " << p;
    }
    // Every quarter turn, on every document rotation, reads back as given.
    for (uint16_t d : {0, 90, 180, 270})
        for (uint16_t q : {0, 90, 180, 270}) {
            AwdDocRecord base;
            base.rotation = d;
            AwdDisplay wanted;
            wanted.rotation = q;
            wanted.xScale = 100;
            wanted.yScale = 75;
            AwdPageRecord r = awd_page_record_for(base, wanted, 0);
            AwdDisplay back = awd_combine_display(base, &r);
            EXPECT_EQ(back.rotation, q) << d << " " << q;
            EXPECT_EQ(back.xScale, 100) << d << " " << q;
            EXPECT_EQ(back.yScale, 75) << d << " " << q;
        }
    AwdDisplay ninety;
    ninety.rotation = 90;
    doc.rotation = 0;
    EXPECT_EQ(awd_page_record_for(doc, ninety, 0).rotation, 270);
    doc.rotation = 90;
    EXPECT_EQ(awd_page_record_for(doc, ninety, 0).rotation, 180);
    doc.xScale = 50;
    ninety.xScale = 100;
    EXPECT_EQ(awd_page_record_for(doc, ninety, 0).xScale, 200);
    doc.xScale = 0;
    EXPECT_EQ(awd_page_record_for(doc, ninety, 0).xScale, kAwdNeutralScale);
    EXPECT_EQ(awd_turn_document(0, 90), 270);
    // The document's flag 0x10 is folded into the page's.
    doc.flags = 0x10;
    ninety.flags = 0x11;
    AwdPageRecord folded = awd_page_record_for(doc, ninety, 0);
    EXPECT_EQ(folded.flags, 0x01u);
    EXPECT_EQ(awd_combine_display(doc, &folded).flags, 0x11u);
}

// Every scale a page can be given on every document scale: what is stored
// reads back exactly whenever some 16-bit page scale gives it; otherwise it
// reads back the next scale that can be shown (no smaller stored value
// reaches the one wanted), or, past the largest stored value, the largest.
TEST(AwdDisplay, EveryScaleThatCanBeStoredReadsBackExactly) {
    EXPECT_EQ(awd_shown_scale(75, awd_page_scale(100, 75)), 100);   // was 99
    EXPECT_EQ(awd_shown_scale(7, awd_page_scale(6500, 7)), 4587);   // was 1912 (16-bit wrap)
    EXPECT_EQ(awd_page_scale(6500, 7), 0xFFFF);
    EXPECT_EQ(awd_shown_scale(200, awd_page_scale(101, 200)), 102);  // 2p is never 101
    uint64_t inexact = 0;
    for (uint32_t d = kAwdMinScale; d <= kAwdMaxScale; ++d)
        for (uint32_t w = kAwdMinScale; w <= kAwdMaxScale; ++w) {
            uint16_t p = awd_page_scale(uint16_t(w), uint16_t(d));
            uint16_t got = awd_shown_scale(uint16_t(d), p);
            if (got == w) continue;
            ++inexact;
            bool next = got > w && p > 0 && awd_shown_scale(uint16_t(d), uint16_t(p - 1)) < w;
            bool largest = got < w && p == 0xFFFF;
            ASSERT_TRUE(next || largest) << "document " << d << ", page " << w << " stored " << p << " reads " << got;
        }
    EXPECT_GT(inexact, 0u);
}

// An order over the bytes given, parsed.
struct OrderOf {
    AwdOrder o;
    explicit OrderOf(const std::string& bytes) {
        o.size = uint32_t(bytes.size());
        o.bytes.reset(static_cast<uint8_t*>(mem_calloc(o.size ? o.size : 1, 1)));
        std::memcpy(o.bytes.get(), bytes.data(), bytes.size());
        EXPECT_EQ(awd_parse_order(&o), 0u);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        char name[kAwdNameMax + 1];
        for (uint32_t i = 0; i < o.count; ++i) {
            o.name(i, name);
            out.push_back(name);
        }
        return out;
    }
};

TEST(AwdOrderTest, TheDisplayOrderIsReadInPiecesOf33Bytes) {
    const std::string longName(40, 'L');
    struct Case {
        std::string bytes;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"", {}},
        {std::string("\0A\0", 3), {}},
        {std::string("A\0BB\0\0", 6), {"A", "BB"}},
        {std::string("A\0BB", 4), {"A", "BB"}},
        // The next piece starts 33 bytes into the long name.
        {longName + std::string("\0C\0", 3), {std::string(32, 'L'), std::string(7, 'L'), "C"}},
    };
    for (const Case& c : cases) EXPECT_EQ(OrderOf(c.bytes).names(), c.names);
}

// A change of the order cuts out every entry of a leaving name, puts the
// new names before the first entry of a name or at the end of the list,
// and keeps every other byte: repeated names, names past an empty one, a
// long name's 33rd byte, Windows-1252 bytes.
TEST(AwdOrderTest, EditsKeepTheBytesTheyDoNotChange) {
    auto edit = [](const std::string& bytes, std::vector<const char*> leaving, std::vector<const char*> arriving,
                   const char* before) {
        OrderOf o(bytes);
        AwdOrderEdit e;
        e.leaving = leaving.data();
        e.leavingCount = uint32_t(leaving.size());
        e.arriving = arriving.data();
        e.arrivingCount = uint32_t(arriving.size());
        e.before = before;
        MemBlock<uint8_t> out;
        uint32_t size = 0;
        EXPECT_EQ(awd_edit_order(o.o, e, out, &size), 0u);
        return std::string(reinterpret_cast<const char*>(out.get()), size);
    };
    using namespace std::string_literals;
    const std::string longName(40, 'L');
    EXPECT_EQ(edit("A\0A\0B\0"s, {"A"}, {}, nullptr), "B\0"s);
    EXPECT_EQ(edit("A\0B\0\0HIDDEN\0"s, {"B"}, {"N"}, "B"), "A\0N\0\0HIDDEN\0"s);
    EXPECT_EQ(edit("A\0B\0\0\0"s, {}, {"N", "M"}, nullptr), "A\0B\0N\0M\0\0\0"s);
    EXPECT_EQ(edit("Fax\xFC\0B"s, {"B"}, {"N"}, "Fax\xFC"), "N\0Fax\xFC\0"s);
    EXPECT_EQ(edit("A\0B"s, {}, {"N"}, nullptr), "A\0B\0N\0"s);
    EXPECT_EQ(edit(longName + "\0C\0"s, {"C"}, {}, nullptr), longName + "\0"s);
    EXPECT_EQ(edit(""s, {}, {"N"}, "GONE"), "N\0"s);
    // Whether a name is still listed anywhere, also past an empty name.
    OrderOf o("A\0\0B\0"s + longName);
    EXPECT_TRUE(awd_order_names(o.o, "B"));
    EXPECT_TRUE(awd_order_names(o.o, std::string(32, 'L').c_str()));
    EXPECT_FALSE(awd_order_names(o.o, "C"));
}

TEST_F(AwdReadTest, TheDocumentTableFollowsTheStreamsAndTheOrder) {
    std::string path = dir.file("t.awd");
    AwdHandle f;
    ASSERT_EQ(f.create(path), 0u);
    EXPECT_EQ(f.close(), 0u);
    ASSERT_EQ(f.open(path), 0u);
    EXPECT_EQ(f.pages, 0u);
    EXPECT_EQ(f.info(1), uint32_t(TAV_E_PAGE_RANGE));
    f.close();

    ASSERT_EQ(make_awd_documents(path = dir.file("three.awd"),
                                 {{pattern_page(64, 8, 0)}, {pattern_page(64, 8, 1), pattern_page(64, 8, 2)},
                                  {pattern_page(64, 8, 3)}}),
              0u);
    // Only two names in the order: the third stream's entry stays empty.
    with_storage(path, {kPersistent, "Global Information"},
                 [](StgStorage* g) { put_stream(g, "Display Order", std::string("DOC2\0DOC0\0", 10)); });
    ASSERT_EQ(f.open(path), 0u);
    EXPECT_EQ(f.pages, 2u);
    const AwdState& s = awd_state(fct_entry_at(f.h));
    ASSERT_EQ(s.docCount, 3);
    EXPECT_STREQ(s.docs[0].name, "DOC2");
    EXPECT_STREQ(s.docs[1].name, "DOC0");
    EXPECT_STREQ(s.docs[2].name, "");
    EXPECT_EQ(s.docs[2].pageCount, 0);
    BitPage got;
    ASSERT_EQ(f.read_page(1, &got), 0u);
    EXPECT_EQ(got, pattern_page(64, 8, 3));
}

TEST(AwdLocate, PagesCountThroughTheDocumentsInOrder) {
    AwdDocEntry docs[3] = {{"a", 2}, {"b", 0}, {"c", 3}};
    AwdState s;
    uint32_t within = 9;
    EXPECT_EQ(awd_locate_page(s, 0, &within), -1);  // no table
    s.docs = docs;
    s.docCount = 3;
    const int32_t want[] = {0, 0, 2, 2, 2};
    for (uint32_t g = 0; g < 5; ++g) {
        EXPECT_EQ(awd_locate_page(s, g, &within), want[g]) << g;
        EXPECT_EQ(within, g < 2 ? g : g - 2) << g;
    }
    EXPECT_EQ(awd_locate_page(s, 5, &within), -1);
    EXPECT_EQ(awd_total_pages(s), 5u);
}

// What a page shows, from the records of its document and its own.
TEST_F(AwdReadTest, TheRecordsDecideRotationScalesAndFlags) {
    std::string path = dir.file("r.awd");
    ASSERT_EQ(make_awd_documents(path, {{pattern_page(64, 8, 0), pattern_page(64, 8, 1)}}), 0u);
    auto shown = [&](uint16_t page) {
        AwdHandle f;
        EXPECT_EQ(f.open(path), 0u);
        EXPECT_EQ(f.info(page), 0u);
        return std::array<uint32_t, 4>{TAV_AWD_HIGH(f.pi.maxStripSize), TAV_AWD_LOW(f.pi.stripCount),
                                       TAV_AWD_HIGH(f.pi.stripCount), f.pi.rowsPerStrip};
    };
    // No records at all: the defaults.
    EXPECT_EQ(shown(1), (std::array<uint32_t, 4>{0, 50, 50, 0}));
    // A document record and a viewed mark for page 0, a page record for
    // page 1 only.
    AwdDocRecord doc;
    doc.rotation = 90;
    doc.xScale = 200;
    doc.yScale = 100;
    doc.flags = 0x10;
    AwdPageRecord page;
    page.flags = 0x3;
    page.xScale = 50;
    with_storage(path, {kPersistent}, [&](StgStorage* p) {
        awd_write_doc_record(p, "DOC0", doc);
        awd_mark_viewed(p, "DOC0", 0);
        awd_write_page_record(p, "DOC0", 1, page);
    });
    EXPECT_EQ(shown(1), (std::array<uint32_t, 4>{270, 200, 100, 0x10 | TAV_AWD_FLAG_VIEWED}));
    // Page 1 is not viewed: defaults, combined with its page record.
    EXPECT_EQ(shown(2), (std::array<uint32_t, 4>{0, 25, 50, 0x3}));
    // With "BeenViewed" every page counts as viewed.
    with_storage(path, {kPersistent}, [](StgStorage* p) { put_stream(p, "BeenViewed", ""); });
    EXPECT_EQ(shown(2), (std::array<uint32_t, 4>{270, 100, 100, (0x3 ^ 0x10) | TAV_AWD_FLAG_VIEWED}));
    // A page record marked 0x80000000 is ignored; a short one is absent.
    page.flags = 0x80000000;
    with_storage(path, {kPersistent}, [&](StgStorage* p) { awd_write_page_record(p, "DOC0", 1, page); });
    EXPECT_EQ(shown(2), (std::array<uint32_t, 4>{270, 200, 100, 0x10 | TAV_AWD_FLAG_VIEWED}));
    with_storage(path, {kPersistent, "Document Information"},
                 [](StgStorage* d) { put_stream(d, "DOC0", std::string(25, '\0')); });
    EXPECT_EQ(shown(1), (std::array<uint32_t, 4>{0, 50, 50, 0}));
    destroy(path, {kPersistent}, "Document Information");
    EXPECT_EQ(shown(1), (std::array<uint32_t, 4>{0, 50, 50, 0}));
}

TEST_F(AwdReadTest, BandsHoldWholeRowsAndEndWithAnEmptyOne) {
    std::string path = dir.file("b.awd");
    const BitPage tall = pattern_page(1728, 2200, 4);
    ASSERT_EQ(make_awd_documents(path, {{tall, pattern_page(1728, 100, 5)}}), 0u);
    AwdHandle f;
    ASSERT_EQ(f.open(path), 0u);
    // A page need not be read to its end before the next is asked for.
    ASSERT_EQ(f.info(2, 8192), 0u);
    ASSERT_EQ(f.info(1, 8192), 0u);
    EXPECT_EQ(TAV_AWD_LOW(f.pi.maxStripSize), 37u * 216);
    EXPECT_EQ(f.pi.imageLength, 2220u);
    std::vector<uint8_t> buf(8192);
    uint32_t left = 9, err = 0;
    EXPECT_EQ(xtavread(&f.h, buf.data(), 0, 37 * 216 - 1, &left, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_COUNT));
    BitPage got;
    ASSERT_EQ(f.read_bands(1, &got), 0u);
    EXPECT_EQ(got.height, 2220u);
    got.height = 2200;
    got.bits.resize(size_t(216) * 2200);
    EXPECT_EQ(got, tall);
    // After the last band: nothing, and the viewer is no longer asked.
    viewer_fault("ViewerGetBand", 0);
    EXPECT_EQ(xtavread(&f.h, buf.data(), 0, 37 * 216, &left, 1, &err), 0);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(left, 0u);
    viewer_fault("", 0);
    // A shorter page of the document comes with its own line count; a band
    // size of 0 is one row.
    ASSERT_EQ(f.info(2, 0), 0u);
    EXPECT_EQ(TAV_AWD_LOW(f.pi.maxStripSize), 216u);
    EXPECT_EQ(f.pi.imageLength, 100u);
    // A viewer failure fails the read.
    viewer_fault("ViewerGetBand", 0);
    EXPECT_EQ(xtavread(&f.h, buf.data(), 0, 216, &left, 2, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_AWD_VIEWER));
    viewer_fault("", 0);
    ASSERT_EQ(f.read_page(2, &got), 0u);
    EXPECT_EQ(got, pattern_page(1728, 100, 5));
}

// Where AWD documents cannot be used: a platform without AWD support, a
// remote location, a file another open holds for writing.
TEST_F(AwdReadTest, PlatformsLocationsAndSharing) {
    std::string path = dir.file("s.awd");
    ASSERT_EQ(write_awd(path, {pattern_page(64, 8, 0)}), 0u);
    AwdHandle f, g;
    {
        plat_set_platform_id(2);
        DllMain(nullptr, 1, nullptr);
        EXPECT_EQ(f.open(path), uint32_t(TAV_E_NOT_SUPPORTED));
        EXPECT_EQ(g.create(dir.file("n.awd")), uint32_t(TAV_EINVAL));
        plat_set_platform_id(0);
        DllMain(nullptr, 1, nullptr);
    }
    EXPECT_FALSE(file_exists(dir.file("n.awd")));
    // Remotely the file is plain bytes, and no AWD file can be made.
    FileLocation loc{};
    loc.isRemote = 1;
    std::snprintf(loc.server, sizeof loc.server, "%s", dir.path().c_str());
    PathBuf name("s.awd");
    uint32_t type = 0, pages = 9, err = 0;
    int32_t h = xtavopen(&loc, name, TAV_OPEN_READ, &type, &pages, &err);
    ASSERT_GT(h, 0) << err;
    EXPECT_EQ(type, FILETYPE_RAW);
    xtavclose(&h, &err);
    FileLocation loc2 = loc;
    PathBuf other("t.awd");
    uint32_t awd = FILETYPE_AWD;
    EXPECT_LT(xtavcreat(&loc2, other, &awd, &err), 0);
    EXPECT_EQ(err, uint32_t(TAV_EINVAL));
    // Held for writing: a second open, here or in another process, is a
    // share violation; so is an open for raw bytes (flag bit 31): 273.
    ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    EXPECT_EQ(g.open(path), uint32_t(TAV_STG_E_SHAREVIOLATION));
    EXPECT_EQ(in_child([&] {
                  AwdHandle child;
                  return child.open(path) == TAV_STG_E_SHAREVIOLATION ? 0 : 1;
              }),
              0);
    f.close();
    EXPECT_EQ(g.open(path, TAV_OPEN_RAW), uint32_t(TAV_E_FLAGS));
    EXPECT_EQ(g.open(path), 0u);
}

}  // namespace
