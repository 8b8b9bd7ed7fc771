// Helpers shared by the tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "qvtav.h"

// The bytes of a hand-made file: little- and big-endian fields appended one
// after another, or little-endian fields put at their offsets (the buffer
// grows to hold them).
struct Bytes {
    std::vector<uint8_t> b;
    Bytes() = default;
    explicit Bytes(size_t n) : b(n, 0) {}
    Bytes& u8(std::initializer_list<uint8_t> v) {
        b.insert(b.end(), v);
        return *this;
    }
    Bytes& le16(uint32_t v) { return u8({uint8_t(v), uint8_t(v >> 8)}); }
    Bytes& le32(uint32_t v) { return le16(v & 0xFFFF).le16(v >> 16); }
    Bytes& be16(uint32_t v) { return u8({uint8_t(v >> 8), uint8_t(v)}); }
    Bytes& text(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& fill(size_t n, uint8_t v = 0) {
        b.insert(b.end(), n, v);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    size_t size() const { return b.size(); }
    // n bytes of v, little-endian, at offset at.
    void put(size_t at, uint32_t v, int n) {
        if (b.size() < at + n) b.resize(at + n);
        for (int i = 0; i < n; ++i) b[at + i] = uint8_t(v >> (8 * i));
    }
    // A little-endian TIFF directory entry at offset at.
    void entry(size_t at, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put(at, tag, 2), put(at + 2, type, 2), put(at + 4, count, 4), put(at + 8, value, 4);
    }
};

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
std::string read_text(const std::string& path);
// The names in a directory, sorted; how many there are; the descriptors
// this process has open.
std::vector<std::string> dir_names(const std::string& dir);
size_t dir_entries(const std::string& dir);
int open_descriptors();
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
// Runs body in a forked child whose exit status is body's result; the
// status, 100 when the child did not exit by itself.
template <typename Body>
int in_child(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}
// A mutable path buffer for the exports that take char*.
struct PathBuf {
    char s[TAV_PATH_SIZE];
    explicit PathBuf(const std::string& p);
    operator char*() { return s; }
};
