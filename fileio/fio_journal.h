// The original bytes below a length that writes through one descriptor
// replace, each saved once, so that the writes can be undone: an aborted
// update puts them back before the file is cut to its length at open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class FioJournal {
public:
    // Reads or writes n bytes at a file offset: 0, or -1 with errno.
    using Access = std::function<int(uint32_t pos, uint8_t* buf, uint32_t n)>;

    explicit FioJournal(uint32_t length) : length_(length) {}

    // Before n bytes are written at pos: saves those of them below the
    // length not saved yet, read through `read`. 0, or -1 with errno (12
    // without memory): the write must then not happen.
    int save(uint32_t pos, uint32_t n, const Access& read);
    // Writes every saved range back through `write`; the first failure's
    // -1, after trying them all.
    int restore(const Access& write);
    // The file's length when the journal started.
    uint32_t length() const { return length_; }

private:
    uint32_t length_;
    std::map<uint32_t, std::vector<uint8_t>> saved_;  // by offset, never overlapping
};
