// What the single-image formats (GIF, Targa, PCX, DCX, BMP, JPEG) share:
// header reads that see the file as if it were zero-filled past its end, a
// forward byte cursor for block and marker walks, the words of the format
// views in PageInfo, stored-data delivery and palette delivery.
#pragma once

#include <array>
#include <cerrno>
#include <cstdint>
#include <span>

#include "frame/fct.h"
#include "frame/page_values.h"
#include "qvtav.h"

// Fails a format operation with a code: -1 with errno set.
inline int format_fail(int code) {
    errno = code;
    return -1;
}

// ---- reading headers ----

// Reads buf.size() bytes at pos. Bytes at or beyond fileLength read as
// zero, so a cut-off header gives the same fields on every call. 0, or -1
// with errno when the file cannot be read.
int format_read_at(FctEntry* e, uint64_t pos, std::span<uint8_t> buf, uint32_t fileLength);

// Reads a file forward byte by byte through a buffer (GIF blocks, JPEG
// markers). Every step moves forward, and the walk ends at the end of the
// file, so no walk can loop.
class ByteCursor {
public:
    ByteCursor(FctEntry* e, uint32_t fileLength, uint64_t pos)
        : e_(e), length_(fileLength), pos_(pos) {}
    // The next byte; false at the end of the file or when a read fails
    // (failed() then says so, errno set).
    bool next(uint8_t& byte);
    // The next buf.size() bytes, zeros past the end of the file; false when
    // a read fails.
    bool read(std::span<uint8_t> buf);
    void skip(uint64_t n) { pos_ += n; }
    uint64_t pos() const { return pos_; }
    void seek(uint64_t pos) { pos_ = pos; }
    bool failed() const { return failed_; }

private:
    bool fill();

    static constexpr uint32_t kChunk = 4096;
    FctEntry* e_;
    uint32_t length_;
    uint64_t pos_;
    uint64_t bufStart_ = 0;
    uint32_t bufLen_ = 0;
    bool failed_ = false;
    std::array<uint8_t, kChunk> buf_{};
};

// ---- the settings every single-image page shares ----

constexpr uint32_t kInfoKindPage = 4;

// Record kind, subfile 0, little-endian, fill order 1 (the rest of the copy
// was cleared by the frame).
void format_common_settings(PageInfo& c);
// The settings of a page a format delivers decoded (AWD, XIFF), which its
// reader fills whatever the copy held: resolution denominators 1 in
// inches, no reserved word or mirroring, no bits per sample yet,
// little-endian, fill order 1, no compression.
void format_decoded_settings(PageInfo& c);
// Resolution x by y pixels per unit, denominators 1.
void format_resolution(PageInfo& c, uint32_t x, uint32_t y, uint32_t unit);
// Three samples of 8 bits.
void format_rgb_samples(PageInfo& c);

// ---- the words of a format view ----
//
// The five PageInfo words from compressionInfo through the flags word
// (privateTagFlags and formatBytes) carry format fields. A word may hold two
// u16 halves (low half first) or four u8 (privateTagFlags first).
constexpr uint32_t view_halves(uint32_t low, uint32_t high) { return (low & 0xFFFF) | (high << 16); }
constexpr uint16_t view_low(uint32_t word) { return uint16_t(word); }
constexpr uint16_t view_high(uint32_t word) { return uint16_t(word >> 16); }
void view_set_flag_bytes(PageInfo& c, std::array<uint8_t, 4> bytes);
std::array<uint8_t, 4> view_flag_bytes(const PageInfo& c);

// ---- delivery ----

// The stored data of the current page: up to `length` bytes at dataOffset
// + start, never beyond the page's stored bytes; remaining = the page's
// bytes left after them. page is the frame's (by-strip mode passes any
// number): a page other than the current one is refused with TAV_E_PAGE, since the
// offsets are the current page's. Bytes read, or -1 with errno.
int format_read_stored(FctEntry* e, uint32_t dataOffset, uint8_t* buffer, uint32_t start,
                       uint32_t length, uint32_t* remaining, uint32_t page);

// The page read of a format whose page is its stored data from the data
// offset its view records (its row's data_offset).
int format_read_view_data(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                          uint32_t* remaining, uint32_t page);

// Where the caller wants the palette of the current page: its colour-map
// buffer, at most its stated size and at most `paletteBytes`; empty unless
// the page is a palette page and the caller gave a buffer and a size.
std::span<uint8_t> format_palette_target(const FctEntry* e, const PageInfo* info,
                                         uint32_t paletteBytes);
// The file's bytes at offset into out, zeros past its end (a palette, a
// profile). 0, or -1 with errno.
int format_read_bytes(FctEntry* e, uint32_t offset, std::span<uint8_t> out);
// A grey ramp of three-byte entries: entry i is i, i, i.
void format_grey_ramp(std::span<uint8_t> out);
