// What a real SSH server refuses, and a server that goes down: an unknown
// host key and a key the server does not take refuse the call and leave
// the remote file alone; an unreachable or silent server fails with 254
// within the connect timeout; sshd stopped in the middle of a page read or
// of an append session fails the call with 254, and once it is back the
// document opens with every page it had.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "block_test_util.h"
#include "edit_tiff_util.h"
#include "page_test_util.h"
#include "remote_site.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

FileLocation remote() {
    FileLocation loc{};
    loc.isRemote = 1;
    return loc;
}

class SshdFailures : public ::testing::Test {
protected:
    void SetUp() override {
        server = SshdServer::shared();
        if (!server) GTEST_SKIP() << "sshd is not available";
        ASSERT_TRUE(server->start());
        use(SshdServer::kAlias);
    }
    void TearDown() override {
        if (server) server->start();  // the next test finds it running
    }
    void use(const std::string& name) { std::snprintf(loc.server, sizeof loc.server, "%s", name.c_str()); }
    std::string path(const std::string& name) const { return served.file(name); }
    // The code of an xtavopen (0 when it opened; the handle is closed).
    uint32_t open_code(const std::string& name, uint32_t flags = 0) {
        OpenedFile f(path(name), flags, &loc);
        return f.ok() ? 0 : f.error;
    }
    std::vector<uint8_t> put_tiff(const std::string& name, int pages, int strips, uint32_t stripSize) {
        auto bytes = edit_test::build_tiff(edit_test::numbered_pages(pages, strips, stripSize), false, 0, true);
        write_file(path(name), bytes);
        return bytes;
    }

    SshdServer* server = nullptr;
    FileLocation loc = remote();
    TempDir served, temp;
    TempDirOverride libraryTemp{temp.path()};
};

// Nothing reaches a server whose key is not in the known-hosts files: the
// open, the create and a page deletion are refused and the file stays.
TEST_F(SshdFailures, UnknownHostKeyIsRefused) {
    const auto original = put_tiff("doc.tif", 3, 1, 500);
    use(SshdServer::kUnknownKeyAlias);
    EXPECT_EQ(open_code("doc.tif"), uint32_t(TAV_EFAULT));
    uint32_t type = FILETYPE_TIFF, err = 0;
    EXPECT_LT(xtavcreat(&loc, PathBuf(path("new.tif")), &type, &err), 0);
    EXPECT_EQ(err, uint32_t(TAV_EFAULT));
    EXPECT_FALSE(file_exists(path("new.tif")));
    EXPECT_EQ(xtavdelpgs(&loc, PathBuf(path("doc.tif")), 1, 1, &err), -1);
    EXPECT_EQ(read_file(path("doc.tif")), original);
}

TEST_F(SshdFailures, KeyTheServerDoesNotTakeIsAnAccessRefused) {
    put_tiff("doc.tif", 1, 1, 500);
    use(SshdServer::kWrongKeyAlias);
    EXPECT_EQ(open_code("doc.tif"), uint32_t(TAV_EACCES));
}

// A server name is a Host alias or [user@]host[:port]; one that cannot be
// an SSH destination is a bad server.
TEST_F(SshdFailures, ServerNames) {
    put_tiff("doc.tif", 1, 1, 500);
    struct passwd* pw = getpwuid(geteuid());
    ASSERT_NE(pw, nullptr);
    const std::string user = pw->pw_name, port = std::to_string(server->port());
    for (const std::string& name : {std::string(SshdServer::kAlias), user + "@" + SshdServer::kAlias,
                                    "127.0.0.1:" + port, user + "@127.0.0.1:" + port,
                                    "[127.0.0.1]:" + port}) {
        use(name);
        EXPECT_EQ(open_code("doc.tif"), 0u) << name;
    }
    for (const std::string& name : {std::string(SshdServer::kAlias) + ":", std::string("127.0.0.1:99999"),
                                    std::string("127.0.0.1:12ab"), "@" + std::string(SshdServer::kAlias)}) {
        use(name);
        EXPECT_EQ(open_code("doc.tif"), uint32_t(TAV_EFAULT)) << name;
    }
}

TEST_F(SshdFailures, UnreachableServerFailsWithinTheTimeout) {
    for (const char* alias : {SshdServer::kClosedAlias, SshdServer::kSilentAlias}) {
        use(alias);
        auto start = Clock::now();
        EXPECT_EQ(open_code("doc.tif"), uint32_t(TAV_E_TRANSPORT)) << alias;
        EXPECT_LT(seconds_since(start), SshdServer::kConnectTimeout + 2.0) << alias;
    }
}

// Paths the server refuses: a directory opened as a file, a file in a
// directory that does not exist, and (for a user the permissions bind) a
// file the user may not read.
TEST_F(SshdFailures, RefusedPaths) {
    std::filesystem::create_directory(path("sub"));
    EXPECT_EQ(open_code("sub"), uint32_t(TAV_EFAULT));
    uint32_t type = FILETYPE_TIFF, err = 0;
    EXPECT_LT(xtavcreat(&loc, PathBuf(path("missing/new.tif")), &type, &err), 0);
    EXPECT_EQ(err, uint32_t(TAV_EFAULT));
    EXPECT_EQ(open_code("absent.tif"), uint32_t(TAV_ENOENT));
    if (geteuid() != 0) {
        put_tiff("locked.tif", 1, 1, 100);
        chmod(path("locked.tif").c_str(), 0);
        EXPECT_EQ(open_code("locked.tif"), uint32_t(TAV_EFAULT));
    }
}

// sshd goes down while a page is being read: a call fails with 254 within
// the timeout (read-ahead may still deliver what had arrived), and once the
// server is back the document reads whole.
TEST_F(SshdFailures, StoppedInTheMiddleOfAPageRead) {
    put_tiff("doc.tif", 4, 4, 100000);
    OpenedFile f(path("doc.tif"), 0, &loc);
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.info(1), 0u);
    std::vector<uint8_t> buf(50000);
    uint32_t left = 0, err = 0;
    ASSERT_EQ(f.read(buf.data(), 0, 50000, &left, 1, &err), 50000) << err;
    server->stop();
    auto stopped = Clock::now();
    uint32_t failure = 0;
    for (uint16_t p = 1; p <= 4 && !failure; ++p) {
        if ((failure = f.info(p)) != 0) break;
        f.stream(p, f.ps.dataBytes, 31744, &failure);
    }
    EXPECT_EQ(failure, uint32_t(TAV_E_TRANSPORT));
    EXPECT_LT(seconds_since(stopped), SshdServer::kConnectTimeout + 2.0);
    ASSERT_TRUE(server->start());
    OpenedFile again(path("doc.tif"), 0, &loc);
    ASSERT_TRUE(again.ok()) << again.error;
    EXPECT_EQ(again.pages, 4u);
    for (uint16_t p = 1; p <= 4; ++p) {
        ASSERT_EQ(again.info(p), 0u);
        auto data = again.stream(p, again.ps.dataBytes, 31744, &err);
        EXPECT_EQ(err, 0u) << p;
        EXPECT_EQ(data.size(), 400000u) << p;
    }
}

// sshd goes down during an append: the writes or the close fail with 254,
// and the document still opens with every page it had, as it had them.
TEST_F(SshdFailures, StoppedInTheMiddleOfAnAppendSession) {
    put_tiff("doc.tif", 3, 2, 20000);
    std::vector<std::vector<uint8_t>> before;
    {
        OpenedFile f(path("doc.tif"), 0, &loc);
        ASSERT_TRUE(f.ok());
        for (uint16_t p = 1; p <= 3; ++p) {
            uint32_t err = 0;
            ASSERT_EQ(f.info(p), 0u);
            before.push_back(f.stream(p, f.ps.dataBytes, 31744, &err));
        }
    }
    bt::Handle u;
    u.loc = loc;
    ASSERT_EQ(u.open(path("doc.tif"), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
    PageInfo info = bt::page(64, 32);
    ASSERT_EQ(u.put(4, info), 0u);
    auto piece = bt::data(300000, 4);
    ASSERT_EQ(u.write(4, piece, 0), 0u);
    server->stop();
    auto stopped = Clock::now();
    uint32_t failure = u.write(4, piece, 0);
    if (!failure) failure = u.write(4, piece, 1);
    if (!failure) failure = u.close();
    EXPECT_EQ(failure, uint32_t(TAV_E_TRANSPORT));
    EXPECT_LT(seconds_since(stopped), SshdServer::kConnectTimeout + 2.0);
    if (u.h > 0) xtavabort(&u.h, &u.err);
    u.h = 0;
    ASSERT_TRUE(server->start());
    OpenedFile again(path("doc.tif"), 0, &loc);
    ASSERT_TRUE(again.ok()) << again.error;
    EXPECT_EQ(again.pages, 3u);
    for (uint16_t p = 1; p <= 3; ++p) {
        uint32_t err = 0;
        ASSERT_EQ(again.info(p), 0u);
        EXPECT_EQ(again.stream(p, again.ps.dataBytes, 31744, &err), before[p - 1u]) << p;
    }
}

// The tool with --server naming the Host alias: info, copy onto the server
// and delete there; an unknown host key fails the command.
TEST_F(SshdFailures, ToolWorksWithAnSshServer) {
    const std::string tool = std::string(QVTAV_OUT_DIR) + "/qvtav";
    if (!file_exists(tool)) GTEST_SKIP() << "the tool is not built";
    put_tiff("doc.tif", 3, 1, 500);
    const std::string out = temp.file("out.txt");
    auto qvtav = [&](const std::string& server, const std::string& args) {
        return run_command(tool + " --server " + server + " " + args + " >" + out + " 2>&1");
    };
    ASSERT_EQ(qvtav(SshdServer::kAlias, "info " + path("doc.tif")), 0);
    auto text = read_file(out);
    EXPECT_NE(std::string(text.begin(), text.end()).find("3 pages"), std::string::npos);
    ASSERT_EQ(qvtav(SshdServer::kAlias, "copy " + path("doc.tif") + ":3,1 -o " + path("two.tif")), 0);
    ASSERT_EQ(qvtav(SshdServer::kAlias, "delete " + path("doc.tif") + " 2"), 0);
    OpenedFile two(path("two.tif")), doc(path("doc.tif"));
    EXPECT_EQ(two.pages, 2u);
    EXPECT_EQ(doc.pages, 2u);
    EXPECT_NE(qvtav(SshdServer::kUnknownKeyAlias, "info " + path("doc.tif")), 0);
}

}  // namespace
