// Page lists and copy sources of the qvtav tool's command line.
#include <gtest/gtest.h>

#include "page_range.h"

using namespace qvtool;

namespace {

std::vector<uint32_t> pages(const char* text, uint32_t count) {
    std::string why;
    auto ranges = parse_page_list(text, &why);
    EXPECT_TRUE(ranges.has_value()) << text << ": " << why;
    if (!ranges) return {};
    auto p = expand_pages(*ranges, count, &why);
    EXPECT_TRUE(p.has_value()) << text << ": " << why;
    return p ? *p : std::vector<uint32_t>{};
}

std::string refusal(const char* text) {
    std::string why;
    EXPECT_FALSE(parse_page_list(text, &why).has_value()) << text;
    return why;
}

}  // namespace

TEST(ToolPageList, SinglesRangesAndOpenEndsKeepTheirOrder) {
    EXPECT_EQ(pages("1-3,7", 9), (std::vector<uint32_t>{1, 2, 3, 7}));
    EXPECT_EQ(pages("5,2", 9), (std::vector<uint32_t>{5, 2}));
    EXPECT_EQ(pages("8-", 9), (std::vector<uint32_t>{8, 9}));
    EXPECT_EQ(pages("4-4", 4), (std::vector<uint32_t>{4}));
    EXPECT_EQ(pages("65535", 65535), (std::vector<uint32_t>{65535}));
}

TEST(ToolPageList, RefusesMalformedLists) {
    for (const char* bad : {"", "0", "1-0", "3-1", "a", "1,,2", "1,", ",1", "-3", "1-2-3", "65536",
                            "123456", " 1", "1 "})
        EXPECT_FALSE(refusal(bad).empty()) << bad;
    EXPECT_NE(refusal("3-1").find("backwards"), std::string::npos);
}

TEST(ToolPageList, PagesBeyondTheDocumentAreRefusedWithTheCount) {
    std::string why;
    auto ranges = parse_page_list("2-5", &why);
    ASSERT_TRUE(ranges);
    EXPECT_FALSE(expand_pages(*ranges, 4, &why).has_value());
    EXPECT_NE(why.find("5"), std::string::npos);
    EXPECT_NE(why.find("4 pages"), std::string::npos);
    // An open end on an empty document names its first page.
    ranges = parse_page_list("1-", &why);
    ASSERT_TRUE(ranges);
    EXPECT_FALSE(expand_pages(*ranges, 0, &why).has_value());
}

TEST(ToolPageList, SinglePageNumbers) {
    EXPECT_EQ(parse_page_number("1"), 1u);
    EXPECT_EQ(parse_page_number("00012"), 12u);
    EXPECT_FALSE(parse_page_number("0"));
    EXPECT_FALSE(parse_page_number("+1"));
    EXPECT_FALSE(parse_page_number("99999"));
}

TEST(ToolCopySource, SplitsPagesAfterTheLastColon) {
    std::string why;
    auto s = parse_source("dir:a/b.tif:1-3,7", false, &why);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->path, "dir:a/b.tif");
    ASSERT_EQ(s->pages.size(), 2u);
    EXPECT_EQ(s->pages[0].first, 1u);
    EXPECT_EQ(s->pages[0].last, 3u);
    EXPECT_EQ(s->pages[1].first, 7u);

    s = parse_source("b.tif", false, &why);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->path, "b.tif");
    EXPECT_TRUE(s->pages.empty());
}

TEST(ToolCopySource, ColonsThatAreNotPageListsBelongToThePath) {
    std::string why;
    // An existing file whose name ends like a page list is a path.
    auto s = parse_source("scan:2", true, &why);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->path, "scan:2");
    EXPECT_TRUE(s->pages.empty());
    for (const char* whole : {"a:b.tif", ":1", "a.tif:"}) {
        s = parse_source(whole, false, &why);
        ASSERT_TRUE(s) << whole;
        EXPECT_EQ(s->path, whole);
    }
    // Digits and dashes that do not make a list are refused, not taken as a path.
    EXPECT_FALSE(parse_source("a.tif:3-1", false, &why).has_value());
    EXPECT_FALSE(parse_source("a.tif:0", false, &why).has_value());
}
