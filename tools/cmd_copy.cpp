// qvtav copy: pages of TIFF, block and AWD files into a new TIFF, block,
// AWD, PCX, DCX or BMP file, or appended to an existing one.
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
    "Copies pages into a new file DEST, or with --append adds them to the end\n"
    "of an existing TIFF, block, AWD or DCX file. PAGES lists pages and ranges,\n"
    "e.g. 1-3,7 or 5- (to the last page); without it every page is copied.\n"
    "Pages come in the order given. Sources are TIFF, block or AWD files.\n"
    "\n"
    "A new DEST is a TIFF file; with --block a block file; an AWD fax\n"
    "document, a PCX, DCX or BMP file when its name ends in .awd, .pcx, .dcx\n"
    "or .bmp. TIFF pages go into a TIFF file with\n"
    "their stored data and page information; a new file takes the document\n"
    "properties of the first page's file.\n"
    "\n"
    "A block file holds bilevel, min-is-white pages, uncompressed, PackBits,\n"
    "CCITT modified Huffman, T.4 1-D or T.6 (one strip), without texts or\n"
    "document properties; other pages are refused before anything is\n"
    "written. Block file pages become bilevel, min-is-white TIFF pages of one\n"
    "strip.\n"
    "\n"
    "AWD pages go into a TIFF file as the rows the AWD viewer delivers, CCITT\n"
    "T.6 coded. An AWD file takes bilevel TIFF and AWD pages only, as rows\n"
    "(TIFF pages decoded, min-is-black pages inverted); each becomes a\n"
    "document of its own. Resolutions become whole dots per inch.\n"
    "\n"
    "A PCX or BMP file takes one page, a DCX file up to 1024: TIFF pages,\n"
    "decoded, that are bilevel, of 4 or 8 bits (palette or grey, which gets\n"
    "a grey palette) or 24-bit RGB; other pages are refused before anything\n"
    "is written. PCX files keep no resolution; BMP files keep it in pixels\n"
    "per metre.\n";

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
