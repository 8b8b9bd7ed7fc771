// Local descriptors (the table, seeking, the read cache, writer locks,
// creation, copy, rename, path limits) and the local replace.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fileio/fio.h"
#include "stepped_child.h"
#include "test_util.h"

namespace {

std::vector<uint8_t> bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 13 + 5);
    return v;
}

// A second file system for moves that cannot rename, or "" when none.
std::string far_path(const std::string& here, const char* name) {
    struct stat a {}, b {};
    if (stat("/dev/shm", &b) != 0 || stat(here.c_str(), &a) != 0 || a.st_dev == b.st_dev) return "";
    return "/dev/shm/qvtav-" + std::string(name) + std::to_string(getpid());
}

class LocalIo : public ::testing::Test {
protected:
    void SetUp() override { close_all(); }
    void TearDown() override { close_all(); }
    static void close_all() {
        for (int fd = 1; fd <= kFioSlots; ++fd)
            if (fio_is_remote(fd) >= 0) fio_close(fd);
    }
    std::string make(const std::string& name, size_t n) {
        write_file(dir.file(name), bytes(n));
        return dir.file(name);
    }
    TempDir dir;
};

TEST_F(LocalIo, TwentyDescriptorsThenTableFullAndBadDescriptors) {
    std::string p = make("f", 10);
    for (int i = 1; i <= kFioSlots; ++i) ASSERT_EQ(fio_open(nullptr, p.c_str(), 0), i);
    errno = 0;
    EXPECT_EQ(fio_open(nullptr, p.c_str(), 0), -1);
    EXPECT_EQ(errno, TAV_ENOMEM);
    ASSERT_EQ(fio_close(7), 0);
    char buf[4];
    for (int fd : {0, -1, 21, 7}) {
        errno = 0;
        EXPECT_EQ(fio_read(fd, buf, 4), -1) << fd;
        EXPECT_EQ(errno, TAV_EBADF) << fd;
        EXPECT_EQ(fio_close(fd), -1) << fd;
    }
    EXPECT_EQ(fio_open(nullptr, p.c_str(), 0), 7);
}

TEST_F(LocalIo, SeekAtOrAbove2GiBFailsWithoutTouchingTheFile) {
    std::string p = make("f", 100);
    int fd = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
    ASSERT_EQ(fio_lseek(fd, 40, 0), 40);
    errno = 0;
    EXPECT_EQ(fio_seek_to(fd, 0x80000000u), -1);
    EXPECT_EQ(errno, TAV_E_SEEK);
    EXPECT_EQ(fio_lseek(fd, 0, 1), 40);
    EXPECT_EQ(fio_close(fd), 0);
    EXPECT_EQ(read_file(p), bytes(100));
}

// The read cache must see writes made through another descriptor.
TEST_F(LocalIo, ReadsStayConsistentWithWritesThroughAnotherDescriptor) {
    PathBuf p(dir.file("rw"));
    int w = fio_creat(nullptr, p, 0);
    auto data = bytes(100000);
    ASSERT_EQ(fio_write(w, data.data(), 100000), 100000);
    EXPECT_EQ(fio_sync(w), 0);
    int r = fio_open(nullptr, p, 0);
    uint8_t small[12];
    for (uint32_t at : {0u, 39990u, 99990u}) {
        ASSERT_EQ(fio_seek_to(r, at), int32_t(at));
        ASSERT_EQ(fio_read(r, small, 12), at == 99990 ? 10 : 12);
        EXPECT_EQ(0, std::memcmp(small, data.data() + at, 10)) << at;
    }
    EXPECT_EQ(fio_read(r, small, 12), 0);
    ASSERT_EQ(fio_seek_to(r, 0), 0);
    ASSERT_EQ(fio_read(r, small, 4), 4);  // the start is cached now
    ASSERT_EQ(fio_seek_to(w, 1), 1);
    ASSERT_EQ(fio_write(w, "XYZ", 3), 3);
    ASSERT_EQ(fio_seek_to(r, 0), 0);
    ASSERT_EQ(fio_read(r, small, 4), 4);
    EXPECT_EQ(0, std::memcmp(small + 1, "XYZ", 3));
    EXPECT_EQ(fio_write(r, "a", 1), -1);  // read-only
}

TEST_F(LocalIo, SecondWriterIsRefusedInThisAndAnotherProcess) {
    std::string p = make("doc", 10);
    int w = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
    ASSERT_GT(w, 0);
    errno = 0;
    EXPECT_EQ(fio_open(nullptr, p.c_str(), kFioModeReadWrite), -1);
    EXPECT_EQ(errno, TAV_EACCES);
    EXPECT_GT(fio_open(nullptr, p.c_str(), 0), 0);  // readers take no lock
    EXPECT_EQ(in_child([&] {
                  int fd = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
                  return fd < 0 && errno == TAV_EACCES ? 0 : 1;
              }),
              0);
    ASSERT_EQ(fio_close(w), 0);
    EXPECT_GT(fio_open(nullptr, p.c_str(), kFioModeReadWrite), 0);
}

TEST_F(LocalIo, CreateNeverReusesAPathAndMakesPrivateFiles) {
    std::string p = make("exists", 10);
    PathBuf b(p);
    errno = 0;
    EXPECT_EQ(fio_creat(nullptr, b, 0), -1);
    EXPECT_EQ(errno, TAV_EEXIST);
    EXPECT_EQ(read_file(p), bytes(10));
    ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    PathBuf l(dir.file("link"));
    EXPECT_EQ(fio_creat(nullptr, l, 0), -1);
    EXPECT_FALSE(file_exists(dir.file("target")));
    PathBuf w(dir.file("work"));
    fio_close(fio_creat(nullptr, w, kFioPrivate));
    struct stat st {};
    ASSERT_EQ(stat(w, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LocalIo, CopyWithLimitsNeverOverAnExistingFile) {
    std::string src = make("src", 100);
    for (uint32_t limit : {10u, 1000u, 0u}) {
        PathBuf out(dir.file("c" + std::to_string(limit)));
        ASSERT_EQ(fio_copy(nullptr, src.c_str(), nullptr, out, limit), 0) << limit;
        EXPECT_EQ(read_file(out.s), bytes(limit == 10 ? 10 : 100));
    }
    write_file(dir.file("keep"), "keep");
    PathBuf keep(dir.file("keep"));
    EXPECT_EQ(fio_copy(nullptr, src.c_str(), nullptr, keep, 0), -1);
    EXPECT_EQ(fio_copy(nullptr, src.c_str(), nullptr, keep, 10), -1);
    EXPECT_EQ(read_text(dir.file("keep")), "keep");
}

TEST_F(LocalIo, FailedCopyLeavesNoDestination) {
    std::string src = make("src", 200000);
    EXPECT_EQ(in_child([&] {
                  signal(SIGXFSZ, SIG_IGN);  // writes beyond 64 KB fail
                  struct rlimit rl {65536, 65536};
                  setrlimit(RLIMIT_FSIZE, &rl);
                  PathBuf a(dir.file("bytes")), b(dir.file("whole"));
                  int bad = fio_copy(nullptr, src.c_str(), nullptr, a, 150000) != -1 || file_exists(a.s);
                  bad |= (fio_copy(nullptr, src.c_str(), nullptr, b, 0) != -1 || file_exists(b.s)) << 1;
                  return bad;
              }),
              0);
}

TEST_F(LocalIo, RenameRefusesAnExistingDestinationAndCrossesFileSystems) {
    std::string a = make("a", 10), b = make("b", 20);
    PathBuf pb(b);
    errno = 0;
    EXPECT_EQ(fio_rename(nullptr, a.c_str(), nullptr, pb, 1), -1);
    EXPECT_EQ(errno, TAV_EEXIST);
    EXPECT_EQ(read_file(b), bytes(20));
    std::string far = far_path(dir.path(), "fio");
    if (far.empty()) GTEST_SKIP() << "no second file system";
    PathBuf pf(far);
    ASSERT_EQ(fio_rename(nullptr, a.c_str(), nullptr, pf, 1), 0);
    EXPECT_FALSE(file_exists(a));
    EXPECT_EQ(read_file(far), bytes(10));
    unlink(far.c_str());
}

TEST_F(LocalIo, OnlyRegularFilesOpen) {
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);  // must not stall the open
    for (const std::string& p : {dir.path(), dir.file("fifo")}) EXPECT_EQ(fio_open(nullptr, p.c_str(), 0), -1) << p;
}

TEST_F(LocalIo, PathsLongerThanTheNameBuffersAreRefused) {
    std::string fits = dir.path() + "/" + std::string(259 - dir.path().size() - 1, 'n');
    std::string over = fits + "n";
    errno = 0;
    EXPECT_EQ(fio_open(nullptr, fits.c_str(), 0), -1);
    EXPECT_EQ(errno, TAV_ENOENT);  // it fits: the system looked for it
    std::vector<char> buf(over.begin(), over.end());
    buf.resize(400, 0);
    std::string src = make("s", 5);
    auto refused = [](int r) { return r == -1 && errno == TAV_EINVAL; };
    EXPECT_TRUE(refused(fio_open(nullptr, over.c_str(), 0)));
    EXPECT_TRUE(refused(fio_creat(nullptr, buf.data(), 0)));
    EXPECT_TRUE(refused(fio_copy(nullptr, src.c_str(), nullptr, buf.data(), 0)));
    EXPECT_TRUE(refused(fio_rename(nullptr, src.c_str(), nullptr, buf.data(), 0)));
    EXPECT_TRUE(file_exists(src));
}

class LocalReplace : public LocalIo {
protected:
    void SetUp() override {
        LocalIo::SetUp();
        write_file(target, "old");
        write_file(source, "new content");
    }
    std::string target = dir.file("doc.tif"), source = dir.file("work");
};

TEST_F(LocalReplace, SourceTakesTheTargetsPlaceAndPermissions) {
    chmod(target.c_str(), 0640);
    chmod(source.c_str(), 0600);
    uint32_t err = 5;
    PathBuf t(target), s(source);
    ASSERT_EQ(xifsreplace(nullptr, t, nullptr, s, &err), 0);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(read_text(target), "new content");
    EXPECT_EQ(dir_entries(dir.path()), 1u);  // no source, no backup left
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(LocalReplace, FailuresLeaveBothFilesAsTheyWere) {
    int fd = fio_open(nullptr, target.c_str(), kFioModeReadWrite);
    errno = 0;
    EXPECT_EQ(fio_replace(nullptr, target.c_str(), nullptr, source.c_str()), -1);
    EXPECT_EQ(errno, TAV_EACCES);  // held by a writer
    fio_close(fd);
    EXPECT_EQ(fio_replace(nullptr, target.c_str(), nullptr, dir.file("none").c_str()), -1);
    EXPECT_EQ(read_text(target), "old");
    EXPECT_EQ(read_text(source), "new content");
    EXPECT_EQ(dir_entries(dir.path()), 2u);
}

TEST_F(LocalReplace, SourceOnAnotherFileSystem) {
    std::string far = far_path(dir.path(), "replace");
    if (far.empty()) GTEST_SKIP() << "no second file system";
    write_file(far, "from afar");
    ASSERT_EQ(fio_replace(nullptr, target.c_str(), nullptr, far.c_str()), 0);
    EXPECT_EQ(read_text(target), "from afar");
    EXPECT_FALSE(file_exists(far));
    EXPECT_EQ(dir_entries(dir.path()), 2u);  // the target and the untouched "work"
}

// The replace is killed after its first step, its second, ... until it runs
// to the end. Between any two steps, and after the kill, the target holds
// the whole old or the whole new content (each version is one repeated
// byte: a torn or missing target shows as a short file or mixed bytes).
void kill_at_every_step(const std::string& target, const std::string& source) {
    constexpr size_t kSize = 256 * 1024;
    const std::vector<uint8_t> oldContent(kSize, 'o'), newContent(kSize, 'n');
    auto whole = [&](const std::string& path) {
        auto now = read_file(path);
        return now == oldContent ? 'o' : now == newContent ? 'n' : '?';
    };
    bool sawOld = false, sawNew = false;
    for (int killAfter = 1;; ++killAfter) {
        ASSERT_LT(killAfter, 100) << "the replace never ends";
        write_file(target, oldContent);
        std::filesystem::remove(source);
        write_file(source, newContent);
        SteppedChild child([&] { return fio_replace(nullptr, target.c_str(), nullptr, source.c_str()); });
        ASSERT_TRUE(child.started());
        int steps = 0;
        char report;
        while ((report = child.next()) != SteppedChild::kDone) {
            ASSERT_NE(report, 0) << "the child died after step " << steps;
            ++steps;
            ASSERT_NE(whole(target), '?') << "after step " << steps;
            if (steps == killAfter) break;
            child.go_on();
        }
        if (report == SteppedChild::kDone) {
            EXPECT_EQ(child.finish(), 0);
            EXPECT_EQ(whole(target), 'n') << "a replace run to its end";
            EXPECT_FALSE(file_exists(source));
            break;
        }
        child.kill_now();
        char after = whole(target);
        ASSERT_NE(after, '?') << "killed after step " << killAfter;
        sawOld |= after == 'o';
        sawNew |= after == 'n';
    }
    EXPECT_TRUE(sawOld);  // killed before the rename
    EXPECT_TRUE(sawNew);  // killed after it
}

TEST_F(LocalReplace, KilledReplaceLeavesOldOrNewContent) {
    kill_at_every_step(target, source);
}

TEST_F(LocalReplace, KilledReplaceFromAnotherFileSystemLeavesOldOrNewContent) {
    std::string far = far_path(dir.path(), "killed");
    if (far.empty()) GTEST_SKIP() << "no second file system";
    kill_at_every_step(target, far);
    std::filesystem::remove(far);
}

}  // namespace
