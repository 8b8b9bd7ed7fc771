// The tree of an AWD file: the names of its storages and streams, and the
// display records kept for documents and pages. Shared by the library and
// the encoder library, which makes the tree of a new file.
#pragma once

#include <array>
#include <cstdint>

// At the root.
constexpr char kAwdDocuments[] = "Documents";  // one stream per document
constexpr char kAwdPersistent[] = "Persistent Information";
constexpr char kAwdSummary[] = "\x05SummaryInformation";
// In "Persistent Information".
constexpr char kAwdGlobal[] = "Global Information";
constexpr char kAwdDocInfo[] = "Document Information";  // one record stream per document
constexpr char kAwdPageInfo[] = "Page Information";     // one storage of page records per document
constexpr char kAwdPagesStatus[] = "PagesStatus";       // one storage of viewed marks per document
constexpr char kAwdBeenViewed[] = "BeenViewed";          // present: every page counts as viewed
// In "Global Information".
constexpr char kAwdDisplayOrder[] = "Display Order";  // document names, each ended by a NUL
constexpr char kAwdOrderBackup[] = "TexoBackupDO";    // the order as it was before a rewrite
// Page records and viewed marks are named by this prefix and the page's
// index within its document, in decimal.
constexpr char kAwdPagePrefix[] = "Page";

// The longest document name, in bytes.
constexpr uint32_t kAwdNameMax = 32;

// The display record of a document (26 bytes in its stream, little-endian).
struct AwdDocRecord {
    uint16_t word0 = 0;
    uint16_t word1 = 1;
    uint16_t word2 = 0;
    uint16_t word3 = 1;
    uint64_t stamp = 0;  // time of writing: 100-ns units since 1601, local time
    uint32_t flags = 0;
    uint16_t rotation = 0;  // degrees
    uint16_t xScale = 50;   // percent
    uint16_t yScale = 50;
};
constexpr uint32_t kAwdDocRecordBytes = 26;

// The display record of a page (22 bytes), relative to its document's.
struct AwdPageRecord {
    uint16_t word0 = 0;
    uint16_t word1 = 1;
    uint64_t stamp = 0;
    uint32_t flags = 0;
    uint16_t rotation = 0;
    uint16_t xScale = 100;
    uint16_t yScale = 100;
};
constexpr uint32_t kAwdPageRecordBytes = 22;

std::array<uint8_t, kAwdDocRecordBytes> awd_encode(const AwdDocRecord& r);
std::array<uint8_t, kAwdPageRecordBytes> awd_encode(const AwdPageRecord& r);
AwdDocRecord awd_decode_doc(const uint8_t* bytes);
AwdPageRecord awd_decode_page(const uint8_t* bytes);
