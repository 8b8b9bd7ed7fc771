// Helpers shared by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvtav.h"

// A fresh directory under the temporary directory, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points TMPDIR at a directory of its own for a scope.
class TempDirOverride {
public:
    explicit TempDirOverride(const std::string& dir);
    ~TempDirOverride();
    TempDirOverride(const TempDirOverride&) = delete;
    TempDirOverride& operator=(const TempDirOverride&) = delete;

private:
    std::string saved_;
    bool had_ = false;
};

void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
void write_file(const std::string& path, const std::string& bytes);
std::vector<uint8_t> read_file(const std::string& path);
bool file_exists(const std::string& path);
// Runs a shell command; returns its exit status (-1 when it could not run).
int run_command(const std::string& cmd);
// True when a program is on PATH.
bool have_program(const std::string& name);
// Oracles are the independent tools a test checks the library against
// (libtiff's programs, ImageMagick, Pillow). A test skips without its
// oracle, except where oracles are required (CI): there the missing oracle
// is a failure of the test. True when the oracle is missing.
bool oracle_missing(const std::string& program);
bool pillow_missing();
// A mutable path buffer for the exports that take char*.
struct PathBuf {
    char s[TAV_PATH_SIZE];
    explicit PathBuf(const std::string& p);
    operator char*() { return s; }
};
