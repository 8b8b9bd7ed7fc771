// Deleting and moving AWD pages: the pages and display order that result,
// compared with a model, the records that follow the pages, and the file's
// state after a failure in the encoder, the viewer or the storage engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "awd_test_util.h"
#include "fileio/mem.h"
#include "formats/awd/awd_state.h"
#include "frame/fct.h"
#include "platform/plat_fault.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

constexpr uint32_t kWidth = 96;
constexpr uint32_t kHeight = 24;

BitPage page(uint32_t id) { return pattern_page(kWidth, kHeight, id); }

std::vector<BitPage> pages_of(const std::vector<uint32_t>& ids) {
    std::vector<BitPage> out;
    for (uint32_t id : ids) out.push_back(page(id));
    return out;
}

// The ids of the pages a file holds, in order; 999 for a page that is
// none of ids 0 to 99; nothing when the file does not read.
std::vector<uint32_t> ids_in(const std::string& path) {
    std::vector<uint32_t> ids;
    for (const BitPage& p : read_awd(path)) {
        uint32_t found = 999;
        for (uint32_t id = 0; id < 100 && found == 999; ++id)
            if (p == page(id)) found = id;
        ids.push_back(found);
    }
    return ids;
}

struct AwdEditTest : AwdFileTest {
    std::string make(const std::vector<std::vector<uint32_t>>& docs) {
        std::string path = dir.file("f" + std::to_string(n++) + ".awd");
        std::vector<std::vector<BitPage>> d;
        for (const auto& ids : docs) d.push_back(pages_of(ids));
        EXPECT_EQ(make_awd_documents(path, d), 0u);
        return path;
    }
    int n = 0;
};

bool temp_named(const std::string& name) { return name.rfind("WWW", 0) == 0 && name.size() > 7; }

TEST_F(AwdEditTest, DeletingInsideADocumentLeavesItsHeadAndTailWithTheirRecords) {
    std::string path = make({{0, 1, 2}});
    {
        // Page records for the first and last page: turned 90 and 180.
        AwdHandle f;
        ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        PageInfo i = awd_new_page(kWidth);
        i.maxStripSize = TAV_AWD_PAIR(0, 90);
        ASSERT_EQ(f.put(1, i), 0u);
        i.maxStripSize = TAV_AWD_PAIR(0, 180);
        ASSERT_EQ(f.put(3, i), 0u);  // a second xtavputi needs no data in between
    }
    ASSERT_EQ(delete_pages(path, 2, 2), 0u);
    EXPECT_EQ(ids_in(path), (std::vector<uint32_t>{0, 2}));
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_TRUE(temp_named(order[0]) && temp_named(order[1]) && order[0] != order[1]);
    EXPECT_EQ(document_streams(path), (std::vector<std::string>{std::min(order[0], order[1]),
                                                                std::max(order[0], order[1])}));
    for (const char* holder : {"Document Information", "Page Information", "PagesStatus"})
        EXPECT_FALSE(awd_element_exists(path, {"Persistent Information", holder, "DOC0"})) << holder;
    // Each new document's page 0 carries the old page's record and mark.
    EXPECT_TRUE(awd_element_exists(path, {"Persistent Information", "Page Information", order[1], "Page0"}));
    EXPECT_FALSE(awd_element_exists(path, {"Persistent Information", "Page Information", order[1], "Page2"}));
    AwdHandle f;
    ASSERT_EQ(f.open(path), 0u);
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(TAV_AWD_HIGH(f.pi.maxStripSize), 90u);
    EXPECT_TRUE(f.pi.rowsPerStrip & TAV_AWD_FLAG_VIEWED);
    ASSERT_EQ(f.info(2), 0u);
    EXPECT_EQ(TAV_AWD_HIGH(f.pi.maxStripSize), 180u);
    EXPECT_TRUE(f.pi.rowsPerStrip & TAV_AWD_FLAG_VIEWED);
}

TEST_F(AwdEditTest, DeletionsAcrossDocumentsKeepOnlyWhatIsOutsideTheRange) {
    struct Case {
        const char* name;
        std::vector<std::vector<uint32_t>> docs;
        int32_t first;
        uint32_t last;
        std::vector<uint32_t> left;
        size_t newDocs;  // temporary-named documents in the order
        size_t oldDocs;  // documents kept as they were
    };
    const Case cases[] = {
        {"head and tail of two documents", {{0, 1, 2}, {3, 4}, {5, 6}}, 3, 6, {0, 1, 6}, 2, 0},
        {"the last page of a document: no tail", {{0, 1}, {2}}, 2, 2, {0, 2}, 1, 1},
        {"the first page of a document: no head", {{0}, {1, 2}}, 2, 2, {0, 2}, 1, 1},
        {"the only page of a document", {{0}, {1}, {2}}, 2, 2, {0, 2}, 0, 2},
        {"whole documents", {{0}, {1, 2}, {3}}, 1, 3, {3}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = make(c.docs);
        ASSERT_EQ(delete_pages(path, c.first, c.last), 0u);
        EXPECT_EQ(ids_in(path), c.left);
        std::vector<std::string> order = display_order(path);
        size_t fresh = size_t(std::count_if(order.begin(), order.end(), temp_named));
        EXPECT_EQ(fresh, c.newDocs);
        EXPECT_EQ(order.size() - fresh, c.oldDocs);
        EXPECT_EQ(document_streams(path).size(), order.size());
    }
}

TEST_F(AwdEditTest, DeletingEveryPageRemovesTheFileAndBadRangesChangeNothing) {
    std::string path = make({{0}, {1, 2}});
    std::vector<uint8_t> before = read_file(path);
    for (auto [first, last] : {std::pair<int32_t, uint32_t>{0, 1}, {2, 1}, {2, 4}, {-1, 2}})
        EXPECT_EQ(delete_pages(path, first, last), uint32_t(TAV_E_PAGE)) << first << "-" << last;
    EXPECT_EQ(read_file(path), before);
    // New properties are refused and change nothing.
    PageInfo props{};
    char t[] = "title";
    props.title = props.author = props.subject = props.keywords = props.comments = t;
    PathBuf p(path);
    uint32_t err = 0;
    errno = 0;
    EXPECT_EQ(xtavputprops(nullptr, p, &props, &err), -1);
    EXPECT_EQ(errno, TAV_E_NOT_SUPPORTED);
    EXPECT_EQ(read_file(path), before);
    ASSERT_EQ(delete_pages(path, 1, 3), 0u);
    EXPECT_FALSE(file_exists(path));
}

TEST_F(AwdEditTest, TheLastDocumentMovesBeforeAPage) {
    std::string path = make({{0, 1}, {2}, {3, 4}});
    // Only the last page may be named, and only a move to the front.
    std::vector<uint8_t> before = read_file(path);
    EXPECT_EQ(move_last(path, 4, 1), uint32_t(TAV_E_PAGE));
    EXPECT_EQ(move_last(path, 0, 1), uint32_t(TAV_E_PAGE));
    EXPECT_EQ(read_file(path), before);
    // Inside the last document: nothing moves.
    EXPECT_EQ(move_last(path, 5, 4), 0u);
    EXPECT_EQ(ids_in(path), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    // Before the first page: the whole last document comes first.
    EXPECT_EQ(move_last(path, 5, 1), 0u);
    EXPECT_EQ(ids_in(path), (std::vector<uint32_t>{3, 4, 0, 1, 2}));
    EXPECT_EQ(display_order(path), (std::vector<std::string>{"DOC2", "DOC0", "DOC1"}));
    // Before a page inside a document: that document is cut there.
    EXPECT_EQ(move_last(path, 5, 4), 0u);
    EXPECT_EQ(ids_in(path), (std::vector<uint32_t>{3, 4, 0, 2, 1}));
    std::vector<std::string> order = display_order(path);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0], "DOC2");
    EXPECT_TRUE(temp_named(order[1]) && order[2] == "DOC1" && temp_named(order[3]));
}

// Deletions, moves, appended and replaced pages in random order, each
// checked against the model.
TEST_F(AwdEditTest, RandomEditsFollowTheModel) {
    std::mt19937 rng(17);
    Docs model = {{0, 1, 2}, {3}, {4, 5}};
    std::string path = make(model);
    uint32_t next = 6;
    for (int step = 0; step < 30; ++step) {
        uint32_t n = uint32_t(flat(model).size());
        int kind = int(rng() % 4);
        SCOPED_TRACE("step " + std::to_string(step) + " kind " + std::to_string(kind));
        if (kind == 0 && n > 3) {
            uint32_t first = rng() % n, last = std::min(n - 2, first + uint32_t(rng() % 3));
            if (last < first) continue;
            ASSERT_EQ(delete_pages(path, int32_t(first + 1), last + 1), 0u);
            model_delete(model, first, last);
        } else if (kind == 1) {
            uint32_t target = rng() % n;
            ASSERT_EQ(move_last(path, n, target + 1), 0u);
            if (target < n - model.back().size()) {
                std::vector<uint32_t> last = model.back();
                model.pop_back();
                size_t at = cut_at(model, target);
                model.insert(model.begin() + long(at), last);
            }
        } else {
            // Append (kind 2), or replace page k.
            uint32_t k = kind == 2 ? n : rng() % n;
            AwdHandle f;
            ASSERT_EQ(f.open(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
            ASSERT_EQ(f.write_page(uint16_t(k + 1), page(next)), 0u);
            ASSERT_EQ(f.close(), 0u);
            if (k < n) model_delete(model, k, k);
            model.insert(model.begin() + long(cut_at(model, k)), {next});
            ++next;
        }
        ASSERT_EQ(ids_in(path), flat(model));
        ASSERT_EQ(display_order(path).size(), model.size());
        ASSERT_EQ(document_streams(path).size(), model.size());
    }
}

// The pages of a file after a failed edit. When the display order was cut
// short during its rewrite, the backup holds the old one: it is put back
// first, as the library's own rewrite would have done.
std::vector<uint32_t> pages_after_failure(const std::string& path) {
    std::vector<uint32_t> ids = ids_in(path);
    if (!ids.empty() || !awd_element_exists(path, {"Persistent Information", "Global Information", "TexoBackupDO"}))
        return ids;
    {
        StgRef<StgStorage> root, persistent, global;
        EXPECT_EQ(open_root(path, kStgModeWrite, root), 0u);
        root->ops->OpenStorage(root.get(), wide("Persistent Information").c_str(), nullptr, kStgModeWrite,
                               nullptr, 0, persistent.put());
        persistent->ops->OpenStorage(persistent.get(), wide("Global Information").c_str(), nullptr,
                                     kStgModeWrite, nullptr, 0, global.put());
        global->ops->DestroyElement(global.get(), wide("Display Order").c_str());
        EXPECT_EQ(global->ops->RenameElement(global.get(), wide("TexoBackupDO").c_str(),
                                             wide("Display Order").c_str()),
                  0u);
    }
    return ids_in(path);
}

// Every write of the storage engine fails in turn, from the nth on, during
// a deletion that cuts documents and during a move: a call that fails
// leaves the pages as they were, one that succeeds as changed.
TEST_F(AwdEditTest, StorageFailuresDuringDeleteAndMoveNeverLoseAPage) {
    std::string base = make({{0, 1, 2}, {3}, {4, 5}});
    std::vector<uint8_t> bytes = read_file(base);
    const std::vector<uint32_t> before = {0, 1, 2, 3, 4, 5};
    struct Op {
        const char* name;
        std::function<uint32_t(const std::string&)> run;
        std::vector<uint32_t> after;
    };
    const Op ops[] = {
        {"delete 2-4", [](const std::string& p) { return delete_pages(p, 2, 4); }, {0, 4, 5}},
        {"move 6 before 2", [](const std::string& p) { return move_last(p, 6, 2); }, {0, 4, 5, 1, 2, 3}},
    };
    for (const Op& op : ops) {
        bool finished = false;
        uint32_t failed = 0, kept = 0;
        for (uint32_t nth = 1; nth < 400 && !finished; ++nth) {
            SCOPED_TRACE(std::string(op.name) + ", write " + std::to_string(nth));
            std::string path = dir.file("fault.awd");
            write_file(path, bytes);
            plat_fault_arm(PlatFaultPlan{PlatStep::Write, nth, PlatFailure::Error, true});
            uint32_t rc = op.run(path);
            bool fired = plat_fault_fired();
            plat_fault_disarm();
            std::vector<uint32_t> got = pages_after_failure(path);
            if (!fired) {
                EXPECT_EQ(rc, 0u);
                EXPECT_EQ(got, op.after);
                finished = true;
                continue;
            }
            // A failure reported left the file as it was; one after the
            // new order was written is no failure.
            EXPECT_EQ(got, rc ? before : op.after);
            ++failed;
            if (rc) ++kept;
            EXPECT_TRUE(dir_names(tmp.path()).empty());
        }
        EXPECT_TRUE(finished) << op.name;
        // The walk met failures before and after the new order was written.
        EXPECT_GT(kept, 0u) << op.name;
        EXPECT_GT(failed, kept) << op.name;
    }
}

// A refusal of the encoder or the viewer while a deletion or a move
// re-encodes the pages that stay: the edit fails and the file keeps every
// page, its documents and their order.
TEST_F(AwdEditTest, EncoderOrViewerFailuresDuringDeleteAndMoveChangeNothing) {
    std::string path = make({{0, 1, 2, 3}, {4}});
    const std::vector<std::string> order = display_order(path);
    struct Fault {
        bool encoder;
        const char* entry;
        uint32_t after;
        uint32_t code;
    };
    const Fault faults[] = {
        {true, "ImageCreate", 1, TAV_E_AWD_ENCODER},  {true, "ImageSetBand", 0, TAV_E_AWD_ENCODER},
        {true, "ImageSetBand", 5, TAV_E_AWD_ENCODER}, {true, "ImageClose", 1, TAV_E_AWD_ENCODER},
        {false, "ViewerGetBand", 0, TAV_E_AWD_VIEWER}, {false, "ViewerSetPage", 1, TAV_E_AWD_VIEWER},
    };
    for (bool move : {false, true})
        for (const Fault& f : faults) {
            SCOPED_TRACE(std::string(move ? "move, " : "delete, ") + f.entry + " after " + std::to_string(f.after));
            (f.encoder ? encoder_fault : viewer_fault)(f.entry, f.after);
            EXPECT_EQ(move ? move_last(path, 5, 3) : delete_pages(path, 3, 3), f.code);
            (f.encoder ? encoder_fault : viewer_fault)("", 0);
            EXPECT_EQ(ids_in(path), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
            EXPECT_EQ(display_order(path), order);
            EXPECT_EQ(document_streams(path), (std::vector<std::string>{"DOC0", "DOC1"}));
            EXPECT_FALSE(awd_element_exists(path, {"Persistent Information", "Global Information", "TexoBackupDO"}));
        }
    EXPECT_EQ(move_last(path, 5, 3), 0u);
    EXPECT_EQ(ids_in(path), (std::vector<uint32_t>{0, 1, 4, 2, 3}));
}

}  // namespace
