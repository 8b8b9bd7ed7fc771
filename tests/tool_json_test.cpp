// JSON output and text quoting of the qvtav tool.
#include <gtest/gtest.h>

#include "json_writer.h"

using namespace qvtool;

TEST(ToolJson, QuotesSpecialAndControlCharacters) {
    EXPECT_EQ(json_quote("plain"), "\"plain\"");
    EXPECT_EQ(json_quote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(json_quote("l1\nl2\r\t\b\f"), "\"l1\\nl2\\r\\t\\b\\f\"");
    EXPECT_EQ(json_quote(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(json_quote("\x1b\x7f"), "\"\\u001b\\u007f\"");
    EXPECT_EQ(json_quote("/"), "\"/\"");
}

TEST(ToolJson, KeepsValidUtf8AndReadsOtherBytesAsLatin1) {
    EXPECT_EQ(json_quote("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x84"),
              "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x84\"");
    // Latin-1 "Grüße", a lone continuation byte, a cut sequence at the end.
    EXPECT_EQ(json_quote("Gr\xFC\xDF" "e"), "\"Gr\\u00fc\\u00dfe\"");
    EXPECT_EQ(json_quote("\x80"), "\"\\u0080\"");
    EXPECT_EQ(json_quote("a\xE2\x82"), "\"a\\u00e2\\u0082\"");
    // Overlong forms and UTF-16 surrogates are not UTF-8.
    EXPECT_EQ(json_quote("\xC0\xAF"), "\"\\u00c0\\u00af\"");
    EXPECT_EQ(json_quote("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
}

TEST(ToolJson, DisplayQuotingShowsControlsAndStrayBytes) {
    EXPECT_EQ(display_quote("a \"b\"\n"), "\"a \\\"b\\\"\\n\"");
    EXPECT_EQ(display_quote("\x1b[31m"), "\"\\x1b[31m\"");
    EXPECT_EQ(display_quote("\xFC\xC3\xBC"), "\"\\xfc\xC3\xBC\"");
}

TEST(ToolJson, WriterSeparatesMembersAndElements) {
    JsonWriter j;
    j.begin_object();
    j.member("file", "a \"b\".tif");
    j.member("pages", 2u);
    j.key("list");
    j.begin_array();
    j.begin_object();
    j.member("ok", true);
    j.end_object();
    j.begin_object();
    j.end_object();
    j.value(static_cast<int64_t>(-1));
    j.null();
    j.begin_array();
    j.end_array();
    j.end_array();
    j.key("none");
    j.null();
    j.member("big", static_cast<uint64_t>(4294967296ull));
    j.end_object();
    EXPECT_EQ(j.text(),
              "{\"file\":\"a \\\"b\\\".tif\",\"pages\":2,\"list\":[{\"ok\":true},{},-1,null,[]],"
              "\"none\":null,\"big\":4294967296}");
}
