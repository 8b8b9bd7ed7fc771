// The page copy: page information, texts, colour tables, ICC profile and
// annotation areas of each source TIFF page are read and put on the new
// page; then its strips follow one by one at the lengths the source file
// records. Pages into and out of block files go through block_pages.cpp;
// pages going into or coming out of AWD files go as rows (awd_copy.cpp).
#include "page_copier.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "awd_copy.h"
#include "block_pages.h"
#include "names.h"
#include "progress.h"
#include "raster_copy.h"
#include "tool_error.h"

namespace qvtool {
namespace {

constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr uint32_t kLittleEndian = 0x4949;
constexpr uint32_t kBigEndian = 0x4D4D;
// Write flags of xtavwrite in strip-wise writing.
constexpr uint8_t kEndOfStrip = 2;
constexpr uint8_t kLastData = 1;

// Whether samples must change byte order between a page and the file it
// goes to: uncompressed samples of 16 or 32 bits are swapped on the way;
// anything else wider than 8 bits cannot be carried over.
enum class Swap { none, bytes16, bytes32, impossible };

Swap swap_for(const PageInfo& i, uint32_t destOrder) {
    if (i.byteOrder == destOrder || i.bitsPerSample[0] <= 8) return Swap::none;
    if (i.compression != TAV_COMP_NONE) return Swap::impossible;
    if (i.bitsPerSample[0] == 16) return Swap::bytes16;
    if (i.bitsPerSample[0] == 32) return Swap::bytes32;
    return Swap::impossible;
}

void swap_samples(uint8_t* data, uint32_t n, Swap swap) {
    uint32_t width = swap == Swap::bytes16 ? 2 : 4;
    for (uint32_t k = 0; k + width <= n; k += width)
        for (uint32_t a = k, b = k + width - 1; a < b; ++a, --b) std::swap(data[a], data[b]);
}

// Writes the page rd holds as page `page` of out, whose byte order is
// destOrder.
void write_page(Document& out, uint32_t page, PageReader& rd, bool withProperties, uint32_t destOrder) {
    const std::string src = "page " + std::to_string(rd.page());
    const std::string dst = "page " + std::to_string(page);

    std::vector<uint32_t> counts = rd.stored_counts();
    if (counts.empty()) throw ToolError(rd.path(), src + ": no strips to copy");
    for (size_t k = 0; k < counts.size(); ++k)
        if (counts[k] == 0)
            throw ToolError(rd.path(), src + " strip " + std::to_string(k + 1) +
                                           ": the file records no bytes for it; cannot copy");

    PageInfo put = rd.info();
    // Texts: only those present (a buffer marks a tag for the writer).
    std::array<TextTagBuf, TAV_TEXT_TAG_COUNT> tags = rd.text_tags();
    for (TextTagBuf& t : tags)
        if (t.length == 0) t.buffer = nullptr;
    put.textTags = tags.data();
    if (!withProperties) {
        put.title = put.author = put.subject = put.keywords = put.comments = nullptr;
        put.propertiesLength = 0;
    }
    // The writer consumes the JPEG description it is given; give it a copy
    // so that the source's stays intact.
    JpegInfo jpeg{};
    if (put.compression == TAV_COMP_JPEG_INFO && put.compressionInfo.jpeg != nullptr) {
        jpeg = *put.compressionInfo.jpeg;
        put.compressionInfo.jpeg = &jpeg;
    }
    // An ICC profile is written from its bytes.
    if (put.profileSize != 0 && put.profileBuffer != nullptr) {
        put.profileOffset.ptr = put.profileBuffer;
        put.colorSpaceType = kProfileEmbedded;
    } else {
        put.profileOffset.value = 0;
        put.profileSize = 0;
    }
    put.stripCount = static_cast<uint32_t>(counts.size());
    Swap swap = swap_for(put, destOrder);
    put.byteOrder = destOrder;
    std::vector<uint8_t> swapped;

    uint32_t err = 0;
    if (xtavputi(out.handle(), static_cast<uint16_t>(page), &put, nullptr, &err) < 0)
        throw ToolError(out.path(), dst + ": cannot write the page information", err);

    // Annotation areas go in front of the strips.
    for (int which = 1; which <= 2; ++which) {
        if ((rd.info().privateTagFlags & (which == 1 ? 1 : 2)) == 0) continue;
        std::vector<uint8_t> data = rd.area(which);
        if (data.empty()) continue;
        TavAreaAppend ap{static_cast<uint32_t>(data.size()), data.data()};
        out.set_option(which == 1 ? TAV_OPT_AREA1_APPEND : TAV_OPT_AREA2_APPEND, &ap,
                       dst + ": cannot write annotation area " + std::to_string(which));
    }

    for (size_t k = 0; k < counts.size(); ++k) {
        bool lastStrip = k + 1 == counts.size();
        rd.read_strip(static_cast<uint32_t>(k), counts[k], [&](const uint8_t* data, uint32_t n, bool lastPiece) {
            uint8_t flag = 0;
            if (lastPiece) flag = lastStrip ? (kEndOfStrip | kLastData) : kEndOfStrip;
            if (swap == Swap::bytes16 || swap == Swap::bytes32) {
                swapped.assign(data, data + n);
                swap_samples(swapped.data(), n, swap);
                data = swapped.data();
            }
            uint32_t werr = 0;
            int32_t w = xtavwrite(out.handle(), const_cast<uint8_t*>(data), n,
                                  static_cast<uint16_t>(page), flag, &werr);
            if (w < 0)
                throw ToolError(out.path(), dst + " strip " + std::to_string(k + 1) + ": cannot write",
                                werr);
            if (static_cast<uint32_t>(w) != n)
                throw ToolError(out.path(), dst + " strip " + std::to_string(k + 1) + ": only " +
                                                std::to_string(w) + " of " + std::to_string(n) +
                                                " bytes written");
        });
    }
}

// Refuses pages whose copy would not show the same image, before anything
// is written.
void check_copyable(const PageReader& rd, uint32_t destOrder) {
    const PageInfo& i = rd.info();
    const std::string src = "page " + std::to_string(rd.page());
    if (swap_for(i, destOrder) == Swap::impossible)
        throw ToolError(rd.path(), src + ": " + std::to_string(i.bitsPerSample[0]) +
                                       "-bit compressed samples cannot change byte order (the destination is " +
                                       (destOrder == kBigEndian ? "big" : "little") + "-endian)");
    // The writer records no Predictor: differenced LZW data would decode
    // to a different image.
    if (i.compression == TAV_COMP_LZW && i.compressionInfo.value > 1)
        throw ToolError(rd.path(), src + ": LZW data with predictor " + std::to_string(i.compressionInfo.value) +
                                       " cannot be copied (the library writes no predictor)");
    if (i.compression == TAV_COMP_JPEG)
        throw ToolError(rd.path(), src + ": cannot copy JPEG-compressed pages", TAV_E_COMPRESSION);
    if (i.stripCount == 0) throw ToolError(rd.path(), src + ": no strips to copy");
    if (i.stripCount > 65535)
        throw ToolError(rd.path(), src + ": more than 65535 strips cannot be copied one by one");
}

bool copyable_type(uint32_t type) {
    return type == FILETYPE_TIFF || type == FILETYPE_BLOCK || type == FILETYPE_AWD;
}

// Opens a source for reading and checks that its pages can be copied.
void open_source(Document& in) {
    in.open(TAV_OPEN_READ);
    if (!copyable_type(in.file_type()))
        throw ToolError(in.path(),
                        "cannot copy pages from a " + std::string(file_type_name(in.file_type())) + " file",
                        TAV_E_NOT_SUPPORTED);
}

// Whether a path's name ends in suffix, in any case.
bool named(const std::string& path, const std::string& suffix) {
    if (path.size() < suffix.size()) return false;
    std::string end = path.substr(path.size() - suffix.size());
    for (char& c : end) c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == suffix;
}

// The type of a new destination by its name: an AWD, PCX, DCX or BMP file
// by its suffix, else a TIFF file.
uint32_t type_by_name(const std::string& path) {
    const std::pair<const char*, uint32_t> suffixes[] = {
        {".awd", FILETYPE_AWD}, {".pcx", FILETYPE_PCX}, {".dcx", FILETYPE_DCX}, {".bmp", FILETYPE_BMP}};
    for (const auto& [suffix, type] : suffixes)
        if (named(path, suffix)) return type;
    return FILETYPE_TIFF;
}

// Refuses a source page the destination cannot take, before anything is
// written.
void check_page(const PageReader& rd, uint32_t sourceType, uint32_t destType, uint32_t destOrder) {
    if (raster_type(destType)) {
        std::string why = raster_copy_refusal(rd, sourceType, destType);
        if (!why.empty())
            throw ToolError(rd.path(), "page " + std::to_string(rd.page()) + ": " + why, TAV_E_UNSUPPORTED);
    } else if (destType == FILETYPE_AWD) {
        std::string why = awd_copy_refusal(rd, sourceType);
        if (!why.empty())
            throw ToolError(rd.path(), "page " + std::to_string(rd.page()) + ": " + why, TAV_E_UNSUPPORTED);
    } else if (sourceType == FILETYPE_AWD && destType == FILETYPE_BLOCK) {
        throw ToolError(rd.path(), "pages of AWD files cannot go into a block file", TAV_E_UNSUPPORTED);
    } else if (destType == FILETYPE_BLOCK) {
        check_for_block(rd, sourceType);
    } else if (sourceType == FILETYPE_BLOCK) {
        check_block_for_tiff(rd);
    } else if (sourceType == FILETYPE_TIFF) {
        check_copyable(rd, destOrder);
    }
}

// Writes the current page of rd as page `page` of out: TIFF pages into a
// TIFF file strip by strip as stored, block file pages as their stream,
// pages into or out of AWD files as rows.
void put_page(Document& out, uint32_t page, PageReader& rd, uint32_t sourceType, bool withProperties,
              uint32_t destOrder) {
    if (raster_type(out.file_type()))
        write_raster_page(out, page, rd);
    else if (out.file_type() == FILETYPE_AWD)
        write_awd_page(out, page, page_rows(rd, sourceType), page_dpi(rd.info()));
    else if (sourceType == FILETYPE_AWD)
        write_t6_page(out, page, page_rows(rd, sourceType), page_dpi(rd.info()), destOrder);
    else if (out.file_type() == FILETYPE_BLOCK)
        write_to_block(out, page, rd, sourceType);
    else if (sourceType == FILETYPE_BLOCK)
        write_block_to_tiff(out, page, rd, destOrder);
    else
        write_page(out, page, rd, withProperties, destOrder);
}

std::vector<uint32_t> pages_of(const SourcePages& s, const Document& in) {
    std::vector<PageRange> ranges = s.pages;
    if (ranges.empty()) {
        if (in.page_count() == 0) return {};
        ranges.push_back(PageRange{1, 0});
    }
    std::string why;
    auto pages = expand_pages(ranges, in.page_count(), &why);
    if (!pages) throw ToolError(in.path(), why, TAV_E_PAGE_RANGE);
    return *pages;
}

// An existing destination: its type, and its byte order (a TIFF file's
// first page's; little-endian for a file without pages).
struct Destination {
    uint32_t type;
    uint32_t order;
};

Destination existing_destination(const Location& where, const std::string& path) {
    Document doc(where, path);
    doc.open(TAV_OPEN_READ);
    Destination d{doc.file_type(), kLittleEndian};
    if (!copyable_type(d.type) && d.type != FILETYPE_DCX)
        throw ToolError(path, "cannot append: not a TIFF, block, AWD or DCX file", TAV_E_NOT_SUPPORTED);
    if (d.type == FILETYPE_TIFF && doc.page_count() > 0) {
        PageReader rd(doc);
        rd.load(1, false);
        d.order = rd.info().byteOrder;
    }
    doc.close();
    return d;
}

}  // namespace

uint32_t copy_pages(const Location& where, const CopyRequest& request) {
    // First learn how many pages there are, and refuse what cannot be
    // copied before the destination is touched. A new TIFF file takes the
    // byte order of its first TIFF page (the bilevel pages of block files
    // have none to keep); a new file named *.awd is an AWD file.
    uint32_t total = 0;
    Destination dest{request.newType, 0};
    if (request.append)
        dest = existing_destination(where, request.destination);
    else if (request.newType == FILETYPE_TIFF)
        dest.type = type_by_name(request.destination);
    for (const SourcePages& s : request.sources) {
        Document in(where, s.path);
        open_source(in);
        PageReader rd(in);
        for (uint32_t p : pages_of(s, in)) {
            rd.load(p, false);
            if (dest.order == 0 && in.file_type() == FILETYPE_TIFF)
                dest.order = rd.info().byteOrder == kBigEndian ? kBigEndian : kLittleEndian;
            check_page(rd, in.file_type(), dest.type, dest.order);
            ++total;
        }
        in.close();
    }
    const uint32_t destOrder = dest.order ? dest.order : kLittleEndian;

    Document out(where, request.destination);
    bool created = false;
    try {
        if (request.append) {
            out.open(TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
            if (out.file_type() != dest.type)
                throw ToolError(out.path(), "cannot append: the file changed", TAV_E_NOT_SUPPORTED);
        } else {
            out.create(dest.type);
            created = true;
        }
        if (out.page_count() + total > kMaxPage)
            throw ToolError(out.path(), "a file cannot hold more than 65535 pages");
        if (raster_type(dest.type) && out.page_count() + total > raster_page_limit(dest.type))
            throw ToolError(out.path(), dest.type == FILETYPE_DCX ? "a DCX file holds at most 1024 pages"
                                                                   : "a PCX or BMP file holds one page",
                            TAV_E_PAGE_RANGE);
        if (dest.type == FILETYPE_TIFF)
            out.set_option(TAV_OPT_STRIP_WRITE, nullptr, "cannot write strip by strip");

        Progress progress(request.append ? "appending" : "copying", total);
        uint32_t next = out.page_count() + 1;
        uint32_t done = 0;
        bool first = !request.append;
        for (const SourcePages& s : request.sources) {
            Document in(where, s.path);
            open_source(in);
            PageReader rd(in);
            for (uint32_t p : pages_of(s, in)) {
                if (request.withProgress) progress.show(done + 1);
                rd.load(p, in.file_type() != FILETYPE_AWD);
                if (first && dest.type == FILETYPE_TIFF && destOrder == kBigEndian) {
                    uint32_t order = destOrder;
                    out.set_option(TAV_OPT_BYTE_ORDER, &order, "cannot set the byte order");
                }
                put_page(out, next, rd, in.file_type(), first, destOrder);
                first = false;
                ++next;
                ++done;
            }
            in.close();
        }
        progress.clear();
        out.close();
        return done;
    } catch (...) {
        out.abandon();
        if (created && !where.remote()) unlink(request.destination.c_str());
        throw;
    }
}

}  // namespace qvtool
