// The places and marks of a TIFF file that the library reads and writes
// beyond the directories: the header, the summary-property block, the page
// offset table, the page index, and the directory slot of a written page.
#pragma once

#include <cstdint>

#include "formats/common/tiff_head.h"

// The header: byte-order mark, 42 (kTiffMagic), first IFD offset.
constexpr uint32_t kTiffHeaderSize = 8;

// The summary-property block behind the header: its mark, version and length
// (always little-endian), then the text; the five labelled texts in order.
constexpr char kPropertyMark[] = "TEXO TIFF ";
constexpr uint32_t kPropertyMarkLength = sizeof kPropertyMark - 1;
constexpr uint32_t kPropertyHeaderOffset = kTiffHeaderSize, kPropertyHeaderSize = 16;
constexpr uint32_t kPropertyText = kPropertyHeaderOffset + kPropertyHeaderSize;
constexpr uint16_t kPropertyVersion = 1;
constexpr int kPropertyCount = 5;
constexpr const char* kPropertyLabels[kPropertyCount] = {"Title:", "Author:", "Subject:",
                                                         "Keywords:", "Comments:"};

// The page offset table (tag 32934): a 16-byte header (the mark "TEXO" as a
// u32 in the file's order, version 1, the page count at 8 and the file's
// length when it was written at 12), then one IFD offset per page. The
// table entry's count is the table's u32 words: the pages and four more.
constexpr uint32_t kPageTableMagic = 0x4F584554, kPageTableVersion = 1;
constexpr uint32_t kPageTableHeader = 16, kPageTableCount = 8, kPageTableLength = 12;
constexpr uint32_t kPageTableExtraWords = 4;

// The page index (tag 32935): a 52-byte header (version at 0, page count at
// 36, chunk count at 40, kind at 44), then the chunk list of 8-byte entries
// (offset, count); each chunk holds 8-byte page entries (the page's base,
// its IFD offset).
constexpr uint32_t kIndexHeaderSize = 52, kIndexEntrySize = 8;
constexpr uint32_t kIndexVersion = 1, kIndexKind = 32;
constexpr uint32_t kIndexPagesAt = 36, kIndexChunksAt = 40, kIndexKindAt = 44;

// Writing: a directory's slot, and page counts that are u16.
constexpr uint32_t kTiffSlotSize = 668;
constexpr uint32_t kMaxPages = 65535;
