// Writing a BMP file's one page: the file and information headers and the
// palette at xtavputi, the caller's rows (top row first) placed bottom-up
// at xtavwrite, an embedded colour profile behind the pixels at close.
//
// Behaviour:
//  - Limits of the fields are refused at xtavputi: a bit count other than
//    1, 4, 8, 16, 24 or 32 (TAV_E_FIELD_TYPE); rows of more than 32764 bytes and more
//    than 65535 rows (the written-row count is a 16-bit half) (TAV_E_SIZE). So is
//    a file, with its embedded profile, that would end beyond the length
//    limit (TAV_E_SEEK), before anything is written. The data offset always fits
//    its 16-bit half: the palette is at most 256 entries.
//  - Pages of up to 8 bits need a colour map of blue, green, red, 0
//    entries (none: TAV_E_OPTION). It is written as given, its entries counted in
//    the header's colours used: a palette may hold fewer colours than the
//    bit depth allows, as the images of many writers do. A map of 0 bytes
//    (which readers would take for 2^bits colours), of more than 2^bits
//    entries, or not a whole number of entries is refused (TAV_E_INCONSISTENT). Pages of
//    more bits have no palette (their first photometric word is no colour
//    map).
//  - A resolution denominator of 0 counts as 1.
//  - The header and palette writes are not checked: a failed one shows in
//    the file, not in the call. A placement whose write fails leaves the
//    row count as it was, so the same rows can be given again.
//  - A call places whole rows (bytes beyond the last whole row are not
//    used), each where BMP's bottom-up order wants it, also when one call
//    brings several; fewer bytes than a row, rows beyond the page, and a
//    page of 0 bytes a row are refused (TAV_E_COUNT); no memory for the call's
//    rows, 12. The page is complete when all its rows
//    are placed: further data is refused (TAV_E_SEQUENCE).
//  - The profile goes to the offset the header announces, directly behind
//    the pixel array, also when fewer rows were written.
#include "formats/bmp/bmp_format.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/bmp/bmp_internal.h"
#include "formats/common/format_io.h"

namespace {

constexpr uint32_t kMaxRowBytes = 32764;
constexpr uint32_t kMaxRows = 0xFFFF;
constexpr uint32_t kMaxPaletteBits = 8;
constexpr uint32_t kPaletteEntry = 4;  // blue, green, red, 0
constexpr uint32_t kBitCounts[] = {1, 4, 8, 16, 24, 32};
constexpr uint32_t kMaxLeadSize = kFileHeaderSize + kV5Size;
static_assert(kMaxLeadSize + (kPaletteEntry << kMaxPaletteBits) <= 0xFFFF,
              "the data offset fits the 16-bit half of stripCount");

// A BMP handle that writes: the copy of the embedded profile, written at
// close.
struct BmpWriteState {
    uint8_t* profile;  // memory-table block, or null
    uint32_t profileSize;
    uint32_t profileAt;  // file offset, behind the pixel array
};

// Whether the record asks for the colour-space fields of the 124-byte
// header.
bool wants_colour_space(const PageInfo& i) {
    const uint32_t fields[] = {i.intent, i.profileSize, i.profileReserved, i.redMask, i.greenMask,
                               i.blueMask, i.alphaMask, i.gammaRed, i.gammaGreen, i.gammaBlue};
    if (i.profileOffset.ptr || std::any_of(std::begin(fields), std::end(fields), [](uint32_t v) { return v; }) ||
        std::any_of(std::begin(i.endpoints), std::end(i.endpoints), [](uint32_t v) { return v; }))
        return true;
    const uint32_t cs = i.colorSpaceType;
    return cs != 0 && cs != kColourSpacePlain && cs != kColourSpaceSrgb;
}

// What the headers say, worked out from the record.
struct Layout {
    uint32_t bits = 0;
    uint32_t headerSize = kInfoSize;
    BmpHeaderKind kind = kBmpInfoHeader;
    uint32_t paletteBytes = 0;
    uint32_t dataOffset = 0;
    uint32_t rowBytes = 0;
    uint32_t imageSize = 0;
    uint32_t fileSize = 0;
    uint32_t profileData = 0;  // from the information header's start; 0: none
};

int layout_of(const PageInfo& i, Layout* l) {
    const uint64_t bits = uint64_t(i.bitsPerSample[0]) * i.samplesPerPixel;
    if (std::find(std::begin(kBitCounts), std::end(kBitCounts), bits) == std::end(kBitCounts))
        return format_fail(TAV_E_FIELD_TYPE);
    l->bits = uint32_t(bits);
    const uint64_t rowBytes = (uint64_t(i.imageWidth) * bits + 31) / 32 * 4;
    if (rowBytes > kMaxRowBytes || i.imageLength > kMaxRows) return format_fail(TAV_E_SIZE);
    if (bits <= kMaxPaletteBits) {
        const TavPaletteArea& a = i.area.palette;
        if (!a.colorMapBuffer) return format_fail(TAV_E_OPTION);
        const uint32_t size = a.colorMapSize;
        if (size == 0 || size % kPaletteEntry != 0 || size > (kPaletteEntry << bits))
            return format_fail(TAV_E_INCONSISTENT);
        l->paletteBytes = size;
    }
    if (wants_colour_space(i)) {
        l->headerSize = kV5Size;
        l->kind = kBmpV5Header;
    }
    l->dataOffset = kFileHeaderSize + l->headerSize + l->paletteBytes;
    l->rowBytes = uint32_t(rowBytes);
    l->imageSize = l->rowBytes * i.imageLength;
    uint64_t fileSize = uint64_t(l->dataOffset) + l->imageSize;
    // A profile is announced only when its bytes come with it.
    if (l->kind == kBmpV5Header && i.profileSize && i.profileOffset.ptr) {
        l->profileData = uint32_t(fileSize) - kFileHeaderSize;
        fileSize += i.profileSize;
    }
    errno = 0;
    if (!fio_length_fits(fileSize)) return -1;
    l->fileSize = uint32_t(fileSize);
    return 0;
}

uint32_t per_metre(uint32_t num, uint32_t den) { return num / (den ? den : 1); }

// The file header and the information header.
void build_headers(const PageInfo& i, const Layout& l, std::span<uint8_t, kMaxLeadSize> b) {
    std::fill(b.begin(), b.end(), 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(&b[kFileSizeAt], l.fileSize);
    put_le32(&b[kDataOffsetAt], l.dataOffset);
    uint8_t* h = &b[kFileHeaderSize];
    put_le32(h, l.headerSize);
    put_le32(h + kWidthAt, i.imageWidth);
    put_le32(h + kHeightAt, i.imageLength);  // positive: rows bottom-up
    put_le16(h + kPlanesAt, 1);
    put_le16(h + kBitCountAt, uint16_t(l.bits));
    put_le32(h + kCompressionAt, kBiRgb);
    put_le32(h + kImageSizeAt, l.imageSize);
    put_le32(h + kXPixelsPerMetreAt, per_metre(i.xResNum, i.xResDen));
    put_le32(h + kYPixelsPerMetreAt, per_metre(i.yResNum, i.yResDen));
    put_le32(h + kColoursUsedAt, l.paletteBytes / kPaletteEntry);
    if (l.kind != kBmpV5Header) return;
    put_le32(h + kRedMaskAt, i.redMask);
    put_le32(h + kGreenMaskAt, i.greenMask);
    put_le32(h + kBlueMaskAt, i.blueMask);
    put_le32(h + kAlphaMaskAt, i.alphaMask);
    put_le32(h + kColourSpaceAt, i.colorSpaceType);
    for (uint32_t k = 0; k < kEndpointWords; ++k) put_le32(h + kEndpointsAt + 4 * k, i.endpoints[k]);
    put_le32(h + kGammaRedAt, i.gammaRed);
    put_le32(h + kGammaGreenAt, i.gammaGreen);
    put_le32(h + kGammaBlueAt, i.gammaBlue);
    put_le32(h + kIntentAt, i.intent);
    put_le32(h + kProfileDataAt, l.profileData);
    put_le32(h + kProfileSizeAt, l.profileData ? i.profileSize : 0);
    put_le32(h + kProfileReservedAt, i.profileReserved);
}

// The profile's bytes, copied for close. 0, or -1 with errno.
int keep_profile(BmpWriteState& s, const PageInfo& i, const Layout& l) {
    if (!l.profileData) return 0;
    auto* copy = static_cast<uint8_t*>(mem_calloc(i.profileSize, 1));
    if (!copy) return -1;
    std::memcpy(copy, i.profileOffset.ptr, i.profileSize);
    s.profile = copy;
    s.profileSize = i.profileSize;
    s.profileAt = l.profileData + kFileHeaderSize;
    return 0;
}

}  // namespace

int bmp_put_info(FctEntry* e, uint16_t page, PageInfo* info, const PutOptions*) {
    if (e->pageCount > 0 || !e->formatState) return format_fail(TAV_E_WRITTEN);
    if (page != 0) return format_fail(TAV_E_PAGE);
    Layout l;
    if (layout_of(*info, &l) < 0) return -1;
    BmpWriteState& s = format_state<BmpWriteState>(e);
    if (keep_profile(s, *info, l) < 0) return -1;

    std::array<uint8_t, kMaxLeadSize> lead;
    build_headers(*info, l, lead);
    const int fd = int(e->fd);
    fio_write_at(fd, 0, lead.data(), kFileHeaderSize + l.headerSize);
    if (l.paletteBytes) fio_write_at(fd, kFileHeaderSize + l.headerSize, info->area.palette.colorMapBuffer, l.paletteBytes);

    // The layout values xtavwrite places rows by.
    info->stripCount = view_halves(l.dataOffset, 0);
    info->rowsPerStrip = l.rowBytes | uint32_t(l.kind) << 16;
    info->profileBuffer = s.profile;
    e->pageCount = 1;
    e->curPage = page;
    e->editFlags = kEditPageUnderWay;
    return 0;
}

// Rows from the top of the image land from the end of the pixel array
// backwards: the call's k rows fill the k rows of the file below the W
// placed before, D + (imageLength - W - k) x R on, its first (top-most) row
// last, as BMP stores rows bottom-up.
int32_t bmp_page_write(FctEntry* e, const void* buffer, uint32_t count, uint16_t page, uint8_t) {
    if (page != e->curPage) return format_fail(TAV_E_OTHER_PAGE);
    PageInfo& c = e->pageInfo;
    const uint32_t R = view_low(c.rowsPerStrip), D = view_low(c.stripCount), W = view_high(c.stripCount);
    if (R == 0 || count < R) return format_fail(TAV_E_COUNT);
    const uint32_t k = count / R;
    if (k > c.imageLength - W) return format_fail(TAV_E_COUNT);
    MemBlock<uint8_t> placed(k, R);
    if (!placed) return -1;
    const auto* rows = static_cast<const uint8_t*>(buffer);
    for (uint32_t j = 0; j < k; ++j) std::memcpy(placed.get() + size_t(k - 1 - j) * R, rows + size_t(j) * R, R);
    const uint32_t at = D + (c.imageLength - W - k) * R;
    if (fio_write_at(int(e->fd), at, placed.get(), k * R) == 0) c.stripCount = view_halves(D, W + k);
    if (view_high(c.stripCount) == c.imageLength) e->editFlags = kEditPageComplete;
    return 0;
}

int bmp_create(FctEntry* e, const FormatRequest&) { return format_new_state<BmpWriteState>(e) ? 0 : -1; }

// The embedded profile behind the pixel array.
int bmp_finish(FctEntry* e) {
    if (!e->formatState) return 0;
    BmpWriteState& s = format_state<BmpWriteState>(e);
    if (!s.profile) return 0;
    const int r = fio_write_at(int(e->fd), s.profileAt, s.profile, s.profileSize);
    mem_free_field(s.profile);
    return r;
}

void bmp_release(FctEntry* e) {
    if (!e->formatState) return;
    mem_free_field(format_state<BmpWriteState>(e).profile);
    format_end_state<BmpWriteState>(e);
}
