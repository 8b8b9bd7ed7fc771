// Create, close and abort (Part 1.4).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "platform/plat_version.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_dir_builder.h"

namespace {

struct Created {
    int32_t h = 0;
    uint32_t err = 0;
};

Created create_path(char* path, uint32_t type) {
    Created c;
    uint32_t t = type;
    c.h = xtavcreat(nullptr, path, &t, &c.err);
    return c;
}

class CreateClose : public ::testing::Test {
protected:
    void SetUp() override { blocks_ = mem_live_blocks(); }
    void TearDown() override { EXPECT_EQ(mem_live_blocks(), blocks_) << "memory blocks leaked"; }
    TempDir dir_;
    int blocks_ = 0;
};

TEST_F(CreateClose, RefusedTypesLeaveNoFile) {
    for (uint32_t type : {4u, 10u, 11u, 13u, 0u, 14u, 0xFFFFFFFFu}) {
        std::string p = dir_.file("refused" + std::to_string(type));
        PathBuf buf(p);
        Created c = create_path(buf, type);
        EXPECT_LT(c.h, 0) << type;
        EXPECT_EQ(c.err, uint32_t(TAV_EINVAL)) << type;
        EXPECT_FALSE(file_exists(p)) << type;
        if (c.h < -1) {
            EXPECT_EQ(fct_entry_at(-c.h)->fd, 0);
        }
    }
}

TEST_F(CreateClose, NullTypeCell) {
    PathBuf buf(dir_.file("n"));
    uint32_t err = 0;
    EXPECT_LT(xtavcreat(nullptr, buf, nullptr, &err), 0);
    EXPECT_EQ(err, uint32_t(TAV_EINVAL));
}

TEST_F(CreateClose, ExistingPathIsUnchanged) {
    std::string p = dir_.file("exists");
    write_file(p, std::string("keep me"));
    for (uint32_t type : {1u, 3u, 9u}) {
        PathBuf buf(p);
        Created c = create_path(buf, type);
        EXPECT_LT(c.h, 0);
        EXPECT_EQ(c.err, uint32_t(TAV_EEXIST));
        std::vector<uint8_t> v = read_file(p);
        EXPECT_EQ(std::string(v.begin(), v.end()), "keep me");
    }
}

TEST_F(CreateClose, DcxClosedAtOnce) {
    std::string p = dir_.file("new.dcx");
    PathBuf buf(p);
    Created c = create_path(buf, FILETYPE_DCX);
    ASSERT_GT(c.h, 0) << c.err;
    FctEntry* e = fct_entry_at(c.h);
    EXPECT_EQ(e->openFlags & 2, 2u);
    EXPECT_EQ(e->byteOrder, 0x4949);
    EXPECT_EQ(e->origSize, 0u);
    EXPECT_EQ(e->pageCount, 0);
    uint32_t err = 0;
    int32_t h = c.h;
    EXPECT_EQ(xtavclose(&h, &err), 0);
    std::vector<uint8_t> v = read_file(p);
    ASSERT_EQ(v.size(), 4100u);
    EXPECT_EQ(v[0], 0xB1);
    EXPECT_EQ(v[1], 0x68);
    EXPECT_EQ(v[2], 0xDE);
    EXPECT_EQ(v[3], 0x3A);
    for (size_t i = 4; i < v.size(); ++i) ASSERT_EQ(v[i], 0) << i;
    // It opens as a DCX of no pages.
    uint32_t type = 0, pages = 9;
    PathBuf again(p);
    h = xtavopen(nullptr, again, 0, &type, &pages, &err);
    ASSERT_GT(h, 0);
    EXPECT_EQ(type, FILETYPE_DCX);
    EXPECT_EQ(pages, 0u);
    EXPECT_EQ(xtavclose(&h, &err), 0);
}

TEST_F(CreateClose, PlainTypesStartEmpty) {
    for (uint32_t type : {1u, 5u, 6u, 7u, 8u}) {
        std::string p = dir_.file("plain" + std::to_string(type));
        PathBuf buf(p);
        Created c = create_path(buf, type);
        ASSERT_GT(c.h, 0) << type << " " << c.err;
        EXPECT_EQ(fct_entry_at(c.h)->fileType, type);
        uint32_t err = 0;
        int32_t h = c.h;
        EXPECT_EQ(xtavclose(&h, &err), 0);
        EXPECT_TRUE(file_exists(p));
        EXPECT_EQ(read_file(p).size(), 0u);
    }
}

TEST_F(CreateClose, UniqueNameRequest) {
    PathBuf buf(dir_.path() + "/*");
    Created c = create_path(buf, FILETYPE_RAW);
    ASSERT_GT(c.h, 0) << c.err;
    std::string made = buf.s;
    EXPECT_NE(made, dir_.path() + "/*");
    EXPECT_TRUE(file_exists(made));
    uint32_t err = 0;
    int32_t h = c.h;
    EXPECT_EQ(xtavclose(&h, &err), 0);
}

TEST_F(CreateClose, LaterTypesFailWithoutLeavingAFile) {
    // The block file (Part 6.1) comes with its own issue.
    std::string p = dir_.file("b.blk");
    PathBuf buf(p);
    Created c = create_path(buf, FILETYPE_BLOCK);
    EXPECT_LT(c.h, 0);
    EXPECT_EQ(c.err, uint32_t(TAV_E_NOT_SUPPORTED));
    EXPECT_FALSE(file_exists(p));
    // AWD: not yet with AWD support, refused without it.
    p = dir_.file("a.awd");
    PathBuf abuf(p);
    c = create_path(abuf, FILETYPE_AWD);
    EXPECT_LT(c.h, 0);
    EXPECT_EQ(c.err, uint32_t(TAV_E_NOT_SUPPORTED));
    EXPECT_FALSE(file_exists(p));
    plat_set_platform_id(2);
    DllMain(nullptr, 1, nullptr);
    c = create_path(abuf, FILETYPE_AWD);
    plat_set_platform_id(0);
    DllMain(nullptr, 1, nullptr);
    EXPECT_LT(c.h, 0);
    EXPECT_EQ(c.err, uint32_t(TAV_EINVAL));
    EXPECT_FALSE(file_exists(p));
}

TEST_F(CreateClose, TiffCreateEitherWorksOrLeavesNoFile) {
    // Until the writer lands its set-up fails (293) and the file goes again.
    std::string p = dir_.file("t.tif");
    PathBuf buf(p);
    Created c = create_path(buf, FILETYPE_TIFF);
    if (c.h < 0) {
        EXPECT_NE(c.err, 0u);
        EXPECT_FALSE(file_exists(p));
    } else {
        EXPECT_EQ(fct_entry_at(c.h)->firstIfdOffset, 8u);
        uint32_t err = 0;
        int32_t h = c.h;
        xtavabort(&h, &err);
    }
}

TEST_F(CreateClose, AbortCutsBackToTheOriginalBytes) {
    std::vector<uint8_t> orig(10000);
    for (size_t i = 0; i < orig.size(); ++i) orig[i] = uint8_t(i * 31 + 7);
    std::string p = dir_.file("raw.bin");
    write_file(p, orig);
    PathBuf buf(p);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, buf, 0x8000000Au, &type, &pages, &err);
    ASSERT_GT(h, 0) << err;
    EXPECT_EQ(type, FILETYPE_RAW);
    FctEntry* e = fct_entry_at(h);
    EXPECT_EQ(e->origSize, 10000u);
    int fd = int(e->fd);
    ASSERT_GE(fio_lseek(fd, 0, 2), 0);
    std::vector<uint8_t> more(5000, 0xEE);
    ASSERT_EQ(fio_write(fd, more.data(), uint32_t(more.size())), 5000);
    EXPECT_EQ(read_file(p).size(), 15000u);
    EXPECT_EQ(xtavabort(&h, &err), 0);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(read_file(p), orig);
    EXPECT_EQ(fct_entry_at(h)->fd, 0);
}

TEST_F(CreateClose, CloseKeepsAppendedBytes) {
    std::vector<uint8_t> orig(1000, 3);
    std::string p = dir_.file("keep.bin");
    write_file(p, orig);
    PathBuf buf(p);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, buf, 0x8000000Au, &type, &pages, &err);
    ASSERT_GT(h, 0);
    int fd = int(fct_entry_at(h)->fd);
    ASSERT_GE(fio_lseek(fd, 0, 2), 0);
    ASSERT_EQ(fio_write(fd, "abc", 3), 3);
    EXPECT_EQ(xtavclose(&h, &err), 0);
    EXPECT_EQ(read_file(p).size(), 1003u);
}

TEST_F(CreateClose, AbortOfReadOnlyAndCreatedFiles) {
    std::string p = dir_.file("ro.bin");
    write_file(p, std::vector<uint8_t>(300, 9));
    PathBuf buf(p);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, buf, 0, &type, &pages, &err);
    ASSERT_GT(h, 0);
    EXPECT_EQ(xtavabort(&h, &err), 0);
    EXPECT_EQ(read_file(p).size(), 300u);
    // A created file keeps whatever was written.
    std::string q = dir_.file("created.bin");
    PathBuf cbuf(q);
    Created c = create_path(cbuf, FILETYPE_RAW);
    ASSERT_GT(c.h, 0);
    ASSERT_EQ(fio_write(int(fct_entry_at(c.h)->fd), "hello", 5), 5);
    h = c.h;
    EXPECT_EQ(xtavabort(&h, &err), 0);
    EXPECT_EQ(read_file(q).size(), 5u);
}

TEST_F(CreateClose, CloseOfBadHandles) {
    uint32_t err = 0;
    for (int32_t h : {0, -1, 21, 5}) {
        errno = 0;
        EXPECT_EQ(xtavclose(&h, &err), -1);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(xtavabort(&h, &err), -1);
    }
}

TEST_F(CreateClose, ClosingTiffFreesItsBlocks) {
    tiffb::Builder b;
    b.chain(40);
    std::string p = dir_.file("t.tif");
    write_file(p, b.bytes());
    for (int round = 0; round < 3; ++round) {
        PathBuf buf(p);
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(nullptr, buf, 0, &type, &pages, &err);
        ASSERT_GT(h, 0);
        EXPECT_EQ(pages, 40u);
        if (round == 1)
            EXPECT_EQ(xtavabort(&h, &err), 0);
        else
            EXPECT_EQ(xtavclose(&h, &err), 0);
    }
}

TEST_F(CreateClose, TiffUpdateNeedsTheWriter) {
    tiffb::Builder b;
    b.chain(2);
    std::string p = dir_.file("u.tif");
    write_file(p, b.bytes());
    PathBuf buf(p);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, buf, 0xA, &type, &pages, &err);
    if (h < 0) {
        EXPECT_EQ(err, uint32_t(TAV_E_NOT_SUPPORTED));
    } else {
        EXPECT_EQ(fct_entry_at(h)->updateMode, 1u);
        xtavabort(&h, &err);
    }
    EXPECT_EQ(read_file(p), b.bytes());
}

}  // namespace
