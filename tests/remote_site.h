// The remote tests' server, either back end of the remote-access library:
// a directory of this machine named by its path, or the same directory
// reached through sshd (the fixture's Host alias, absolute paths). Suites
// parameterised over RemoteBackend run their cases against both.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qvtav.h"
#include "sshd_fixture.h"
#include "test_util.h"

enum class RemoteBackend { Directory, Sshd };

inline std::string remote_backend_name(const ::testing::TestParamInfo<RemoteBackend>& info) {
    return info.param == RemoteBackend::Sshd ? "Sshd" : "Directory";
}

#define INSTANTIATE_REMOTE_SUITE(suite)                                                              \
    INSTANTIATE_TEST_SUITE_P(BothBackEnds, suite,                                                    \
                             ::testing::Values(RemoteBackend::Directory, RemoteBackend::Sshd),       \
                             remote_backend_name)

class RemoteSite {
public:
    // Serves `dir`; ready() is false when the back end cannot be had (sshd
    // missing), and the test skips.
    RemoteSite(RemoteBackend backend, const std::string& dir) : dir_(dir) {
        loc.isRemote = 1;
        if (backend == RemoteBackend::Sshd) {
            ssh_ = true;
            ready_ = SshdServer::shared() != nullptr;
            std::snprintf(loc.server, sizeof loc.server, "%s", SshdServer::kAlias);
        } else {
            std::snprintf(loc.server, sizeof loc.server, "%s", dir.c_str());
        }
    }
    bool ready() const { return ready_; }
    bool ssh() const { return ssh_; }
    // The path the library is given for a file of the served directory.
    std::string remote(const std::string& name) const { return ssh_ ? dir_ + "/" + name : name; }
    // The file on this machine that a remote path names.
    std::string local(const std::string& remotePath) const {
        return ssh_ ? remotePath : dir_ + "/" + remotePath;
    }

    FileLocation loc{};

private:
    std::string dir_;
    bool ssh_ = false;
    bool ready_ = true;
};

#define SKIP_UNLESS_READY(site) \
    if (!(site).ready()) GTEST_SKIP() << "sshd is not available"
