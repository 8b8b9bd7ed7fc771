// Unique names: the trial letter, directories with and
// without a final separator, the length limit, and xifsduplicate.
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

std::string name_in(const std::string& dir) {
    char out[TAV_PATH_SIZE];
    tmp_name_in_dir(nullptr, dir.c_str(), out);
    return out;
}

TEST(Names, TakenTrialLetterMovesOnToTheNext) {
    TempDir d;
    for (char a = 'a'; a <= 'z'; ++a)  // whatever the seed, trial letter a is taken
        for (char b = 'a'; b <= 'z'; ++b) write_file(d.path() + "/" + a + b + "a" + pid4(), "");
    std::string n = name_in(d.path());
    ASSERT_EQ(n.size(), d.path().size() + 8);
    EXPECT_EQ(n[d.path().size() + 3], 'b');
    EXPECT_FALSE(file_exists(n));
}

TEST(Names, DirectoryWithOrWithoutSeparatorAndTooLong) {
    TempDir d;
    std::string withSep = d.path() + "/";
    for (const std::string& n : {name_in(d.path()), name_in(withSep)}) {
        EXPECT_EQ(n.rfind(withSep, 0), 0u) << n;
        EXPECT_EQ(n.size(), withSep.size() + 7) << n;
    }
    errno = 0;
    EXPECT_EQ(name_in("/tmp/" + std::string(250, 'd')), "");  // no room left for a name
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
    EXPECT_EQ(std::string(dest).rfind(d.path() + "/", 0), 0u);
    EXPECT_EQ(std::string(dest).size(), d.path().size() + 8);
    EXPECT_EQ(read_file(dest), read_file(src));
    // Without a directory: the copy lands in the current one.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(d.path().c_str()), 0);
    PathBuf bare("A.TIF");
    int r = xifsduplicate(nullptr, bare, dest, &err);
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(std::string(dest).size(), 7u);
    EXPECT_EQ(read_file(d.file(dest)), read_file(src));
}

}  // namespace
