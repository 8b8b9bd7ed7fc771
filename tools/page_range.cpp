// Page lists of the command line.
#include "page_range.h"

namespace qvtool {
namespace {

// Splits off the next comma-separated item.
std::string_view next_item(std::string_view& rest) {
    size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    return item;
}

}  // namespace

std::optional<uint32_t> parse_page_number(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    if (n == 0 || n > kMaxPage) return std::nullopt;
    return n;
}

std::optional<std::vector<PageRange>> parse_page_list(std::string_view text, std::string* why) {
    std::vector<PageRange> ranges;
    if (text.empty()) {
        *why = "empty page list";
        return std::nullopt;
    }
    std::string_view rest = text;
    bool more = true;
    while (more) {
        more = rest.find(',') != std::string_view::npos;
        std::string_view item = next_item(rest);
        size_t dash = item.find('-');
        PageRange r;
        auto first = parse_page_number(item.substr(0, dash));
        if (!first) {
            *why = "bad page number in \"" + std::string(item) + "\" (pages count from 1 to 65535)";
            return std::nullopt;
        }
        r.first = r.last = *first;
        if (dash != std::string_view::npos) {
            std::string_view tail = item.substr(dash + 1);
            if (tail.empty()) {
                r.last = 0;
            } else {
                auto last = parse_page_number(tail);
                if (!last) {
                    *why = "bad page number in \"" + std::string(item) + "\" (pages count from 1 to 65535)";
                    return std::nullopt;
                }
                if (*last < *first) {
                    *why = "range \"" + std::string(item) + "\" runs backwards";
                    return std::nullopt;
                }
                r.last = *last;
            }
        }
        ranges.push_back(r);
    }
    return ranges;
}

std::optional<std::vector<uint32_t>> expand_pages(const std::vector<PageRange>& ranges,
                                                  uint32_t pageCount, std::string* why) {
    std::vector<uint32_t> pages;
    for (const PageRange& r : ranges) {
        uint32_t last = r.last == 0 ? pageCount : r.last;
        if (r.first > pageCount || last > pageCount) {
            *why = "page " + std::to_string(r.first > pageCount ? r.first : last) +
                   " out of range (the file has " + std::to_string(pageCount) +
                   (pageCount == 1 ? " page)" : " pages)");
            return std::nullopt;
        }
        for (uint32_t p = r.first; p <= last; ++p) pages.push_back(p);
    }
    return pages;
}

std::optional<SourcePages> parse_source(std::string_view arg, bool wholeExists, std::string* why) {
    SourcePages source;
    source.path = std::string(arg);
    size_t colon = arg.rfind(':');
    if (wholeExists || colon == std::string_view::npos || colon == 0) return source;
    std::string_view tail = arg.substr(colon + 1);
    if (tail.empty() || tail.find_first_not_of("0123456789,-") != std::string_view::npos)
        return source;
    auto ranges = parse_page_list(tail, why);
    if (!ranges) return std::nullopt;
    source.path = std::string(arg.substr(0, colon));
    source.pages = std::move(*ranges);
    return source;
}

}  // namespace qvtool
