// The places and marks of a TIFF file that the library reads and writes
// beyond the directories: the header, the summary-property block, the page
// offset table, the page index, and the directory slot of a written page.
#pragma once

#include <cstdint>

// ---- header ----
constexpr uint32_t kTiffHeaderSize = 8;  // byte-order mark, 42, first IFD offset
constexpr uint16_t kTiffMagic = 42;

// ---- summary-property block behind the header ----
// Its mark, version and length (always little-endian), then the text.
constexpr char kPropertyMark[] = "TEXO TIFF ";
constexpr uint32_t kPropertyMarkLength = sizeof kPropertyMark - 1;
constexpr uint32_t kPropertyHeaderOffset = kTiffHeaderSize;
constexpr uint32_t kPropertyHeaderSize = 16;  // mark, version u16, length u32
constexpr uint16_t kPropertyVersion = 1;
constexpr uint32_t kPropertyText = kPropertyHeaderOffset + kPropertyHeaderSize;
// The five labelled texts of the block, in order.
constexpr int kPropertyCount = 5;
constexpr const char* kPropertyLabels[kPropertyCount] = {"Title:", "Author:", "Subject:",
                                                         "Keywords:", "Comments:"};

// ---- page offset table (tag 32934) ----
// Header: the mark "TEXO" (as a u32 in the file's order), version 1, the
// page count and the file's length when it was written; then one IFD
// offset per page.
constexpr uint32_t kPageTableMagic = 0x4F584554;  // "TEXO" read as a little-endian u32
constexpr uint32_t kPageTableVersion = 1;
constexpr uint32_t kPageTableHeader = 16;
constexpr uint32_t kPageTableCount = 8;   // offset of the page count
constexpr uint32_t kPageTableLength = 12;  // offset of the file length
// The table entry's count: the table's u32 words beyond the pages.
constexpr uint32_t kPageTableExtraWords = 4;

// ---- page index (tag 32935) ----
// A header of 52 bytes (version at 0, page count at 36, chunk count at 40,
// kind at 44), then the chunk list of 8-byte entries (offset, count); each
// chunk holds 8-byte page entries (the page's base, its IFD offset).
constexpr uint32_t kIndexHeaderSize = 52;
constexpr uint32_t kIndexVersion = 1;
constexpr uint32_t kIndexKind = 32;
constexpr uint32_t kIndexPagesAt = 36;
constexpr uint32_t kIndexChunksAt = 40;
constexpr uint32_t kIndexKindAt = 44;
constexpr uint32_t kIndexEntrySize = 8;

// ---- writing ----
constexpr uint32_t kTiffSlotSize = 668;  // a written directory's slot
constexpr uint32_t kMaxPages = 65535;    // page counts are u16
