// Helpers shared by the TIFF directory and page-location code.
#pragma once

#include <cstdint>

#include "frame/fct.h"
#include "tiff/tiff.h"

// The most bytes one IFD can occupy that is still accepted: the entry count,
// 54 entries and the next-IFD offset, rounded up to a whole 55th entry so a
// single read also sees the count of an IFD that is refused.
constexpr uint32_t kIfdReadSize = 2 + 12 * 55 + 4;

// Reads up to n bytes at pos through the handle's descriptor: the bytes
// read (fewer only at the end of the file), or -1 with errno set.
int32_t tiff_read_at(int fd, uint32_t pos, void* buf, uint32_t n);

// Where IFD bytes come from: straight from the descriptor, or through a
// window of the file kept for the length of one set-up (no write can come
// between its reads, so every read gives what a direct read would).
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

// One IFD read through a source: tiff_read_dir's steps 1 to 7 (no subfile
// selection).
int tiff_read_one_ifd(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                      uint32_t ifdOffset, TiffDir* out);

// Subfile selection (step 8) over a source.
int tiff_read_dir_from(FctEntry* e, IfdSource& src, uint16_t byteOrder, uint32_t base,
                       uint32_t ifdOffset, uint32_t wantedSubfile, TiffDir* out, int anyPage);

inline bool tiff_swaps(uint16_t byteOrder) { return byteOrder != kByteOrderII; }
