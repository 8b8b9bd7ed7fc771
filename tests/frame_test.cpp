// Export frames, the file control table, the options call, the memory table
// and byte-order conversion.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/mem.h"
#include "frame/fct.h"
#include "frame/format.h"
#include "frame/ops.h"
#include "qvtav.h"

namespace {

// A table entry that looks like an open file, without a descriptor.
int live_handle() {
    FctEntry t{};
    t.fd = 99;
    return fct_alloc(t);
}

class FctTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int h = 1; h <= kFctSize; ++h) fct_release(h);
    }
};

TEST_F(FctTest, LowestFreeEntryFirstAndTwentyFirstRefused) {
    for (int i = 0; i < kFctSize; ++i) EXPECT_EQ(live_handle(), i + 1);
    errno = 0;
    EXPECT_EQ(live_handle(), -1);
    EXPECT_EQ(errno, TAV_ENFILE);
    EXPECT_EQ(fct_release(7), 0);
    EXPECT_EQ(live_handle(), 7);
}

TEST_F(FctTest, FailedOpenEntryStaysUntilItsErrorIsFetched) {
    FctEntry t{};
    t.fd = -1;
    int h = fct_alloc(t);
    ASSERT_GT(h, 0);
    fct_entry_at(h)->lastError = 273;
    EXPECT_EQ(live_handle(), h + 1);
    uint32_t code = 0;
    EXPECT_EQ(fct_fetch_error(-h, &code), 0);
    EXPECT_EQ(code, 273u);
    EXPECT_EQ(live_handle(), h);
}

TEST_F(FctTest, FramesZeroTheErrorCellAndRefuseBadHandles) {
    PageInfo info{};
    PageSizes sizes{};
    int32_t freed = live_handle();
    fct_release(freed);
    for (int32_t bad : {0, -3, 21, freed}) {
        uint32_t err = 12345;
        int32_t h = bad;
        EXPECT_EQ(xtavgeti(&h, 1, &info, &sizes, &err), -1) << bad;
        EXPECT_EQ(err, uint32_t(TAV_EBADF)) << bad;
        err = 12345;
        EXPECT_EQ(xtavclose(&h, &err), -1) << bad;
        EXPECT_EQ(err, 0u) << bad;
    }
}

TEST_F(FctTest, ErrorFetchAndVersionOptions) {
    int32_t h = 0;
    uint32_t v = 0, err = 7;
    EXPECT_EQ(xtavopts(&h, 5, 18, &v, &err), 0);
    EXPECT_EQ(v, 0x00060200u);
    EXPECT_EQ(err, 0u);
    errno = 42;
    EXPECT_EQ(xtavopts(&h, 1, 0, &v, &err), 0);
    EXPECT_EQ(v, 42u);
    h = live_handle();
    fct_lookup(h)->lastError = 291;
    EXPECT_EQ(xtavopts(&h, 1, 0, &v, &err), 0);
    EXPECT_EQ(v, 291u);
    EXPECT_NE(fct_lookup(h), nullptr);
}

TEST_F(FctTest, OptionActionsFlagsAndUnknownCodes) {
    int32_t h = live_handle();
    FctEntry* e = fct_lookup(h);
    uint32_t err = 0;
    EXPECT_EQ(xtavopts(&h, 2, 3, nullptr, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_ACTION));
    EXPECT_EQ(e->lastError, TAV_E_ACTION);
    EXPECT_EQ(xtavopts(&h, 1, 3, nullptr, &err), 0);
    EXPECT_EQ(e->optionFlags[kOptStripRead], 1);
    EXPECT_EQ(xtavopts(&h, 0, 3, nullptr, &err), 0);
    EXPECT_EQ(e->optionFlags[kOptStripRead], 0);
    for (uint32_t opt : {5u, 8u, 10u, 40u}) {
        EXPECT_EQ(xtavopts(&h, 1, opt, nullptr, &err), -1) << opt;
        EXPECT_EQ(err, uint32_t(TAV_E_OPTION)) << opt;
    }
    uint32_t order = 0x4D4D;
    EXPECT_EQ(xtavopts(&h, 1, 14, &order, &err), 0);
    EXPECT_EQ(e->byteOrder, 0x4D4D);
    // Option 4 is refused only while a page is under way and not complete.
    e->editFlags = kEditPageUnderWay;
    EXPECT_EQ(xtavopts(&h, 1, 4, nullptr, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EACCES));
    EXPECT_EQ(e->optionFlags[kOptStripWrite], 0);
    e->editFlags = kEditPageUnderWay | kEditPageComplete;
    EXPECT_EQ(xtavopts(&h, 1, 4, nullptr, &err), 0);
    EXPECT_EQ(e->optionFlags[kOptStripWrite], 1);
}

// An entry whose open failed stays in use until its error is fetched; the
// page calls and options on it answer with a code.
TEST_F(FctTest, EntryOfAFailedOpenSupportsNothing) {
    char path[] = "/nonexistent-dir/file.tif";
    uint32_t type = 0, pages = 0;
    bool noEntry = false;
    int r = tav_open(nullptr, path, 0, &type, &pages, &noEntry);
    ASSERT_LT(r, 0);
    int h = -r;
    PageInfo info{};
    PageSizes sizes{};
    EXPECT_EQ(page_get_info(h, 1, &info, &sizes), -1);
    uint8_t buf[4];
    uint32_t left = 0;
    EXPECT_EQ(page_read(h, buf, 0, 4, &left, 1), -1);
    EXPECT_EQ(page_get_data(h, &info), -1);
    EXPECT_EQ(errno, TAV_E_NOT_SUPPORTED);
    uint16_t cell = 0xABCD;
    EXPECT_EQ(tav_options(h, 1, TAV_OPT_COUNT_SIZE, reinterpret_cast<uint32_t*>(&cell)), 0);
    EXPECT_EQ(cell, 0xABCD);
    TavAreaInfo area{7, 7};
    EXPECT_EQ(tav_options(h, 1, TAV_OPT_AREA1_INFO, reinterpret_cast<uint32_t*>(&area)), 0);
    EXPECT_EQ(area.length + area.offset, 0u);
    uint8_t bytes[2] = {1, 2};
    TavAreaAppend append{2, bytes};
    EXPECT_EQ(tav_options(h, 1, TAV_OPT_AREA2_APPEND, reinterpret_cast<uint32_t*>(&append)), -1);
    EXPECT_EQ(errno, TAV_E_NOT_SUPPORTED);
    TavPageMove move{1, 2};
    EXPECT_EQ(tav_options(h, 1, TAV_OPT_MOVE_PAGE, reinterpret_cast<uint32_t*>(&move)), -1);
    EXPECT_EQ(errno, TAV_E_NOT_SUPPORTED);
    uint32_t code = 0;
    fct_fetch_error(h, &code);
    EXPECT_EQ(fct_lookup(h), nullptr);
}

TEST(MemTable, FullTableRefusesAndKeepsTheOthers) {
    int before = mem_live_blocks();
    std::vector<uint8_t*> blocks;
    for (int i = before; i < kMemTableSize; ++i) {
        auto* p = static_cast<uint8_t*>(mem_calloc(1, 16));
        ASSERT_NE(p, nullptr);
        p[0] = uint8_t(i);
        blocks.push_back(p);
    }
    errno = 0;
    EXPECT_EQ(mem_calloc(1, 16), nullptr);
    EXPECT_EQ(errno, TAV_E_MEMTABLE);
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i][0], uint8_t(before + i));
    for (auto* p : blocks) mem_free(p);
    EXPECT_EQ(mem_live_blocks(), before);
}

TEST(MemTable, RefusalsChangeNothing) {
    int before = mem_live_blocks();
    int local = 0;
    errno = 0;
    mem_free(&local);
    EXPECT_EQ(errno, TAV_E_MEMTABLE);
    errno = 0;
    EXPECT_EQ(mem_realloc(&local, 64), nullptr);
    EXPECT_EQ(errno, TAV_E_MEMTABLE);
    for (auto [n, size] : {std::pair{1u, 0u}, {0x10000u, 0x10000u}}) {  // zero bytes; wraps 32 bits
        errno = 0;
        EXPECT_EQ(mem_calloc(n, size), nullptr);
        EXPECT_EQ(errno, TAV_ENOMEM);
    }
    EXPECT_EQ(mem_live_blocks(), before);
}

TEST(MemTable, GrownBlockKeepsBytesAndReadsZerosBeyond) {
    auto* p = static_cast<uint8_t*>(mem_calloc(1, 8));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 8);
    auto* q = static_cast<uint8_t*>(mem_realloc(p, 4096));
    ASSERT_NE(q, nullptr);
    std::vector<uint8_t> want(4096, 0);
    std::memset(want.data(), 0xAB, 8);
    EXPECT_EQ(0, std::memcmp(q, want.data(), 4096));
    mem_free(q);
}

std::vector<uint8_t> bytes_of(const uint8_t* b, size_t n) { return {b, b + n}; }

TEST(ByteOrder, TemplatesRepeatUnknownKindsAndBufferEnd) {
    const SwapPair t[] = {{1, kSwapSkip}, {1, kSwapShort}};
    uint8_t b[6] = {1, 2, 3, 4, 5, 6};
    swap_fields(b, sizeof b, t, 2, 2);
    swap_fields(b, sizeof b, t, 2, 0);  // repeat 0: nothing
    EXPECT_EQ(bytes_of(b, 6), (std::vector<uint8_t>{1, 3, 2, 4, 6, 5}));
    const SwapPair u[] = {{3, 9}, {1, kSwapLong4}};  // an unknown kind does not move the position
    swap_fields(b, 4, u, 2, 1);
    EXPECT_EQ(bytes_of(b, 6), (std::vector<uint8_t>{4, 2, 3, 1, 6, 5}));
    // A partial field at the end is left alone, nothing past the length.
    const SwapPair l[] = {{100, kSwapLong}};
    uint8_t e[8] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE};
    swap_fields(e, 6, l, 1, 1);
    EXPECT_EQ(bytes_of(e, 8), (std::vector<uint8_t>{4, 3, 2, 1, 5, 6, 0xEE, 0xEE}));
}

}  // namespace
