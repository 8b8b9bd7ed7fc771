// Helpers of the PCX, DCX and BMP writer tests: pages of known pixels in
// the forms the writers take, written through the exports, and what Pillow
// and ImageMagick decode from the files written.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qvtav.h"
#include "test_util.h"
#include "write_test_util.h"

namespace wf {

// One page: its rows as xtavwrite takes them (top row first), the caller's
// colour map, and the red, green, blue pixels it shows.
struct Image {
    uint32_t width = 0, length = 0, bits = 0;
    uint32_t rowBytes = 0;          // one input row
    std::vector<uint8_t> rows;
    std::vector<uint8_t> map;       // PCX: red, green, blue; BMP: blue, green, red, 0
    std::vector<uint8_t> rgb;       // width x length x 3, top row first
    uint32_t photometric = 0;

    std::vector<uint8_t> row_range(uint32_t first, uint32_t count) const {
        return {rows.begin() + long(first) * rowBytes, rows.begin() + long(first + count) * rowBytes};
    }
};

// Page information for an image: resolution 200 x 100 dpi, as a scanner
// would give it.
inline PageInfo info_for(Image& im) {
    PageInfo info{};
    info.xResNum = 200;
    info.yResNum = 100;
    info.xResDen = info.yResDen = 1;
    info.resolutionUnit = 2;
    info.imageWidth = im.width;
    info.imageLength = im.length;
    info.samplesPerPixel = im.bits == 24 ? 3 : 1;
    for (uint32_t s = 0; s < info.samplesPerPixel; ++s) info.bitsPerSample[s] = im.bits == 24 ? 8 : im.bits;
    info.compression = TAV_COMP_NONE;
    info.photometric = im.photometric;
    if (!im.map.empty()) {
        info.area.palette.colorMapSize = uint32_t(im.map.size());
        info.area.palette.colorMapBuffer = im.map.data();
    }
    return info;
}

inline uint32_t put(int32_t h, uint16_t page, PageInfo& info) {
    uint32_t err = 0;
    return xtavputi(&h, page, &info, nullptr, &err) < 0 ? (err ? err : ~0u) : 0;
}

// The code xtavputi gives a new file of `type` at `path` for the image's
// page information as `change` leaves it.
template <typename Change>
uint32_t refusal(const std::string& path, uint32_t type, Image& im, Change change) {
    const int32_t h = wt::create(path, type);
    PageInfo info = info_for(im);
    change(info);
    const uint32_t code = put(h, 1, info);
    wt::close(h);
    return code;
}

// The image's rows in calls of `rowsPerCall` rows, the last with flag 1;
// the first failing call's code, else 0.
inline uint32_t write_rows(int32_t h, uint16_t page, const Image& im, uint32_t rowsPerCall) {
    for (uint32_t r = 0; r < im.length; r += rowsPerCall) {
        const uint32_t n = std::min(rowsPerCall, im.length - r);
        std::vector<uint8_t> part = im.row_range(r, n);
        uint32_t err = 0;
        const uint8_t last = r + n == im.length ? 1 : 0;
        if (xtavwrite(&h, part.data(), uint32_t(part.size()), page, last, &err) < 0) return err ? err : ~0u;
    }
    return 0;
}

// A new file of `type` holding the images, one a page. False on a failure.
inline bool write_file_of(const std::string& path, uint32_t type, std::vector<Image>& pages,
                          uint32_t rowsPerCall = 3) {
    int32_t h = wt::create(path, type);
    if (h <= 0) return false;
    bool ok = true;
    for (size_t p = 0; p < pages.size() && ok; ++p) {
        PageInfo info = info_for(pages[p]);
        ok = put(h, uint16_t(p + 1), info) == 0 && write_rows(h, uint16_t(p + 1), pages[p], rowsPerCall) == 0;
    }
    wt::close(h);
    return ok;
}

// What an independent reader decodes: size, and red, green, blue pixels,
// top row first.
struct Decoded {
    uint32_t frames = 0, width = 0, length = 0;
    std::string mode;
    std::vector<uint8_t> rgb;
};

inline std::vector<uint8_t> unhex(const std::string& s) {
    std::vector<uint8_t> v;
    for (size_t k = 0; k + 1 < s.size(); k += 2) v.push_back(uint8_t(std::stoi(s.substr(k, 2), nullptr, 16)));
    return v;
}

inline Decoded pillow_decode(const std::string& path, uint32_t frame = 0) {
    Decoded d;
    const std::string out = path + ".pillow.txt";
    if (run_command("/usr/bin/python3 " QVTAV_SOURCE_DIR "/tests/scripts/image_pixels.py " + path + " " +
                    std::to_string(frame) + " >" + out + " 2>/dev/null") != 0)
        return d;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream l(line);
        std::string key, hex;
        l >> key;
        if (key == "frames") l >> d.frames;
        else if (key == "size") l >> d.width >> d.length;
        else if (key == "mode") l >> d.mode;
        else if (key == "row") {
            l >> hex;
            auto row = unhex(hex);
            d.rgb.insert(d.rgb.end(), row.begin(), row.end());
        }
    }
    return d;
}

// ImageMagick's decoding of one frame (DCX pages by index).
inline Decoded magick_decode(const std::string& path, uint32_t frame = 0) {
    Decoded d;
    const std::string in = "'" + path + "[" + std::to_string(frame) + "]'";
    const std::string size = path + ".size.txt", raw = path + ".rgb";
    if (run_command("identify -format '%w %h\\n' " + in + " >" + size + " 2>/dev/null") != 0 ||
        run_command("convert " + in + " -depth 8 rgb:" + raw + " 2>/dev/null") != 0)
        return d;
    std::ifstream s(size);
    s >> d.width >> d.length;
    d.frames = 1;
    d.rgb = read_file(raw);
    return d;
}

}  // namespace wf
