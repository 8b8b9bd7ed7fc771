// File types 4 and 5: the page calls accept them and transfer nothing.
#include "formats/reserved/reserved_format.h"

#include <cerrno>

#include "frame/fct.h"

namespace {

// With PutOptions the record must name a kind of data the library knows.
int reserved_put(FctEntry*, uint16_t, PageInfo* info, const PutOptions* options) {
    if (options && !format_announced(info->fileType)) {
        errno = TAV_E_NOT_SUPPORTED;
        return -1;
    }
    return 0;
}

}  // namespace

// Type 4 never occurs in a file and cannot be created; type 5 can.
constexpr FormatOps kReserved4Format = {
    .fileType = FILETYPE_RESERVED4, .page_info = format_nothing_info, .page_read = format_nothing_read,
    .page_data = format_nothing_data, .put_info = reserved_put, .page_write = format_nothing_write,
    .data_strips = format_data_as_given, .data_chunks = format_data_as_given,
};

constexpr FormatOps kReserved5Format = {
    .fileType = FILETYPE_RESERVED5, .can_create = format_creatable, .page_info = format_nothing_info,
    .page_read = format_nothing_read, .page_data = format_nothing_data, .put_info = reserved_put,
    .page_write = format_nothing_write, .data_strips = format_data_as_given,
    .data_chunks = format_data_as_given,
};
