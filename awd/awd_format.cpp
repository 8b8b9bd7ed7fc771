// AWD documents. They live in compound files that the document's own
// storage reaches, not a descriptor. Reading and writing them is not built
// yet: open, create and the whole-document edits refuse with 293.
#include "awd/awd_format.h"

#include <cerrno>

#include "frame/fct.h"
#include "frame/startup.h"

namespace {

int awd_not_built(FctEntry*, const FormatRequest&) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}

int awd_edit_not_built(FileLocation*, const char*, int32_t, int32_t, const PageInfo*) {
    errno = TAV_E_NOT_SUPPORTED;
    return -1;
}

// AWD documents can be created only where the platform supports them, and
// only locally.
bool awd_creatable(bool local) { return local && awd_supported(); }

}  // namespace

const FormatOps kAwdFormat = {
    .fileType = FILETYPE_AWD,
    .name = "AWD",
    .traits = kTraitOwnStorage | kTraitDecodedPages | kTraitEmptyWrites,
    .can_create = awd_creatable,
    .open = awd_not_built,
    .create = awd_not_built,
    .page_data = format_nothing_data,
    .edit_by_path = awd_edit_not_built,
};
