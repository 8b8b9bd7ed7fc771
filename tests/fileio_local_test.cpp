// Local descriptors: the table, seeking, the read cache, writer locks,
// creation, copy, rename and the fixed-size path buffers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fileio/fio.h"
#include "test_util.h"

namespace {

void close_all() {
    for (int fd = 1; fd <= kFioSlots; ++fd)
        if (fio_is_remote(fd) >= 0) fio_close(fd);
}

std::vector<uint8_t> bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 13 + 5);
    return v;
}

// Runs body in a forked child; its exit status (0 = all checks held).
template <typename Body>
int in_child(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

class LocalIo : public ::testing::Test {
protected:
    void SetUp() override { close_all(); }
    void TearDown() override { close_all(); }
    std::string make(const std::string& name, size_t n) {
        std::string p = dir.file(name);
        write_file(p, bytes(n));
        return p;
    }
    TempDir dir;
};

TEST_F(LocalIo, TwentyDescriptorsThenTableFull) {
    std::string p = make("f", 10);
    for (int i = 1; i <= kFioSlots; ++i) ASSERT_EQ(fio_open(nullptr, p.c_str(), 0), i);
    errno = 0;
    EXPECT_EQ(fio_open(nullptr, p.c_str(), 0), -1);
    EXPECT_EQ(errno, TAV_ENOMEM);
    PathBuf c(dir.file("c"));
    EXPECT_EQ(fio_creat(nullptr, c, 0), -1);
    EXPECT_EQ(errno, TAV_ENOMEM);
    ASSERT_EQ(fio_close(7), 0);
    EXPECT_EQ(fio_open(nullptr, p.c_str(), 0), 7);
}

TEST_F(LocalIo, BadDescriptorsAreRefused) {
    char buf[4];
    for (int fd : {0, -1, 21, 5}) {
        errno = 0;
        EXPECT_EQ(fio_read(fd, buf, 4), -1);
        EXPECT_EQ(errno, TAV_EBADF);
        errno = 0;
        EXPECT_EQ(fio_close(fd), -1);
        EXPECT_EQ(errno, TAV_EBADF);
    }
}

TEST_F(LocalIo, SeekAtOrAbove2GiBFailsWithoutTouchingTheFile) {
    std::string p = make("f", 100);
    int fd = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
    ASSERT_GT(fd, 0);
    ASSERT_EQ(fio_lseek(fd, 40, 0), 40);
    for (uint32_t off : {0x80000000u, 0xFFFFFFFFu}) {
        errno = 0;
        EXPECT_EQ(fio_seek_to(fd, off), -1);
        EXPECT_EQ(errno, TAV_E_SEEK);
    }
    EXPECT_EQ(fio_lseek(fd, 0, 1), 40);
    EXPECT_EQ(fio_close(fd), 0);
    EXPECT_EQ(read_file(p), bytes(100));
}

TEST_F(LocalIo, ReadWriteSeekAndTheReadCacheStayConsistent) {
    PathBuf p(dir.file("rw"));
    int w = fio_creat(nullptr, p, 0);
    ASSERT_GT(w, 0);
    EXPECT_EQ(fio_is_remote(w), 0);
    EXPECT_STREQ(fio_record(w)->path, p.s);
    auto data = bytes(100000);
    ASSERT_EQ(fio_write(w, data.data(), 100000), 100000);
    EXPECT_EQ(fio_lseek(w, 0, 2), 100000);
    EXPECT_EQ(fio_sync(w), 0);

    int r = fio_open(nullptr, p, 0);
    ASSERT_GT(r, 0);
    // Small reads at scattered places, a large read, the end.
    uint8_t small[12];
    for (uint32_t at : {0u, 5u, 40000u, 39990u, 99990u}) {
        ASSERT_EQ(fio_seek_to(r, at), int32_t(at));
        int32_t want = int32_t(std::min<uint32_t>(12, 100000 - at));
        ASSERT_EQ(fio_read(r, small, 12), want);
        EXPECT_EQ(0, std::memcmp(small, data.data() + at, size_t(want))) << at;
    }
    std::vector<uint8_t> all(100000);
    ASSERT_EQ(fio_lseek(r, -100000, 2), 0);
    ASSERT_EQ(fio_read(r, all.data(), 100000), 100000);
    EXPECT_EQ(all, data);
    EXPECT_EQ(fio_read(r, small, 12), 0);
    errno = 0;
    EXPECT_EQ(fio_lseek(r, -1, 0), -1);

    // Bytes written through another descriptor are seen by the reader.
    ASSERT_EQ(fio_seek_to(r, 0), 0);
    ASSERT_EQ(fio_read(r, small, 4), 4);
    ASSERT_EQ(fio_seek_to(w, 1), 1);
    ASSERT_EQ(fio_write(w, "XYZ", 3), 3);
    ASSERT_EQ(fio_seek_to(r, 0), 0);
    ASSERT_EQ(fio_read(r, small, 4), 4);
    EXPECT_EQ(0, std::memcmp(small + 1, "XYZ", 3));
    // A read-only descriptor does not write.
    EXPECT_EQ(fio_write(r, "a", 1), -1);
    EXPECT_EQ(fio_close(r), 0);
    EXPECT_EQ(fio_close(w), 0);
}

TEST_F(LocalIo, SecondWriterIsRefusedInThisAndAnotherProcess) {
    std::string p = make("doc", 10);
    int w = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
    ASSERT_GT(w, 0);
    errno = 0;
    EXPECT_EQ(fio_open(nullptr, p.c_str(), kFioModeReadWrite), -1);
    EXPECT_EQ(errno, TAV_EACCES);
    EXPECT_EQ(fio_open(nullptr, p.c_str(), 1), -1);  // write only
    int r = fio_open(nullptr, p.c_str(), 0);  // readers take no lock
    EXPECT_GT(r, 0);
    int child = in_child([&] {
        int fd = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
        return fd < 0 && errno == TAV_EACCES ? 0 : 1;
    });
    EXPECT_EQ(child, 0);
    ASSERT_EQ(fio_close(w), 0);
    w = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
    EXPECT_GT(w, 0);

    // A file being created is held the same way.
    PathBuf c(dir.file("new"));
    int cw = fio_creat(nullptr, c, 0);
    ASSERT_GT(cw, 0);
    EXPECT_EQ(fio_open(nullptr, c, kFioModeReadWrite), -1);
    EXPECT_EQ(errno, TAV_EACCES);
}

TEST_F(LocalIo, CreateNeverReusesAPath) {
    std::string p = make("exists", 10);
    PathBuf b(p);
    errno = 0;
    EXPECT_EQ(fio_creat(nullptr, b, 0), -1);
    EXPECT_EQ(errno, TAV_EEXIST);
    EXPECT_EQ(read_file(p), bytes(10));

    // A dangling link is not followed.
    std::string target = dir.file("target");
    ASSERT_EQ(symlink(target.c_str(), dir.file("link").c_str()), 0);
    PathBuf l(dir.file("link"));
    EXPECT_EQ(fio_creat(nullptr, l, 0), -1);
    EXPECT_FALSE(file_exists(target));

    // Work files are owner-only.
    PathBuf w(dir.file("work"));
    int fd = fio_creat(nullptr, w, kFioPrivate);
    ASSERT_GT(fd, 0);
    fio_close(fd);
    struct stat st {};
    ASSERT_EQ(stat(w, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LocalIo, StarCreateMakesDistinctNamesInTheDirectory) {
    PathBuf a(dir.path() + "/*");
    PathBuf b(dir.path() + "/*");
    int fa = fio_creat(nullptr, a, 0);
    int fb = fio_creat(nullptr, b, 0);
    ASSERT_GT(fa, 0);
    ASSERT_GT(fb, 0);
    EXPECT_STRNE(a.s, b.s);
    for (const char* s : {a.s, b.s}) {
        EXPECT_EQ(std::string(s).rfind(dir.path() + "/", 0), 0u);
        EXPECT_EQ(std::strlen(s), dir.path().size() + 8);
        EXPECT_TRUE(file_exists(s));
    }
}

TEST_F(LocalIo, CopyWithAndWithoutLimit) {
    std::string src = make("src", 100);
    PathBuf ten(dir.file("ten"));
    ASSERT_EQ(fio_copy(nullptr, src.c_str(), nullptr, ten, 10), 0);
    auto d = bytes(100);
    EXPECT_EQ(read_file(ten.s), std::vector<uint8_t>(d.begin(), d.begin() + 10));
    PathBuf big(dir.file("big"));
    ASSERT_EQ(fio_copy(nullptr, src.c_str(), nullptr, big, 1000), 0);
    EXPECT_EQ(read_file(big.s), bytes(100));
    PathBuf whole(dir.file("whole"));
    ASSERT_EQ(fio_copy(nullptr, src.c_str(), nullptr, whole, 0), 0);
    EXPECT_EQ(read_file(whole.s), bytes(100));
    // Never over an existing file.
    write_file(dir.file("keep"), "keep");
    PathBuf keep(dir.file("keep"));
    EXPECT_EQ(fio_copy(nullptr, src.c_str(), nullptr, keep, 0), -1);
    EXPECT_EQ(fio_copy(nullptr, src.c_str(), nullptr, keep, 10), -1);
    auto k = read_file(dir.file("keep"));
    EXPECT_EQ(std::string(k.begin(), k.end()), "keep");
}

TEST_F(LocalIo, FailedCopyLeavesNoDestination) {
    std::string src = make("src", 200000);
    int child = in_child([&] {
        // Writes beyond 64 KB fail in this process.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl {65536, 65536};
        setrlimit(RLIMIT_FSIZE, &rl);
        PathBuf a(dir.file("bytes"));
        PathBuf b(dir.file("whole"));
        int bad = 0;
        if (fio_copy(nullptr, src.c_str(), nullptr, a, 150000) != -1) bad |= 1;
        if (file_exists(a.s)) bad |= 2;
        if (fio_copy(nullptr, src.c_str(), nullptr, b, 0) != -1) bad |= 4;
        if (file_exists(b.s)) bad |= 8;
        return bad;
    });
    EXPECT_EQ(child, 0);
}

TEST_F(LocalIo, RenameRefusesAnExistingDestinationAndCrossesFileSystems) {
    std::string a = make("a", 10);
    std::string b = make("b", 20);
    PathBuf pb(b);
    errno = 0;
    EXPECT_EQ(fio_rename(nullptr, a.c_str(), nullptr, pb, 1), -1);
    EXPECT_EQ(errno, TAV_EEXIST);
    EXPECT_EQ(read_file(a), bytes(10));
    EXPECT_EQ(read_file(b), bytes(20));

    struct stat here {}, shm {};
    if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &here) != 0 ||
        here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system";
    std::string far = "/dev/shm/qvtav-fio-" + std::to_string(getpid());
    PathBuf pf(far);
    ASSERT_EQ(fio_rename(nullptr, a.c_str(), nullptr, pf, 1), 0);
    EXPECT_FALSE(file_exists(a));
    EXPECT_EQ(read_file(far), bytes(10));
    unlink(far.c_str());
}

TEST_F(LocalIo, AccessAndDirectoryTests) {
    std::string f = make("f", 1);
    EXPECT_EQ(fio_access(nullptr, f.c_str(), 0), 0);
    EXPECT_EQ(fio_access(nullptr, f.c_str(), 2), 0);
    errno = 0;
    EXPECT_EQ(fio_access(nullptr, dir.file("none").c_str(), 0), TAV_EIO);
    EXPECT_EQ(errno, TAV_ENOENT);
    EXPECT_EQ(fio_dir_test(dir.path().c_str()), 1);
    EXPECT_EQ(fio_dir_test(f.c_str()), 0);
    EXPECT_EQ(fio_dir_test(dir.file("none").c_str()), 0);
    EXPECT_EQ(fio_remove(nullptr, f.c_str()), 0);
    EXPECT_EQ(fio_remove(nullptr, f.c_str()), -1);
    // Only regular files open; a FIFO does not stall the open.
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& p : {dir.path(), dir.file("fifo")}) {
        errno = 0;
        EXPECT_EQ(fio_open(nullptr, p.c_str(), 0), -1) << p;
        EXPECT_EQ(errno, TAV_EACCES) << p;
    }
}

TEST_F(LocalIo, PathsLongerThanTheNameBuffersAreRefused) {
    std::string fits = dir.path() + "/" + std::string(259 - dir.path().size() - 1, 'n');
    std::string over = fits + "n";
    ASSERT_EQ(fits.size(), 259u);
    errno = 0;
    EXPECT_EQ(fio_open(nullptr, fits.c_str(), 0), -1);
    EXPECT_EQ(errno, TAV_ENOENT);  // fits: the system looked for it
    std::vector<char> buf(over.begin(), over.end());
    buf.push_back(0);
    buf.resize(400);
    std::string src = make("s", 5);
    auto refused = [](int r) { return r == -1 && errno == TAV_EINVAL; };
    EXPECT_TRUE(refused(fio_open(nullptr, over.c_str(), 0)));
    EXPECT_TRUE(refused(fio_creat(nullptr, buf.data(), 0)));
    EXPECT_TRUE(refused(fio_remove(nullptr, over.c_str())));
    EXPECT_TRUE(refused(fio_copy(nullptr, src.c_str(), nullptr, buf.data(), 0)));
    EXPECT_TRUE(refused(fio_rename(nullptr, src.c_str(), nullptr, buf.data(), 0)));
    EXPECT_FALSE(file_exists(over));
    EXPECT_TRUE(file_exists(src));
}

TEST_F(LocalIo, TruncateCloseCutsTheFile) {
    std::string p = make("t", 1000);
    int fd = fio_open(nullptr, p.c_str(), kFioModeReadWrite);
    ASSERT_GT(fd, 0);
    ASSERT_EQ(fio_lseek(fd, 0, 2), 1000);
    ASSERT_EQ(fio_write(fd, "more", 4), 4);
    ASSERT_EQ(fio_truncate_close(fd, 600), 0);
    auto b = bytes(1000);
    EXPECT_EQ(read_file(p), std::vector<uint8_t>(b.begin(), b.begin() + 600));
    EXPECT_EQ(fio_is_remote(fd), -1);
}

}  // namespace
