// JPEG streams decoded with libjpeg-turbo: JPEG files (their header and
// scan as the library hands them out) and JPEG-coded TIFF pages.
//
// libjpeg reports a fatal error by calling a function that must not
// return; it jumps back to the setjmp of the one small function that made
// the failing call. Those functions hold no C++ objects, so the jump skips
// no destructor; the caller turns the failure into a DrawError.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "picture_decoders.h"

namespace qvtool {
namespace {

// A progressive stream with more scans than this is taken for damage
// (each scan costs a pass over the whole image).
constexpr int kMaxScans = 1000;

// The error manager and where a fatal error jumps to. libjpeg sees only
// the first member; the callbacks reach the rest through it.
struct ErrorTrap {
    jpeg_error_mgr mgr;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

ErrorTrap* trap_of(j_common_ptr c) { return reinterpret_cast<ErrorTrap*>(c->err); }

[[noreturn]] void on_error(j_common_ptr c) {
    ErrorTrap* t = trap_of(c);
    (*c->err->format_message)(c, t->message);
    std::longjmp(t->jump, 1);
}

// Warnings (corrupt data libjpeg decodes past) stay quiet.
void on_message(j_common_ptr, int) {}

void on_progress(j_common_ptr c) {
    if (!c->is_decompressor || reinterpret_cast<j_decompress_ptr>(c)->input_scan_number <= kMaxScans) return;
    ErrorTrap* t = trap_of(c);
    std::snprintf(t->message, sizeof t->message, "more than %d scans", kMaxScans);
    std::longjmp(t->jump, 1);
}

bool create(jpeg_decompress_struct* d, ErrorTrap* t) {
    if (setjmp(t->jump)) return false;
    jpeg_create_decompress(d);
    return true;
}

bool read_header(jpeg_decompress_struct* d, ErrorTrap* t, const uint8_t* data, size_t size) {
    if (setjmp(t->jump)) return false;
    jpeg_mem_src(d, data, static_cast<unsigned long>(size));
    jpeg_read_header(d, TRUE);
    return true;
}

bool read_rows(jpeg_decompress_struct* d, ErrorTrap* t, uint8_t* rows, size_t stride) {
    if (setjmp(t->jump)) return false;
    jpeg_start_decompress(d);
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = rows + size_t(d->output_scanline) * stride;
        if (jpeg_read_scanlines(d, &row, 1) != 1) break;
    }
    jpeg_abort_decompress(d);
    return true;
}

// The decompressor, destroyed at the end of the scope.
class Decompressor {
public:
    explicit Decompressor(const Limits& limits) {
        std::memset(&d_, 0, sizeof d_);
        std::memset(&t_, 0, sizeof t_);
        d_.err = jpeg_std_error(&t_.mgr);
        t_.mgr.error_exit = on_error;
        t_.mgr.emit_message = on_message;
        if (!create(&d_, &t_)) throw DrawError(std::string("libjpeg: ") + t_.message);
        created_ = true;
        // Coefficient buffers of progressive streams count against the
        // limit; beyond it libjpeg fails instead of allocating.
        d_.mem->max_memory_to_use = long(limits.maxBytes);
        t_.progress.progress_monitor = on_progress;
        d_.progress = &t_.progress;
    }
    ~Decompressor() {
        if (created_) jpeg_destroy_decompress(&d_);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct* get() { return &d_; }
    ErrorTrap* trap() { return &t_; }
    [[noreturn]] void fail() { throw DrawError(std::string("the JPEG data cannot be decoded: ") + t_.message); }

private:
    jpeg_decompress_struct d_;
    ErrorTrap t_;
    bool created_ = false;
};

}  // namespace

Picture jpeg_picture(std::span<const uint8_t> stream, const Limits& limits) {
    Decompressor jd(limits);
    jpeg_decompress_struct* d = jd.get();
    if (!read_header(d, jd.trap(), stream.data(), stream.size())) jd.fail();
    Colour colour = Colour::rgb;
    switch (d->jpeg_color_space) {
    case JCS_GRAYSCALE: colour = Colour::grey; break;
    case JCS_YCbCr:
    case JCS_RGB: d->out_color_space = JCS_RGB; break;
    default: throw DrawError("a JPEG stream of " + std::to_string(d->num_components) + " components (CMYK)");
    }
    Picture p = make_picture(d->image_width, d->image_height, colour, 8, limits);
    if (!read_rows(d, jd.trap(), p.rows.data(), p.row_bytes())) jd.fail();
    return p;
}

}  // namespace qvtool
