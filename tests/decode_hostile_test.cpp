// Hostile TIFF files: truncated directories, offsets beyond the end, counts
// of 2^32-1, strips pointing into the header. Each gives an error code from
// xtavopen, xtavgeti, xtavread or xtavgtdata; nothing crashes or reads
// outside a buffer (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "page_test_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

namespace {

class Hostile : public ::testing::Test {
protected:
    TempDir dir;
    int n = 0;
    std::string save(const std::vector<uint8_t>& bytes) {
        std::string path = dir.file("h" + std::to_string(n++) + ".tif");
        write_file(path, bytes);
        return path;
    }

    // Opens the file and runs every call on every page; returns the first
    // error code met (0 when everything succeeded).
    uint32_t exercise(const std::string& path) {
        OpenedFile f(path);
        if (!f.ok()) return f.error ? f.error : 0xFFFFFFFFu;
        uint32_t first = 0;
        uint32_t pages = f.pages > 20 ? 20 : f.pages;
        for (uint32_t p = 1; p <= pages; ++p) {
            TextTagBuf tags[9];
            std::memset(tags, 0, sizeof tags);
            PageInfo pi = fresh_info();
            pi.textTags = tags;
            PageSizes ps = fresh_sizes();
            uint32_t sizes[8];
            ps.sizeCapacity = 8;
            ps.sizes = sizes;
            uint32_t err = f.info(uint16_t(p), pi, ps);
            if (err) {
                if (!first) first = err;
                continue;
            }
            // Texts and tables, in buffers of the sizes announced (capped).
            std::vector<std::vector<char>> texts(9);
            for (int k = 0; k < 9; ++k) {
                if (tags[k].length > (1u << 20)) continue;
                texts[k].resize(tags[k].length + 1);
                tags[k].buffer = texts[k].data();
            }
            std::vector<uint8_t> a, b2, c, d2;
            if (pi.photometric == TAV_PHOTO_PALETTE && pi.area.palette.colorMapSize < (1u << 20)) {
                a.resize(pi.area.palette.colorMapSize + 1);
                pi.area.palette.colorMapBuffer = a.data();
            }
            if (pi.profileSize && pi.profileSize < (1u << 20)) {
                b2.resize(pi.profileSize);
                pi.profileBuffer = b2.data();
            } else {
                pi.profileBuffer = nullptr;
            }
            (void)c;
            (void)d2;
            err = f.data(pi);
            if (err && !first) first = err;
            // The stream, capped at 1 MB (at least one byte is asked for).
            uint32_t size = ps.dataBytes < (1u << 20) ? ps.dataBytes : (1u << 20);
            if (size == 0) size = 1;
            {
                std::vector<uint8_t> buf(size);
                uint32_t remaining = 0;
                int32_t r = f.read(buf.data(), 0, size, &remaining, uint16_t(p), &err);
                if (r < 0 && !first) first = err;
            }
        }
        return first;
    }

    // A good two-page file: the base for the damaged ones.
    std::vector<uint8_t> good(TiffBuilder& b) {
        uint32_t o1 = b.add_data(std::vector<uint8_t>(100, 1));
        uint32_t o2 = b.add_data(std::vector<uint8_t>(100, 2));
        b.add_ifd().longs(256, {16}).longs(257, {20}).shorts(278, {10}).longs(273, {o1, o2})
            .longs(279, {100, 100}).ascii(270, "a description of the page")
            .rationals(282, {{200, 1}}).rationals(283, {{200, 1}});
        b.add_ifd().longs(256, {16}).longs(257, {10}).longs(273, {o2}).longs(279, {100})
            .shorts(258, {8}).shorts(262, {3}).shorts(320, std::vector<uint16_t>(768, 3));
        return b.build();
    }
};

TEST_F(Hostile, GoodFileWorks) {
    TiffBuilder b;
    EXPECT_EQ(exercise(save(good(b))), 0u);
}

TEST_F(Hostile, TruncatedAnywhere) {
    TiffBuilder b;
    auto bytes = good(b);
    // Every length from 0 up: each file either works or gives a code.
    for (size_t len = 0; len < bytes.size(); len += (len < 300 ? 1 : 7)) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(len));
        uint32_t r = exercise(save(cut));
        (void)r;
    }
    // A directory cut in the middle of its entries.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(b.ifd_offset(1) + 20));
    EXPECT_NE(exercise(save(cut)), 0u);
}

TEST_F(Hostile, HugeCounts) {
    const uint32_t kMax = 0xFFFFFFFFu;
    struct Case {
        uint16_t tag, type;
        uint32_t count, value;
        uint32_t expected;  // 0: the page reads, the bad tag left out
    } cases[] = {
        {273, 4, kMax, 8, TAV_E_NO_OFFSETS},
        {279, 4, kMax, 8, TAV_E_NO_BYTE_COUNTS},
        {273, 3, kMax, 8, TAV_E_NO_OFFSETS},
        {279, 3, 0x80000000u, 8, TAV_E_NO_BYTE_COUNTS},
        {273, 4, 0, 8, TAV_E_NO_OFFSETS},
        {273, 1, 1, 8, TAV_EINVAL},            // BYTE strip offsets
        {258, 3, kMax, 0x7FFFFFF0u, TAV_EIO},  // BitsPerSample beyond the end
        {282, 5, 1, 0x7FFFFFF0u, TAV_EIO},     // XResolution beyond the end
        {282, 5, 1, kMax, TAV_EIO},
        {529, 5, kMax, 8, 0},                  // ignored: not a YCbCr page
        {320, 3, kMax, 8, 0},                  // not a palette page
        {270, 2, kMax, 8, 0},                  // text beyond the end: left out
        {34675, 7, kMax, 8, 0},
        {291, 3, kMax, 8, 0},
    };
    for (const Case& c : cases) {
        TiffBuilder b;
        uint32_t off = b.add_data(std::vector<uint8_t>(100, 1));
        auto& d = b.add_ifd();
        d.longs(256, {16}).longs(257, {20}).longs(273, {off}).longs(279, {100});
        d.remove(c.tag).raw(c.tag, c.type, c.count, c.value);
        EXPECT_EQ(exercise(save(b.build())), c.expected) << c.tag << " " << c.count;
    }
}

TEST_F(Hostile, TablesBeyondTheEndAreLeftOut) {
    TiffBuilder b;
    uint32_t off = b.add_data(std::vector<uint8_t>(100, 1));
    b.add_ifd().longs(256, {16}).longs(257, {20}).longs(273, {off}).longs(279, {100})
        .shorts(258, {8}).shorts(262, {3}).raw(320, 3, 768, 0x7FFF0000u)
        .raw(270, 2, 40, 0x7FFF0000u).raw(34675, 7, 4000, 0x10000);
    OpenedFile f(save(b.build()));
    TextTagBuf tags[9];
    std::memset(tags, 0, sizeof tags);
    PageInfo pi = fresh_info();
    pi.textTags = tags;
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.area.palette.colorMapSize, 0u);
    EXPECT_EQ(tags[1].length, 0u);
    EXPECT_EQ(pi.profileSize, 0u);
    EXPECT_EQ(pi.colorSpaceType, 1u);
    // A caller that insists gets an error, not bytes from outside the file.
    std::vector<uint8_t> map(1536);
    pi.area.palette.colorMapBuffer = map.data();
    pi.area.palette.colorMapSize = 1536;
    EXPECT_EQ(f.data(pi), 0u);  // nothing to deliver: no offset
}

TEST_F(Hostile, StripsOutsideTheFile) {
    struct Case {
        std::vector<uint32_t> offsets, counts;
        uint32_t expected;
    } cases[] = {
        {{0x7FFFFF00u}, {100}, TAV_E_COUNT},        // one strip past the end: no bytes
        {{2}, {100}, TAV_E_NO_SUBFILE},             // one strip in the header
        {{0}, {100}, TAV_E_NO_SUBFILE},
        {{8, 0x7FFFFF00u}, {50, 50}, TAV_E_NO_SUBFILE},
        {{8, 3}, {50, 50}, TAV_E_NO_SUBFILE},
        {{8, 8}, {50, 0xFFFFFFF0u}, TAV_E_NO_SUBFILE},  // a count of 2^32-16
        {{0xFFFFFFF0u, 8}, {50, 50}, TAV_E_NO_SUBFILE},
        {{0x90000000u, 8}, {50, 50}, TAV_E_SEEK},
        {{8, 8}, {0xFFFFFFFFu, 0xFFFFFFFFu}, TAV_E_NO_SUBFILE},
    };
    for (const Case& c : cases) {
        TiffBuilder b;
        b.add_data(std::vector<uint8_t>(100, 1));
        auto& d = b.add_ifd();
        d.longs(256, {16}).longs(257, {20}).longs(273, c.offsets).longs(279, c.counts);
        if (c.offsets.size() > 1) d.shorts(278, {10});
        EXPECT_EQ(exercise(save(b.build())), c.expected) << c.offsets[0];
    }
}

TEST_F(Hostile, JpegMarkersThatStandStill) {
    // Segment lengths of 0 and 1 would never advance; the scan ends there.
    for (uint8_t len : {0, 1}) {
        std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, len, 0xFF, 0xDA, 0, 4, 0, 0};
        TiffBuilder b;
        uint32_t io = b.add_data(j);
        b.add_ifd().longs(256, {8}).longs(257, {8}).shorts(259, {6}).longs(273, {io + 6})
            .longs(279, {6}).shorts(512, {1}).longs(513, {io});
        OpenedFile f(save(b.build()));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        uint32_t err = f.info(1, pi, ps);
        if (err == 0) {
            EXPECT_EQ(pi.compressionInfo.jpeg->headerLength, 2u);
        }
    }
    // A segment that runs past the end of the file.
    std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xF0, 1, 2};
    TiffBuilder b;
    uint32_t io = b.add_data(j);
    b.add_ifd().longs(256, {8}).longs(257, {8}).shorts(259, {6}).longs(273, {io + 6})
        .longs(279, {2}).shorts(512, {1}).longs(513, {io}).longs(514, {0xFFFFFFFFu});
    EXPECT_NE(exercise(save(b.build())), 0xFFFFFFFFu);
}

TEST_F(Hostile, DirectoryPointingAnywhere) {
    for (uint32_t first : {0u, 1u, 7u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        TiffBuilder b;
        good(b);
        b.hasFirstIfdOverride = true;
        b.firstIfdOverride = first;
        EXPECT_NE(exercise(save(b.build())), 0u) << first;
    }
}

// Random damage to a good file, many times over: every outcome is a result
// or a code.
TEST_F(Hostile, RandomDamage) {
    TiffBuilder b;
    auto base = good(b);
    std::mt19937 rng(12345);
    std::string path = dir.file("fuzz.tif");
    for (int round = 0; round < 400; ++round) {
        auto bytes = base;
        int hits = 1 + int(rng() % 6);
        for (int h = 0; h < hits; ++h) {
            size_t at = rng() % bytes.size();
            switch (rng() % 4) {
            case 0: bytes[at] = uint8_t(rng()); break;
            case 1: bytes[at] = 0xFF; break;
            case 2: bytes[at] = 0; break;
            default:
                for (size_t k = at; k < at + 4 && k < bytes.size(); ++k) bytes[k] = 0xFF;
            }
        }
        if (rng() % 5 == 0) bytes.resize(rng() % bytes.size());
        write_file(path, bytes);
        exercise(path);
    }
}

}  // namespace
