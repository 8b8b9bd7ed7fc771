// Safety of whole-document edits: a killed edit, a full disk, a file locked
// by another writer, permission bits, damaged input. In every failure the
// document stays byte for byte as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <cstdio>
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

PageInfo props_record(const char* title) {
    PageInfo info{};
    info.title = const_cast<char*>(title);
    info.author = const_cast<char*>("author");
    info.subject = const_cast<char*>("subject");
    info.keywords = const_cast<char*>("");
    info.comments = const_cast<char*>("");
    return info;
}

const char kLongTitle[] =
    "a title much longer than the block reserved in the original file, so the file is copied";

// The edit used by the fork tests: 0 deletes pages 10 to 20, 1 replaces the
// properties with texts that need a rewrite.
int run_edit(const std::string& path, int which) {
    uint32_t err = 0;
    if (which == 0) return xtavdelpgs(nullptr, PathBuf(path), 10, 20, &err);
    PageInfo info = props_record(kLongTitle);
    return xtavputprops(nullptr, PathBuf(path), &info, &err);
}

std::vector<uint8_t> fifty_pages() {
    return build_tiff(numbered_pages(50, 4, 1024), false, 52, true);
}

// Runs fn in a child process; its exit status.
template <typename Fn>
int in_child(Fn fn) {
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(EditSafety, KilledEditLeavesOriginalOrFinishedFile) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto original = fifty_pages();
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
    const int rounds = 300;
    for (int round = 0; round < rounds; ++round) {
        int which = round % 2;
        write_file(path, original);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(run_edit(path, which) == 0 ? 0 : 1);
        // Kill somewhere between the start and a little after the edit's
        // usual duration (fork and start-up included).
        auto window = std::chrono::duration<double>(seconds[which] * 1.5 + 0.0005);
        std::uniform_real_distribution<double> at(0.0, window.count());
        usleep(useconds_t(at(rng) * 1e6));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
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
    // Only stray work files can be left; a later edit is not disturbed.
    write_file(path, original);
    ASSERT_EQ(run_edit(path, 0), 0) << errno;
    EXPECT_EQ(read_file(path), reference[0]);
    // Leftovers are work files and backup names of the replace, never the
    // document's name in another state.
    for (const auto& name : names_in(d))
        if (name != "doc.tif") { EXPECT_EQ(name.find("doc"), std::string::npos) << name; }
    std::printf("[ killed ] %d rounds: %d intact, %d finished, %zu stray files\n", rounds, intact,
                finished, names_in(d).size() - 1);
    RecordProperty("intact", intact);
    RecordProperty("finished", finished);
}

TEST(EditSafety, FullDiskLeavesOriginalAndNoWorkFile) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto original = fifty_pages();
    for (int which = 0; which < 2; ++which) {
        write_file(path, original);
        int rc = in_child([&] {
            rlimit lim{};
            lim.rlim_cur = lim.rlim_max = original.size() / 2;
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return 2;
            return run_edit(path, which) == -1 ? 0 : 1;
        });
        EXPECT_EQ(rc, 0) << "the edit should fail";
        EXPECT_EQ(read_file(path), original);
        EXPECT_EQ(names_in(d), std::vector<std::string>{"doc.tif"});
    }
}

TEST(EditSafety, LockedFileIsRefusedWith13) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto original = build_tiff(numbered_pages(3, 1, 64), false, 200, true);
    write_file(path, original);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = plat_open(path.c_str(), kPlatReadWrite);  // a writer holds the lock
        char c = fd >= 0 ? 'y' : 'n';
        (void)!write(toParent[1], &c, 1);
        (void)!read(toChild[0], &c, 1);
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(read(toParent[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');

    uint32_t err = 0;
    errno = 0;
    EXPECT_EQ(xtavdelpgs(nullptr, PathBuf(path), 2, 2, &err), -1);
    EXPECT_EQ(errno, TAV_EACCES);
    PageInfo small = props_record("x");
    errno = 0;
    EXPECT_EQ(xtavputprops(nullptr, PathBuf(path), &small, &err), -1);  // would fit in place
    EXPECT_EQ(errno, TAV_EACCES);
    errno = 0;
    EXPECT_EQ(xtavdelpgs(nullptr, PathBuf(path), 1, 3, &err), -1);  // whole document
    EXPECT_EQ(errno, TAV_EACCES);
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
        write_file(path, build_tiff(numbered_pages(3, 1, 64), false, 0, true));
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        uint32_t err = 0;
        ASSERT_EQ(xtavdelpgs(nullptr, PathBuf(path), 1, 1, &err), 0) << errno;
        PageInfo info = props_record(kLongTitle);
        ASSERT_EQ(xtavputprops(nullptr, PathBuf(path), &info, &err), 0) << errno;
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
    }
}

// Damaged files (random bytes changed in the directories) give a result or
// an error, never a crash, and a failed edit changes nothing.
TEST(EditSafety, DamagedFilesFailCleanly) {
    TempDir d;
    std::string path = d.file("doc.tif");
    const auto good = build_tiff(numbered_pages(4, 3, 40), true, 0, true);
    std::mt19937 rng(7);
    int failed = 0;
    for (int round = 0; round < 300; ++round) {
        auto bytes = good;
        int flips = 1 + int(rng() % 4);
        for (int f = 0; f < flips; ++f) {
            // Mostly in the first directory and its values, sometimes anywhere.
            size_t at = (rng() % 3) ? 8 + rng() % 200 : rng() % bytes.size();
            bytes[at] = uint8_t(rng());
        }
        write_file(path, bytes);
        uint32_t err = 0;
        int r = round % 2 ? xtavdelpgs(nullptr, PathBuf(path), 2, 3, &err)
                          : [&] { PageInfo i = props_record("t"); return xtavputprops(nullptr, PathBuf(path), &i, &err); }();
        if (r != 0) {
            ++failed;
            if (file_exists(path)) {
                ASSERT_EQ(read_file(path), bytes) << "round " << round;
            }
        }
        ASSERT_LE(names_in(d).size(), 1u) << "round " << round;
    }
    EXPECT_GT(failed, 0);
}
