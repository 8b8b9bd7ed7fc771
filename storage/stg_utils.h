// The library's layer over the platform's structured storage: narrow names
// converted to wide ones around each call, the access modes in use, the
// storage reference path.
#pragma once

#include <cstdint>

#include "storage/stg_api.h"

// Status of a conversion whose result did not fit (the platform's
// ERROR_INSUFFICIENT_BUFFER).
constexpr uint32_t kWideConversionFailed = 122;

// A wide copy of an element name in a zero-filled block of 2 * (length + 1)
// bytes; a null name gives a null copy. A name that is UTF-8 is converted as
// such; any other is read as Windows-1252, the code page in which Windows
// fax programs store names (the byte 0xFC of "Fax\xFC" is U+00FC). 0, 12
// without memory, or kWideConversionFailed.
uint32_t to_wide(const char* name, char16_t** wide);
// Frees the copy (when there is one) and sets the pointer to null.
void free_wide(char16_t** wide);

uint32_t stg_open_storage(StgStorage* parent, const char* name, uint32_t mode, StgStorage** out);
uint32_t stg_open_stream(StgStorage* parent, const char* name, uint32_t mode, StgStream** out);
uint32_t stg_create_storage(StgStorage* parent, const char* name, uint32_t mode, StgStorage** out);
uint32_t stg_create_stream(StgStorage* parent, const char* name, uint32_t mode, StgStream** out);
uint32_t stg_destroy(StgStorage* parent, const char* name);
uint32_t stg_rename(StgStorage* parent, const char* oldName, const char* newName);
uint32_t stg_is_storage_file(const char* path);
uint32_t stg_open_root(const char* path, uint32_t mode, StgStorage** out);
uint32_t stg_create_root(const char* path, StgStorage** out);

// The storage reference path: the prefix, a backslash and an address in
// lower-case hexadecimal. parse_hex reads the digits 0-9 and a-f, skipping
// every other character.
uintptr_t parse_hex(const char* text);
// The prefix test of IsStorage and the reference path: a backslash after
// the first character, and the prefix at the start.
bool stg_reference_prefix(const char* path);
// Whether path is a storage reference whose hexadecimal text round-trips;
// *value gets the number (which may be 0).
bool stg_reference_text(const char* path, uintptr_t* value);
// The live storage object a storage reference path names, else null (a
// value that is no live engine storage is never dereferenced).
StgStorage* stg_storage_reference(const char* path);

// Structured storage, and with it AWD documents, is there when the platform
// identifier read at process attach is 1.
constexpr uint32_t kStgPlatformId = 1;
bool stg_supported();

// CopyStorage without structured storage, or from a path that is no
// storage reference.
constexpr uint32_t kCopyStorageRefused = 0xFFFFFFFF;
// What IsStorage and CopyStorage do (storage/stg_exports.cpp).
uint32_t stg_is_storage(const char* path);
uint32_t stg_copy_storage(const char* source, const char* destination, uint32_t overwrite);
