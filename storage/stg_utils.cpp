// Structured storage with narrow names: each wrapper converts its names,
// makes one platform call and frees the wide copies, returning the
// platform's status (or the conversion's, the call then not being made).
// Also the storage reference path and the exports IsStorage and
// CopyStorage.
#include "storage/stg_utils.h"

#include <cstring>

#include "fileio/fio.h"
#include "platform/plat_memory.h"
#include "platform/plat_text.h"
#include "platform/plat_version.h"

namespace {

constexpr char kReferencePrefix[] = "texo:\\inboxawd\\fakefile";
constexpr size_t kReferencePrefixLength = sizeof kReferencePrefix - 1;  // 23
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned kHexBits = 4;

// Wide copies of up to two names, freed when the call is over.
struct WideNames {
    char16_t* first = nullptr;
    char16_t* second = nullptr;
    ~WideNames() {
        free_wide(&first);
        free_wide(&second);
    }
};

// The lower-case hexadecimal text of value, without leading zeros.
void format_hex(uintptr_t value, char* out) {
    char digits[2 * sizeof value + 1];
    size_t n = 0;
    do {
        digits[n++] = kHexDigits[value & 0xF];
        value >>= kHexBits;
    } while (value);
    for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    out[n] = 0;
}


// Windows-1252 for the bytes 0x80 to 0x9F; the five bytes it leaves
// undefined stand for the control characters of the same number, as the
// platform's conversion has them. Every other byte is its own code point.
constexpr char16_t kCp1252Low = 0x80;
constexpr char16_t kCp1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or code points beyond U+10FFFF).
bool valid_utf8(const unsigned char* s) {
    while (*s) {
        unsigned c = *s++;
        if (c < 0x80) continue;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (more < 0 || c < 0xC2 || c > 0xF4) return false;
        uint32_t cp = c & (0x3Fu >> more);
        for (int i = 0; i < more; ++i, ++s) {
            if ((*s & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (*s & 0x3Fu);
        }
        if ((more == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
    }
    return true;
}

void cp1252_to_utf16(const char* name, char16_t* out) {
    for (const auto* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
        *out++ = *p >= kCp1252Low && *p < kCp1252Low + 32 ? kCp1252[*p - kCp1252Low] : char16_t(*p);
    *out = 0;
}

// A wide copy of a narrow text; names that are not UTF-8 are read as
// Windows-1252 when `names` is set (paths are the file system's, UTF-8).
uint32_t widen(const char* text, char16_t** wide, bool names) {
    *wide = nullptr;
    if (!text) return 0;
    size_t length = std::strlen(text) + 1;
    auto* block = static_cast<char16_t*>(plat_alloc(2 * length));
    if (!block) return TAV_ENOMEM;
    if (names && !valid_utf8(reinterpret_cast<const unsigned char*>(text))) {
        cp1252_to_utf16(text, block);
    } else if (plat_utf8_to_utf16(text, length, block, length) == 0) {
        plat_free(block);
        return kWideConversionFailed;
    }
    *wide = block;
    return 0;
}

}  // namespace

uint32_t to_wide(const char* name, char16_t** wide) { return widen(name, wide, true); }

void free_wide(char16_t** wide) {
    if (*wide) plat_free(*wide);
    *wide = nullptr;
}

uint32_t stg_open_storage(StgStorage* parent, const char* name, uint32_t mode, StgStorage** out) {
    WideNames w;
    if (uint32_t rc = to_wide(name, &w.first)) return rc;
    return parent->ops->OpenStorage(parent, w.first, nullptr, mode, nullptr, 0, out);
}

uint32_t stg_open_stream(StgStorage* parent, const char* name, uint32_t mode, StgStream** out) {
    WideNames w;
    if (uint32_t rc = to_wide(name, &w.first)) return rc;
    return parent->ops->OpenStream(parent, w.first, nullptr, mode, 0, out);
}

uint32_t stg_create_storage(StgStorage* parent, const char* name, uint32_t mode, StgStorage** out) {
    WideNames w;
    if (uint32_t rc = to_wide(name, &w.first)) return rc;
    return parent->ops->CreateStorage(parent, w.first, mode, 0, 0, out);
}

uint32_t stg_create_stream(StgStorage* parent, const char* name, uint32_t mode, StgStream** out) {
    WideNames w;
    if (uint32_t rc = to_wide(name, &w.first)) return rc;
    return parent->ops->CreateStream(parent, w.first, mode, 0, 0, out);
}

uint32_t stg_destroy(StgStorage* parent, const char* name) {
    WideNames w;
    if (uint32_t rc = to_wide(name, &w.first)) return rc;
    return parent->ops->DestroyElement(parent, w.first);
}

uint32_t stg_rename(StgStorage* parent, const char* oldName, const char* newName) {
    WideNames w;
    if (uint32_t rc = to_wide(oldName, &w.first)) return rc;
    if (uint32_t rc = to_wide(newName, &w.second)) return rc;
    return parent->ops->RenameElement(parent, w.first, w.second);
}

uint32_t stg_is_storage_file(const char* path) {
    WideNames w;
    if (uint32_t rc = widen(path, &w.first, false)) return rc;
    return StgIsStorageFile(w.first);
}

uint32_t stg_open_root(const char* path, uint32_t mode, StgStorage** out) {
    WideNames w;
    if (uint32_t rc = widen(path, &w.first, false)) return rc;
    return StgOpenStorage(w.first, nullptr, mode, nullptr, 0, out);
}

uint32_t stg_create_root(const char* path, StgStorage** out) {
    WideNames w;
    if (uint32_t rc = widen(path, &w.first, false)) return rc;
    return StgCreateDocfile(w.first, kStgModeCreate, 0, out);
}

bool stg_reference_prefix(const char* path) {
    return path && path[0] && std::strchr(path + 1, '\\') &&
           std::strncmp(path, kReferencePrefix, kReferencePrefixLength) == 0;
}

uintptr_t parse_hex(const char* text) {
    uintptr_t value = 0;
    for (; *text; ++text) {
        char c = *text;
        if (c >= '0' && c <= '9')
            value = (value << kHexBits) + uintptr_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = (value << kHexBits) + uintptr_t(c - 'a' + 10);
    }
    return value;
}

bool stg_reference_text(const char* path, uintptr_t* value) {
    if (!stg_reference_prefix(path)) return false;
    const char* text = std::strrchr(path + 1, '\\') + 1;
    uintptr_t v = parse_hex(text);
    char back[2 * sizeof v + 1];
    format_hex(v, back);
    if (std::strcmp(back, text) != 0) return false;
    *value = v;
    return true;
}

StgStorage* stg_storage_reference(const char* path) {
    uintptr_t value = 0;
    if (!stg_reference_text(path, &value) || value == 0) return nullptr;
    return stg_live_storage(value);
}

bool stg_supported() { return g_osVersion.platformId == kStgPlatformId; }
