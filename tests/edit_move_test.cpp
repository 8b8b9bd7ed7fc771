// Option 22: moving a page of a TIFF file open for update to an earlier place.
#include <gtest/gtest.h>

#include <cerrno>

#include "edit_tiff_util.h"
#include "qvtav.h"
#include "test_util.h"

using namespace edit_test;

namespace {

// Opens for update, moves page `from` before page `to`, closes. The result
// of the option call.
int move_page(const std::string& path, uint32_t to, uint32_t from, uint32_t* error) {
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, PathBuf(path), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, &pages, &err);
    EXPECT_GT(h, 0) << err;
    if (h <= 0) return -2;
    uint32_t value[2] = {to, from};
    int r = xtavopts(&h, 1, 22, value, error);
    EXPECT_EQ(xtavclose(&h, &err), 0) << err;
    return r;
}

// The software texts of the pages in chain order and in table order.
void expect_order(const std::string& path, const std::vector<std::string>& order) {
    Reader r(read_file(path));
    auto c = r.chain();
    ASSERT_EQ(c.size(), order.size());
    for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(r.ascii(*c[i].find(305)), order[i]) << i;
    const Entry* t = c[0].find(32934);
    if (!t) t = c[std::min<size_t>(1, c.size() - 1)].find(32934);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(r.u32(t->value + 8), order.size());
    for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(r.u32(t->value + 16 + 4 * uint32_t(i)), c[i].offset) << i;
}

}  // namespace

TEST(EditMove, ThirdOfFourBeforeFirst) {
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        TempDir d;
        std::string path = d.file("doc.tif");
        write_file(path, build_tiff(numbered_pages(4, 2, 32), mm, 0, true));
        uint32_t err = 0;
        ASSERT_EQ(move_page(path, 1, 3, &err), 0) << err;
        expect_order(path, {"page 3", "page 1", "page 2", "page 4"});
        // The reader agrees: page 1 is now the old page 3.
        uint32_t type = 0, pages = 0;
        int32_t h = xtavopen(nullptr, PathBuf(path), 0, &type, &pages, &err);
        ASSERT_GT(h, 0);
        EXPECT_EQ(pages, 4u);
        xtavclose(&h, &err);
    }
}

TEST(EditMove, LastBeforeSecondAndRefusals) {
    TempDir d;
    std::string path = d.file("doc.tif");
    write_file(path, build_tiff(numbered_pages(5, 1, 16), false, 0, true));
    uint32_t err = 0;
    ASSERT_EQ(move_page(path, 2, 5, &err), 0) << err;
    expect_order(path, {"page 1", "page 5", "page 2", "page 3", "page 4"});
    auto before = read_file(path);
    EXPECT_EQ(move_page(path, 3, 3, &err), -1);  // the target must lie before the page
    EXPECT_EQ(move_page(path, 4, 2, &err), -1);
    EXPECT_EQ(move_page(path, 1, 6, &err), -1);  // beyond the last page
    EXPECT_EQ(read_file(path), before);
}
