// The summary-property block behind the TIFF header: read at open, parsed
// into the page information, built from a caller's record when a page is
// written, and replaced by xtavputprops.
//
// Content: "Title:" and the title, "Author:" and the author, "Subject:",
// "Keywords:", "Comments:" and their texts, each item closed by a zero byte,
// then one more zero byte; the rest of the block is zero. A block is made
// larger than its texts (the record's propertiesLength, else a quarter
// more), so that texts can later be rewritten in place.
#include <cerrno>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/tiff.h"

namespace {

constexpr uint64_t kMaxBlock = 0x1000000;        // a block larger than 16 MB is not made
constexpr uint64_t kMaxEditedTexts = 0x10000000;  // xtavputprops refuses more text (TAV_EINVAL)

size_t text_length(const char* s) { return s ? strnlen(s, kMaxEditedTexts + 1) : 0; }

const char* text_of(const PageInfo* p, int i) {
    const char* texts[kPropertyCount] = {p->title, p->author, p->subject, p->keywords,
                                         p->comments};
    return texts[i];
}

struct PropertySizes {
    uint64_t texts;    // the five texts and their zero bytes
    uint64_t reserve;  // what the block is made for
};

PropertySizes property_sizes(const PageInfo* p) {
    uint64_t s = kPropertyCount;
    for (int i = 0; i < kPropertyCount; ++i) s += text_length(text_of(p, i));
    uint64_t r = (p->propertiesLength != 0 && p->propertiesLength >= s) ? p->propertiesLength
                                                                        : (s * 5) / 4;
    return {s, r};
}

// The block length for a reserve: room for the labels (40 bytes), raised so
// that the block and its 16-byte header end on a multiple of 4.
uint64_t block_length(uint64_t reserve) { return ((reserve + 59) & ~uint64_t(3)) - 16; }

// Fills a zeroed block of at least block_length(texts) bytes.
void fill_block(uint8_t* block, const PageInfo* p) {
    uint8_t* at = block;
    for (int i = 0; i < kPropertyCount; ++i) {
        size_t l = std::strlen(kPropertyLabels[i]);
        std::memcpy(at, kPropertyLabels[i], l);
        at += l;
        size_t t = text_length(text_of(p, i));
        if (t) std::memcpy(at, text_of(p, i), t);
        at += t + 1;
    }
}

// True when the byte range [from, to) holds nothing a page uses: no
// directory of a page, no entry value stored outside its entry, no single
// strip. A damaged file may put any of them inside its property block, and
// writing the block over them would destroy the page.
bool nothing_in(FctEntry* e, uint64_t from, uint64_t to) {
    const TiffState& ts = tiff_of(e);
    auto inside = [&](uint64_t at) { return at >= from && at < to; };
    if (ts.pageIndexOffset && inside(ts.pageIndexOffset)) return false;
    if (ts.pageTableOffset && inside(ts.pageTableOffset)) return false;
    for (uint32_t page = 0; page < e->pageCount; ++page) {
        uint32_t ifd = 0;
        TiffDir dir;
        if (tiff_page_ifd_offset(e, page, &ifd) < 0 || tiff_page_dir(e, page, &dir) < 0) return false;
        uint64_t base = ts.tiffBase;
        if (base + ifd < to) return false;
        for (uint16_t i = 0; i < dir.entryCount; ++i) {
            const TiffDirEntry& d = dir.entries[i];
            bool outside = uint64_t(tiff_type_size(d.type)) * d.count > 4;
            bool oneStrip = d.tag == kTagStripOffsets && d.count == 1;
            if ((outside || oneStrip) && inside(base + d.value)) return false;
        }
    }
    return true;
}

}  // namespace

void tiff_property_header(uint8_t* out, uint32_t length) {
    std::memcpy(out, kPropertyMark, kPropertyMarkLength);
    put_le16(out + kPropertyMarkLength, kPropertyVersion);
    put_le32(out + kPropertyMarkLength + 2, length);
}

int tiff_read_property_block(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    uint8_t head[kPropertyHeaderSize];
    if (fio_read_exact_at(int(e->fd), kPropertyHeaderOffset, head, kPropertyHeaderSize,
                          TAV_E_NOT_SUPPORTED) < 0) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    if (std::memcmp(head, kPropertyMark, kPropertyMarkLength) != 0) return 0;
    uint16_t version = get_le16(head + kPropertyMarkLength);
    uint32_t length = get_le32(head + kPropertyMarkLength + 2);
    if (version != kPropertyVersion || length == 0) return 0;
    // A length the file cannot hold is cut off like a short read, before
    // anything is allocated.
    if (uint64_t(length) + kPropertyText > e->origSize) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    MemBlock<uint8_t> body(length, 1);
    if (!body) return -1;
    if (fio_read_exact_at(int(e->fd), kPropertyText, body.get(), length, TAV_E_NOT_SUPPORTED) < 0)
        return -1;
    ts.hdrBlock = body.release();
    ts.hdrBlockLen = length;
    return 0;
}

void tiff_parse_properties(const TiffState& ts, PageInfo& c) {
    if (!ts.hdrBlock || ts.hdrBlockLen == 0) return;
    char* text[kPropertyCount];
    char* p = reinterpret_cast<char*>(ts.hdrBlock);
    uint32_t n = ts.hdrBlockLen;
    for (int i = 0; i < kPropertyCount; ++i) {
        uint32_t ll = uint32_t(std::strlen(kPropertyLabels[i]));
        if (n < ll || std::memcmp(p, kPropertyLabels[i], ll) != 0) return;
        const char* nul = static_cast<const char*>(std::memchr(p, 0, n));
        if (!nul) return;
        text[i] = p + ll;
        uint32_t used = uint32_t(nul - p) + 1;
        p += used;
        n -= used;
    }
    c.title = text[0];
    c.author = text[1];
    c.subject = text[2];
    c.keywords = text[3];
    c.comments = text[4];
    c.propertiesLength = ts.hdrBlockLen;
}

uint8_t* tiff_build_property_block(const PageInfo* info, uint32_t* length) {
    PropertySizes sz = property_sizes(info);
    uint64_t l = block_length(sz.reserve);
    if (sz.texts > kMaxBlock || l > kMaxBlock) return nullptr;
    auto* block = static_cast<uint8_t*>(mem_calloc(uint32_t(l), 1));
    if (!block) return nullptr;
    fill_block(block, info);
    *length = uint32_t(l);
    return block;
}

int tiff_set_properties(FctEntry* e, const PageInfo* props, PropertyPatch* patch) {
    TiffState& ts = tiff_of(e);
    PropertySizes sz = property_sizes(props);
    if (sz.texts > kMaxEditedTexts || sz.reserve > kMaxEditedTexts) {
        errno = TAV_EINVAL;
        return -1;
    }
    uint32_t reserved = uint32_t(block_length(sz.reserve));
    uint32_t needed = uint32_t(block_length(sz.texts));
    uint32_t size = reserved > ts.hdrBlockLen ? reserved : ts.hdrBlockLen;
    MemBlock<uint8_t> block(size, 1);
    // Without memory for the block the call fails: going on would rewrite the
    // document with its old properties and report success.
    if (!block) return -1;
    fill_block(block.get(), props);
    // The new texts fit the old block: written over it, for its length, as
    // long as the block holds nothing of a page (in a damaged file it may,
    // and the write would destroy the page); otherwise the file is rewritten.
    if (ts.hdrBlock && ts.hdrBlockLen >= needed &&
        nothing_in(e, kPropertyText, uint64_t(kPropertyText) + ts.hdrBlockLen)) {
        patch->offset = kPropertyText;
        patch->length = ts.hdrBlockLen;
        patch->bytes = block.release();
        return 1;
    }
    mem_free_field(ts.hdrBlock);
    ts.hdrBlock = block.release();
    ts.hdrBlockLen = reserved;
    return 0;
}
