// The compound-file engine on its own: data across the mini stream cutoff,
// resizing, reuse of freed sectors, names, trees, access rules, version 4,
// copies, and hostile files. olefile is the independent reader the files
// are checked with.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include "fileio/byteorder.h"
#include "storage/cfb_layout.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

// Overwrites 4 bytes of a file in place.
void patch32(const std::string& path, uint64_t offset, uint32_t value) {
    int fd = open(path.c_str(), O_RDWR);
    uint8_t b[4];
    put_le32(b, value);
    ASSERT_EQ(pwrite(fd, b, 4, off_t(offset)), 4);
    close(fd);
}

uint32_t read32(const std::string& path, uint64_t offset) {
    std::vector<uint8_t> all = read_file(path);
    return get_le32(&all[offset]);
}

TEST(StorageEngine, StreamsOfEverySizeReadBackInTheEngineAndInOlefile) {
    TempDir dir;
    std::string path = dir.file("sizes.cfb");
    const std::vector<size_t> sizes = {0, 1, 63, 64, 4095, 4096, 4097, 100000};
    {
        StgRef<StgStorage> root;
        ASSERT_EQ(create_root(path, root), TAV_S_OK);
        for (size_t i = 0; i < sizes.size(); ++i)
            ASSERT_EQ(put_stream(root.get(), "s" + std::to_string(sizes[i]), stream_bytes(sizes[i], unsigned(i))), TAV_S_OK);
        StgRef<StgStorage> sub, deeper;
        ASSERT_EQ(make_storage(root.get(), "Sub Storage", sub), TAV_S_OK);
        ASSERT_EQ(make_storage(sub.get(), "deeper", deeper), TAV_S_OK);
        ASSERT_EQ(put_stream(deeper.get(), "\x05SummaryInformation", "summary"), TAV_S_OK);
    }
    StgRef<StgStorage> root;
    ASSERT_EQ(open_root(path, kStgModeRead, root), TAV_S_OK);
    for (size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(get_stream(root.get(), "s" + std::to_string(sizes[i])), stream_bytes(sizes[i], unsigned(i)));
    root.reset();
    std::string listing = engine_listing(path);
    EXPECT_NE(listing.find("/Sub Storage/deeper/\\x05SummaryInformation stream 7"), std::string::npos);
    EXPECT_EQ(olefile_listing(path, true), listing);
}

TEST(StorageEngine, ResizingMovesStreamsAcrossTheCutoffAndZeroFillsGaps) {
    TempDir dir;
    std::string path = dir.file("resize.cfb");
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    StgRef<StgStream> s;
    ASSERT_EQ(root->ops->CreateStream(root.get(), u"data", kStgModeCreate, 0, 0, s.put()), TAV_S_OK);
    std::string big = stream_bytes(5000, 1);
    uint32_t done = 0;
    ASSERT_EQ(s->ops->Write(s.get(), big.data(), uint32_t(big.size()), &done), TAV_S_OK);
    ASSERT_EQ(s->ops->SetSize(s.get(), 100), TAV_S_OK);  // to the mini stream
    ASSERT_EQ(s->ops->SetSize(s.get(), 4500), TAV_S_OK);  // back to sectors, zeros after 100
    std::string expect = big.substr(0, 100) + std::string(4400, '\0');
    // A write past the end fills the gap with zeros; one that crosses the
    // cutoff from the mini stream keeps what was there.
    uint64_t pos = 0;
    ASSERT_EQ(s->ops->Seek(s.get(), 6000, kStgSeekSet, &pos), TAV_S_OK);
    ASSERT_EQ(s->ops->Write(s.get(), "xyz", 3, &done), TAV_S_OK);
    expect += std::string(1500, '\0') + "xyz";
    s.reset();
    EXPECT_EQ(get_stream(root.get(), "data"), expect);
    ASSERT_EQ(put_stream(root.get(), "small", "abc"), TAV_S_OK);
    ASSERT_EQ(root->ops->OpenStream(root.get(), u"small", nullptr, kStgModeWrite, 0, s.put()), TAV_S_OK);
    ASSERT_EQ(s->ops->Seek(s.get(), 4094, kStgSeekSet, &pos), TAV_S_OK);
    ASSERT_EQ(s->ops->Write(s.get(), "12345", 5, &done), TAV_S_OK);
    s.reset();
    EXPECT_EQ(get_stream(root.get(), "small"), "abc" + std::string(4091, '\0') + "12345");
    root.reset();
    EXPECT_EQ(olefile_listing(path, true), engine_listing(path));
}

TEST(StorageEngine, FreedSectorsAreReusedAndLargeFilesGetDifatSectors) {
    TempDir dir;
    std::string path = dir.file("reuse.cfb");
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    // 8 MB needs more FAT sectors than the header lists: DIFAT sectors.
    std::string big = stream_bytes(8u << 20, 3);
    ASSERT_EQ(put_stream(root.get(), "big", big), TAV_S_OK);
    ASSERT_EQ(put_stream(root.get(), "small", stream_bytes(2000, 4)), TAV_S_OK);
    root.reset();
    EXPECT_GT(read32(path, cfb::kHdrDifatSectors), 0u);
    EXPECT_EQ(olefile_listing(path, true), engine_listing(path));
    size_t sizeBefore = read_file(path).size();
    ASSERT_EQ(open_root(path, kStgModeWrite, root), TAV_S_OK);
    ASSERT_EQ(root->ops->DestroyElement(root.get(), u"big"), TAV_S_OK);
    ASSERT_EQ(put_stream(root.get(), "again", stream_bytes(8u << 20, 5)), TAV_S_OK);
    root.reset();
    EXPECT_EQ(read_file(path).size(), sizeBefore);
    EXPECT_EQ(olefile_listing(path, true), engine_listing(path));
}

TEST(StorageEngine, NamesCompareWithoutCaseAndAreWrittenAsGiven) {
    TempDir dir;
    std::string path = dir.file("names.cfb");
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    ASSERT_EQ(put_stream(root.get(), "MixedCase", "1"), TAV_S_OK);
    EXPECT_EQ(get_stream(root.get(), "mixedcase"), "1");
    StgRef<StgStream> s;
    EXPECT_EQ(root->ops->CreateStream(root.get(), u"MIXEDCASE", kStgModeWrite, 0, 0, s.put()),
              TAV_STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->ops->CreateStream(root.get(), u"a/b", kStgModeCreate, 0, 0, s.put()), TAV_STG_E_INVALIDNAME);
    EXPECT_EQ(root->ops->CreateStream(root.get(), u"", kStgModeCreate, 0, 0, s.put()), TAV_STG_E_INVALIDNAME);
    std::u16string longName(32, u'x');
    EXPECT_EQ(root->ops->CreateStream(root.get(), longName.c_str(), kStgModeCreate, 0, 0, s.put()),
              TAV_STG_E_INVALIDNAME);
    ASSERT_EQ(put_stream(root.get(), std::string(31, 'y'), "31"), TAV_S_OK);
    ASSERT_EQ(put_stream(root.get(), "Ünïcödé", "u"), TAV_S_OK);
    EXPECT_EQ(get_stream(root.get(), "üNÏCÖDÉ"), "u");
    ASSERT_EQ(root->ops->RenameElement(root.get(), u"mixedcase", u"Renamed"), TAV_S_OK);
    EXPECT_EQ(root->ops->RenameElement(root.get(), u"Renamed", u"\u00dcnïcödé"), TAV_STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->ops->RenameElement(root.get(), u"nothing", u"x"), TAV_STG_E_FILENOTFOUND);
    root.reset();
    std::string listing = olefile_listing(path, true);
    EXPECT_NE(listing.find("/Renamed stream 1"), std::string::npos) << listing;
    EXPECT_NE(listing.find("/Ünïcödé stream 1"), std::string::npos) << listing;
    EXPECT_EQ(listing, engine_listing(path));
}

TEST(StorageEngine, TreesStayRedBlackThroughInsertsRemovalsAndRenames) {
    TempDir dir;
    std::string path = dir.file("tree.cfb");
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    std::mt19937 gen(7);
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back("n" + std::to_string(gen() % 100000) + "_" + std::to_string(i));
        ASSERT_EQ(put_stream(root.get(), names.back(), names.back()), TAV_S_OK);
    }
    std::shuffle(names.begin(), names.end(), gen);
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(root->ops->DestroyElement(root.get(), wide(names[size_t(i)]).c_str()), TAV_S_OK);
    for (int i = 150; i < 200; ++i)
        ASSERT_EQ(root->ops->RenameElement(root.get(), wide(names[size_t(i)]).c_str(),
                                           wide("r" + names[size_t(i)]).c_str()),
                  TAV_S_OK);
    root.reset();
    std::string listing = olefile_listing(path, true);
    EXPECT_EQ(listing.find("FAULT"), std::string::npos) << listing;
    EXPECT_EQ(listing, engine_listing(path));
    EXPECT_NE(listing.find("/r" + names[150] + " stream"), std::string::npos);
}

TEST(StorageEngine, ElementsOpenOnceAndReadOnlyObjectsRefuseChanges) {
    TempDir dir;
    std::string path = dir.file("access.cfb");
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    ASSERT_EQ(put_stream(root.get(), "s", "data"), TAV_S_OK);
    StgRef<StgStream> a, b;
    ASSERT_EQ(root->ops->OpenStream(root.get(), u"s", nullptr, kStgModeRead, 0, a.put()), TAV_S_OK);
    EXPECT_EQ(root->ops->OpenStream(root.get(), u"s", nullptr, kStgModeRead, 0, b.put()), TAV_STG_E_SHAREVIOLATION);
    EXPECT_EQ(root->ops->DestroyElement(root.get(), u"s"), TAV_STG_E_ACCESSDENIED);
    uint32_t done = 0;
    EXPECT_EQ(a->ops->Write(a.get(), "x", 1, &done), TAV_STG_E_ACCESSDENIED);
    a.reset();
    StgRef<StgStorage> again;
    EXPECT_EQ(open_root(path, kStgModeRead, again), TAV_STG_E_SHAREVIOLATION);
    root.reset();
    ASSERT_EQ(open_root(path, kStgModeRead, root), TAV_S_OK);
    EXPECT_EQ(put_stream(root.get(), "t", "x"), TAV_STG_E_ACCESSDENIED);
    EXPECT_EQ(root->ops->OpenStream(root.get(), u"s", nullptr, kStgModeWrite, 0, a.put()), TAV_STG_E_ACCESSDENIED);
    EXPECT_EQ(root->ops->OpenStream(root.get(), u"none", nullptr, kStgModeRead, 0, a.put()), TAV_STG_E_FILENOTFOUND);
    EXPECT_EQ(root->ops->OpenStream(root.get(), u"s", nullptr, kStgModeCreate, 0, a.put()), TAV_STG_E_INVALIDFLAG);
}

// Runs fn in a child process that holds the file open in mode until the
// parent has checked what it wanted; the child's exit status is returned.
template <class F>
int with_other_process(const std::string& path, uint32_t mode, F check) {
    int toParent[2], toChild[2];
    EXPECT_EQ(pipe(toParent), 0);
    EXPECT_EQ(pipe(toChild), 0);
    pid_t pid = fork();
    if (pid == 0) {
        StgStorage* root = nullptr;
        uint32_t rc = StgOpenStorage(wide(path).c_str(), nullptr, mode, nullptr, 0, &root);
        char c = rc == 0 ? 'y' : 'n';
        (void)!write(toParent[1], &c, 1);
        (void)!read(toChild[0], &c, 1);
        _exit(rc == 0 ? 0 : 1);
    }
    char c = 0;
    EXPECT_EQ(read(toParent[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    check();
    (void)!write(toChild[1], "x", 1);
    int status = 0;
    waitpid(pid, &status, 0);
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StorageEngine, AcrossProcessesReadersShareAndAWriterSharesWithNobody) {
    TempDir dir;
    std::string path = dir.file("shared.cfb");
    {
        StgRef<StgStorage> root;
        ASSERT_EQ(create_root(path, root), TAV_S_OK);
    }
    EXPECT_EQ(with_other_process(path, kStgModeWrite, [&] {
                  StgRef<StgStorage> root;
                  EXPECT_EQ(open_root(path, kStgModeRead, root), TAV_STG_E_SHAREVIOLATION);
                  EXPECT_EQ(open_root(path, kStgModeWrite, root), TAV_STG_E_SHAREVIOLATION);
                  EXPECT_EQ(create_root(path, root), TAV_STG_E_SHAREVIOLATION);
              }),
              0);
    EXPECT_EQ(with_other_process(path, kStgModeRead, [&] {
                  StgRef<StgStorage> root;
                  EXPECT_EQ(open_root(path, kStgModeRead, root), TAV_S_OK);
                  root.reset();
                  EXPECT_EQ(open_root(path, kStgModeWrite, root), TAV_STG_E_SHAREVIOLATION);
              }),
              0);
}

TEST(StorageEngine, PlatformCallsAnswerWithTheirStatuses) {
    TempDir dir;
    std::string path = dir.file("plain.bin");
    write_file(path, std::string(1000, 'x'));
    EXPECT_EQ(StgIsStorageFile(wide(path).c_str()), TAV_S_FALSE);
    EXPECT_EQ(StgIsStorageFile(wide(dir.file("none")).c_str()), TAV_STG_E_FILENOTFOUND);
    StgRef<StgStorage> root;
    EXPECT_EQ(open_root(path, kStgModeRead, root), TAV_STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(open_root(dir.file("none"), kStgModeRead, root), TAV_STG_E_FILENOTFOUND);
    EXPECT_EQ(open_root(path, kStgModeCreate, root), TAV_STG_E_INVALIDFLAG);
    EXPECT_EQ(StgCreateDocfile(wide(path).c_str(), kStgModeWrite, 0, root.put()), TAV_STG_E_FILEALREADYEXISTS);
    ASSERT_EQ(create_root(path, root), TAV_S_OK);  // 0x1012 replaces the file
    root.reset();
    EXPECT_EQ(StgIsStorageFile(wide(path).c_str()), TAV_S_OK);
    StgMalloc* m = nullptr;
    EXPECT_EQ(StgGetMalloc(2, &m), TAV_STG_E_INVALIDPARAMETER);
}

TEST(StorageEngine, VersionFourFilesWithLargeSectorsReadInOlefile) {
    TempDir dir;
    std::string path = dir.file("v4.cfb");
    {
        StgRef<StgStorage> root;
        ASSERT_EQ(stg_create_docfile_shift(wide(path).c_str(), kStgModeCreate, cfb::kShiftVersion4, root.put()),
                  TAV_S_OK);
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(put_stream(root.get(), "v" + std::to_string(i), stream_bytes(size_t(i) * 997, unsigned(i))), TAV_S_OK);
        ASSERT_EQ(root->ops->DestroyElement(root.get(), u"v7"), TAV_S_OK);
    }
    EXPECT_EQ(read32(path, cfb::kHdrMajorVersion) & 0xFFFF, cfb::kVersion4);
    std::string listing = olefile_listing(path, true);
    EXPECT_EQ(listing, engine_listing(path));
    EXPECT_NE(listing.find("/v39 stream 38883"), std::string::npos);
}

TEST(StorageEngine, CopyToCopiesStoragesAndStreams) {
    TempDir dir;
    StgRef<StgStorage> src, dst;
    ASSERT_EQ(create_root(dir.file("src.cfb"), src), TAV_S_OK);
    {
        StgRef<StgStorage> sub;
        ASSERT_EQ(make_storage(src.get(), "sub", sub), TAV_S_OK);
        ASSERT_EQ(put_stream(sub.get(), "big", stream_bytes(70000, 9)), TAV_S_OK);
        ASSERT_EQ(put_stream(src.get(), "top", "top"), TAV_S_OK);
    }
    ASSERT_EQ(create_root(dir.file("dst.cfb"), dst), TAV_S_OK);
    ASSERT_EQ(put_stream(dst.get(), "top", "old content replaced"), TAV_S_OK);
    ASSERT_EQ(put_stream(dst.get(), "kept", "kept"), TAV_S_OK);
    ASSERT_EQ(src->ops->CopyTo(src.get(), 0, nullptr, nullptr, dst.get()), TAV_S_OK);
    // A storage cannot be copied into itself.
    StgRef<StgStorage> sub;
    ASSERT_EQ(src->ops->OpenStorage(src.get(), u"sub", nullptr, kStgModeWrite, nullptr, 0, sub.put()), TAV_S_OK);
    EXPECT_EQ(src->ops->CopyTo(src.get(), 0, nullptr, nullptr, sub.get()), TAV_STG_E_ACCESSDENIED);
    // Stream to stream, from the current positions.
    StgRef<StgStream> a, b;
    ASSERT_EQ(src->ops->OpenStream(src.get(), u"top", nullptr, kStgModeRead, 0, a.put()), TAV_S_OK);
    ASSERT_EQ(dst->ops->CreateStream(dst.get(), u"copy", kStgModeCreate, 0, 0, b.put()), TAV_S_OK);
    uint64_t read = 0, written = 0;
    ASSERT_EQ(a->ops->CopyTo(a.get(), b.get(), 100, &read, &written), TAV_S_OK);
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(written, 3u);
    a.reset();
    b.reset();
    sub.reset();
    src.reset();
    dst.reset();
    std::string listing = olefile_listing(dir.file("dst.cfb"), true);
    EXPECT_EQ(listing, "/copy stream 3 " + content_hash("top") + "\n/kept stream 4 " + content_hash("kept") +
                           "\n/sub storage\n/sub/big stream 70000 " + content_hash(stream_bytes(70000, 9)) +
                           "\n/top stream 3 " + content_hash("top") + "\n");
}

// A small valid file with one regular stream and one storage, and where
// its parts lie: sector 0 the FAT, sector 1 the directory.
struct HostileFile {
    TempDir dir;
    std::string path = dir.file("hostile.cfb");
    HostileFile() {
        StgRef<StgStorage> root;
        EXPECT_EQ(create_root(path, root), TAV_S_OK);
        EXPECT_EQ(put_stream(root.get(), "reg", stream_bytes(5000, 2)), TAV_S_OK);
        StgRef<StgStorage> sub;
        EXPECT_EQ(make_storage(root.get(), "sub", sub), TAV_S_OK);
    }
    uint64_t fat(uint32_t sector) const { return 512 + 4ull * sector; }
    uint64_t entry(uint32_t slot) const { return 512ull * (read32(path, cfb::kHdrFirstDirSector) + 1) + 128ull * slot; }
    uint32_t slot_of(const std::string& name) const {
        std::vector<uint8_t> all = read_file(path);
        for (uint32_t s = 0; s < 4; ++s)
            if (all[entry(s)] == uint8_t(name[0]) && all[entry(s) + 66] != 0) return s;
        return 0;
    }
    uint32_t open_and_read() const {
        StgRef<StgStorage> root;
        if (uint32_t rc = open_root(path, kStgModeRead, root)) return rc;
        std::string data = get_stream(root.get(), "reg");
        return data == stream_bytes(5000, 2) ? 0 : 1;
    }
};

TEST(StorageEngine, HostileFilesAreRefusedWithAStatus) {
    {
        HostileFile f;
        EXPECT_EQ(f.open_and_read(), 0u);
        patch32(f.path, cfb::kHdrSectorShift, 10 | (cfb::kMiniShift << 16));
        EXPECT_EQ(f.open_and_read(), TAV_STG_E_INVALIDHEADER);
    }
    {
        HostileFile f;  // the stream's chain loops back on itself
        uint32_t start = read32(f.path, f.entry(f.slot_of("reg")) + cfb::kEntStart);
        patch32(f.path, f.fat(start + 1), start);
        EXPECT_EQ(f.open_and_read(), 1u);
        StgRef<StgStorage> root;
        EXPECT_EQ(open_root(f.path, kStgModeWrite, root), TAV_STG_E_DOCFILECORRUPT);
    }
    {
        HostileFile f;  // a FAT entry leads past the end of the file
        uint32_t start = read32(f.path, f.entry(f.slot_of("reg")) + cfb::kEntStart);
        patch32(f.path, f.fat(start), 100000);
        EXPECT_EQ(f.open_and_read(), 1u);
    }
    {
        HostileFile f;  // a directory cycle: the storage's child is the root
        patch32(f.path, f.entry(f.slot_of("sub")) + cfb::kEntChild, 0);
        EXPECT_EQ(f.open_and_read(), TAV_STG_E_DOCFILECORRUPT);
    }
    {
        HostileFile f;  // a child beyond the directory
        patch32(f.path, f.entry(0) + cfb::kEntChild, 4000);
        EXPECT_EQ(f.open_and_read(), TAV_STG_E_DOCFILECORRUPT);
    }
    {
        HostileFile f;  // a mini stream larger than its container
        patch32(f.path, f.entry(0) + cfb::kEntSize, 1u << 20);
        EXPECT_EQ(f.open_and_read(), TAV_STG_E_DOCFILECORRUPT);
    }
    {
        HostileFile f;  // an absurd FAT sector count
        patch32(f.path, cfb::kHdrFatSectors, 0x40000000);
        EXPECT_EQ(f.open_and_read(), TAV_STG_E_DOCFILECORRUPT);
    }
}

}  // namespace
