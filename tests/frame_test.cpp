// Export frames, the file control table and the options call.
#include <gtest/gtest.h>

#include <cerrno>

#include "frame/fct.h"
#include "frame/ops.h"
#include "qvtav.h"

namespace {

// Takes a table entry that looks like an open file, without a descriptor.
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

TEST_F(FctTest, HandsOutLowestFreeEntryAndRefusesTheTwentyFirst) {
    int handles[kFctSize];
    for (int i = 0; i < kFctSize; ++i) {
        handles[i] = live_handle();
        EXPECT_EQ(handles[i], i + 1);
    }
    errno = 0;
    EXPECT_EQ(live_handle(), -1);
    EXPECT_EQ(errno, TAV_ENFILE);
    EXPECT_EQ(fct_release(7), 0);
    EXPECT_EQ(live_handle(), 7);
}

TEST_F(FctTest, LookupRefusesZeroOutOfRangeAndFreed) {
    int h = live_handle();
    for (int bad : {0, -1, 21}) {
        errno = 0;
        EXPECT_EQ(fct_lookup(bad), nullptr);
        EXPECT_EQ(errno, TAV_EBADF);
    }
    fct_release(h);
    errno = 0;
    EXPECT_EQ(fct_lookup(h), nullptr);
    EXPECT_EQ(errno, TAV_EBADF);
    EXPECT_EQ(fct_release(h), -1);
}

TEST_F(FctTest, FailedOpenEntryStaysUntilItsErrorIsFetched) {
    FctEntry t{};
    t.fd = -1;
    int h = fct_alloc(t);
    ASSERT_GT(h, 0);
    fct_entry_at(h)->lastError = 273;
    EXPECT_EQ(live_handle(), h + 1);  // still taken
    uint32_t code = 0;
    EXPECT_EQ(fct_fetch_error(-h, &code), 0);
    EXPECT_EQ(code, 273u);
    EXPECT_EQ(fct_lookup(h), nullptr);  // released by the fetch
    EXPECT_EQ(live_handle(), h);
}

TEST_F(FctTest, FramesZeroTheErrorCellAndReportBadHandles) {
    uint32_t err = 12345;
    PageInfo info{};
    PageSizes sizes{};
    for (int32_t bad : {0, -3, 21}) {
        err = 12345;
        int32_t h = bad;
        EXPECT_EQ(xtavgeti(&h, 1, &info, &sizes, &err), -1);
        EXPECT_EQ(err, uint32_t(TAV_EBADF));
        err = 12345;
        EXPECT_EQ(xtavclose(&h, &err), -1);
        EXPECT_EQ(err, 0u);  // close reports by its result only
    }
    int32_t h = live_handle();
    fct_release(h);
    err = 1;
    char buf[8] = {};
    uint32_t rem = 0;
    EXPECT_EQ(xtavread(&h, buf, 0, 1, &rem, 1, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EBADF));
}

TEST_F(FctTest, VersionAnswersEvenWithoutAHandle) {
    int32_t h = 0;
    uint32_t v = 0, err = 7;
    EXPECT_EQ(xtavopts(&h, 5, 18, &v, &err), 0);
    EXPECT_EQ(v, 0x00060200u);
    EXPECT_EQ(err, 0u);
}

TEST_F(FctTest, ErrorFetchOnFreeHandleGivesTheErrorBeforeTheCall) {
    int32_t h = 0;
    uint32_t v = 0, err = 0;
    errno = 42;
    EXPECT_EQ(xtavopts(&h, 1, 0, &v, &err), 0);
    EXPECT_EQ(v, 42u);
}

TEST_F(FctTest, ErrorFetchOnLiveHandleKeepsTheHandle) {
    int32_t h = live_handle();
    fct_lookup(h)->lastError = 291;
    uint32_t v = 0, err = 0;
    EXPECT_EQ(xtavopts(&h, 1, 0, &v, &err), 0);
    EXPECT_EQ(v, 291u);
    EXPECT_NE(fct_lookup(h), nullptr);
}

TEST_F(FctTest, OptionActionsAndFlags) {
    int32_t h = live_handle();
    FctEntry* e = fct_lookup(h);
    uint32_t err = 0;
    // Action 2 is refused and recorded on the handle.
    EXPECT_EQ(xtavopts(&h, 2, 3, nullptr, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_ACTION));
    EXPECT_EQ(e->lastError, TAV_E_ACTION);
    // Option 3 sets and clears its flag byte.
    EXPECT_EQ(xtavopts(&h, 1, 3, nullptr, &err), 0);
    EXPECT_EQ(e->optionFlags[kOptStripRead], 1);
    EXPECT_EQ(xtavopts(&h, 0, 3, nullptr, &err), 0);
    EXPECT_EQ(e->optionFlags[kOptStripRead], 0);
    // Unknown options.
    for (uint32_t opt : {5u, 6u, 7u, 8u, 10u, 99u}) {
        EXPECT_EQ(xtavopts(&h, 1, opt, nullptr, &err), -1);
        EXPECT_EQ(err, uint32_t(TAV_E_OPTION));
    }
    EXPECT_EQ(xtavopts(&h, 0, 40, nullptr, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_E_OPTION));
    // Option 14 sets the byte order.
    uint32_t order = 0x4D4D;
    EXPECT_EQ(xtavopts(&h, 1, 14, &order, &err), 0);
    EXPECT_EQ(e->byteOrder, 0x4D4D);
}

TEST_F(FctTest, StripWriteOptionRefusedWhilePageUnderWay) {
    int32_t h = live_handle();
    FctEntry* e = fct_lookup(h);
    uint32_t err = 0;
    e->editFlags = kEditPageUnderWay;
    EXPECT_EQ(xtavopts(&h, 1, 4, nullptr, &err), -1);
    EXPECT_EQ(err, uint32_t(TAV_EACCES));
    e->editFlags = kEditPageUnderWay | kEditPageComplete;
    EXPECT_EQ(xtavopts(&h, 1, 4, nullptr, &err), 0);
    e->editFlags = 0;
    EXPECT_EQ(xtavopts(&h, 1, 4, nullptr, &err), 0);
    EXPECT_EQ(e->optionFlags[kOptStripWrite], 1);
}

}  // namespace
