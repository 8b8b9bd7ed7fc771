// Open with format detection, create, close and abort: hand-made edge cases,
// flags, the file table, and files made by independent tools.
#include <cstring>
#include <string>
#include <vector>

#include "fileio/fio.h"
#include "open_util.h"
#include "platform/plat_version.h"

namespace {

std::vector<uint8_t> head(std::vector<uint8_t> v, size_t size) {
    v.resize(std::max(size, v.size()), 0);
    return v;
}

// A valid one-page TIFF (one bilevel row) with these bytes at offset 8
// (where XIFF marks go).
std::vector<uint8_t> marked(const std::string& mark, std::vector<uint8_t> extra) {
    TiffBuilder b;
    extra.insert(extra.begin(), mark.begin(), mark.end());
    b.add_data(extra, 1);
    uint32_t strip = b.add_data({0x5A});
    b.add_ifd().shorts(256, {8}).shorts(257, {1}).shorts(262, {0}).longs(273, {strip}).longs(279, {1});
    return b.build();
}

std::vector<uint8_t> dcx(const std::vector<uint32_t>& offsets, size_t total) {
    std::vector<uint32_t> words = {987654321u};
    words.insert(words.end(), offsets.begin(), offsets.end());
    std::vector<uint8_t> v(4 * words.size());
    std::memcpy(v.data(), words.data(), v.size());
    v.resize(std::max(total, v.size()), 0x55);
    return v;
}

class Open : public OpenTest {
protected:
    // A failed open: its code, and the entry free after the frame's fetch.
    void expect_fail(uint32_t code, const char* what) {
        EXPECT_LT(h, 0) << what;
        EXPECT_EQ(err, code) << what;
        if (h < -1) {
            EXPECT_EQ(fct_entry_at(-h)->fd, 0) << what;
        }
        h = 0;
    }
};

TEST_F(Open, DetectionRulesAndTheirFallThrough) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        uint32_t type, pages, err;
    } cases[] = {
        {"empty", {}, FILETYPE_RAW, 0, 0},
        {"II 43", head({'I', 'I', 43, 0, 8}, 64), FILETYPE_RAW, 0, 0},
        {"II 1: Targa", head({'I', 'I', 1, 0}, 64), FILETYPE_TGA, 1, 0},
        {"II", chain(3), FILETYPE_TIFF, 3, 0},
        {"MM", chain(3, true), FILETYPE_TIFF, 3, 0},
        {"XEROX 0", marked("XEROX DIFF", {0, 0}), FILETYPE_XIFF, 1, 0},
        {"XEROX 1", marked("XEROX DIFF", {1, 7}), FILETYPE_XIFF, 1, 0},
        {"XEROX 2", marked("XEROX DIFF", {2, 0}), FILETYPE_XIFF, 1, 0},
        {"XEROX 2 byte 19", marked("XEROX DIFF", {2, 1}), 0, 0, TAV_E_NOT_SUPPORTED},
        {"XEROX 3", marked("XEROX DIFF", {3, 0}), 0, 0, TAV_E_NOT_SUPPORTED},
        {"eXtended", marked(" eXtended", {}), FILETYPE_XIFF, 1, 0},
        {"xerox lower case", marked("xerox diff", {0, 0}), FILETYPE_TIFF, 1, 0},
        {"mark without TIFF", head({'I', 'I', 0, 0, 8, 0, 0, 0, 'X', 'E', 'R', 'O', 'X', ' ', 'D', 'I', 'F', 'F'}, 64),
         FILETYPE_RAW, 0, 0},
        {"DCX first 0", dcx({0, 5000}, 6000), FILETYPE_DCX, 0, 0},
        {"DCX 3", dcx({4100, 5000, 5500, 0}, 6000), FILETYPE_DCX, 3, 0},
        {"DCX 1025", dcx(std::vector<uint32_t>(1025, 4100), 8000), FILETYPE_DCX, 1024, 0},
        {"DCX short table", dcx({100, 200}, 12), FILETYPE_DCX, 2, 0},
        {"PCX 5", head({0x0A, 5, 1, 8}, 128), FILETYPE_PCX, 1, 0},
        {"PCX 0", head({0x0A, 0, 1}, 128), FILETYPE_PCX, 1, 0},
        {"PCX 4: Targa", head({0x0A, 4, 1}, 128), FILETYPE_TGA, 1, 0},
        {"PCX byte 2 = 0", head({0x0A, 5, 0}, 128), FILETYPE_RAW, 0, 0},
        {"PCX byte 2 = 2", head({0x0A, 5, 2}, 128), FILETYPE_TGA, 1, 0},
        {"GIF87a", head({'G', 'I', 'F', '8', '7', 'a'}, 64), FILETYPE_GIF, 1, 0},
        {"GIF89a", head({'G', 'I', 'F', '8', '9', 'a'}, 64), FILETYPE_GIF, 1, 0},
        {"GIF88a", head({'G', 'I', 'F', '8', '8', 'a'}, 64), FILETYPE_RAW, 0, 0},
        {"GI 1: Targa", head({'G', 'I', 1, '8', '7', 'a'}, 64), FILETYPE_TGA, 1, 0},
        {"BMP", head({'B', 'M', 0x40}, 64), FILETYPE_BMP, 1, 0},
        {"JPEG", head({0xFF, 0xD8, 0xFF, 0xE0}, 64), FILETYPE_JPEG, 1, 0},
        {"Targa 11", head({0, 0, 11}, 64), FILETYPE_TGA, 1, 0},
        {"block file", head({0x45, 0x80}, 4096), 0, 0, TAV_E_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        FctEntry* e = open(c.bytes);
        if (c.err) {
            expect_fail(c.err, c.what);
            continue;
        }
        ASSERT_NE(e, nullptr) << c.what << " error " << err;
        EXPECT_EQ(type, c.type) << c.what;
        EXPECT_EQ(pages, c.pages) << c.what;
    }
}

TEST_F(Open, Flags) {
    std::vector<uint8_t> tiff = chain(2);
    for (uint32_t f : {1u, 2u, 3u, 3u | TAV_OPEN_UPDATE, 0x100u, 0x400u | TAV_OPEN_UPDATE}) {
        open(tiff, f);
        expect_fail(TAV_E_FLAGS, std::to_string(f).c_str());
    }
    FctEntry* e = open(tiff, TAV_OPEN_RAW);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(type, FILETYPE_RAW);
    EXPECT_EQ(pages, 0u);
    EXPECT_EQ(e->origSize, tiff.size());
    EXPECT_EQ(e->byteOrder, 0);
    for (uint32_t f : {8u, 9u, 10u, 0x8000000Au}) EXPECT_NE(open(tiff, f), nullptr) << f << " " << err;
    open_path(dir.file("nothing-here"));
    expect_fail(TAV_STG_E_FILENOTFOUND, "missing");
}

TEST_F(Open, TwentyFailuresThenTwentyOpensThenTheTableIsFull) {
    std::string good = dir.file("g");
    write_file(good, head({1}, 8));
    for (int i = 0; i < 20; ++i) {
        open_path(dir.file("missing"));
        expect_fail(TAV_STG_E_FILENOTFOUND, "missing");
        open_path(good, 3);
        expect_fail(TAV_E_FLAGS, "flags 3");
    }
    std::vector<int32_t> handles;
    uint32_t t = 0, p = 0;
    for (int i = 0; i < 21; ++i) handles.push_back(xtavopen(nullptr, PathBuf(good), 0, &t, &p, &err));
    EXPECT_EQ(handles[20], -1);
    EXPECT_EQ(err, uint32_t(TAV_ENFILE));
    int32_t freed = handles[6];
    EXPECT_EQ(xtavclose(&freed, &err), 0);
    handles[6] = xtavopen(nullptr, PathBuf(good), 0, &t, &p, &err);
    EXPECT_EQ(handles[6], freed);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(xtavclose(&handles[i], &err), 0);
}

// ---- create, close and abort ----

TEST_F(Open, CreateRefusalsLeaveNoFileAndExistingFilesUnchanged) {
    for (uint32_t t : {4u, 10u, 11u, 13u, 0u, 14u, 0xFFFFFFFFu}) {
        PathBuf p(dir.file("refused"));
        h = xtavcreat(nullptr, p, &t, &err);
        expect_fail(TAV_EINVAL, std::to_string(t).c_str());
        EXPECT_FALSE(file_exists(p.s)) << t;
    }
    PathBuf n(dir.file("n"));
    h = xtavcreat(nullptr, n, nullptr, &err);
    expect_fail(TAV_EINVAL, "null type");
    write_file(dir.file("exists"), "keep me");
    uint32_t dcxType = FILETYPE_DCX;
    PathBuf ex(dir.file("exists"));
    h = xtavcreat(nullptr, ex, &dcxType, &err);
    expect_fail(TAV_EEXIST, "exists");
    EXPECT_EQ(read_file(ex.s).size(), 7u);
    // AWD without AWD support.
    plat_set_platform_id(2);
    DllMain(nullptr, 1, nullptr);
    uint32_t awd = FILETYPE_AWD;
    PathBuf a(dir.file("a.awd"));
    h = xtavcreat(nullptr, a, &awd, &err);
    plat_set_platform_id(0);
    DllMain(nullptr, 1, nullptr);
    expect_fail(TAV_EINVAL, "AWD");
    EXPECT_FALSE(file_exists(a.s));
}

TEST_F(Open, CreatedFilesStartAsTheirTypeSays) {
    uint32_t t = FILETYPE_DCX;
    PathBuf p(dir.file("new.dcx"));
    h = xtavcreat(nullptr, p, &t, &err);
    ASSERT_GT(h, 0) << err;
    EXPECT_EQ(fct_entry_at(h)->byteOrder, 0x4949);
    close();
    std::vector<uint8_t> want(4100, 0);
    std::memcpy(want.data(), "\xB1\x68\xDE\x3A", 4);
    EXPECT_EQ(read_file(p.s), want);
    ASSERT_NE(open_path(p.s), nullptr);
    EXPECT_EQ(type, FILETYPE_DCX);
    EXPECT_EQ(pages, 0u);
    close();
    for (uint32_t plain : {1u, 5u, 6u, 7u, 8u}) {
        PathBuf s(dir.path() + "/*");
        t = plain;
        h = xtavcreat(nullptr, s, &t, &err);
        ASSERT_GT(h, 0) << plain << " " << err;
        EXPECT_EQ(fct_entry_at(h)->fileType, plain);
        close();
        EXPECT_NE(std::string(s.s), dir.path() + "/*");
        EXPECT_TRUE(file_exists(s.s));
        EXPECT_EQ(read_file(s.s).size(), 0u);
    }
}

TEST_F(Open, AbortCutsBackToTheOriginalBytesAndCloseKeepsThem) {
    std::vector<uint8_t> orig(10000);
    for (size_t i = 0; i < orig.size(); ++i) orig[i] = uint8_t(i * 31 + 7);
    for (bool abort : {true, false}) {
        FctEntry* e = open(orig, 0x8000000Au);
        ASSERT_NE(e, nullptr) << err;
        EXPECT_EQ(e->origSize, 10000u);
        int fd = int(e->fd);
        ASSERT_EQ(fio_lseek(fd, 0, 2), 10000);
        ASSERT_EQ(fio_write(fd, "appended", 8), 8);
        EXPECT_EQ(abort ? xtavabort(&h, &err) : xtavclose(&h, &err), 0);
        EXPECT_EQ(read_file(dir.file("f")).size(), abort ? 10000u : 10008u);
        EXPECT_TRUE(std::equal(orig.begin(), orig.end(), read_file(dir.file("f")).begin()));
        EXPECT_EQ(fct_entry_at(h)->fd, 0);
        h = 0;
    }
    // A TIFF's blocks are freed (the fixture counts them).
    ASSERT_NE(open(chain(40)), nullptr);
    EXPECT_EQ(xtavabort(&h, &err), 0);
    h = 0;
    for (int32_t bad : {0, -1, 21, 5}) EXPECT_EQ(xtavabort(&bad, &err), -1);
}

// ---- files made by independent tools ----

TEST_F(Open, FilesMadeByIndependentTools) {
    std::string ppm = dir.file("src.ppm");
    std::string s = "P6\n16 8\n255\n";
    for (int i = 0; i < 16 * 8; ++i) s += {char(i * 2), char(255 - i), char(i * 7)};
    write_file(ppm, s);
    std::string im = have_program("magick") ? "magick" : "convert";
    struct Case {
        std::string tool, cmd, out;
        uint32_t type, pages;
    } cases[] = {
        {"ppmtopcx", "ppmtopcx " + ppm + " >", "n.pcx", FILETYPE_PCX, 1},
        {"ppmtobmp", "ppmtobmp " + ppm + " >", "n.bmp", FILETYPE_BMP, 1},
        {"ppmtotga", "ppmtotga " + ppm + " >", "n.tga", FILETYPE_TGA, 1},
        {"pnmtojpeg", "pnmtojpeg " + ppm + " >", "n.jpg", FILETYPE_JPEG, 1},
        {"ppmtogif", "ppmquant 256 " + ppm + " 2>/dev/null | ppmtogif >", "n.gif", FILETYPE_GIF, 1},
        {"cjpeg", "cjpeg " + ppm + " >", "c.jpg", FILETYPE_JPEG, 1},
        {im, im + " " + ppm + " GIF87:", "m87.gif", FILETYPE_GIF, 1},
        {im, im + " " + ppm + " GIF:", "m89.gif", FILETYPE_GIF, 1},
        {im, im + " " + ppm + " " + ppm + " " + ppm + " DCX:", "m.dcx", FILETYPE_DCX, 3},
        {im, im + " " + ppm + " " + ppm + " -compress lzw TIFF:", "m.tif", FILETYPE_TIFF, 2},
        {"tiffcp", "tiffcp -L " + dir.file("m.tif") + " " + dir.file("m.tif"), "l.tif", FILETYPE_TIFF, 4},
        {"tiffcp", "tiffcp -B " + dir.file("l.tif") + " " + dir.file("m.tif"), "b.tif",
         FILETYPE_TIFF, 6},
    };
    int made = 0;
    for (const Case& c : cases) {
        std::string out = dir.file(c.out);
        if (oracle_missing(c.tool) || run_command(c.cmd + out + " 2>/dev/null") != 0) continue;
        ++made;
        ASSERT_NE(open_path(out), nullptr) << c.out << " error " << err;
        EXPECT_EQ(type, c.type) << c.out;
        EXPECT_EQ(pages, c.pages) << c.out;
    }
    if (!made) GTEST_SKIP() << "no image tools";
    for (auto [f, n] : {std::pair{"l.tif", 4u}, {"b.tif", 6u}}) {  // libtiff counts the same pages
        if (!file_exists(dir.file(f))) continue;
        EXPECT_EQ(read_file(dir.file(f))[0], f[0] == 'l' ? 'I' : 'M');
        std::string count = dir.file("count");
        if (oracle_missing("tiffinfo")) continue;
        run_command("tiffinfo " + dir.file(f) + " 2>/dev/null | grep -c 'TIFF Directory' > " + count);
        auto text = read_file(count);
        EXPECT_EQ(std::stoul(std::string(text.begin(), text.end())), n) << f;
    }
}

}  // namespace
