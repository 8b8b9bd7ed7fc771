// qvtav dump: a page's stored data, strip after strip, each strip as long
// as the file records it; a page the library delivers decoded (XIFF, AWD)
// as a netpbm image.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "page_range.h"
#include "pnm_image.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav dump FILE PAGE [-o OUT]\n"
    "\n"
    "Writes the stored (still compressed) data of page PAGE of FILE, strip\n"
    "after strip, each strip as long as the file records it, to OUT or to\n"
    "standard output (never to a terminal).\n"
    "\n"
    "Pages of XIFF and AWD files, which the library delivers decoded, are\n"
    "written as an image: PBM for bilevel pages, PGM for grey, PPM for\n"
    "palette and RGB. GIF, PCX, DCX, BMP, Targa and JPEG pages give their\n"
    "data as the library delivers it: a JPEG page its scan (the header before\n"
    "it stays out), a BMP page of 16 or 32 bits its 24-bit rows.\n";

// The place the data goes; a file that is removed again when the dump fails.
class Output {
public:
    explicit Output(const std::string* path) {
        if (path == nullptr) {
            name_ = "standard output";
            file_ = stdout;
            return;
        }
        name_ = *path;
        file_ = std::fopen(path->c_str(), "wb");
        if (file_ == nullptr) throw ToolError(name_, "cannot create", static_cast<uint32_t>(errno));
        owned_ = true;
    }
    ~Output() {
        if (owned_ && file_ != nullptr) {
            std::fclose(file_);
            std::remove(name_.c_str());
        }
    }
    void write(const uint8_t* data, size_t n) {
        if (std::fwrite(data, 1, n, file_) != n)
            throw ToolError(name_, "cannot write", static_cast<uint32_t>(errno));
    }
    void finish() {
        if (std::fflush(file_) != 0) throw ToolError(name_, "cannot write", static_cast<uint32_t>(errno));
        if (owned_) {
            FILE* f = file_;
            file_ = nullptr;
            if (std::fclose(f) != 0) {
                std::remove(name_.c_str());
                throw ToolError(name_, "cannot write", static_cast<uint32_t>(errno));
            }
        }
    }

private:
    std::string name_;
    FILE* file_ = nullptr;
    bool owned_ = false;
};

// A decoded page as a PBM, PGM or PPM image.
void write_image(PageReader& rd, Output& out) {
    std::vector<uint8_t> data = rd.read_page();
    const PageInfo& i = rd.info();
    DecodedPage page;
    page.width = i.imageWidth;
    page.length = i.imageLength;
    page.bitsPerSample = i.bitsPerSample[0];
    page.samplesPerPixel = i.samplesPerPixel;
    page.photometric = i.photometric;
    page.stride = i.imageLength != 0 ? data.size() / i.imageLength : 0;
    page.rows = data;
    page.palette = rd.colour_map();
    std::string header = pnm_header(page);
    if (header.empty())
        throw ToolError(rd.path(), "page " + std::to_string(rd.page()) + ": no PBM, PGM or PPM form for its layout");
    out.write(reinterpret_cast<const uint8_t*>(header.data()), header.size());
    for (uint32_t y = 0; y < page.length; ++y) {
        std::vector<uint8_t> row = pnm_row(page, y);
        out.write(row.data(), row.size());
    }
}

}  // namespace

int cmd_dump(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h"}, {"-o", "--output"});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() != 2) throw UsageError("dump: give FILE and PAGE");
    auto page = parse_page_number(a.operands[1]);
    if (!page) throw UsageError("dump: bad page number \"" + a.operands[1] + "\" (pages count from 1)");
    const std::string* outPath = a.value("-o");
    if (outPath == nullptr) outPath = a.value("--output");
    if (outPath == nullptr && isatty(STDOUT_FILENO) == 1)
        throw UsageError("dump: standard output is a terminal; give -o OUT or redirect it");

    Document doc(where, a.operands[0]);
    doc.open(TAV_OPEN_READ);
    if (doc.file_type() == FILETYPE_RAW)
        throw ToolError(doc.path(), "not an image file", TAV_E_RAW_FILE);
    const bool decoded = doc.file_type() == FILETYPE_XIFF || doc.file_type() == FILETYPE_AWD;
    PageReader rd(doc);
    rd.load(*page, decoded);

    Output out(outPath);
    auto sink = [&](const uint8_t* data, uint32_t n, bool) { out.write(data, n); };
    if (decoded) {
        write_image(rd, out);
    } else if (doc.file_type() == FILETYPE_TIFF) {
        std::vector<uint32_t> counts = rd.stored_counts();
        for (size_t k = 0; k < counts.size(); ++k)
            if (counts[k] != 0) rd.read_strip(static_cast<uint32_t>(k), counts[k], sink);
    } else if (rd.sizes().dataBytes != 0) {
        rd.read_stream(rd.sizes().dataBytes, sink);
    }
    out.finish();
    doc.close();
    return kExitOk;
}

}  // namespace qvtool
