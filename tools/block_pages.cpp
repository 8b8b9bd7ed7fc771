// Copying pages into block files and block file pages into TIFF files:
// what each side can hold, the page information as the other side takes
// it, and the page's stored data moved as it is.
#include "block_pages.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "names.h"
#include "tool_error.h"

namespace qvtool {
namespace {

constexpr uint8_t kLastData = 1;
constexpr uint8_t kEndOfStrip = 2;
constexpr uint32_t kBlockSize = 4096;
// Pages go into block files in chunks as large as the page, up to this.
constexpr uint32_t kLargestChunk = 1u << 20;
// Data is handed to the library in pieces of about this size.
constexpr uint32_t kPiece = 1u << 20;
constexpr uint32_t kMaxField16 = 65535;
constexpr uint32_t kUnitInch = 2;
constexpr uint32_t kUnitCentimetre = 3;
constexpr double kCentimetresPerInch = 2.54;
// The CCITT option bits a block file records with its coding code.
constexpr uint32_t kCodedBits = TAV_CODING_MODIFIED_HUFFMAN | TAV_CODING_T4;
constexpr uint32_t kT4TwoDimensional = 1;  // T4Options bit 0

std::string page_text(uint32_t page) { return "page " + std::to_string(page); }

// A resolution as a whole number of pixels per inch.
uint32_t whole_dpi(uint32_t num, uint32_t den, uint32_t unit) {
    if (den == 0) return 0;
    double v = double(num) / den;
    if (unit == kUnitCentimetre) v *= kCentimetresPerInch;
    return uint32_t(std::lround(v));
}

// Hands page data to xtavwrite in pieces of whole chunks (a call's
// remainder would take a padded chunk of its own); the last piece carries
// the last-data flag.
class BlockStream {
public:
    BlockStream(Document& out, uint32_t page, uint32_t chunkSize)
        : out_(out), page_(page), piece_(chunkSize * std::max(1u, kPiece / chunkSize)) {
        buf_.reserve(piece_);
    }
    void add(const uint8_t* data, uint32_t n) {
        while (n > 0) {
            if (buf_.size() == piece_) flush(0);
            uint32_t take = std::min<uint32_t>(n, piece_ - uint32_t(buf_.size()));
            buf_.insert(buf_.end(), data, data + take);
            data += take;
            n -= take;
        }
    }
    void finish() { flush(kLastData); }

private:
    void flush(uint8_t flag) {
        uint32_t err = 0;
        auto n = static_cast<uint32_t>(buf_.size());
        int32_t w = xtavwrite(out_.handle(), buf_.data(), n, static_cast<uint16_t>(page_), flag, &err);
        if (w < 0) throw ToolError(out_.path(), page_text(page_) + ": cannot write", err);
        if (static_cast<uint32_t>(w) != n)
            throw ToolError(out_.path(), page_text(page_) + ": only " + std::to_string(w) + " of " +
                                             std::to_string(n) + " bytes written");
        buf_.clear();
    }

    Document& out_;
    uint32_t page_;
    uint32_t piece_;
    std::vector<uint8_t> buf_;
};

// The page's stored data, in order: a TIFF page's strips at the lengths the
// file records, a block file page's one stream.
void copy_data(PageReader& rd, uint32_t sourceType, const PageReader::Sink& sink) {
    if (sourceType == FILETYPE_BLOCK) {
        uint64_t total = 0;
        rd.read_stream(rd.sizes().dataBytes, [&](const uint8_t* data, uint32_t n, bool last) {
            total += n;
            sink(data, n, last);
        });
        if (total != rd.sizes().dataBytes)
            throw ToolError(rd.path(), page_text(rd.page()) + ": the file ends inside the page's data");
        return;
    }
    std::vector<uint32_t> counts = rd.stored_counts();
    for (size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] == 0)
            throw ToolError(rd.path(), page_text(rd.page()) + " strip " + std::to_string(k + 1) +
                                           ": the file records no bytes for it; cannot copy");
        rd.read_strip(static_cast<uint32_t>(k), counts[k], sink);
    }
}

// A TIFF page's stored bytes, as its file records them.
uint64_t tiff_stored_bytes(PageReader& rd) {
    uint64_t total = 0;
    for (uint32_t c : rd.stored_counts()) total += c;
    return total;
}

}  // namespace

void check_for_block(const PageReader& rd, uint32_t sourceType) {
    if (sourceType == FILETYPE_BLOCK) return;  // block file pages go as they are
    const PageInfo& i = rd.info();
    auto refuse = [&](const std::string& what) {
        throw ToolError(rd.path(), page_text(rd.page()) + ": " + what +
                                       " cannot go into a block file (it holds bilevel, min-is-white pages, "
                                       "uncompressed, PackBits, CCITT modified Huffman, T.4 1-D or T.6)");
    };
    if (i.samplesPerPixel != 1) refuse(std::to_string(i.samplesPerPixel) + " samples per pixel");
    if (i.bitsPerSample[0] != 1) refuse(std::to_string(i.bitsPerSample[0]) + "-bit samples");
    if (i.photometric != TAV_PHOTO_BILEVEL_WHITE) refuse("a " + std::string(photometric_name(i.photometric)) + " page");
    switch (i.compression) {
    case TAV_COMP_NONE:
    case TAV_COMP_PACKBITS:
        break;  // strips of whole rows join into one stream
    case TAV_COMP_CCITT_MH:
    case TAV_COMP_CCITT_T4:
    case TAV_COMP_CCITT_T6:
        if (i.compression == TAV_COMP_CCITT_T4 && (i.compressionInfo.value & kT4TwoDimensional))
            refuse("T.4 2-D coding");
        if (i.compressionInfo.value & ~kCodedBits) refuse("CCITT uncompressed mode");
        if (i.stripCount != 1) refuse("a CCITT page of " + std::to_string(i.stripCount) + " strips");
        break;
    default:
        refuse(std::string(compression_name(i.compression)) + " data");
    }
    for (uint32_t v : {i.imageWidth, i.imageLength})
        if (v > kMaxField16) refuse("a page of " + std::to_string(v) + " pixels");
    for (auto [num, den] : {std::pair{i.xResNum, i.xResDen}, std::pair{i.yResNum, i.yResDen}})
        if (whole_dpi(num, den, i.resolutionUnit) > kMaxField16) refuse("a resolution above 65535");
}

void check_block_for_tiff(const PageReader& rd) {
    const PageInfo& i = rd.info();
    if (i.bitsPerSample[0] != 1)
        throw ToolError(rd.path(), page_text(rd.page()) + ": a block file page of " +
                                       std::to_string(i.bitsPerSample[0]) +
                                       "-bit samples has no photometric interpretation to give a TIFF page");
    if (rd.sizes().dataBytes == 0) throw ToolError(rd.path(), page_text(rd.page()) + ": no data to copy");
}

void write_to_block(Document& out, uint32_t page, PageReader& rd, uint32_t sourceType) {
    PageInfo put = rd.info();
    put.textTags = nullptr;
    put.title = put.author = put.subject = put.keywords = put.comments = nullptr;
    if (sourceType != FILETYPE_BLOCK) {
        const uint64_t total = tiff_stored_bytes(rd);
        if (total == 0) throw ToolError(rd.path(), page_text(rd.page()) + ": no data to copy");
        const uint64_t chunk = (total + kBlockSize - 1) / kBlockSize * kBlockSize;
        put.maxStripSize = static_cast<uint32_t>(std::min<uint64_t>(chunk, kLargestChunk));
        put.xResNum = whole_dpi(put.xResNum, put.xResDen, put.resolutionUnit);
        put.yResNum = whole_dpi(put.yResNum, put.yResDen, put.resolutionUnit);
        put.xResDen = put.yResDen = 1;
        put.resolutionUnit = kUnitInch;
    }
    uint32_t err = 0;
    if (xtavputi(out.handle(), static_cast<uint16_t>(page), &put, nullptr, &err) < 0)
        throw ToolError(out.path(), page_text(page) + ": cannot write the page information", err);
    BlockStream stream(out, page, put.maxStripSize);
    copy_data(rd, sourceType, [&](const uint8_t* data, uint32_t n, bool) { stream.add(data, n); });
    stream.finish();
}

void write_block_to_tiff(Document& out, uint32_t page, PageReader& rd, uint32_t destOrder) {
    PageInfo put = rd.info();
    const uint32_t total = rd.sizes().dataBytes;
    put.photometric = TAV_PHOTO_BILEVEL_WHITE;
    put.samplesPerPixel = 1;
    put.stripCount = 1;
    put.rowsPerStrip = put.imageLength;
    put.maxStripSize = total;
    put.byteOrder = destOrder;
    put.textTags = nullptr;
    uint32_t err = 0;
    if (xtavputi(out.handle(), static_cast<uint16_t>(page), &put, nullptr, &err) < 0)
        throw ToolError(out.path(), page_text(page) + ": cannot write the page information", err);
    copy_data(rd, FILETYPE_BLOCK, [&](const uint8_t* data, uint32_t n, bool last) {
        uint32_t werr = 0;
        uint8_t flag = last ? (kEndOfStrip | kLastData) : 0;
        int32_t w = xtavwrite(out.handle(), const_cast<uint8_t*>(data), n, static_cast<uint16_t>(page), flag, &werr);
        if (w < 0) throw ToolError(out.path(), page_text(page) + ": cannot write", werr);
        if (static_cast<uint32_t>(w) != n)
            throw ToolError(out.path(), page_text(page) + ": only " + std::to_string(w) + " of " +
                                            std::to_string(n) + " bytes written");
    });
}

}  // namespace qvtool
