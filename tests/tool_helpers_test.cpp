// The qvtav tool's pure helpers: page lists and copy sources, JSON and
// display quoting, error lines and messages, number texts.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "error_text.h"
#include "json_writer.h"
#include "names.h"
#include "page_range.h"
#include "pnm_image.h"
#include "qvtav.hpp"
#include "tool_error.h"

using namespace qvtool;

TEST(ToolPageList, ListsExpandInTheirOrderOrAreRefused) {
    struct { const char* text; uint32_t count; std::vector<uint32_t> pages; } good[] = {
        {"1-3,7", 9, {1, 2, 3, 7}}, {"5,2", 9, {5, 2}}, {"8-", 9, {8, 9}}, {"4-4", 4, {4}}, {"65535", 65535, {65535}}};
    std::string why;
    for (const auto& c : good) {
        auto ranges = parse_page_list(c.text, &why);
        ASSERT_TRUE(ranges) << c.text << ": " << why;
        EXPECT_EQ(expand_pages(*ranges, c.count, &why), c.pages) << c.text;
    }
    for (const char* bad : {"", "0", "3-1", "a", "1,,2", "1,", "-3", "1-2-3", "65536", " 1"}) {
        why.clear();
        EXPECT_FALSE(parse_page_list(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_FALSE(expand_pages(*parse_page_list("2-5", &why), 4, &why));
    EXPECT_NE(why.find("4 pages"), std::string::npos);
    EXPECT_FALSE(expand_pages(*parse_page_list("1-", &why), 0, &why));  // an open end on an empty document
    EXPECT_EQ(parse_page_number("00012"), 12u);
    for (const char* bad : {"0", "+1", "99999"}) EXPECT_FALSE(parse_page_number(bad)) << bad;
}

TEST(ToolCopySource, PagesFollowTheLastColonOnlyWhenTheyMakeAList) {
    std::string why;
    auto s = parse_source("dir:a/b.tif:1-3,7", false, &why);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->path, "dir:a/b.tif");
    ASSERT_EQ(s->pages.size(), 2u);
    EXPECT_EQ(s->pages[1].first, 7u);
    // Whole paths: no list, or an existing file whose name ends like a list.
    for (auto [text, exists] : {std::pair{"b.tif", false}, {"a:b.tif", false}, {":1", false}, {"a.tif:", false}, {"scan:2", true}}) {
        s = parse_source(text, exists, &why);
        ASSERT_TRUE(s) << text;
        EXPECT_EQ(s->path, text);
        EXPECT_TRUE(s->pages.empty()) << text;
    }
    EXPECT_FALSE(parse_source("a.tif:3-1", false, &why));  // refused, not taken as a path
    EXPECT_FALSE(parse_source("a.tif:0", false, &why));
}

TEST(ToolJson, QuotingEscapesControlsAndReadsNonUtf8AsLatin1) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c/", R"("a\"b\\c/")"}, {"l1\nl2\r\t\b\f", R"("l1\nl2\r\t\b\f")"}, {std::string("a\0b", 3), R"("a\u0000b")"},
        {"\x1b\x7f", R"("\u001b\u007f")"},
        {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x84", "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x84\""},
        {"Gr\xFC\xDF" "e", R"("Gr\u00fc\u00dfe")"}, {"\x80", R"("\u0080")"}, {"a\xE2\x82", R"("a\u00e2\u0082")"},
        {"\xC0\xAF", R"("\u00c0\u00af")"}, {"\xED\xA0\x80", R"("\u00ed\u00a0\u0080")"},  // overlong, surrogate
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(json_quote(in), out);
    EXPECT_EQ(display_quote("a \"b\"\n\x1b[31m"), R"("a \"b\"\n\x1b[31m")");
    EXPECT_EQ(display_quote("\xFC\xC3\xBC"), "\"\\xfc\xC3\xBC\"");
}

TEST(ToolJson, WriterSeparatesMembersAndElements) {
    JsonWriter j;
    j.begin_object();
    j.member("pages", 2u);
    j.key("list");
    j.begin_array();
    j.begin_object();
    j.end_object();
    j.value(static_cast<int64_t>(-1));
    j.null();
    j.end_array();
    j.end_object();
    EXPECT_EQ(j.text(), R"({"pages":2,"list":[{},-1,null]})");
}

// Every code the tables header defines has its row, under its own name, and
// the tool and the C++ layer give the same texts for codes and file types.
// The defines are read from the header text, so a code added there without
// a row is caught.
TEST(ToolErrorText, EveryDefinedCodeHasItsRowAndTheCxxLayerAgrees) {
    std::ifstream in(std::string(QVTAV_SOURCE_DIR) + "/include/qvtav_tables.h");
    std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::regex define(R"(#define\s+(TAV_E\w*|TAV_STG_\w+|TAV_S_OK|FILETYPE_\w+)\s+(0x[0-9A-Fa-f]+|\d+)u?)");
    int codes = 0, types = 0;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), define); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1];
        const uint32_t code = static_cast<uint32_t>(std::stoul((*it)[2].str(), nullptr, 0));
        if (name.starts_with("FILETYPE_")) {
            ++types;
            EXPECT_NE(file_type_name(code), TAV_FILE_TYPE_UNKNOWN) << name;
            EXPECT_EQ(file_type_name(code), qvtav::file_type_name(code)) << name;
            continue;
        }
        ++codes;
        const ErrorText* row = find_error_text(code);
        ASSERT_NE(row, nullptr) << name;
        EXPECT_EQ(row->name, name);
        EXPECT_EQ(error_meaning(code), qvtav::error_meaning(code)) << name;
    }
    EXPECT_EQ(codes, int(error_texts().size()));
    EXPECT_EQ(types, 13);
    // TAV_S_FALSE shares TAV_EPERM's number; the code reads as EPERM.
    EXPECT_EQ(find_error_text(TAV_S_FALSE)->name, "TAV_EPERM");
    for (uint32_t unknown : {3u, 0x80030004u}) {
        EXPECT_EQ(find_error_text(unknown), nullptr);
        EXPECT_EQ(error_meaning(unknown), TAV_ERROR_UNKNOWN);
        EXPECT_STREQ(qvtav::error_meaning(unknown), TAV_ERROR_UNKNOWN);
    }
    EXPECT_STREQ(qvtav::file_type_name(14), TAV_FILE_TYPE_UNKNOWN);
}

TEST(ToolErrorText, ErrorLinesAndNumberTexts) {
    EXPECT_EQ(ToolError("b.tif", "page 2: cannot read", TAV_E_PAGE_RANGE).line(),
              "b.tif: page 2: cannot read: error 298 (page above the page count)");
    EXPECT_EQ(ToolError("c.awd", "cannot open", TAV_STG_E_FILENOTFOUND).line(),
              "c.awd: cannot open: error 0x80030002 (storage: file not found)");  // storage codes in hex
    EXPECT_EQ(ToolError("d.tif", "page 1 strip 2: the file ends early").line(), "d.tif: page 1 strip 2: the file ends early");
    EXPECT_EQ(rational_text(300, 1), "300");
    EXPECT_EQ(rational_text(145, 2), "72.5");
    EXPECT_EQ(rational_text(1, 3), "0.33");
    EXPECT_EQ(rational_text(5, 0), "?");
    EXPECT_EQ(text_tag_name(9), "");
}

// Decoded rows as netpbm images: PBM with 1 as black, PGM of 4 and 8 bits,
// PPM through the palette or from RGB; rows taken at their stride.
TEST(ToolPnmImage, EachLayoutInItsNetpbmForm) {
    const std::vector<uint8_t> rows = {0xA5, 0x0F, 0xEE, 0xEE, 0x12, 0x3F, 0xEE, 0xEE};
    const std::vector<uint8_t> palette = [] {
        std::vector<uint8_t> p(48);
        for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 5);
        return p;
    }();
    auto page = [&](uint32_t width, uint32_t bits, uint32_t samples, uint32_t photometric) {
        DecodedPage p;
        p.width = width;
        p.length = 2;
        p.bitsPerSample = bits;
        p.samplesPerPixel = samples;
        p.photometric = photometric;
        p.stride = 4;
        p.rows = rows;
        p.palette = palette;
        return p;
    };
    DecodedPage bits = page(12, 1, 1, TAV_PHOTO_BILEVEL_BLACK);
    EXPECT_EQ(pnm_header(bits), "P4\n12 2\n");
    EXPECT_EQ(pnm_row(bits, 1), (std::vector<uint8_t>{0xED, 0xC0}));
    DecodedPage grey4 = page(3, 4, 1, TAV_PHOTO_GRAY_BLACK);
    EXPECT_EQ(pnm_header(grey4), "P5\n3 2\n15\n");
    EXPECT_EQ(pnm_row(grey4, 0), (std::vector<uint8_t>{0xA, 0x5, 0x0}));
    DecodedPage white8 = page(2, 8, 1, TAV_PHOTO_GRAY_WHITE);
    EXPECT_EQ(pnm_header(white8), "P5\n2 2\n255\n");
    EXPECT_EQ(pnm_row(white8, 1), (std::vector<uint8_t>{0xED, 0xC0}));
    DecodedPage pal4 = page(2, 4, 1, TAV_PHOTO_PALETTE);
    EXPECT_EQ(pnm_header(pal4), "P6\n2 2\n255\n");
    EXPECT_EQ(pnm_row(pal4, 1), (std::vector<uint8_t>{15, 20, 25, 30, 35, 40}));
    DecodedPage rgb = page(1, 8, 3, TAV_PHOTO_RGB);
    EXPECT_EQ(pnm_header(rgb), "P6\n1 2\n255\n");
    EXPECT_EQ(pnm_row(rgb, 1), (std::vector<uint8_t>{0x12, 0x3F, 0xEE}));
    // No netpbm form, or fewer bytes than the rows need.
    EXPECT_EQ(pnm_header(page(2, 8, 1, TAV_PHOTO_YCBCR)), "");
    EXPECT_EQ(pnm_header(page(2, 16, 1, TAV_PHOTO_GRAY_BLACK)), "");
    DecodedPage cut = page(2, 8, 1, TAV_PHOTO_GRAY_BLACK);
    cut.length = 3;
    EXPECT_EQ(pnm_header(cut), "");
}
