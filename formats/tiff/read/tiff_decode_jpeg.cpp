// Old-style JPEG pages (tags 512 to 521): the description of the JPEG
// stream (JpegInfo), the marker scan that finds its header, and the header
// read, which may move the first strip back to the SOS marker.
#include <cerrno>

#include "fileio/mem.h"
#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/read/tiff_decode_internal.h"

namespace {

// Reads two bytes at pos for the marker scan; false when they cannot be read.
bool read2(Decode& d, uint32_t pos, uint8_t* b) {
    return page_read_exact(d.e, pos, b, 2, d.fileEnd, TAV_EIO) == 0;
}

}  // namespace

JpegInfo* jpeg_get(Decode& d) {
    if (!d.jpeg) {
        d.jpeg = static_cast<JpegInfo*>(mem_calloc(1, sizeof(JpegInfo)));
        if (!d.jpeg) errno = TAV_ENOMEM;
    }
    return d.jpeg;
}

// Marker scan for tag 513. 0, or -1 (page refused).
int marker_scan(Decode& d) {
    JpegInfo* j = d.jpeg;
    const uint32_t start = j->interchangeOffset;
    uint32_t pos = start;
    for (;;) {
        uint8_t b[2];
        if (!read2(d, pos, b)) b[0] = 0;
        errno = 0;
        if (uint64_t(pos) + 2 > 0xFFFFFFFFu) b[0] = 0;
        pos += 2;
        if (b[0] != 0xFF || b[1] == 0x00 || b[1] == 0xFF) {
            j->interchangeLength = pos - 2 - start;
            if (j->interchangeLength == 0) return fail(kErrJpeg);
            return 0;
        }
        if (b[1] == 0x01 || (b[1] >= 0xD0 && b[1] <= 0xD9)) continue;
        if (b[1] == 0xDA) {
            j->interchangeLength = pos - 2 - start;
            uint32_t s = pos - 2;
            if (d.offsetsSeen && strip_list_get(d.ts->stripOffsets, 0) != s)
                if (move_first_strip(d, s) < 0) return -1;
            return 0;
        }
        uint8_t lb[2];
        bool ok = read2(d, pos, lb);
        uint32_t len = ok ? uint32_t(lb[0]) << 8 | lb[1] : 0;
        uint8_t last;
        // A segment length below 2 cannot hold itself: the scan would stand
        // still, so it ends there.
        if (!ok || len < 2 || uint64_t(pos) + len > uint64_t(d.fileEnd) ||
            page_read_exact(d.e, pos + len - 1, &last, 1, d.fileEnd, TAV_EIO) < 0) {
            errno = 0;
            j->interchangeLength = pos - 2 - start;
            if (j->interchangeLength == 0) return fail(kErrJpeg);
            return 0;
        }
        pos += len;
    }
}

// Header read with length n (after tag 513 without 514, or at tag 514).
int header_read(Decode& d, uint32_t n) {
    JpegInfo* j = d.jpeg;
    if (j->interchangeLength != 0 && j->interchangeLength < n) n = j->interchangeLength;
    if (!d.countsSeen) {
        return fail(TAV_E_NO_BYTE_COUNTS);
    }
    j->interchangeLength = n;
    uint32_t h = n;
    const uint32_t io = j->interchangeOffset;
    StripList* o = d.offsetsSeen ? d.ts->stripOffsets : nullptr;
    uint32_t inside = o ? (d.countsCount < o->count ? d.countsCount : o->count) : 0;
    bool stripInside = false;
    for (uint32_t i = 0; i < inside; ++i) {
        uint32_t s = strip_list_get(o, i);
        if (s > io && uint64_t(s) < uint64_t(io) + n) {
            stripInside = true;
            break;
        }
    }
    if (stripInside) {
        uint32_t dataBytes = d.sizes->dataBytes;
        if (d.countsCount == 1) {
            if (n <= dataBytes) {
                return fail(kErrJpeg);
            }
            uint32_t m = n - dataBytes;
            if (!in_file(d, io, m)) {
                return fail(kErrJpeg);
            }
            MemBlock<uint8_t> buf(m, 1);
            if (!buf) {
                return fail(TAV_ENOMEM);
            }
            if (page_read_exact(d.e, io, buf.get(), m, d.fileEnd, TAV_EIO) < 0) {
                return -1;
            }
            uint32_t p = m;
            for (uint32_t i = 0; i + 1 < m; ++i)
                if (buf[i] == 0xFF && buf[i + 1] == 0xDA) {
                    p = i;
                    break;
                }
            if (p == m) {
                return fail(kErrJpeg);
            }
            uint32_t old = strip_list_get(o, 0);
            uint32_t s = io + p;
            if (s > old) {  // a move forward refuses the page
                return fail(kErrJpeg);
            }
            uint64_t grown = uint64_t(strip_list_get(d.ts->stripCounts, 0)) + (old - s);
            uint32_t v = grown > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(grown);
            if (strip_list_set(d.ts->stripCounts, 0, v) < 0 || strip_list_set(o, 0, s) < 0) {
                return -1;
            }
            d.info->maxStripSize = v;
            j->interchangeLength = p;
            h = p;
            d.sizes->dataBytes = v;
        } else {
            if (n <= dataBytes) {
                return fail(kErrJpeg);
            }
            h = n - dataBytes;
        }
    }
    if (h == 0 || !in_file(d, io, h)) {
        return fail(kErrJpeg);
    }
    mem_free_field(j->header);  // a second header read replaces the first
    j->headerLength = h;
    j->header = static_cast<uint8_t*>(mem_calloc(h, 1));
    if (!j->header) {
        return fail(TAV_ENOMEM);
    }
    if (page_read_exact(d.e, io, j->header, h, d.fileEnd, kErrJpeg) < 0) return -1;
    return 0;
}
