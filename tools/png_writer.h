// Pictures as PNG images, written with libpng: whole, or row by row for
// images too large to hold (contact sheets of long documents).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "picture.h"

namespace qvtool {

// What a PNG image is: its size, samples and resolution (a Picture's
// fields without the rows).
struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    Colour colour = Colour::grey;
    uint8_t depth = 8;
    std::vector<Rgb> palette;  // palette images: the entries the pixels use
    double xRes = 0, yRes = 0;
    bool perInch = false;
    // zlib's level: 6 as zlib suggests; large images a person only glances
    // at (contact sheets) do well enough with less.
    int compressionLevel = 6;
};

// The header of a picture's image, with as many palette entries as its
// pixels use.
PngHeader png_header(const Picture& p);

// A PNG image being written to a file or into memory. Rows go in top to
// bottom, laid out as Picture rows; an image not finished when the writer
// goes away is given up (its file removed).
class PngWriter {
public:
    // Replaces a file at path. Throws ToolError naming the path.
    PngWriter(const std::string& path, const PngHeader& header);
    // Into memory. Throws DrawError.
    PngWriter(std::vector<uint8_t>& memory, const PngHeader& header);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    void write_row(const uint8_t* row);
    // Ends the image (and closes the file). Throws as the constructors.
    void finish();

    // libpng's state and where the bytes go, for the callbacks.
    struct State;

private:
    void start(const PngHeader& header);
    [[noreturn]] void fail(const std::string& what);
    void give_up() noexcept;

    std::string path_;  // empty: into memory
    std::unique_ptr<State> state_;
};

// Writes the picture as a PNG file at path. Throws ToolError.
void write_png(const Picture& p, const std::string& path);

// The picture's PNG image in memory. Throws DrawError.
std::vector<uint8_t> png_bytes(const Picture& p);

}  // namespace qvtool
