#include "test_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <algorithm>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/qvtav-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TempDirOverride::TempDirOverride(const std::string& dir) {
    const char* old = std::getenv("TMPDIR");
    if (old) saved_ = old;
    had_ = old != nullptr;
    setenv("TMPDIR", dir.c_str(), 1);
}

TempDirOverride::~TempDirOverride() {
    if (had_)
        setenv("TMPDIR", saved_.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

int run_command(const std::string& cmd) {
    int rc = std::system(cmd.c_str());
    if (rc == -1) return -1;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool have_program(const std::string& name) {
    return run_command("command -v " + name + " >/dev/null 2>&1") == 0;
}

namespace {

bool missing(bool present, const std::string& what) {
    if (present) return false;
#ifdef QVTAV_REQUIRE_ORACLES
    ADD_FAILURE() << what << " is missing, and this build requires every oracle";
#else
    (void)what;
#endif
    return true;
}

}  // namespace

bool oracle_missing(const std::string& program) { return missing(have_program(program), program); }

bool pillow_missing() {
    return missing(run_command("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0, "Pillow");
}

PathBuf::PathBuf(const std::string& p) {
    std::memset(s, 0, sizeof s);
    std::snprintf(s, sizeof s, "%s", p.c_str());
}

std::string read_text(const std::string& path) {
    const std::vector<uint8_t> b = read_file(path);
    return std::string(b.begin(), b.end());
}

std::vector<std::string> dir_names(const std::string& dir) {
    std::vector<std::string> v;
    for (const auto& e : std::filesystem::directory_iterator(dir)) v.push_back(e.path().filename());
    std::sort(v.begin(), v.end());
    return v;
}

size_t dir_entries(const std::string& dir) { return dir_names(dir).size(); }

int open_descriptors() { return int(dir_entries("/proc/self/fd")); }
