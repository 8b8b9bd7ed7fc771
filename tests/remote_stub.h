// Test access to the remote-access library's controls and a remote
// location served from a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/plat_loader.h"
#include "platform/plat_remote.h"
#include "qvtav.h"
#include "test_util.h"

// The controls, looked up in the same library the file layer bound.
struct RemoteStub {
    void (*reset)() = nullptr;
    uint32_t (*count)(const char*) = nullptr;
    uint64_t (*bytes)(const char*) = nullptr;
    uint32_t (*size)(const char*, uint32_t) = nullptr;
    void (*fail)(const char*, uint32_t, uint32_t, uint32_t) = nullptr;

    bool load() {
        if (!plat_remote_bind()) return false;
        void* m = plat_remote_module();
        reset = reinterpret_cast<void (*)()>(plat_symbol(m, "RPCSTUBreset"));
        count = reinterpret_cast<uint32_t (*)(const char*)>(plat_symbol(m, "RPCSTUBcount"));
        bytes = reinterpret_cast<uint64_t (*)(const char*)>(plat_symbol(m, "RPCSTUBbytes"));
        size = reinterpret_cast<uint32_t (*)(const char*, uint32_t)>(plat_symbol(m, "RPCSTUBsize"));
        fail = reinterpret_cast<void (*)(const char*, uint32_t, uint32_t, uint32_t)>(
            plat_symbol(m, "RPCSTUBfail"));
        return reset && count && bytes && size && fail;
    }
};

// A remote location whose server is a fresh directory.
class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(stub.load()) << "libqvrpc400.so with its controls is needed";
        stub.reset();
        std::memset(&loc, 0, sizeof loc);
        loc.isRemote = 1;
        std::snprintf(loc.server, sizeof loc.server, "%s", server.path().c_str());
    }
    void TearDown() override { stub.reset(); }

    // Path of a served file as the server's file system sees it.
    std::string local(const std::string& name) const { return server.file(name); }

    TempDir server;
    FileLocation loc{};
    RemoteStub stub;
};
