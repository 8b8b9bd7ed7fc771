// qvtav info: what the library reports about files and their pages, as
// text or as JSON (one object per file, one line each).
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli_args.h"
#include "commands.h"
#include "format_view.h"
#include "json_writer.h"
#include "names.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav info [--json] FILE...\n"
    "\n"
    "Shows each file's type and page count, its document properties, and per\n"
    "page: size in pixels, resolution, bits per sample, samples per pixel,\n"
    "compression, photometric interpretation, strips, stored and decoded\n"
    "bytes, and the page's texts. Block file pages show their coding code and\n"
    "chunk size instead of a photometric interpretation and strips. Pages of\n"
    "GIF, PCX, DCX, BMP, Targa and JPEG files show their format's own fields\n"
    "(where the data and the palette lie, and how they are coded) and their\n"
    "palette. AWD pages show their display rotation, scales and whether they\n"
    "have been viewed.\n"
    "\n"
    "  --json   one JSON object per file, each on a line of its own\n";

// What is known of one page.
struct PageReport {
    uint32_t page = 0;
    PageInfo info{};
    PageSizes sizes{};
    std::vector<uint32_t> strips;  // stored byte counts (TIFF)
    uint64_t stored = 0;
    std::vector<std::pair<int, std::string>> texts;
    std::vector<ViewField> view;  // single-image formats
    std::vector<uint8_t> palette;
    std::optional<ToolError> error;
};

struct FileReport {
    std::string path;
    uint32_t type = 0;
    uint32_t pages = 0;
    bool opened = false;
    Properties props;
    std::vector<PageReport> pageReports;
    std::optional<ToolError> error;  // the file could not be read at all
};

PageReport read_page(Document& doc, PageReader& rd, uint32_t page, Properties* props) {
    PageReport r;
    r.page = page;
    try {
        const bool single = has_format_view(doc.file_type());
        rd.load(page, single);
        r.info = rd.info();
        if (single) {
            r.view = format_view(doc.file_type(), r.info);
            std::span<const uint8_t> map = rd.colour_map();
            r.palette.assign(map.begin(), map.end());
        }
        r.sizes = rd.sizes();
        if (page == 1) *props = rd.properties();
        r.stored = r.sizes.dataBytes;
        if (doc.file_type() == FILETYPE_TIFF) {
            // The byte counts as recorded; when the library cannot give
            // them, its own count stands.
            try {
                r.strips = rd.stored_counts();
                r.stored = 0;
                for (uint32_t c : r.strips) r.stored += c;
            } catch (const ToolError&) {
                r.strips.clear();
                r.stored = r.sizes.dataBytes;
            }
        }
        for (int i = 0; i < TAV_TEXT_TAG_COUNT; ++i)
            if (rd.text_tags()[i].length != 0) r.texts.emplace_back(i, rd.text(i));
    } catch (const ToolError& e) {
        r.error = e;
    }
    return r;
}

FileReport read_file(const Location& where, const std::string& path) {
    FileReport f;
    f.path = path;
    Document doc(where, path);
    try {
        doc.open(TAV_OPEN_READ);
        f.opened = true;
        f.type = doc.file_type();
        f.pages = doc.page_count();
        if (f.type == FILETYPE_RAW) throw ToolError(path, "not an image file", TAV_E_RAW_FILE);
        PageReader rd(doc);
        for (uint32_t p = 1; p <= f.pages && p <= 65535; ++p)
            f.pageReports.push_back(read_page(doc, rd, p, &f.props));
        doc.close();
    } catch (const ToolError& e) {
        f.error = e;
    }
    return f;
}

std::string plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Block file pages carry photometric 1 and their coding code in stripCount;
// their data is one stream, stored in chunks of maxStripSize bytes.
bool block_pages(const FileReport& f) { return f.type == FILETYPE_BLOCK; }

std::string field_text(const ViewField& f) {
    if (!f.hex) return std::to_string(f.value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", f.value);
    return buf;
}

std::string hex_bytes(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// The format view in words, and where the palette comes from.
void print_view(const FileReport& f, const PageReport& r) {
    std::cout << "    " << r.stored << " bytes stored, " << r.sizes.rawBytes << " bytes decoded\n    ";
    for (size_t k = 0; k < r.view.size(); ++k)
        std::cout << (k ? ", " : "") << r.view[k].words << " " << field_text(r.view[k]);
    std::cout << "\n";
    std::string layout = palette_layout(f.type, r.info);
    if (layout.empty()) return;
    std::string source = palette_source(f.type, r.info);
    std::cout << "    palette: " << r.palette.size() << " bytes (" << layout << ")"
              << (source.empty() ? "" : ", " + source) << "\n";
}

// An AWD page: delivered decoded, and its display settings.
void print_awd_display(const PageReport& r) {
    const PageInfo& i = r.info;
    std::cout << "    delivered decoded: " << r.sizes.rawBytes << " bytes in rows of "
              << (i.imageLength ? r.sizes.rawBytes / i.imageLength : 0) << " bytes\n";
    std::cout << "    display: rotation " << TAV_AWD_HIGH(i.maxStripSize) << ", scale " << TAV_AWD_LOW(i.stripCount)
              << "% x " << TAV_AWD_HIGH(i.stripCount) << "%"
              << ((i.rowsPerStrip & TAV_AWD_FLAG_VIEWED) ? ", viewed" : ", not viewed") << "\n";
}

void json_awd_display(JsonWriter& j, const PageInfo& i) {
    j.key("display");
    j.begin_object();
    j.member("rotation", uint32_t(TAV_AWD_HIGH(i.maxStripSize)));
    j.member("xScale", uint32_t(TAV_AWD_LOW(i.stripCount)));
    j.member("yScale", uint32_t(TAV_AWD_HIGH(i.stripCount)));
    j.member("flags", i.rowsPerStrip);
    j.member("viewed", (i.rowsPerStrip & TAV_AWD_FLAG_VIEWED) != 0);
    j.end_object();
}

void print_text(const FileReport& f) {
    if (!f.opened) return;
    std::cout << f.path << ": " << file_type_name(f.type) << ", " << plural(f.pages, "page", "pages")
              << "\n";
    if (f.props.present) {
        for (int i = 0; i < 5; ++i)
            std::cout << "  " << kPropertyNames[i] << ": " << display_quote(f.props.texts[i]) << "\n";
    }
    for (const PageReport& r : f.pageReports) {
        if (r.error) {
            std::cout << "  page " << r.page << ": unreadable\n";
            continue;
        }
        const PageInfo& i = r.info;
        std::cout << "  page " << r.page << ": " << i.imageWidth << " x " << i.imageLength << " pixels, "
                  << plural(i.bitsPerSample[0], "bit", "bits") << " x "
                  << plural(i.samplesPerPixel, "sample", "samples");
        std::string_view unit = resolution_unit_name(i.resolutionUnit);
        if (i.xResNum == 0 && i.yResNum == 0)
            std::cout << ", no resolution\n";
        else
            std::cout << ", " << rational_text(i.xResNum, i.xResDen) << " x "
                      << rational_text(i.yResNum, i.yResDen) << (unit.empty() ? " (no unit)" : " ")
                      << unit << "\n";
        std::cout << "    compression " << compression_name(i.compression) << ", ";
        if (block_pages(f))
            std::cout << "block file coding " << i.stripCount;
        else
            std::cout << photometric_name(i.photometric);
        if (i.subfileType != 0) std::cout << ", subfile type " << i.subfileType;
        std::cout << "\n";
        if (block_pages(f)) {
            std::cout << "    chunks of " << i.maxStripSize << " bytes, " << r.stored << " bytes stored, "
                      << r.sizes.rawBytes << " bytes decoded\n";
        } else if (has_format_view(f.type)) {
            print_view(f, r);
        } else if (f.type == FILETYPE_AWD) {
            print_awd_display(r);
        } else if (i.stripCount == 0 && r.sizes.dataBytes == r.sizes.rawBytes && i.imageLength != 0) {
            // Delivered decoded by the format's reader, not as stored.
            std::cout << "    delivered decoded: " << r.sizes.rawBytes << " bytes in rows of "
                      << r.sizes.rawBytes / i.imageLength << " bytes\n";
        } else {
            std::cout << "    " << plural(i.stripCount, "strip", "strips");
            if (i.rowsPerStrip != 0xFFFFFFFFu && i.stripCount > 1)
                std::cout << " of " << plural(i.rowsPerStrip, "row", "rows");
            std::cout << ", " << r.stored << " bytes stored, " << r.sizes.rawBytes << " bytes decoded\n";
        }
        for (const auto& [index, text] : r.texts)
            std::cout << "    " << text_tag_name(index) << ": " << display_quote(text) << "\n";
    }
}

void json_error(JsonWriter& j, const ToolError& e) {
    j.key("error");
    j.begin_object();
    j.member("message", e.line());
    if (e.has_code()) j.member("code", e.code());
    j.end_object();
}

void json_rational(JsonWriter& j, std::string_view name, uint32_t num, uint32_t den) {
    j.key(name);
    j.begin_object();
    j.member("numerator", num);
    j.member("denominator", den);
    j.end_object();
}

// The format view and the palette as delivered.
void json_view(JsonWriter& j, const FileReport& f, const PageReport& r) {
    j.key("format");
    j.begin_object();
    for (const ViewField& v : r.view) j.member(v.key, v.value);
    j.end_object();
    std::string layout = palette_layout(f.type, r.info);
    j.key("palette");
    if (layout.empty()) {
        j.null();
        return;
    }
    j.begin_object();
    j.member("layout", layout);
    std::string source = palette_source(f.type, r.info);
    j.key("source");
    if (source.empty()) j.value("file");
    else j.value(source);
    j.member("bytes", hex_bytes(r.palette));
    j.end_object();
}

// One page's information, layout and strips as JSON members.
void json_page_layout(JsonWriter& j, const FileReport& f, const PageReport& r) {
    const PageInfo& i = r.info;
    j.member("width", i.imageWidth);
    j.member("length", i.imageLength);
    j.member("subfileType", i.subfileType);
    json_rational(j, "xResolution", i.xResNum, i.xResDen);
    json_rational(j, "yResolution", i.yResNum, i.yResDen);
    j.member("resolutionUnit", i.resolutionUnit);
    j.key("bitsPerSample");
    j.begin_array();
    for (uint32_t s = 0; s < i.samplesPerPixel && s < 5; ++s) j.value(i.bitsPerSample[s]);
    j.end_array();
    j.member("samplesPerPixel", i.samplesPerPixel);
    j.member("compression", i.compression);
    j.member("compressionName", compression_name(i.compression));
    j.member("photometric", i.photometric);
    j.member("photometricName", photometric_name(i.photometric));
    j.member("fillOrder", i.fillOrder);
    j.member("byteOrder", i.byteOrder == 0x4D4D ? "MM" : "II");
    j.member("rotation", i.rotation);
    j.member("mirrored", i.mirrored != 0);
    if (block_pages(f)) {
        j.key("rowsPerStrip");
        j.null();
        j.member("strips", 1u);
        j.member("codingCode", i.stripCount);
        j.member("chunkBytes", i.maxStripSize);
    } else if (has_format_view(f.type)) {
        json_view(j, f, r);
    } else if (f.type == FILETYPE_AWD) {
        // These words carry the page's display settings.
        json_awd_display(j, i);
    } else {
        j.key("rowsPerStrip");
        if (i.rowsPerStrip == 0xFFFFFFFFu) j.null();
        else j.value(i.rowsPerStrip);
        j.member("strips", i.stripCount);
    }
    if (!r.strips.empty()) {
        j.key("stripBytes");
        j.begin_array();
        for (uint32_t c : r.strips) j.value(c);
        j.end_array();
    }
}

void print_json(const FileReport& f) {
    JsonWriter j;
    j.begin_object();
    j.member("file", f.path);
    if (f.opened) {
        j.member("fileType", f.type);
        j.member("fileTypeName", file_type_name(f.type));
        j.member("pageCount", f.pages);
        j.key("properties");
        if (f.props.present) {
            j.begin_object();
            for (int i = 0; i < 5; ++i) j.member(kPropertyNames[i], f.props.texts[i]);
            j.end_object();
        } else {
            j.null();
        }
        j.key("pages");
        j.begin_array();
        for (const PageReport& r : f.pageReports) {
            j.begin_object();
            j.member("page", r.page);
            if (r.error) {
                json_error(j, *r.error);
                j.end_object();
                continue;
            }
            json_page_layout(j, f, r);
            j.member("storedBytes", r.stored);
            j.member("decodedBytes", r.sizes.rawBytes);
            j.key("texts");
            j.begin_object();
            for (const auto& [index, text] : r.texts) j.member(text_tag_name(index), text);
            j.end_object();
            j.end_object();
        }
        j.end_array();
    }
    if (f.error) json_error(j, *f.error);
    j.end_object();
    std::cout << j.text() << "\n";
}

}  // namespace

int cmd_info(const Location& where, const Args& args) {
    ParsedArgs a = parse_args(args, {"--json", "--help", "-h"}, {});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.empty()) throw UsageError("info: no file given");
    bool json = a.has("--json");
    int status = kExitOk;
    for (const std::string& path : a.operands) {
        FileReport f = read_file(where, path);
        if (json) print_json(f);
        else print_text(f);
        std::cout.flush();
        if (f.error) {
            report(f.error->line());
            status = kExitFailure;
        }
        for (const PageReport& r : f.pageReports) {
            if (r.error) {
                report(r.error->line());
                status = kExitFailure;
            }
        }
    }
    return status;
}

}  // namespace qvtool
