// Unique names: the seed sequence, the trial letter, directories with and
// without a final separator, the temporary directory, and xifsduplicate.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fileio/fio.h"
#include "test_util.h"

namespace {

std::string pid4() {
    char b[8];
    std::snprintf(b, sizeof b, "%04u", unsigned(getpid()) % 10000u);
    return b;
}

// Runs one test of this program again in a fresh process, in which no name
// has been made yet; its exit status.
int run_fresh(const char* testName) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("QVTAV_FRESH_PROCESS", "1", 1);
        std::string filter = std::string("--gtest_filter=") + testName;
        execl("/proc/self/exe", "qvtav_tests", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

std::string name_in(const std::string& dir, const char* dirArg = nullptr) {
    char out[TAV_PATH_SIZE];
    tmp_name_in_dir(nullptr, dirArg ? dirArg : dir.c_str(), out);
    return out;
}

TEST(Names, FirstThreeNamesOfAProcessCarrySeedsAaBaCa) {
    if (!std::getenv("QVTAV_FRESH_PROCESS")) {
        EXPECT_EQ(run_fresh("Names.FirstThreeNamesOfAProcessCarrySeedsAaBaCa"), 0);
        return;
    }
    TempDir d;
    for (const char* seed : {"aa", "ba", "ca"})
        EXPECT_EQ(name_in(d.path()), d.path() + "/" + seed + "a" + pid4());
}

TEST(Names, SeedCountsWithTheFirstLetterFastest) {
    TempDir d;
    std::string prev = name_in(d.path());
    for (int i = 0; i < 30; ++i) {
        std::string next = name_in(d.path());
        char a = prev[d.path().size() + 1], b = prev[d.path().size() + 2];
        char na = a == 'z' ? 'a' : char(a + 1);
        char nb = a == 'z' ? (b == 'z' ? 'a' : char(b + 1)) : b;
        EXPECT_EQ(next[d.path().size() + 1], na) << prev << " -> " << next;
        EXPECT_EQ(next[d.path().size() + 2], nb) << prev << " -> " << next;
        prev = next;
    }
}

TEST(Names, TakenTrialLetterMovesOnToTheNext) {
    TempDir d;
    // Whatever the seed, its name with trial letter a exists.
    for (char a = 'a'; a <= 'z'; ++a)
        for (char b = 'a'; b <= 'z'; ++b)
            write_file(d.path() + "/" + a + b + "a" + pid4(), "");
    std::string n = name_in(d.path());
    ASSERT_EQ(n.size(), d.path().size() + 8);
    EXPECT_EQ(n[d.path().size() + 3], 'b');
    EXPECT_FALSE(file_exists(n));

    // A pattern whose every trial letter is taken gives the empty string.
    for (char c = 'a'; c <= 'z'; ++c) write_file(d.path() + "/zz" + c + pid4(), "");
    char pattern[TAV_PATH_SIZE];
    std::snprintf(pattern, sizeof pattern, "%s/zzXXXXX", d.path().c_str());
    EXPECT_STREQ(fio_unique_name(nullptr, pattern), "");
    // Without X the name itself is tested.
    std::snprintf(pattern, sizeof pattern, "%s/plain", d.path().c_str());
    EXPECT_EQ(std::string(fio_unique_name(nullptr, pattern)), d.path() + "/plain");
    write_file(d.path() + "/plain", "");
    EXPECT_STREQ(fio_unique_name(nullptr, pattern), "");
}

TEST(Names, DirectoryWithOrWithoutFinalSeparator) {
    TempDir d;
    std::string withSep = d.path() + "/";
    for (const std::string& n : {name_in(d.path()), name_in("", withSep.c_str())}) {
        EXPECT_EQ(n.rfind(withSep, 0), 0u) << n;
        EXPECT_EQ(n.size(), withSep.size() + 7) << n;
        EXPECT_EQ(n.find("//"), std::string::npos) << n;
    }
    // No directory at all: the name stands alone, relative to the current one.
    EXPECT_EQ(name_in("", "").size(), 7u);
}

TEST(Names, TemporaryDirectoryAndSharedBuffer) {
    TempDir d;
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", d.path().c_str(), 1);
    std::string n = tmp_name_in_tempdir(nullptr);  // the shared buffer
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
    EXPECT_EQ(n.rfind(d.path() + "/", 0), 0u) << n;
    EXPECT_EQ(n.size(), d.path().size() + 8);
}

TEST(Names, DirectoryTooLongForAnyNameIsRefused) {
    std::string longDir = "/tmp/" + std::string(250, 'd');
    char out[TAV_PATH_SIZE];
    errno = 0;
    EXPECT_STREQ(tmp_name_in_dir(nullptr, longDir.c_str(), out), "");
    EXPECT_EQ(errno, TAV_EINVAL);
    PathBuf star(longDir + "/*");
    errno = 0;
    EXPECT_EQ(fio_creat(nullptr, star, 0), -1);
    EXPECT_EQ(errno, TAV_EINVAL);
}

TEST(Names, DuplicateCopiesBesideTheSource) {
    TempDir d;
    std::string src = d.file("A.TIF");
    write_file(src, std::string(70000, 'q') + "end");
    char dest[TAV_PATH_SIZE];
    uint32_t err = 99;
    PathBuf s(src);
    ASSERT_EQ(xifsduplicate(nullptr, s, dest, &err), 0);
    EXPECT_EQ(err, 0u);
    std::string out = dest;
    EXPECT_EQ(out.rfind(d.path() + "/", 0), 0u);
    EXPECT_EQ(out.size(), d.path().size() + 1 + 7);
    EXPECT_EQ(read_file(out), read_file(src));

    // A source without a directory: the copy lands in the current directory.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(d.path().c_str()), 0);
    PathBuf bare("A.TIF");
    int r = xifsduplicate(nullptr, bare, dest, &err);
    std::string copy = dest;
    bool there = file_exists(d.file(copy));
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(copy.size(), 7u);
    EXPECT_TRUE(there);
    EXPECT_EQ(read_file(d.file(copy)), read_file(src));
}

}  // namespace
