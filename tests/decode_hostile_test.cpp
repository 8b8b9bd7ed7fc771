// Hostile TIFF files: truncated directories, offsets beyond the end, counts
// of 2^32-1, strips pointing into the header. Each gives a result or an
// error code, never a crash or a read outside a buffer (the sanitizer build
// runs these too).
#include "page_test_util.h"

namespace {

struct Hostile : TiffFileTest {
    // Runs every call on every page; returns the first error code met.
    uint32_t exercise(const std::string& path) {
        OpenedFile f(path);
        if (!f.ok()) return f.error ? f.error : ~0u;
        uint32_t first = 0;
        auto note = [&](uint32_t err) { if (!first) first = err; };
        for (uint16_t p = 1; p <= std::min(f.pages, 20u); ++p) {
            TextTagBuf tags[9] = {};
            uint32_t sizes[8];
            f.pi = PageInfo{};
            f.ps = PageSizes{0, 0, 8, 0, sizes};
            f.pi.textTags = tags;
            if (uint32_t err = f.info(p)) {
                note(err);
                continue;
            }
            // Texts and tables in buffers of the sizes announced (capped).
            std::vector<std::vector<char>> texts(9);
            for (int k = 0; k < 9; ++k)
                if (tags[k].length <= (1u << 20)) {
                    texts[k].resize(tags[k].length + 1);
                    tags[k].buffer = texts[k].data();
                }
            std::vector<uint8_t> map, profile;
            if (f.pi.photometric == TAV_PHOTO_PALETTE && f.pi.area.palette.colorMapSize < (1u << 20)) {
                map.resize(f.pi.area.palette.colorMapSize + 1);
                f.pi.area.palette.colorMapBuffer = map.data();
            }
            profile.resize(f.pi.profileSize < (1u << 20) ? f.pi.profileSize : 0);
            f.pi.profileBuffer = profile.empty() ? nullptr : profile.data();
            note(f.data());
            std::vector<uint8_t> buf(std::clamp(f.ps.dataBytes, 1u, 1u << 20));
            uint32_t remaining = 0, err = 0;
            if (f.read(buf.data(), 0, uint32_t(buf.size()), &remaining, p, &err) < 0) note(err);
        }
        return first;
    }

    // A good two-page file: the base for the damaged ones.
    std::vector<uint8_t> good(TiffBuilder& b) {
        uint32_t o1 = b.add_data(std::vector<uint8_t>(100, 1)), o2 = b.add_data(std::vector<uint8_t>(100, 2));
        b.add_ifd().longs(256, {16}).longs(257, {20}).shorts(278, {10}).longs(273, {o1, o2})
            .longs(279, {100, 100}).ascii(270, "a description of the page")
            .rationals(282, {{200, 1}}).rationals(283, {{200, 1}});
        b.add_ifd().longs(256, {16}).longs(257, {10}).longs(273, {o2}).longs(279, {100})
            .shorts(258, {8}).shorts(262, {3}).shorts(320, std::vector<uint16_t>(768, 3));
        return b.build();
    }
};

TEST_F(Hostile, TruncatedAnywhere) {
    TiffBuilder b;
    auto bytes = good(b);
    EXPECT_EQ(exercise(save(bytes)), 0u);
    for (size_t len = 0; len < bytes.size(); len += (len < 300 ? 1 : 7))
        exercise(save(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(len))));
    // A directory cut in the middle of its entries.
    EXPECT_NE(exercise(save(std::vector<uint8_t>(bytes.begin(), bytes.begin() + b.ifd_offset(1) + 20))), 0u);
    for (uint32_t first : {0u, 1u, 7u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {  // first IFD anywhere
        b.hasFirstIfdOverride = true;
        b.firstIfdOverride = first;
        EXPECT_NE(exercise(save(b.build())), 0u) << first;
    }
}

TEST_F(Hostile, HugeCountsAndOffsets) {
    const uint32_t kMax = 0xFFFFFFFFu;
    struct Case {
        uint16_t tag, type;
        uint32_t count, value;
        uint32_t expected;  // 0: the page reads, the bad tag left out
    } cases[] = {
        {273, 4, kMax, 8, TAV_E_NO_OFFSETS}, {279, 4, kMax, 8, TAV_E_NO_BYTE_COUNTS},
        {273, 3, kMax, 8, TAV_E_NO_OFFSETS}, {279, 3, 0x80000000u, 8, TAV_E_NO_BYTE_COUNTS},
        {273, 4, 0, 8, TAV_E_NO_OFFSETS},    {273, 1, 1, 8, TAV_EINVAL},  // BYTE offsets
        {258, 3, kMax, 0x7FFFFFF0u, TAV_EIO}, {282, 5, 1, 0x7FFFFFF0u, TAV_EIO},
        {282, 5, 1, kMax, TAV_EIO},          {529, 5, kMax, 8, 0},  // not a YCbCr page
        {320, 3, kMax, 8, 0},                {270, 2, kMax, 8, 0},
        {34675, 7, kMax, 8, 0},              {291, 3, kMax, 8, 0},
    };
    for (const Case& c : cases) {
        std::string path = one_page(false, [&](TiffBuilder::Ifd& d) { d.remove(c.tag).raw(c.tag, c.type, c.count, c.value); });
        EXPECT_EQ(exercise(path), c.expected) << c.tag << " " << c.count;
    }
    // Tables beyond the end are left out, as if absent.
    OpenedFile f(one_page(false, [](TiffBuilder::Ifd& d) {
        d.shorts(258, {8}).shorts(262, {3}).raw(320, 3, 768, 0x7FFF0000u)
            .raw(270, 2, 40, 0x7FFF0000u).raw(34675, 7, 4000, 0x10000);
    }));
    TextTagBuf tags[9] = {};
    f.pi.textTags = tags;
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(f.pi.area.palette.colorMapSize + tags[1].length + f.pi.profileSize, 0u);
    EXPECT_EQ(f.pi.colorSpaceType, 1u);
}

// A resolution entry that is no RATIONAL (another type, or no value)
// holds no resolution: the page reads with none, and a property update,
// which copies such an entry as it stands, leaves the page as it read.
TEST_F(Hostile, ResolutionOnlyFromRationalEntries) {
    struct Case {
        uint16_t tag, type;
        uint32_t count;
    } cases[] = {{282, 52485, 1}, {283, 65531, 63742}, {283, 5, 0}, {282, 3, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.tag) + " type " + std::to_string(c.type) + " count " + std::to_string(c.count));
        TiffBuilder b;
        const uint32_t numbers = b.add_longs({300, 1, 300, 1});
        const uint32_t strip = b.add_data(std::vector<uint8_t>(80, 0x5A));
        b.add_ifd().longs(256, {64}).longs(257, {10}).longs(273, {strip}).longs(279, {80})
            .rationals(282, {{200, 1}}).rationals(283, {{100, 1}}).remove(c.tag).raw(c.tag, c.type, c.count, numbers);
        const std::string path = save(b.build());
        PageInfo before{};
        {
            OpenedFile f(path);
            ASSERT_EQ(f.info(1), 0u);
            before = f.pi;
        }
        EXPECT_EQ(c.tag == 282 ? before.xResNum : before.yResNum, 0u);
        EXPECT_EQ(c.tag == 282 ? before.yResNum : before.xResNum, c.tag == 282 ? 100u : 200u);

        PageInfo props{};
        char title[] = "a title far longer than any block this file could have held";
        char none[] = "";
        props.title = title;
        props.author = props.subject = props.keywords = props.comments = none;
        uint32_t err = 0;
        ASSERT_EQ(xtavputprops(nullptr, PathBuf(path), &props, &err), 0);
        OpenedFile f(path);
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.pi.xResNum, before.xResNum);
        EXPECT_EQ(f.pi.yResNum, before.yResNum);
        EXPECT_EQ(f.pi.imageLength, 10u);
        uint32_t read = 0;
        EXPECT_EQ(f.stream(1, 80, 80, &read), std::vector<uint8_t>(80, 0x5A));
    }
}

TEST_F(Hostile, StripsOutsideTheFile) {
    struct Case {
        std::vector<uint32_t> offsets, counts;
        uint32_t expected;
    } cases[] = {
        {{0x7FFFFF00u}, {100}, TAV_E_COUNT},  // past the end: no bytes at all
        {{2}, {100}, TAV_E_NO_SUBFILE},        // in the header
        {{0}, {100}, TAV_E_NO_SUBFILE},
        {{8, 0x7FFFFF00u}, {50, 50}, TAV_E_NO_SUBFILE},
        {{8, 3}, {50, 50}, TAV_E_NO_SUBFILE},
        {{8, 8}, {50, 0xFFFFFFF0u}, TAV_E_NO_SUBFILE},
        {{0xFFFFFFF0u, 8}, {50, 50}, TAV_E_NO_SUBFILE},
        {{0x90000000u, 8}, {50, 50}, TAV_E_SEEK},
        {{8, 8}, {0xFFFFFFFFu, 0xFFFFFFFFu}, TAV_E_NO_SUBFILE},
    };
    for (const Case& c : cases) {
        std::string path = one_page(false, [&](TiffBuilder::Ifd& d) {
            d.remove(273).remove(279).remove(257).longs(273, c.offsets).longs(279, c.counts).longs(257, {20});
            if (c.offsets.size() > 1) d.shorts(278, {10});
        });
        EXPECT_EQ(exercise(path), c.expected) << c.offsets[0];
    }
}

TEST_F(Hostile, JpegSegmentsThatStandStillOrRunPastTheEnd) {
    for (uint8_t len : {0, 1, 0xFF}) {  // lengths 0 and 1 would never advance
        std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, len, len, 0xFF, 0xDA, 0, 4, 0, 0};
        TiffBuilder b;
        uint32_t io = b.add_data(j);
        b.add_ifd().longs(256, {8}).longs(257, {8}).shorts(259, {6}).longs(273, {io + 6})
            .longs(279, {6}).shorts(512, {1}).longs(513, {io}).longs(514, {0xFFFFFFFFu});
        OpenedFile f(save(b.build()));
        if (f.info(1) == 0) {
            EXPECT_EQ(f.pi.compressionInfo.jpeg->headerLength, 2u);
        }
    }
}

}  // namespace
