// Directories hanging from kept pages (Exif, GPS, Interoperability,
// SubIFDs) through page deletion and property rewrites: copied once with
// every offset moved, damaged trees bounded, and the entries whose offsets
// the copy cannot know left out. Page moves and in-place property updates
// leave them where they are.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <set>
#include <sstream>

#include "edit_tiff_util.h"
#include "page_test_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace edit_test;

namespace {

constexpr uint16_t kSubIfds = 330, kExif = 34665, kGps = 34853, kInterop = 40965;
constexpr uint16_t kLong = 4, kIfdType = 13;

std::vector<uint8_t> pixels(uint32_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (uint32_t i = 0; i < n; ++i) v[i] = uint8_t(seed * 31 + i * 7);
    return v;
}

// An 8-bit grey image of one strip.
TiffBuilder::Ifd& grey(TiffBuilder::Ifd& d, uint32_t w, uint32_t h, uint32_t strip) {
    return d.longs(256, {w}).longs(257, {h}).shorts(258, {8}).shorts(259, {1}).shorts(262, {1}).longs(273, {strip})
        .shorts(277, {1}).longs(278, {h}).longs(279, {w * h});
}

// Three pages: page 1 with an Exif directory (an Interoperability directory
// inside) and a GPS directory, page 3 with a SubIFD holding an 8 x 4
// reduced image. With a property block when `block` is not empty.
std::vector<uint8_t> camera_file(bool mm, const std::string& block = "") {
    TiffBuilder b(mm);
    if (!block.empty()) b.add_property_block(block);
    uint32_t strips[3];
    for (uint8_t p = 0; p < 3; ++p) strips[p] = b.add_data(pixels(128, p));
    const uint32_t small = b.add_data(pixels(32, 9));
    auto& interop = b.add_subifd();
    interop.ascii(1, "R98").bytes(2, 7, 4, {'0', '1', '0', '0'});
    auto& exif = b.add_subifd();
    exif.rationals(33434, {{1, 250}}).ascii(36867, "2024:01:02 03:04:05").rationals(37386, {{50, 10}})
        .longs(40962, {16}).links(kInterop, kLong, {interop.index()});
    auto& gps = b.add_subifd();
    gps.bytes(0, 1, 4, {2, 2, 0, 0}).ascii(1, "N").rationals(2, {{51, 1}, {30, 1}, {1234, 100}});
    auto& reduced = b.add_subifd();
    grey(reduced, 8, 4, small).longs(254, {1});
    grey(b.add_ifd(), 16, 8, strips[0]).links(kExif, kLong, {exif.index()}).links(kGps, kIfdType, {gps.index()});
    grey(b.add_ifd(), 16, 8, strips[1]);
    grey(b.add_ifd(), 16, 8, strips[2]).links(kSubIfds, kLong, {reduced.index()});
    return b.build();
}

// An entry's value, text or list; kMissing, "(missing)" or nothing when the
// directory lacks it.
constexpr uint32_t kMissing = 0xFFFFFFFF;
uint32_t value_of(const Dir& d, uint16_t tag) {
    const Entry* e = d.find(tag);
    return e ? e->value : kMissing;
}
std::string text_of(const Reader& r, const Dir& d, uint16_t tag) {
    const Entry* e = d.find(tag);
    return e ? r.ascii(*e) : "(missing)";
}
std::vector<uint32_t> list_of(const Reader& r, const Dir& d, uint16_t tag) {
    const Entry* e = d.find(tag);
    return e ? r.array(*e) : std::vector<uint32_t>{};
}

bool is_link(const Entry& e) {
    return e.type == kIfdType || e.tag == kSubIfds || e.tag == kExif || e.tag == kGps || e.tag == kInterop;
}

// The directories at da in a and at db in b hold the same entries with the
// same values, strips, and directories below them; positions are compared
// through what they point at. A sub-directory's next link is followed too.
void expect_same_tree(const Reader& a, const Dir& da, const Reader& b, const Dir& db, int depth = 0) {
    ASSERT_LT(depth, 8) << "deeper than the files built here";
    std::vector<Entry> ea, eb;
    for (const Entry& e : da.entries)
        if (e.tag != 32934) ea.push_back(e);
    for (const Entry& e : db.entries)
        if (e.tag != 32934) eb.push_back(e);
    ASSERT_EQ(ea.size(), eb.size()) << "at depth " << depth;
    for (size_t i = 0; i < ea.size(); ++i) {
        const Entry &x = ea[i], &y = eb[i];
        ASSERT_EQ(x.tag, y.tag);
        EXPECT_EQ(x.count, y.count) << x.tag;
        if (is_link(x)) {
            auto la = a.array(x), lb = b.array(y);
            for (size_t k = 0; k < la.size() && k < lb.size(); ++k)
                expect_same_tree(a, a.dir(la[k]), b, b.dir(lb[k]), depth + 1);
            continue;
        }
        if (x.tag == 273 || x.tag == 279) continue;  // through the strips below
        EXPECT_EQ(x.type, y.type) << x.tag;
        static const uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        uint32_t size = x.count * (x.type < 14 ? sizes[x.type] : 0);
        if (size <= 4) {
            EXPECT_EQ(x.value, y.value) << x.tag;
        } else {
            ASSERT_TRUE(a.ok(x.value, size) && b.ok(y.value, size)) << x.tag;
            auto from = a.bytes.begin() + x.value;
            EXPECT_TRUE(std::equal(from, from + size, b.bytes.begin() + y.value)) << x.tag;
        }
    }
    EXPECT_EQ(a.strips(da), b.strips(db)) << "at depth " << depth;
    if (depth == 0) return;  // a page's next link is the chain's
    EXPECT_EQ(da.next != 0, db.next != 0);
    if (da.next && db.next) expect_same_tree(a, a.dir(da.next), b, b.dir(db.next), depth + 1);
}

// Kept pages of the original, in their new order, against the edited file.
void expect_same_pages(const Reader& before, const Reader& after, const std::vector<int>& kept) {
    auto old = before.chain(), now = after.chain();
    ASSERT_EQ(now.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(kept[i] + 1));
        expect_same_tree(before, old[kept[i]], after, now[i]);
    }
}

// Each page as Pillow reads it: the pixels' digest, the Exif entries (the
// Interoperability pointer left out), the GPS and the Interoperability
// entries; one line per page.
std::vector<std::string> pillow_pages(const TempDir& d, const std::string& path) {
    write_file(d.file("dump.py"),
               "import sys, hashlib, warnings\nfrom PIL import Image\nwarnings.simplefilter('error', UserWarning)\n"
               "with Image.open(sys.argv[1]) as im:\n"
               "    for i in range(im.n_frames):\n"
               "        im.seek(i)\n"
               "        e = im.getexif()\n"
               "        ex = e.get_ifd(0x8769)\n"
               "        interop = sorted(e.get_ifd(0xA005).items()) if 0xA005 in ex else []\n"
               "        ex = sorted((k, v) for k, v in ex.items() if k != 0xA005)\n"
               "        gps = sorted(e.get_ifd(0x8825).items())\n"
               "        print(hashlib.md5(im.tobytes()).hexdigest(), ex, gps, interop)\n");
    const std::string out = d.file("dump.txt");
    int rc = run_command("/usr/bin/python3 '" + d.file("dump.py") + "' '" + path + "' > '" + out + "' 2>&1");
    auto text = read_file(out);
    std::vector<std::string> lines;
    std::istringstream in(std::string(text.begin(), text.end()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (rc != 0) lines.insert(lines.begin(), "Pillow failed");
    return lines;
}

// Pillow's lines for the kept pages are the lines it read for them before.
void expect_pillow_kept(const std::vector<std::string>& before, const std::vector<std::string>& after,
                        const std::vector<int>& kept) {
    ASSERT_EQ(before.size(), 3u) << testing::PrintToString(before);
    ASSERT_EQ(after.size(), kept.size()) << testing::PrintToString(after);
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(after[i], before[kept[i]]);
}

int delete_pages(const std::string& path, int first, int last) {
    uint32_t err = 0;
    errno = 0;
    return xtavdelpgs(nullptr, PathBuf(path), first, uint32_t(last), &err);
}

int put_title(const std::string& path, const char* title) {
    PageInfo info{};
    info.title = const_cast<char*>(title);
    info.author = info.subject = info.keywords = info.comments = const_cast<char*>("");
    uint32_t err = 0;
    errno = 0;
    return xtavputprops(nullptr, PathBuf(path), &info, &err);
}

const std::string kLongTitle(300, 't');

// An edit of a file in a fresh directory, and the pages it keeps.
struct Edit {
    const char* name;
    std::function<int(const std::string&)> run;
    std::vector<int> kept;  // of three pages
};
const Edit kEdits[] = {
    {"delete page 2", [](const std::string& p) { return delete_pages(p, 2, 2); }, {0, 2}},
    {"delete page 1", [](const std::string& p) { return delete_pages(p, 1, 1); }, {1, 2}},
    {"new properties by rewrite", [](const std::string& p) { return put_title(p, kLongTitle.c_str()); }, {0, 1, 2}},
};

}  // namespace

// The hand-built file: every kept page's tree is the same after the edit,
// in Pillow's eyes too; the copy of a page with a SubIFD reads it whole.
TEST(EditSubdirs, DeletionAndRewriteKeepExifGpsAndSubIfds) {
    const bool pillow = !pillow_missing();
    for (bool mm : {false, true}) {
        for (const Edit& edit : kEdits) {
            SCOPED_TRACE(std::string(mm ? "MM, " : "II, ") + edit.name);
            TempDir d;
            const std::string path = d.file("camera.tif");
            write_file(path, camera_file(mm));
            const Reader before(read_file(path));
            const auto pillowBefore = pillow ? pillow_pages(d, path) : std::vector<std::string>{};
            ASSERT_EQ(edit.run(path), 0) << errno;
            const Reader after(read_file(path));
            expect_same_pages(before, after, edit.kept);
            const Dir last = after.chain().back();
            ASSERT_NE(last.find(kSubIfds), nullptr);
            EXPECT_EQ(after.strips(after.dir(value_of(last, kSubIfds))), pixels(32, 9));
            if (pillow) expect_pillow_kept(pillowBefore, pillow_pages(d, path), edit.kept);
        }
    }
}

// A move relinks directories and an update that fits writes the block:
// neither touches a sub-directory or the entries pointing at them.
TEST(EditSubdirs, MovesAndInPlaceUpdatesLeaveSubDirectoriesAlone) {
    std::string block = std::string("Title:old") + '\0' + "Author:" + '\0' + "Subject:" + '\0' + "Keywords:" + '\0' +
                        "Comments:" + '\0' + std::string(100, '\0');
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        TempDir d;
        const std::string path = d.file("camera.tif");
        write_file(path, camera_file(mm, block));
        const Reader before(read_file(path));
        ASSERT_EQ(put_title(path, "short"), 0) << errno;
        const Reader updated(read_file(path));
        ASSERT_EQ(updated.bytes.size(), before.bytes.size());
        expect_same_pages(before, updated, {0, 1, 2});
        {
            OpenedFile f(path, TAV_OPEN_READWRITE | TAV_OPEN_UPDATE);
            ASSERT_TRUE(f.ok()) << f.error;
            uint32_t value[2] = {1, 3};
            ASSERT_EQ(f.option(1, 22, value), 0u);
        }
        expect_same_pages(before, Reader(read_file(path)), {2, 0, 1});
    }
}

// Two pages share an Exif directory; a page's SubIFDs are chained through
// their next links as well as listed. Each directory is copied once: the
// pages share the copy, the list and the chain name the same copies.
TEST(EditSubdirs, SharedAndChainedSubDirectoriesAreCopiedOnce) {
    TiffBuilder b;
    const uint32_t page = b.add_data(pixels(128, 1)), s1 = b.add_data(pixels(32, 2)), s2 = b.add_data(pixels(8, 3));
    auto& exif = b.add_subifd();
    exif.ascii(36867, "2024:01:02 03:04:05");
    auto& second = b.add_subifd();
    grey(second, 4, 2, s2).longs(254, {1});
    auto& first = b.add_subifd();
    grey(first, 8, 4, s1).longs(254, {1});
    first.hasNextOverride = true;
    for (int p = 0; p < 3; ++p)
        grey(b.add_ifd(), 16, 8, page).links(kExif, kLong, {exif.index()}).links(kSubIfds, kIfdType,
                                                                                  {first.index(), second.index()});
    auto file = b.build();
    first.nextOverride = b.subifd_offset(second.index());
    file = b.build();
    for (const Edit& edit : kEdits) {
        SCOPED_TRACE(edit.name);
        TempDir d;
        const std::string path = d.file("shared.tif");
        write_file(path, file);
        ASSERT_EQ(edit.run(path), 0) << errno;
        const Reader before(file), after(read_file(path));
        expect_same_pages(before, after, edit.kept);
        auto c = after.chain();
        std::set<uint32_t> exifCopies, firstCopies;
        for (const Dir& dir : c) {
            exifCopies.insert(value_of(dir, kExif));
            auto subs = list_of(after, dir, kSubIfds);
            ASSERT_EQ(subs.size(), 2u);
            firstCopies.insert(subs[0]);
            EXPECT_EQ(after.dir(subs[0]).next, subs[1]) << "the chain leads to the listed copy";
        }
        EXPECT_EQ(exifCopies.size(), 1u);
        EXPECT_EQ(firstCopies.size(), 1u);
        EXPECT_LT(after.bytes.size(), file.size() + 1024);
    }
}

namespace {

// Builds page 1 (an Exif directory with DateTimeOriginal, one strip) and a
// plain page 2, lets `damage` change them, builds, lets `patch` set what
// needs the first build's offsets, and builds again.
using Damage = std::function<void(TiffBuilder&, TiffBuilder::Ifd& page, TiffBuilder::Ifd& exif)>;
std::vector<uint8_t> damaged_file(const Damage& damage, const Damage& patch = nullptr) {
    TiffBuilder b;
    const uint32_t s1 = b.add_data(pixels(128, 1)), s2 = b.add_data(pixels(128, 2));
    auto& exif = b.add_subifd();
    exif.ascii(36867, "2024:01:02 03:04:05");
    auto& page = grey(b.add_ifd(), 16, 8, s1).links(kExif, kLong, {exif.index()});
    grey(b.add_ifd(), 16, 8, s2);
    damage(b, page, exif);
    auto file = b.build();
    if (!patch) return file;
    patch(b, page, exif);
    return b.build();
}

// The source's offsets of a list of directories, as LONG bytes in the file.
std::vector<uint8_t> offsets_of(const TiffBuilder& b, const std::vector<uint32_t>& offsets) {
    std::vector<uint8_t> v;
    for (uint32_t o : offsets) b.put32(v, o);
    return v;
}

}  // namespace

// Damage below a page costs only the damaged part: a pointer that leads out
// of the file, into the header, to a directory cut off by the end of the
// file, back into its own tree, or deeper than 16 levels is left out, and
// so is a sub-directory's value that lies outside the file. The page, its
// strip and the rest of its tree stay.
TEST(EditSubdirs, DamagedTreesLoseOnlyTheDamagedPart) {
    const auto exif_of = [](const Reader& r, const Dir& page) { return r.dir(value_of(page, kExif)); };
    const auto no_gps = [](const Reader&, const Dir& page) { EXPECT_EQ(page.find(kGps), nullptr); };
    const auto gps_at = [](uint32_t at) {
        return [at](TiffBuilder&, auto& page, auto&) { page.raw(kGps, kLong, 1, at); };
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::function<void(const Reader&, const Dir& page)> check;
    };
    const Case cases[] = {
        {"GPS pointer beyond the end", damaged_file(gps_at(1u << 20)), no_gps},
        {"GPS pointer into the header", damaged_file(gps_at(4)), no_gps},
        {"GPS directory running past the end",
         damaged_file([](TiffBuilder& b, auto& page, auto&) { page.raw(kGps, kLong, 1, b.add_shorts({1000})); }),
         no_gps},
        {"Exif pointing at itself and, through its next link, at its page",
         damaged_file([](auto&, auto&, auto& exif) {
             exif.links(kInterop, kLong, {exif.index()}).hasNextOverride = true;
         },
                      [](TiffBuilder& b, auto&, auto& exif) { exif.nextOverride = b.ifd_offset(0); }),
         [&](const Reader& r, const Dir& page) {
             Dir exif = exif_of(r, page);
             EXPECT_EQ(text_of(r, exif, 36867), "2024:01:02 03:04:05");
             EXPECT_EQ(exif.find(kInterop), nullptr);
             EXPECT_EQ(exif.next, 0u);
         }},
        {"SubIFD list with an offset beyond the end",
         damaged_file([](TiffBuilder& b, auto& page, auto&) {
             page.bytes(kSubIfds, kLong, 3, offsets_of(b, {0, 0, 0}));  // the places, filled below
         },
                      [](TiffBuilder& b, auto& page, auto& exif) {
                          auto list = offsets_of(b, {b.subifd_offset(exif.index()), 1u << 20, b.ifd_offset(1)});
                          page.remove(kSubIfds).bytes(kSubIfds, kLong, 3, list);
                      }),
         [&](const Reader& r, const Dir& page) {
             auto list = list_of(r, page, kSubIfds);
             ASSERT_EQ(list.size(), 2u);
             EXPECT_EQ(list[0], value_of(page, kExif)) << "the Exif directory has one copy";
             EXPECT_EQ(r.strips(r.dir(list[1])), pixels(128, 2)) << "page 2's directory, copied as a sub-directory";
         }},
        {"SubIFD chain 40 directories long",
         damaged_file([](TiffBuilder& b, auto& page, auto&) {
             for (uint32_t i = 0; i < 40; ++i) b.add_subifd().longs(254, {i}).hasNextOverride = true;
             page.links(kSubIfds, kLong, {1});
         }, [](TiffBuilder& b, auto&, auto&) {
             for (size_t i = 1; i < 40; ++i) b.subifd(i).nextOverride = b.subifd_offset(i + 1);
         }),
         [](const Reader& r, const Dir& page) {
             uint32_t length = 0;
             for (uint32_t at = value_of(page, kSubIfds); at != kMissing && at && length < 40; at = r.dir(at).next)
                 EXPECT_EQ(value_of(r.dir(at), 254), length++);
             EXPECT_EQ(length, 16u);
         }},
        {"Exif value beyond the end", damaged_file([](auto&, auto&, auto& exif) { exif.raw(270, 2, 100000, 8); }),
         [&](const Reader& r, const Dir& page) {
             Dir exif = exif_of(r, page);
             EXPECT_EQ(exif.find(270), nullptr);
             EXPECT_EQ(text_of(r, exif, 36867), "2024:01:02 03:04:05");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir d;
        const std::string path = d.file("damaged.tif");
        write_file(path, c.file);
        ASSERT_EQ(delete_pages(path, 2, 2), 0) << errno;
        const Reader r(read_file(path));
        auto chain = r.chain();
        ASSERT_EQ(chain.size(), 1u);
        EXPECT_EQ(r.strips(chain[0]), pixels(128, 1));
        ASSERT_NE(chain[0].find(kExif), nullptr);
        c.check(r, chain[0]);
    }
}

// Sub-directories whose values overlap, or a page whose entries name one
// long list of directories again and again, so that copying each would
// make the copy many times the file: the edit is refused (297) and the
// file stays as it was.
TEST(EditSubdirs, OverlapsThatWouldOutgrowTheFileAreRefused) {
    const std::vector<uint8_t> files[] = {
        damaged_file([](TiffBuilder& b, auto&, auto& exif) {
            const uint32_t text = b.add_data(std::vector<uint8_t>(4000, 'x'));
            for (uint16_t k = 0; k < 400; ++k) exif.raw(uint16_t(40000 + k), 2, 3000u + k, text);
        }),
        // Twenty entries of page 1 name one list (the bytes of tag 60000) of
        // 2000 offsets of its Exif directory.
        damaged_file(
            [](TiffBuilder&, auto& page, auto&) {
                for (uint16_t k = 0; k < 20; ++k) page.raw(uint16_t(50000 + k), kIfdType, 2000, 0);
                page.bytes(60000, 1, 8000, std::vector<uint8_t>(8000));
            },
            [](TiffBuilder& b, auto& page, auto& exif) {
                const uint32_t list = b.value_offset(0, 60000);
                for (uint16_t k = 0; k < 20; ++k)
                    page.remove(uint16_t(50000 + k)).raw(uint16_t(50000 + k), kIfdType, 2000, list);
                auto offsets = offsets_of(b, std::vector<uint32_t>(2000, b.subifd_offset(exif.index())));
                page.remove(60000).bytes(60000, 1, 8000, offsets);
            }),
    };
    for (const auto& file : files) {
        TempDir d;
        const std::string path = d.file("overlap.tif");
        write_file(path, file);
        EXPECT_EQ(put_title(path, "T"), -1);
        EXPECT_EQ(errno, TAV_E_DIRECTORY);
        EXPECT_EQ(delete_pages(path, 2, 2), -1);
        EXPECT_EQ(errno, TAV_E_DIRECTORY);
        EXPECT_EQ(read_file(path), file);
    }
}

// Entries whose values may be offsets the copy cannot relocate are left
// out, in a page and below it: the free-space list, LONG values of private
// tags the library does not know, values of unknown field types. Private
// tags it knows to hold numbers, and private values of other types, stay.
TEST(EditSubdirs, OffsetsTheCopyCannotKnowAreDropped) {
    const auto odd_tags = [](TiffBuilder& b, TiffBuilder::Ifd& d) {
        d.longs(288, {8}).longs(289, {16}).longs(50000, {8}).longs(50001, {8, 16, 24}).raw(50002, 16, 1, 8)
            .longs(37393, {7}).shorts(50003, {8}).bytes(50004, 1, 6, {1, 2, 3, 4, 5, 6});
        (void)b;
    };
    const std::vector<uint8_t> file = damaged_file([&](TiffBuilder& b, auto& page, auto& exif) {
        odd_tags(b, page);
        odd_tags(b, exif);
        exif.longs(40962, {16}).longs(40963, {8});
    });
    TempDir d;
    const std::string path = d.file("odd.tif");
    write_file(path, file);
    ASSERT_EQ(delete_pages(path, 2, 2), 0) << errno;
    const Reader r(read_file(path));
    const Dir page = r.chain().at(0);
    const Dir exif = r.dir(value_of(page, kExif));
    for (const Dir* dir : {&page, &exif}) {
        for (uint16_t gone : {288, 289, 50000, 50001, 50002}) EXPECT_EQ(dir->find(gone), nullptr) << gone;
        EXPECT_EQ(value_of(*dir, 37393), 7u);
        EXPECT_EQ(value_of(*dir, 50003), 8u);
        EXPECT_EQ(list_of(r, *dir, 50004).size(), 6u);
    }
    EXPECT_EQ(value_of(exif, 40962), 16u);
    EXPECT_EQ(value_of(exif, 40963), 8u);
}

#ifdef QVTAV_HAVE_LIBTIFF
namespace {

// One 8-bit grey image of rows of two, written a row at a time.
void libtiff_image(TIFF* t, uint32_t w, uint32_t h, uint32_t subfile, uint8_t seed) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, subfile);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
    std::vector<uint8_t> row(w);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) row[x] = uint8_t(seed * 40 + x * 3 + y);
        TIFFWriteScanline(t, row.data(), y, 0);
    }
}

// Three pages as libtiff writes them: an Exif directory (written first, as
// libtiff's writers do) for page 1, two SubIFDs of reduced images for page 3.
bool libtiff_camera_file(const std::string& path, bool mm) {
    TIFF* t = TIFFOpen(path.c_str(), mm ? "wb" : "wl");
    if (!t) return false;
    uint64_t exif = 0, none[2] = {0, 0};
    TIFFCreateEXIFDirectory(t);
    TIFFSetField(t, EXIFTAG_DATETIMEORIGINAL, "2024:01:02 03:04:05");
    bool ok = TIFFWriteCustomDirectory(t, &exif);
    TIFFFreeDirectory(t);  // the Exif directory's fields (TIFFCreateDirectory keeps them otherwise)
    ok = ok && TIFFCreateDirectory(t) == 0;
    libtiff_image(t, 16, 8, 0, 1);
    TIFFSetField(t, TIFFTAG_EXIFIFD, exif);
    ok = ok && TIFFWriteDirectory(t);
    libtiff_image(t, 16, 8, 0, 2);
    ok = ok && TIFFWriteDirectory(t);
    TIFFSetField(t, TIFFTAG_SUBIFD, 2, none);
    libtiff_image(t, 16, 8, 0, 3);
    ok = ok && TIFFWriteDirectory(t);
    libtiff_image(t, 8, 4, FILETYPE_REDUCEDIMAGE, 4);
    ok = ok && TIFFWriteDirectory(t);
    libtiff_image(t, 4, 2, FILETYPE_REDUCEDIMAGE, 5);
    ok = ok && TIFFWriteDirectory(t);
    TIFFClose(t);
    return ok;
}

// The current directory's size and raw strips, as text.
std::string libtiff_image_text(TIFF* t) {
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    std::string text = std::to_string(w) + "x" + std::to_string(h) + ":";
    for (uint32_t s = 0; s < TIFFNumberOfStrips(t); ++s) {
        std::vector<uint8_t> raw(size_t(std::max<tmsize_t>(TIFFRawStripSize(t, s), 0)));
        if (TIFFReadRawStrip(t, s, raw.data(), tmsize_t(raw.size())) != tmsize_t(raw.size()))
            return text + " unreadable";
        for (uint8_t c : raw) text += "0123456789abcdef"[c >> 4], text += "0123456789abcdef"[c & 15];
        text += ' ';
    }
    return text;
}

// Each page as libtiff reads it: the image, each SubIFD's image, the Exif
// DateTimeOriginal.
std::vector<std::string> libtiff_pages(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return {"libtiff cannot open " + path};
    std::vector<std::string> pages;
    for (tdir_t p = 0; TIFFSetDirectory(t, p); ++p) {
        std::string page = libtiff_image_text(t);
        uint16_t n = 0;
        uint64_t* list = nullptr;
        uint64_t exif = 0;
        std::vector<uint64_t> subs;
        if (TIFFGetField(t, TIFFTAG_SUBIFD, &n, &list)) subs.assign(list, list + n);
        const bool hasExif = TIFFGetField(t, TIFFTAG_EXIFIFD, &exif);
        for (uint64_t at : subs)
            page += " | sub " + (TIFFSetSubDirectory(t, at) ? libtiff_image_text(t) : "unreadable");
        const char* when = nullptr;
        if (hasExif && !(TIFFReadEXIFDirectory(t, exif) && TIFFGetField(t, EXIFTAG_DATETIMEORIGINAL, &when)))
            when = "unreadable";
        if (hasExif) page += std::string(" | exif ") + when;
        pages.push_back(page);
    }
    TIFFClose(t);
    return pages;
}

}  // namespace

// Files written by libtiff: after each edit libtiff reads every kept page,
// its SubIFDs and its Exif date as before, and so does Pillow.
TEST(EditSubdirsInterop, LibtiffFilesKeepExifAndSubIfds) {
    TIFFSetWarningHandler(nullptr);
    const bool pillow = !pillow_missing();
    for (bool mm : {false, true}) {
        for (const Edit& edit : kEdits) {
            SCOPED_TRACE(std::string(mm ? "MM, " : "II, ") + edit.name);
            TempDir d;
            const std::string path = d.file("libtiff.tif");
            ASSERT_TRUE(libtiff_camera_file(path, mm));
            const auto before = libtiff_pages(path);
            ASSERT_EQ(before.size(), 3u);
            ASSERT_NE(before[0].find("exif 2024:01:02 03:04:05"), std::string::npos) << before[0];
            ASSERT_NE(before[2].find(" | sub 8x4:"), std::string::npos) << before[2];
            ASSERT_NE(before[2].find(" | sub 4x2:"), std::string::npos) << before[2];
            const Reader bytesBefore(read_file(path));
            const auto pillowBefore = pillow ? pillow_pages(d, path) : std::vector<std::string>{};
            ASSERT_EQ(edit.run(path), 0) << errno;
            const auto after = libtiff_pages(path);
            ASSERT_EQ(after.size(), edit.kept.size());
            for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i], before[edit.kept[i]]);
            expect_same_pages(bytesBefore, Reader(read_file(path)), edit.kept);
            if (pillow) expect_pillow_kept(pillowBefore, pillow_pages(d, path), edit.kept);
        }
    }
}
#endif
