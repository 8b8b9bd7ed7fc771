// A real OpenSSH server for the remote tests: sshd on 127.0.0.1 on a free
// port, with a generated host key, a generated user key in authorized_keys,
// a known_hosts file and a client configuration with Host aliases, all in a
// temporary directory. QVRPC_SSH_CONFIG names that configuration for the
// test process. Stopped (with every session process it forked) at exit.
#pragma once

#include <sys/types.h>

#include <string>

#include "test_util.h"

class SshdServer {
public:
    // The alias that reaches the server with the user key.
    static constexpr const char* kAlias = "qvtav-sshd";
    // The same server, with a known_hosts file that does not list its key.
    static constexpr const char* kUnknownKeyAlias = "qvtav-unknown-key";
    // The same server, logging in with a key authorized_keys does not hold.
    static constexpr const char* kWrongKeyAlias = "qvtav-wrong-key";
    // A port on 127.0.0.1 that accepts connections and never answers.
    static constexpr const char* kSilentAlias = "qvtav-silent";
    // A port on 127.0.0.1 where nothing listens.
    static constexpr const char* kClosedAlias = "qvtav-closed";
    // The client configuration's connect timeout, in seconds.
    static constexpr int kConnectTimeout = 3;

    // The process's server, started at first use; null (after a test
    // failure where oracles are required) when sshd or ssh-keygen is
    // missing or the server does not come up.
    static SshdServer* shared();

    ~SshdServer();
    SshdServer(const SshdServer&) = delete;
    SshdServer& operator=(const SshdServer&) = delete;

    int port() const { return port_; }
    // The client configuration and the directory holding the fixture's files.
    const std::string& config() const { return config_; }
    const std::string& dir() const { return dir_; }
    // Stops sshd and every session it serves, as a server that goes down.
    void stop();
    // Starts it again on the same port; false when it does not come up.
    bool start();

private:
    SshdServer();
    bool prepare();
    bool launch();
    void write_client_config(int silentPort, int closedPort);

    std::string dir_;  // under /tmp, whatever TMPDIR a test sets
    std::string config_;
    int port_ = 0;
    pid_t pid_ = -1;
    int silentSocket_ = -1;  // listening, never answering
    int closedSocket_ = -1;  // bound, not listening: connections refused
};
