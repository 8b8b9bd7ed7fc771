// Local replace: the target path always holds the old or the new file, the
// new file keeps the document's permissions, a file held by a writer is not
// replaced, and nothing is left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fileio/fio.h"
#include "test_util.h"

namespace {

size_t entries(const std::string& dir) {
    return size_t(std::distance(std::filesystem::directory_iterator(dir),
                                std::filesystem::directory_iterator{}));
}

std::string text(const std::string& path) {
    auto b = read_file(path);
    return std::string(b.begin(), b.end());
}

class LocalReplace : public ::testing::Test {
protected:
    void SetUp() override {
        target = dir.file("doc.tif");
        source = dir.file("work");
        write_file(target, "old");
        write_file(source, "new content");
    }
    TempDir dir;
    std::string target, source;
};

TEST_F(LocalReplace, SourceTakesTheTargetsPlaceAndPermissions) {
    chmod(target.c_str(), 0640);
    chmod(source.c_str(), 0600);
    ASSERT_EQ(fio_replace(nullptr, target.c_str(), nullptr, source.c_str()), 0);
    EXPECT_EQ(text(target), "new content");
    EXPECT_FALSE(file_exists(source));
    EXPECT_EQ(entries(dir.path()), 1u);  // no backup left
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(LocalReplace, TargetHeldByAWriterIsNotReplaced) {
    int fd = fio_open(nullptr, target.c_str(), kFioModeReadWrite);
    ASSERT_GT(fd, 0);
    errno = 0;
    EXPECT_EQ(fio_replace(nullptr, target.c_str(), nullptr, source.c_str()), -1);
    EXPECT_EQ(errno, TAV_EACCES);
    fio_close(fd);
    EXPECT_EQ(text(target), "old");
    EXPECT_EQ(text(source), "new content");
    EXPECT_EQ(entries(dir.path()), 2u);
}

TEST_F(LocalReplace, FailureLeavesTheTargetAsItWas) {
    // The source cannot be moved in: it does not exist.
    EXPECT_EQ(fio_replace(nullptr, target.c_str(), nullptr, dir.file("none").c_str()), -1);
    EXPECT_EQ(text(target), "old");
    EXPECT_EQ(entries(dir.path()), 2u);
    // No target to replace.
    errno = 0;
    EXPECT_EQ(fio_replace(nullptr, dir.file("none").c_str(), nullptr, source.c_str()), -1);
    EXPECT_EQ(errno, TAV_ENOENT);
    EXPECT_EQ(text(source), "new content");
}

TEST_F(LocalReplace, SourceOnAnotherFileSystem) {
    struct stat here {}, shm {};
    if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &here) != 0 ||
        here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system";
    std::string far = "/dev/shm/qvtav-replace-" + std::to_string(getpid());
    write_file(far, "from afar");
    ASSERT_EQ(fio_replace(nullptr, target.c_str(), nullptr, far.c_str()), 0);
    EXPECT_EQ(text(target), "from afar");
    EXPECT_FALSE(file_exists(far));
    EXPECT_EQ(entries(dir.path()), 2u);  // the target and the untouched "work"
}

TEST_F(LocalReplace, ReplaceThroughTheExport) {
    uint32_t err = 5;
    PathBuf t(target), s(source);
    EXPECT_EQ(xifsreplace(nullptr, t, nullptr, s, &err), 0);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(text(target), "new content");
}

// Each version is a whole file of one repeated byte; a torn or missing
// target would show as a short file or mixed bytes.
constexpr size_t kVersionSize = 256 * 1024;

TEST_F(LocalReplace, KilledReplaceLeavesOldOrNewContent) {
    write_file(target, std::vector<uint8_t>(kVersionSize, 0));
    std::mt19937 rng(12345);
    uint8_t lastSeen = 0;
    int gaps = 0;
    for (int round = 0; round < 25; ++round) {
        pid_t pid = fork();
        if (pid == 0) {
            std::string src = dir.file("src");
            for (unsigned v = 1;; ++v) {
                unlink(src.c_str());
                write_file(src, std::vector<uint8_t>(kVersionSize, uint8_t(v % 250 + 1)));
                fio_replace(nullptr, target.c_str(), nullptr, src.c_str());
            }
        }
        // Until the kill, the target must never be missing or short.
        auto until = std::chrono::steady_clock::now() +
                     std::chrono::microseconds(500 + rng() % 20000);
        while (std::chrono::steady_clock::now() < until) {
            struct stat st {};
            if (stat(target.c_str(), &st) != 0 || size_t(st.st_size) != kVersionSize) ++gaps;
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        auto now = read_file(target);
        ASSERT_EQ(now.size(), kVersionSize) << "round " << round;
        ASSERT_EQ(std::count(now.begin(), now.end(), now[0]), std::ptrdiff_t(kVersionSize))
            << "round " << round;
        lastSeen = now[0];
    }
    EXPECT_EQ(gaps, 0);
    EXPECT_NE(lastSeen, 0);  // the children did replace
}

}  // namespace
