// Safety of whole-document edits: a killed edit, a full disk, a file locked
// by another writer, permission bits. In every failure the document stays
// byte for byte as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>

#include "edit_tiff_util.h"
#include "platform/plat_file.h"
#include "qvtav.h"
#include "test_util.h"

using namespace edit_test;

namespace {

std::vector<std::string> names_in(const TempDir& d) {
    std::vector<std::string> v;
    for (auto& e : std::filesystem::directory_iterator(d.path())) v.push_back(e.path().filename());
    return v;
}

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

TEST(EditSafety, KilledEditLeavesOriginalOrFinishedFile) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto& original = fifty_pages();
    std::vector<uint8_t> reference[2];
    double seconds[2];
    for (int which = 0; which < 2; ++which) {
        write_file(path, original);
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(run_edit(path, which), 0) << errno;
        seconds[which] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        reference[which] = read_file(path);
        ASSERT_NE(reference[which], original);
    }
    std::mt19937 rng(12345);
    int intact = 0, finished = 0;
    for (int round = 0; round < 300; ++round) {
        int which = round % 2;
        write_file(path, original);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(run_edit(path, which) == 0 ? 0 : 1);
        // Somewhere between the start and a little after the usual duration.
        std::uniform_real_distribution<double> at(0.0, seconds[which] * 1.5 + 0.0005);
        usleep(useconds_t(at(rng) * 1e6));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        auto now = read_file(path);
        if (now == original) {
            ++intact;
        } else {
            ASSERT_EQ(now, reference[which]) << "round " << round;
            ++finished;
        }
    }
    EXPECT_GT(intact, 0);
    EXPECT_GT(finished, 0);
    // Stray work files do not disturb a later edit, and none takes the
    // document's name.
    write_file(path, original);
    ASSERT_EQ(run_edit(path, 0), 0) << errno;
    EXPECT_EQ(read_file(path), reference[0]);
    for (const auto& name : names_in(d))
        if (name != "doc.tif") { EXPECT_EQ(name.find("doc"), std::string::npos) << name; }
}

TEST(EditSafety, FullDiskLeavesOriginalAndNoWorkFile) {
    TempDir d;
    std::string path = d.file("doc.tif");
    for (int which = 0; which < 2; ++which) {
        write_file(path, fifty_pages());
        pid_t pid = fork();
        if (pid == 0) {
            rlimit lim{};
            lim.rlim_cur = lim.rlim_max = fifty_pages().size() / 2;
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(2);
            _exit(run_edit(path, which) == -1 ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "edit " << which << " should fail";
        EXPECT_EQ(read_file(path), fifty_pages());
        EXPECT_EQ(names_in(d), std::vector<std::string>{"doc.tif"});
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
    EXPECT_EQ(names_in(d), std::vector<std::string>{"doc.tif"});
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
