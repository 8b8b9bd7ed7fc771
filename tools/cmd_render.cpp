// qvtav render: pages as PNG images.
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "display.h"
#include "page_picture.h"
#include "page_range.h"
#include "png_writer.h"
#include "progress.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav render FILE [--page PAGES] [--as-displayed] -o OUT.png\n"
    "\n"
    "Writes page 1 of FILE, or the pages PAGES names (a page, or pages and\n"
    "ranges such as 2-5 or 1,4-; then each page goes to OUT with its number\n"
    "before .png: OUT-2.png, ...), as PNG images. Every page type the\n"
    "library reads is drawn: TIFF, block file, AWD, XIFF, GIF, PCX, DCX,\n"
    "BMP, Targa and JPEG pages.\n"
    "\n"
    "Pixels are as the file defines the image: bilevel pages stay 1 bit,\n"
    "grey pages 8 or 16 bits, palette pages keep their palette, colour\n"
    "pages RGB (with alpha when the page has it), the top row first; nothing\n"
    "is turned or resampled.\n"
    "\n"
    "--as-displayed shows the page as it is meant to be seen: turned by the\n"
    "TIFF Orientation tag (also of block file pages) or the AWD display\n"
    "rotation (clockwise), and, when its two resolutions differ (a fax page\n"
    "of 204 x 98 dpi), stretched in the direction of the lower one so that\n"
    "it has its true aspect.\n";

// OUT for a page when several pages are drawn: its number before ".png".
std::string numbered(const std::string& out, const std::string& number) {
    const std::string ext = ".png";
    const bool hasExt = out.size() > ext.size() && out.compare(out.size() - ext.size(), ext.size(), ext) == 0;
    return (hasExt ? out.substr(0, out.size() - ext.size()) : out) + "-" + number + ext;
}

std::vector<uint32_t> pages_named(const std::string* text, uint32_t pageCount, bool* several) {
    *several = false;
    if (text == nullptr) return {1};
    std::string why;
    auto ranges = parse_page_list(*text, &why);
    if (!ranges) throw UsageError("render: --page " + *text + ": " + why);
    *several = !parse_page_number(*text).has_value();
    auto pages = expand_pages(*ranges, pageCount, &why);
    if (!pages) throw UsageError("render: --page " + *text + ": " + why);
    return *pages;
}

// Draws one page into its file; its size.
Size render_page(Document& doc, uint32_t page, bool asDisplayed, const std::string& out) {
    try {
        PageReader rd(doc);
        rd.load(page, true);
        Picture p = page_picture(rd, doc.file_type());
        if (asDisplayed) p = as_displayed(p, display_orientation(rd.info(), doc.file_type()), Limits{});
        write_png(p, out);
        return {p.width, p.height};
    } catch (const DrawError& e) {
        throw ToolError(doc.path(), "page " + std::to_string(page) + ": cannot draw it: " + e.what());
    }
}

}  // namespace

int cmd_render(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h", "--as-displayed"}, {"-o", "--output", "--page"});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() != 1) throw UsageError("render: give one FILE");
    const std::string* out = a.value("-o");
    if (out == nullptr) out = a.value("--output");
    if (out == nullptr) throw UsageError("render: give the image to write with -o OUT.png");

    Document doc(where, a.operands[0]);
    doc.open(TAV_OPEN_READ);
    if (doc.file_type() == FILETYPE_RAW) throw ToolError(doc.path(), "not an image file", TAV_E_RAW_FILE);
    bool several = false;
    const std::vector<uint32_t> pages = pages_named(a.value("--page"), doc.page_count(), &several);
    Progress progress("drawing", uint32_t(pages.size()));
    uint32_t failed = 0, done = 0;
    for (uint32_t page : pages) {
        if (several) progress.show(++done);
        const std::string name = several ? numbered(*out, std::to_string(page)) : *out;
        try {
            const Size size = render_page(doc, page, a.has("--as-displayed"), name);
            if (!several) std::cout << "drew page " << page << " into " << name << ", " << size.width << " x "
                                    << size.height << " pixels\n";
        } catch (const ToolError& e) {
            progress.clear();
            report(e.line());
            ++failed;
        }
    }
    progress.clear();
    doc.close();
    if (several)
        std::cout << "drew " << pages.size() - failed << " of " << pages.size() << " pages into "
                  << numbered(*out, "N") << " (N the page number)\n";
    return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace qvtool
