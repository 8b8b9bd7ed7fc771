// The tool's renderer: the input opened as a document of whatever type the
// library finds (the seeds hold one file of each), and its first pages
// decoded into pixels with small limits, shown as displayed, shrunk for a
// contact sheet and written as PNG in memory. A page may be refused; the
// decoders (libtiff, libjpeg, giflib and the run-length unpackers) must
// never read or write out of bounds, hang, or allocate beyond the limits.
#include "display.h"
#include "document.h"
#include "fuzz_util.h"
#include "page_picture.h"
#include "png_writer.h"
#include "sheet.h"
#include "tool_error.h"

namespace {

constexpr uint32_t kMaxPagesDrawn = 4;
constexpr uint32_t kSheetWidth = 400;
const qvtool::Limits kLimits{uint64_t(8) << 20};

void draw(qvtool::Document& doc, uint32_t page, const qvtool::SheetLayout& layout) {
    using namespace qvtool;
    try {
        PageReader rd(doc);
        rd.load(page, true);
        const Picture p = page_picture(rd, doc.file_type(), kLimits);
        const uint32_t orientation = display_orientation(rd.info(), doc.file_type());
        png_bytes(as_displayed(p, orientation, kLimits));
        page_thumbnail(p, orientation, layout, kLimits);
    } catch (const DrawError&) {
    } catch (const ToolError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::work_file("doc.tif");
    fuzz::save(path, data, size);
    {
        qvtool::Document doc(qvtool::Location(), path);
        try {
            doc.open(TAV_OPEN_READ);
            if (doc.file_type() != FILETYPE_RAW && doc.page_count() != 0) {
                const qvtool::SheetLayout layout = qvtool::sheet_layout(doc.page_count(), kSheetWidth, 0);
                for (uint32_t page = 1; page <= doc.page_count() && page <= kMaxPagesDrawn; ++page)
                    draw(doc, page, layout);
            }
            doc.close();
        } catch (const qvtool::ToolError&) {
        }
    }
    fuzz::end_run();
    return 0;
}
