// qvtav sheet: a contact sheet of a document's pages as a PNG image.
#include <charconv>
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "page_picture.h"
#include "png_writer.h"
#include "progress.h"
#include "sheet.h"
#include "tool_error.h"

namespace qvtool {
namespace {

// zlib's level for sheets: faster than the usual 6 and, on the flat
// background and shrunken pages of a sheet, smaller too.
constexpr int kSheetCompression = 3;

const char kHelp[] =
    "usage: qvtav sheet FILE -o OUT.png [--width W] [--columns C]\n"
    "\n"
    "Draws every page of FILE as a thumbnail, in order, its page number under\n"
    "it, on one PNG image at most W pixels wide (default 1200, at most\n"
    "10000), in C columns (default: as many as give thumbnails about 200\n"
    "pixels wide). Pages are shown as displayed (turned, at their true\n"
    "aspect; see qvtav render --help) and shrunk by area averaging, so thin\n"
    "lines of fax pages stay visible. A page that cannot be drawn is shown\n"
    "as a crossed box and reported; the exit status is then 1. On a terminal\n"
    "a long document shows its progress.\n";

uint32_t number_option(const ParsedArgs& a, const char* name, uint32_t fallback, uint32_t min, uint32_t max) {
    const std::string* text = a.value(name);
    if (text == nullptr) return fallback;
    uint32_t v = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
    if (ec != std::errc() || end != text->data() + text->size() || v < min || v > max)
        throw UsageError("sheet: " + std::string(name) + " " + *text + ": give a number from " + std::to_string(min) +
                         " to " + std::to_string(max));
    return v;
}

// The thumbnail of one page, or nothing (reported) when it cannot be drawn.
std::optional<Picture> thumbnail_of(Document& doc, uint32_t page, const SheetLayout& layout, Progress& progress) {
    try {
        PageReader rd(doc);
        rd.load(page, true);
        const Limits limits;
        Picture p = page_picture(rd, doc.file_type(), limits);
        return page_thumbnail(p, display_orientation(rd.info(), doc.file_type()), layout, limits);
    } catch (const DrawError& e) {
        progress.clear();
        report(ToolError(doc.path(), "page " + std::to_string(page) + ": cannot draw it: " + e.what()).line());
    } catch (const ToolError& e) {
        progress.clear();
        report(e.line());
    }
    return std::nullopt;
}

}  // namespace

int cmd_sheet(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h"}, {"-o", "--output", "--width", "--columns"});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() != 1) throw UsageError("sheet: give one FILE");
    const std::string* out = a.value("-o");
    if (out == nullptr) out = a.value("--output");
    if (out == nullptr) throw UsageError("sheet: give the image to write with -o OUT.png");
    const uint32_t width = number_option(a, "--width", kDefaultSheetWidth, 1, kMaxSheetWidth);
    const uint32_t columns = number_option(a, "--columns", 0, 1, kMaxSheetWidth);

    Document doc(where, a.operands[0]);
    doc.open(TAV_OPEN_READ);
    if (doc.file_type() == FILETYPE_RAW) throw ToolError(doc.path(), "not an image file", TAV_E_RAW_FILE);
    if (doc.page_count() == 0) throw ToolError(doc.path(), "has no pages to show");
    const SheetLayout layout = sheet_layout(doc.page_count(), width, columns);

    PngHeader header;
    header.width = layout.width, header.height = layout.height, header.colour = Colour::rgb;
    header.compressionLevel = kSheetCompression;
    PngWriter png(*out, header);
    SheetBand band(layout);
    Progress progress("drawing", doc.page_count());
    uint32_t failed = 0;
    for (uint32_t first = 1; first <= doc.page_count(); first += layout.columns) {
        band.clear();
        for (uint32_t c = 0; c < layout.columns && first + c <= doc.page_count(); ++c) {
            progress.show(first + c);
            std::optional<Picture> thumb = thumbnail_of(doc, first + c, layout, progress);
            failed += thumb ? 0 : 1;
            band.place(c, first + c, thumb);
        }
        for (uint32_t y = 0; y < layout.bandHeight; ++y) png.write_row(band.row(y));
    }
    band.clear();
    for (uint32_t y = 0; y < sheet_bottom_margin(); ++y) png.write_row(band.row(0));
    png.finish();
    progress.clear();
    doc.close();
    std::cout << "drew " << doc.page_count() << (doc.page_count() == 1 ? " page" : " pages") << " into " << *out
              << ", " << layout.width << " x " << layout.height << " pixels\n";
    return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace qvtool
