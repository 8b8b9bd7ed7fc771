// A TIFF directory in memory and its encoding: the 12-byte entry, the
// directory image, and the one IFD parser that every reader uses.
#pragma once

#include <cstdint>

#include "formats/tiff/tiff_state.h"
#include "formats/tiff/tiff_types.h"
#include "frame/fct.h"

// An entry's value field in memory: SHORT values with count 1 or 2 as two
// u16 halves (the first in the low half), the bytes of a value of one-byte
// items that fits the field as they lie in the file (loaded little-endian),
// anything else as one u32. Tag, type and count in host order.
inline TiffDirEntry tiff_decode_entry(const uint8_t* p, uint16_t order) {
    TiffDirEntry d;
    d.tag = tiff_get16(p, order);
    d.type = tiff_get16(p + 2, order);
    d.count = tiff_get32(p + 4, order);
    if (d.type == kTiffShort && (d.count == 1 || d.count == 2))
        d.value = uint32_t(tiff_get16(p + 8, order)) | uint32_t(tiff_get16(p + 10, order)) << 16;
    else if (tiff_is_byte_type(d.type) && d.count <= 4)
        d.value = get_le32(p + 8);
    else
        d.value = tiff_get32(p + 8, order);
    return d;
}
void tiff_encode_entry(uint8_t* p, const TiffDirEntry& d, uint16_t order);

// The index of the last entry with the tag, or -1.
int tiff_dir_find(const TiffDir& dir, uint16_t tag);

// Bytes of a directory image: count, entries, next link.
inline uint32_t tiff_dir_bytes(uint32_t entries) { return 6 + 12 * entries; }
// Encodes a directory; out holds tiff_dir_bytes(entryCount) bytes. Returns
// the bytes produced.
uint32_t tiff_encode_dir(const TiffDir& dir, uint16_t order, uint8_t* out);

// Value of an entry as the decoder takes it: SHORT count 1 its first u16,
// otherwise the u32 field.
inline uint32_t tiff_entry_value(const TiffDirEntry& d) {
    return (d.type == kTiffShort && d.count == 1) ? (d.value & 0xFFFFu) : d.value;
}

// The most bytes one IFD can occupy that is still accepted: the entry count,
// 54 entries and the next-IFD offset, rounded up to a whole 55th entry so a
// single read also sees the count of an IFD that is refused.
constexpr uint32_t kIfdReadSize = 2 + 12 * 55 + 4;

// Where IFD bytes come from: straight from a descriptor, or through a window
// of the file kept for the length of one set-up (no write can come between
// its reads, so every read gives what a direct read would).
class IfdSource {
public:
    explicit IfdSource(int fd) : fd_(fd) {}
    ~IfdSource();
    IfdSource(const IfdSource&) = delete;
    IfdSource& operator=(const IfdSource&) = delete;
    // Turns the window on (a memory-table block of up to 64 KB).
    void use_window();
    // Up to n (at most kIfdReadSize) bytes at pos, or -1 with errno.
    int32_t read(uint32_t pos, uint8_t* dst, uint32_t n);

private:
    int fd_;
    uint8_t* buf_ = nullptr;
    uint32_t cap_ = 0;
    uint32_t start_ = 0;
    uint32_t len_ = 0;
    uint32_t want_ = 4096;  // bytes the next refill asks for (grows with locality)
    bool atEnd_ = false;    // the window's last byte is the file's last byte
};

// How an IFD is read.
enum IfdReadFlags : uint32_t {
    kIfdFileOrder = 0,  // entries as they lie in the file (for patching by slot)
    kIfdSorted = 1,     // entries sorted by tag (for decoding)
};

// Reads the IFD at pos, which must lie below `limit` (the end of the file,
// or of the part of it that holds directories): at most 54 entries, the
// next link 0 when it is cut off by the limit or points beyond it. 0, or -1
// with errno (TAV_E_DIRECTORY for a directory that cannot be read whole).
int tiff_read_ifd(IfdSource& src, uint16_t order, uint32_t pos, uint32_t limit, uint32_t flags,
                  TiffDir* out);
