// qvtav move: puts a page before another one, in place: the library
// relinks the page's directory and updates the page offset table, if the
// file has one. In AWD files the last document moves to the front of a
// page, and nothing else can.
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "page_range.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav move FILE PAGE --before TARGET\n"
    "\n"
    "Moves page PAGE of FILE so that it stands before page TARGET, in place.\n"
    "\n"
    "In an AWD file only the last page can be named: the last document, with\n"
    "every page it holds, moves before page TARGET (a document that holds\n"
    "TARGET is cut there).\n";

// Asks the library to move one page before another: 0 or the library's code.
uint32_t library_move(Document& doc, uint32_t moved, uint32_t target) {
    TavPageMove rec{target, moved};
    return doc.try_option(TAV_OPT_MOVE_PAGE, &rec);
}

// The steps that put page `moved` before page `target`: the library moves
// a page only towards the front, so a move towards the back becomes a
// series of pages moving forward one place each.
std::vector<TavPageMove> plan_moves(uint32_t moved, uint32_t target) {
    std::vector<TavPageMove> steps;
    if (target < moved) {
        steps.push_back(TavPageMove{target, moved});
    } else {
        for (uint32_t k = moved + 1; k < target; ++k) steps.push_back(TavPageMove{k - 1, k});
    }
    return steps;
}

// In an AWD file the library moves the last document (with every page it
// holds) to the front of a page; any other move is refused.
int move_awd(Document& doc, uint32_t moved, uint32_t target) {
    const std::string& path = doc.path();
    uint32_t pages = doc.page_count();
    if (moved != pages || target >= moved)
        throw ToolError(path, "in an AWD file only the last document moves, towards the front: give PAGE " +
                                  std::to_string(pages) + " (the last page) and a TARGET before it",
                        TAV_E_PAGE);
    uint32_t code = library_move(doc, moved, target);
    if (code != 0) throw ToolError(path, "cannot move page " + std::to_string(moved), code);
    doc.close();
    std::cout << path << ": moved the last document (holding page " << moved << ") before page " << target
              << "\n";
    return kExitOk;
}

}  // namespace

int cmd_move(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h"}, {"--before"});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() != 2 || a.value("--before") == nullptr)
        throw UsageError("move: give FILE PAGE --before TARGET");
    const std::string& path = a.operands[0];
    auto moved = parse_page_number(a.operands[1]);
    auto target = parse_page_number(*a.value("--before"));
    if (!moved || !target) throw UsageError("move: pages count from 1 to 65535");

    Document doc(where, path);
    doc.open(TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
    if (doc.file_type() == FILETYPE_AWD) return move_awd(doc, *moved, *target);
    if (doc.file_type() != FILETYPE_TIFF)
        throw ToolError(path, "pages can be moved only in TIFF and AWD files", TAV_E_NOT_SUPPORTED);
    uint32_t pages = doc.page_count();
    if (*moved > pages || *target > pages)
        throw ToolError(path,
                        "page " + std::to_string(*moved > pages ? *moved : *target) +
                            " out of range (the file has " + std::to_string(pages) +
                            (pages == 1 ? " page)" : " pages)"),
                        TAV_E_PAGE_RANGE);
    std::vector<TavPageMove> steps = plan_moves(*moved, *target);
    if (steps.empty()) {
        doc.close();
        std::cout << path << ": page " << *moved << " already stands before page " << *target
                  << "; nothing to do\n";
        return kExitOk;
    }

    for (const TavPageMove& step : steps) {
        uint32_t code = library_move(doc, step.movedPage, step.targetPage);
        if (code != 0) throw ToolError(path, "cannot move page " + std::to_string(*moved), code);
    }
    doc.close();
    std::cout << path << ": moved page " << *moved << " before page " << *target << "\n";
    return kExitOk;
}

}  // namespace qvtool
