// The two back ends of libqvrpc400.so behind one interface: a directory of
// this machine (a server name that is an absolute path) and an SSH server
// reached over SFTP (any other server name).
//
// Every operation answers an Outcome: success, a server code, or a request
// that did not reach the server (the transport flag of the entry points).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/plat_remote.h"

namespace qvrpc {

// The server refuses the login (no key of ours accepted): reported as the
// library's code for a refused access, 13.
constexpr int32_t kRpcLoginRefused = 13;

struct Outcome {
    int32_t code = 0;        // 0 or a server code
    bool transport = false;  // the request did not reach the server

    static Outcome server(int32_t c) { return {c, false}; }
    static Outcome dropped() { return {0, true}; }
    bool failed() const { return code != 0 || transport; }
};

// What RPCIFSstatobject reports: the size and two values that change when
// the file changes.
struct ObjectStatus {
    uint64_t size = 0;
    uint32_t value2 = 0;
    uint32_t value3 = 0;
    uint32_t mtime = 0;  // seconds, for RPCIFSGetTimeStamp
};

struct VolumeStatus {
    uint64_t blockSize = 0;
    uint64_t freeBlocks = 0;
    uint64_t totalBlocks = 0;
};

// An open file. One thread uses it at a time.
class RemoteFile {
public:
    virtual ~RemoteFile() = default;
    // Up to count bytes at the file's position into buf; *got receives the
    // number delivered (fewer only at the end of the file).
    virtual Outcome read(void* buf, uint32_t count, uint32_t* got) = 0;
    virtual Outcome write(const void* buf, uint32_t count) = 0;
    // origin 0 start, 1 current, 2 end; the position never goes below 0.
    virtual Outcome setpos(int64_t offset, uint32_t origin) = 0;
    virtual Outcome getpos(uint64_t* pos) = 0;
    // Sends what is pending and closes; the object is not used afterwards.
    virtual Outcome close() = 0;
};

// An open directory listing.
class RemoteDir {
public:
    virtual ~RemoteDir() = default;
    // The next name, or kRpcNotFound after the last.
    virtual Outcome next(std::string* name) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    // mode bit 0 or 1: the file must be writable.
    virtual Outcome access(const std::string& path, uint32_t mode) = 0;
    virtual Outcome stat(const std::string& path, ObjectStatus* st) = 0;
    // mode & 3: 0 read, 1 write, 2 read and write. Directories are refused.
    virtual Outcome open(const std::string& path, uint32_t mode,
                         std::unique_ptr<RemoteFile>* file) = 0;
    // A new file, read and write; an existing path is refused (kRpcExists).
    virtual Outcome create(const std::string& path, std::unique_ptr<RemoteFile>* file) = 0;
    // A new file holding a copy of another; the destination must not exist.
    virtual Outcome copy(const std::string& from, const std::string& to) = 0;
    virtual Outcome remove(const std::string& path) = 0;
    // Refuses an existing destination.
    virtual Outcome rename(const std::string& from, const std::string& to) = 0;
    virtual Outcome mkdir(const std::string& path) = 0;
    virtual Outcome rmdir(const std::string& path) = 0;
    // An empty path lists the server's own directory.
    virtual Outcome opendir(const std::string& path, std::unique_ptr<RemoteDir>* dir) = 0;
    virtual Outcome statvolume(VolumeStatus* vs) = 0;
};

// The back end that serves a server name for a connection number; null for
// an empty name.
std::unique_ptr<Backend> backend_for(const char* server, uint32_t connection);

// The directory back end (dir_backend.cpp).
std::unique_ptr<Backend> directory_backend(const std::string& directory);
// The SSH back end (ssh_backend.cpp): one shared session per server name
// and connection number.
std::unique_ptr<Backend> ssh_backend(const std::string& server, uint32_t connection);
// Closes every SSH session (at unload).
void ssh_close_all();
// Closes every open file and listing of either back end, then every SSH
// session.
void close_everything();

}  // namespace qvrpc
