// Reads, settings and deliveries shared by the single-image formats.
#include "formats/common/format_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "frame/format.h"

int format_read_at(FctEntry* e, uint64_t pos, std::span<uint8_t> buf, uint32_t fileLength) {
    std::fill(buf.begin(), buf.end(), 0);
    if (pos >= fileLength || buf.empty()) return 0;
    uint32_t n = uint32_t(std::min<uint64_t>(buf.size(), fileLength - pos));
    errno = 0;
    if (fio_read_full_at(int(e->fd), uint32_t(pos), buf.data(), n) < 0) {
        errno = errno_or(TAV_EIO);
        return -1;
    }
    return 0;
}

// ---- ByteCursor ----

bool ByteCursor::fill() {
    bufStart_ = pos_;
    bufLen_ = uint32_t(std::min<uint64_t>(kChunk, length_ - pos_));
    if (format_read_at(e_, pos_, std::span(buf_).first(bufLen_), length_) < 0) {
        bufLen_ = 0;
        failed_ = true;
        return false;
    }
    return true;
}

bool ByteCursor::next(uint8_t& byte) {
    if (failed_ || pos_ >= length_) return false;
    if (pos_ < bufStart_ || pos_ >= bufStart_ + bufLen_) {
        if (!fill()) return false;
    }
    byte = buf_[pos_ - bufStart_];
    ++pos_;
    return true;
}

bool ByteCursor::read(std::span<uint8_t> buf) {
    if (failed_) return false;
    if (format_read_at(e_, pos_, buf, length_) < 0) {
        failed_ = true;
        return false;
    }
    pos_ += buf.size();
    return true;
}

// ---- settings ----

void format_common_settings(PageInfo& c) {
    c.infoKind = kInfoKindPage;
    c.subfileType = 0;
    c.byteOrder = kByteOrderII;
    c.fillOrder = kFillMsbFirst;
}

void format_decoded_settings(PageInfo& c) {
    c.xResDen = c.yResDen = 1;
    c.resolutionUnit = kResolutionInch;
    c.reserved = 0;
    c.mirrored = 0;
    std::memset(c.bitsPerSample, 0, sizeof c.bitsPerSample);
    c.byteOrder = kByteOrderII;
    c.fillOrder = kFillMsbFirst;
    c.compression = TAV_COMP_NONE;
}

void format_resolution(PageInfo& c, uint32_t x, uint32_t y, uint32_t unit) {
    c.xResNum = x;
    c.xResDen = 1;
    c.yResNum = y;
    c.yResDen = 1;
    c.resolutionUnit = unit;
}

void format_rgb_samples(PageInfo& c) {
    c.samplesPerPixel = 3;
    c.bitsPerSample[0] = c.bitsPerSample[1] = c.bitsPerSample[2] = 8;
}

void view_set_flag_bytes(PageInfo& c, std::array<uint8_t, 4> bytes) {
    c.privateTagFlags = bytes[0];
    std::copy(bytes.begin() + 1, bytes.end(), c.formatBytes);
}

std::array<uint8_t, 4> view_flag_bytes(const PageInfo& c) {
    return {c.privateTagFlags, c.formatBytes[0], c.formatBytes[1], c.formatBytes[2]};
}

// ---- delivery ----

int format_read_stored(FctEntry* e, uint32_t dataOffset, uint8_t* buffer, uint32_t start,
                       uint32_t length, uint32_t* remaining, uint32_t page) {
    if (page != e->curPage) return format_fail(TAV_E_PAGE);
    const uint32_t size = e->pageDataSize;
    const uint32_t n = std::min(length, size - start);
    const uint64_t pos = uint64_t(dataOffset) + start;
    int32_t got = 0;
    if (n > 0) {
        errno = 0;
        if (pos > kFioMaxOffset) return format_fail(TAV_E_SEEK);
        got = fio_read_full_at(int(e->fd), uint32_t(pos), buffer, n);
        if (got < 0) return format_fail(errno_or(TAV_EIO));
    }
    *remaining = size - start - uint32_t(got);
    return got;
}

int format_read_view_data(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                          uint32_t* remaining, uint32_t page) {
    const uint32_t dataOffset = fct_format(e).data_offset(e->pageInfo);
    return format_read_stored(e, dataOffset, buffer, start, length, remaining, page);
}

std::span<uint8_t> format_palette_target(const FctEntry* e, const PageInfo* info,
                                         uint32_t paletteBytes) {
    const TavPaletteArea& a = info->area.palette;
    if (e->pageInfo.photometric != TAV_PHOTO_PALETTE || !a.colorMapBuffer || a.colorMapSize == 0)
        return {};
    return {static_cast<uint8_t*>(a.colorMapBuffer), std::min(a.colorMapSize, paletteBytes)};
}

int format_read_bytes(FctEntry* e, uint32_t offset, std::span<uint8_t> out) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    return format_read_at(e, offset, out, uint32_t(length));
}

void format_grey_ramp(std::span<uint8_t> out) {
    for (size_t k = 0; k < out.size(); ++k) out[k] = uint8_t(k / 3);
}
