// The directory that names the page offset table. A reader opening a file
// walks the chain from the header and takes the first directory with a
// table entry (tag 32934): the table counts only when that directory names
// it, whatever the chain holds behind it. So each table written and each
// move looks for that directory the way the reader does, names the table
// there, and clears the entry of the directory that named it before: one
// directory names the table, the one readers find.
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "fileio/fio.h"
#include "fileio/keep_errno.h"
#include "formats/tiff/write/tiff_writer.h"

namespace {

int fail(int code) {
    errno = code;
    return -1;
}

// Writes the entry at every table tag of the directory at ifd (a directory
// may carry the tag twice, and readers take either): its type, count and
// value, each word by itself, so that a write that fails part way leaves
// whole words, which the undo of the step writes back.
int put_table_entries(FctEntry* e, uint32_t ifd, const TiffDirEntry& entry, uint32_t limit,
                      TiffPatchLog& log) {
    TiffDir dir;
    if (tiff_read_raw_dir(int(e->fd), ifd, tiff_order(e), limit, &dir) < 0) return -1;
    uint8_t bytes[12];
    tiff_encode_entry(bytes, entry, tiff_order(e));
    for (uint32_t i = 0; i < dir.entryCount; ++i) {
        if (dir.entries[i].tag != kTagPageTable) continue;
        for (uint32_t word = 0; word < sizeof bytes; word += 4)
            if (log.write(ifd + 2 + 12 * i + word, bytes + word, 4) < 0) return -1;
    }
    return 0;
}

}  // namespace

int tiff_find_carrier(FctEntry* e, uint32_t* carrier) {
    const int fd = int(e->fd);
    const uint16_t order = tiff_order(e);
    int32_t end = fio_length(int(e->fd), TAV_E_SEEK);
    if (end < 0) return -1;
    uint8_t first[4];
    if (tiff_pread(fd, kTiffHeaderSize - 4, first, 4) < 0) return -1;
    uint32_t off = tiff_get32(first, order);
    std::unordered_set<uint32_t> visited;
    for (uint32_t walked = 0;;) {
        // A directory the reader refuses before it finds the table makes
        // the file unreadable, and one that names a page index first makes
        // it read as a page index file.
        TiffDir dir;
        if (tiff_read_raw_dir(fd, off, order, uint32_t(end), &dir) < 0) return fail(TAV_E_DIRECTORY);
        if (walked == 0 && tiff_dir_find(dir, kTagPageIndex) >= 0) return fail(TAV_E_DIRECTORY);
        if (tiff_dir_find(dir, kTagPageTable) >= 0) {
            *carrier = off;
            return 0;
        }
        visited.insert(off);
        ++walked;
        if (dir.nextIfd == 0 || walked >= kMaxPages || visited.count(dir.nextIfd)) break;
        off = dir.nextIfd;
    }
    return fail(TAV_E_MISSING_ENTRY);
}

int tiff_name_table(FctEntry* e, uint32_t carrier, uint32_t tableAt, TiffPatchLog& log) {
    const TiffState& ts = tiff_of(e);
    int32_t end = fio_length(int(e->fd), TAV_E_SEEK);
    if (end < 0) return -1;
    const TiffDirEntry named{kTagPageTable, kTiffLong, e->pageCount + kPageTableExtraWords, tableAt};
    if (put_table_entries(e, carrier, named, uint32_t(end), log) < 0) return -1;
    // The old carrier's entry stays, naming nothing, as the entry of every
    // page the writer makes does until it carries the table (a count of 0
    // would make libtiff refuse the entry). It lies behind the new carrier
    // on the chain or off it, so readers never reach it first.
    if (ts.tableCarrier && ts.tableCarrier != carrier) {
        const TiffDirEntry cleared{kTagPageTable, kTiffLong, 1, 0};
        if (put_table_entries(e, ts.tableCarrier, cleared, uint32_t(end), log) < 0) return -1;
    }
    // In a damaged file the entries written may lie inside a directory the
    // reader walks: then it must still find this directory first.
    uint32_t found = 0;
    if (tiff_find_carrier(e, &found) < 0) return -1;
    if (found != carrier) return fail(TAV_E_DIRECTORY);
    return 0;
}

int TiffPatchLog::write(uint32_t pos, const void* bytes, uint32_t n) {
    Saved s{pos, std::vector<uint8_t>(n)};
    if (tiff_pread(fd_, pos, s.bytes.data(), n) < 0) return -1;
    if (std::memcmp(s.bytes.data(), bytes, n) == 0) return 0;  // already there
    saved_.push_back(std::move(s));
    return tiff_pwrite(fd_, pos, bytes, n);
}

void TiffPatchLog::undo() {
    KeepErrno keep;
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        tiff_pwrite(fd_, it->pos, it->bytes.data(), uint32_t(it->bytes.size()));
    saved_.clear();
}
