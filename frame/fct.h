// The file control table: one entry per open image file.
#pragma once

#include <cerrno>
#include <cstdint>

#include "fileio/mem.h"
#include "qvtav.h"

struct FormatOps;

// Option codes, as xtavopts takes them.
enum OptionCode : uint32_t {
    kOptError = TAV_OPT_ERROR,
    kOptStripRead = TAV_OPT_STRIP_READ,
    kOptStripWrite = TAV_OPT_STRIP_WRITE,
    kOptIndexWindow = TAV_OPT_INDEX_WINDOW,
    kOptImageLength = TAV_OPT_IMAGE_LENGTH,
    kOptCountSize = TAV_OPT_COUNT_SIZE,
    kOptStripCounts = TAV_OPT_STRIP_COUNTS,
    kOptByteOrder = TAV_OPT_BYTE_ORDER,
    kOptArea1Info = TAV_OPT_AREA1_INFO,
    kOptArea1Read = TAV_OPT_AREA1_READ,
    kOptArea1Append = TAV_OPT_AREA1_APPEND,
    kOptVersion = TAV_OPT_VERSION,
    kOptArea2Info = TAV_OPT_AREA2_INFO,
    kOptArea2Read = TAV_OPT_AREA2_READ,
    kOptArea2Append = TAV_OPT_AREA2_APPEND,
    kOptMovePage = TAV_OPT_MOVE_PAGE,
    kOptStoredCounts = TAV_OPT_STORED_COUNTS,
};
constexpr int kOptionCount = 32;
// The flag byte of option 0 holds the page state.
constexpr uint32_t kOptPageState = kOptError;

// Actions of xtavopts.
enum OptionAction : uint32_t { kActionClear = 0, kActionSet = 1 };

// pageState bits: page information given for the current page, and page
// data written for it.
constexpr uint8_t kPageInfoGiven = 0x01;
constexpr uint8_t kPageDataWritten = 0x02;

// editFlags bits
constexpr uint8_t kEditPageUnderWay = 0x01;
constexpr uint8_t kEditPageComplete = 0x02;
constexpr uint8_t kEditStripOpen = 0x08;

// The access part of the open flags says the handle may not read.
inline bool fct_write_only(uint32_t openFlags) {
    return (openFlags & TAV_OPEN_ACCESS_MASK) == TAV_OPEN_WRITE;
}
// The handle was created, or opened with write access.
constexpr uint32_t kOpenWriteAccess = TAV_OPEN_WRITE | TAV_OPEN_READWRITE;
constexpr uint32_t kCreatedFlag = TAV_OPEN_READWRITE;  // xtavcreat sets it

// Sizes of the page reader's offset tables, in u32 entries: the nine text
// tags (with room for the texts that stand inside their entries), and four
// further tables of the page (colour tables).
constexpr uint32_t kTextSlots = 19;
constexpr uint32_t kExtraSlots = 4;

struct FctEntry {
    intptr_t fd;          // 0 free, -1 failed/closed, else descriptor (own storage: its root)
    uint32_t origSize;
    // Set by a format's finishing step that dropped a page it could not
    // finish: close cuts the file to keepLength (what the complete pages
    // need) as it closes it.
    bool cutAtClose;
    uint32_t keepLength;
    uint32_t openFlags;
    int32_t lastError;
    uint16_t byteOrder;
    uint32_t fileType;
    uint16_t pageCount;
    uint16_t curPage;
    uint32_t subfileWanted;
    uint8_t editFlags;
    uint8_t optionFlags[kOptionCount];
    PageInfo pageInfo;
    uint32_t pageDataSize;
    uint32_t pageRawSize;
    uint32_t* textTagOffsets;  // kTextSlots entries of the page reader, allocated on first use
    uint32_t* extraOffsets;    // kExtraSlots further offsets, allocated on first use
    // The JPEG description the page reader handed out last: it may come back
    // in the caller's record to be recycled, and is freed at close.
    JpegInfo* readerJpeg;
    // The first two bytes of the file as detection read them (TIFF: its
    // byte-order mark).
    uint16_t detectWord;

    // The format's row and its own state (allocated by its open or create
    // from the memory table, freed by its release).
    const FormatOps* format;
    void* formatState;

    uint8_t& pageState() { return optionFlags[kOptPageState]; }
    bool can_write() const { return (openFlags & kOpenWriteAccess) != 0; }
};

// The row of an entry's format (frame/format_table.cpp); an entry without a
// file (a failed open or create) has a row that supports nothing.
const FormatOps& fct_format(const FctEntry* e);

// Frees a JpegInfo block and its header buffer (frame/page_info.cpp).
void jpeg_info_free(JpegInfo*& info);
// Marks a JpegInfo a page reader hands out (and its header) as one whose
// restartInterval word holds the file offset where the page's data
// starts, not a restart interval (JPEG files). The mark lives with the
// blocks: it goes when they are freed.
void jpeg_info_mark_data_start(JpegInfo* j);
// Whether j is, or copies, such a marked JpegInfo.
bool jpeg_info_holds_data_start(const JpegInfo* j);

// The format's own state of a handle.
template <typename State>
inline State& format_state(FctEntry* e) {
    return *static_cast<State*>(e->formatState);
}
template <typename State>
inline const State& format_state(const FctEntry* e) {
    return *static_cast<const State*>(e->formatState);
}

// The format's state is a record of its own in a memory-table block, made
// by its open or create (null with errno when there is no memory) and ended
// by its release.
template <typename State>
inline State* format_new_state(FctEntry* e) {
    auto* s = mem_new<State>();
    e->formatState = s;
    return s;
}
template <typename State>
inline void format_end_state(FctEntry* e) {
    mem_delete(static_cast<State*>(e->formatState));
    e->formatState = nullptr;
}

constexpr int kFctSize = 20;

// Table operations (frame/fct_table.cpp).
int fct_alloc(const FctEntry& templ);          // handle, or -1 (errno TAV_ENFILE)
FctEntry* fct_lookup(int handle);              // null with errno TAV_EBADF
int fct_release(int handle);                   // 0 or -1 (errno TAV_EBADF)
int fct_fetch_error(int handle, uint32_t* value);
FctEntry* fct_entry_at(int handle);            // no checks; tests and close

// Asks close to cut the file to `length` bytes (a page dropped at close).
inline void fct_cut_at_close(FctEntry* e, uint32_t length) {
    e->cutAtClose = true;
    e->keepLength = length;
}

// Fails an operation on a handle: sets errno and the entry's lastError.
inline int fct_fail(FctEntry* e, int code) {
    errno = code;
    if (e) e->lastError = code;
    return -1;
}

// The code a lower layer set, or fallback when it set none.
inline int errno_or(int fallback) { return errno ? errno : fallback; }
