// Update sessions on TIFF files whose directory chain and page offset table
// disagree, checked page by page against a list model. Bytes choose the
// file (byte order, directories, the pages the table lists, where the chain
// leads, which directory carries the table) and the session (moves and
// appended pages in any order, then a close or an abort). Shared by the
// unit test, which runs sessions from a fixed seed, and the libFuzzer
// harness, which runs the sessions the fuzzer's bytes choose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace update_session {

struct Outcome {
    std::string fault;   // what went wrong first; empty when every check held
    int calls = 0;       // moves and appends made
    int refused = 0;     // of them refused (the file then as it was)
    bool closed = false; // the session ended with a close (else an abort)
};

// Writes the file the bytes choose to `path` and runs the session on it.
// A call may be refused, but then the pages stay as they were; an abort
// gives the file back byte for byte; after a close the file reads as the
// model says, page by page.
Outcome run(const std::string& path, const uint8_t* data, size_t size);

}  // namespace update_session
