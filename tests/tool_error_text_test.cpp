// The qvtav tool's messages for the library's error codes.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "error_text.h"
#include "names.h"
#include "qvtav.h"
#include "tool_error.h"

using namespace qvtool;

// Every error and status code the public header defines has a message of
// its own: read the header, so that a code added there later is caught.
TEST(ToolErrorText, EveryCodeOfThePublicHeaderHasAMessage) {
    std::ifstream in(std::string(QVTAV_SOURCE_DIR) + "/include/qvtav.h");
    ASSERT_TRUE(in) << "public header not found";
    std::stringstream text;
    text << in.rdbuf();
    std::string header = text.str();
    std::regex define(R"(#define\s+(TAV_E\w*|TAV_STG_\w+|TAV_S_FALSE)\s+(0x[0-9A-Fa-f]+|\d+)u?)");
    int seen = 0;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), define); it != std::sregex_iterator();
         ++it) {
        uint32_t code = static_cast<uint32_t>(std::stoul((*it)[2].str(), nullptr, 0));
        EXPECT_TRUE(error_known(code)) << (*it)[1] << " = " << code << " has no message";
        EXPECT_NE(error_meaning(code), "unknown error code") << (*it)[1];
        ++seen;
    }
    EXPECT_GE(seen, 60) << "the header's codes were not found";
}

TEST(ToolErrorText, UnknownCodesSaySo) {
    EXPECT_FALSE(error_known(3));
    EXPECT_EQ(error_meaning(3), "unknown error code");
    EXPECT_FALSE(error_known(0x80030001u));
}

TEST(ToolErrorText, ErrorLineNamesFileWhatCodeAndMeaning) {
    EXPECT_EQ(ToolError("a.tif", "cannot open", TAV_ENOENT).line(), "a.tif: cannot open: error 2 (no such file)");
    EXPECT_EQ(ToolError("b.tif", "page 2: cannot read the page information", TAV_E_PAGE_RANGE).line(),
              "b.tif: page 2: cannot read the page information: error 298 (page number above the page count)");
    // Storage status codes are shown in hexadecimal.
    EXPECT_EQ(ToolError("c.awd", "cannot open", TAV_STG_E_FILENOTFOUND).line(),
              "c.awd: cannot open: error 0x80030002 (storage: file not found)");
    // A failure the tool finds itself carries no code.
    EXPECT_EQ(ToolError("d.tif", "page 1 strip 2: the file ends 10 bytes before the end of the strip").line(),
              "d.tif: page 1 strip 2: the file ends 10 bytes before the end of the strip");
}

TEST(ToolNames, ResolutionsAndCodes) {
    EXPECT_EQ(rational_text(300, 1), "300");
    EXPECT_EQ(rational_text(145, 2), "72.5");
    EXPECT_EQ(rational_text(1, 3), "0.33");
    EXPECT_EQ(rational_text(5, 0), "?");
    EXPECT_EQ(compression_name(TAV_COMP_CCITT_T6), "CCITT T.6");
    EXPECT_EQ(photometric_name(TAV_PHOTO_BILEVEL_WHITE), "bilevel, min is white");
    EXPECT_EQ(file_type_name(FILETYPE_TIFF), "TIFF");
    EXPECT_EQ(text_tag_name(TAV_TEXT_PAGE_NAME), "PageName");
    EXPECT_EQ(text_tag_name(9), "");
}
