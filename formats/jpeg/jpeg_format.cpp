// JPEG (JFIF) files: the page's JPEG header (everything before the SOS
// marker, without a JFXX thumbnail segment) goes to the caller in a
// JpegInfo, and xtavread delivers the file from the SOS marker on. Only
// baseline frames are read. A JPEG page has no auxiliary data; JPEG files
// are never created.
//
// The JpegInfo follows the TIFF rules: it belongs to the handle, comes back
// for reuse when the caller passes the record that holds it to xtavgeti
// again, and is freed at close and abort. Its restartInterval word holds the
// file offset of the SOS marker (where the delivered data starts); the
// handle keeps that offset for itself, so nothing the caller does to the
// block changes what xtavread reads, and the TIFF writer never takes the
// word for a restart interval.
//
// Behaviour:
//  - A frame other than baseline is refused with TAV_E_COMPRESSION; a file that ends
//    before its baseline frame header or its scan header is refused with
//    401; a frame header longer than the 773 bytes of 255 components is
//    refused with TAV_E_SIZE; a segment length below 2, and a JFXX segment that
//    runs beyond the end of the file, are refused with TAV_E_TRUNCATED.
//  - The markers are walked segment by segment (a table's bytes are never
//    taken for markers), and 0xFF fill bytes may stand before a marker.
//  - The JFXX segment that may follow the JFIF segment is left out of the
//    header wherever the JFIF segment ends.
#include "formats/jpeg/jpeg_format.h"

#include <array>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/common/format_io.h"

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kBaselineFrame = 0xC0;
constexpr uint8_t kHuffmanTables = 0xC4;
constexpr uint8_t kArithmeticTables = 0xCC;
constexpr uint8_t kJpgExtension = 0xC8;  // reserved, not a frame
constexpr uint8_t kStartOfScan = 0xDA;  // it and the markers above it carry a length

// The first 20 bytes: SOI, the second marker and its length, and (for a
// JFIF APP0 segment) version, units and densities.
constexpr uint32_t kLeadSize = 20;
constexpr uint32_t kSecondMarkerAt = 2;
constexpr uint32_t kSecondLengthAt = 4;
constexpr uint32_t kUnitsAt = 13;
constexpr uint32_t kXDensityAt = 14;
constexpr uint32_t kYDensityAt = 16;
constexpr uint16_t kJfifMarker = 0xFFE0;
constexpr uint32_t kSegmentStart = 4;  // where the second segment's length starts
constexpr std::array<uint8_t, 4> kJfxxIdentifier = {'J', 'F', 'X', 'X'};

// JFIF density units.
constexpr uint8_t kUnitsAspectOnly = 0;
constexpr uint8_t kUnitsPerInch = 1;
constexpr uint8_t kUnitsPerCentimetre = 2;
constexpr uint32_t kAspectOnlyResolution = 200;

// The frame header: length, precision, lines, samples per line, components,
// three bytes a component.
constexpr uint32_t kFrameMaxLength = 8 + 3 * 255;
constexpr uint32_t kFrameLinesAt = 1;  // in the bytes after the length
constexpr uint32_t kFrameWidthAt = 3;
constexpr uint32_t kFrameComponentsAt = 5;
constexpr uint32_t kSegmentLengthBytes = 2;

constexpr uint32_t kJpegInterchange = 1;

// A JPEG handle's own state: where the page's delivered data starts.
struct JpegState {
    uint32_t dataStart = 0;
};

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// What the marker walk finds.
struct Frame {
    uint32_t width = 0;
    uint32_t length = 0;
    uint32_t components = 0;
    uint64_t scanAt = 0;  // offset of the SOS marker's 0xFF
};

bool is_frame_marker(uint8_t code) {
    return code >= kBaselineFrame && code <= 0xCF && code != kHuffmanTables &&
           code != kJpgExtension && code != kArithmeticTables;
}

// A segment's length word; -1 with errno when it cannot hold itself.
int64_t segment_length(ByteCursor& cur) {
    std::array<uint8_t, kSegmentLengthBytes> b;
    if (!cur.read(b)) return -1;
    uint32_t n = be16(b.data());
    if (n < kSegmentLengthBytes) return format_fail(TAV_E_TRUNCATED);
    return n - kSegmentLengthBytes;
}

int read_frame(ByteCursor& cur, Frame& f) {
    int64_t n = segment_length(cur);
    if (n < 0) return -1;
    if (n + kSegmentLengthBytes > kFrameMaxLength) return format_fail(TAV_E_SIZE);
    std::array<uint8_t, kFrameMaxLength> area{};
    if (!cur.read(std::span(area).first(size_t(n)))) return -1;
    f.length = be16(&area[kFrameLinesAt]);
    f.width = be16(&area[kFrameWidthAt]);
    f.components = area[kFrameComponentsAt];
    return 0;
}

// The next marker code, 0xFF fill bytes skipped; false at the end of the
// file or on a read failure.
bool next_marker(ByteCursor& cur, uint8_t& code) {
    uint8_t b = 0;
    do {
        if (!cur.next(b)) return false;
    } while (b != kMarkerPrefix);
    do {
        if (!cur.next(code)) return false;
    } while (code == kMarkerPrefix);
    return true;
}

// Walks the markers from the cursor to the scan header, reading the
// baseline frame header on the way. 0, or -1 with errno.
int walk_markers(ByteCursor& cur, Frame& f) {
    bool frameSeen = false;
    for (;;) {
        uint8_t code = 0;
        if (!next_marker(cur, code)) return cur.failed() ? -1 : format_fail(TAV_E_NO_IMAGE);
        if (!frameSeen && code == kBaselineFrame) {
            if (read_frame(cur, f) < 0) return -1;
            frameSeen = true;
        } else if (!frameSeen && is_frame_marker(code)) {
            return format_fail(TAV_E_COMPRESSION);
        } else if (frameSeen && code == kStartOfScan) {
            f.scanAt = cur.pos() - 2;
            return 0;
        } else if (code == kHuffmanTables || code >= kStartOfScan || is_frame_marker(code)) {
            int64_t n = segment_length(cur);
            if (n < 0) return -1;
            cur.skip(uint64_t(n));
        }
        // Other markers stand alone.
    }
}

// A JFXX segment where the walk starts: its extent, or {0, 0}.
struct Span {
    uint64_t from = 0;
    uint64_t to = 0;
    uint64_t size() const { return to - from; }
};

int find_jfxx(ByteCursor& cur, uint32_t fileLength, Span& jfxx) {
    const uint64_t at = cur.pos();
    std::array<uint8_t, 2 + kSegmentLengthBytes + kJfxxIdentifier.size()> b;
    if (!cur.read(b)) return -1;
    cur.seek(at);
    if (b[0] != kMarkerPrefix || b[1] != kApp0) return 0;
    if (std::memcmp(&b[4], kJfxxIdentifier.data(), kJfxxIdentifier.size()) != 0) return 0;
    const uint32_t n = be16(&b[2]);
    jfxx = {at, at + 2 + n};
    if (n < kSegmentLengthBytes || jfxx.to > fileLength) return format_fail(TAV_E_TRUNCATED);
    cur.seek(jfxx.to);
    return 0;
}

// Resolution from the JFIF segment (any other second segment counts as
// version 1.0 without densities).
void set_resolution(PageInfo& c, const std::array<uint8_t, kLeadSize>& lead) {
    const bool jfif = be16(&lead[kSecondMarkerAt]) == kJfifMarker;
    const uint8_t units = jfif ? lead[kUnitsAt] : kUnitsAspectOnly;
    const uint32_t x = jfif ? be16(&lead[kXDensityAt]) : 0;
    const uint32_t y = jfif ? be16(&lead[kYDensityAt]) : 0;
    switch (units) {
    case kUnitsAspectOnly:
        format_resolution(c, kAspectOnlyResolution, kAspectOnlyResolution, kResolutionNone);
        break;
    case kUnitsPerInch: format_resolution(c, x, y, kResolutionInch); break;
    case kUnitsPerCentimetre: format_resolution(c, x, y, kResolutionCentimetre); break;
    default: format_resolution(c, x, y, 0); break;
    }
}

void set_samples(PageInfo& c, uint32_t components) {
    if (components == 3) {
        format_rgb_samples(c);
        c.photometric = TAV_PHOTO_RGB;
    } else if (components == 1) {
        c.samplesPerPixel = 1;
        c.bitsPerSample[0] = 8;
        c.photometric = TAV_PHOTO_GRAY_WHITE;
    }
}

// The header: the file up to the SOS marker, without the JFXX segment.
// The JpegInfo recycled in the copy is filled, or a new one made.
int fill_jpeg_info(FctEntry* e, PageInfo& c, uint32_t fileLength, uint32_t scanAt, Span jfxx) {
    const uint32_t headerLength = scanAt - uint32_t(jfxx.size());
    MemBlock<uint8_t> header(headerLength, 1);
    if (!header) return -1;
    const uint32_t head = jfxx.size() ? uint32_t(jfxx.from) : headerLength;
    if (format_read_at(e, 0, {header.get(), head}, fileLength) < 0 ||
        format_read_at(e, jfxx.to, {header.get() + head, headerLength - head}, fileLength) < 0)
        return -1;
    MemBlock<JpegInfo> made;
    JpegInfo* j = c.compressionInfo.jpeg;
    if (!j) {
        made.reset(static_cast<JpegInfo*>(mem_calloc(1, sizeof(JpegInfo))));
        if (!made) return -1;
        j = made.get();
    }
    j->headerLength = j->interchangeLength = headerLength;
    j->header = header.release();
    j->interchange = kJpegInterchange;
    j->interchangeOffset = 0;
    j->restartInterval = scanAt;
    made.release();
    jpeg_info_mark_data_start(j);
    c.compressionInfo.jpeg = j;
    return 0;
}

int jpeg_page_info(FctEntry* e, uint32_t, PageInfo& c, const PageInfo&, PageSizes* sizes) {
    int64_t length = fio_length(int(e->fd));
    if (length < 0) return -1;
    const uint32_t fileLength = uint32_t(length);
    std::array<uint8_t, kLeadSize> lead;
    if (format_read_at(e, 0, lead, fileLength) < 0) return -1;

    // The walk starts behind the second segment (where a JFXX segment may
    // follow).
    ByteCursor cur(e, fileLength, kSegmentStart + be16(&lead[kSecondLengthAt]));
    Span jfxx;
    if (find_jfxx(cur, fileLength, jfxx) < 0) return -1;
    Frame f;
    if (walk_markers(cur, f) < 0) return -1;
    const uint32_t scanAt = uint32_t(f.scanAt);
    if (fill_jpeg_info(e, c, fileLength, scanAt, jfxx) < 0) return -1;

    format_common_settings(c);
    set_resolution(c, lead);
    c.compression = TAV_COMP_JPEG_INFO;
    c.imageWidth = f.width;
    c.imageLength = f.length;
    set_samples(c, f.components);
    sizes->dataBytes = fileLength - scanAt;
    c.maxStripSize = sizes->dataBytes;
    c.stripCount = 1;
    c.rowsPerStrip = c.imageLength;
    view_set_flag_bytes(c, {0, 0, 0, 0});
    format_state<JpegState>(e).dataStart = scanAt;
    return 0;
}

int jpeg_page_read(FctEntry* e, uint8_t* buffer, uint32_t start, uint32_t length,
                   uint32_t* remaining, uint32_t page) {
    return format_read_stored(e, format_state<JpegState>(e).dataStart, buffer, start, length,
                              remaining, page);
}

int jpeg_open(FctEntry* e, const FormatRequest& request) {
    if (!format_new_state<JpegState>(e)) return -1;
    return format_single_page(e, request);
}

void jpeg_release(FctEntry* e) {
    if (e->formatState) format_end_state<JpegState>(e);
}

}  // namespace

Probe jpeg_probe(const FileHead& head) {
    std::span<const uint8_t> b = head.bytes;
    bool start = b[0] == kMarkerPrefix && b[1] == kStartOfImage;
    return start && b[2] == kMarkerPrefix ? kProbeYes : kProbeNo;
}

const FormatOps kJpegFormat = {
    .fileType = FILETYPE_JPEG, .detectOrder = 80, .probe = jpeg_probe,
    .open = jpeg_open, .release = jpeg_release, .page_info = jpeg_page_info,
    .page_read = jpeg_page_read, .page_data = format_nothing_data,
};
