// The memory table and byte-order conversion.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fileio/byteorder.h"
#include "fileio/mem.h"
#include "qvtav.h"

namespace {

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
    mem_free(blocks[3]);
    auto* again = static_cast<uint8_t*>(mem_calloc(2, 8));
    EXPECT_NE(again, nullptr);
    blocks[3] = again;
    for (auto* p : blocks) mem_free(p);
    EXPECT_EQ(mem_live_blocks(), before);
}

TEST(MemTable, UnknownAddressesChangeNothing) {
    int before = mem_live_blocks();
    int local = 0;
    errno = 0;
    mem_free(&local);
    EXPECT_EQ(errno, TAV_E_MEMTABLE);
    errno = 0;
    EXPECT_EQ(mem_realloc(&local, 64), nullptr);
    EXPECT_EQ(errno, TAV_E_MEMTABLE);
    EXPECT_EQ(mem_live_blocks(), before);
}

TEST(MemTable, ZeroBytesAndOverflowAreRefused) {
    errno = 0;
    EXPECT_EQ(mem_calloc(1, 0), nullptr);
    EXPECT_EQ(errno, TAV_ENOMEM);
    errno = 0;
    EXPECT_EQ(mem_calloc(0x10000, 0x10000), nullptr);  // wraps 32 bits
    EXPECT_EQ(errno, TAV_ENOMEM);
}

TEST(MemTable, GrownBlockKeepsBytesAndReadsZerosBeyond) {
    auto* p = static_cast<uint8_t*>(mem_calloc(1, 8));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 8);
    auto* q = static_cast<uint8_t*>(mem_realloc(p, 4096));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(q[i], 0xAB);
    for (int i = 8; i < 4096; ++i) ASSERT_EQ(q[i], 0);
    mem_free(q);
}

TEST(ByteOrder, TemplatesSwapRepeatAndSkip) {
    uint8_t b[6] = {1, 2, 3, 4, 5, 6};
    const SwapPair t[] = {{1, kSwapSkip}, {1, kSwapShort}};
    swap_fields(b, sizeof b, t, 2, 2);
    const uint8_t want[6] = {1, 3, 2, 4, 6, 5};
    EXPECT_EQ(0, std::memcmp(b, want, 6));

    uint8_t c[6] = {1, 2, 3, 4, 5, 6};
    swap_fields(c, sizeof c, t, 2, 0);
    const uint8_t same[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, std::memcmp(c, same, 6));

    // An unknown kind does not move the position.
    uint8_t d[4] = {1, 2, 3, 4};
    const SwapPair u[] = {{3, 9}, {1, kSwapLong4}};
    swap_fields(d, sizeof d, u, 2, 1);
    const uint8_t rev[4] = {4, 3, 2, 1};
    EXPECT_EQ(0, std::memcmp(d, rev, 4));
}

TEST(ByteOrder, NeverWritesPastTheBuffer) {
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE};
    const SwapPair t[] = {{100, kSwapLong}};
    swap_fields(b, 6, t, 1, 1);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(b[4], 5);  // the partial field at the end is left alone
    EXPECT_EQ(b[6], 0xEE);
}

TEST(ByteOrder, FixedTemplates) {
    uint8_t page[26];
    for (int i = 0; i < 26; ++i) page[i] = uint8_t(i);
    swap_page_record(page);
    // (2 shorts) (1 long) (9 shorts)
    EXPECT_EQ(page[0], 1);
    EXPECT_EQ(page[1], 0);
    EXPECT_EQ(page[4], 7);
    EXPECT_EQ(page[7], 4);
    EXPECT_EQ(page[8], 9);
    EXPECT_EQ(page[25], 24);
    uint8_t strips[48];
    for (int i = 0; i < 48; ++i) strips[i] = uint8_t(i);
    swap_strip_entries(strips, 2);
    EXPECT_EQ(strips[24], 27);  // second entry starts with a long
    EXPECT_EQ(strips[36], 37);  // then shorts
}

}  // namespace
