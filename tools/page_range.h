// Page lists of the command line ("1-3,7", "5-") and the SRC[:PAGES]
// arguments of the copy command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvtool {

// Pages are counted from 1; the library's page arguments are 16 bits wide.
constexpr uint32_t kMaxPage = 65535;

// One range of a page list; last 0 means "to the last page".
struct PageRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

// Parses a comma-separated list of pages and ranges: "3", "1-3", "5-" (to
// the end). Ranges keep the order given. On failure returns nothing and
// says why in *why.
std::optional<std::vector<PageRange>> parse_page_list(std::string_view text, std::string* why);

// Expands a page list for a document of pageCount pages. A page above the
// count gives nothing, with the reason in *why.
std::optional<std::vector<uint32_t>> expand_pages(const std::vector<PageRange>& ranges,
                                                  uint32_t pageCount, std::string* why);

// Parses a single page number (1..65535).
std::optional<uint32_t> parse_page_number(std::string_view text);

// A copy source: a path and, optionally, a page list.
struct SourcePages {
    std::string path;
    std::vector<PageRange> pages;  // empty: every page
};

// Splits "PATH:PAGES". Unless the whole argument names an existing file
// (wholeExists), a part after the last colon made only of digits, commas
// and dashes is the page list; when it does not parse, nothing is returned
// and *why says why. Any other argument is a path as a whole.
std::optional<SourcePages> parse_source(std::string_view arg, bool wholeExists, std::string* why);

}  // namespace qvtool
