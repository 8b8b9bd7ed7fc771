// Random update sessions (moves and appended pages in any order, then a
// close or an abort) on files whose chain and page offset table disagree in
// the ways readers accept, each checked page by page against a list model.
// The same sessions run under libFuzzer (fuzz/session_fuzzer.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "test_util.h"
#include "update_session.h"

TEST(UpdateSession, PagesTheTableListsSurviveMovesAndAppends) {
    constexpr int kSessions = 400;
    TempDir dir;
    const std::string path = dir.file("session.tif");
    std::mt19937 rng(2027);
    int calls = 0, refused = 0, closed = 0;
    for (int i = 0; i < kSessions; ++i) {
        std::vector<uint8_t> bytes(48);
        for (uint8_t& b : bytes) b = uint8_t(rng());
        const update_session::Outcome out = update_session::run(path, bytes.data(), bytes.size());
        ASSERT_EQ("", out.fault) << "session " << i;
        calls += out.calls;
        refused += out.refused;
        closed += out.closed;
    }
    std::printf("[ sessions ] %d sessions (%d closed), %d calls, %d refused\n", kSessions, closed, calls, refused);
    // The model is only worth something when most calls go through and
    // most sessions are closed and read back.
    EXPECT_LT(refused * 10, calls) << refused << " of " << calls << " calls refused";
    EXPECT_GT(closed * 2, kSessions);
}
