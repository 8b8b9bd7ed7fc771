// Safety of whole-document edits: a killed edit, a full disk, a file locked
// by another writer, permission bits. In every failure the document stays
// byte for byte as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "edit_tiff_util.h"
#include "platform/plat_file.h"
#include "qvtav.h"
#include "stepped_child.h"
#include "test_util.h"

using namespace edit_test;

namespace {

// 0 deletes pages 10 to 20, 1 sets a title too long for the block (a
// rewrite), 2 a short title (in place when the block has room).
int run_edit(const std::string& path, int which) {
    uint32_t err = 0;
    if (which == 0) return xtavdelpgs(nullptr, PathBuf(path), 10, 20, &err);
    PageInfo info{};
    info.title = const_cast<char*>(which == 1 ? "a title much longer than the block reserved in the original file" : "t");
    info.author = const_cast<char*>("author");
    info.subject = info.keywords = info.comments = const_cast<char*>("");
    return xtavputprops(nullptr, PathBuf(path), &info, &err);
}

const std::vector<uint8_t>& fifty_pages() {
    static const auto bytes = build_tiff(numbered_pages(50, 4, 1024), false, 52, true);
    return bytes;
}

}  // namespace

// Each edit is killed after chosen steps of the platform layer: about forty
// spread over the whole edit and every one of its last twelve (the replace).
// After each kill the document is the original or the finished edit.
TEST(EditSafety, KilledEditLeavesOriginalOrFinishedFile) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto& original = fifty_pages();
    for (int which = 0; which < 2; ++which) {
        write_file(path, original);
        SteppedChild counting([&] { return run_edit(path, which); });
        int steps = 0;
        for (char c = counting.next(); c != SteppedChild::kDone; c = counting.next(), ++steps) {
            ASSERT_NE(c, 0) << "the edit died";
            counting.go_on();
        }
        ASSERT_EQ(counting.finish(), 0);
        const auto finished = read_file(path);
        ASSERT_NE(finished, original);
        ASSERT_GT(steps, 12);
        int intact = 0, done = 0;
        for (int killAfter = 1; killAfter <= steps; killAfter += killAfter >= steps - 12 ? 1 : std::max(1, steps / 40)) {
            write_file(path, original);
            SteppedChild child([&] { return run_edit(path, which); });
            ASSERT_TRUE(child.kill_after(killAfter)) << "the edit ended before step " << killAfter;
            auto now = read_file(path);
            if (now == original) {
                ++intact;
            } else {
                ASSERT_EQ(now, finished) << "edit " << which << " killed after step " << killAfter << " of " << steps;
                ++done;
            }
        }
        EXPECT_GT(intact, 0);
        EXPECT_GT(done, 0);
    }
    // Stray work files do not disturb a later edit, and none takes the
    // document's name.
    write_file(path, original);
    ASSERT_EQ(run_edit(path, 0), 0) << errno;
    for (const auto& name : dir_names(d.path()))
        if (name != "doc.tif") { EXPECT_EQ(name.find("doc"), std::string::npos) << name; }
}

TEST(EditSafety, FullDiskLeavesOriginalAndNoWorkFile) {
    TempDir d;
    std::string path = d.file("doc.tif");
    for (int which = 0; which < 2; ++which) {
        write_file(path, fifty_pages());
        EXPECT_EQ(in_child([&] {
                      rlimit lim{};
                      lim.rlim_cur = lim.rlim_max = fifty_pages().size() / 2;
                      signal(SIGXFSZ, SIG_IGN);
                      if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return 2;
                      return run_edit(path, which) == -1 ? 0 : 1;
                  }),
                  0)
            << "edit " << which << " should fail";
        EXPECT_EQ(read_file(path), fifty_pages());
        EXPECT_EQ(dir_names(d.path()), std::vector<std::string>{"doc.tif"});
    }
}

TEST(EditSafety, FileLockedByAnotherWriterIsRefusedWith13) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto original = build_tiff(numbered_pages(3, 1, 64), false, 200, true);
    write_file(path, original);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = plat_open(path.c_str(), kPlatReadWrite);  // holds the write lock
        char c = fd >= 0 ? 'y' : 'n';
        (void)!write(toParent[1], &c, 1);
        (void)!read(toChild[0], &c, 1);
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(read(toParent[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');
    uint32_t err = 0;
    for (int which = 0; which < 3; ++which) {  // page 2, a title that fits in place, every page
        errno = 0;
        EXPECT_EQ(which == 1 ? run_edit(path, 2) : xtavdelpgs(nullptr, PathBuf(path), which ? 1 : 2, which ? 3 : 2, &err), -1);
        EXPECT_EQ(errno, TAV_EACCES) << which;
    }
    EXPECT_EQ(read_file(path), original);
    EXPECT_EQ(dir_names(d.path()), std::vector<std::string>{"doc.tif"});
    (void)!write(toChild[1], "x", 1);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(xtavdelpgs(nullptr, PathBuf(path), 2, 2, &err), 0) << errno;
}

TEST(EditSafety, PermissionBitsAreKept) {
    TempDir d;
    std::string path = d.file("doc.tif");
    for (mode_t mode : {0640, 0604}) {
        write_file(path, build_tiff(numbered_pages(30, 1, 64), false, 0, true));
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_EQ(run_edit(path, 0), 0) << errno;
        ASSERT_EQ(run_edit(path, 1), 0) << errno;
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
    }
}
