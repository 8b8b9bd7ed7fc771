// Remote descriptors: request counts of the read-ahead and write-behind
// buffers, server code translations, the missing library, and the remote
// whole-file operations.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "fileio/fio.h"
#include "remote_stub.h"

namespace {

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 7 + i / 251) & 0xFF);
    return v;
}

class RemoteIo : public RemoteTest {
protected:
    int open_file(const std::string& name, size_t bytes, uint32_t mode = 0) {
        content = pattern(bytes);
        write_file(local(name), content);
        int fd = fio_open(&loc, name.c_str(), mode);
        EXPECT_GT(fd, 0) << errno;
        stub.reset();
        return fd;
    }
    uint32_t reads() { return stub.count("RPCIFSread"); }
    uint32_t read_size(uint32_t i) { return stub.size("RPCIFSread", i); }

    std::vector<uint8_t> content;
};

TEST_F(RemoteIo, ReadAheadSizesFollowTheAccessPattern) {
    int fd = open_file("f.bin", 100000);
    uint8_t buf[16];

    // A first small read fetches a small window...
    ASSERT_EQ(fio_read(fd, buf, 10), 10);
    EXPECT_EQ(reads(), 1u);
    EXPECT_EQ(read_size(0), 2048u);
    EXPECT_EQ(0, std::memcmp(buf, content.data(), 10));
    // ...which serves the next read.
    ASSERT_EQ(fio_read(fd, buf, 10), 10);
    EXPECT_EQ(reads(), 1u);
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 10, 10));
    // A read that continues the buffered bytes reads a whole buffer ahead.
    ASSERT_EQ(fio_seek_to(fd, 2048), 2048);
    ASSERT_EQ(fio_read(fd, buf, 10), 10);
    EXPECT_EQ(reads(), 2u);
    EXPECT_EQ(read_size(1), 31744u);
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 2048, 10));
    // A jump elsewhere is a small window again, with one position request.
    ASSERT_EQ(fio_seek_to(fd, 50000), 50000);
    ASSERT_EQ(fio_read(fd, buf, 10), 10);
    EXPECT_EQ(reads(), 3u);
    EXPECT_EQ(read_size(2), 2048u);
    EXPECT_EQ(stub.count("RPCIFSsetpos"), 1u);
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 50000, 10));
    EXPECT_EQ(fio_close(fd), 0);
}

TEST_F(RemoteIo, ForwardSkipsSmallerThanAWindowStaySequential) {
    int fd = open_file("f.bin", 100000);
    uint8_t buf[8];
    ASSERT_EQ(fio_read(fd, buf, 4), 4);  // window [0, 2048)
    // 952 bytes past the window: a whole buffer from where the server is.
    ASSERT_EQ(fio_seek_to(fd, 3000), 3000);
    ASSERT_EQ(fio_read(fd, buf, 8), 8);
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 3000, 8));
    ASSERT_EQ(reads(), 2u);
    EXPECT_EQ(read_size(1), 31744u);
    EXPECT_EQ(stub.count("RPCIFSsetpos"), 0u);
    ASSERT_EQ(fio_seek_to(fd, 30000), 30000);
    ASSERT_EQ(fio_read(fd, buf, 8), 8);
    EXPECT_EQ(reads(), 2u);
    // Far past the buffer: a small window again.
    ASSERT_EQ(fio_seek_to(fd, 40000), 40000);
    ASSERT_EQ(fio_read(fd, buf, 8), 8);
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 40000, 8));
    EXPECT_EQ(read_size(2), 2048u);
    EXPECT_EQ(stub.count("RPCIFSsetpos"), 1u);
    EXPECT_EQ(fio_close(fd), 0);
}

TEST_F(RemoteIo, LargeReadBypassesTheBuffer) {
    int fd = open_file("f.bin", 100000);
    std::vector<uint8_t> buf(70000);
    ASSERT_EQ(fio_read(fd, buf.data(), 70000), 70000);
    ASSERT_EQ(reads(), 3u);
    EXPECT_EQ(read_size(0), 31744u);
    EXPECT_EQ(read_size(1), 31744u);
    EXPECT_EQ(read_size(2), 6512u);
    EXPECT_EQ(stub.bytes("RPCIFSread"), 70000u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), content.begin()));
    // The rest of the file, then the end: 0 without a request.
    ASSERT_EQ(fio_read(fd, buf.data(), 70000), 30000);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 30000, content.begin() + 70000));
    uint32_t before = reads();
    EXPECT_EQ(fio_read(fd, buf.data(), 10), 0);
    EXPECT_EQ(reads(), before);
    EXPECT_EQ(fio_close(fd), 0);
}

TEST_F(RemoteIo, ReadsAcrossTheBufferEndJoinBufferedAndFetchedBytes) {
    int fd = open_file("f.bin", 5000);
    std::vector<uint8_t> buf(5000);
    ASSERT_EQ(fio_read(fd, buf.data(), 2000), 2000);   // window of 2048
    ASSERT_EQ(fio_read(fd, buf.data() + 2000, 3000), 3000);  // 48 buffered + the rest
    EXPECT_EQ(buf, content);
    EXPECT_EQ(reads(), 2u);
    EXPECT_EQ(fio_close(fd), 0);
}

TEST_F(RemoteIo, WritesKeepTheReadBufferCurrentAndGatherIntoFullPieces) {
    int fd = open_file("f.bin", 100000, kFioModeReadWrite);
    uint8_t buf[16];
    ASSERT_EQ(fio_read(fd, buf, 10), 10);
    ASSERT_EQ(fio_seek_to(fd, 10), 10);
    ASSERT_EQ(fio_write(fd, "HELLO", 5), 5);
    uint32_t readsBefore = reads();
    ASSERT_EQ(fio_seek_to(fd, 8), 8);
    ASSERT_EQ(fio_read(fd, buf, 8), 8);
    EXPECT_EQ(0, std::memcmp(buf + 2, "HELLO", 5));
    EXPECT_EQ(buf[0], content[8]);
    EXPECT_EQ(reads(), readsBefore);  // served from the updated buffer

    // Appending small pieces goes out in whole buffers.
    stub.reset();
    ASSERT_EQ(fio_lseek(fd, 0, 2), 100000);
    std::vector<uint8_t> piece(1000, 0xAB);
    for (int i = 0; i < 70; ++i) ASSERT_EQ(fio_write(fd, piece.data(), 1000), 1000);
    EXPECT_EQ(stub.count("RPCIFSwrite"), 2u);
    EXPECT_EQ(stub.size("RPCIFSwrite", 0), 31744u);
    EXPECT_EQ(stub.size("RPCIFSwrite", 1), 31744u);
    // The end counts the bytes still waiting in the write buffer.
    EXPECT_EQ(fio_lseek(fd, 0, 2), 170000);
    EXPECT_EQ(fio_read(fd, buf, 10), 0);
    ASSERT_EQ(fio_close(fd), 0);

    auto onDisk = read_file(local("f.bin"));
    ASSERT_EQ(onDisk.size(), 170000u);
    EXPECT_EQ(0, std::memcmp(onDisk.data() + 10, "HELLO", 5));
    EXPECT_EQ(onDisk[169999], 0xAB);
}

TEST_F(RemoteIo, CreateWriteAndReadBack) {
    char path[TAV_PATH_SIZE] = "new.bin";
    int fd = fio_creat(&loc, path, 0);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(fio_is_remote(fd), 1);
    auto data = pattern(40000);
    ASSERT_EQ(fio_write(fd, data.data(), 40000), 40000);
    ASSERT_EQ(fio_seek_to(fd, 0), 0);
    std::vector<uint8_t> back(40000);
    ASSERT_EQ(fio_read(fd, back.data(), 40000), 40000);
    EXPECT_EQ(back, data);
    ASSERT_EQ(fio_close(fd), 0);
    EXPECT_EQ(read_file(local("new.bin")), data);
}

TEST_F(RemoteIo, OpenTranslatesServerCodes) {
    write_file(local("there.bin"), "abc");
    struct Case {
        uint32_t code, transport;
        const char* path;
        int expected;
    } cases[] = {
        {1284, 0, "there.bin", TAV_EFAULT},
        {1291, 0, "there.bin", TAV_EFAULT},
        {1292, 0, "there.bin", TAV_ENOMEM},  // the file exists
        {1300, 0, "there.bin", 1300},
        {0, 1, "there.bin", TAV_E_TRANSPORT},
    };
    for (const Case& c : cases) {
        stub.reset();
        stub.fail("RPCIFSopen", c.code, c.transport, 0);
        errno = 0;
        EXPECT_EQ(fio_open(&loc, c.path, 0), -1);
        EXPECT_EQ(errno, c.expected) << "server code " << c.code;
    }
    // Real failures of the server.
    errno = 0;
    EXPECT_EQ(fio_open(&loc, "missing.bin", 0), -1);
    EXPECT_EQ(errno, TAV_ENOENT);
    errno = 0;
    EXPECT_EQ(fio_open(&loc, "../escape.bin", 0), -1);
    EXPECT_EQ(errno, TAV_EFAULT);
}

TEST_F(RemoteIo, CreateTranslatesServerCodes) {
    struct Case {
        uint32_t code, transport;
        int expected;
    } cases[] = {
        {1284, 0, TAV_EFAULT}, {1297, 0, TAV_EFAULT}, {1296, 0, TAV_E_REMOTE_EXISTS},
        {1298, 0, TAV_ENOMEM}, {1234, 0, 1234},       {0, 1, TAV_E_TRANSPORT},
    };
    for (const Case& c : cases) {
        stub.reset();
        stub.fail("RPCIFScreate", c.code, c.transport, 0);
        char path[TAV_PATH_SIZE] = "c.bin";
        errno = 0;
        EXPECT_EQ(fio_creat(&loc, path, 0), -1);
        EXPECT_EQ(errno, c.expected) << "server code " << c.code;
    }
    write_file(local("exists.bin"), "x");
    char path[TAV_PATH_SIZE] = "exists.bin";
    errno = 0;
    EXPECT_EQ(fio_creat(&loc, path, 0), -1);
    EXPECT_EQ(errno, TAV_E_REMOTE_EXISTS);
    EXPECT_FALSE(file_exists(local("c.bin")));
}

TEST_F(RemoteIo, FailedServerStepsReachTheCaller) {
    int fd = open_file("f.bin", 100000, kFioModeReadWrite);
    uint8_t buf[16];
    stub.fail("RPCIFSread", 0, 1, 0);
    errno = 0;
    EXPECT_LT(fio_read(fd, buf, 10), 0);
    EXPECT_EQ(errno, TAV_E_TRANSPORT);
    // A later read works again and returns the right bytes.
    ASSERT_EQ(fio_read(fd, buf, 10), 10);
    EXPECT_EQ(0, std::memcmp(buf, content.data(), 10));

    // A pending write that cannot be sent fails the close.
    ASSERT_EQ(fio_write(fd, "xy", 2), 2);
    stub.fail("RPCIFSwrite", 1305, 0, 0);
    errno = 0;
    EXPECT_EQ(fio_close(fd), -1);
    EXPECT_EQ(errno, 1305);
    EXPECT_EQ(fio_is_remote(fd), -1);  // the slot is free all the same
}

TEST_F(RemoteIo, MissingLibraryIs255) {
    TempDir empty;
    plat_set_library_dir(empty.path().c_str());
    plat_remote_forget();
    errno = 0;
    EXPECT_EQ(fio_open(&loc, "f.bin", 0), -1);
    EXPECT_EQ(errno, TAV_E_NO_REMOTE);
    char path[TAV_PATH_SIZE] = "g.bin";
    errno = 0;
    EXPECT_EQ(fio_creat(&loc, path, 0), -1);
    EXPECT_EQ(errno, TAV_E_NO_REMOTE);
    errno = 0;
    EXPECT_EQ(fio_remove(&loc, "f.bin"), -1);
    EXPECT_EQ(errno, TAV_E_NO_REMOTE);
    plat_set_library_dir(nullptr);
    plat_remote_forget();
    EXPECT_NE(plat_remote_bind(), nullptr);
}

TEST_F(RemoteIo, WholeFileOperations) {
    auto data = pattern(50000);
    write_file(local("a.bin"), data);
    EXPECT_EQ(fio_access(&loc, "a.bin", 0), 0);
    EXPECT_NE(fio_access(&loc, "nothing.bin", 0), 0);

    // Server-side copy, then a byte copy with a limit.
    char dst[TAV_PATH_SIZE] = "b.bin";
    ASSERT_EQ(fio_copy(&loc, "a.bin", &loc, dst, 0), 0);
    EXPECT_EQ(stub.count("RPCIFScopy"), 1u);
    EXPECT_EQ(read_file(local("b.bin")), data);
    char part[TAV_PATH_SIZE] = "part.bin";
    ASSERT_EQ(fio_copy(&loc, "a.bin", &loc, part, 10), 0);
    EXPECT_EQ(read_file(local("part.bin")), std::vector<uint8_t>(data.begin(), data.begin() + 10));

    // A failing server copy falls back to the byte copy.
    stub.fail("RPCIFScopy", 1300, 0, 0);
    char again[TAV_PATH_SIZE] = "again.bin";
    ASSERT_EQ(fio_copy(&loc, "a.bin", &loc, again, 0), 0);
    EXPECT_EQ(read_file(local("again.bin")), data);

    // Rename refuses an existing destination; "*" finds a free name.
    char taken[TAV_PATH_SIZE] = "b.bin";
    EXPECT_EQ(fio_rename(&loc, "a.bin", &loc, taken, 1), -1);
    char star[TAV_PATH_SIZE] = "*";
    ASSERT_EQ(fio_rename(&loc, "a.bin", &loc, star, 1), 0);
    EXPECT_EQ(std::strlen(star), 7u);
    EXPECT_EQ(read_file(local(star)), data);
    EXPECT_FALSE(file_exists(local("a.bin")));

    EXPECT_EQ(fio_remove(&loc, star), 0);
    EXPECT_FALSE(file_exists(local(star)));
}

TEST_F(RemoteIo, MovesBetweenLocalAndRemote) {
    TempDir here;
    auto data = pattern(33000);
    write_file(here.file("l.bin"), data);
    char dst[TAV_PATH_SIZE] = "r.bin";
    ASSERT_EQ(fio_rename(nullptr, here.file("l.bin").c_str(), &loc, dst, 1), 0);
    EXPECT_FALSE(file_exists(here.file("l.bin")));
    EXPECT_EQ(read_file(local("r.bin")), data);
    PathBuf back(here.file("back.bin"));
    ASSERT_EQ(fio_copy(&loc, "r.bin", nullptr, back, 0), 0);
    EXPECT_EQ(read_file(here.file("back.bin")), data);
}

TEST_F(RemoteIo, TruncateCloseCutsTheRemoteFile) {
    int fd = open_file("t.bin", 9000, kFioModeReadWrite);
    ASSERT_EQ(fio_lseek(fd, 0, 2), 9000);
    ASSERT_EQ(fio_write(fd, "appended", 8), 8);
    ASSERT_EQ(fio_truncate_close(fd, 9000), 0);
    EXPECT_EQ(read_file(local("t.bin")), content);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(server.path()),
                            std::filesystem::directory_iterator{}),
              1);
}

TEST_F(RemoteIo, OverlongServerOrPathIsRefused) {
    std::memset(loc.server, 'a', sizeof loc.server);  // no terminator
    errno = 0;
    EXPECT_EQ(fio_open(&loc, "f.bin", 0), -1);
    EXPECT_EQ(errno, TAV_EINVAL);
    EXPECT_EQ(stub.count("RPCIFSopen"), 0u);
}

}  // namespace
