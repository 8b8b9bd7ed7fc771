// Two threads on one file. A handle appending to a file keeps every other
// writer out, in this process as in any other: a second thread's handle
// for update, and a second thread's edit by path, are refused with 13 until
// the first handle is closed, then get in. A compound file is open once at
// a time in the process, whichever thread asks.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <future>
#include <thread>

#include "awd_test_util.h"
#include "block_test_util.h"
#include "test_util.h"
#include "write_test_util.h"

namespace {

// A thread that does `take`, holds what it took until released, then does
// `give_back`.
class Holder {
public:
    Holder(std::function<void()> take, std::function<void()> give_back) {
        std::future<void> held = held_.get_future();
        std::future<void> go = go_.get_future();
        thread_ = std::thread([this, take, give_back, go = std::move(go)]() mutable {
            take();
            held_.set_value();
            go.wait();
            give_back();
        });
        held.wait();
    }
    ~Holder() { release(); }
    void release() {
        if (!thread_.joinable()) return;
        go_.set_value();
        thread_.join();
    }

private:
    std::promise<void> held_, go_;
    std::thread thread_;
};

struct Kind {
    uint32_t type;
    PageInfo info;
};

// A new file of the kind with one page.
void make_file(const std::string& path, const Kind& k, const std::vector<uint8_t>& page) {
    int32_t h = wt::create(path, k.type);
    PageInfo info = k.info;
    ASSERT_EQ(wt::put_page(h, 1, info, page), 0u);
    wt::close(h);
}

int32_t open_for_update(const std::string& path, uint32_t* pages, uint32_t* err) {
    uint32_t type = 0;
    return xtavopen(nullptr, PathBuf(path), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE, &type, pages, err);
}

}  // namespace

TEST(Threads, SecondHandleAppendingToAFileIsRefusedWith13) {
    TempDir dir;
    const Kind kinds[] = {{FILETYPE_TIFF, wt::bilevel(64, 16)}, {FILETYPE_BLOCK, bt::page(64, 16)}};
    const std::vector<uint8_t> first = wt::pattern(128, 1), second = wt::pattern(128, 2), third = wt::pattern(128, 3);
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.type);
        const std::string path = dir.file("doc" + std::to_string(k.type));
        make_file(path, k, first);

        int32_t h = 0;
        Holder writer(
            [&] {
                uint32_t pages = 0, err = 0;
                h = open_for_update(path, &pages, &err);
                ASSERT_GT(h, 0) << err;
                PageInfo info = k.info;
                EXPECT_EQ(wt::put_page(h, 2, info, second), 0u);
            },
            [&] { wt::close(h); });
        uint32_t pages = 0, err = 0;
        EXPECT_LT(open_for_update(path, &pages, &err), 0);
        EXPECT_EQ(err, uint32_t(TAV_EACCES));
        if (k.type == FILETYPE_TIFF) {
            errno = 0;
            EXPECT_EQ(xtavdelpgs(nullptr, PathBuf(path), 1, 1, &err), -1);
            EXPECT_EQ(errno, TAV_EACCES);
        }
        writer.release();

        int32_t h2 = open_for_update(path, &pages, &err);
        ASSERT_GT(h2, 0) << err;
        EXPECT_EQ(pages, 2u);
        PageInfo info = k.info;
        EXPECT_EQ(wt::put_page(h2, 3, info, third), 0u);
        wt::close(h2);

        bt::Handle r;
        ASSERT_EQ(r.open(path), 0u);
        ASSERT_EQ(r.pages, 3u);
        uint16_t p = 1;
        for (const auto* want : {&first, &second, &third}) {
            std::vector<uint8_t> got = r.read(p++, 4096);
            EXPECT_TRUE(got.size() >= want->size() && std::equal(want->begin(), want->end(), got.begin())) << p - 1;
        }
    }
}

using ThreadsAwd = AwdFileTest;

TEST_F(ThreadsAwd, CompoundFileIsOpenOnceAtATimeInTheProcess) {
    const std::string path = dir.file("fax.awd");
    ASSERT_EQ(write_awd(path, {pattern_page(64, 20, 1)}), 0u);
    AwdHandle held;
    Holder reader([&] { ASSERT_EQ(held.open(path), 0u); }, [&] { EXPECT_EQ(held.close(), 0u); });
    AwdHandle other;
    EXPECT_EQ(other.open(path), TAV_STG_E_SHAREVIOLATION);
    reader.release();
    EXPECT_EQ(other.open(path), 0u);
    EXPECT_EQ(other.pages, 1u);
}
