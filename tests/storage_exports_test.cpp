// The structured-storage exports and helpers: the AWD test, storage
// reference paths, IsStorage, CopyStorage and the narrow-name wrappers.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/plat_version.h"
#include "storage/stg_utils.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

const std::string kPrefix = "texo:\\inboxawd\\fakefile";

std::string reference_to(const void* object) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)));
    return kPrefix + "\\" + hex;
}

// A compound file with the given root elements (names ending in '/' are
// storages).
std::string make_file(const TempDir& dir, const std::string& name, const std::vector<std::string>& elements) {
    std::string path = dir.file(name);
    StgRef<StgStorage> root;
    EXPECT_EQ(create_root(path, root), TAV_S_OK);
    for (const auto& e : elements) {
        if (e.back() == '/') {
            StgRef<StgStorage> s;
            EXPECT_EQ(make_storage(root.get(), e.substr(0, e.size() - 1), s), TAV_S_OK);
        } else {
            EXPECT_EQ(put_stream(root.get(), e, "x"), TAV_S_OK);
        }
    }
    return path;
}

// Switches AWD support off for a test's scope (process attach reads the
// platform identifier).
struct NoAwdSupport {
    NoAwdSupport() {
        plat_set_platform_id(2);
        DllMain(nullptr, 1, nullptr);
    }
    ~NoAwdSupport() {
        plat_set_platform_id(0);
        DllMain(nullptr, 1, nullptr);
    }
};

TEST(StorageExports, TheAwdTestLooksForBothMarks) {
    TempDir dir;
    uint32_t isAwd = 7;
    std::string both = make_file(dir, "both.awd", {"Persistent Information/", "\x05SummaryInformation"});
    EXPECT_EQ(IsAWDFile(both.c_str(), &isAwd), 0u);
    EXPECT_EQ(isAwd, 1u);
    std::string noSummary = make_file(dir, "nosummary.awd", {"Persistent Information/", "Documents/"});
    EXPECT_EQ(IsAWDFile(noSummary.c_str(), &isAwd), 0u);
    EXPECT_EQ(isAwd, 0u);
    std::string plain = dir.file("plain.tif");
    write_file(plain, std::string("II*\0\x08\0\0\0", 8) + std::string(600, '\0'));
    EXPECT_EQ(IsAWDFile(plain.c_str(), &isAwd), 0u);
    EXPECT_EQ(isAwd, 0u);
    errno = 0;
    EXPECT_EQ(IsAWDFile(dir.file("missing").c_str(), &isAwd), TAV_STG_E_FILENOTFOUND);
    EXPECT_EQ(uint32_t(errno), TAV_STG_E_FILENOTFOUND);
    // Recognised even without AWD support; the open then refuses it.
    NoAwdSupport off;
    EXPECT_EQ(IsAWDFile(both.c_str(), &isAwd), 0u);
    EXPECT_EQ(isAwd, 1u);
}

// Recognised as AWD, but without "Documents" there is no document table:
// the open fails with the missing storage's status, or 293 where AWD
// support is absent.
TEST(StorageExports, AnAwdFileWithoutDocumentsIsRefused) {
    TempDir dir;
    std::string both = make_file(dir, "both.awd", {"Persistent Information/", "\x05SummaryInformation"});
    uint32_t type = 0, pages = 0, err = 0;
    PathBuf p(both);
    EXPECT_LT(xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err), 0);
    EXPECT_EQ(err, TAV_STG_E_FILENOTFOUND);
    NoAwdSupport off;
    EXPECT_LT(xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err), 0);
    EXPECT_EQ(err, TAV_E_NOT_SUPPORTED);
}

TEST(StorageExports, ReferencePathsRoundTripInLowerCaseWithoutLeadingZeros) {
    EXPECT_EQ(parse_hex("1a2b"), 0x1a2bu);
    EXPECT_EQ(parse_hex("1A2B"), 0x12u);  // upper case letters are skipped
    EXPECT_EQ(parse_hex("x1-g2"), 0x12u);
    uintptr_t v = 0;
    EXPECT_TRUE(stg_reference_text((kPrefix + "\\1a2b").c_str(), &v));
    EXPECT_EQ(v, 0x1a2bu);
    EXPECT_FALSE(stg_reference_text((kPrefix + "\\1A2B").c_str(), &v));
    EXPECT_FALSE(stg_reference_text((kPrefix + "\\01a2b").c_str(), &v));
    EXPECT_FALSE(stg_reference_text(kPrefix.c_str(), &v));
    EXPECT_FALSE(stg_reference_text("other:\\inboxawd\\fakefile\\1a2b", &v));
    // 16 digits still fit a 64-bit address; more do not round-trip.
    EXPECT_TRUE(stg_reference_text((kPrefix + "\\ffffffffffffffff").c_str(), &v));
    EXPECT_FALSE(stg_reference_text((kPrefix + "\\1ffffffffffffffff").c_str(), &v));
    uint32_t isAwd = 0;
    EXPECT_EQ(IsAWDFile((kPrefix + "\\1a2b").c_str(), &isAwd), 0u);
    EXPECT_EQ(isAwd, 1u);
    // Only a live engine storage counts: anything else is never touched.
    EXPECT_EQ(stg_storage_reference((kPrefix + "\\1a2b").c_str()), nullptr);
    EXPECT_EQ(stg_storage_reference((kPrefix + "\\0").c_str()), nullptr);
    TempDir dir;
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(dir.file("live.cfb"), root), TAV_S_OK);
    std::string ref = reference_to(root.get());
    EXPECT_EQ(stg_storage_reference(ref.c_str()), root.get());
    StgStorage* gone = root.get();
    root.reset();
    EXPECT_EQ(stg_storage_reference(reference_to(gone).c_str()), nullptr);
}

TEST(StorageExports, IsStorageChecksOnlyThePrefix) {
    TempDir dir;
    std::string file = make_file(dir, "f.cfb", {"a"});
    EXPECT_EQ(IsStorage((kPrefix + "\\zz not hex").c_str()), 1u);
    EXPECT_EQ(IsStorage((kPrefix + "\\1a2b").c_str()), 1u);
    EXPECT_EQ(IsStorage(kPrefix.substr(0, 20).c_str()), 0u);
    EXPECT_EQ(IsStorage(file.c_str()), 0u);
    NoAwdSupport off;
    EXPECT_EQ(IsStorage((kPrefix + "\\1a2b").c_str()), 0u);
}

TEST(StorageExports, CopyStorageCopiesALiveStorageIntoANewFile) {
    TempDir dir;
    StgRef<StgStorage> root, sub;
    ASSERT_EQ(create_root(dir.file("src.cfb"), root), TAV_S_OK);
    ASSERT_EQ(make_storage(root.get(), "Documents", sub), TAV_S_OK);
    ASSERT_EQ(put_stream(sub.get(), "doc", "document data"), TAV_S_OK);
    std::string ref = reference_to(sub.get());
    std::string dest = dir.file("copy.cfb");
    EXPECT_EQ(CopyStorage(dir.file("src.cfb").c_str(), dest.c_str(), 1), kCopyStorageRefused);
    EXPECT_EQ(CopyStorage((kPrefix + "\\1a2b").c_str(), dest.c_str(), 1), kCopyStorageRefused);
    EXPECT_FALSE(file_exists(dest));
    EXPECT_EQ(CopyStorage(ref.c_str(), dest.c_str(), 0), 0u);  // a new path
    EXPECT_EQ(engine_listing(dest), "/doc stream 13 " + content_hash("document data") + "\n");
    write_file(dest, std::string("keep me"));
    EXPECT_EQ(CopyStorage(ref.c_str(), dest.c_str(), 0), uint32_t(TAV_EEXIST));
    auto bytes = read_file(dest);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep me");
    EXPECT_EQ(CopyStorage(ref.c_str(), dest.c_str(), 1), 0u);  // replaces
    EXPECT_EQ(olefile_listing(dest), "/doc stream 13 " + content_hash("document data") + "\n");
    // The source still belongs to the caller.
    EXPECT_EQ(get_stream(sub.get(), "doc"), "document data");
    NoAwdSupport off;
    EXPECT_EQ(CopyStorage(ref.c_str(), dest.c_str(), 1), kCopyStorageRefused);
}

TEST(StorageExports, WrappersTakeNarrowNames) {
    char16_t* w = nullptr;
    ASSERT_EQ(to_wide("", &w), 0u);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], u'\0');
    free_wide(&w);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(to_wide(nullptr, &w), 0u);
    EXPECT_EQ(w, nullptr);
    ASSERT_EQ(to_wide("Ré", &w), 0u);
    EXPECT_EQ(std::u16string(w), u"Ré");
    free_wide(&w);

    TempDir dir;
    std::string path = dir.file("wrapped.cfb");
    StgStorage* root = nullptr;
    ASSERT_EQ(stg_create_root(path.c_str(), &root), TAV_S_OK);
    StgStorage* docs = nullptr;
    ASSERT_EQ(stg_create_storage(root, "Documents", kStgModeCreate, &docs), TAV_S_OK);
    StgStream* s = nullptr;
    ASSERT_EQ(stg_create_stream(docs, "page one", kStgModeCreate, &s), TAV_S_OK);
    s->ops->Release(s);
    EXPECT_EQ(stg_rename(docs, "page one", "page 1"), TAV_S_OK);
    EXPECT_EQ(stg_open_stream(docs, "page one", kStgModeRead, &s), TAV_STG_E_FILENOTFOUND);
    ASSERT_EQ(stg_open_stream(docs, "page 1", kStgModeRead, &s), TAV_S_OK);
    s->ops->Release(s);
    EXPECT_EQ(stg_destroy(docs, "page 1"), TAV_S_OK);
    docs->ops->Release(docs);
    root->ops->Release(root);
    EXPECT_EQ(stg_is_storage_file(path.c_str()), TAV_S_OK);
    ASSERT_EQ(stg_open_root(path.c_str(), kStgModeRead, &root), TAV_S_OK);
    ASSERT_EQ(stg_open_storage(root, "Documents", kStgModeRead, &docs), TAV_S_OK);
    docs->ops->Release(docs);
    root->ops->Release(root);
}

}  // namespace
