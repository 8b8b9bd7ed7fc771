// Display records of documents and pages, and viewed marks, under
// "Persistent Information".
//
// A record whose stream (or the storage that would hold it) is missing, or
// which is shorter than its record, reads as absent (TAV_E_AWD_ABSENT): no value of a
// cut-short record is trusted.
#include <cstdio>

#include "fileio/byteorder.h"
#include "formats/awd/awd_state.h"
#include "platform/plat_proc.h"
#include "storage/stg_utils.h"

namespace {

// Both records are their leading words, then the same display fields from
// the stamp on: where the stamp lies, and the offsets from it.
constexpr uint32_t kDocStamp = 8, kPageStamp = 4;
constexpr uint32_t kFlagsAfterStamp = 8, kRotationAfterStamp = 12, kXScaleAfterStamp = 14,
                   kYScaleAfterStamp = 16;

void put_le64(uint8_t* p, uint64_t v) {
    put_le32(p, uint32_t(v));
    put_le32(p + 4, uint32_t(v >> 32));
}
uint64_t get_le64(const uint8_t* p) { return uint64_t(get_le32(p)) | (uint64_t(get_le32(p + 4)) << 32); }

template <typename Record>
void put_display(uint8_t* stamp, const Record& r) {
    put_le64(stamp, r.stamp);
    put_le32(stamp + kFlagsAfterStamp, r.flags);
    put_le16(stamp + kRotationAfterStamp, r.rotation);
    put_le16(stamp + kXScaleAfterStamp, r.xScale);
    put_le16(stamp + kYScaleAfterStamp, r.yScale);
}

template <typename Record>
void get_display(const uint8_t* stamp, Record& r) {
    r.stamp = get_le64(stamp);
    r.flags = get_le32(stamp + kFlagsAfterStamp);
    r.rotation = get_le16(stamp + kRotationAfterStamp);
    r.xScale = get_le16(stamp + kXScaleAfterStamp);
    r.yScale = get_le16(stamp + kYScaleAfterStamp);
}

bool missing(uint32_t status) { return status == TAV_STG_E_FILENOTFOUND; }

// A missing element reads as an absent record.
uint32_t absent_if_missing(uint32_t status) { return missing(status) ? TAV_E_AWD_ABSENT : status; }

// The first n bytes of a stream; a shorter stream is an absent record.
uint32_t read_record(StgStream* s, uint8_t* out, uint32_t n) {
    uint32_t got = 0;
    if (uint32_t rc = s->ops->Read(s, out, n, &got)) return rc;
    return got == n ? 0 : TAV_E_AWD_ABSENT;
}

// Opens the storage name in parent read-write, making it when it is missing.
uint32_t open_or_make(StgStorage* parent, const char* name, StgHold<StgStorage>& out) {
    uint32_t rc = stg_open_storage(parent, name, kStgModeWrite, out.put());
    if (missing(rc)) rc = stg_create_storage(parent, name, kStgModeCreate, out.put());
    return rc;
}

// Makes (replacing) the stream name in parent holding bytes.
uint32_t put_stream(StgStorage* parent, const char* name, const uint8_t* bytes, uint32_t n) {
    StgHold<StgStream> s;
    if (uint32_t rc = stg_create_stream(parent, name, kStgModeCreate, s.put())) return rc;
    return awd_write_all(s.get(), bytes, n);
}

// Opens for reading the stream of page `page` (named by its index) of the
// document `name` in the storage `branch` of the persistent information.
uint32_t open_page_stream(StgStorage* persistent, const char* branch, const char* name, uint32_t page,
                          StgHold<StgStream>& out) {
    char pageName[16];
    awd_page_name(page, pageName);
    StgHold<StgStorage> tree, doc;
    uint32_t rc = stg_open_storage(persistent, branch, kStgModeRead, tree.put());
    if (rc == 0) rc = stg_open_storage(tree.get(), name, kStgModeRead, doc.put());
    if (rc == 0) rc = stg_open_stream(doc.get(), pageName, kStgModeRead, out.put());
    return rc;
}

}  // namespace

std::array<uint8_t, kAwdDocRecordBytes> awd_encode(const AwdDocRecord& r) {
    std::array<uint8_t, kAwdDocRecordBytes> b{};
    put_le16(&b[0], r.word0);
    put_le16(&b[2], r.word1);
    put_le16(&b[4], r.word2);
    put_le16(&b[6], r.word3);
    put_display(&b[kDocStamp], r);
    return b;
}

std::array<uint8_t, kAwdPageRecordBytes> awd_encode(const AwdPageRecord& r) {
    std::array<uint8_t, kAwdPageRecordBytes> b{};
    put_le16(&b[0], r.word0);
    put_le16(&b[2], r.word1);
    put_display(&b[kPageStamp], r);
    return b;
}

AwdDocRecord awd_decode_doc(const uint8_t* b) {
    AwdDocRecord r;
    r.word0 = get_le16(b);
    r.word1 = get_le16(b + 2);
    r.word2 = get_le16(b + 4);
    r.word3 = get_le16(b + 6);
    get_display(b + kDocStamp, r);
    return r;
}

AwdPageRecord awd_decode_page(const uint8_t* b) {
    AwdPageRecord r;
    r.word0 = get_le16(b);
    r.word1 = get_le16(b + 2);
    get_display(b + kPageStamp, r);
    return r;
}

uint64_t awd_now_filetime() { return plat_local_filetime(); }

AwdDocRecord awd_default_doc_record() {
    AwdDocRecord r;
    r.stamp = awd_now_filetime();
    return r;
}

void awd_page_name(uint32_t page, char out[16]) { std::snprintf(out, 16, "%s%u", kAwdPagePrefix, page); }

uint32_t awd_read_doc_record(StgStorage* persistent, const char* name, AwdDocRecord* out) {
    StgHold<StgStorage> info;
    StgHold<StgStream> s;
    uint32_t rc = stg_open_storage(persistent, kAwdDocInfo, kStgModeRead, info.put());
    if (rc == 0) rc = stg_open_stream(info.get(), name, kStgModeRead, s.put());
    if (rc) return absent_if_missing(rc);
    uint8_t bytes[kAwdDocRecordBytes];
    if ((rc = read_record(s.get(), bytes, kAwdDocRecordBytes))) return rc;
    *out = awd_decode_doc(bytes);
    return 0;
}

uint32_t awd_write_doc_record(StgStorage* persistent, const char* name, const AwdDocRecord& r) {
    StgHold<StgStorage> info;
    if (uint32_t rc = stg_open_storage(persistent, kAwdDocInfo, kStgModeWrite, info.put())) return rc;
    auto bytes = awd_encode(r);
    return put_stream(info.get(), name, bytes.data(), kAwdDocRecordBytes);
}

uint32_t awd_read_page_record(StgStorage* persistent, const char* name, uint32_t page, AwdPageRecord* out) {
    StgHold<StgStream> s;
    uint32_t rc = open_page_stream(persistent, kAwdPageInfo, name, page, s);
    if (rc) return absent_if_missing(rc);
    uint8_t bytes[kAwdPageRecordBytes];
    if ((rc = read_record(s.get(), bytes, kAwdPageRecordBytes))) return rc;
    *out = awd_decode_page(bytes);
    return 0;
}

uint32_t awd_write_page_record(StgStorage* persistent, const char* name, uint32_t page,
                               const AwdPageRecord& r) {
    char pageName[16];
    awd_page_name(page, pageName);
    StgHold<StgStorage> info, doc;
    uint32_t rc = stg_open_storage(persistent, kAwdPageInfo, kStgModeWrite, info.put());
    if (rc == 0) rc = open_or_make(info.get(), name, doc);
    if (rc) return rc;
    auto bytes = awd_encode(r);
    return put_stream(doc.get(), pageName, bytes.data(), kAwdPageRecordBytes);
}

uint32_t awd_page_viewed(StgStorage* persistent, const char* name, uint32_t page) {
    {
        StgHold<StgStream> mark;
        uint32_t rc = open_page_stream(persistent, kAwdPagesStatus, name, page, mark);
        if (!missing(rc)) return rc;
    }
    // Without a mark of its own a page counts as viewed when the whole file
    // does.
    StgHold<StgStream> all;
    return absent_if_missing(stg_open_stream(persistent, kAwdBeenViewed, kStgModeRead, all.put()));
}

uint32_t awd_mark_viewed(StgStorage* persistent, const char* name, uint32_t page) {
    char pageName[16];
    awd_page_name(page, pageName);
    StgHold<StgStorage> status, doc;
    StgHold<StgStream> mark;
    uint32_t rc = open_or_make(persistent, kAwdPagesStatus, status);
    if (rc == 0) rc = open_or_make(status.get(), name, doc);
    if (rc) return rc;
    rc = stg_open_stream(doc.get(), pageName, kStgModeRead, mark.put());
    if (missing(rc)) rc = stg_create_stream(doc.get(), pageName, kStgModeCreate, mark.put());
    return rc;
}
