// Page-by-page copy of a TIFF file into a new file, leaving a range of pages
// out and putting the handle's property block in front (page deletion and
// property update), with its helpers copy_range and dir_of_path.
//
// The copy never decodes anything: every out-of-line value, JPEG block and
// strip is read from the source and written to the target once, and the
// directories are rebuilt with the new positions. Bytes several pages (or
// entries) share in the source are shared in the target too: a range copied
// before is not copied again, and a strip array that several pages share in
// the source is written once, so the target never outgrows the source by
// more than its new directories, however often a hostile file points at the
// same bytes. (Files whose pages each have their own bytes keep their
// layout.) The target is laid out
// page after page: directory (with room for one more entry), its values, its
// strips, its strip tables; the page offset table comes last.
//
// Choices of this implementation where the file format leaves room:
// - JPEG tables (519 JPEGQTables, 520 JPEGDCTables, 521 JPEGACTables) point
//   at table data. A table that lies inside the copied JPEGInterchangeFormat
//   block moves with that block; a table elsewhere in the file is copied
//   behind the directory like any other value, and the entry points at the
//   copy. Otherwise the copy would point at bytes of some other page.
// - A SHORT StripOffsets array whose new offsets do not all fit 16 bits is
//   written as LONG (the entry's type changes); a SHORT array whose offsets
//   still fit keeps its type.
// - Arrays of 4 bytes or less (two SHORT strip values, one LONG) are written
//   inside the entry, as TIFF requires of every value that fits there.
// - The field types beyond TIFF 6.0's basic ones (SSHORT, SLONG, SRATIONAL,
//   FLOAT, DOUBLE, IFD) have their sizes too, so their out-of-line values are
//   copied instead of being left pointing into the old file.
// - Pages are found as the reader numbers them: through the page index, the
//   page offset table, or the chain. (A chain may carry extra directories of
//   reduced-resolution images that the table does not count as pages.)
// - A JPEGInterchangeFormat without a length, on a page of one strip that
//   lies behind it, is taken to run to the end of that strip, so that the
//   JPEG header and the strip move together.
// - A first directory that would grow to 55 entries with the table entry is
//   refused (297): such a directory could not be read back.
// - A strip or a JPEGInterchangeFormat block that reaches beyond the end of
//   the source is cut to it, its byte count with it: the copy places exactly
//   the bytes it copies, never what a count merely claims. Any other value
//   that runs past the end cannot be copied whole; the copy is refused (292).
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "tiff/tiff.h"
#include "tiff/write/tiff_writer.h"

namespace {

constexpr uint64_t kMaxFilePos = kFioMaxOffset;  // files stay below 2^31 bytes
constexpr uint32_t kCopyChunk = 64u << 20;       // largest run of adjacent copies joined
constexpr uint32_t kMaxJpegTables = 16;          // one table per sample, a few samples
constexpr uint32_t kJpegQTableSize = 64;         // a quantisation table
constexpr uint32_t kHuffmanCounts = 16;          // code counts before a Huffman table's codes

uint64_t align4(uint64_t v) { return (v + 3) & ~uint64_t(3); }

// The output file: positioned writes, every position checked against the
// 2^31 limit of the file layer.
struct Output {
    int fd;
    uint16_t order;

    int write_at(uint64_t pos, const void* buf, uint32_t n) const {
        if (pos + n > kMaxFilePos) {
            errno = TAV_E_SEEK;
            return -1;
        }
        if (fio_seek_to(fd, uint32_t(pos)) < 0) return -1;
        int32_t w = fio_write(fd, buf, n);
        if (w < 0) return -1;
        if (uint32_t(w) != n) {
            if (errno == 0) errno = TAV_EIO;
            return -1;
        }
        return 0;
    }
    int write_u32s(uint64_t pos, const uint32_t* v, uint32_t n) const {
        if (pos + 4ull * n > kMaxFilePos) {
            errno = TAV_E_SEEK;
            return -1;
        }
        return tiff_write_items_at(fd, uint32_t(pos), v, n, kTiffLong, order);
    }
};

// Copies n bytes from srcOffset to dstOffset. The file layer copies local
// files inside the kernel, so the bytes never pass through this process. A
// source that ends early leaves a gap.
int copy_range(int src, int dst, uint32_t srcOffset, uint32_t dstOffset, uint32_t n) {
    if (n == 0) return 0;
    return fio_copy_range(src, dst, srcOffset, dstOffset, n) < 0 ? -1 : 0;
}

// Strip list owned for one page.
struct OwnedStripList {
    StripList* list = nullptr;
    ~OwnedStripList() { strip_list_free(list); }
};

struct RewriteState {
    FctEntry* e;
    Output out;
    uint64_t end = 0;          // output position where the next value goes
    uint32_t tableEntryPos = 0;  // file position of the 32934 entry (0: none)
    bool tagPlaced = false;

    // Copies wait in one pending run while each continues the previous one
    // in both files (strips of a page usually do), so they travel in few
    // large reads and writes.
    uint64_t runSrc = 0, runDst = 0, runLen = 0;

    // Where each source range copied so far went; where each source strip
    // array (tag, position, count, type) written so far lies, with its bytes.
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> copied{};
    std::map<std::tuple<uint16_t, uint64_t, uint32_t, uint16_t>, std::pair<uint32_t, std::vector<uint8_t>>> arrays{};

    int copy(uint64_t src, uint64_t dst, uint64_t n) {
        if (runLen && src == runSrc + runLen && dst == runDst + runLen && runLen + n <= kCopyChunk) {
            runLen += n;
            return 0;
        }
        if (flush() < 0) return -1;
        runSrc = src;
        runDst = dst;
        runLen = n;
        return 0;
    }
    int flush() {
        if (!runLen) return 0;
        uint64_t n = runLen;
        runLen = 0;
        return copy_range(int(e->fd), out.fd, uint32_t(runSrc), uint32_t(runDst), uint32_t(n));
    }
};

// Reads n bytes of the source at pos; fewer than n is a failure.
int read_source(FctEntry* e, uint32_t pos, void* buf, uint32_t n) {
    if (uint64_t(pos) + n > e->origSize) {
        errno = TAV_E_OFFSET;
        return -1;
    }
    if (fio_seek_to(int(e->fd), pos) < 0) return -1;
    int32_t r = fio_read(int(e->fd), buf, n);
    if (r < 0) return -1;
    if (uint32_t(r) != n) {
        errno = TAV_EIO;
        return -1;
    }
    return 0;
}

// Bytes of n at src that the source holds: a count may claim more than the
// file has.
uint32_t bytes_held(const FctEntry* e, uint64_t src, uint64_t n) {
    uint64_t have = src < e->origSize ? e->origSize - src : 0;
    return uint32_t(n < have ? n : have);
}

// Copies the bytes of n at src that the source holds to the output end and
// advances the end past them (aligned to 4 for a value; strips follow one
// another): the copy places exactly the bytes it copies. *placed gets their
// number.
int copy_held(RewriteState& s, uint64_t src, uint64_t n, uint32_t* newPos, uint32_t* placed,
              bool align = true) try {
    uint64_t at = s.end;
    uint32_t have = bytes_held(s.e, src, n);
    *placed = have;
    if (have) {
        auto [it, isNew] = s.copied.try_emplace({src, have}, uint32_t(at));
        if (!isNew) {
            *newPos = it->second;  // the same bytes, copied before
            return 0;
        }
    }
    if (at + have > kMaxFilePos) {
        errno = TAV_E_SEEK;
        return -1;
    }
    if (have && s.copy(src, at, have) < 0) return -1;
    *newPos = uint32_t(at);
    s.end = align ? align4(at + have) : at + have;
    return 0;
} catch (const std::bad_alloc&) {
    errno = TAV_ENOMEM;
    return -1;
}

// Copies a value of n bytes at src to the output end. A value that runs past
// the end of the source cannot be copied whole: 292.
int copy_value(RewriteState& s, uint64_t src, uint64_t n, uint32_t* newPos) {
    if (bytes_held(s.e, src, n) != n) {
        errno = TAV_E_OFFSET;
        return -1;
    }
    uint32_t placed = 0;
    return copy_held(s, src, n, newPos, &placed);
}

// Size in bytes of one JPEG table at a source offset: 64 for a quantisation
// table, 16 code counts plus the codes for a Huffman table.
int jpeg_table_size(FctEntry* e, uint16_t tag, uint32_t pos, uint32_t* size) {
    if (tag == kTagJpegQTables) {
        *size = kJpegQTableSize;
        return 0;
    }
    uint8_t counts[kHuffmanCounts];
    if (read_source(e, pos, counts, kHuffmanCounts) < 0) return -1;
    uint32_t n = kHuffmanCounts;
    for (uint8_t c : counts) n += c;
    *size = n;
    return 0;
}

// JPEGInterchangeFormat block of the page: where it was and where it went.
struct JpegBlock {
    int entry = -1;        // index in the output directory of tag 513
    uint32_t oldPos = 0;   // absolute source position
    uint32_t length = 0;
    uint32_t newPos = 0;
    bool copied = false;
    bool inside(uint64_t pos, uint64_t n) const {
        return copied && pos >= oldPos && pos + n <= uint64_t(oldPos) + length;
    }
};

// Relocates a JPEG table entry (519 to 521): every table offset moves with
// the JPEG block it lies in, or its table is copied.
int relocate_jpeg_tables(RewriteState& s, TiffDirEntry& d, const JpegBlock& jpeg, uint32_t base) {
    uint32_t n = d.count;
    if (n == 0) return 0;
    uint32_t offs[kMaxJpegTables];
    if (n == 1) {
        offs[0] = d.value;
    } else {
        MemBlock<uint8_t> raw(n, 4);
        if (!raw) return -1;
        if (read_source(s.e, d.value + base, raw.get(), 4 * n) < 0) return -1;
        for (uint32_t i = 0; i < n; ++i) {
            offs[i] = tiff_get32(raw.get() + 4 * i, s.out.order);
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t src = uint64_t(offs[i]) + base;
        uint32_t size = 0;
        if (jpeg_table_size(s.e, d.tag, uint32_t(src), &size) < 0) return -1;
        if (jpeg.inside(src, size)) {
            offs[i] = jpeg.newPos + uint32_t(src - jpeg.oldPos);
        } else if (copy_value(s, src, size, &offs[i]) < 0) {
            return -1;
        }
    }
    if (n == 1) {
        d.value = offs[0];
        return 0;
    }
    uint32_t at = uint32_t(s.end);
    if (s.out.write_u32s(at, offs, n) < 0) return -1;
    d.value = at;
    s.end = align4(uint64_t(at) + 4 * n);
    return 0;
}

// Writes a strip array (counts or offsets) for the entry d, whose source
// array lies at base + d.value: inside the entry when it fits 4 bytes, else
// at the aligned output end, or where the same source array's equal copy
// went. SHORT is kept when every value fits 16 bits.
int write_strip_array(RewriteState& s, TiffDirEntry& d, const uint32_t* v, uint32_t n, uint16_t sourceType,
                      uint32_t base) try {
    const auto source = std::make_tuple(d.tag, uint64_t(d.value) + base, d.count, d.type);
    uint16_t type = kTiffLong;
    if (sourceType == kTiffShort) {
        type = kTiffShort;
        for (uint32_t i = 0; i < n; ++i)
            if (v[i] > 0xFFFF) type = kTiffLong;
    }
    d.type = type;
    d.count = n;
    uint32_t width = type == kTiffShort ? 2 : 4;
    if (uint64_t(n) * width <= 4) {
        d.value = n == 0 ? 0 : (type == kTiffShort && n == 2) ? (v[0] | (v[1] << 16)) : v[0];
        return 0;
    }
    std::vector<uint8_t> buf(size_t(n) * width);
    for (uint32_t i = 0; i < n; ++i) {
        if (width == 2)
            tiff_put16(&buf[2 * i], uint16_t(v[i]), s.out.order);
        else
            tiff_put32(&buf[4 * i], v[i], s.out.order);
    }
    auto [it, isNew] = s.arrays.try_emplace(source);
    if (!isNew && it->second.second == buf) {
        d.value = it->second.first;  // pages that share an array share its copy
        return 0;
    }
    s.end = align4(s.end);
    if (s.out.write_at(s.end, buf.data(), n * width) < 0) return -1;
    d.value = uint32_t(s.end);
    s.end += uint64_t(n) * width;
    it->second = {d.value, std::move(buf)};
    return 0;
} catch (const std::bad_alloc&) {
    errno = TAV_ENOMEM;
    return -1;
}

// One kept page being copied: its output directory, built entry by entry
// as the source's values move, then its strips, strip arrays and the
// directory itself at dirPos.
struct PageCopy {
    PageCopy(RewriteState& state, uint32_t at, uint32_t sourceBase, bool placesTable)
        : s(state), dirPos(at), base(sourceBase), placing(placesTable) {}

    RewriteState& s;
    uint32_t dirPos;
    uint32_t base;    // the source page's base (page index scheme), else 0
    bool placing;     // this directory takes the page offset table's entry
    TiffDir dir{};
    uint32_t n = 0;   // entries so far
    OwnedStripList offsets, counts;
    int offsetsEntry = -1, countsEntry = -1;
    JpegBlock jpeg;

    int full() const {
        errno = TAV_E_DIRECTORY;
        return -1;
    }

    int append(const TiffDirEntry& d) {
        if (n >= kTiffMaxEntries + 1) return full();
        dir.entries[n++] = d;
        return 0;
    }

    // The page offset table's entry, patched once the table is written.
    int place_table_entry() {
        if (append(TiffDirEntry{kTagPageTable, kTiffLong, 0, 0}) < 0) return -1;
        tiff_of(s.e).privateTagSlot = n - 1;
        s.tableEntryPos = dirPos + 2 + 12 * (n - 1);
        s.tagPlaced = true;
        placing = false;
        return 0;
    }

    // Moves the value an entry points at (strip arrays are loaded and
    // written with the strips).
    int move_value(TiffDirEntry& d) {
        uint64_t size = uint64_t(d.count) * tiff_type_size(d.type);
        if (d.tag == kTagStripOffsets || d.tag == kTagStripByteCounts) {
            bool isOffsets = d.tag == kTagStripOffsets;
            OwnedStripList& list = isOffsets ? offsets : counts;
            strip_list_free(list.list);
            if (tiff_load_strip_list(s.e, d, &list.list, 0) < 0) return -1;
            (isOffsets ? offsetsEntry : countsEntry) = int(n);
        } else if (d.tag == kTagJpegInterchangeFormat) {
            jpeg.entry = int(n);
            jpeg.oldPos = d.value + base;
        } else if (d.tag == kTagJpegInterchangeLength) {
            // A JPEG block, like a strip, is cut to the end of the source.
            if (jpeg.entry >= 0 && !jpeg.copied) {
                if (copy_held(s, jpeg.oldPos, d.value, &jpeg.newPos, &jpeg.length) < 0) return -1;
                jpeg.copied = true;
                dir.entries[jpeg.entry].value = jpeg.newPos;
                d.value = jpeg.length;
            }
        } else if (d.tag >= kTagJpegQTables && d.tag <= kTagJpegACTables && d.type == kTiffLong &&
                   d.count <= kMaxJpegTables) {
            return relocate_jpeg_tables(s, d, jpeg, base);
        } else if (size > 4) {
            uint32_t at = 0;
            if (copy_value(s, uint64_t(d.value) + base, size, &at) < 0) return -1;
            d.value = at;
        }
        return 0;
    }

    int copy_entries(const TiffDir& src) {
        for (uint32_t j = 0; j < src.entryCount; ++j) {
            TiffDirEntry d = src.entries[j];
            if (d.tag == kTagPageTable || d.tag == kTagPageIndex) {
                // The old file's table and index entries point into the old
                // file: none is copied. The first on the directory that
                // carries the new table becomes the new table entry.
                if (placing && place_table_entry() < 0) return -1;
                continue;
            }
            if (placing && d.tag > kTagPageIndex && place_table_entry() < 0) return -1;
            if (move_value(d) < 0 || append(d) < 0) return -1;
        }
        if (placing) return place_table_entry();
        return 0;
    }

    // A JPEG block without its length, on a one-strip page whose strip lies
    // behind it: the block runs to the strip's end and carries the strip.
    int copy_jpeg_with_strip() {
        uint64_t off = uint64_t(strip_list_get(offsets.list, 0)) + base;
        uint64_t cnt = strip_list_get(counts.list, 0);
        if (off < jpeg.oldPos || off + cnt > s.e->origSize) return 0;
        jpeg.length = uint32_t(off + cnt - jpeg.oldPos);
        if (copy_value(s, jpeg.oldPos, jpeg.length, &jpeg.newPos) < 0) return -1;
        jpeg.copied = true;
        dir.entries[jpeg.entry].value = jpeg.newPos;
        return 0;
    }

    // The strips, one after another without padding; a strip that reaches
    // beyond the end of the source is cut to it.
    int copy_strips() {
        if (offsetsEntry < 0 || countsEntry < 0 || !offsets.list || !counts.list) {
            errno = offsetsEntry < 0 ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS;
            return -1;
        }
        uint32_t strips = offsets.list->count;
        if (counts.list->count < strips) {
            errno = TAV_E_NO_BYTE_COUNTS;
            return -1;
        }
        if (jpeg.entry >= 0 && !jpeg.copied && strips == 1 && copy_jpeg_with_strip() < 0) return -1;
        MemBlock<uint32_t> newOffsets(strips ? strips : 1, 4);
        MemBlock<uint32_t> byteCounts(strips ? strips : 1, 4);
        if (!newOffsets || !byteCounts) return -1;
        for (uint32_t k = 0; k < strips; ++k) {
            uint64_t off = uint64_t(strip_list_get(offsets.list, k)) + base;
            uint32_t cnt = strip_list_get(counts.list, k);
            if (strips == 1 && jpeg.inside(off, cnt)) {
                newOffsets[k] = jpeg.newPos + uint32_t(off - jpeg.oldPos);
                byteCounts[k] = cnt;
                continue;
            }
            if (copy_held(s, off, cnt, &newOffsets[k], &byteCounts[k], false) < 0) return -1;
        }
        if (write_strip_array(s, dir.entries[countsEntry], byteCounts.get(), strips, counts.list->type, base) < 0)
            return -1;
        return write_strip_array(s, dir.entries[offsetsEntry], newOffsets.get(), strips, offsets.list->type, base);
    }

    // The directory at dirPos, linked to the next page's at the aligned end
    // when linkNext asks for it.
    int write_dir(bool linkNext, uint32_t* nextDirPos) {
        if (n > kTiffMaxEntries) return full();
        dir.entryCount = uint16_t(n);
        dir.nextIfd = 0;
        if (linkNext) {
            s.end = align4(s.end);
            if (s.end > kMaxFilePos) {
                errno = TAV_E_SEEK;
                return -1;
            }
            dir.nextIfd = uint32_t(s.end);
            *nextDirPos = dir.nextIfd;
        }
        if (s.flush() < 0) return -1;
        uint8_t image[kIfdReadSize];
        uint32_t bytes = tiff_encode_dir(dir, s.out.order, image);
        return s.out.write_at(dirPos, image, bytes);
    }
};

// Copies one kept page whose source directory is src, writing its directory
// at dirPos; *nextDirPos gets the next page's directory position when
// `linkNext` asks for one.
int copy_page(RewriteState& s, const TiffDir& src, uint32_t dirPos, bool firstKept, bool linkNext,
              uint32_t* nextDirPos) {
    const TiffState& ts = tiff_of(s.e);
    PageCopy page(s, dirPos, ts.hasPrivateIndex ? ts.tiffBase : 0, firstKept && !s.tagPlaced);
    s.end = align4(uint64_t(dirPos) + 12u * (src.entryCount + 1u) + 6);
    if (page.copy_entries(src) < 0 || page.copy_strips() < 0) return -1;
    return page.write_dir(linkNext, nextDirPos);
}

// The header of the output file, and the property block behind it.
int write_header(RewriteState& s, uint16_t mark, uint32_t firstDir) {
    FctEntry* e = s.e;
    uint8_t head[kPropertyText];
    put_le16(head, mark);
    tiff_put16(head + 2, kTiffMagic, s.out.order);
    tiff_put32(head + 4, firstDir, s.out.order);
    const TiffState& ts = tiff_of(e);
    if (!ts.hdrBlock) return s.out.write_at(0, head, kTiffHeaderSize);
    tiff_property_header(head + kPropertyHeaderOffset, ts.hdrBlockLen);
    if (s.out.write_at(0, head, kPropertyText) < 0) return -1;
    return s.out.write_at(kPropertyText, ts.hdrBlock, ts.hdrBlockLen);
}

// Page offset table at the aligned end: header "TEXO", 1, K, file length,
// then the K directory offsets; the table entry of the first directory then
// points at it.
int write_page_table(RewriteState& s, const uint32_t* ifds, uint32_t k) {
    uint64_t t = align4(s.end);
    if (s.out.write_u32s(t + kPageTableHeader, ifds, k) < 0) return -1;
    uint32_t length = uint32_t(t + kPageTableHeader + 4ull * k);
    if (tiff_write_table_header(s.out.fd, uint32_t(t), k, length, s.out.order) < 0) return -1;
    uint32_t entry[2] = {k + kPageTableExtraWords, uint32_t(t)};
    if (s.out.write_u32s(s.tableEntryPos + 4, entry, 2) < 0) return -1;
    tiff_of(s.e).pageTableOffset = uint32_t(t);
    return 0;
}

// Directory of source page i. In the page index scheme every page is read
// through its own base; otherwise `ifd` holds the offset found by the page
// lookup.
int read_page_dir(FctEntry* e, uint32_t i, uint32_t ifd, TiffDir* dir) {
    std::memset(dir, 0, sizeof *dir);
    if (tiff_of(e).hasPrivateIndex) return tiff_page_dir(e, i, dir);
    return tiff_read_dir(e, tiff_order(e), 0, ifd, 0, dir, 1);
}

}  // namespace

int tiff_rewrite(FctEntry* e, int out, int32_t first, int32_t last) {
    TiffState& ts = tiff_of(e);
    const uint32_t pages = e->pageCount;
    uint32_t removed = 0;
    if (last >= 0) {
        if (first < 0 || first > last || uint32_t(last) >= pages) {
            errno = TAV_E_PAGE;
            return -1;
        }
        removed = uint32_t(last - first + 1);
    }
    const uint32_t kept = pages - removed;
    if (kept == 0) {
        errno = TAV_E_PAGE;
        return -1;
    }
    auto is_removed = [&](uint32_t i) {
        return last >= 0 && i >= uint32_t(first) && i <= uint32_t(last);
    };

    MemBlock<uint32_t> ifdTable(kept, 4);
    if (!ifdTable) return -1;
    TiffHeader header{};
    if (tiff_read_header(e, 0, &header) < 0) return -1;

    RewriteState s{e, Output{out, tiff_order(e)}};
    uint32_t dirPos = ts.hdrBlock ? 24 + ts.hdrBlockLen : 8;
    uint32_t lastKept = pages - 1;
    while (is_removed(lastKept)) --lastKept;

    MemBlock<TiffDir> dir(1, sizeof(TiffDir));
    if (!dir) return -1;
    uint32_t ifd = header.firstIfd;  // chain and table schemes: the page's IFD offset
    uint32_t done = 0;
    for (uint32_t i = 0; i < pages; ++i) {
        bool drop = is_removed(i);
        if (!ts.hasPrivateIndex) {
            if (ts.pageTableOffset && i > 0) {
                uint8_t raw[4];
                if (read_source(e, ts.pageTableOffset + kPageTableHeader + 4 * i, raw, 4) < 0)
                    return -1;
                ifd = tiff_get32(raw, s.out.order);
            } else if (ts.pageTableOffset) {
                ifd = ts.firstIfdOffset ? ts.firstIfdOffset : header.firstIfd;
            }
            if (ifd == 0) {
                errno = TAV_E_PAGE_RANGE;
                return -1;
            }
        }
        if (drop) {
            // In the chain scheme the next page is found through this one.
            if (!ts.hasPrivateIndex && !ts.pageTableOffset) {
                if (read_page_dir(e, i, ifd, dir.get()) < 0) return -1;
                ifd = dir.get()->nextIfd;
            }
            continue;
        }
        if (read_page_dir(e, i, ifd, dir.get()) < 0) return -1;
        uint32_t nextSource = dir.get()->nextIfd;
        if (done == 0 && write_header(s, tiff_order(e), dirPos) < 0) return -1;
        uint32_t nextDir = 0;
        if (copy_page(s, *dir.get(), dirPos, done == 0, i != lastKept, &nextDir) < 0) return -1;
        ifdTable[done++] = dirPos;
        dirPos = nextDir;
        ifd = nextSource;
    }
    if (kept < 2) return 0;
    return write_page_table(s, ifdTable.get(), kept);
}
