// Remote descriptors, served by the remote-access library from a temporary
// directory, directly and through sshd: request counts of the read-ahead and write-behind
// buffers, server code translations, the missing library, whole-file
// operations, and the replace: its cached local copy, the target open for
// writing, the copy to the server that fails, and the replace that can be
// neither finished nor undone.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "edit_tiff_util.h"
#include "fileio/fio.h"
#include "platform/plat_loader.h"
#include "platform/plat_remote.h"
#include "remote_site.h"
#include "test_util.h"

namespace {

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 7 + i / 251) & 0xFF);
    return v;
}

class RemoteIo : public ::testing::TestWithParam<RemoteBackend> {
protected:
    void SetUp() override {
        SKIP_UNLESS_READY(site);
        ASSERT_NE(plat_remote_bind(), nullptr) << "libqvrpc400.so is needed";
        void* m = plat_remote_module();
        reset = reinterpret_cast<void (*)()>(plat_symbol(m, "RPCSTUBreset"));
        count = reinterpret_cast<uint32_t (*)(const char*)>(plat_symbol(m, "RPCSTUBcount"));
        bytes = reinterpret_cast<uint64_t (*)(const char*)>(plat_symbol(m, "RPCSTUBbytes"));
        size = reinterpret_cast<uint32_t (*)(const char*, uint32_t)>(plat_symbol(m, "RPCSTUBsize"));
        fail = reinterpret_cast<void (*)(const char*, uint32_t, uint32_t, uint32_t)>(
            plat_symbol(m, "RPCSTUBfail"));
        ASSERT_TRUE(reset && count && bytes && size && fail) << "test controls missing";
        reset();
    }
    void TearDown() override {
        fio_drop_cached_copy();
        reset();
    }
    std::string local(const std::string& name) const { return server.file(name); }
    // The path the library is given for a file of the served directory.
    std::string rp(const std::string& name) const { return site.remote(name); }
    int open_file(const std::string& name, size_t n, uint32_t mode = 0) {
        content = pattern(n);
        write_file(local(name), content);
        int fd = fio_open(&loc, rp(name).c_str(), mode);
        EXPECT_GT(fd, 0) << errno;
        reset();
        return fd;
    }
    uint32_t reads() { return count("RPCIFSread"); }
    // Reads n bytes at `at` and checks them against the file.
    void read_at(int fd, uint32_t at, uint32_t n) {
        std::vector<uint8_t> buf(n);
        ASSERT_EQ(fio_seek_to(fd, at), int32_t(at));
        ASSERT_EQ(fio_read(fd, buf.data(), n), int32_t(n));
        EXPECT_TRUE(std::equal(buf.begin(), buf.end(), content.begin() + at)) << at;
    }

    void (*reset)() = nullptr;
    uint32_t (*count)(const char*) = nullptr;
    uint64_t (*bytes)(const char*) = nullptr;
    uint32_t (*size)(const char*, uint32_t) = nullptr;
    void (*fail)(const char*, uint32_t, uint32_t, uint32_t) = nullptr;
    // The whole content of a remote file through a read-only open; whether
    // the cache served it goes to servedLocally.
    std::string remote_text(const char* name) {
        int fd = fio_open(&loc, rp(name).c_str(), 0);
        EXPECT_GT(fd, 0) << errno;
        servedLocally = fio_is_remote(fd) == 0;
        std::string t;
        char buf[256];
        for (int32_t n; (n = fio_read(fd, buf, sizeof buf)) > 0;) t.append(buf, size_t(n));
        fio_close(fd);
        return t;
    }

    TempDir server, here, temp;
    TempDirOverride libraryTemp{temp.path()};  // the library's temporary directory
    RemoteSite site{GetParam(), server.path()};
    FileLocation& loc = site.loc;
    std::vector<uint8_t> content;
    bool servedLocally = false;
};

TEST_P(RemoteIo, ReadAheadFollowsTheAccessPattern) {
    int fd = open_file("f.bin", 100000);
    // Each step: where, how many, then the reads so far and the last size.
    struct Step {
        uint32_t at, n, reads, lastSize, setpos;
    } steps[] = {
        {0, 10, 1, 2048, 0},       // a small window first
        {10, 10, 1, 2048, 0},      // served from it
        {2048, 10, 2, 31744, 0},   // continuing: a whole buffer ahead
        {50000, 10, 3, 2048, 1},   // a jump: a small window again
        {50010, 3000, 4, 31744, 1},  // across the window's end: joined
        {53500, 8, 4, 31744, 1},
        {84000, 8, 5, 2048, 2},    // any gap past the buffer: a small window
        {99990, 10, 6, 10, 3},     // (asks only for what the file holds)
    };
    for (const Step& s : steps) {
        read_at(fd, s.at, s.n);
        EXPECT_EQ(reads(), s.reads) << s.at;
        EXPECT_EQ(size("RPCIFSread", reads() - 1), s.lastSize) << s.at;
        EXPECT_EQ(count("RPCIFSsetpos"), s.setpos) << s.at;
    }
    uint8_t b[4];
    EXPECT_EQ(fio_read(fd, b, 4), 0);  // at the end, without a request
    EXPECT_EQ(reads(), 6u);
    EXPECT_EQ(fio_close(fd), 0);
}

TEST_P(RemoteIo, LargeReadBypassesTheBuffer) {
    int fd = open_file("f.bin", 100000);
    read_at(fd, 0, 70000);
    ASSERT_EQ(reads(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(size("RPCIFSread", i), i < 2 ? 31744u : 6512u);
    EXPECT_EQ(bytes("RPCIFSread"), 70000u);
    EXPECT_EQ(fio_close(fd), 0);
}

TEST_P(RemoteIo, WritesKeepTheReadBufferCurrentAndGatherIntoFullPieces) {
    int fd = open_file("f.bin", 100000, kFioModeReadWrite);
    read_at(fd, 0, 10);
    ASSERT_EQ(fio_seek_to(fd, 10), 10);
    ASSERT_EQ(fio_write(fd, "HELLO", 5), 5);
    uint8_t buf[16];
    ASSERT_EQ(fio_seek_to(fd, 8), 8);
    ASSERT_EQ(fio_read(fd, buf, 8), 8);
    EXPECT_EQ(0, std::memcmp(buf + 2, "HELLO", 5));
    EXPECT_EQ(buf[0], content[8]);
    EXPECT_EQ(reads(), 1u);  // served from the updated buffer
    reset();
    ASSERT_EQ(fio_lseek(fd, 0, 2), 100000);
    std::vector<uint8_t> piece(1000, 0xAB);
    for (int i = 0; i < 70; ++i) ASSERT_EQ(fio_write(fd, piece.data(), 1000), 1000);
    EXPECT_EQ(count("RPCIFSwrite"), 2u);
    EXPECT_EQ(size("RPCIFSwrite", 0), 31744u);
    EXPECT_EQ(size("RPCIFSwrite", 1), 31744u);
    EXPECT_EQ(fio_lseek(fd, 0, 2), 170000);  // counts the bytes still buffered
    EXPECT_EQ(fio_read(fd, buf, 10), 0);
    ASSERT_EQ(fio_close(fd), 0);
    EXPECT_EQ(read_file(local("f.bin")).size(), 170000u);
}

TEST_P(RemoteIo, ServerCodesAreTranslated) {
    write_file(local("there.bin"), "abc");
    struct Case {
        const char* entry;
        uint32_t code, transport;
        const char* path;
        int expected;
    } cases[] = {
        {"RPCIFSopen", kRpcBadPath, 0, "there.bin", TAV_EFAULT},
        {"RPCIFSopen", kRpcAccessDenied, 0, "there.bin", TAV_EFAULT},
        {"RPCIFSopen", kRpcNotFound, 0, "there.bin", TAV_ENOMEM},
        {"RPCIFSopen", kRpcNotFound, 0, "missing.bin", TAV_ENOENT},
        {"RPCIFSopen", kRpcIoError, 0, "there.bin", kRpcIoError},
        {"RPCIFSopen", 0, 1, "there.bin", TAV_E_TRANSPORT},
        {"RPCIFScreate", kRpcBadPath, 0, "c.bin", TAV_EFAULT},
        {"RPCIFScreate", kRpcCannotCreate, 0, "c.bin", TAV_EFAULT},
        {"RPCIFScreate", kRpcExists, 0, "c.bin", TAV_E_REMOTE_EXISTS},
        {"RPCIFScreate", kRpcNoHandles, 0, "c.bin", TAV_ENOMEM},
        {"RPCIFScreate", 1234, 0, "c.bin", 1234},
        {"RPCIFScreate", 0, 1, "c.bin", TAV_E_TRANSPORT},
        {"", 0, 0, "missing.bin", TAV_ENOENT},     // real failures of the server
        {"", 0, 0, "../escape.bin", TAV_EFAULT},   // (a directory confines its paths)
        {"RPCIFScreate", 0, 0, "there.bin", TAV_E_REMOTE_EXISTS},
    };
    for (const Case& c : cases) {
        if (site.ssh() && c.path[0] == '.') continue;
        reset();
        if (c.code || c.transport) fail(c.entry, c.code, c.transport, 0);
        PathBuf p(rp(c.path));
        errno = 0;
        bool create = std::strcmp(c.entry, "RPCIFScreate") == 0;
        EXPECT_EQ(create ? fio_creat(&loc, p, 0) : fio_open(&loc, p, 0), -1) << c.entry << c.code;
        EXPECT_EQ(errno, c.expected) << c.entry << " " << c.code << " " << c.path;
    }
    EXPECT_FALSE(file_exists(local("c.bin")));
}

TEST_P(RemoteIo, MissingLibraryIs255) {
    TempDir empty;
    plat_set_library_dir(empty.path().c_str());
    plat_remote_forget();
    errno = 0;
    EXPECT_EQ(fio_open(&loc, rp("f.bin").c_str(), 0), -1);
    EXPECT_EQ(errno, TAV_E_NO_REMOTE);
    plat_set_library_dir(nullptr);
    plat_remote_forget();
    EXPECT_NE(plat_remote_bind(), nullptr);
}

TEST_P(RemoteIo, WholeFileOperations) {
    auto data = pattern(50000);
    write_file(local("a.bin"), data);
    PathBuf b(rp("b.bin")), c(rp("c.bin")), star(rp("*")), back(here.file("back.bin"));
    std::string a = rp("a.bin");
    ASSERT_EQ(fio_copy(&loc, a.c_str(), &loc, c, 0), 0);  // the server's own copy
    EXPECT_EQ(read_file(local("c.bin")), data);
    fail("RPCIFScopy", kRpcIoError, 0, 0);  // the server copy fails: a byte copy instead
    ASSERT_EQ(fio_copy(&loc, a.c_str(), &loc, b, 0), 0);
    EXPECT_EQ(read_file(local("b.bin")), data);
    EXPECT_EQ(fio_rename(&loc, a.c_str(), &loc, b, 1), -1);
    ASSERT_EQ(fio_rename(&loc, a.c_str(), &loc, star, 1), 0);
    EXPECT_EQ(read_file(site.local(star.s)), data);
    EXPECT_FALSE(file_exists(local("a.bin")));
    ASSERT_EQ(fio_copy(&loc, star.s, nullptr, back, 0), 0);  // remote to local
    EXPECT_EQ(read_file(back.s), data);
}

TEST_P(RemoteIo, UnterminatedServerIsRefused) {
    std::memset(loc.server, 'a', sizeof loc.server);
    errno = 0;
    EXPECT_EQ(fio_open(&loc, rp("f.bin").c_str(), 0), -1);
    EXPECT_EQ(errno, TAV_EINVAL);
    EXPECT_EQ(count("RPCIFSopen"), 0u);
}

TEST_P(RemoteIo, CachedCopyServesReadOnlyOpensUntilTheRemoteFileChanges) {
    write_file(local("doc.bin"), "old");
    std::string copy = here.file("copy.bin");
    write_file(copy, "new content");
    ASSERT_EQ(fio_replace(&loc, rp("doc.bin").c_str(), nullptr, copy.c_str()), 0);
    EXPECT_EQ(read_text(local("doc.bin")), "new content");
    EXPECT_EQ(dir_entries(server.path()), 1u);
    EXPECT_EQ(dir_entries(temp.path()), 1u);  // the library's copy
    reset();
    EXPECT_EQ(remote_text("doc.bin"), "new content");
    EXPECT_TRUE(servedLocally);
    EXPECT_EQ(count("RPCIFSopen"), 0u);
    int fd = fio_open(&loc, rp("doc.bin").c_str(), kFioModeReadWrite);  // writers go to the server
    EXPECT_EQ(fio_is_remote(fd), 1);
    fio_close(fd);
    write_file(local("doc.bin"), "changed elsewhere");
    EXPECT_EQ(remote_text("doc.bin"), "changed elsewhere");
    EXPECT_FALSE(servedLocally);
    EXPECT_EQ(dir_entries(temp.path()), 0u);  // the stale copy is gone ...
    EXPECT_EQ(read_text(copy), "new content");  // ... and the caller's file stays
}

// The cache serves the library's own copy of what went to the server: the
// caller's file may change or go; and the copy is served only while it is
// the file the library made.
TEST_P(RemoteIo, CachedCopyIsTheLibrarysOwn) {
    write_file(local("doc.bin"), "old");
    std::string copy = here.file("copy.bin");
    write_file(copy, "sent");
    ASSERT_EQ(fio_replace(&loc, rp("doc.bin").c_str(), nullptr, copy.c_str()), 0);
    write_file(copy, "rewritten in place by the caller");
    EXPECT_EQ(remote_text("doc.bin"), "sent");
    EXPECT_TRUE(servedLocally);
    std::filesystem::remove(copy);
    write_file(copy, "a new file");
    EXPECT_EQ(remote_text("doc.bin"), "sent");
    EXPECT_TRUE(servedLocally);

    // Another file put in the copy's place is neither served nor deleted.
    ASSERT_EQ(dir_entries(temp.path()), 1u);
    std::string cached = std::filesystem::directory_iterator(temp.path())->path();
    std::filesystem::remove(cached);
    write_file(cached, "planted");
    EXPECT_EQ(remote_text("doc.bin"), "sent");
    EXPECT_FALSE(servedLocally);
    EXPECT_EQ(read_text(cached), "planted");
    std::filesystem::remove(cached);

    // A new replace: its copy goes at the end, the caller's file stays.
    ASSERT_EQ(fio_replace(&loc, rp("doc.bin").c_str(), nullptr, copy.c_str()), 0);
    EXPECT_EQ(dir_entries(temp.path()), 1u);
    fio_drop_cached_copy();
    EXPECT_EQ(dir_entries(temp.path()), 0u);
    EXPECT_EQ(read_text(copy), "a new file");
}

// Pages written through a descriptor of the target would be lost to the
// replace, so a target open for writing under any spelling of its path is
// refused; readers do not stand in the way.
TEST_P(RemoteIo, ReplaceRefusesATargetOpenForWriting) {
    std::filesystem::create_directory(local("sub"));
    write_file(local("sub/t.bin"), "old");
    std::string source = here.file("s.bin");
    write_file(source, "new");
    int reader = fio_open(&loc, rp("sub/t.bin").c_str(), 0);
    int writer = fio_open(&loc, rp("sub/t.bin").c_str(), kFioModeReadWrite);
    ASSERT_GT(writer, 0);
    ASSERT_EQ(fio_write(writer, "written", 7), 7);
    for (const char* target : {"sub/t.bin", "sub\\t.bin", "sub//t.bin"}) {
        errno = 0;
        EXPECT_EQ(fio_replace(&loc, rp(target).c_str(), nullptr, source.c_str()), -1) << target;
        EXPECT_EQ(errno, TAV_EACCES) << target;
    }
    EXPECT_EQ(dir_entries(local("sub")), 1u);
    ASSERT_EQ(fio_close(writer), 0);
    EXPECT_EQ(read_text(local("sub/t.bin")), "written");
    ASSERT_EQ(fio_replace(&loc, rp("sub/t.bin").c_str(), nullptr, source.c_str()), 0);
    EXPECT_EQ(read_text(local("sub/t.bin")), "new");
    fio_close(reader);
}

// The copy to the server fails half-way, and so does deleting what it
// left. That stays under a name of its own beside the target, the copy is
// made again under the next name, and the target's name holds the old file
// until the new one takes its place.
TEST_P(RemoteIo, CopyToTheServerThatFailsNeverStandsAtTheTarget) {
    write_file(local("t.bin"), "old");
    std::string source = here.file("s.bin");
    write_file(source, "new");
    fail("RPCIFSwrite", kRpcIoError, 0, 0);
    fail("RPCIFSremove", kRpcIoError, 0, 0);
    ASSERT_EQ(fio_replace(&loc, rp("t.bin").c_str(), nullptr, source.c_str()), 0) << errno;
    EXPECT_EQ(read_text(local("t.bin")), "new");
    EXPECT_EQ(read_text(source), "new");
    std::vector<std::string> others;
    for (auto& f : std::filesystem::directory_iterator(server.path()))
        if (f.path().filename() != "t.bin") others.push_back(read_text(f.path()));
    EXPECT_EQ(others, std::vector<std::string>{""});  // the partial copy
}

// A local file replaces a remote one: moving it into the target's place
// fails, and so does moving the target back. The target's content then lies
// only under its backup name, and the result says so.
TEST_P(RemoteIo, ReplaceThatCannotBeUndoneReportsTheTargetAside) {
    write_file(local("t.bin"), "old");
    std::string source = here.file("s.bin");
    write_file(source, "new");
    fail("RPCIFSrename", kRpcIoError, 0, 1);  // the backup works, the move in fails
    fail("RPCIFSrename", kRpcIoError, 0, 2);  // and so does the way back
    errno = 0;
    EXPECT_EQ(fio_replace(&loc, rp("t.bin").c_str(), nullptr, source.c_str()), -1);
    EXPECT_EQ(errno, TAV_E_TARGET_ASIDE);
    EXPECT_FALSE(file_exists(local("t.bin")));
    ASSERT_EQ(dir_entries(server.path()), 1u);
    EXPECT_EQ(read_text(std::filesystem::directory_iterator(server.path())->path()), "old");
    EXPECT_EQ(read_text(source), "new");
}

// The same failure under a page deletion: the edited document survives
// only in its work file, which is kept. A deletion that works leaves only
// the cache's copy in the temporary directory.
TEST_P(RemoteIo, DeletionThatCannotBeUndoneKeepsTheWorkFile) {
    auto original = edit_test::build_tiff(edit_test::numbered_pages(3, 1, 64), false, 0, true);
    write_file(local("doc.tif"), original);
    fail("RPCIFSrename", kRpcIoError, 0, 1);
    fail("RPCIFSrename", kRpcIoError, 0, 2);
    uint32_t err = 0;
    errno = 0;
    EXPECT_EQ(xtavdelpgs(&loc, PathBuf(rp("doc.tif")), 2, 2, &err), -1);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(errno, TAV_E_TARGET_ASIDE);
    ASSERT_EQ(dir_entries(server.path()), 1u);  // the old document, under its backup name
    std::string aside = std::filesystem::directory_iterator(server.path())->path();
    EXPECT_EQ(read_file(aside), original);
    ASSERT_EQ(dir_entries(temp.path()), 1u);  // the edited one, in the work file
    std::string work = std::filesystem::directory_iterator(temp.path())->path();
    edit_test::Reader edited(read_file(work));
    EXPECT_EQ(edited.chain().size(), 2u);

    std::filesystem::rename(aside, local("doc.tif"));
    std::filesystem::remove(work);
    ASSERT_EQ(xtavdelpgs(&loc, PathBuf(rp("doc.tif")), 2, 2, &err), 0) << errno;
    EXPECT_EQ(edit_test::Reader(read_file(local("doc.tif"))).chain().size(), 2u);
    EXPECT_EQ(dir_entries(temp.path()), 1u);
    fio_drop_cached_copy();
    EXPECT_EQ(dir_entries(temp.path()), 0u);
}

TEST_P(RemoteIo, UnloadingTheLibraryDeletesTheCachedCopy) {
    std::string lib = std::string(QVTAV_OUT_DIR) + "/libqvtav400.so";
    if (!file_exists(lib)) GTEST_SKIP() << "shared library not built";
    write_file(local("doc.bin"), "old");
    std::string copy = here.file("copy.bin");
    write_file(copy, "new");
    EXPECT_EQ(in_child([&] {
                  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
                  using Replace = int32_t (*)(FileLocation*, char*, FileLocation*, char*, uint32_t*);
                  auto replace = h ? reinterpret_cast<Replace>(dlsym(h, "xifsreplace")) : nullptr;
                  uint32_t err = 0;
                  PathBuf t(rp("doc.bin")), s(copy);
                  if (!replace || replace(&loc, t, nullptr, s, &err) != 0) return 10;
                  if (dir_entries(temp.path()) != 1) return 11;
                  dlclose(h);
                  return dir_entries(temp.path()) == 0 ? 0 : 12;
              }),
              0);
    EXPECT_EQ(read_text(local("doc.bin")), "new");
    EXPECT_EQ(read_text(copy), "new");  // the caller's file is never deleted
}

INSTANTIATE_REMOTE_SUITE(RemoteIo);

}  // namespace
