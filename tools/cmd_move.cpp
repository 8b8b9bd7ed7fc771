// qvtav move: puts a page before another one. The library moves pages in
// place only in TIFF files that carry a page offset table; any other TIFF
// file is first rebuilt: every page is copied into a new file in the same
// directory (the library's writer gives it a table), which then replaces
// the original.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "page_copier.h"
#include "page_range.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav move FILE PAGE --before TARGET\n"
    "\n"
    "Moves page PAGE of FILE so that it stands before page TARGET. A TIFF\n"
    "file without a page offset table is rebuilt first (all pages copied into\n"
    "a new file that replaces it); the tool says when it does so.\n";

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

std::string directory_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string name_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Replaces path by the work file.
void replace_file(const Location& where, const std::string& path, const std::string& work) {
    if (where.remote()) {
        FileLocation target = where.record(path);
        FileLocation source = where.record(work);
        PathBuffer t(path), s(work);
        uint32_t err = 0;
        // The library leaves the error cell at 0 and reports in errno.
        errno = 0;
        if (xifsreplace(&target, t.get(), &source, s.get(), &err) < 0)
            throw ToolError(path, "cannot replace it by the rebuilt copy " + work,
                            static_cast<uint32_t>(errno));
        return;
    }
    struct stat st;
    bool haveMode = stat(path.c_str(), &st) == 0;
    if (std::rename(work.c_str(), path.c_str()) != 0) {
        uint32_t code = static_cast<uint32_t>(errno);
        unlink(work.c_str());
        throw ToolError(path, "cannot replace it by the rebuilt copy", code);
    }
    if (haveMode) chmod(path.c_str(), st.st_mode & 07777);
}

// Copies every page of path into a new file beside it, which then takes
// its place.
void rebuild(const Location& where, const std::string& path) {
    CopyRequest req;
    req.sources.push_back(SourcePages{path, {}});
    for (int attempt = 0;; ++attempt) {
        req.destination = directory_of(path) + "." + name_of(path) + ".qvtav-" +
                          std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tif";
        try {
            copy_pages(where, req);
            break;
        } catch (const ToolError& e) {
            // A name that is taken: try the next one.
            if (e.has_code() && e.code() == TAV_EEXIST && e.file() == req.destination && attempt < 50)
                continue;
            throw;
        }
    }
    replace_file(where, path, req.destination);
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
    if (doc.file_type() != FILETYPE_TIFF)
        throw ToolError(path, "pages can be moved only in TIFF files", TAV_E_NOT_SUPPORTED);
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

    uint32_t code = library_move(doc, steps[0].movedPage, steps[0].targetPage);
    // Failures a rebuild cannot cure.
    if (code == TAV_E_OPTION || code == TAV_EACCES || code == TAV_ENOMEM || code == TAV_EBADF ||
        code == TAV_E_PAGE)
        throw ToolError(path, "cannot move page " + std::to_string(*moved), code);
    if (code != 0) {
        // Without a page offset table the library refuses (293) and leaves
        // the file as it was: rebuild the file, then move again.
        doc.close();
        std::cout << path << ": no page offset table; rebuilding the file (every page copied into a new file)"
                  << std::endl;
        rebuild(where, path);
        doc.open(TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
        code = library_move(doc, steps[0].movedPage, steps[0].targetPage);
        if (code != 0) throw ToolError(path, "cannot move page " + std::to_string(*moved), code);
    }
    for (size_t i = 1; i < steps.size(); ++i) {
        code = library_move(doc, steps[i].movedPage, steps[i].targetPage);
        if (code != 0) throw ToolError(path, "cannot move page " + std::to_string(*moved), code);
    }
    doc.close();
    std::cout << path << ": moved page " << *moved << " before page " << *target << "\n";
    return kExitOk;
}

}  // namespace qvtool
