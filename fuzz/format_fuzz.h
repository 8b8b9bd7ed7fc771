// Shared by the harnesses of the single-image formats: the input, with the
// marks that make detection pick the harness's format written over its
// first bytes, is read as a document (every page's information, palette,
// profile and data, as one stream and strip by strip).
#pragma once

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "fuzz_util.h"

namespace fuzz {

// Writes mark at offset `at`, growing the file when it is shorter.
inline void put_mark(std::vector<uint8_t>& file, size_t at, std::initializer_list<uint8_t> mark) {
    if (file.size() < at + mark.size()) file.resize(at + mark.size());
    std::copy(mark.begin(), mark.end(), file.begin() + long(at));
}

inline int read_file_as_document(const std::vector<uint8_t>& file) {
    const std::string path = work_file("doc.tif");
    save(path, file.data(), file.size());
    read_document(path);
    end_run();
    return 0;
}

}  // namespace fuzz
