// Replacing remote files: the backup step, the cached local copy that
// serves read-only opens while the remote file is unchanged, and the
// deletion of that copy when the library is unloaded.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "fileio/fio.h"
#include "remote_stub.h"

namespace {

std::string text(const std::string& path) {
    auto b = read_file(path);
    return std::string(b.begin(), b.end());
}

size_t entries(const std::string& dir) {
    return size_t(std::distance(std::filesystem::directory_iterator(dir),
                                std::filesystem::directory_iterator{}));
}

class RemoteReplace : public RemoteTest {
protected:
    void TearDown() override {
        fio_drop_cached_copy();
        RemoteTest::TearDown();
    }
    TempDir here;
};

TEST_F(RemoteReplace, LocalCopyServesReadOnlyOpensUntilTheRemoteFileChanges) {
    write_file(local("doc.bin"), "old");
    std::string copy = here.file("copy.bin");
    write_file(copy, "new content");
    ASSERT_EQ(fio_replace(&loc, "doc.bin", nullptr, copy.c_str()), 0);
    EXPECT_EQ(text(local("doc.bin")), "new content");
    EXPECT_TRUE(file_exists(copy));  // kept as the cached copy
    EXPECT_EQ(entries(server.path()), 1u);

    stub.reset();
    int fd = fio_open(&loc, "doc.bin", 0);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(fio_is_remote(fd), 0);
    EXPECT_EQ(stub.count("RPCIFSopen"), 0u);
    char buf[32] = {};
    EXPECT_EQ(fio_read(fd, buf, sizeof buf), 11);
    EXPECT_STREQ(buf, "new content");
    fio_close(fd);
    // Opens for writing go to the server.
    fd = fio_open(&loc, "doc.bin", kFioModeReadWrite);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(fio_is_remote(fd), 1);
    fio_close(fd);

    // Once the remote file changed, the copy is stale: dropped and deleted.
    write_file(local("doc.bin"), "changed elsewhere");
    stub.reset();
    fd = fio_open(&loc, "doc.bin", 0);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(fio_is_remote(fd), 1);
    EXPECT_EQ(stub.count("RPCIFSopen"), 1u);
    fio_close(fd);
    EXPECT_FALSE(file_exists(copy));
}

TEST_F(RemoteReplace, FailedStatusCallDropsTheCopy) {
    write_file(local("doc.bin"), "old");
    std::string copy = here.file("copy.bin");
    write_file(copy, "new");
    stub.fail("RPCIFSstatobject", 1300, 0, 0);
    ASSERT_EQ(fio_replace(&loc, "doc.bin", nullptr, copy.c_str()), 0);
    EXPECT_EQ(text(local("doc.bin")), "new");
    EXPECT_FALSE(file_exists(copy));
}

TEST_F(RemoteReplace, SecondRenameFailingLeavesTheTarget) {
    write_file(local("t.bin"), "old");
    write_file(local("s.bin"), "new");
    stub.fail("RPCIFSrename", 1300, 0, 1);  // the backup works, the move in fails
    errno = 0;
    EXPECT_EQ(fio_replace(&loc, "t.bin", &loc, "s.bin"), -1);
    EXPECT_EQ(errno, 1300);
    EXPECT_EQ(text(local("t.bin")), "old");
    EXPECT_EQ(text(local("s.bin")), "new");
    EXPECT_EQ(entries(server.path()), 2u);

    ASSERT_EQ(fio_replace(&loc, "t.bin", &loc, "s.bin"), 0);
    EXPECT_EQ(text(local("t.bin")), "new");
    EXPECT_EQ(entries(server.path()), 1u);
}

TEST_F(RemoteReplace, RemoteSourceOverLocalTarget) {
    std::string target = here.file("doc.tif");
    write_file(target, "old");
    write_file(local("s.bin"), "from the server");
    ASSERT_EQ(fio_replace(nullptr, target.c_str(), &loc, "s.bin"), 0);
    EXPECT_EQ(text(target), "from the server");
    EXPECT_FALSE(file_exists(local("s.bin")));
    EXPECT_EQ(entries(here.path()), 1u);
}

TEST_F(RemoteReplace, UnloadingTheLibraryDeletesTheCachedCopy) {
    std::string lib = std::string(QVTAV_OUT_DIR) + "/libqvtav400.so";
    if (!file_exists(lib)) GTEST_SKIP() << "shared library not built";
    write_file(local("doc.bin"), "old");
    std::string copy = here.file("copy.bin");
    write_file(copy, "new");
    pid_t pid = fork();
    if (pid == 0) {
        void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) _exit(10);
        using Replace = int32_t (*)(FileLocation*, char*, FileLocation*, char*, uint32_t*);
        auto replace = reinterpret_cast<Replace>(dlsym(h, "xifsreplace"));
        if (!replace) _exit(11);
        uint32_t err = 0;
        PathBuf t("doc.bin"), s(copy);
        if (replace(&loc, t, nullptr, s, &err) != 0) _exit(12);
        if (!file_exists(copy)) _exit(13);
        dlclose(h);
        _exit(file_exists(copy) ? 14 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(text(local("doc.bin")), "new");
    EXPECT_FALSE(file_exists(copy));
}

}  // namespace
