// The file control table: one entry per open image file.
#pragma once

#include <cerrno>
#include <cstdint>

#include "qvtav.h"

// In-memory TIFF directory entry, laid out as on disk (12 bytes).
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

// Window over the private page index of a TIFF file (tag 32935).
struct PageIndexCache {
    uint32_t tempDesc;
    uint32_t entriesPerChunk;
    uint32_t newChunks;
    uint16_t tempCount;
    uint16_t tempFirst;
    uint16_t windowCount;
    uint16_t windowFirst;
    uint8_t* header;   // first 80 bytes at the index offset
    uint8_t* chunks;   // chunk list, 8 bytes per chunk
    uint32_t chunkCount;  // entries of the chunk list held in `chunks`
    uint32_t entries[10][2];  // cached page entries: base, IFD offset
};

// Option codes whose flag byte is read elsewhere.
constexpr int kOptPageState = 0;   // pageState is the flag byte of option 0
constexpr int kOptStripRead = 3;
constexpr int kOptStripWrite = 4;
constexpr int kOptIndexWindow = 9;
constexpr int kOptionCount = 32;

// editFlags bits
constexpr uint8_t kEditPageUnderWay = 0x01;
constexpr uint8_t kEditPageComplete = 0x02;
constexpr uint8_t kEditTiffState = 0x04;
constexpr uint8_t kEditStripOpen = 0x08;

struct FctEntry {
    // ---- shared fields ----
    intptr_t fd;          // 0 free, -1 failed/closed, else descriptor (AWD: root storage)
    uint32_t origSize;
    uint32_t openFlags;
    int32_t lastError;
    uint16_t byteOrder;
    uint32_t fileType;
    uint16_t pageCount;
    uint16_t curPage;
    uint32_t subfileWanted;
    uint8_t flushPending;
    uint8_t editFlags;
    uint8_t closeFlags;
    uint8_t optionFlags[kOptionCount];
    PageInfo pageInfo;
    uint32_t pageDataSize;
    uint32_t pageRawSize;
    uint32_t* textTagOffsets;  // 9 entries, allocated on first use
    uint32_t* extraOffsets;    // 4 entries, allocated on first use

    uint8_t& pageState() { return optionFlags[kOptPageState]; }

    // ---- format area: fields shared with the options call ----
    uint16_t detectWord;
    uint32_t tiffBase;
    uint32_t tiffWritePos;
    StripList* stripCounts;
    StripList* stripOffsets;
    uint32_t aux1Len, aux1Off;  // tag 32932
    uint32_t aux2Len, aux2Off;  // tag 32931
    uint32_t hdrBlockLen;
    uint8_t* hdrBlock;
    uint8_t hasPrivateIndex;
    uint32_t updateMode;

    // ---- DCX ----
    uint32_t* dcxOffsets;

    // ---- TIFF reader (page location) ----
    uint32_t firstIfdOffset;
    uint32_t pageIndexOffset;
    uint32_t pageTableOffset;
    uint32_t tableIfdIndex;
    uint32_t privateTagSlot;
    uint32_t indexKind;
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

    // ---- TIFF writer ----
    int32_t stripIndex;
    uint32_t stripOffsetsSlot;
    uint32_t stripCountsSlot;
    uint32_t prevLinkPos;
    uint32_t prevLinkValue;
    int32_t temp2Desc;
    uint8_t temp2Open;
    uint8_t rewriteNeeded;
    uint8_t tableFromChain;
    uint32_t realFirstIfd;       // the file's first IFD while firstIfdOffset holds the slot
    uint32_t firstLinkPos;       // first patched next-IFD link (abort restores it)
    uint32_t firstLinkValue;
    uint8_t firstLinkSaved;
    // A directory has been built in workDir and not yet written to the file.
    uint8_t dirPending;
    // Next-IFD field of the last directory written by this handle and the
    // value it holds (file byte order); 0 before the first directory of a
    // session, when the link is found through the page offset table work file.
    uint32_t chainLinkPos;
    uint32_t chainLinkRaw;
    // First page appended since open or create (0xFFFFFFFF: none yet); its
    // directory carries the table tag of a file that had no table.
    uint32_t firstNewPage;

    // ---- later formats add their areas below ----
};

constexpr int kFctSize = 20;

// Table operations (frame/fct_table.cpp).
int fct_alloc(const FctEntry& templ);          // handle, or -1 (errno 23)
FctEntry* fct_lookup(int handle);              // null with errno 9
int fct_release(int handle);                   // 0 or -1 (errno 9)
int fct_fetch_error(int handle, uint32_t* value);
FctEntry* fct_entry_at(int handle);            // no checks; tests and close

// Fails an operation on a handle: sets errno and the entry's lastError.
inline int fct_fail(FctEntry* e, int code) {
    errno = code;
    if (e) e->lastError = code;
    return -1;
}

// Copies errno into the entry's lastError and returns -1 (for failures whose
// code a lower layer has already set).
inline int fct_fail_errno(FctEntry* e) {
    if (e) e->lastError = errno;
    return -1;
}
