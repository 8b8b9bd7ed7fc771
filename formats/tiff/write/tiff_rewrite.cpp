// Page-by-page copy of a TIFF file into a new file, leaving a range of pages
// out and putting the handle's property block in front (page deletion and
// property update), with its helpers copy_range and dir_of_path. Each kept
// page comes with the directories hanging from it (Exif, GPS,
// Interoperability, SubIFDs, any entry of the IFD type), copied the same
// way as the page's own directory.
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
// Behaviour:
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
//   refused (TAV_E_DIRECTORY): such a directory could not be read back.
// - A strip or a JPEGInterchangeFormat block that reaches beyond the end of
//   the source is cut to it, its byte count with it: the copy places exactly
//   the bytes it copies, never what a count merely claims. Any other value
//   of a page that runs past the end cannot be copied whole; the copy is
//   refused (TAV_E_OFFSET).
// - No entry of the copy points into the old file's layout. Entries whose
//   value may be such an offset and cannot be relocated are dropped (see
//   entry_rule), as is a JPEGInterchangeFormat that never found its block.
// - Sub-directories are copied once per source directory, so pages that
//   share one share its copy. Damage below a page costs only the damaged
//   part: a pointer that leads out of the file, back into the directories
//   being copied, or deeper than kMaxTreeDepth levels is left out, and so is
//   a sub-directory's entry whose value lies outside the file. Trees whose
//   values overlap so that the copy would outgrow the source are refused
//   (TAV_E_DIRECTORY).
#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/tiff.h"
#include "formats/tiff/write/tiff_writer.h"

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

// Strip list owned for one directory.
struct OwnedStripList {
    StripList* list = nullptr;
    OwnedStripList() = default;
    OwnedStripList(const OwnedStripList&) = delete;
    OwnedStripList& operator=(const OwnedStripList&) = delete;
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

    // Directories copied so far (sub-directories, and the page being
    // copied), by source position and page base: where each went, and
    // whether it is still being copied (a pointer to one of those would
    // close a loop).
    struct Placed {
        uint32_t at;
        bool open;
    };
    std::map<std::pair<uint64_t, uint32_t>, Placed> dirs{};
    uint32_t treeDepth = 0;   // sub-directory levels being copied
    uint64_t treeBytes = 0;   // source bytes copied for sub-directories

    // Counts source bytes copied for sub-directories (inside a tree, or
    // `always`: the lists of directory offsets of a page). Directories and
    // values that lie in distinct bytes of the source cannot claim more
    // than the source holds; trees whose values overlap so that their copy
    // would outgrow it are refused (TAV_E_DIRECTORY) instead of copied.
    int claim(uint64_t n, bool always = false) {
        if (treeDepth == 0 && !always) return 0;
        treeBytes += n;
        if (treeBytes <= e->origSize) return 0;
        errno = TAV_E_DIRECTORY;
        return -1;
    }

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
        if (s.claim(have) < 0) {
            s.copied.erase(it);
            return -1;
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
// the end of the source cannot be copied whole: TAV_E_OFFSET.
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
    if (s.claim(4ull * n) < 0 || s.out.write_u32s(at, offs, n) < 0) return -1;
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
    if (s.claim(uint64_t(n) * width) < 0 || s.out.write_at(s.end, buf.data(), n * width) < 0) return -1;
    d.value = uint32_t(s.end);
    s.end += uint64_t(n) * width;
    it->second = {d.value, std::move(buf)};
    return 0;
} catch (const std::bad_alloc&) {
    errno = TAV_ENOMEM;
    return -1;
}

// What the copy does with an entry.
enum class EntryRule { Value, SubDirs, Drop };

constexpr int kDropped = 1;             // an entry, or a pointer, left out of the copy
constexpr uint32_t kMaxTreeDepth = 16;  // sub-directory levels below a page; a next link is one

bool is_subdir_tag(uint16_t tag) {
    return tag == kTagSubIfds || tag == kTagGlobalParametersIfd || tag == kTagExifIfd || tag == kTagGpsIfd ||
           tag == kTagInteropIfd;
}

// Private tags whose LONG values are numbers.
bool is_private_number(uint16_t tag) {
    switch (tag) {
    case kTagIptc:
    case kTagStandardOutputSensitivity:
    case kTagRecommendedExposureIndex:
    case kTagIsoSpeed:
    case kTagIsoSpeedLatitudeYyy:
    case kTagIsoSpeedLatitudeZzz:
    case kTagImageNumber:
    case kTagPixelXDimension:
    case kTagPixelYDimension:
        return true;
    default:
        return false;
    }
}

// Entries that point at directories are followed. Entries whose value may
// be an offset the copy cannot relocate are dropped, so the copy never
// points into the old file's layout: the old file's free-space list, values
// of field types whose size is unknown, and LONG values of private tags the
// library does not know (programs keep offsets of their own structures
// there). Everything else is a value, copied as it is.
EntryRule entry_rule(const TiffDirEntry& d) {
    if (d.type == kTiffIfd) return EntryRule::SubDirs;
    if (is_subdir_tag(d.tag)) return d.type == kTiffLong ? EntryRule::SubDirs : EntryRule::Drop;
    if (tiff_type_size(d.type) == 0 || d.tag == kTagFreeOffsets || d.tag == kTagFreeByteCounts)
        return EntryRule::Drop;
    if (d.tag >= kFirstPrivateTag && d.type == kTiffLong && !is_private_number(d.tag)) return EntryRule::Drop;
    return EntryRule::Value;
}

// Whether a strip or tile array entry can be loaded: SHORT or LONG, not
// empty, and inside the file.
bool array_in_file(const FctEntry* e, const TiffDirEntry& d, uint32_t base) {
    if ((d.type != kTiffShort && d.type != kTiffLong) || d.count == 0) return false;
    uint64_t bytes = uint64_t(d.count) * tiff_type_size(d.type);
    return bytes <= 4 || uint64_t(d.value) + base + bytes <= e->origSize;
}

// An image's data blocks: its strips, or its tiles. The output entries of
// the offsets and the byte counts hold the source's arrays until the data
// moves.
struct DataPair {
    uint16_t offsetsTag, countsTag;
    int offsetsEntry = -1, countsEntry = -1;
};

int copy_subdir(RewriteState& s, uint32_t base, uint32_t off, uint32_t* at);

// One directory being copied, a page's or one below it: its output
// entries, built as the source's values move, then its strips or tiles,
// their arrays, and the directory itself at dirPos. A page must have strips,
// and a value of it that cannot be copied refuses the copy; a
// sub-directory loses what cannot come along and keeps the rest.
struct DirCopy {
    DirCopy(RewriteState& state, uint32_t at, uint32_t sourceBase, bool page, bool placesTable)
        : s(state), dirPos(at), base(sourceBase), isPage(page), placing(placesTable) {}

    RewriteState& s;
    uint32_t dirPos;
    uint32_t base;      // the source page's base (page index scheme), else 0
    bool isPage;
    bool placing;       // this directory takes the page offset table's entry
    bool holdsTable = false;
    std::vector<TiffDirEntry> dir{};
    DataPair strips{kTagStripOffsets, kTagStripByteCounts}, tiles{kTagTileOffsets, kTagTileByteCounts};
    JpegBlock jpeg;

    // Marks an output entry to be left out when the directory is written.
    static void drop(TiffDirEntry& d) { d.type = 0; }
    static bool dropped(const TiffDirEntry& d) { return d.type == 0; }

    // The page offset table's entry, patched once the table is written.
    void place_table_entry() {
        dir.push_back(TiffDirEntry{kTagPageTable, kTiffLong, 0, 0});
        holdsTable = true;
        s.tagPlaced = true;
        placing = false;
    }

    DataPair* pair_of(uint16_t tag) {
        if (tag == strips.offsetsTag || tag == strips.countsTag) return &strips;
        if (tag == tiles.offsetsTag || tag == tiles.countsTag) return &tiles;
        return nullptr;
    }

    // Notes a strip or tile array; it is read and its entry filled when the
    // data moves. A second entry of the same array replaces the first.
    int note_array(DataPair& pair, const TiffDirEntry& d) {
        if (!isPage && !array_in_file(s.e, d, base)) return kDropped;
        int& entry = d.tag == pair.offsetsTag ? pair.offsetsEntry : pair.countsEntry;
        if (entry >= 0) drop(dir[entry]);
        entry = int(dir.size());
        return 0;
    }

    // JPEGInterchangeFormatLength: the block moves, cut to the end of the
    // source like a strip.
    int copy_jpeg_block(TiffDirEntry& d) {
        if (jpeg.entry < 0 || jpeg.copied) return 0;
        if (copy_held(s, jpeg.oldPos, d.value, &jpeg.newPos, &jpeg.length) < 0) return -1;
        jpeg.copied = true;
        dir[jpeg.entry].value = jpeg.newPos;
        d.value = jpeg.length;
        return 0;
    }

    // Moves the value an entry points at (strip and tile arrays move with
    // the data). 0, kDropped, or -1.
    int move_value(TiffDirEntry& d) {
        switch (entry_rule(d)) {
        case EntryRule::Drop:
            return kDropped;
        case EntryRule::SubDirs:
            return relocate_subdirs(d);
        case EntryRule::Value:
            break;
        }
        if (DataPair* pair = pair_of(d.tag)) return note_array(*pair, d);
        if (d.tag == kTagJpegInterchangeFormat) {
            // Of several block entries the first that finds its block stays.
            if (jpeg.copied) return kDropped;
            if (jpeg.entry >= 0) drop(dir[jpeg.entry]);
            jpeg.entry = int(dir.size());
            jpeg.oldPos = d.value + base;
            return 0;
        }
        if (d.tag == kTagJpegInterchangeLength) return copy_jpeg_block(d);
        if (d.tag >= kTagJpegQTables && d.tag <= kTagJpegACTables) {
            if (d.type != kTiffLong || d.count > kMaxJpegTables) return kDropped;
            return relocate_jpeg_tables(s, d, jpeg, base);
        }
        uint64_t size = uint64_t(d.count) * tiff_type_size(d.type);
        if (size <= 4) return 0;
        uint32_t at = 0;
        if (copy_value(s, uint64_t(d.value) + base, size, &at) < 0) return -1;
        d.value = at;
        return 0;
    }

    // Source offsets of the directories an entry points at, in host order;
    // kDropped when its array does not lie in the file.
    int subdir_offsets(const TiffDirEntry& d, MemBlock<uint32_t>& offs) {
        const uint64_t bytes = 4ull * d.count;
        if (d.count > 1 && uint64_t(d.value) + base + bytes > s.e->origSize) return kDropped;
        offs = MemBlock<uint32_t>(d.count, 4);
        if (!offs) return -1;
        if (d.count == 1) {
            offs[0] = d.value;
            return 0;
        }
        if (s.claim(bytes, true) < 0 || read_source(s.e, d.value + base, offs.get(), uint32_t(bytes)) < 0)
            return -1;
        const uint8_t* raw = reinterpret_cast<const uint8_t*>(offs.get());
        for (uint32_t i = 0; i < d.count; ++i) offs[i] = tiff_get32(raw + 4 * i, s.out.order);
        return 0;
    }

    // An entry of directory offsets: each directory is copied (once), and
    // the entry lists the copies. Offsets that lead nowhere are left out;
    // an entry left with none is dropped.
    int relocate_subdirs(TiffDirEntry& d) {
        if (d.count == 0) return kDropped;
        MemBlock<uint32_t> offs;
        if (int r = subdir_offsets(d, offs); r != 0) return r;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < d.count; ++i) {
            uint32_t at = 0;
            int r = copy_subdir(s, base, offs[i], &at);
            if (r < 0) return -1;
            if (r == 0) offs[kept++] = at;
        }
        if (kept == 0) return kDropped;
        d.count = kept;
        if (kept == 1) {
            d.value = offs[0];
            return 0;
        }
        s.end = align4(s.end);
        if (s.out.write_u32s(s.end, offs.get(), kept) < 0) return -1;
        d.value = uint32_t(s.end);
        s.end += 4ull * kept;
        return 0;
    }

    int copy_entries(std::span<const TiffDirEntry> src) try {
        dir.reserve(src.size() + 1);
        for (TiffDirEntry d : src) {
            if (d.tag == kTagPageTable || d.tag == kTagPageIndex) {
                // The old file's table and index entries point into the old
                // file: none is copied. The first on the directory that
                // carries the new table becomes the new table entry.
                if (placing) place_table_entry();
                continue;
            }
            if (placing && d.tag > kTagPageIndex) place_table_entry();
            int r = move_value(d);
            if (r < 0 && !isPage && errno == TAV_E_OFFSET) r = kDropped;  // a value outside the file
            if (r < 0) return -1;
            if (r != kDropped) dir.push_back(d);
        }
        if (placing) place_table_entry();
        return 0;
    } catch (const std::bad_alloc&) {
        errno = TAV_ENOMEM;
        return -1;
    }

    // A JPEG block without its length, on a one-strip page whose strip lies
    // behind it: the block runs to the strip's end and carries the strip.
    int copy_jpeg_with_strip(const StripList* offsets, const StripList* counts) {
        uint64_t off = uint64_t(strip_list_get(offsets, 0)) + base;
        uint64_t cnt = strip_list_get(counts, 0);
        if (off < jpeg.oldPos || off + cnt > s.e->origSize) return 0;
        jpeg.length = uint32_t(off + cnt - jpeg.oldPos);
        if (copy_value(s, jpeg.oldPos, jpeg.length, &jpeg.newPos) < 0) return -1;
        jpeg.copied = true;
        dir[jpeg.entry].value = jpeg.newPos;
        return 0;
    }

    // Without both arrays, or with fewer byte counts than offsets, a pair
    // cannot move: a page fails when the pair is required (with the error),
    // otherwise the entries of the pair are dropped. True when it can move.
    bool pair_complete(const DataPair& pair, bool required) {
        if (pair.offsetsEntry >= 0 && pair.countsEntry >= 0 &&
            dir[pair.countsEntry].count >= dir[pair.offsetsEntry].count)
            return true;
        if (required) {
            errno = pair.offsetsEntry < 0 ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS;
        } else {
            if (pair.offsetsEntry >= 0) drop(dir[pair.offsetsEntry]);
            if (pair.countsEntry >= 0) drop(dir[pair.countsEntry]);
        }
        return false;
    }

    // The blocks of a pair, one after another without padding; a block that
    // reaches beyond the end of the source is cut to it.
    int copy_data(DataPair& pair, bool required) {
        if (!pair_complete(pair, required)) return required ? -1 : 0;
        OwnedStripList offsets, counts;
        if (tiff_load_strip_list(s.e, dir[pair.offsetsEntry], &offsets.list, 0) < 0 ||
            tiff_load_strip_list(s.e, dir[pair.countsEntry], &counts.list, 0) < 0)
            return -1;
        const uint32_t blocks = offsets.list->count;
        if (&pair == &strips && jpeg.entry >= 0 && !jpeg.copied && blocks == 1 &&
            copy_jpeg_with_strip(offsets.list, counts.list) < 0)
            return -1;
        MemBlock<uint32_t> newOffsets(blocks, 4);
        MemBlock<uint32_t> byteCounts(blocks, 4);
        if (!newOffsets || !byteCounts) return -1;
        for (uint32_t k = 0; k < blocks; ++k) {
            uint64_t off = uint64_t(strip_list_get(offsets.list, k)) + base;
            uint32_t cnt = strip_list_get(counts.list, k);
            if (blocks == 1 && jpeg.inside(off, cnt)) {
                newOffsets[k] = jpeg.newPos + uint32_t(off - jpeg.oldPos);
                byteCounts[k] = cnt;
                continue;
            }
            if (copy_held(s, off, cnt, &newOffsets[k], &byteCounts[k], false) < 0) return -1;
        }
        if (write_strip_array(s, dir[pair.countsEntry], byteCounts.get(), blocks, counts.list->type, base) < 0)
            return -1;
        return write_strip_array(s, dir[pair.offsetsEntry], newOffsets.get(), blocks, offsets.list->type, base);
    }

    // The strips and tiles. A JPEGInterchangeFormat entry whose block never
    // found its place is dropped: it would point into the old file.
    int copy_image_data() {
        if (copy_data(strips, isPage) < 0 || copy_data(tiles, false) < 0) return -1;
        if (jpeg.entry >= 0 && !jpeg.copied) drop(dir[jpeg.entry]);
        return 0;
    }

    // The directory at dirPos with the next link given, without the
    // entries dropped on the way.
    int write_dir(uint32_t next) {
        std::erase_if(dir, dropped);
        const uint32_t n = uint32_t(dir.size());
        if (isPage && n > kTiffMaxEntries) {
            errno = TAV_E_DIRECTORY;
            return -1;
        }
        if (holdsTable) {
            uint32_t slot = 0;
            while (dir[slot].tag != kTagPageTable) ++slot;
            tiff_of(s.e).privateTagSlot = slot;
            s.tableEntryPos = dirPos + 2 + 12 * slot;
        }
        if (s.flush() < 0) return -1;
        MemBlock<uint8_t> image(tiff_dir_bytes(n), 1);
        if (!image) return -1;
        tiff_put16(image.get(), uint16_t(n), s.out.order);
        for (uint32_t i = 0; i < n; ++i) tiff_encode_entry(image.get() + 2 + 12 * i, dir[i], s.out.order);
        tiff_put32(image.get() + 2 + 12 * n, next, s.out.order);
        return s.out.write_at(dirPos, image.get(), tiff_dir_bytes(n));
    }
};

// A sub-directory as the source holds it.
struct SubDirSource {
    std::vector<TiffDirEntry> entries;
    uint32_t next = 0;
};

// Reads the sub-directory at off (relative to base): kDropped when it does
// not lie in the file (or lies in the page's header), -1 when reading fails.
int read_subdir(RewriteState& s, uint32_t base, uint32_t off, SubDirSource& out) try {
    const FctEntry* e = s.e;
    const uint64_t at = uint64_t(base) + off;
    if (off < kTiffHeaderSize || at + 2 > e->origSize) return kDropped;
    uint8_t head[2];
    if (read_source(s.e, uint32_t(at), head, 2) < 0) return -1;
    const uint32_t n = tiff_get16(head, s.out.order);
    const uint32_t bytes = 12 * n;
    if (at + 2 + bytes > e->origSize) return kDropped;
    const bool hasNext = at + 2 + bytes + 4 <= e->origSize;
    if (s.claim(tiff_dir_bytes(n)) < 0) return -1;
    MemBlock<uint8_t> raw(bytes + 4, 1);
    if (!raw || read_source(s.e, uint32_t(at + 2), raw.get(), bytes + (hasNext ? 4 : 0)) < 0) return -1;
    out.entries.resize(n);
    for (uint32_t i = 0; i < n; ++i) out.entries[i] = tiff_decode_entry(raw.get() + 12 * i, s.out.order);
    out.next = hasNext ? tiff_get32(raw.get() + bytes, s.out.order) : 0;
    return 0;
} catch (const std::bad_alloc&) {
    errno = TAV_ENOMEM;
    return -1;
}

// One level deeper into a page's tree of sub-directories.
struct TreeLevel {
    explicit TreeLevel(RewriteState& state) : s(state) { ++s.treeDepth; }
    ~TreeLevel() { --s.treeDepth; }
    TreeLevel(const TreeLevel&) = delete;
    TreeLevel& operator=(const TreeLevel&) = delete;
    RewriteState& s;
};

// Copies the sub-directory at off (relative to base) with everything that
// hangs from it, its next directory included, into a slot at the output
// end: once per source directory, a directory copied before gives its copy.
// A pointer that leads out of the file, back into the directories being
// copied (a loop) or deeper than kMaxTreeDepth levels gives kDropped.
int copy_subdir(RewriteState& s, uint32_t base, uint32_t off, uint32_t* at) try {
    const std::pair<uint64_t, uint32_t> key{uint64_t(base) + off, base};
    if (auto it = s.dirs.find(key); it != s.dirs.end()) {
        if (it->second.open) return kDropped;
        *at = it->second.at;
        return 0;
    }
    if (s.treeDepth >= kMaxTreeDepth) return kDropped;
    TreeLevel level(s);
    SubDirSource src;
    if (int r = read_subdir(s, base, off, src); r != 0) return r;
    const uint64_t pos = align4(s.end);
    s.end = pos + tiff_dir_bytes(uint32_t(src.entries.size()));
    if (s.end > kMaxFilePos) {
        errno = TAV_E_SEEK;
        return -1;
    }
    auto placed = s.dirs.emplace(key, RewriteState::Placed{uint32_t(pos), true}).first;
    DirCopy copy(s, uint32_t(pos), base, false, false);
    if (copy.copy_entries(src.entries) < 0 || copy.copy_image_data() < 0) return -1;
    uint32_t next = 0;
    if (src.next) {
        int r = copy_subdir(s, base, src.next, &next);
        if (r < 0) return -1;
        if (r == kDropped) next = 0;
    }
    placed->second.open = false;
    *at = uint32_t(pos);
    return copy.write_dir(next);
} catch (const std::bad_alloc&) {
    errno = TAV_ENOMEM;
    return -1;
}

// Copies one kept page whose source directory (at srcPos) is src, writing
// its directory at dirPos; *nextDirPos gets the next page's directory
// position when `linkNext` asks for one. While the page is copied its
// source directory counts as open, so a sub-directory pointing back at it
// is a loop.
int copy_page(RewriteState& s, const TiffDir& src, uint32_t srcPos, uint32_t dirPos, bool firstKept,
              bool linkNext, uint32_t* nextDirPos) try {
    const TiffState& ts = tiff_of(s.e);
    const uint32_t base = ts.hasPrivateIndex ? ts.tiffBase : 0;
    DirCopy page(s, dirPos, base, true, firstKept && !s.tagPlaced);
    s.end = align4(uint64_t(dirPos) + 12u * (src.entryCount + 1u) + 6);
    auto [root, isNew] = s.dirs.try_emplace({uint64_t(base) + srcPos, base}, RewriteState::Placed{dirPos, true});
    int r = page.copy_entries(std::span(src.entries, src.entryCount)) < 0 || page.copy_image_data() < 0 ? -1 : 0;
    if (isNew) s.dirs.erase(root);
    if (r < 0) return -1;
    uint32_t next = 0;
    if (linkNext) {
        s.end = align4(s.end);
        if (s.end > kMaxFilePos) {
            errno = TAV_E_SEEK;
            return -1;
        }
        next = *nextDirPos = uint32_t(s.end);
    }
    return page.write_dir(next);
} catch (const std::bad_alloc&) {
    errno = TAV_ENOMEM;
    return -1;
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

// Directory of source page i, and in *at its offset (relative to the
// page's base). In the page index scheme every page is read through its own
// base; otherwise `ifd` holds the offset found by the page lookup.
int read_page_dir(FctEntry* e, uint32_t i, uint32_t ifd, TiffDir* dir, uint32_t* at) {
    std::memset(dir, 0, sizeof *dir);
    *at = ifd;
    if (tiff_of(e).hasPrivateIndex) return tiff_page_dir(e, i, dir) < 0 || tiff_page_ifd_offset(e, i, at) < 0 ? -1 : 0;
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
                uint32_t at = 0;
                if (read_page_dir(e, i, ifd, dir.get(), &at) < 0) return -1;
                ifd = dir.get()->nextIfd;
            }
            continue;
        }
        uint32_t srcPos = 0;
        if (read_page_dir(e, i, ifd, dir.get(), &srcPos) < 0) return -1;
        uint32_t nextSource = dir.get()->nextIfd;
        if (done == 0 && write_header(s, tiff_order(e), dirPos) < 0) return -1;
        uint32_t nextDir = 0;
        if (copy_page(s, *dir.get(), srcPos, dirPos, done == 0, i != lastKept, &nextDir) < 0) return -1;
        ifdTable[done++] = dirPos;
        dirPos = nextDir;
        ifd = nextSource;
    }
    if (kept < 2) return 0;
    return write_page_table(s, ifdTable.get(), kept);
}
