// The remote-access library libqvrpc400.so: the argument lists of its entry
// points (C calling convention) and the run-time binding of all of them.
//
// Every entry point takes the connection first and reports twice: its
// result (0 success, a positive value a server code) and a last out-flag
// that is set when the request did not reach the server.
#pragma once

#include <cstdint>

// Server codes: the results the remote-access library reports besides 0.
enum RpcServerCode : int32_t {
    kRpcBadPath = 1284,       // bad server or path, or a path leaving the server
    kRpcAccessDenied = 1291,  // the server refuses the access
    kRpcNotFound = 1292,      // no such file
    kRpcExists = 1296,        // the path exists already
    kRpcCannotCreate = 1297,  // the file cannot be made there
    kRpcNoHandles = 1298,     // all handles in use
    kRpcIoError = 1300,       // the file system failed
    kRpcBadHandle = 1301,     // not an open handle
};

extern "C" {
typedef int32_t (*RpcAccessFn)(uint32_t connection, const char* server, const char* path,
                               uint32_t mode, uint32_t* flag);
typedef int32_t (*RpcStatObjectFn)(uint32_t connection, const char* server, const char* path,
                                   uint32_t reserved, uint32_t* size, uint32_t* value2,
                                   uint32_t* value3, uint32_t* flag);
typedef int32_t (*RpcOpenFn)(uint32_t connection, const char* server, uint32_t* remoteId,
                             const char* path, uint32_t mode, int32_t* handle, uint32_t* flag);
typedef int32_t (*RpcReadFn)(uint32_t connection, uint32_t* remoteId, int32_t handle,
                             uint32_t count, void* buffer, uint32_t* bytesRead, uint32_t* flag);
typedef int32_t (*RpcWriteFn)(uint32_t connection, uint32_t* remoteId, int32_t handle,
                              const void* buffer, uint32_t count, uint32_t* flag);
typedef int32_t (*RpcCreateFn)(uint32_t connection, const char* server, uint32_t* remoteId,
                               const char* path, int32_t* handle, uint32_t* flag);
typedef int32_t (*RpcCloseFn)(uint32_t connection, uint32_t* remoteId, int32_t handle,
                              uint32_t* flag);
typedef int32_t (*RpcSetPosFn)(uint32_t connection, uint32_t* remoteId, int32_t handle,
                               int32_t offset, uint32_t origin, uint32_t* flag);
typedef int32_t (*RpcCopyFn)(uint32_t connection, const char* server, const char* source,
                             const char* destination, uint32_t reserved, uint32_t* flag);
typedef int32_t (*RpcRemoveFn)(uint32_t connection, const char* server, const char* path,
                               uint32_t* flag);
typedef int32_t (*RpcRenameFn)(uint32_t connection, const char* server, const char* source,
                               const char* destination, uint32_t* flag);
// Bound but not called by the library.
typedef int32_t (*RpcGetPosFn)(uint32_t connection, uint32_t* remoteId, int32_t handle,
                               uint32_t* position, uint32_t* flag);
typedef int32_t (*RpcTmpNamFn)(uint32_t connection, const char* server, char* name260,
                               uint32_t* flag);
typedef int32_t (*RpcOpenDirFn)(uint32_t connection, const char* server, const char* path,
                                int32_t* dirHandle, uint32_t* flag);
typedef int32_t (*RpcReadDirFn)(uint32_t connection, int32_t dirHandle, char* name260,
                                uint32_t* flag);
typedef int32_t (*RpcCloseDirFn)(uint32_t connection, int32_t dirHandle, uint32_t* flag);
typedef int32_t (*RpcMkDirFn)(uint32_t connection, const char* server, const char* path,
                              uint32_t* flag);
typedef int32_t (*RpcRmDirFn)(uint32_t connection, const char* server, const char* path,
                              uint32_t* flag);
typedef int32_t (*RpcListVolumesFn)(uint32_t connection, char* buffer, uint32_t size,
                                    uint32_t* count, uint32_t* flag);
typedef int32_t (*RpcTestForNetworkFn)(uint32_t connection, uint32_t* flag);
typedef int32_t (*RpcGetTimeStampFn)(uint32_t connection, const char* server, const char* path,
                                     uint32_t* seconds, uint32_t* flag);
typedef int32_t (*RpcGetVolSpaceFn)(uint32_t connection, const char* server, uint32_t* freeKb,
                                    uint32_t* totalKb, uint32_t* flag);
typedef int32_t (*RpcGetUniqueNameFn)(uint32_t connection, const char* server, const char* dir,
                                      char* name260, uint32_t* flag);
typedef int32_t (*RpcStatVolumeFn)(uint32_t connection, const char* server, uint32_t* blockSize,
                                   uint32_t* freeBlocks, uint32_t* totalBlocks, uint32_t* flag);
}

constexpr int kRpcEntryCount = 24;

// The entry points, by the names the library binds.
struct RpcEntries {
    RpcAccessFn access;
    RpcStatObjectFn statobject;
    RpcOpenFn open;
    RpcReadFn read;
    RpcWriteFn write;
    RpcCreateFn create;
    RpcCloseFn close;
    RpcSetPosFn setpos;
    RpcCopyFn copy;
    RpcRemoveFn remove;
    RpcRenameFn rename;
    RpcGetPosFn getpos;
    RpcTmpNamFn tmpnam;
    RpcOpenDirFn opendir;
    RpcReadDirFn readdir;
    RpcCloseDirFn closedir;
    RpcMkDirFn mkdir;
    RpcRmDirFn rmdir;
    RpcListVolumesFn listvolumes;
    RpcTestForNetworkFn testfornetwork;
    RpcGetTimeStampFn gettimestamp;
    RpcGetVolSpaceFn getvolspace;
    RpcGetUniqueNameFn getuniquename;
    RpcStatVolumeFn statvolume;
};

// The file name of the remote-access library.
constexpr const char* kRpcLibraryName = "libqvrpc400.so";

// Binds the library (loading it the first time) and returns its entry
// points; null with errno TAV_E_NO_REMOTE when it cannot be found. Entry points the
// library lacks are null.
const RpcEntries* plat_remote_bind();
// The entry points when the library is already bound, else null; never
// loads anything.
const RpcEntries* plat_remote_bound();
// The module handle of the bound library (tests reach its controls), or null.
void* plat_remote_module();
// Test seam: forget the binding and the fact that this process loaded the
// library, so that the next bind starts afresh.
void plat_remote_forget();
