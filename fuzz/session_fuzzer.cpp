// Update sessions on files whose chain and page offset table disagree: the
// fuzzer's bytes choose the file and the moves and appended pages, and every
// page the table lists must come through the session (or the call that
// cannot keep it is refused); an abort gives the file back byte for byte.
#include "fuzz_util.h"
#include "update_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const update_session::Outcome out = update_session::run(fuzz::work_file("doc.tif"), data, size);
    if (!out.fault.empty()) fuzz::fault("update session: " + out.fault);
    fuzz::end_run();
    return 0;
}
