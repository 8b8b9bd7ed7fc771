// Shared by the libFuzzer harnesses: a private working directory, the walk
// that reads every page of a document through the exports, and the checks
// that every run leaves the library as it found it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qvtav.h"

namespace fuzz {

// The harness's own directory (under /dev/shm when it exists), made at the
// first call and removed at exit. Files of one run live only for that run.
const std::string& work_dir();
std::string work_file(const char* name);

// Writes the fuzzer's input to a file of the working directory.
void save(const std::string& path, const uint8_t* data, size_t size);
uint64_t file_size(const std::string& path);  // 0 when the file is missing

// A mutable path buffer for the exports that take char*.
struct PathBuf {
    char s[TAV_PATH_SIZE];
    explicit PathBuf(const std::string& path);
    operator char*() { return s; }
};

// Opens a document for reading and visits its pages: each page's
// information, its auxiliary data (texts, tables, profile, both private
// areas, strip byte counts), its data as one stream and strip by strip.
// Returns the page count, or -1 when the document does not open.
int read_document(const std::string& path);
// The page count of a document opened for reading, or -1.
int count_pages(const std::string& path);

// Opens a document for update; the handle, or -1. *pages gets the count,
// *type (when given) the file type.
int32_t open_update(const std::string& path, uint32_t* pages, uint32_t* type = nullptr);
// Starts and writes one small bilevel page as page `page` of an open handle
// of a file of type `type`: 0 when every call succeeds. An AWD page, which
// takes rows until a call of fewer bytes than a row, is ended so.
int append_page(int32_t handle, uint32_t page, uint32_t type);

// Aborts with a message when a file has grown far beyond what an edit of
// an input of `inputSize` bytes and `pages` pages can legitimately add.
void check_growth(const std::string& path, size_t inputSize, uint32_t pages, const char* what);

// Aborts with a message: a fault the fuzzer should keep.
[[noreturn]] void fault(const std::string& what);

// Called at the end of every run: aborts when a handle, a descriptor or a
// memory-table block outlives the run, or when the working directory holds
// a file the run did not make (a work file left behind); then empties it.
void end_run();

}  // namespace fuzz
