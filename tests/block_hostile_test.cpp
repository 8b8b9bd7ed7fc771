// Damaged and hostile block files are refused with a code, and a write
// session that meets a failing allocation, write or create reports it and
// leaves no memory block or descriptor behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "block_test_util.h"
#include "fileio/mem.h"
#include "platform/plat_fault.h"

namespace {

using bt::kBlock;
using Bytes = std::vector<uint8_t>;

// Page p of the file holds data(size(p), p), in chunks of chunkSize.
Bytes written(uint32_t pages, const std::function<size_t(uint32_t)>& size, uint32_t chunkSize) {
    TempDir dir;
    bt::Handle w;
    EXPECT_EQ(w.create(dir.file("w.blk")), 0u);
    for (uint32_t p = 1; p <= pages; ++p) {
        PageInfo i = bt::page();
        i.maxStripSize = chunkSize;
        EXPECT_EQ(w.add(uint16_t(p), i, bt::data(size(p), p)), 0u);
    }
    EXPECT_EQ(w.close(), 0u);
    return read_file(dir.file("w.blk"));
}

// Page 1: chunks in blocks 1 to 3, record in 4. Page 2: 90 chunks in
// blocks 5 to 94, record in 95, its list continued in 96.
const Bytes& two_pages() {
    static const Bytes b = written(2, [](uint32_t p) { return p == 1 ? 10000 : 90 * kBlock; }, kBlock);
    return b;
}
constexpr size_t kRecord1 = 4 * kBlock, kRecord2 = 95 * kBlock, kList2 = 96 * kBlock;
constexpr size_t kChunk1 = kRecord1 + 2064;  // page 1's first chunk entry

// 639 pages of one chunk each: page p's record in block 2p; the directory
// continues in blocks 1279 and 1280.
const Bytes& long_directory() {
    static const Bytes b = written(639, [](uint32_t p) { return p; }, kBlock);
    return b;
}
constexpr size_t kDir1 = 1279 * kBlock;

struct Damage {
    const char* what;
    const Bytes& (*file)();
    std::function<void(Bytes&)> patch;
    uint16_t page;  // 0: the open fails, else the page information of this page
    uint32_t code;
};

TEST(BlockHostile, DamagedFilesAreRefusedWithACode) {
    const Damage cases[] = {
        {"the other byte order", two_pages, [](Bytes& b) { b[0] = 0x45, b[1] = 0x80; }, 0, TAV_E_NOT_SUPPORTED},
        {"header cut short", two_pages, [](Bytes& b) { b.resize(4000); }, 0, TAV_E_TRUNCATED},
        {"blocks in use beyond the file", two_pages, [](Bytes& b) { bt::put_be(b, 12, 97, 4); }, 0, TAV_E_TRUNCATED},
        {"last block 2^32 - 1", two_pages, [](Bytes& b) { bt::put_be(b, 12, 0xFFFFFFFF, 4); }, 0, TAV_E_SIZE},
        {"more pages than blocks", two_pages, [](Bytes& b) { bt::put_be(b, 8, 97, 2); }, 0, TAV_E_TRUNCATED},
        {"directory capacity 128", two_pages, [](Bytes& b) { bt::put_be(b, 1026, 128, 2); }, 0, TAV_E_SIZE},
        {"directory entries above capacity", two_pages, [](Bytes& b) { bt::put_be(b, 1024, 128, 2); }, 0, TAV_E_SIZE},
        {"directory chain past the end", long_directory, [](Bytes& b) { bt::put_be(b, 1028, 1281, 4); }, 0, TAV_E_SIZE},
        {"directory chain loops", long_directory, [](Bytes& b) { bt::put_be(b, kDir1 + 4, 1279, 4); }, 0,
         TAV_E_TRUNCATED},
        {"directory chain ends early", long_directory, [](Bytes& b) { bt::put_be(b, kDir1 + 4, 0, 4); }, 639,
         TAV_E_PAGE_RANGE},
        {"continuation capacity 512", long_directory, [](Bytes& b) { bt::put_be(b, kDir1 + 2, 512, 2); }, 0, TAV_E_SIZE},
        {"record past the end", two_pages, [](Bytes& b) { bt::put_be(b, 1032, 97, 4); }, 1, TAV_E_SIZE},
        {"no record", two_pages, [](Bytes& b) { bt::put_be(b, 1032, 0, 4); }, 1, TAV_E_PAGE_RANGE},
        {"coding code 99", two_pages, [](Bytes& b) { bt::put_be(b, kRecord1 + 2, 99, 2); }, 1, TAV_E_COMPRESSION},
        {"rotation code 4", two_pages, [](Bytes& b) { bt::put_be(b, kRecord1 + 20, 4, 2); }, 1, TAV_E_ROTATION},
        {"chunk size 0", two_pages, [](Bytes& b) { bt::put_be(b, kRecord1 + 4, 0, 4); }, 1, TAV_E_SIZE},
        {"chunk size 6000", two_pages, [](Bytes& b) { bt::put_be(b, kRecord1 + 4, 6000, 4); }, 1, TAV_E_SIZE},
        {"chunk size 32 MiB", two_pages, [](Bytes& b) { bt::put_be(b, kRecord1 + 4, 32u << 20, 4); }, 1, TAV_E_SIZE},
        {"stored bytes above the chunk size", two_pages, [](Bytes& b) { bt::put_be(b, kChunk1 + 4, 8192, 4); }, 1,
         TAV_E_SIZE},
        {"data bytes above the stored bytes", two_pages, [](Bytes& b) { bt::put_be(b, kChunk1 + 8, 4097, 4); }, 1,
         TAV_E_SIZE},
        {"chunk past the end", two_pages, [](Bytes& b) { bt::put_be(b, kChunk1, 97, 4); }, 1, TAV_E_SIZE},
        {"chunk in the header block", two_pages, [](Bytes& b) { bt::put_be(b, kChunk1, 0, 4); }, 1, TAV_E_SIZE},
        {"chunk list capacity 85", two_pages, [](Bytes& b) { bt::put_be(b, kRecord1 + 2050, 85, 2); }, 1, TAV_E_SIZE},
        {"chunk list chain loops", two_pages, [](Bytes& b) { bt::put_be(b, kList2 + 8, 95, 4); }, 2, TAV_E_TRUNCATED},
        {"chunk list chain points at itself", two_pages, [](Bytes& b) { bt::put_be(b, kList2 + 8, 96, 4); }, 2,
         TAV_E_TRUNCATED},
        {"chunk list chain past the end", two_pages, [](Bytes& b) { bt::put_be(b, kRecord2 + 2056, 97, 4); }, 2,
         TAV_E_SIZE},
        {"chunk list block counts 169", two_pages, [](Bytes& b) { bt::put_be(b, kList2 + 2, 169, 2); }, 2, TAV_E_SIZE},
    };
    TempDir dir;
    const int blocks = mem_live_blocks();
    for (const Damage& d : cases) {
        Bytes b = d.file();
        d.patch(b);
        write_file(dir.file("d.blk"), b);
        bt::Handle r;
        uint32_t err = r.open(dir.file("d.blk"));
        if (d.page == 0) {
            EXPECT_EQ(err, d.code) << d.what;
            continue;
        }
        ASSERT_EQ(err, 0u) << d.what;
        PageInfo i;
        PageSizes s;
        EXPECT_EQ(r.info(d.page, i, s), d.code) << d.what;
        // The page before stays readable.
        if (d.page > 1) {
            EXPECT_EQ(r.info(d.page - 1, i, s), 0u) << d.what;
        }
        std::vector<uint8_t> buf(10);
        uint32_t left = 0;
        EXPECT_EQ(xtavread(&r.h, buf.data(), 0, 10, &left, d.page, &err), -1) << d.what;
    }
    EXPECT_EQ(mem_live_blocks(), blocks);
}

// Creates a file of three pages; the code of the first call that failed, 0
// when every call succeeded.
uint32_t write_three_pages(const std::string& path) {
    bt::Handle w;
    if (uint32_t err = w.create(path)) return err;
    for (uint16_t p = 1; p <= 3; ++p) {
        PageInfo i = bt::page();
        if (uint32_t err = w.add(p, i, bt::data(10000, p))) return err;  // the handle is aborted
    }
    return w.close();
}

TEST(BlockFaults, EveryFailureOfCreateWriteCloseIsReported) {
    struct Fault {
        PlatStep step;
        PlatFailure failure;
    } faults[] = {{PlatStep::Alloc, PlatFailure::Error},   {PlatStep::Create, PlatFailure::Error},
                  {PlatStep::Write, PlatFailure::Error},   {PlatStep::Write, PlatFailure::NoSpace},
                  {PlatStep::Write, PlatFailure::Short}};
    for (const Fault& f : faults) {
        uint32_t n = 1;
        for (;; ++n) {
            TempDir dir;
            const int blocks = mem_live_blocks(), fds = open_descriptors();
            plat_fault_arm(PlatFaultPlan{f.step, n, f.failure, false});
            uint32_t err = write_three_pages(dir.file("f.blk"));
            const bool fired = plat_fault_fired();
            plat_fault_disarm();
            EXPECT_EQ(mem_live_blocks(), blocks) << int(f.step) << " " << n;
            EXPECT_EQ(open_descriptors(), fds) << int(f.step) << " " << n;
            if (!fired) {
                ASSERT_EQ(err, 0u);
                bt::Handle r;
                ASSERT_EQ(r.open(dir.file("f.blk")), 0u);
                EXPECT_EQ(r.pages, 3u);
                break;
            }
            EXPECT_NE(err, 0u) << "a failure went unreported: step " << int(f.step) << " " << n;
        }
        EXPECT_GT(n, 1u) << "no step of kind " << int(f.step) << " was met";
    }
}

}  // namespace
