// The strip tables of a page in memory: loaded from a directory entry (in
// the file's element width), read and changed element by element, copied.
#include <cerrno>
#include <cstring>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "formats/tiff/read/page_internal.h"
#include "formats/tiff/read/tiff_decode_internal.h"
#include "formats/tiff/tiff.h"

namespace {

uint32_t list_width(uint16_t type) { return type == kTiffShort ? 2 : 4; }

// Elements of a list that stand inside its directory entry.
bool in_entry(const TiffDirEntry& d) { return d.count == 1 || (d.type == kTiffShort && d.count == 2); }

}  // namespace

// Makes *list a list of `count` elements of `type`, reusing the record and
// its array when it has one (consecutive pages usually have as many strips
// as the page before, and every memory-table operation takes a lock).
int list_prepare(StripList** list, uint16_t type, uint32_t count) {
    const uint32_t width = list_width(type);
    StripList* l = *list;
    if (l && l->values && list_width(l->type) == width && l->count == count) {
        l->type = type;
        return 0;
    }
    if (l && l->values) {
        void* grown = mem_realloc(l->values, count * width);
        if (grown) {
            l->values = grown;
            l->type = type;
            l->count = count;
            return 0;
        }
    }
    strip_list_free(*list);
    l = static_cast<StripList*>(mem_calloc(1, sizeof(StripList)));
    if (!l) return fail(TAV_ENOMEM);
    l->values = mem_calloc(count, width);
    if (!l->values) {
        mem_free(l);
        return fail(TAV_ENOMEM);
    }
    l->type = type;
    l->count = count;
    *list = l;
    return 0;
}

int tiff_load_strip_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase) {
    int64_t end = 0;
    if (!in_entry(d) && (end = fio_length(int(e->fd))) < 0) return -1;
    return load_list(e, d, list, rebase, end);
}


int load_list(FctEntry* e, const TiffDirEntry& d, StripList** list, int rebase, int64_t end) {
    const bool isOffsets = d.tag == kTagStripOffsets || d.tag == kTagTileOffsets;
    if (d.type != kTiffShort && d.type != kTiffLong) return fail(TAV_EINVAL);
    if (d.count == 0) return fail(isOffsets ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS);
    const uint32_t width = list_width(d.type);
    const bool inEntry = in_entry(d);
    const uint32_t base = tiff_base(e);
    if (!inEntry) {
        // A table that cannot lie in the file is never allocated.
        uint64_t bytes = uint64_t(d.count) * width;
        uint64_t at = uint64_t(d.value) + base;
        if (at > uint64_t(end) || bytes > uint64_t(end) - at)
            return fail(isOffsets ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS);
    }
    if (list_prepare(list, d.type, d.count) < 0) return -1;
    StripList* l = *list;
    if (inEntry) {
        if (d.count == 1) {
            if (width == 2) static_cast<uint16_t*>(l->values)[0] = uint16_t(d.value);
            else static_cast<uint32_t*>(l->values)[0] = d.value;
        } else {
            static_cast<uint16_t*>(l->values)[0] = uint16_t(d.value & 0xFFFF);
            static_cast<uint16_t*>(l->values)[1] = uint16_t(d.value >> 16);
        }
    } else {
        errno = 0;
        if (tiff_read_typed(e, d.type, d.count, d.value, tiff_order(e), l->values,
                            d.count * width) < 0) {
            int code = errno ? errno : (isOffsets ? TAV_E_NO_OFFSETS : TAV_E_NO_BYTE_COUNTS);
            strip_list_free(*list);
            return fail(code);
        }
    }
    if (rebase && base) {
        for (uint32_t i = 0; i < l->count; ++i) {
            if (width == 2) static_cast<uint16_t*>(l->values)[i] += uint16_t(base);
            else static_cast<uint32_t*>(l->values)[i] += base;
        }
    }
    return 0;
}

uint32_t strip_list_get(const StripList* list, uint32_t i) {
    if (!list || !list->values || i >= list->count) return 0;
    if (list->type == kTiffShort) return static_cast<const uint16_t*>(list->values)[i];
    return static_cast<const uint32_t*>(list->values)[i];
}

void strip_list_free(StripList*& list) {
    if (!list) return;
    if (list->values) mem_free(list->values);
    mem_free(list);
    list = nullptr;
}

int strip_list_set(StripList* list, uint32_t i, uint32_t v) {
    if (!list || !list->values || i >= list->count) return 0;
    if (list->type == kTiffShort) {
        if (v <= 0xFFFF) {
            static_cast<uint16_t*>(list->values)[i] = uint16_t(v);
            return 0;
        }
        uint32_t* wide = static_cast<uint32_t*>(mem_calloc(list->count, 4));
        if (!wide) return fail(TAV_ENOMEM);
        for (uint32_t k = 0; k < list->count; ++k)
            wide[k] = static_cast<uint16_t*>(list->values)[k];
        mem_free(list->values);
        list->values = wide;
        list->type = kTiffLong;
    }
    static_cast<uint32_t*>(list->values)[i] = v;
    return 0;
}

int strip_list_copy_into(StripList** dst, const StripList* src) {
    if (!src || !src->count) {
        strip_list_free(*dst);
        return 0;
    }
    if (list_prepare(dst, src->type, src->count) < 0) return -1;
    if (src->values)
        std::memcpy((*dst)->values, src->values, size_t(src->count) * list_width(src->type));
    return 0;
}
