// The undo journal of a descriptor: original bytes saved before they are
// first overwritten.
#include "fileio/fio_journal.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "qvtav.h"

int FioJournal::save(uint32_t pos, uint32_t n, const Access& read) {
    uint64_t end = std::min<uint64_t>(uint64_t(pos) + n, length_);
    uint64_t at = pos;
    try {
        while (at < end) {
            // The saved range that starts after `at`, and the one before it.
            auto next = saved_.upper_bound(uint32_t(at));
            if (next != saved_.begin()) {
                auto prev = std::prev(next);
                uint64_t prevEnd = uint64_t(prev->first) + prev->second.size();
                if (prevEnd > at) {
                    at = prevEnd;  // already saved
                    continue;
                }
            }
            uint64_t gapEnd = next == saved_.end() ? end : std::min<uint64_t>(end, next->first);
            std::vector<uint8_t> bytes(size_t(gapEnd - at));
            if (read(uint32_t(at), bytes.data(), uint32_t(bytes.size())) < 0) return -1;
            saved_.emplace(uint32_t(at), std::move(bytes));
            at = gapEnd;
        }
    } catch (const std::bad_alloc&) {
        errno = TAV_ENOMEM;
        return -1;
    }
    return 0;
}

int FioJournal::restore(const Access& write) {
    int rc = 0, code = 0;
    for (auto& [pos, bytes] : saved_) {
        if (write(pos, bytes.data(), uint32_t(bytes.size())) < 0 && rc == 0) {
            rc = -1;
            code = errno;
        }
    }
    if (rc) errno = code;
    return rc;
}
