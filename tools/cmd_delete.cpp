// qvtav delete: removes a range of pages from a file.
#include <cerrno>
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "page_range.h"
#include "progress.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav delete FILE FIRST [LAST]\n"
    "\n"
    "Removes pages FIRST to LAST (or page FIRST alone) from FILE. The file is\n"
    "rewritten without them; when no page is left, the file is removed.\n";

}  // namespace

int cmd_delete(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h"}, {});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() < 2 || a.operands.size() > 3) throw UsageError("delete: give FILE FIRST [LAST]");
    const std::string& path = a.operands[0];
    auto first = parse_page_number(a.operands[1]);
    auto last = a.operands.size() == 3 ? parse_page_number(a.operands[2]) : first;
    if (!first || !last) throw UsageError("delete: pages count from 1 to 65535");
    if (*last < *first) throw UsageError("delete: LAST comes before FIRST");

    // The page count, for the report.
    uint32_t pages = 0;
    {
        Document doc(where, path);
        doc.open(TAV_OPEN_READ);
        pages = doc.page_count();
        doc.close();
    }

    FileLocation loc = where.record(path);
    PathBuffer p(path);
    uint32_t err = 0;
    Progress progress("deleting", 0);
    progress.show_text("deleting pages of " + path + " ...");
    // The library leaves the error cell of this call at 0 and reports the
    // failure's code in errno.
    errno = 0;
    int32_t r = xtavdelpgs(where.remote() ? &loc : nullptr, p.get(), static_cast<int32_t>(*first), *last, &err);
    int code = errno;
    progress.clear();
    std::string range = *first == *last ? "page " + std::to_string(*first)
                                        : "pages " + std::to_string(*first) + "-" + std::to_string(*last);
    if (r < 0) throw ToolError(path, "cannot delete " + range, static_cast<uint32_t>(code));

    uint32_t removed = *last - *first + 1;
    if (removed >= pages) {
        std::cout << path << ": deleted " << range << "; no page was left, so the file was removed\n";
    } else {
        uint32_t left = pages - removed;
        std::cout << path << ": deleted " << range << ", " << left << (left == 1 ? " page" : " pages")
                  << " left\n";
    }
    return kExitOk;
}

}  // namespace qvtool
