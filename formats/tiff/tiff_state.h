// The TIFF module's records: a directory in memory, the strip tables of the
// current page, the page index window, and the state a TIFF handle keeps
// for reading and writing.
#pragma once

#include <cstdint>

#include "frame/fct.h"

// In-memory TIFF directory entry, laid out as on disk (12 bytes), values in
// host order.
struct TiffDirEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;
};

constexpr int kTiffMaxEntries = 54;  // a directory of 55 or more entries is refused

struct TiffDir {
    uint16_t entryCount;
    TiffDirEntry entries[55];
    uint32_t nextIfd;
};

// Strip offsets or strip byte counts of the current page. `type` is 3 (SHORT)
// or 4 (LONG) when loaded from a file, the elements then having the file's
// width; 0 while the writer fills it with u32 elements. `count` is the number
// of elements the array holds (bounds every access).
struct StripList {
    uint16_t type;
    uint32_t count;
    void* values;
};

// Window over the private page index of a TIFF file.
struct PageIndexCache {
    uint32_t entriesPerChunk;  // option 9
    uint16_t windowCount;
    uint16_t windowFirst;
    uint8_t* chunks;   // chunk list, 8 bytes per chunk
    uint32_t chunkCount;  // entries of the chunk list held in `chunks`
    uint32_t entries[10][2];  // cached page entries: base, IFD offset
};

// closeFlags bit: the final directory step has been done already.
constexpr uint8_t kCloseDirectoryDone = 0x01;

// Value of updateMode for a file opened for update.
constexpr uint32_t kUpdateAppend = 1;

struct TiffState {
    // ---- shared with the options call ----
    uint32_t tiffBase;       // added to every offset in the page index scheme
    uint32_t tiffWritePos;   // where the next appended data goes
    StripList* stripCounts;
    StripList* stripOffsets;
    uint32_t aux1Len, aux1Off;  // annotation area 1 of the current page
    uint32_t aux2Len, aux2Off;  // annotation area 2
    uint32_t hdrBlockLen;    // the property block behind the header
    uint8_t* hdrBlock;
    uint8_t hasPrivateIndex;
    uint32_t updateMode;
    uint8_t closeFlags;

    // ---- reader (page location) ----
    uint32_t firstIfdOffset;
    uint32_t pageIndexOffset;
    uint32_t pageTableOffset;
    uint32_t tableCarrier;   // directory whose table entry names the page offset table (0: none)
    uint32_t privateTagSlot;
    PageIndexCache* indexCache;
    TiffDir* workDir;
    char* tempName;
    // IFD offsets of the plain chain found so far (page i at ifdMemo[i]),
    // so walking to page N does not restart from the first IFD.
    uint32_t* ifdMemo;
    uint32_t ifdMemoCount;
    uint32_t ifdMemoCap;
    // Strip byte counts exactly as the file stores them (option 23).
    StripList* storedCounts;

    // ---- writer ----
    int32_t stripIndex;
    uint32_t stripOffsetsSlot;
    uint32_t stripCountsSlot;
    uint32_t prevLinkPos;
    uint32_t prevLinkValue;
    int32_t temp2Desc;
    uint8_t temp2Open;
    uint8_t rewriteNeeded;
    uint32_t realFirstIfd;       // the file's first IFD while firstIfdOffset holds the slot
    // A directory has been built in workDir and not yet written to the file.
    uint8_t dirPending;
    // Next-IFD field of the last directory written by this handle and the
    // value it holds (file byte order); 0 before the first directory of a
    // session, when the link is found through the page offset table work file.
    uint32_t chainLinkPos;
    uint32_t chainLinkRaw;
    // The directory being built belongs to data that did not all reach the
    // file (a write failed, or was refused at the length limit): the code of
    // that failure, 0 while all is well. Such a directory never enters the
    // file; the next xtavputi or close drops it.
    int32_t pageBroken;
    // The file's length before the slot of the directory being built was
    // placed: what the file keeps when that directory is dropped.
    uint32_t pageStart;
};

inline TiffState& tiff_of(FctEntry* e) { return format_state<TiffState>(e); }
inline const TiffState& tiff_of(const FctEntry* e) { return format_state<TiffState>(e); }

// The byte order of a TIFF handle's file: the order detection saw in an
// opened file, else the handle's byteOrder (option 14; "II" by default).
inline uint16_t tiff_order(const FctEntry* e) {
    constexpr uint16_t kII = 0x4949, kMM = 0x4D4D;
    if (e->detectWord == kII || e->detectWord == kMM) return e->detectWord;
    return e->byteOrder == kMM ? kMM : kII;
}
