// Open with format detection (Part 1.3): hand-made edge cases, flags, the
// file table, and files made by independent tools.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fileio/mem.h"
#include "frame/fct.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_dir_builder.h"

namespace {

struct Opened {
    int32_t h = 0;
    uint32_t type = 0;
    uint32_t pages = 0;
    uint32_t err = 0;
};

Opened open_path(const std::string& path, uint32_t flags = 0) {
    Opened o;
    PathBuf p(path);
    o.type = 0xDEAD;
    o.pages = 0xDEAD;
    o.h = xtavopen(nullptr, p, flags, &o.type, &o.pages, &o.err);
    return o;
}

void close_handle(int32_t h) {
    uint32_t err = 0;
    EXPECT_EQ(xtavclose(&h, &err), 0);
}

// Opens, checks the type and page count, closes.
void expect_detect(const std::string& path, uint32_t type, uint32_t pages) {
    Opened o = open_path(path);
    ASSERT_GT(o.h, 0) << path << " error " << o.err;
    EXPECT_EQ(o.type, type) << path;
    EXPECT_EQ(o.pages, pages) << path;
    close_handle(o.h);
}

// A failed open: the error, and the entry free again after the frame's
// error fetch.
void expect_fail(const std::string& path, uint32_t flags, uint32_t code) {
    Opened o = open_path(path, flags);
    ASSERT_LT(o.h, 0) << path;
    EXPECT_EQ(o.err, code) << path;
    if (o.h < -1) {
        EXPECT_EQ(fct_entry_at(-o.h)->fd, 0) << "entry not freed";
    }
}

std::vector<uint8_t> with_prefix(std::vector<uint8_t> head, size_t size) {
    head.resize(std::max(size, head.size()), 0);
    return head;
}

class OpenDetect : public ::testing::Test {
protected:
    void SetUp() override { blocks_ = mem_live_blocks(); }
    void TearDown() override { EXPECT_EQ(mem_live_blocks(), blocks_) << "memory blocks leaked"; }
    std::string file(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string p = dir_.file(name);
        write_file(p, bytes);
        return p;
    }
    TempDir dir_;
    int blocks_ = 0;
};

TEST_F(OpenDetect, EmptyFileIsRawWithNoPages) {
    expect_detect(file("empty", {}), FILETYPE_RAW, 0);
}

TEST_F(OpenDetect, SecondWordOtherThan42IsNotTiff) {
    // "II" then 43: goes on through rules 4 to 10 (byte 2 is 0x2B, no Targa type).
    expect_detect(file("ii43", with_prefix({'I', 'I', 43, 0, 8, 0, 0, 0}, 64)), FILETYPE_RAW, 0);
    // "MM" then 0x0001: byte 2 is 0 -> raw.
    expect_detect(file("mm1", with_prefix({'M', 'M', 0, 1, 0, 0, 0, 8}, 64)), FILETYPE_RAW, 0);
    // "II" with byte 2 equal to 1 (not 42) ends as Targa.
    expect_detect(file("ii1", with_prefix({'I', 'I', 1, 0}, 64)), FILETYPE_TGA, 1);
}

TEST_F(OpenDetect, TiffInEitherOrderOfTheMagic) {
    for (bool be : {false, true}) {
        tiffb::Builder b(be);
        b.chain(3);
        expect_detect(file(be ? "mm.tif" : "ii.tif", b.bytes()), FILETYPE_TIFF, 3);
    }
}

std::vector<uint8_t> xiff_file(const char* mark, std::vector<uint8_t> extra) {
    tiffb::Builder b;
    std::vector<uint8_t> v = b.bytes();
    v.insert(v.end(), mark, mark + std::strlen(mark));
    v.insert(v.end(), extra.begin(), extra.end());
    v.resize(256, 0);
    return v;
}

TEST_F(OpenDetect, XeroxDiffVersions) {
    // Versions 0 and 1, and 2 with a zero byte at 19: XIFF, whose reader
    // is missing: the open fails with 1.
    expect_fail(file("x0", xiff_file("XEROX DIFF", {0, 0})), 0, TAV_EPERM);
    expect_fail(file("x1", xiff_file("XEROX DIFF", {1, 7})), 0, TAV_EPERM);
    expect_fail(file("x2", xiff_file("XEROX DIFF", {2, 0})), 0, TAV_EPERM);
    // Version 2 with a nonzero byte at 19, version 3: refused with 293.
    expect_fail(file("x2b", xiff_file("XEROX DIFF", {2, 1})), 0, TAV_E_NOT_SUPPORTED);
    expect_fail(file("x3", xiff_file("XEROX DIFF", {3, 0})), 0, TAV_E_NOT_SUPPORTED);
    expect_fail(file("x9", xiff_file("XEROX DIFF", {9, 0})), 0, TAV_E_NOT_SUPPORTED);
    // " eXtended": XIFF.
    expect_fail(file("xe", xiff_file(" eXtended", {})), 0, TAV_EPERM);
    // Neither mark: a plain TIFF (here with no valid IFD: the set-up fails,
    // but not with the XIFF codes).
    Opened o = open_path(file("xn", xiff_file("xerox diff", {0, 0})));
    EXPECT_LT(o.h, 0);
    EXPECT_NE(o.err, uint32_t(TAV_EPERM));
}

TEST_F(OpenDetect, XiffMarkRequiresTiffHeader) {
    // The marks count only behind a TIFF header.
    std::vector<uint8_t> v = xiff_file("XEROX DIFF", {0, 0});
    v[2] = 0;
    v[3] = 0;
    expect_detect(file("nx", v), FILETYPE_RAW, 0);
}

std::vector<uint8_t> dcx_file(const std::vector<uint32_t>& offsets, size_t total) {
    std::vector<uint8_t> v(4 + 4 * offsets.size(), 0);
    uint32_t magic = 987654321u;
    std::memcpy(v.data(), &magic, 4);
    for (size_t i = 0; i < offsets.size(); ++i) std::memcpy(v.data() + 4 + 4 * i, &offsets[i], 4);
    if (v.size() < total) v.resize(total, 0x55);
    return v;
}

TEST_F(OpenDetect, DcxPageTable) {
    expect_detect(file("d0.dcx", dcx_file({0, 5000}, 6000)), FILETYPE_DCX, 0);
    expect_detect(file("d3.dcx", dcx_file({4100, 5000, 5500, 0}, 6000)), FILETYPE_DCX, 3);
    // 1024 nonzero offsets: 1024 pages; a 1025th is never looked at.
    std::vector<uint32_t> all(1025, 4100);
    expect_detect(file("d1024.dcx", dcx_file(all, 8000)), FILETYPE_DCX, 1024);
    // The magic alone: the table read gives nothing -> type 1.
    expect_detect(file("dmagic", dcx_file({}, 4)), FILETYPE_RAW, 0);
    // A short table: entries past the end of the file read as 0.
    expect_detect(file("dshort", dcx_file({100, 200}, 12)), FILETYPE_DCX, 2);
}

TEST_F(OpenDetect, DcxOffsetsKept) {
    Opened o = open_path(file("d.dcx", dcx_file({4100, 4200, 0}, 5000)));
    ASSERT_GT(o.h, 0);
    FctEntry* e = fct_entry_at(o.h);
    ASSERT_NE(e->dcxOffsets, nullptr);
    EXPECT_EQ(e->dcxOffsets[0], 4100u);
    EXPECT_EQ(e->dcxOffsets[1], 4200u);
    close_handle(o.h);
}

TEST_F(OpenDetect, CandidatesThatFallThrough) {
    // PCX marker and version 5 with encoding 1: PCX.
    expect_detect(file("p.pcx", with_prefix({0x0A, 5, 1, 8}, 128)), FILETYPE_PCX, 1);
    for (uint8_t v : {0, 2, 3}) expect_detect(file("pv", with_prefix({0x0A, v, 1}, 128)), FILETYPE_PCX, 1);
    // Version 4 is not a PCX version; byte 2 is 1: Targa.
    expect_detect(file("p4", with_prefix({0x0A, 4, 1}, 128)), FILETYPE_TGA, 1);
    // PCX with byte 2 = 0: neither JPEG nor Targa -> raw.
    expect_detect(file("p0", with_prefix({0x0A, 5, 0}, 128)), FILETYPE_RAW, 0);
    // PCX with byte 2 = 2: Targa (rule 9).
    expect_detect(file("p2", with_prefix({0x0A, 5, 2}, 128)), FILETYPE_TGA, 1);
    // GIF87a and GIF89a; "GIF88a" goes on to the JPEG and Targa rules.
    expect_detect(file("g87", with_prefix({'G', 'I', 'F', '8', '7', 'a'}, 64)), FILETYPE_GIF, 1);
    expect_detect(file("g89", with_prefix({'G', 'I', 'F', '8', '9', 'a'}, 64)), FILETYPE_GIF, 1);
    expect_detect(file("g88", with_prefix({'G', 'I', 'F', '8', '8', 'a'}, 64)), FILETYPE_RAW, 0);
    // "GI" with byte 2 = 1: not GIF, Targa.
    expect_detect(file("gi1", with_prefix({'G', 'I', 1, '8', '7', 'a'}, 64)), FILETYPE_TGA, 1);
    // BMP.
    expect_detect(file("b.bmp", with_prefix({'B', 'M', 0x40, 0}, 64)), FILETYPE_BMP, 1);
    // JPEG: FF D8 FF.
    expect_detect(file("j.jpg", with_prefix({0xFF, 0xD8, 0xFF, 0xE0}, 64)), FILETYPE_JPEG, 1);
    expect_detect(file("j2", with_prefix({0xFF, 0xD8, 0x00}, 64)), FILETYPE_RAW, 0);
    // Targa image types.
    for (uint8_t t : {1, 2, 3, 9, 10, 11})
        expect_detect(file("t", with_prefix({0, 0, t}, 64)), FILETYPE_TGA, 1);
    for (uint8_t t : {0, 4, 5, 12, 32})
        expect_detect(file("t", with_prefix({0, 0, t}, 64)), FILETYPE_RAW, 0);
    // A one-byte file.
    expect_detect(file("one", {0x0A}), FILETYPE_RAW, 0);
}

TEST_F(OpenDetect, BlockFileFailsUntilItsIssue) {
    expect_fail(file("blk", with_prefix({0x45, 0x80}, 4096)), 0, TAV_E_NOT_SUPPORTED);
    expect_fail(file("blk2", with_prefix({0x80, 0x45}, 4096)), 0, TAV_E_NOT_SUPPORTED);
}

TEST_F(OpenDetect, FlagBit31OpensAsRaw) {
    tiffb::Builder b;
    b.chain(2);
    std::string p = file("raw.tif", b.bytes());
    Opened o = open_path(p, TAV_OPEN_RAW);
    ASSERT_GT(o.h, 0);
    EXPECT_EQ(o.type, FILETYPE_RAW);
    EXPECT_EQ(o.pages, 0u);
    FctEntry* e = fct_entry_at(o.h);
    EXPECT_EQ(e->origSize, b.size());
    EXPECT_EQ(e->byteOrder, 0);
    close_handle(o.h);
}

TEST_F(OpenDetect, InvalidFlags) {
    std::string p = file("f", with_prefix({1, 2, 3}, 16));
    expect_fail(p, 1, TAV_E_FLAGS);
    expect_fail(p, 2, TAV_E_FLAGS);
    expect_fail(p, 3, TAV_E_FLAGS);
    expect_fail(p, 3 | TAV_OPEN_UPDATE, TAV_E_FLAGS);
    expect_fail(p, 0x100, TAV_E_FLAGS);
    expect_fail(p, 0x400 | TAV_OPEN_UPDATE, TAV_E_FLAGS);
    // Valid combinations.
    for (uint32_t f : {0u, 8u, 9u, 10u, 0x80000000u, 0x8000000Au}) {
        Opened o = open_path(p, f);
        EXPECT_GT(o.h, 0) << f;
        if (o.h > 0) close_handle(o.h);
    }
}

TEST_F(OpenDetect, MissingPath) {
    expect_fail(dir_.file("nothing-here"), 0, TAV_STG_E_FILENOTFOUND);
    expect_fail(dir_.file("no/such/dir"), 0, TAV_STG_E_FILENOTFOUND);
}

TEST_F(OpenDetect, NullPath) {
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, nullptr, 0, &type, &pages, &err);
    EXPECT_LT(h, 0);
    EXPECT_NE(err, 0u);
}

TEST_F(OpenDetect, OriginalSizeAndPosition) {
    std::vector<uint8_t> v(10000, 0x11);
    std::string p = file("big", v);
    Opened o = open_path(p);
    ASSERT_GT(o.h, 0);
    EXPECT_EQ(fct_entry_at(o.h)->origSize, 10000u);
    EXPECT_EQ(fct_entry_at(o.h)->openFlags, 0u);
    close_handle(o.h);
}

TEST_F(OpenDetect, TwentyFailuresThenTwentyOpens) {
    std::string good = file("g", with_prefix({1}, 8));
    for (int i = 0; i < 20; ++i) expect_fail(dir_.file("missing"), 0, TAV_STG_E_FILENOTFOUND);
    for (int i = 0; i < 20; ++i) expect_fail(good, 3, TAV_E_FLAGS);
    std::vector<int32_t> handles;
    for (int i = 0; i < 20; ++i) {
        Opened o = open_path(good);
        ASSERT_GT(o.h, 0) << i;
        handles.push_back(o.h);
    }
    // The 21st simultaneous open: 23, and no entry taken.
    Opened extra = open_path(good);
    EXPECT_EQ(extra.h, -1);
    EXPECT_EQ(extra.err, uint32_t(TAV_ENFILE));
    // A close frees exactly that number for the next open.
    int32_t freed = handles[6];
    close_handle(freed);
    Opened again = open_path(good);
    EXPECT_EQ(again.h, freed);
    handles[6] = again.h;
    for (int32_t h : handles) close_handle(h);
}

// ---- files made by independent tools ----

class OpenTools : public OpenDetect {
protected:
    // A 16x8 colour picture in netpbm form, the source of every conversion.
    std::string ppm() {
        std::string p = dir_.file("src.ppm");
        std::string s = "P6\n16 8\n255\n";
        for (int i = 0; i < 16 * 8; ++i) {
            s.push_back(char(i * 2));
            s.push_back(char(255 - i));
            s.push_back(char(i * 7));
        }
        write_file(p, s);
        return p;
    }
    bool make(const std::string& tool, const std::string& cmd) {
        if (!have_program(tool)) return false;
        return run_command(cmd + " 2>/dev/null") == 0;
    }
};

TEST_F(OpenTools, Netpbm) {
    std::string src = ppm();
    struct Case {
        const char* tool;
        const char* name;
        uint32_t type;
    } cases[] = {{"ppmtopcx", "n.pcx", FILETYPE_PCX},
                 {"ppmtobmp", "n.bmp", FILETYPE_BMP},
                 {"ppmtotga", "n.tga", FILETYPE_TGA},
                 {"pnmtojpeg", "n.jpg", FILETYPE_JPEG}};
    int made = 0;
    for (const Case& c : cases) {
        std::string out = dir_.file(c.name);
        if (!make(c.tool, std::string(c.tool) + " " + src + " > " + out)) continue;
        ++made;
        expect_detect(out, c.type, 1);
    }
    std::string gif = dir_.file("n.gif");
    if (have_program("ppmquant") &&
        make("ppmtogif", "ppmquant 256 " + src + " 2>/dev/null | ppmtogif > " + gif)) {
        ++made;
        expect_detect(gif, FILETYPE_GIF, 1);
    }
    if (!made) GTEST_SKIP() << "netpbm missing";
}

TEST_F(OpenTools, LibjpegTurbo) {
    std::string out = dir_.file("c.jpg");
    if (!make("cjpeg", "cjpeg -outfile " + out + " " + ppm())) GTEST_SKIP() << "cjpeg missing";
    expect_detect(out, FILETYPE_JPEG, 1);
}

TEST_F(OpenTools, ImageMagick) {
    std::string tool = have_program("magick") ? "magick" : "convert";
    if (!have_program(tool)) GTEST_SKIP() << "ImageMagick missing";
    std::string src = ppm();
    struct Case {
        const char* spec;
        const char* name;
        uint32_t type;
        uint32_t pages;
    } cases[] = {{"GIF87:", "m87.gif", FILETYPE_GIF, 1},
                 {"GIF:", "m89.gif", FILETYPE_GIF, 1},
                 {"PCX:", "m.pcx", FILETYPE_PCX, 1},
                 {"BMP:", "m.bmp", FILETYPE_BMP, 1},
                 {"TGA:", "m.tga", FILETYPE_TGA, 1},
                 {"JPEG:", "m.jpg", FILETYPE_JPEG, 1},
                 {"TIFF:", "m.tif", FILETYPE_TIFF, 1}};
    for (const Case& c : cases) {
        std::string out = dir_.file(c.name);
        ASSERT_TRUE(make(tool, tool + " " + src + " " + c.spec + out)) << c.name;
        expect_detect(out, c.type, c.pages);
    }
    // GIF87a versus GIF89a as the tools wrote them.
    EXPECT_EQ(read_file(dir_.file("m87.gif"))[4], '7');
    EXPECT_EQ(read_file(dir_.file("m89.gif"))[4], '9');
    // A three-page DCX.
    std::string dcx = dir_.file("m.dcx");
    ASSERT_TRUE(make(tool, tool + " " + src + " " + src + " " + src + " DCX:" + dcx));
    expect_detect(dcx, FILETYPE_DCX, 3);
}

TEST_F(OpenTools, LibtiffBothByteOrders) {
    std::string tif = dir_.file("l.tif");
    std::string tool = have_program("magick") ? "magick" : "convert";
    if (!have_program("tiffcp") || !have_program(tool)) GTEST_SKIP() << "libtiff tools missing";
    ASSERT_TRUE(make(tool, tool + " " + ppm() + " " + tif));
    for (const char* order : {"-L", "-B"}) {
        std::string out = dir_.file(std::string("l") + order + ".tif");
        ASSERT_TRUE(make("tiffcp", std::string("tiffcp ") + order + " " + tif + " " + tif + " " +
                                       tif + " " + out));
        std::vector<uint8_t> bytes = read_file(out);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[0], order[1] == 'L' ? 'I' : 'M');
        expect_detect(out, FILETYPE_TIFF, 3);
        Opened o = open_path(out);
        ASSERT_GT(o.h, 0);
        EXPECT_EQ(fct_entry_at(o.h)->byteOrder, order[1] == 'L' ? 0x4949 : 0x4D4D);
        close_handle(o.h);
    }
}

}  // namespace
