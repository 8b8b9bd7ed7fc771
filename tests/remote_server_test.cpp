// Documents on a server, through both back ends of the remote-access
// library (a directory, and the same directory through sshd): files other
// programs made read as they read locally; new files, appends, aborts,
// page deletion, properties, duplicate and replace, block files, XIFF and
// raw data leave on the server's disk what they leave locally; and the
// library's entry points hold up when threads share one connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "block_test_util.h"
#include "edit_tiff_util.h"
#include "fileio/fio.h"
#include "page_test_util.h"
#include "platform/plat_remote.h"
#include "remote_site.h"
#include "xiff_files.h"

namespace {

// The page information and the whole stored data of every page.
struct Pages {
    uint32_t type = 0;
    std::vector<std::vector<uint8_t>> infos, data;
    bool operator==(const Pages&) const = default;
};

class RemoteServer : public ::testing::TestWithParam<RemoteBackend> {
protected:
    void SetUp() override { SKIP_UNLESS_READY(site); }

    std::string rp(const std::string& name) const { return site.remote(name); }
    std::string at(const std::string& name) const { return served.file(name); }

    // Every page of a file, locally (where = null) or remotely: XIFF pages
    // delivered decoded in one read, others as their stored strips.
    Pages pages_of(const std::string& path, FileLocation* where) {
        Pages out;
        OpenedFile f(path, 0, where);
        EXPECT_TRUE(f.ok()) << path << " " << f.error;
        if (!f.ok()) return out;
        out.type = f.type;
        for (uint16_t p = 1; p <= f.pages; ++p) {
            EXPECT_EQ(f.info(p), 0u) << p;
            PageInfo i = f.pi;
            for (char** text : {&i.title, &i.author, &i.subject, &i.keywords, &i.comments}) *text = nullptr;
            i.textTags = nullptr;
            auto* raw = reinterpret_cast<const uint8_t*>(&i);
            out.infos.emplace_back(raw, raw + sizeof i);
            if (f.type == FILETYPE_XIFF) {
                std::vector<uint8_t> rows(f.ps.dataBytes);
                uint32_t left = 1, err = 0;
                EXPECT_EQ(f.read(rows.data(), 0, f.ps.dataBytes, &left, p, &err), 0) << err;
                EXPECT_EQ(left, 0u);
                out.data.push_back(std::move(rows));
            } else {
                auto stored = read_page(f, p);
                EXPECT_TRUE(stored.has_value()) << p;
                out.data.push_back(stored.value_or(std::vector<uint8_t>{}));
            }
        }
        return out;
    }
    Pages remote_pages(const std::string& name) { return pages_of(rp(name), &site.loc); }
    Pages local_pages(const std::string& name) { return pages_of(at(name), nullptr); }

    // A TIFF of `count` numbered pages, one strip each, on the server.
    std::vector<uint8_t> put_tiff(const std::string& name, int count, uint32_t strip = 3000) {
        auto bytes = edit_test::build_tiff(edit_test::numbered_pages(count, 1, strip), false, 0, true);
        write_file(at(name), bytes);
        return bytes;
    }
    std::unique_ptr<bt::Handle> handle() {
        auto h = std::make_unique<bt::Handle>();
        h->loc = site.loc;
        return h;
    }

    TempDir served, temp;
    TempDirOverride libraryTemp{temp.path()};
    RemoteSite site{GetParam(), served.path()};
};

TEST_P(RemoteServer, FilesOfOtherProgramsReadAsTheyDoLocally) {
    if (oracle_missing("convert") || oracle_missing("tiffcp")) GTEST_SKIP() << "convert/tiffcp missing";
    const std::string q = "'" + served.path() + "/";
    ASSERT_EQ(run_command("convert -size 300x200 gradient:white-black pattern:checkerboard plasma:fractal "
                          "-compress none " + q + "im.tif'"), 0);
    ASSERT_EQ(run_command("tiffcp -c lzw -r 16 " + q + "im.tif' " + q + "cp.tif'"), 0);
    Pages local = local_pages("cp.tif");
    ASSERT_EQ(local.data.size(), 3u);
    EXPECT_EQ(remote_pages("cp.tif"), local);
}

TEST_P(RemoteServer, CreatedFileReadsInLibtiffOnTheServer) {
    if (oracle_missing("tiffinfo")) GTEST_SKIP() << "tiffinfo missing";
    auto w = handle();
    w->type = FILETYPE_TIFF;
    ASSERT_EQ(w->code(w->h = xtavcreat(w->where(), PathBuf(rp("new.tif")), &w->type, &w->err)), 0u);
    PageInfo info = bt::page(64, 32);
    info.rowsPerStrip = 32;
    for (uint16_t p = 1; p <= 3; ++p) ASSERT_EQ(w->add(p, info, bt::data(100000 + p, p)), 0u);
    ASSERT_EQ(w->close(), 0u);
    EXPECT_EQ(run_command("tiffinfo '" + at("new.tif") + "' >" + temp.file("ti.txt") + " 2>&1"), 0) << read_text(temp.file("ti.txt"));
    EXPECT_EQ(edit_test::Reader(read_file(at("new.tif"))).chain().size(), 3u);
    Pages back = remote_pages("new.tif");
    ASSERT_EQ(back.data.size(), 3u);
    EXPECT_EQ(back.data[2], bt::data(100003, 3));
}

// One page appended in update mode: abort gives the remote file back byte
// for byte, close keeps every page.
TEST_P(RemoteServer, AppendThenAbortThenClose) {
    const auto original = put_tiff("doc.tif", 3);
    for (bool abort : {true, false}) {
        auto u = handle();
        ASSERT_EQ(u->open(rp("doc.tif"), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        ASSERT_EQ(u->pages, 3u);
        ASSERT_EQ(u->add(4, bt::page(64, 32), bt::data(70000, 4)), 0u);
        if (abort) {
            u.reset();
            EXPECT_EQ(read_file(at("doc.tif")), original);
        } else {
            ASSERT_EQ(u->close(), 0u);
        }
    }
    Pages back = remote_pages("doc.tif");
    ASSERT_EQ(back.data.size(), 4u);
    EXPECT_EQ(back.data[3], bt::data(70000, 4));
    EXPECT_EQ(dir_entries(served.path()), 1u);
}

// The rewrite and the replace happen on the server; no work file is left
// there, and only the cache's own copy here.
TEST_P(RemoteServer, PageDeletionAndPropertiesLeaveNoWorkFile) {
    put_tiff("doc.tif", 4);
    Pages before = local_pages("doc.tif");
    uint32_t err = 0;
    ASSERT_EQ(xtavdelpgs(&site.loc, PathBuf(rp("doc.tif")), 2, 3, &err), 0) << errno;
    PageInfo props{};
    props.title = const_cast<char*>("remote title");
    props.author = props.subject = props.keywords = props.comments = const_cast<char*>("");
    ASSERT_EQ(xtavputprops(&site.loc, PathBuf(rp("doc.tif")), &props, &err), 0) << errno;
    EXPECT_EQ(dir_entries(served.path()), 1u);
    EXPECT_LE(dir_entries(temp.path()), 1u);
    fio_drop_cached_copy();
    EXPECT_EQ(dir_entries(temp.path()), 0u);
    Pages after = remote_pages("doc.tif");
    ASSERT_EQ(after.data.size(), 2u);
    EXPECT_EQ(after.data[0], before.data[0]);
    EXPECT_EQ(after.data[1], before.data[3]);
    OpenedFile f(rp("doc.tif"), 0, &site.loc);
    ASSERT_EQ(f.info(1), 0u);
    ASSERT_NE(f.pi.title, nullptr);
    EXPECT_STREQ(f.pi.title, "remote title");
}

TEST_P(RemoteServer, DuplicateAndReplace) {
    const auto original = put_tiff("doc.tif", 2);
    PathBuf copy("");
    uint32_t err = 0;
    ASSERT_EQ(xifsduplicate(&site.loc, PathBuf(rp("doc.tif")), copy, &err), 0) << errno;
    EXPECT_EQ(read_file(site.local(copy.s)), original);
    EXPECT_EQ(std::filesystem::path(site.local(copy.s)).parent_path(), served.path());
    std::string fresh = temp.file("fresh.tif");
    const auto replacement = edit_test::build_tiff(edit_test::numbered_pages(5, 2, 700), true, 0, false);
    write_file(fresh, replacement);
    ASSERT_EQ(xifsreplace(&site.loc, PathBuf(rp("doc.tif")), nullptr, PathBuf(fresh), &err), 0) << errno;
    EXPECT_EQ(read_file(at("doc.tif")), replacement);
    EXPECT_EQ(dir_entries(served.path()), 2u);  // the document and its duplicate
    EXPECT_EQ(remote_pages("doc.tif").data.size(), 5u);
    fio_drop_cached_copy();
}

TEST_P(RemoteServer, BlockFileAppendThenAbortThenClose) {
    {
        auto w = handle();
        ASSERT_EQ(w->create(rp("b.blk")), 0u);
        for (uint16_t p = 1; p <= 3; ++p) ASSERT_EQ(w->add(p, bt::page(), bt::data(5000u * p, p)), 0u);
        ASSERT_EQ(w->close(), 0u);
    }
    const auto original = read_file(at("b.blk"));
    for (bool abort : {true, false}) {
        auto u = handle();
        ASSERT_EQ(u->open(rp("b.blk"), TAV_OPEN_READWRITE | TAV_OPEN_UPDATE), 0u);
        ASSERT_EQ(u->add(4, bt::page(), bt::data(9000, 4)), 0u);
        if (abort) {
            u.reset();
            EXPECT_EQ(read_file(at("b.blk")), original);
        } else {
            ASSERT_EQ(u->close(), 0u);
        }
    }
    auto r = handle();
    ASSERT_EQ(r->open(rp("b.blk")), 0u);
    ASSERT_EQ(r->pages, 4u);
    EXPECT_EQ(r->read(2, 3000), bt::data(10000, 2));
    EXPECT_EQ(r->read(4, 3000), bt::data(9000, 4));
}

#ifdef QVTAV_HAVE_LIBTIFF
TEST_P(RemoteServer, XiffReadsAsItDoesLocally) {
    XiffPagePlan fax;
    fax.width = 1700, fax.length = 220, fax.compression = COMPRESSION_CCITTFAX3;
    XiffPagePlan grey;
    grey.width = 301, grey.length = 203, grey.bits = 8, grey.photometric = PHOTOMETRIC_MINISBLACK;
    write_file(at("doc.xif"), xiff_file({fax, grey}));
    Pages local = local_pages("doc.xif");
    ASSERT_EQ(local.type, FILETYPE_XIFF);
    ASSERT_EQ(local.data.size(), 2u);
    EXPECT_EQ(remote_pages("doc.xif"), local);
}
#endif

// Raw data: a megabyte written in pieces of odd sizes, then read back in
// others, through the library's own buffering.
TEST_P(RemoteServer, RawDataRoundTrip) {
    const auto bytes = bt::data(1 << 20, 9);
    auto w = handle();
    w->type = FILETYPE_RAW;
    ASSERT_EQ(w->code(w->h = xtavcreat(w->where(), PathBuf(rp("raw.bin")), &w->type, &w->err)), 0u);
    for (size_t at = 0, n = 0; at < bytes.size(); at += n) {
        n = std::min<size_t>(bytes.size() - at, 1000 + at % 77777);
        ASSERT_EQ(xtavwrite(&w->h, const_cast<uint8_t*>(bytes.data() + at), uint32_t(n), 1, 0, &w->err),
                  int32_t(n));
    }
    ASSERT_EQ(w->close(), 0u);
    EXPECT_EQ(read_file(at("raw.bin")), bytes);
    OpenedFile r(rp("raw.bin"), TAV_OPEN_RAW, &site.loc);
    ASSERT_TRUE(r.ok()) << r.error;
    uint32_t err = 0;
    EXPECT_EQ(r.stream(1, uint32_t(bytes.size()), 12345, &err), bytes);
}

// The entry points themselves, from four threads at once, each on its own
// file of the same server: through one shared connection for sshd.
TEST_P(RemoteServer, ThreadsShareTheServer) {
    const RpcEntries* e = plat_remote_bind();
    ASSERT_NE(e, nullptr);
    std::vector<std::vector<uint8_t>> files;
    for (int t = 0; t < 4; ++t) {
        files.push_back(bt::data(300000 + 1000 * t, t + 1));
        write_file(at("t" + std::to_string(t)), files.back());
    }
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::string path = rp("t" + std::to_string(t));
            std::string copy = rp("c" + std::to_string(t));
            for (int round = 0; round < 3; ++round) {
                uint32_t id = 0, flag = 0, got = 0;
                int32_t h = -1;
                if (e->open(0, site.loc.server, &id, path.c_str(), 0, &h, &flag) != 0 || flag) {
                    ++failures[t];
                    return;
                }
                std::vector<uint8_t> back;
                std::vector<uint8_t> piece(31744);
                do {
                    if (e->read(0, &id, h, uint32_t(piece.size()), piece.data(), &got, &flag) != 0 || flag) break;
                    back.insert(back.end(), piece.begin(), piece.begin() + got);
                } while (got > 0);
                e->close(0, &id, h, &flag);
                if (back != files[size_t(t)]) ++failures[t];
                if (round == 0 && (e->copy(0, site.loc.server, path.c_str(), copy.c_str(), 0, &flag) != 0 || flag))
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(read_file(at("c" + std::to_string(t))), files[size_t(t)]) << t;
}

// The calls the library binds besides the file operations: directories
// made, listed and removed, the time stamp, unique names, the volume, and
// getpos after writes; a handle that is no handle is a code, not a crash.
TEST_P(RemoteServer, DirectoryTimeAndVolumeCalls) {
    const RpcEntries* e = plat_remote_bind();
    ASSERT_NE(e, nullptr);
    const char* server = site.loc.server;
    uint32_t flag = 0;
    const std::string sub = rp("sub");
    ASSERT_EQ(e->mkdir(0, server, sub.c_str(), &flag), 0);
    EXPECT_NE(e->mkdir(0, server, sub.c_str(), &flag), 0);  // exists
    write_file(at("sub/a.bin"), "abc");
    write_file(at("sub/b.bin"), "de");
    int32_t dir = 0;
    ASSERT_EQ(e->opendir(0, server, sub.c_str(), &dir, &flag), 0);
    std::vector<std::string> names;
    char name[260];
    while (e->readdir(0, dir, name, &flag) == 0) names.emplace_back(name);
    EXPECT_EQ(e->closedir(0, dir, &flag), 0);
    std::sort(names.begin(), names.end());
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }),
                names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.bin", "b.bin"}));
    EXPECT_NE(e->rmdir(0, server, sub.c_str(), &flag), 0);  // not empty

    uint32_t seconds = 0;
    ASSERT_EQ(e->gettimestamp(0, server, rp("sub/a.bin").c_str(), &seconds, &flag), 0);
    auto mtime = std::filesystem::last_write_time(at("sub/a.bin"));
    auto since = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(mtime).time_since_epoch());
    EXPECT_EQ(seconds, uint32_t(since.count()));
    ASSERT_EQ(e->getuniquename(0, server, sub.c_str(), name, &flag), 0);
    EXPECT_FALSE(file_exists(site.local(name)));
    EXPECT_EQ(std::filesystem::path(site.local(name)).parent_path(), at("sub"));
    uint32_t block = 0, freeBlocks = 0, total = 0;
    ASSERT_EQ(e->statvolume(0, server, &block, &freeBlocks, &total, &flag), 0);
    EXPECT_GT(block, 0u);
    EXPECT_GE(total, freeBlocks);

    uint32_t id = 0, pos = 0;
    int32_t h = -1;
    ASSERT_EQ(e->create(0, server, &id, rp("sub/c.bin").c_str(), &h, &flag), 0);
    ASSERT_EQ(e->write(0, &id, h, "12345", 5, &flag), 0);
    ASSERT_EQ(e->getpos(0, &id, h, &pos, &flag), 0);
    EXPECT_EQ(pos, 5u);
    EXPECT_EQ(e->close(0, &id, h, &flag), 0);
    EXPECT_NE(e->close(0, &id, h, &flag), 0);  // closed already
    EXPECT_EQ(flag, 0u);
    EXPECT_NE(e->readdir(0, dir, name, &flag), 0);  // closed listing
    for (const char* f : {"a.bin", "b.bin", "c.bin"})
        ASSERT_EQ(e->remove(0, server, rp(std::string("sub/") + f).c_str(), &flag), 0) << f;
    EXPECT_EQ(e->rmdir(0, server, sub.c_str(), &flag), 0);
    EXPECT_FALSE(file_exists(at("sub")));
}

INSTANTIATE_REMOTE_SUITE(RemoteServer);

}  // namespace
