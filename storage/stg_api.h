// The structured-storage service of the platform: compound files holding
// storages and streams, reached through storage, stream and enumerator
// objects. Each object is a C struct whose first member points to a table of
// function pointers (slot order as in the platform's interfaces, leaving out
// the slots nothing here uses), so its layout does not depend on a C++ ABI.
// Names are UTF-16. Every call returns a platform status (qvtav.h's
// TAV_S_* and TAV_STG_E_* values).
//
// Objects work in direct mode: each change is in the file when the call
// returns. Every open is exclusive: an element (or a file) already open in
// the process cannot be opened again (share violation). Across processes a
// file open for reading takes a shared lock and one open for writing an
// exclusive lock, so readers may share a file and a writer shares it with
// nobody.
#pragma once

#include <cstdint>

#include "qvtav.h"

// Access modes (the platform's STGM flags).
constexpr uint32_t kStgmRead = 0x0;
constexpr uint32_t kStgmReadWrite = 0x2;
constexpr uint32_t kStgmShareExclusive = 0x10;
constexpr uint32_t kStgmCreate = 0x1000;
// The three combinations in use.
constexpr uint32_t kStgModeRead = kStgmRead | kStgmShareExclusive;                        // 0x10
constexpr uint32_t kStgModeWrite = kStgmReadWrite | kStgmShareExclusive;                  // 0x12
constexpr uint32_t kStgModeCreate = kStgmCreate | kStgmReadWrite | kStgmShareExclusive;   // 0x1012

// Element types of StatStg.
constexpr uint32_t kStgTypeStorage = 1;
constexpr uint32_t kStgTypeStream = 2;

// Stat flags: with kStatDefault the name is handed out (free it through the
// task allocator), with kStatNoName it is not.
constexpr uint32_t kStatDefault = 0;
constexpr uint32_t kStatNoName = 1;

// Seek origins.
constexpr uint32_t kStgSeekSet = 0;
constexpr uint32_t kStgSeekCur = 1;
constexpr uint32_t kStgSeekEnd = 2;

// The memory context of the task allocator.
constexpr uint32_t kStgTaskMemory = 1;

// The longest element name, in UTF-16 units (without the terminator).
constexpr uint32_t kStgNameMax = 31;

struct StatStg {
    char16_t* name;  // task allocator block, or null
    uint32_t type;
    uint64_t size;  // stream bytes; 0 for a storage
    uint64_t mtime;
    uint64_t ctime;
    uint64_t atime;
    uint32_t mode;  // the access mode of the object (Stat of an open object)
    uint32_t locksSupported;
    uint8_t clsid[16];
    uint32_t stateBits;
    uint32_t reserved;
};

struct StgStorage;
struct StgStream;
struct StgEnum;
struct StgMalloc;

struct StgStreamOps {
    uint32_t (*AddRef)(StgStream* self);
    uint32_t (*Release)(StgStream* self);
    uint32_t (*Read)(StgStream* self, void* buf, uint32_t count, uint32_t* done);
    uint32_t (*Write)(StgStream* self, const void* buf, uint32_t count, uint32_t* done);
    uint32_t (*Seek)(StgStream* self, int64_t move, uint32_t origin, uint64_t* position);
    uint32_t (*SetSize)(StgStream* self, uint64_t size);
    uint32_t (*CopyTo)(StgStream* self, StgStream* to, uint64_t count, uint64_t* read,
                       uint64_t* written);
    uint32_t (*Stat)(StgStream* self, StatStg* out, uint32_t flag);
};
struct StgStream {
    const StgStreamOps* ops;
};

struct StgStorageOps {
    uint32_t (*AddRef)(StgStorage* self);
    uint32_t (*Release)(StgStorage* self);
    uint32_t (*CreateStream)(StgStorage* self, const char16_t* name, uint32_t mode,
                             uint32_t reserved1, uint32_t reserved2, StgStream** out);
    uint32_t (*OpenStream)(StgStorage* self, const char16_t* name, void* reserved1, uint32_t mode,
                           uint32_t reserved2, StgStream** out);
    uint32_t (*CreateStorage)(StgStorage* self, const char16_t* name, uint32_t mode,
                              uint32_t reserved1, uint32_t reserved2, StgStorage** out);
    uint32_t (*OpenStorage)(StgStorage* self, const char16_t* name, StgStorage* priority,
                            uint32_t mode, char16_t** exclude, uint32_t reserved,
                            StgStorage** out);
    // Copies every element (and the class) into dest, replacing streams of
    // the same name and merging storages of the same name. No exclusions
    // are supported (counts and lists must be 0 and null).
    uint32_t (*CopyTo)(StgStorage* self, uint32_t excludeIidCount, const void* excludeIids,
                       char16_t** excludeNames, StgStorage* dest);
    uint32_t (*EnumElements)(StgStorage* self, uint32_t reserved1, void* reserved2,
                             uint32_t reserved3, StgEnum** out);
    uint32_t (*DestroyElement)(StgStorage* self, const char16_t* name);
    uint32_t (*RenameElement)(StgStorage* self, const char16_t* oldName, const char16_t* newName);
    uint32_t (*Stat)(StgStorage* self, StatStg* out, uint32_t flag);
};
struct StgStorage {
    const StgStorageOps* ops;
};

struct StgEnumOps {
    uint32_t (*AddRef)(StgEnum* self);
    uint32_t (*Release)(StgEnum* self);
    // Up to count elements (in the storage's order); S_FALSE when fewer
    // were left.
    uint32_t (*Next)(StgEnum* self, uint32_t count, StatStg* out, uint32_t* fetched);
};
struct StgEnum {
    const StgEnumOps* ops;
};

// The task allocator, which owns the names that Stat and Next hand out.
struct StgMallocOps {
    uint32_t (*AddRef)(StgMalloc* self);
    uint32_t (*Release)(StgMalloc* self);
    void (*Free)(StgMalloc* self, void* block);
};
struct StgMalloc {
    const StgMallocOps* ops;
};

// S_OK when path is a compound file, S_FALSE when it is not.
uint32_t StgIsStorageFile(const char16_t* path);
// Opens a compound file as its root storage (modes 0x10 and 0x12). A
// priority storage, exclusions and the reserved word must be null and 0.
uint32_t StgOpenStorage(const char16_t* path, StgStorage* priority, uint32_t mode,
                        char16_t** exclude, uint32_t reserved, StgStorage** out);
// Creates a compound file (mode 0x1012 replaces an existing file, 0x12
// refuses one with STG_E_FILEALREADYEXISTS).
uint32_t StgCreateDocfile(const char16_t* path, uint32_t mode, uint32_t reserved,
                          StgStorage** out);
// The task allocator for the memory context (kStgTaskMemory).
uint32_t StgGetMalloc(uint32_t context, StgMalloc** out);

// The storage object at address when it is an engine storage object alive
// in this process, else null. The address is never dereferenced to tell.
StgStorage* stg_live_storage(uintptr_t address);

// StgCreateDocfile with a chosen sector shift (9: version 3, 12: version 4),
// for tests of the version 4 layout.
uint32_t stg_create_docfile_shift(const char16_t* path, uint32_t mode, uint16_t sectorShift,
                                  StgStorage** out);
