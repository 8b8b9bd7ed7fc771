// The table of messages for every code the library reports: the C runtime
// numbers it uses, its own codes from 254 up, and the structured-storage
// status codes that pass through it unchanged.
#include "error_text.h"

#include "qvtav.h"

namespace qvtool {
namespace {

struct Message {
    uint32_t code;
    std::string_view text;
};

constexpr Message kMessages[] = {
    {0, "no error code given"},
    {TAV_EPERM, "the XIFF reader library could not be loaded"},
    {TAV_ENOENT, "no such file"},
    {TAV_EIO, "input/output error (a strip needed too many partial reads)"},
    {TAV_E2BIG, "read count too large"},
    {TAV_EBADF, "bad handle (file not open)"},
    {TAV_ENOMEM, "out of memory, or too many files open"},
    {TAV_EACCES, "permission denied, not allowed by the open mode, or file locked"},
    {TAV_EFAULT, "bad remote path or server"},
    {TAV_EEXIST, "file already exists"},
    {TAV_EINVAL, "invalid argument"},
    {TAV_ENFILE, "too many files open in the library"},
    {TAV_E_REMOTE_EXISTS, "remote file already exists"},
    {TAV_E_TRANSPORT, "the remote request did not reach the server"},
    {TAV_E_NO_REMOTE, "remote-access library or entry point missing"},
    {TAV_E_AWD_HEIGHT, "AWD page height is 0"},
    {TAV_E_AWD_ABSENT, "AWD record or viewed mark absent"},
    {TAV_E_AWD_VIEWER, "the AWD viewer failed"},
    {TAV_E_MEMTABLE, "library memory table full, or block not in it"},
    {TAV_E_WORKFILE, "no work file could be made"},
    {TAV_E_INDEX_KIND, "page index missing or of the wrong kind"},
    {TAV_E_INDEX_VERSION, "page index of an unknown version"},
    {TAV_E_OTHER_PAGE, "data for a page other than the current one"},
    {TAV_E_SIZE, "a size out of range"},
    {TAV_E_NO_SUBFILE, "no image of the wanted subfile type, or an empty strip"},
    {TAV_E_INCONSISTENT, "page information inconsistent with the compression"},
    {TAV_E_ACTION, "option action other than 0 or 1"},
    {TAV_E_OPTION, "option not handled, or value missing"},
    {TAV_E_FLAGS, "invalid open flags"},
    {TAV_E_COMPRESSION, "compression not supported"},
    {TAV_E_WRITTEN, "page already written"},
    {TAV_E_WRITE_FLAG, "last-data flag without end of strip in strip-wise writing"},
    {TAV_E_SEEK, "seek target too large"},
    {TAV_E_SEQUENCE, "page data without page information, or information after data"},
    {TAV_E_ROTATION, "rotation other than 0, 90, 180 or 270"},
    {TAV_E_COPY_BUFFER, "no memory for the copy buffer"},
    {TAV_E_ROWS_PER_STRIP, "rows per strip missing"},
    {TAV_E_NO_BYTE_COUNTS, "TIFF page lacks strip byte counts"},
    {TAV_E_NO_OFFSETS, "TIFF page lacks strip offsets"},
    {TAV_E_NO_LENGTH, "TIFF page lacks its image length"},
    {TAV_E_NO_WIDTH, "TIFF page lacks its image width"},
    {TAV_E_PAGE, "bad page number (0, not the current page, or out of order)"},
    {TAV_E_FIELD_TYPE, "unexpected field type"},
    {TAV_E_COUNT, "byte count zero or beyond the page"},
    {TAV_E_OFFSET, "read position beyond the page data"},
    {TAV_E_NOT_SUPPORTED, "operation not supported for this file type"},
    {TAV_E_UNSUPPORTED, "subfile type or photometric interpretation not supported"},
    {TAV_E_MISSING_ENTRY, "a needed TIFF directory entry is missing"},
    {TAV_E_DIRECTORY, "damaged TIFF directory (too many entries, or the chain ends early)"},
    {TAV_E_PAGE_RANGE, "page number above the page count"},
    {TAV_E_NOT_TIFF, "not a TIFF file"},
    {TAV_E_RAW_FILE, "no image format recognised in the file"},
    {TAV_E_STRIPS_CUT, "strip count cut to the byte counts present"},
    {TAV_E_INDEX_SIZE, "page index too large"},
    {TAV_E_SHORT_STRIPS, "the strips end before the requested length (file cut short?)"},
    {TAV_E_TARGET_ASIDE, "replace failed and could not be undone: the file lies under a backup name beside its path"},
    {TAV_E_NO_IMAGE, "the file holds no image"},
    {TAV_E_TRUNCATED, "header cut short or inconsistent with the file's size"},
    {TAV_E_AWD_CREATE, "the AWD encoder could not make the AWD file"},
    {TAV_E_AWD_ENCODER, "the AWD encoder refused the page"},
    {TAV_E_FAIL, "the XIFF reader failed"},
    {TAV_S_FALSE, "storage: nothing more to enumerate"},
    {TAV_STG_S_CONVERTED, "storage: an existing file was replaced"},
    {TAV_STG_E_INVALIDFUNCTION, "storage: invalid function"},
    {TAV_STG_E_FILENOTFOUND, "storage: file not found"},
    {TAV_STG_E_PATHNOTFOUND, "storage: path not found"},
    {TAV_STG_E_ACCESSDENIED, "storage: access denied"},
    {TAV_STG_E_INVALIDHANDLE, "storage: invalid handle"},
    {TAV_STG_E_INSUFFICIENTMEMORY, "storage: out of memory"},
    {TAV_STG_E_INVALIDPOINTER, "storage: invalid pointer"},
    {TAV_STG_E_WRITEFAULT, "storage: write fault"},
    {TAV_STG_E_READFAULT, "storage: read fault"},
    {TAV_STG_E_SHAREVIOLATION, "storage: file in use"},
    {TAV_STG_E_FILEALREADYEXISTS, "storage: file already exists"},
    {TAV_STG_E_INVALIDNAME, "storage: invalid name"},
    {TAV_STG_E_INVALIDHEADER, "storage: not a compound file (invalid header)"},
    {TAV_STG_E_INVALIDPARAMETER, "storage: invalid parameter"},
    {TAV_STG_E_MEDIUMFULL, "storage: disk full"},
    {TAV_STG_E_INVALIDFLAG, "storage: invalid access mode"},
    {TAV_STG_E_DOCFILECORRUPT, "storage: compound file corrupt"},
};

}  // namespace

std::string_view error_meaning(uint32_t code) {
    for (const Message& m : kMessages)
        if (m.code == code) return m.text;
    return "unknown error code";
}

bool error_known(uint32_t code) {
    for (const Message& m : kMessages)
        if (m.code == code) return true;
    return false;
}

}  // namespace qvtool
