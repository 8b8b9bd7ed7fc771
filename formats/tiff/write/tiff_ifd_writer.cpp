// Building a page's directory from its PageInfo: the entries in tag order
// in the work directory, and the values that do not fit an entry written
// behind the page's directory slot.
#include <cerrno>
#include <cstring>
#include <vector>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/common/format_profile.h"
#include "formats/tiff/write/tiff_writer.h"
#include "platform/plat_file.h"

namespace {

constexpr uint32_t kColorSpaceLinked = 0x4C494E4B;    // 'LINK'
constexpr uint32_t kColorSpaceEmbedded = 0x4D424544;  // 'MBED'
constexpr uint32_t kMaxProfileBytes = 64u << 20;      // a profile larger than this is not one

// Out-of-line values of one directory, collected in memory and written in
// one piece at the position they were laid out for. Every value starts on a
// multiple of 4; the padding is zeros.
class ValueArea {
public:
    ValueArea(uint32_t base, uint16_t order) : base_(base), order_(order) {}

    // Appends items of a TIFF type; returns the value's file offset.
    uint32_t add(const void* data, uint32_t bytes, uint16_t type) {
        uint32_t at = base_ + uint32_t(buf_.size());
        const uint8_t* src = static_cast<const uint8_t*>(data);
        size_t start = buf_.size();
        buf_.insert(buf_.end(), src, src + bytes);
        tiff_swap_items(buf_.data() + start, bytes, type, order_);
        while (buf_.size() % 4) buf_.push_back(0);
        return at;
    }
    uint32_t end() const { return base_ + uint32_t(buf_.size()); }
    int flush(int fd) const {
        return buf_.empty() ? 0 : tiff_pwrite(fd, base_, buf_.data(), uint32_t(buf_.size()));
    }

private:
    uint32_t base_;
    uint16_t order_;
    std::vector<uint8_t> buf_;
};

struct Builder {
    FctEntry* e;
    TiffDir* dir;
    ValueArea values;

    int add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        if (dir->entryCount >= kTiffMaxEntries) {
            errno = TAV_E_DIRECTORY;
            return -1;
        }
        dir->entries[dir->entryCount++] = TiffDirEntry{tag, type, count, value};
        return 0;
    }

    // An entry whose values are given as a block of bytes. Values that fit
    // the entry's four bytes stay in it, as every TIFF reader expects.
    int add_array(uint16_t tag, uint16_t type, uint32_t byteSize, const void* data) {
        if (!data || byteSize == 0) return 0;
        uint32_t size = tiff_type_size(type);
        uint32_t count = byteSize / size;
        if (count == 0) return 0;
        uint32_t used = count * size;
        if (used <= 4) {
            uint32_t v = 0;
            if (type == kTiffShort) {
                uint16_t s[2] = {0, 0};
                std::memcpy(s, data, used);
                v = uint32_t(s[0]) | (uint32_t(s[1]) << 16);
            } else {
                std::memcpy(&v, data, used);
            }
            return add(tag, type, count, v);
        }
        return add(tag, type, count, values.add(data, used, type));
    }
};

// Library compression code to TIFF. The codes up to LZW are TIFF's own; a
// TIFF code a caller passes for JPEG data goes through as it is.
int map_compression(uint32_t c, uint16_t* out) {
    switch (c) {
    case TAV_COMP_NONE:
    case TAV_COMP_CCITT_MH:
    case TAV_COMP_CCITT_T4:
    case TAV_COMP_CCITT_T6:
    case TAV_COMP_LZW:
    case kTiffCompJpegOther:
        *out = uint16_t(c);
        return 0;
    case TAV_COMP_PACKBITS: *out = kTiffCompPackBits; return 0;
    case TAV_COMP_JPEG_INFO: *out = kTiffCompOldJpeg; return 0;
    default: errno = TAV_E_COMPRESSION; return -1;
    }
}

// Older library photometric codes the writer still takes: 1 (min-is-white)
// and 3 (a transparency mask).
constexpr uint32_t kPhotoOldWhite = 1, kPhotoOldMask = 3;

// Library photometric code to TIFF; photometric 8 with old-style JPEG data
// is YCbCr, and the caller's record says so afterwards.
int map_photometric(PageInfo* info, uint16_t* out) {
    switch (info->photometric) {
    case kPhotoOldWhite:
    case TAV_PHOTO_GRAY_WHITE:
    case TAV_PHOTO_BILEVEL_WHITE: *out = kTiffPhotoWhiteIsZero; return 0;
    case kPhotoOldMask: *out = kTiffPhotoMask; return 0;
    case TAV_PHOTO_PALETTE: *out = kTiffPhotoPalette; return 0;
    case TAV_PHOTO_RGB:
        if (info->compression == TAV_COMP_JPEG_INFO) {
            info->photometric = TAV_PHOTO_YCBCR;
            *out = kTiffPhotoYCbCr;
        } else {
            *out = kTiffPhotoRgb;
        }
        return 0;
    case TAV_PHOTO_BILEVEL_BLACK:
    case TAV_PHOTO_GRAY_BLACK: *out = kTiffPhotoBlackIsZero; return 0;
    case TAV_PHOTO_YCBCR: *out = kTiffPhotoYCbCr; return 0;
    default: errno = TAV_E_UNSUPPORTED; return -1;
    }
}

uint16_t size_type(uint32_t v) { return v >= 65536 ? kTiffLong : kTiffShort; }

int add_text(Builder& b, const PageInfo* info, int index, uint16_t tag) {
    if (!info->textTags) return 0;
    const TextTagBuf& t = info->textTags[index];
    return b.add_array(tag, kTiffAscii, t.length, t.buffer);
}

// One group of JPEG table offsets (quantisation, DC or AC): the offsets are
// made absolute (relative to the written header H) in the caller's record.
int add_jpeg_tables(Builder& b, uint16_t tag, uint32_t* group, uint32_t spp, uint32_t h) {
    uint32_t n = group[0] > 3 ? 3 : group[0];
    if (n == 0) return 0;
    for (uint32_t i = 0; i < n; ++i) group[1 + i] += h;
    if (n == 1) {
        // One table serves every component.
        uint32_t comps = spp == 0 ? 1 : (spp > 3 ? 3 : spp);
        if (comps == 1) return b.add(tag, kTiffLong, 1, group[1]);
        uint32_t same[3] = {group[1], group[1], group[1]};
        return b.add_array(tag, kTiffLong, comps * 4, same);
    }
    return b.add_array(tag, kTiffLong, n * 4, &group[1]);
}

int add_jpeg(Builder& b, PageInfo* info) {
    JpegInfo* j = info->compressionInfo.jpeg;
    if (!j || (j->headerLength && !j->header)) {
        errno = TAV_E_INCONSISTENT;
        return -1;
    }
    if (b.add(kTagJpegProc, kTiffShort, 1, kJpegProcBaseline) < 0) return -1;
    uint32_t h = b.values.end();
    if (j->headerLength) h = b.values.add(j->header, j->headerLength, kTiffByte);
    if (b.add(kTagJpegInterchangeFormat, kTiffLong, 1, h) < 0) return -1;
    if (b.add(kTagJpegInterchangeLength, kTiffLong, 1, j->headerLength) < 0) return -1;
    // A JPEG file's description holds its data offset in that word.
    const uint32_t restart = jpeg_info_holds_data_start(j) ? 0 : j->restartInterval & 0xFFFF;
    if (b.add(kTagJpegRestartInterval, kTiffShort, 1, restart) < 0) return -1;
    if (add_jpeg_tables(b, kTagJpegQTables, &j->unused[0], info->samplesPerPixel, h) < 0) return -1;
    if (add_jpeg_tables(b, kTagJpegDCTables, &j->unused[4], info->samplesPerPixel, h) < 0) return -1;
    if (add_jpeg_tables(b, kTagJpegACTables, &j->unused[8], info->samplesPerPixel, h) < 0) return -1;
    if (info->photometric == TAV_PHOTO_YCBCR) {
        static constexpr uint16_t kHorizontal[4] = {4, 2, 1, 3};
        uint32_t first = kHorizontal[(j->jpegOptions >> 14) & 3];
        uint32_t second = j->jpegOptions >> 16;
        if (b.add(kTagYCbCrSubSampling, kTiffShort, 2, first | (second << 16)) < 0) return -1;
    }
    info->compressionInfo.jpeg = nullptr;
    return 0;
}

// The profile of a page: embedded bytes, or a linked profile file read
// whole. A linked profile that cannot be had gives no entry and no error.
int add_profile(Builder& b, const PageInfo* info) {
    if (!info->profileOffset.ptr || info->profileSize == 0) return 0;
    if (info->colorSpaceType == kColorSpaceEmbedded)
        return b.add_array(kTagIccProfile, kTiffUndefined, info->profileSize, info->profileOffset.ptr);
    if (info->colorSpaceType != kColorSpaceLinked) return 0;
    int pfd = format_find_profile(static_cast<const char*>(info->profileOffset.ptr));
    if (pfd < 0) return 0;
    int64_t size = plat_file_size(pfd);
    int rc = 0;
    if (size > 0 && size <= kMaxProfileBytes) {
        MemBlock<uint8_t> buf(uint32_t(size), 1);
        if (buf) {
            int32_t got = plat_pread(pfd, buf.get(), uint32_t(size), 0);
            if (got > 0) rc = b.add_array(kTagIccProfile, kTiffUndefined, uint32_t(got), buf.get());
        }
    }
    plat_close(pfd);
    return rc;
}

// Tags 254 to 272: the image, its coding and the first texts.
int add_image(Builder& b, PageInfo* info, uint16_t compression, uint16_t photometric) {
    uint32_t spp = info->samplesPerPixel;
    if (b.add(kTagNewSubfileType, kTiffLong, 1, info->subfileType) < 0) return -1;
    if (b.add(kTagImageWidth, size_type(info->imageWidth), 1, info->imageWidth) < 0) return -1;
    if (b.add(kTagImageLength, size_type(info->imageLength), 1, info->imageLength) < 0) return -1;
    if (spp <= 1) {
        if (b.add(kTagBitsPerSample, kTiffShort, 1, info->bitsPerSample[0] & 0xFFFF) < 0) return -1;
    } else {
        std::vector<uint16_t> bits(spp);
        for (uint32_t i = 0; i < spp; ++i) bits[i] = uint16_t(info->bitsPerSample[i < 5 ? i : 0]);
        if (b.add_array(kTagBitsPerSample, kTiffShort, spp * 2, bits.data()) < 0) return -1;
    }
    if (b.add(kTagCompression, kTiffShort, 1, compression) < 0) return -1;
    if (b.add(kTagPhotometric, kTiffShort, 1, photometric) < 0) return -1;
    uint32_t fill = info->fillOrder == kFillLsbFirst ? kFillLsbFirst : kFillMsbFirst;
    if (b.add(kTagFillOrder, kTiffShort, 1, fill) < 0) return -1;
    static constexpr uint16_t kFirstTexts[4] = {kTagDocumentName, kTagImageDescription, kTagMake,
                                                kTagModel};
    for (int i = 0; i < 4; ++i)
        if (add_text(b, info, i, kFirstTexts[i]) < 0) return -1;
    return 0;
}

// Tags 273 to 283: strips (filled in when the page is finished),
// orientation and resolution. Resolution denominators of 0 become 1.
int add_strips(Builder& b, PageInfo* info) {
    TiffState& ts = tiff_of(b.e);
    ts.stripOffsetsSlot = b.dir->entryCount;
    if (b.add(kTagStripOffsets, kTiffLong, info->stripCount, 0) < 0) return -1;
    if (b.add(kTagOrientation, kTiffShort, 1, tiff_orientation(info)) < 0) return -1;
    if (b.add(kTagSamplesPerPixel, kTiffShort, 1, info->samplesPerPixel & 0xFFFF) < 0) return -1;
    if (b.add(kTagRowsPerStrip, kTiffShort, 1, info->rowsPerStrip & 0xFFFF) < 0) return -1;
    ts.stripCountsSlot = b.dir->entryCount;
    if (b.add(kTagStripByteCounts, kTiffLong, info->stripCount, 0) < 0) return -1;
    if (info->xResDen == 0) info->xResDen = 1;
    if (info->yResDen == 0) info->yResDen = 1;
    uint32_t xres[2] = {info->xResNum, info->xResDen};
    uint32_t yres[2] = {info->yResNum, info->yResDen};
    if (b.add(kTagXResolution, kTiffRational, 1, b.values.add(xres, 8, kTiffRational)) < 0) return -1;
    if (b.add(kTagYResolution, kTiffRational, 1, b.values.add(yres, 8, kTiffRational)) < 0) return -1;
    return 0;
}

// Tags 284 to 301: planar configuration, page name, grey response, coding
// options, resolution unit (outside 1 to 3 it becomes 1), transfer function.
int add_layout(Builder& b, PageInfo* info) {
    const uint32_t photo = info->photometric;
    if (photo == TAV_PHOTO_PALETTE || photo == TAV_PHOTO_RGB) {
        uint32_t planar = photo == TAV_PHOTO_PALETTE ? info->area.palette.planarConfig
                                                     : info->area.rgb.planarConfig;
        planar = planar == kPlanarSeparate ? kPlanarSeparate : kPlanarContiguous;
        if (b.add(kTagPlanarConfig, kTiffShort, 1, planar) < 0) return -1;
    }
    if (add_text(b, info, TAV_TEXT_PAGE_NAME, kTagPageName) < 0) return -1;
    if (photo == TAV_PHOTO_GRAY_WHITE) {
        const TavGrayArea& g = info->area.gray;
        if (b.add(kTagGrayResponseUnit, kTiffShort, 1, g.grayResponseUnit) < 0) return -1;
        if (b.add_array(kTagGrayResponseCurve, kTiffShort, g.grayResponseSize, g.grayResponseBuffer) < 0)
            return -1;
    }
    uint32_t options = info->compressionInfo.value & ~TAV_CODING_T4;
    if (info->compression == TAV_COMP_CCITT_T4 && b.add(kTagT4Options, kTiffLong, 1, options) < 0)
        return -1;
    if (info->compression == TAV_COMP_CCITT_T6 && b.add(kTagT6Options, kTiffLong, 1, options) < 0)
        return -1;
    if (info->resolutionUnit < kResolutionNone || info->resolutionUnit > kResolutionCentimetre)
        info->resolutionUnit = kResolutionNone;
    if (b.add(kTagResolutionUnit, kTiffShort, 1, info->resolutionUnit) < 0) return -1;
    if (photo == TAV_PHOTO_PALETTE) {
        const TavPaletteArea& p = info->area.palette;
        if (b.add_array(kTagTransferFunction, kTiffShort, p.transferSize, p.transferBuffer) < 0) return -1;
    }
    return 0;
}

// Tags 305 to 320: the writer's name, the later texts, chromaticities and
// the colour map.
int add_colour(Builder& b, PageInfo* info) {
    if (b.add(kTagSoftware, kTiffAscii, sizeof kTiffSoftware,
              b.values.add(kTiffSoftware, sizeof kTiffSoftware, kTiffAscii)) < 0)
        return -1;
    static constexpr uint16_t kLaterTexts[3] = {kTagDateTime, kTagArtist, kTagHostComputer};
    for (int i = 0; i < 3; ++i)
        if (add_text(b, info, TAV_TEXT_DATE_TIME + i, kLaterTexts[i]) < 0) return -1;
    const uint32_t photo = info->photometric;
    if (photo == TAV_PHOTO_PALETTE || photo == TAV_PHOTO_RGB) {
        bool pal = photo == TAV_PHOTO_PALETTE;
        uint32_t wpSize = pal ? info->area.palette.whitePointSize : info->area.rgb.whitePointSize;
        void* wp = pal ? info->area.palette.whitePointBuffer : info->area.rgb.whitePointBuffer;
        uint32_t prSize = pal ? info->area.palette.primariesSize : info->area.rgb.primariesSize;
        void* pr = pal ? info->area.palette.primariesBuffer : info->area.rgb.primariesBuffer;
        if (b.add_array(kTagWhitePoint, kTiffRational, wpSize, wp) < 0) return -1;
        if (b.add_array(kTagPrimaryChromaticities, kTiffRational, prSize, pr) < 0) return -1;
    }
    if (photo == TAV_PHOTO_PALETTE) {
        const TavPaletteArea& p = info->area.palette;
        if (b.add_array(kTagColorMap, kTiffShort, p.colorMapSize, p.colorMapBuffer) < 0) return -1;
    }
    return 0;
}

// Every entry of a page's directory, in tag order.
int build_entries(Builder& b, PageInfo* info, uint16_t compression, uint16_t photometric) {
    FctEntry* e = b.e;
    if (add_image(b, info, compression, photometric) < 0 || add_strips(b, info) < 0 ||
        add_layout(b, info) < 0 || add_colour(b, info) < 0)
        return -1;
    if (info->compression == TAV_COMP_JPEG_INFO && add_jpeg(b, info) < 0) return -1;
    if (!(e->editFlags & kEditPageUnderWay)) {
        // The page's first directory carries the table tag, patched at close.
        if (e->curPage == 0) tiff_of(e).privateTagSlot = b.dir->entryCount;
        if (b.add(kTagPageTable, kTiffLong, 1, 0) < 0) return -1;
    }
    return add_profile(b, info);
}

}  // namespace

int tiff_slot_positions(FctEntry* e) {
    TiffState& ts = tiff_of(e);
    if (e->pageCount == 0) {
        // First page of a new file: header, property block, then the slot.
        uint32_t base = ts.hdrBlock ? ts.hdrBlockLen + 16 : 0;
        ts.firstIfdOffset = base + 8;
        ts.tiffWritePos = base + 8 + kTiffSlotSize;
        return 0;
    }
    ts.tiffWritePos = ts.firstIfdOffset + kTiffSlotSize;
    return 0;
}

uint16_t tiff_orientation(const PageInfo* info) {
    uint32_t q = info->reserved, r = info->rotation;
    if (q > 3 || (r != 0 && r != 90 && r != 180 && r != 270)) return 1;
    uint32_t d = (r + 360 - 90 * q) % 360;
    static constexpr uint16_t kPlain[4] = {1, 8, 3, 6};
    static constexpr uint16_t kMirrored[4] = {2, 7, 4, 5};
    return info->mirrored ? kMirrored[d / 90] : kPlain[d / 90];
}

int tiff_build_dir(PageInfo* info, FctEntry* e) {
    TiffState& ts = tiff_of(e);
    ts.stripIndex = -1;
    if (!ts.workDir) {
        errno = TAV_E_WORKFILE;
        return -1;
    }
    uint16_t compression = 0, photometric = 0;
    if (map_compression(info->compression, &compression) < 0) return -1;
    if (map_photometric(info, &photometric) < 0) return -1;
    if (tiff_slot_positions(e) < 0) return -1;
    ts.tiffWritePos = (ts.tiffWritePos + 3u) & ~3u;
    std::memset(ts.workDir, 0, sizeof(TiffDir));
    Builder b{e, ts.workDir, ValueArea(ts.tiffWritePos, tiff_order(e))};
    if (build_entries(b, info, compression, photometric) < 0) return -1;
    // Values that would leave no room for what close writes behind them
    // within the length limit are refused before they are written.
    if (tiff_check_room(e, b.values.end(), 0) < 0) return -1;
    if (b.values.flush(int(e->fd)) < 0) return -1;
    ts.tiffWritePos = b.values.end();
    ts.dirPending = 1;
    return 0;
}
