// PNG writing. libpng reports a fatal error by jumping back to the setjmp
// of the small function that made the failing call; those functions hold
// no C++ objects, and the write callback never lets an exception through
// libpng's C frames.
#include "png_writer.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>

#include "tool_error.h"

namespace qvtool {

struct PngWriter::State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    std::vector<uint8_t>* memory = nullptr;
    int error = 0;  // errno of a failed file write
    bool finished = false;
};

namespace {

constexpr double kMetresPerInch = 0.0254;

void on_write(png_structp png, png_bytep data, size_t n) {
    auto* s = static_cast<PngWriter::State*>(png_get_io_ptr(png));
    if (s->file != nullptr) {
        if (std::fwrite(data, 1, n, s->file) != n) {
            s->error = errno;
            png_error(png, "write failed");
        }
        return;
    }
    try {
        s->memory->insert(s->memory->end(), data, data + n);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void on_flush(png_structp) {}
[[noreturn]] void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

int colour_type(Colour c) {
    switch (c) {
    case Colour::grey_alpha: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case Colour::rgb: return PNG_COLOR_TYPE_RGB;
    case Colour::rgba: return PNG_COLOR_TYPE_RGB_ALPHA;
    case Colour::palette: return PNG_COLOR_TYPE_PALETTE;
    default: return PNG_COLOR_TYPE_GRAY;
    }
}

// The header in libpng's terms, made before any libpng call.
struct Plan {
    const PngHeader* h;
    std::vector<png_color> palette;
    png_uint_32 xPerUnit = 0, yPerUnit = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
};

Plan plan_for(const PngHeader& h) {
    Plan plan{&h, {}};
    for (const Rgb& c : h.palette) plan.palette.push_back({c.r, c.g, c.b});
    if (h.xRes > 0 && h.yRes > 0) {
        const double scale = h.perInch ? 1 / kMetresPerInch : 1;
        plan.xPerUnit = png_uint_32(std::lround(std::min(h.xRes * scale, double(INT32_MAX))));
        plan.yPerUnit = png_uint_32(std::lround(std::min(h.yRes * scale, double(INT32_MAX))));
        plan.unit = h.perInch ? PNG_RESOLUTION_METER : PNG_RESOLUTION_UNKNOWN;
    }
    return plan;
}

bool begin(png_structp png, png_infop info, const Plan* plan) {
    if (setjmp(png_jmpbuf(png))) return false;
    const PngHeader* h = plan->h;
    png_set_IHDR(png, info, h->width, h->height, h->depth, colour_type(h->colour), PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!plan->palette.empty()) png_set_PLTE(png, info, plan->palette.data(), int(plan->palette.size()));
    if (plan->xPerUnit != 0 && plan->yPerUnit != 0) png_set_pHYs(png, info, plan->xPerUnit, plan->yPerUnit, plan->unit);
    png_set_compression_level(png, h->compressionLevel);
    // Row filters do not help bilevel and palette rows.
    if (h->depth < 8 || h->colour == Colour::palette) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    return true;
}

bool put_row(png_structp png, const uint8_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_write_row(png, row);
    return true;
}

bool end(png_structp png) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

PngHeader png_header(const Picture& p) {
    PngHeader h;
    h.width = p.width, h.height = p.height, h.colour = p.colour, h.depth = p.depth;
    h.xRes = p.xRes, h.yRes = p.yRes, h.perInch = p.perInch;
    if (p.colour == Colour::palette) {
        // A palette as long as the highest index the pixels use.
        const uint8_t top = p.rows.empty() ? 0 : *std::max_element(p.rows.begin(), p.rows.end());
        h.palette.assign(p.palette.begin(), p.palette.begin() + std::min<size_t>(top + 1u, p.palette.size()));
    }
    return h;
}

PngWriter::PngWriter(const std::string& path, const PngHeader& header)
    : path_(path), state_(std::make_unique<State>()) {
    state_->file = std::fopen(path.c_str(), "wb");
    if (state_->file == nullptr) throw ToolError(path, "cannot create", uint32_t(errno));
    start(header);
}

PngWriter::PngWriter(std::vector<uint8_t>& memory, const PngHeader& header) : state_(std::make_unique<State>()) {
    state_->memory = &memory;
    start(header);
}

PngWriter::~PngWriter() { give_up(); }

void PngWriter::start(const PngHeader& header) {
    const Plan plan = plan_for(header);
    state_->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (state_->png != nullptr) state_->info = png_create_info_struct(state_->png);
    if (state_->info == nullptr) fail("libpng cannot start");
    png_set_write_fn(state_->png, state_.get(), on_write, on_flush);
    if (!begin(state_->png, state_->info, &plan)) fail("cannot write the PNG header");
}

void PngWriter::write_row(const uint8_t* row) {
    if (!put_row(state_->png, row)) fail("cannot write");
}

void PngWriter::finish() {
    if (!end(state_->png)) fail("cannot write");
    std::FILE* f = state_->file;
    state_->file = nullptr;
    if (f != nullptr && std::fclose(f) != 0) {
        state_->error = errno;
        fail("cannot write");
    }
    state_->finished = true;
}

void PngWriter::fail(const std::string& what) {
    const int error = state_->error;
    give_up();
    if (path_.empty()) throw DrawError("PNG image: " + what);
    if (error != 0) throw ToolError(path_, what, uint32_t(error));
    throw ToolError(path_, what);
}

void PngWriter::give_up() noexcept {
    if (state_ == nullptr) return;
    if (state_->png != nullptr) png_destroy_write_struct(&state_->png, state_->info ? &state_->info : nullptr);
    if (state_->file != nullptr) std::fclose(state_->file);
    if (!state_->finished && !path_.empty()) std::remove(path_.c_str());
    state_.reset();
}

void write_png(const Picture& p, const std::string& path) {
    PngWriter w(path, png_header(p));
    for (uint32_t y = 0; y < p.height; ++y) w.write_row(p.row(y));
    w.finish();
}

std::vector<uint8_t> png_bytes(const Picture& p) {
    std::vector<uint8_t> out;
    PngWriter w(out, png_header(p));
    for (uint32_t y = 0; y < p.height; ++y) w.write_row(p.row(y));
    w.finish();
    return out;
}

}  // namespace qvtool
