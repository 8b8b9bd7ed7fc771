// AWD files as fax programs leave them, built by hand (ImageMagick for the
// multi-page document streams, gsf createole for the compound file): pages
// of one document that differ in length and resolution, read, cut and
// moved.
#include <gtest/gtest.h>

#include <functional>

#include "awd_fax_files.h"
#include "awd_test_util.h"
#include "fileio/mem.h"
#include "platform/plat_proc.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

constexpr uint32_t kFaxWidth = 1728;
constexpr uint32_t kFaxRowBytes = kFaxWidth / 8;
// With bands of 8192 bytes the viewer settles on 37 rows of 216 bytes.
constexpr uint16_t kBandBytes = 8192;
constexpr uint32_t kBandRows = 37;

uint32_t in_bands(uint32_t rows) { return (rows + kBandRows - 1) / kBandRows * kBandRows; }

// A received fax: pages of 200, 150 and 180 rows, standard, fine and
// 204 x 196 dpi; and a one-page document after it.
const std::vector<FaxPage>& received() {
    static const std::vector<FaxPage> pages = {
        {pattern_page(kFaxWidth, 200, 1), 200, 100},
        {pattern_page(kFaxWidth, 150, 2), 200, 200},
        {pattern_page(kFaxWidth, 180, 3), 204, 196},
    };
    return pages;
}
const FaxPage& cover() {
    static const FaxPage page{pattern_page(kFaxWidth, 90, 4), 300, 300};
    return page;
}

struct AwdFaxTest : AwdFileTest {
    void SetUp() override {
        if (fax_tools_missing()) GTEST_SKIP() << "gsf or ImageMagick missing";
        AwdFileTest::SetUp();
    }
    std::string build(const FaxFile& f) {
        std::string path = dir.file("fax" + std::to_string(n++) + ".awd");
        EXPECT_TRUE(build_fax_file(path, f));
        return path;
    }
    std::string received_fax() {
        return build({{{"FAX", received()}, {"COVER", {cover()}}}, order_bytes({"FAX", "COVER"}), {}});
    }
    int n = 0;
};

// What xtavgeti reports of a page, and the page's rows when read with one
// row a band.
struct Seen {
    uint32_t length = 0, dataBytes = 0, rawBytes = 0, xRes = 0, yRes = 0;
    BitPage rows;
};

Seen see(AwdHandle& f, uint16_t page, uint16_t band) {
    Seen s;
    EXPECT_EQ(f.info(page, band), 0u) << "page " << page;
    s.length = f.pi.imageLength;
    s.dataBytes = f.ps.dataBytes;
    s.rawBytes = f.ps.rawBytes;
    s.xRes = f.pi.xResNum;
    s.yRes = f.pi.yResNum;
    EXPECT_EQ(f.read_bands(page, &s.rows), 0u) << "page " << page;
    return s;
}

TEST_F(AwdFaxTest, EveryPageOfADocumentReportsItsOwnLengthAndResolution) {
    std::string path = received_fax();
    AwdHandle f;
    ASSERT_EQ(f.open(path), 0u);
    ASSERT_EQ(f.pages, 4u);
    std::vector<FaxPage> all = received();
    all.push_back(cover());
    // Asked for in an order that is not the pages': each page's values are
    // its own, not those of the page asked for before.
    for (uint16_t page : {3, 1, 2, 4, 2}) {
        SCOPED_TRACE("page " + std::to_string(page));
        const FaxPage& want = all[page - 1];
        Seen s = see(f, page, kBandBytes);
        EXPECT_EQ(s.length, in_bands(want.bits.height));
        EXPECT_EQ(s.dataBytes, s.length * kFaxRowBytes);
        EXPECT_EQ(s.rawBytes, s.length * kFaxRowBytes);
        EXPECT_EQ(s.xRes, want.xRes);
        EXPECT_EQ(s.yRes, want.yRes);
        // The bands hold the page, then white rows up to the last band's end.
        ASSERT_EQ(s.rows.height, s.length);
        BitPage padded = want.bits;
        padded.height = s.length;
        padded.bits.resize(size_t(s.length) * kFaxRowBytes, 0);
        EXPECT_EQ(s.rows, padded);
        // With one row a band, the length is the page's own.
        Seen exact = see(f, page, 0);
        EXPECT_EQ(exact.length, want.bits.height);
        EXPECT_EQ(exact.rows, want.bits);
    }
    // The page information of the second page before the first is asked
    // for: the first case of the issue (page 2 of 150 rows reported 222).
    f.close();
    AwdHandle g;
    ASSERT_EQ(g.open(path), 0u);
    ASSERT_EQ(g.info(2, kBandBytes), 0u);
    EXPECT_EQ(g.pi.imageLength, 185u);
    EXPECT_EQ(g.ps.dataBytes, 39960u);
}

// Page `id` of the corpus: its rows tell it apart, and its length and
// resolution differ from its neighbours'.
FaxPage corpus_page(uint32_t id) {
    static const uint16_t res[3][2] = {{200, 100}, {200, 200}, {204, 196}};
    return {pattern_page(512, 40 + (id * 13) % 60, id + 10), res[id % 3][0], res[id % 3][1]};
}

FaxDoc corpus_doc(const std::string& name, const std::vector<uint32_t>& ids) {
    FaxDoc d{name, {}};
    for (uint32_t id : ids) d.pages.push_back(corpus_page(id));
    return d;
}

constexpr uint32_t kNoPage = 999;

// The ids of the pages a file shows, each checked to come with its own
// resolution; kNoPage for a page that is none of the corpus's.
std::vector<uint32_t> corpus_ids(const std::string& path) {
    AwdHandle f;
    std::vector<uint32_t> ids;
    if (f.open(path) != 0) return {kNoPage};
    for (uint16_t p = 1; p <= f.pages; ++p) {
        BitPage got;
        if (f.read_page(p, &got) != 0) return {kNoPage};
        uint32_t id = 0;
        while (id < 100 && !(corpus_page(id).bits == got)) ++id;
        if (id == 100) return {kNoPage};
        EXPECT_EQ(f.pi.xResNum, corpus_page(id).xRes) << "page " << p;
        EXPECT_EQ(f.pi.yResNum, corpus_page(id).yRes) << "page " << p;
        ids.push_back(id);
    }
    return ids;
}

// A name of the display order as olefile shows element names: bytes that
// are not UTF-8 (only Latin letters in this corpus) are Windows-1252.
std::string utf8_of(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// olefile's view of the file: no left-over backup of the order, and
// document streams `streams` in number, each named by the display order.
// (The trees gsf writes are not balanced, so the strict check is not made.)
void expect_olefile_view(const std::string& path, size_t streams) {
    std::string listing = olefile_listing(path);
    EXPECT_EQ(listing.find("TexoBackupDO"), std::string::npos) << listing;
    std::vector<std::string> order = display_order(path);
    size_t seen = 0;
    const std::string prefix = "/Documents/";
    for (size_t at = listing.find(prefix); at != std::string::npos; at = listing.find(prefix, at + 1)) {
        std::string name = listing.substr(at + prefix.size(), listing.find(" stream", at) - at - prefix.size());
        bool named = false;
        for (const std::string& n : order) named = named || utf8_of(n) == name;
        EXPECT_TRUE(named) << name << " is not in the display order";
        ++seen;
    }
    EXPECT_EQ(seen, streams) << listing;
}

std::vector<std::string> temp_names(const std::vector<std::string>& order) {
    std::vector<std::string> out;
    for (const std::string& n : order)
        if (n.rfind("WWW", 0) == 0) out.push_back(n);
    return out;
}

// Cuts through documents of pages that differ in resolution and length:
// each surviving page keeps its own rows and resolution; a head or tail of
// mixed resolutions becomes one document per run of one resolution.
TEST_F(AwdFaxTest, CutsKeepEachSurvivingPageItsOwnRowsAndResolution) {
    const std::vector<FaxPage>& r = received();
    auto rows_of = [](const std::string& path) {
        AwdHandle f;
        std::vector<std::array<uint32_t, 3>> out;  // rows, x and y resolution
        EXPECT_EQ(f.open(path), 0u);
        for (uint16_t p = 1; p <= f.pages; ++p) {
            BitPage got;
            EXPECT_EQ(f.read_page(p, &got), 0u);
            out.push_back({got.height, f.pi.xResNum, f.pi.yResNum});
        }
        return out;
    };
    auto shape = [](const FaxPage& p) { return std::array<uint32_t, 3>{p.bits.height, p.xRes, p.yRes}; };
    // The first page goes: the 150-row fine page and the 180-row
    // 204 x 196 page become a document each.
    std::string path = received_fax();
    ASSERT_EQ(delete_pages(path, 1, 1), 0u);
    EXPECT_EQ(read_awd(path), (std::vector<BitPage>{r[1].bits, r[2].bits, cover().bits}));
    EXPECT_EQ(rows_of(path), (std::vector<std::array<uint32_t, 3>>{shape(r[1]), shape(r[2]), shape(cover())}));
    EXPECT_EQ(temp_names(display_order(path)).size(), 2u);
    expect_olefile_view(path, 3);
    // The cover moves before the third page: a head of two resolutions
    // (two documents) and a tail of one.
    path = received_fax();
    ASSERT_EQ(move_last(path, 4, 3), 0u);
    EXPECT_EQ(rows_of(path), (std::vector<std::array<uint32_t, 3>>{shape(r[0]), shape(r[1]), shape(cover()),
                                                                   shape(r[2])}));
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[2], "COVER");
    EXPECT_EQ(temp_names(order).size(), 3u);
    expect_olefile_view(path, 4);
    // Pages of one resolution stay together.
    path = build({{corpus_doc("A", {0, 3, 6, 1})}, order_bytes({"A"}), {}});
    ASSERT_EQ(delete_pages(path, 4, 4), 0u);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 3, 6}));
    EXPECT_EQ(temp_names(display_order(path)).size(), 1u);
}

using Edit = std::function<uint32_t(const std::string&)>;

// The engine's listing of the file; with `stamped`, the page records'
// contents are left out (xtavputi stores a page's record, stamped with the
// time, before any data follows).
std::string tree_of(const std::string& path, bool stamped) {
    std::string listing = engine_listing(path);
    if (!stamped) return listing;
    std::string out;
    for (size_t at = 0, end; at < listing.size(); at = end + 1) {
        end = listing.find('\n', at);
        std::string line = listing.substr(at, end - at);
        if (line.find("/Page Information/") != std::string::npos) line = line.substr(0, line.rfind(' '));
        out += line + "\n";
    }
    return out;
}

// Runs `edit` on fresh copies of the file, the call of one viewer or
// encoder entry point after k further calls failing, for k = 0, 1, ...
// until the edit succeeds: every failure reported leaves every element of
// the file as it was, and the edit that succeeds gives `after`.
void fault_walk(const std::string& base, const std::string& work, const Edit& edit,
                const std::vector<uint32_t>& after, bool stamped = false) {
    const std::vector<uint8_t> bytes = read_file(base);
    const std::string before = tree_of(base, stamped);
    const std::pair<bool, const char*> entries[] = {
        {false, "ViewerOpen"},  {false, "ViewerSetPage"}, {false, "ViewerGetBand"},
        {true, "ImageCreate"}, {true, "ImageSetBand"},   {true, "ImageClose"},
    };
    for (auto [encoder, entry] : entries) {
        uint32_t failures = 0;
        for (uint32_t k = 0; k < 100; ++k) {
            SCOPED_TRACE(std::string(entry) + " after " + std::to_string(k));
            write_file(work, bytes);
            (encoder ? encoder_fault : viewer_fault)(entry, k);
            uint32_t rc = edit(work);
            (encoder ? encoder_fault : viewer_fault)("", 0);
            if (rc == 0) {
                EXPECT_EQ(corpus_ids(work), after);
                break;
            }
            ++failures;
            EXPECT_EQ(tree_of(work, stamped), before);
        }
        EXPECT_GT(failures, 0u) << entry;
    }
}

// A page written over page `page`; on a failure the same handle still
// reads the file's first page.
Edit write_over(uint16_t page, uint32_t id) {
    return [page, id](const std::string& path) {
        AwdHandle f;
        if (uint32_t rc = f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE)) return rc;
        FaxPage p = corpus_page(id);
        PageInfo info = awd_new_page(p.bits.width, p.xRes);
        info.yResNum = p.yRes;
        uint32_t rc = f.put(page, info);
        if (rc == 0) rc = f.write_rows(page, p.bits);
        if (rc) {
            BitPage first;
            EXPECT_EQ(f.read_page(1, &first), 0u);
            return rc;
        }
        return f.close();
    };
}

// Failures of the viewer and the encoder at every step of a cut, a move
// and a write-over: before the new order is written, the call fails and
// the file is as it was; after it, the call succeeds.
TEST_F(AwdFaxTest, ViewerAndEncoderFailuresNeverReportAChangeThatWasMade) {
    // Page 2 of A has settings of its own, which a write-over stores again
    // (xtavputi stores them at once).
    FaxFile f{{corpus_doc("A", {0, 1, 2}), corpus_doc("B", {3, 4})}, order_bytes({"A", "B"}), {}};
    f.persistent = {{"Document Information/A", doc_record_bytes(0, 0, 100, 100)},
                    {"Page Information/A/Page1", page_record_bytes(0, 0, 100, 100)},
                    {"PagesStatus/A/Page1", ""}};
    std::string base = build(f);
    std::string work = dir.file("work.awd");
    fault_walk(base, work, [](const std::string& p) { return delete_pages(p, 2, 2); }, {0, 2, 3, 4});
    fault_walk(base, work, [](const std::string& p) { return move_last(p, 5, 2); }, {0, 3, 4, 1, 2});
    fault_walk(base, work, write_over(2, 7), {0, 7, 2, 3, 4}, true);
}

// Leftover records under temporary names, as an interrupted fax program
// leaves them, never pass to a new document: the new names are free in
// every storage that keys on them and in the display order.
TEST_F(AwdFaxTest, NewDocumentsTakeNoLeftoverRecords) {
    FaxFile f{{corpus_doc("A", {0, 1, 2})}, order_bytes({"A"}) + std::string("\0WWW1002.TMP\0", 13), {}};
    f.persistent = {
        {"Document Information/WWW1000.TMP", doc_record_bytes(0x10, 90, 200, 200)},
        {"Page Information/WWW1000.TMP/Page0", page_record_bytes(0, 180, 100, 100)},
        {"PagesStatus/WWW1000.TMP/Page0", ""},
        {"PagesStatus/WWW1001.TMP/Page0", ""},
        {"Page Information/WWW1003.TMP/Page0", page_record_bytes(0, 90, 100, 100)},
    };
    std::string path = build(f);
    const std::string leftovers = olefile_listing(path);
    plat_fix_tick_count(0x1000);
    EXPECT_EQ(delete_pages(path, 1, 1), 0u);
    AwdHandle h;
    uint32_t rc = h.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
    if (rc == 0) rc = h.write_page(3, corpus_page(4).bits);  // 200 x 200 dpi
    if (rc == 0) rc = h.close();
    plat_fix_tick_count(0);
    ASSERT_EQ(rc, 0u);
    EXPECT_EQ(corpus_ids(path).size(), 3u);
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 3u);
    for (const std::string& name : order)
        EXPECT_TRUE(name > "WWW1003.TMP" && name.size() == 11) << name;
    // The pages cut show no settings of their own: not viewed, no turn, the
    // default scales. The page written shows what it was given.
    AwdHandle g;
    ASSERT_EQ(g.open(path), 0u);
    for (uint16_t p = 1; p <= 2; ++p) {
        ASSERT_EQ(g.info(p), 0u);
        EXPECT_EQ(g.pi.maxStripSize >> 16, 0u) << p;
        EXPECT_EQ(g.pi.stripCount, TAV_AWD_PAIR(50, 50)) << p;
        EXPECT_EQ(g.pi.rowsPerStrip, 0u) << p;
    }
    ASSERT_EQ(g.info(3), 0u);
    EXPECT_EQ(g.pi.stripCount, TAV_AWD_PAIR(100, 100));
    g.close();
    // The leftovers are still there, untouched.
    std::string now = olefile_listing(path);
    for (const char* name : {"WWW1000.TMP", "WWW1001.TMP", "WWW1003.TMP"}) {
        size_t at = leftovers.find(name);
        while (at != std::string::npos) {
            std::string line = leftovers.substr(leftovers.rfind('\n', at) + 1);
            line = line.substr(0, line.find('\n'));
            EXPECT_NE(now.find(line), std::string::npos) << line;
            at = leftovers.find(name, at + 1);
        }
    }
}

// Display orders with names whose stream is gone, names listed twice and
// names after an empty one: the file opens with every listed document
// once, edits keep what they do not change, and no stream the order still
// names is destroyed.
TEST_F(AwdFaxTest, DisplayOrdersAreReadAndRewrittenAsFound) {
    using namespace std::string_literals;
    // A name without a stream, listed first: a document of no pages.
    std::string path = build({{corpus_doc("A", {0, 1}), corpus_doc("B", {2})}, order_bytes({"GONE", "A", "B"}), {}});
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 1, 2}));
    ASSERT_EQ(delete_pages(path, 1, 1), 0u);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{1, 2}));
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], "GONE");
    EXPECT_EQ(order[2], "B");
    expect_olefile_view(path, 2);

    // A name listed twice counts once; the rotate-all flag turns it once.
    path = build({{corpus_doc("A", {0, 1}), corpus_doc("B", {2})}, order_bytes({"A", "A", "B"}), {}});
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 1, 2}));
    {
        AwdHandle f;
        ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        PageInfo turn = awd_new_page(512);
        turn.maxStripSize = TAV_AWD_PAIR(0, 90);
        turn.rowsPerStrip = TAV_AWD_FLAG_ROTATE_ALL;
        ASSERT_EQ(f.put(1, turn), 0u);
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(TAV_AWD_HIGH(f.pi.maxStripSize), 90u);
    }
    // Deleting the last page keeps A, listed twice as it was.
    ASSERT_EQ(delete_pages(path, 3, 3), 0u);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(display_order(path), (std::vector<std::string>{"A", "A"}));
    expect_olefile_view(path, 1);
    // Cutting A takes both of its entries out.
    ASSERT_EQ(delete_pages(path, 1, 1), 0u);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{1}));
    EXPECT_EQ(temp_names(display_order(path)).size(), 1u);
    EXPECT_EQ(display_order(path).size(), 1u);
    expect_olefile_view(path, 1);

    // Names after an empty name are hidden, and stay in the order; so does
    // a name beyond the number of streams.
    path = build({{corpus_doc("A", {0, 1}), corpus_doc("B", {2})}, "A\0C\0\0B\0"s, {}});
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 1}));
    ASSERT_EQ(delete_pages(path, 2, 2), 0u);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0}));
    StgRef<StgStorage> root, persistent, global;
    ASSERT_EQ(open_root(path, kStgModeRead, root), 0u);
    ASSERT_EQ(root->ops->OpenStorage(root.get(), u"Persistent Information", nullptr, kStgModeRead, nullptr, 0,
                                     persistent.put()), 0u);
    ASSERT_EQ(persistent->ops->OpenStorage(persistent.get(), u"Global Information", nullptr, kStgModeRead,
                                           nullptr, 0, global.put()), 0u);
    std::string bytes = get_stream(global.get(), "Display Order");
    EXPECT_EQ(bytes.substr(0, 3), "WWW");
    EXPECT_EQ(bytes.substr(bytes.find('\0') + 1), "C\0\0B\0"s);
    global.reset();
    persistent.reset();
    root.reset();
    EXPECT_TRUE(awd_element_exists(path, {"Documents", "B"}));
}

// Names in the Windows code page: the document "Fax\xFC" whose elements a
// Windows program named "Faxü".
TEST_F(AwdFaxTest, NamesInTheWindowsCodePage) {
    using namespace std::string_literals;
    FaxFile f{{corpus_doc("Fax\xC3\xBC", {0, 1}), corpus_doc("B", {2, 3})}, "Fax\xFC\0B\0"s, {}};
    f.persistent = {{"Document Information/Fax\xC3\xBC", doc_record_bytes(0, 90, 100, 100)},
                    {"PagesStatus/Fax\xC3\xBC/Page0", ""}};
    std::string path = build(f);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 1, 2, 3}));
    {
        AwdHandle h;
        ASSERT_EQ(h.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        ASSERT_EQ(h.info(1), 0u);
        EXPECT_EQ(TAV_AWD_HIGH(h.pi.maxStripSize), 270u);  // the document's record
        EXPECT_EQ(h.pi.stripCount, TAV_AWD_PAIR(100, 100));
        PageInfo shown = awd_new_page(512);
        shown.stripCount = TAV_AWD_PAIR(150, 150);
        ASSERT_EQ(h.put(2, shown), 0u);
    }
    EXPECT_TRUE(awd_element_exists(path, {"Persistent Information", "Page Information", "Fax\xC3\xBC", "Page1"}));
    ASSERT_EQ(delete_pages(path, 3, 3), 0u);
    EXPECT_EQ(corpus_ids(path), (std::vector<uint32_t>{0, 1, 3}));
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "Fax\xFC");  // written back as it was read
    expect_olefile_view(path, 2);
    AwdHandle h;
    ASSERT_EQ(h.open(path), 0u);
    ASSERT_EQ(h.info(2), 0u);
    EXPECT_EQ(h.pi.stripCount, TAV_AWD_PAIR(150, 150));
}

}  // namespace
