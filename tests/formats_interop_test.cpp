// Interop: GIF, PCX, DCX, BMP, Targa and JPEG files made by Pillow,
// ImageMagick, netpbm and libjpeg-turbo, read through xtavgeti, xtavread
// and xtavgtdata and compared with what Pillow reads from them (size,
// sample layout, where the stored data starts, palette, decoded BMP rows)
// and with the files' own bytes; one file of each format is also read
// remotely.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "format_test_util.h"

namespace {

// What Pillow reads from one file (tests/scripts/formats_corpus.py).
struct Oracle {
    std::string name, mode;
    uint32_t width = 0, length = 0;
    int64_t offset = -1;
    std::vector<uint8_t> palette;               // RGB triples
    std::vector<std::vector<uint8_t>> rows;     // decoded RGB, top down
};

std::vector<uint8_t> unhex(const std::string& s) {
    std::vector<uint8_t> v;
    for (size_t k = 0; k + 1 < s.size(); k += 2) v.push_back(uint8_t(std::stoi(s.substr(k, 2), nullptr, 16)));
    return v;
}

std::vector<Oracle> make_corpus(const std::string& dir) {
    std::string out = dir + "/oracle.txt";
    if (run_command("/usr/bin/python3 " QVTAV_SOURCE_DIR "/tests/scripts/formats_corpus.py " + dir + " >" + out +
                    " 2>/dev/null") != 0)
        return {};
    std::vector<Oracle> all;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream l(line);
        std::string key, hex;
        l >> key;
        if (key == "file") all.emplace_back(), l >> all.back().name;
        else if (key == "size") l >> all.back().width >> all.back().length;
        else if (key == "mode") l >> all.back().mode;
        else if (key == "offset") l >> all.back().offset;
        else if (key == "palette") l >> hex, all.back().palette = unhex(hex);
        else if (key == "row") l >> hex, all.back().rows.push_back(unhex(hex));
    }
    return all;
}

uint32_t type_of(const std::string& name) {
    static const std::map<std::string, uint32_t> types = {
        {"gif", FILETYPE_GIF}, {"pcx", FILETYPE_PCX}, {"bmp", FILETYPE_BMP},
        {"tga", FILETYPE_TGA}, {"jpg", FILETYPE_JPEG}};
    return types.at(name.substr(name.rfind('.') + 1));
}

// The delivered palette as red, green, blue triples.
std::vector<uint8_t> palette_rgb(const std::vector<uint8_t>& p, uint32_t type, const PageInfo& pi) {
    uint32_t entry = 3;
    if (type == FILETYPE_BMP) entry = ((pi.rowsPerStrip >> 16) & 0xFF) == 1 ? 3 : 4;
    if (type == FILETYPE_TGA) entry = pi.formatBytes[0] / 8;
    const bool bgr = type == FILETYPE_BMP || type == FILETYPE_TGA;
    std::vector<uint8_t> rgb;
    for (size_t k = 0; k + entry <= p.size(); k += entry) {
        if (bgr) rgb.insert(rgb.end(), {p[k + 2], p[k + 1], p[k]});
        else rgb.insert(rgb.end(), p.begin() + long(k), p.begin() + long(k + 3));
    }
    return rgb;
}

// A component of 2^bits levels as the shift rule delivers it, from
// Pillow's value scaled to 0..255.
uint8_t shifted(uint8_t pillow, uint32_t bits) {
    uint32_t levels = (1u << bits) - 1;
    return uint8_t(std::lround(pillow * double(levels) / 255.0) << (8 - bits));
}

// 16- and 32-bit BMP pages: the delivered 24-bit rows, bottom up, against
// Pillow's decoded rows.
void check_bmp_rows(OpenedFile& f, const Oracle& o, const std::vector<uint8_t>& stream) {
    const uint32_t rowBytes = f.pi.rowsPerStrip & 0xFFFF;
    ASSERT_EQ(stream.size(), size_t(rowBytes) * o.length);
    ASSERT_EQ(o.rows.size(), o.length);
    uint32_t bits[3] = {8, 8, 8};  // red, green, blue
    if (f.pi.bmpBytesPerPixel == 2)
        for (int c = 0; c < 3; ++c) bits[c] = uint32_t(__builtin_popcount(f.pi.bmpMasks[c]));
    for (uint32_t r = 0; r < o.length; ++r) {
        const std::vector<uint8_t>& rgb = o.rows[o.length - 1 - r];
        std::vector<uint8_t> want(rowBytes, 0);
        for (uint32_t x = 0; x < o.width; ++x)
            for (int c = 0; c < 3; ++c) want[3 * x + 2 - c] = shifted(rgb[3 * x + c], bits[c]);
        ASSERT_EQ(std::vector<uint8_t>(stream.begin() + long(r) * rowBytes, stream.begin() + long(r + 1) * rowBytes),
                  want)
            << "row " << r;
    }
}

void check_jpeg(OpenedFile& f, const std::vector<uint8_t>& file, const std::vector<uint8_t>& stream) {
    const JpegInfo* j = f.pi.compressionInfo.jpeg;
    ASSERT_NE(j, nullptr);
    EXPECT_EQ(std::vector<uint32_t>({j->interchange, j->interchangeOffset, j->interchangeLength}),
              std::vector<uint32_t>({1, 0, j->headerLength}));
    // Without a thumbnail segment the header and the data are the file.
    ASSERT_EQ(j->restartInterval, j->headerLength);
    EXPECT_EQ(std::vector<uint8_t>(j->header, j->header + j->headerLength),
              std::vector<uint8_t>(file.begin(), file.begin() + j->headerLength));
    EXPECT_EQ(std::vector<uint8_t>(stream.begin(), stream.begin() + 2), std::vector<uint8_t>({0xFF, 0xDA}));
    EXPECT_EQ(std::vector<uint32_t>({f.pi.stripCount, f.pi.rowsPerStrip, f.pi.maxStripSize}),
              std::vector<uint32_t>({1, f.pi.imageLength, f.ps.dataBytes}));
}

// Sample layout and photometric interpretation for Pillow's mode.
void check_layout(const PageInfo& pi, const Oracle& o, uint32_t type) {
    if (o.mode == "RGB" || o.mode == "RGBA") {
        EXPECT_EQ(std::vector<uint32_t>({pi.samplesPerPixel, pi.bitsPerSample[0], pi.bitsPerSample[1],
                                         pi.bitsPerSample[2], pi.photometric}),
                  std::vector<uint32_t>({3, 8, 8, 8, TAV_PHOTO_RGB}));
    } else if (o.mode == "1") {
        EXPECT_EQ(pi.bitsPerSample[0], 1u);
        EXPECT_TRUE(pi.photometric == TAV_PHOTO_BILEVEL_BLACK || pi.photometric == TAV_PHOTO_BILEVEL_WHITE);
    } else if (o.mode == "L") {
        // Pillow takes a GIF with a grey colour table for a grey image.
        EXPECT_EQ(std::vector<uint32_t>({pi.samplesPerPixel, pi.bitsPerSample[0], pi.photometric}),
                  std::vector<uint32_t>({1, 8, type == FILETYPE_JPEG ? TAV_PHOTO_GRAY_WHITE : TAV_PHOTO_PALETTE}));
    } else {
        ASSERT_EQ(o.mode, "P");
        EXPECT_EQ(std::vector<uint32_t>({pi.samplesPerPixel, pi.photometric}),
                  std::vector<uint32_t>({1, TAV_PHOTO_PALETTE}));
    }
}

void check_file(const std::string& dir, const Oracle& o) {
    const std::string path = dir + "/" + o.name;
    const uint32_t type = type_of(o.name);
    const std::vector<uint8_t> file = read_file(path);
    OpenedFile f(path);
    ASSERT_EQ(std::vector<uint32_t>({f.type, f.pages}), std::vector<uint32_t>({type, 1}));
    if (o.name.find("progressive") != std::string::npos) {
        EXPECT_EQ(f.info(1), uint32_t(TAV_E_COMPRESSION));
        return;
    }
    ASSERT_EQ(f.info(1), 0u);
    const PageInfo& pi = f.pi;
    EXPECT_EQ(std::vector<uint32_t>({pi.imageWidth, pi.imageLength, pi.fileType, pi.byteOrder}),
              std::vector<uint32_t>({o.width, o.length, type, 0x4949}));
    check_layout(pi, o, type);

    const uint32_t offset = view_data_offset(pi, type);
    if (o.offset >= 0) {
        EXPECT_EQ(offset, uint32_t(o.offset));
    }
    const bool converted = type == FILETYPE_BMP && (pi.bmpBytesPerPixel == 2 || pi.bmpBytesPerPixel == 4);
    if (!converted) {
        ASSERT_EQ(f.ps.dataBytes, file.size() - offset);
    }
    for (uint32_t piece : {1u, 7u, 333u, 4099u}) {
        uint32_t err = 0;
        std::vector<uint8_t> stream = f.stream(1, f.ps.dataBytes, piece, &err);
        ASSERT_EQ(err, 0u) << piece;
        if (converted) {
            check_bmp_rows(f, o, stream);
        } else {
            EXPECT_TRUE(std::equal(stream.begin(), stream.end(), file.begin() + offset)) << piece;
        }
        if (type == FILETYPE_JPEG) check_jpeg(f, file, stream);
    }
    if (o.mode == "P") {
        EXPECT_EQ(palette_rgb(delivered_palette(f), type, pi), o.palette);
    }
    if (o.mode == "L" && type != FILETYPE_JPEG) {
        // A grey ramp (Targa), or a grey colour table (GIF).
        std::vector<uint8_t> p = delivered_palette(f);
        ASSERT_EQ(p.size(), 768u);
        for (uint32_t k = 0; k < 768; k += 3) {
            EXPECT_EQ(std::vector<uint8_t>(p.begin() + k, p.begin() + k + 3), std::vector<uint8_t>(3, p[k])) << k;
            if (type == FILETYPE_TGA) {
                EXPECT_EQ(p[k], k / 3);
            }
        }
    }
}

// A DCX file of three PCX pages made by netpbm, each page read like the
// PCX file it came from.
void check_dcx(const std::string& dir) {
    const char* names[] = {"nb_16.pcx", "nb_256.pcx", "nb_rgb.pcx"};
    std::vector<std::vector<uint8_t>> pages;
    for (const char* n : names) pages.push_back(read_file(dir + "/" + n));
    Bytes dcx;
    dcx.le32(987654321);
    uint32_t at = 4100;  // behind the mark and the table of 1024 entries
    for (const auto& p : pages) dcx.le32(at), at += uint32_t(p.size());
    dcx.fill(4100 - dcx.size());
    for (const auto& p : pages) dcx.raw(p);
    write_file(dir + "/three.dcx", dcx.b);
    OpenedFile d(dir + "/three.dcx");
    ASSERT_EQ(std::vector<uint32_t>({d.type, d.pages}), std::vector<uint32_t>({FILETYPE_DCX, 3}));
    for (uint16_t k = 3; k >= 1; --k) {
        OpenedFile p(dir + "/" + names[k - 1]);
        ASSERT_EQ(p.info(1), 0u);
        ASSERT_EQ(d.info(k), 0u);
        const uint32_t start = d.pi.compressionInfo.value - 128;
        EXPECT_EQ(std::vector<uint32_t>({d.pi.imageWidth, d.pi.bitsPerSample[0], d.pi.photometric, d.ps.dataBytes,
                                         d.pi.stripCount == 0 ? 0 : d.pi.stripCount - start}),
                  std::vector<uint32_t>({p.pi.imageWidth, p.pi.bitsPerSample[0], p.pi.photometric, p.ps.dataBytes,
                                         p.pi.stripCount}));
        uint32_t err = 0;
        EXPECT_EQ(d.stream(k, d.ps.dataBytes, 101, &err), p.stream(1, p.ps.dataBytes, 101, &err));
        if (d.pi.photometric == TAV_PHOTO_PALETTE) {
            EXPECT_EQ(delivered_palette(d), delivered_palette(p));
        }
    }
}

// One file of each format through the remote-access stand-in: the same
// page information and data as locally.
void check_remote(const std::string& dir, const std::vector<Oracle>& all) {
    FileLocation where{};
    where.isRemote = 1;
    std::snprintf(where.server, sizeof where.server, "%s", dir.c_str());
    std::map<uint32_t, std::string> one;
    for (const Oracle& o : all)
        if (o.name.find("progressive") == std::string::npos) one.emplace(type_of(o.name), o.name);
    one[FILETYPE_DCX] = "three.dcx";
    ASSERT_EQ(one.size(), 6u);
    for (const auto& [type, name] : one) {
        SCOPED_TRACE("remote " + name);
        OpenedFile local(dir + "/" + name);
        OpenedFile remote(name, 0, &where);
        ASSERT_TRUE(remote.ok()) << remote.error;
        ASSERT_EQ(std::vector<uint32_t>({local.info(1), remote.info(1)}), std::vector<uint32_t>({0, 0}));
        EXPECT_EQ(std::vector<uint32_t>({remote.type, remote.pi.imageWidth, remote.pi.photometric, remote.ps.dataBytes}),
                  std::vector<uint32_t>({type, local.pi.imageWidth, local.pi.photometric, local.ps.dataBytes}));
        uint32_t err = 0;
        EXPECT_EQ(remote.stream(1, remote.ps.dataBytes, 1000, &err), local.stream(1, local.ps.dataBytes, 1000, &err));
        if (local.pi.photometric == TAV_PHOTO_PALETTE) {
            EXPECT_EQ(delivered_palette(remote), delivered_palette(local));
        }
    }
}

TEST(FormatsInterop, FilesOfIndependentWritersAgreeWithPillow) {
    if (!have_program("convert") || !have_program("cjpeg") || !have_program("ppmtopcx"))
        GTEST_SKIP() << "ImageMagick, libjpeg-turbo or netpbm missing";
    TempDir dir;
    const std::vector<Oracle> all = make_corpus(dir.path());
    ASSERT_GE(all.size(), 40u) << "the corpus script failed";
    for (const Oracle& o : all) {
        SCOPED_TRACE(o.name);
        check_file(dir.path(), o);
    }
    check_dcx(dir.path());
    check_remote(dir.path(), all);
}

}  // namespace
