// The PCX, DCX and BMP writers under injected faults (the nth allocation,
// write or create fails, for n from 1 until a run meets no fault), and two
// PCX files written at once.
#include <gtest/gtest.h>

#include <filesystem>

#include "fileio/mem.h"
#include "frame/fct.h"
#include "platform/plat_fault.h"
#include "write_formats_util.h"

namespace {

using wf::Image;

int used_entries() {
    int n = 0;
    for (int h = 1; h <= kFctSize; ++h) n += fct_entry_at(h)->fd != 0;
    return n;
}

// A page of `bits` (1, 8 or 24) with its colour map, rows as both writers
// take them for these tests (the pixel values do not matter here).
Image page(uint32_t bits, uint32_t width, uint32_t length, uint32_t seed, bool bmp) {
    Image im;
    im.width = width;
    im.length = length;
    im.bits = bits;
    im.rowBytes = bmp ? (width * bits + 31) / 32 * 4 : (width * bits + 7) / 8;
    im.rows = wt::pattern(size_t(im.rowBytes) * length, seed);
    if (bits == 8) im.map = wt::pattern(bmp ? 1024 : 768, seed + 1);
    if (bits == 1 && bmp) im.map = {0, 0, 0, 0, 255, 255, 255, 0};
    im.photometric = bits == 8 ? TAV_PHOTO_PALETTE : bits == 1 ? TAV_PHOTO_BILEVEL_BLACK : TAV_PHOTO_RGB;
    return im;
}

// What one run did: how many pages were complete when a call failed.
struct WriteRun {
    bool ok = true;
    uint32_t completePages = 0;
};

// Checks a call: a failure returns -1 (the error cell may hold no code:
// the PCX coder records none of its own).
bool call(WriteRun& run, int32_t result) {
    if (result >= 0) return true;
    EXPECT_EQ(result, -1);
    run.ok = false;
    return false;
}

// Writes the pages into a new file of `type`, each in calls of 3 rows, a
// BMP's with a profile; gives the handle up with close after a failure.
WriteRun write_pages(const std::string& path, uint32_t type, std::vector<Image>& pages) {
    WriteRun run;
    PathBuf p(path);
    uint32_t t = type, err = 0;
    int32_t h = xtavcreat(nullptr, p, &t, &err);
    if (!call(run, h)) return run;
    std::vector<uint8_t> profile(200, 0x5A);
    for (size_t k = 0; k < pages.size() && run.ok; ++k) {
        const uint16_t number = uint16_t(k + 1);
        PageInfo info = wf::info_for(pages[k]);
        if (type == FILETYPE_BMP) {
            info.profileSize = uint32_t(profile.size());
            info.profileOffset.ptr = profile.data();
        }
        if (!call(run, xtavputi(&h, number, &info, nullptr, &err))) break;
        for (uint32_t r = 0; r < pages[k].length && run.ok; r += 3) {
            const uint32_t n = std::min(3u, pages[k].length - r);
            std::vector<uint8_t> part = pages[k].row_range(r, n);
            call(run, xtavwrite(&h, part.data(), uint32_t(part.size()), number, r + n == pages[k].length, &err));
        }
        if (run.ok) ++run.completePages;
    }
    call(run, xtavclose(&h, &err));
    return run;
}

struct WriterFaults : ::testing::Test {
    void TearDown() override { plat_fault_disarm(); }

    // Every allocation, write and create of the run failing in turn; after
    // each run nothing is left held, and the pages completed before the
    // failure read back (DCX).
    void walk(uint32_t type, std::vector<Image>& pages) {
        const PlatStep steps[] = {PlatStep::Alloc, PlatStep::Write, PlatStep::Create};
        const PlatFailure failures[] = {PlatFailure::Error, PlatFailure::Short};
        uint32_t met = 0;
        for (PlatStep step : steps) {
            for (PlatFailure failure : failures) {
                for (uint32_t n = 1;; ++n) {
                    SCOPED_TRACE("step kind " + std::to_string(int(step)) + ", failure " +
                                 std::to_string(int(failure)) + ", at " + std::to_string(n));
                    ASSERT_LT(n, 2000u) << "the walk did not end";
                    TempDir dir;
                    const std::string path = dir.file("f");
                    const int blocks = mem_live_blocks(), descriptors = open_descriptors(), entries = used_entries();
                    plat_fault_arm({step, n, failure, false});
                    WriteRun run = write_pages(path, type, pages);
                    const bool fired = plat_fault_fired();
                    plat_fault_disarm();
                    EXPECT_EQ(std::vector<int>({mem_live_blocks(), open_descriptors(), used_entries()}),
                              std::vector<int>({blocks, descriptors, entries}));
                    if (!fired) {
                        EXPECT_TRUE(run.ok) << "a call failed without an injected fault";
                        break;
                    }
                    ++met;
                    if (type == FILETYPE_DCX && run.completePages > 0) check_complete(path, run, pages);
                }
            }
        }
        EXPECT_GT(met, 10u);
    }

    static void check_complete(const std::string& path, const WriteRun& run, const std::vector<Image>& pages) {
        PathBuf p(path);
        uint32_t type = 0, count = 0, err = 0;
        int32_t h = xtavopen(nullptr, p, 0, &type, &count, &err);
        ASSERT_GT(h, 0) << err;
        EXPECT_GE(count, run.completePages);
        for (uint16_t k = 1; k <= run.completePages; ++k) {
            PageInfo info{};
            PageSizes sizes{};
            EXPECT_EQ(xtavgeti(&h, k, &info, &sizes, &err), 0) << err;
            EXPECT_EQ(info.imageWidth, pages[k - 1].width);
        }
        xtavclose(&h, &err);
    }
};

TEST_F(WriterFaults, ThreePageDcx) {
    std::vector<Image> pages{page(1, 64, 7, 1, false), page(8, 300, 9, 2, false), page(24, 50, 4, 3, false)};
    walk(FILETYPE_DCX, pages);
}

// BMP writes are not checked: a failed one shows in the file only; the
// calls that allocate fail cleanly.
TEST_F(WriterFaults, Bmp) {
    std::vector<Image> pages{page(8, 40, 7, 4, true)};
    walk(FILETYPE_BMP, pages);
}

// Each handle keeps its own write position: two PCX files written at once,
// their calls interleaved, come out as each does alone.
TEST(PcxTwoAtOnce, InterleavedFilesAreBothCorrect) {
    TempDir dir;
    std::vector<Image> a{page(8, 123, 20, 5, false)}, b{page(24, 77, 13, 6, false)};
    ASSERT_TRUE(wf::write_file_of(dir.file("a1.pcx"), FILETYPE_PCX, a));
    ASSERT_TRUE(wf::write_file_of(dir.file("b1.pcx"), FILETYPE_PCX, b));
    int32_t ha = wt::create(dir.file("a2.pcx"), FILETYPE_PCX), hb = wt::create(dir.file("b2.pcx"), FILETYPE_PCX);
    PageInfo ia = wf::info_for(a[0]), ib = wf::info_for(b[0]);
    ASSERT_EQ(wf::put(ha, 1, ia), 0u);
    ASSERT_EQ(wf::put(hb, 1, ib), 0u);
    uint32_t err = 0;
    for (uint32_t r = 0; r < 20; r += 2) {
        std::vector<uint8_t> rows = a[0].row_range(r, 2);
        ASSERT_GT(xtavwrite(&ha, rows.data(), uint32_t(rows.size()), 1, r + 2 == 20, &err), 0) << err;
        if (r < 13) {
            rows = b[0].row_range(r, std::min(2u, 13 - r));
            ASSERT_GT(xtavwrite(&hb, rows.data(), uint32_t(rows.size()), 1, r + 2 >= 13, &err), 0) << err;
        }
    }
    wt::close(ha);
    wt::close(hb);
    EXPECT_EQ(read_file(dir.file("a2.pcx")), read_file(dir.file("a1.pcx")));
    EXPECT_EQ(read_file(dir.file("b2.pcx")), read_file(dir.file("b1.pcx")));
}

}  // namespace
