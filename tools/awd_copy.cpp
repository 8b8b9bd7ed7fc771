// Pages into and out of AWD files, as rows.
#include "awd_copy.h"

#include <algorithm>
#include <stdexcept>

#include "tool_error.h"

namespace qvtool {
namespace {

// Rows handed to the AWD encoder per call.
constexpr uint32_t kRowsPerWrite = 256;
// The narrowest page an AWD file takes.
constexpr uint32_t kMinAwdWidth = 8;
constexpr uint32_t kUnitInch = 2;
// Write flags of xtavwrite in strip-wise writing: the strip and the page end.
constexpr uint8_t kEndOfStripAndPage = 3;

std::string page_text(uint32_t page) { return "page " + std::to_string(page); }

}  // namespace

std::string awd_copy_refusal(const PageReader& rd, uint32_t fileType) {
    if (fileType == FILETYPE_AWD) return {};
    if (fileType != FILETYPE_TIFF) return "only TIFF and AWD pages can go into an AWD file";
    std::string why = bilevel_refusal(rd.info());
    if (!why.empty()) return why + "; an AWD file takes bilevel pages only";
    if (rd.info().imageWidth < kMinAwdWidth) return "narrower than 8 pixels; an AWD file cannot take it";
    return {};
}

Bilevel page_rows(PageReader& rd, uint32_t fileType) {
    const PageInfo& i = rd.info();
    if (fileType == FILETYPE_AWD) {
        Bilevel b;
        b.width = i.imageWidth;
        b.rows = rd.read_page();
        b.height = b.row_bytes() ? uint32_t(b.rows.size() / b.row_bytes()) : 0;
        return b;
    }
    try {
        return decode_tiff_page(i, rd.read_strips());
    } catch (const std::runtime_error& e) {
        throw ToolError(rd.path(), page_text(rd.page()) + ": " + e.what());
    }
}

Dpi page_dpi(const PageInfo& i) {
    return Dpi{whole_dpi(i.xResNum, i.xResDen, i.resolutionUnit), whole_dpi(i.yResNum, i.yResDen, i.resolutionUnit)};
}

void write_awd_page(Document& out, uint32_t page, const Bilevel& rows, Dpi dpi) {
    const std::string dst = page_text(page);
    PageInfo put{};
    put.imageWidth = rows.width;
    put.xResNum = dpi.x;
    put.yResNum = dpi.y;
    put.xResDen = put.yResDen = 1;
    put.resolutionUnit = kUnitInch;
    put.stripCount = TAV_AWD_PAIR(100, 100);  // display scales in percent
    uint32_t err = 0;
    if (xtavputi(out.handle(), static_cast<uint16_t>(page), &put, nullptr, &err) < 0)
        throw ToolError(out.path(), dst + ": cannot write the page information", err);
    const uint32_t rowBytes = rows.row_bytes();
    for (uint32_t y = 0;; y += kRowsPerWrite) {
        uint32_t n = y < rows.height ? std::min(kRowsPerWrite, rows.height - y) * rowBytes : 0;
        uint8_t none = 0;
        uint8_t* data = n ? const_cast<uint8_t*>(rows.rows.data()) + size_t(y) * rowBytes : &none;
        // A call of 0 bytes ends the page.
        if (xtavwrite(out.handle(), data, n, static_cast<uint16_t>(page), 0, &err) < 0)
            throw ToolError(out.path(), dst + ": cannot write", err);
        if (n == 0) break;
    }
}

void write_t6_page(Document& out, uint32_t page, const Bilevel& rows, Dpi dpi, uint32_t byteOrder) {
    const std::string dst = page_text(page);
    std::vector<uint8_t> strip;
    try {
        strip = encode_t6(rows);
    } catch (const std::runtime_error& e) {
        throw ToolError(out.path(), dst + ": " + e.what());
    }
    PageInfo put{};
    put.imageWidth = rows.width;
    put.imageLength = rows.height;
    put.xResNum = dpi.x;
    put.yResNum = dpi.y;
    put.xResDen = put.yResDen = 1;
    put.resolutionUnit = kUnitInch;
    put.bitsPerSample[0] = 1;
    put.samplesPerPixel = 1;
    put.byteOrder = byteOrder;
    put.fillOrder = 1;
    put.compression = TAV_COMP_CCITT_T6;
    put.photometric = TAV_PHOTO_BILEVEL_WHITE;
    put.stripCount = 1;
    put.rowsPerStrip = rows.height;
    uint32_t err = 0;
    if (xtavputi(out.handle(), static_cast<uint16_t>(page), &put, nullptr, &err) < 0)
        throw ToolError(out.path(), dst + ": cannot write the page information", err);
    int32_t w = xtavwrite(out.handle(), strip.data(), uint32_t(strip.size()), static_cast<uint16_t>(page),
                          kEndOfStripAndPage, &err);
    if (w < 0) throw ToolError(out.path(), dst + ": cannot write", err);
    if (uint32_t(w) != strip.size()) throw ToolError(out.path(), dst + ": the strip was written short");
}

}  // namespace qvtool
