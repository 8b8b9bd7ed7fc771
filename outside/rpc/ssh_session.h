// SSH sessions of the remote-access library: server names, the OpenSSH
// client configuration, known host keys, public-key login, and one shared
// session with its SFTP channel per server name and connection number.
#pragma once

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "outside/rpc/rpc_backend.h"

namespace qvrpc {

// An SSH server name: [user@]host[:port], [user@][address]:port, or a Host
// alias of the client configuration. Empty user and port 0 mean "as the
// configuration says".
struct SshTarget {
    std::string user;
    std::string host;
    int port = 0;
};
// False for a name that cannot be an SSH destination.
bool parse_server_name(const std::string& name, SshTarget* out);

// The environment variable naming the client configuration to read
// instead of ~/.ssh/config and the system-wide one.
constexpr const char* kSshConfigVariable = "QVRPC_SSH_CONFIG";
// Connecting gives up after this many seconds unless the configuration's
// ConnectTimeout says otherwise; the same bound holds for every reply.
constexpr long kDefaultConnectTimeout = 10;

// A file with read requests outstanding on a session.
class ReadAhead {
public:
    // Collects the file's outstanding replies and drops them.
    virtual void settle() = 0;

protected:
    ~ReadAhead() = default;
};

// One SSH session and its SFTP channel. It is used only under the lock of
// its connection, and lives until the last file opened on it is closed.
class SshSession {
public:
    SshSession() = default;
    ~SshSession();
    SshSession(const SshSession&) = delete;
    SshSession& operator=(const SshSession&) = delete;

    // A forked child never uses (nor closes) its parent's sessions: their
    // state is the parent's.
    bool inherited() const;
    // Before a request goes out on the session, every other file collects
    // the replies to its read-ahead: libssh 0.10 does not find a reply
    // again that arrived while a request of another file waited for its
    // own, and the caller would wait for it forever.
    void settle_others(const ReadAhead* self);

    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    pid_t owner = 0;              // the process that made it
    bool broken = false;          // a request failed in transit: never used again
    uint32_t writeLimit = 32768;  // the most bytes one write request carries
    std::set<ReadAhead*> reading;  // files with read requests outstanding
};

// A server name and connection number.
class SshConnection {
public:
    explicit SshConnection(std::string name) : name_(std::move(name)) {}

    // Held around every use of this connection's sessions.
    std::mutex lock;

    // The current session; connects when there is none or the last one
    // broke. The caller holds the lock.
    Outcome session(std::shared_ptr<SshSession>* out);
    // What a failed SFTP call on s comes to: a transport failure (and s is
    // broken) when the connection is gone, else the server's status as a
    // server code, fallback for a status without a code of its own.
    Outcome failure(SshSession& s, int32_t fallback);
    // Forgets the current session (files still open on it keep it alive).
    void drop();

private:
    std::string name_;
    std::shared_ptr<SshSession> current_;
    // A connect that ran into its timeout is not tried again before this
    // time: the calls that follow it (an open asks for the file's status
    // next) fail at once instead of waiting as long again.
    std::chrono::steady_clock::time_point quietUntil_{};
    Outcome lastFailure_;
};

// The shared connection of a server name and connection number.
std::shared_ptr<SshConnection> ssh_connection(const std::string& server, uint32_t number);

}  // namespace qvrpc
