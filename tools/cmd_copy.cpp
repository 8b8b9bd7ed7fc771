// qvtav copy: pages of TIFF and block files into a new TIFF or block file,
// or appended to an existing one.
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "page_copier.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav copy SRC[:PAGES]... -o DEST [--append | --block]\n"
    "\n"
    "Copies pages with their stored data and page information into a new\n"
    "TIFF file DEST, or with --block a new block file, or with --append adds\n"
    "them to the end of an existing TIFF or block file. PAGES lists pages and\n"
    "ranges, e.g. 1-3,7 or 5- (to the last page); without it every page is\n"
    "copied. Pages come in the order given. A new TIFF file takes the\n"
    "document properties of the first page's file.\n"
    "\n"
    "Sources are TIFF and block files. A block file holds bilevel,\n"
    "min-is-white pages, uncompressed, PackBits, CCITT modified Huffman, T.4\n"
    "1-D or T.6 (one strip), without texts or document properties; other\n"
    "pages are refused before anything is written. Block file pages become\n"
    "bilevel, min-is-white TIFF pages of one strip.\n";

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

int cmd_copy(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h", "--append", "--block"}, {"-o", "--output"});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    const std::string* dest = a.value("-o");
    if (dest == nullptr) dest = a.value("--output");
    if (dest == nullptr) throw UsageError("copy: give the destination with -o DEST");
    if (a.operands.empty()) throw UsageError("copy: no source given");

    CopyRequest req;
    req.destination = *dest;
    req.append = a.has("--append");
    if (a.has("--block")) {
        if (req.append) throw UsageError("copy: --block makes a new file; --append adds to one as it is");
        req.newType = FILETYPE_BLOCK;
    }
    for (const std::string& arg : a.operands) {
        bool exists = !where.remote() && access(arg.c_str(), F_OK) == 0;
        std::string why;
        auto source = parse_source(arg, exists, &why);
        if (!source) throw UsageError("copy: " + arg + ": " + why);
        if (!where.remote() && req.append && same_file(source->path, *dest))
            throw UsageError("copy: " + source->path + " is the destination itself");
        req.sources.push_back(*source);
    }
    if (!where.remote() && !req.append && access(dest->c_str(), F_OK) == 0)
        throw ToolError(*dest, "already exists (--append adds pages to it)", TAV_EEXIST);

    uint32_t n = copy_pages(where, req);
    std::cout << (req.append ? "appended " : "copied ") << n << (n == 1 ? " page" : " pages")
              << (req.append ? " to " : " into ") << *dest << "\n";
    return kExitOk;
}

}  // namespace qvtool
