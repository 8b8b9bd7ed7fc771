// Tag decoding (Part 3.2) on hand-made TIFF files, through xtavopen and
// xtavgeti.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "page_test_util.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

namespace {

class DecodeTags : public ::testing::Test {
protected:
    TempDir dir;
    int n = 0;
    std::string save(const std::vector<uint8_t>& bytes) {
        std::string path = dir.file("t" + std::to_string(n++) + ".tif");
        write_file(path, bytes);
        return path;
    }
    // A minimal bilevel page: width, length, one strip of `strip` bytes.
    std::vector<uint8_t> strip = std::vector<uint8_t>(100, 0x55);
};

// The basic page, with extra entries added by `more`.
template <typename F>
std::vector<uint8_t> page(bool mm, const std::vector<uint8_t>& strip, F more,
                          bool counts = true) {
    TiffBuilder b(mm);
    uint32_t off = b.add_data(strip);
    auto& d = b.add_ifd();
    d.longs(256, {64}).longs(257, {10}).longs(273, {off});
    if (counts) d.longs(279, {uint32_t(strip.size())});
    more(d);
    return b.build();
}

TEST_F(DecodeTags, BilevelPageWithoutByteCounts) {
    for (bool mm : {false, true}) {
        auto bytes = page(mm, strip, [](TiffBuilder::Ifd&) {}, false);
        std::string path = save(bytes);
        OpenedFile f(path);
        ASSERT_TRUE(f.ok()) << f.error;
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.infoKind, 4u);
        EXPECT_EQ(pi.compression, TAV_COMP_NONE);
        EXPECT_EQ(pi.photometric, TAV_PHOTO_BILEVEL_WHITE);
        EXPECT_EQ(pi.resolutionUnit, 2u);
        EXPECT_EQ(pi.xResNum, 0u);
        EXPECT_EQ(pi.xResDen, 1u);
        EXPECT_EQ(pi.yResNum, 0u);
        EXPECT_EQ(pi.yResDen, 1u);
        EXPECT_EQ(pi.byteOrder, mm ? 0x4D4Du : 0x4949u);
        EXPECT_EQ(pi.fileType, FILETYPE_TIFF);
        EXPECT_EQ(pi.stripCount, 1u);
        EXPECT_EQ(pi.rowsPerStrip, 0xFFFFFFFFu);
        EXPECT_EQ(pi.bitsPerSample[0], 1u);
        EXPECT_EQ(pi.samplesPerPixel, 1u);
        EXPECT_EQ(pi.fillOrder, 1u);
        EXPECT_EQ(pi.colorSpaceType, 1u);
        EXPECT_EQ(ps.dataBytes, uint32_t(bytes.size()) - 8);  // file end minus offset
        EXPECT_EQ(pi.maxStripSize, ps.dataBytes);
        EXPECT_EQ(ps.rawBytes, 8u * 10u);
    }
}

TEST_F(DecodeTags, SingleStripRunsToTheEndOfTheFile) {
    auto bytes = page(false, strip, [](TiffBuilder::Ifd& d) { d.remove(279).longs(279, {10}); });
    OpenedFile f(save(bytes));
    ASSERT_TRUE(f.ok());
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    uint32_t sizes[2] = {};
    ps.sizeCapacity = 2;
    ps.sizes = sizes;
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(ps.dataBytes, uint32_t(bytes.size()) - 8);
    EXPECT_EQ(pi.maxStripSize, ps.dataBytes);
    EXPECT_EQ(ps.sizeCount, 1u);
    EXPECT_EQ(sizes[0], ps.dataBytes);
    // Option 13 gives the count the reader uses, option 23 the stored one.
    uint32_t counts[1] = {};
    TavStripCounts rec{1, counts};
    ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &rec), 0u);
    EXPECT_EQ(counts[0], ps.dataBytes);
    ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &rec), 0u);
    EXPECT_EQ(counts[0], 10u);
}

TEST_F(DecodeTags, GreyPhotometric) {
    for (uint16_t photo : {0, 1}) {
        auto bytes = page(false, strip, [&](TiffBuilder::Ifd& d) {
            d.shorts(258, {8}).shorts(262, {photo});
        });
        OpenedFile f(save(bytes));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.photometric, photo == 0 ? TAV_PHOTO_GRAY_WHITE : TAV_PHOTO_GRAY_BLACK);
        EXPECT_EQ(ps.rawBytes, 64u * 10u);
    }
    // Bilevel keeps 9 and 10.
    for (uint16_t photo : {0, 1}) {
        OpenedFile f(save(page(false, strip, [&](TiffBuilder::Ifd& d) { d.shorts(262, {photo}); })));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.photometric, photo == 0 ? TAV_PHOTO_BILEVEL_WHITE : TAV_PHOTO_BILEVEL_BLACK);
    }
}

TEST_F(DecodeTags, CompressionCodes) {
    struct Case {
        uint16_t tiff;
        uint32_t code;  // 0: refused
        uint32_t info;
    } cases[] = {{1, 1, 0}, {2, 2, 4}, {3, 3, 8}, {4, 4, 0}, {5, 5, 0}, {32773, 6, 0},
                 {6, 7, 0}, {32864, 7, 0}, {7, 0, 0}, {8, 0, 0}, {34712, 0, 0}};
    for (const Case& c : cases) {
        OpenedFile f(save(page(false, strip, [&](TiffBuilder::Ifd& d) { d.shorts(259, {c.tiff}); })));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        uint32_t err = f.info(1, pi, ps);
        if (c.code == 0) {
            EXPECT_EQ(err, uint32_t(TAV_E_COMPRESSION)) << c.tiff;
        } else {
            ASSERT_EQ(err, 0u) << c.tiff;
            EXPECT_EQ(pi.compression, c.code) << c.tiff;
            EXPECT_EQ(pi.compressionInfo.value, c.info) << c.tiff;
        }
    }
}

TEST_F(DecodeTags, CcittOptionsAndPredictor) {
    OpenedFile f(save(page(false, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(259, {3}).longs(292, {5});
    })));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.compressionInfo.value, 8u | 5u);
    OpenedFile g(save(page(false, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(259, {4}).longs(293, {2});
    })));
    ASSERT_EQ(g.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.compressionInfo.value, 2u);
    OpenedFile h(save(page(false, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(259, {5}).shorts(317, {2});
    })));
    ASSERT_EQ(h.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.compression, TAV_COMP_LZW);
    EXPECT_EQ(pi.compressionInfo.value, 2u);
}

TEST_F(DecodeTags, YCbCrNeedsJpeg) {
    OpenedFile f(save(page(false, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(258, {8, 8, 8}).shorts(259, {5}).shorts(262, {6}).shorts(277, {3});
    })));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_UNSUPPORTED));
    OpenedFile g(save(page(false, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(258, {8, 8, 8}).shorts(259, {6}).shorts(262, {6}).shorts(277, {3})
            .rationals(529, {{299, 1000}, {587, 0}, {114, 1000}})
            .shorts(530, {2, 1})
            .shorts(531, {2});
    })));
    ASSERT_EQ(g.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.photometric, TAV_PHOTO_YCBCR);
    EXPECT_EQ(pi.compression, TAV_COMP_JPEG);
    EXPECT_EQ(pi.area.ycbcr.coefficients[0], 299u);
    EXPECT_EQ(pi.area.ycbcr.coefficients[3], 1u);  // zero denominator becomes 1
    EXPECT_EQ(pi.area.ycbcr.subSampling[0], 2u);
    EXPECT_EQ(pi.area.ycbcr.subSampling[1], 1u);
    EXPECT_EQ(pi.area.ycbcr.positioning, 2u);
    for (uint16_t bad : {4, 5, 7, 8, 32844}) {
        OpenedFile h(save(page(false, strip, [&](TiffBuilder::Ifd& d) { d.shorts(262, {bad}); })));
        EXPECT_EQ(h.info(1, pi, ps), uint32_t(TAV_E_UNSUPPORTED)) << bad;
    }
}

TEST_F(DecodeTags, Orientation) {
    const uint32_t rot[9] = {0, 0, 270, 180, 90, 0, 270, 180, 90};
    const uint32_t mir[9] = {0, 0, 0, 0, 0, 1, 1, 1, 1};
    for (uint16_t o = 0; o <= 9; ++o) {
        OpenedFile f(save(page(true, strip, [&](TiffBuilder::Ifd& d) { d.shorts(274, {o}); })));
        PageInfo pi = fresh_info();
        pi.reserved = 77;
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.rotation, o <= 8 ? rot[o] : 0u) << o;
        EXPECT_EQ(pi.mirrored, o <= 8 ? mir[o] : 0u) << o;
        EXPECT_EQ(pi.reserved, 0u);
    }
}

TEST_F(DecodeTags, StripComputation) {
    // 23 rows, RowsPerStrip 10: three strips.
    for (bool mm : {false, true}) {
        TiffBuilder b(mm);
        uint32_t o1 = b.add_data(std::vector<uint8_t>(30, 1));
        uint32_t o2 = b.add_data(std::vector<uint8_t>(50, 2));
        uint32_t o3 = b.add_data(std::vector<uint8_t>(20, 3));
        b.add_ifd().longs(256, {16}).longs(257, {23}).shorts(278, {10})
            .longs(273, {o1, o2, o3}).shorts(279, {30, 50, 20});
        OpenedFile f(save(b.build()));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.stripCount, 3u);
        EXPECT_EQ(pi.rowsPerStrip, 10u);
        EXPECT_EQ(ps.dataBytes, 100u);
        EXPECT_EQ(pi.maxStripSize, 50u);
        uint16_t size = 0;
        ASSERT_EQ(f.option(1, TAV_OPT_COUNT_SIZE, &size), 0u);
        EXPECT_EQ(size, 2u);
        uint16_t counts[3] = {};
        TavStripCounts rec{3, counts};
        ASSERT_EQ(f.option(1, TAV_OPT_STRIP_COUNTS, &rec), 0u);
        EXPECT_EQ(counts[0], 30u);
        EXPECT_EQ(counts[1], 50u);
        EXPECT_EQ(counts[2], 20u);
        uint16_t stored[3] = {};
        TavStripCounts rec23{3, stored};
        ASSERT_EQ(f.option(1, TAV_OPT_STORED_COUNTS, &rec23), 0u);
        EXPECT_EQ(std::memcmp(counts, stored, sizeof counts), 0);
    }
    // Only two byte counts: two strips.
    {
        TiffBuilder b;
        uint32_t o1 = b.add_data(std::vector<uint8_t>(30, 1));
        uint32_t o2 = b.add_data(std::vector<uint8_t>(50, 2));
        uint32_t o3 = b.add_data(std::vector<uint8_t>(20, 3));
        b.add_ifd().longs(256, {16}).longs(257, {23}).shorts(278, {10})
            .longs(273, {o1, o2, o3}).longs(279, {30, 50});
        OpenedFile f(save(b.build()));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.stripCount, 2u);
        EXPECT_EQ(ps.dataBytes, 80u);
        EXPECT_EQ(pi.maxStripSize, 50u);
    }
}

TEST_F(DecodeTags, RowsPerStripZeroWithSeveralCountsIsRefused) {
    TiffBuilder b;
    uint32_t o1 = b.add_data(std::vector<uint8_t>(30, 1));
    uint32_t o2 = b.add_data(std::vector<uint8_t>(50, 2));
    b.add_ifd().longs(256, {16}).longs(257, {23}).longs(278, {0}).longs(273, {o1, o2})
        .longs(279, {30, 50});
    OpenedFile f(save(b.build()));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_ROWS_PER_STRIP));
    // With one byte count it is one strip.
    OpenedFile g(save(page(false, strip, [](TiffBuilder::Ifd& d) { d.longs(278, {0}); })));
    ASSERT_EQ(g.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.stripCount, 1u);
}

TEST_F(DecodeTags, SeveralCountsWithoutRowsPerStripMakeOneStrip) {
    TiffBuilder b;
    uint32_t o1 = b.add_data(std::vector<uint8_t>(30, 1));
    uint32_t o2 = b.add_data(std::vector<uint8_t>(50, 2));
    b.add_ifd().longs(256, {16}).longs(257, {23}).longs(273, {o1, o2}).longs(279, {30, 50});
    auto bytes = b.build();
    OpenedFile f(save(bytes));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ps.dataBytes = 12345;  // not kept
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.stripCount, 1u);
    EXPECT_EQ(ps.dataBytes, uint32_t(bytes.size()) - o1);
}

TEST_F(DecodeTags, BigEndianBitsPerSampleCountTwo) {
    OpenedFile f(save(page(true, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(258, {8, 8}).shorts(277, {2}).shorts(262, {1});
    })));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.bitsPerSample[0], 8u);
    EXPECT_EQ(pi.bitsPerSample[1], 8u);
    EXPECT_EQ(pi.photometric, TAV_PHOTO_GRAY_BLACK);
    // Five of seven values are kept.
    OpenedFile g(save(page(true, strip, [](TiffBuilder::Ifd& d) {
        d.shorts(258, {1, 2, 3, 4, 5, 6, 7}).shorts(277, {7});
    })));
    ASSERT_EQ(g.info(1, pi, ps), 0u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(pi.bitsPerSample[i], i + 1);
}

TEST_F(DecodeTags, ResolutionAndUnit) {
    for (uint16_t unit : {0, 1, 2, 3, 4, 7}) {
        OpenedFile f(save(page(unit % 2, strip, [&](TiffBuilder::Ifd& d) {
            d.rationals(282, {{300, 1}}).rationals(283, {{150, 0}}).shorts(296, {unit});
        })));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.resolutionUnit, (unit >= 1 && unit <= 3) ? unit : 1u) << unit;
        EXPECT_EQ(pi.xResNum, 300u);
        EXPECT_EQ(pi.xResDen, 1u);
        EXPECT_EQ(pi.yResNum, 150u);
        EXPECT_EQ(pi.yResDen, 1u);
    }
}

TEST_F(DecodeTags, NewSubfileType) {
    // Subfile selection happens in single-page files only, so the values
    // are tried on the second page of a two-page file.
    struct Case {
        uint32_t value;
        uint32_t out;  // 0xFF: refused
    } cases[] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 4}, {6, 4}, {8, 0xFF}, {16, 0xFF}};
    for (const Case& c : cases) {
        TiffBuilder b;
        uint32_t off = b.add_data(strip);
        b.add_ifd().longs(256, {64}).longs(257, {10}).longs(273, {off}).longs(279, {100});
        b.add_ifd().longs(254, {c.value}).longs(256, {64}).longs(257, {10}).longs(273, {off})
            .longs(279, {100});
        OpenedFile f(save(b.build()));
        ASSERT_EQ(f.pages, 2u);
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        uint32_t err = f.info(2, pi, ps);
        if (c.out == 0xFF) {
            EXPECT_EQ(err, uint32_t(TAV_E_UNSUPPORTED)) << c.value;
        } else {
            ASSERT_EQ(err, 0u) << c.value;
            EXPECT_EQ(pi.subfileType, c.out) << c.value;
        }
    }
}

TEST_F(DecodeTags, RequiredTagsInOrder) {
    auto without = [&](std::vector<uint16_t> drop, bool tiles = false) {
        TiffBuilder b;
        uint32_t off = b.add_data(strip);
        auto& d = b.add_ifd();
        d.longs(256, {64}).longs(257, {10});
        if (tiles) d.longs(322, {64}).longs(323, {10}).longs(324, {off});
        else d.longs(273, {off}).longs(279, {100});
        for (uint16_t t : drop) d.remove(t);
        OpenedFile f(save(b.build()));
        PageInfo pi = fresh_info();
        PageSizes ps = fresh_sizes();
        return f.info(1, pi, ps);
    };
    EXPECT_EQ(without({257, 256, 273, 279}), uint32_t(TAV_E_NO_LENGTH));
    EXPECT_EQ(without({256, 273, 279}), uint32_t(TAV_E_NO_WIDTH));
    EXPECT_EQ(without({273, 279}), uint32_t(TAV_E_NO_OFFSETS));
    EXPECT_EQ(without({273}), uint32_t(TAV_E_NO_OFFSETS));
    EXPECT_EQ(without({}, true), uint32_t(TAV_E_NO_BYTE_COUNTS));  // tiles without counts
}

TEST_F(DecodeTags, TilesAsWideAsTheImageReadAsStrips) {
    TiffBuilder b;
    uint32_t o1 = b.add_data(std::vector<uint8_t>(40, 1));
    uint32_t o2 = b.add_data(std::vector<uint8_t>(40, 2));
    b.add_ifd().longs(256, {64}).longs(257, {10}).longs(322, {64}).longs(323, {5})
        .longs(324, {o1, o2}).longs(325, {40, 40});
    OpenedFile f(save(b.build()));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.stripCount, 2u);
    EXPECT_EQ(pi.rowsPerStrip, 5u);
    EXPECT_EQ(ps.dataBytes, 80u);
    // Narrower tiles are refused.
    TiffBuilder c;
    uint32_t t1 = c.add_data(std::vector<uint8_t>(40, 1));
    c.add_ifd().longs(256, {64}).longs(257, {10}).longs(322, {32}).longs(323, {10})
        .longs(324, {t1}).longs(325, {40});
    OpenedFile g(save(c.build()));
    EXPECT_EQ(g.info(1, pi, ps), uint32_t(TAV_E_UNSUPPORTED));
}

TEST_F(DecodeTags, PrivateTagsAndProfile) {
    TiffBuilder b;
    uint32_t off = b.add_data(strip);
    std::vector<uint8_t> profile(200);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = uint8_t(i * 7);
    uint32_t prof = b.add_data(profile);
    b.add_ifd().longs(256, {64}).longs(257, {10}).longs(273, {off}).longs(279, {100})
        .bytes(32931, 1, 12, std::vector<uint8_t>(12, 9))
        .bytes(32932, 1, 3, {1, 2, 3})
        .raw(34675, 7, 200, prof);
    OpenedFile f(save(b.build()));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.privateTagFlags, 3u);
    EXPECT_EQ(pi.colorSpaceType, 0x4D424544u);
    EXPECT_EQ(pi.profileSize, 200u);
    EXPECT_EQ(pi.profileOffset.value, prof);
    std::vector<uint8_t> got(200);
    pi.profileBuffer = got.data();
    ASSERT_EQ(f.data(pi), 0u);
    EXPECT_EQ(got, profile);
}

// An old-style JPEG stream: SOI, APP0, a TEXO comment, DQT, SOF0, SOS, data.
std::vector<uint8_t> jpeg_stream(uint8_t q, uint8_t s, uint32_t* sosAt, uint32_t* dataAt) {
    std::vector<uint8_t> j = {0xFF, 0xD8};
    auto segment = [&](uint8_t marker, std::vector<uint8_t> body) {
        j.push_back(0xFF);
        j.push_back(marker);
        uint32_t len = uint32_t(body.size()) + 2;
        j.push_back(uint8_t(len >> 8));
        j.push_back(uint8_t(len));
        j.insert(j.end(), body.begin(), body.end());
    };
    segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    segment(0xFE, {'T', 'E', 'X', 'O', q, s});
    segment(0xDB, std::vector<uint8_t>(65, 3));
    segment(0xC0, {8, 0, 10, 0, 64, 1, 1, 0x11, 0});
    *sosAt = uint32_t(j.size());
    segment(0xDA, {1, 1, 0, 0, 63, 0});
    *dataAt = uint32_t(j.size());
    for (int i = 0; i < 300; ++i) j.push_back(uint8_t(i % 200));
    j.push_back(0xFF);
    j.push_back(0xD9);
    return j;
}

TEST_F(DecodeTags, OldStyleJpegStripMovedBackToSos) {
    for (bool with514 : {true, false}) {
        for (bool mm : {false, true}) {
            uint32_t sos = 0, data = 0;
            auto jpeg = jpeg_stream(75, 1, &sos, &data);
            TiffBuilder b(mm);
            uint32_t io = b.add_data(jpeg);
            auto& d = b.add_ifd();
            d.longs(256, {64}).longs(257, {10}).shorts(258, {8}).shorts(259, {6})
                .shorts(262, {1}).longs(273, {io + data})
                .longs(279, {uint32_t(jpeg.size()) - data}).shorts(512, {1}).longs(513, {io});
            if (with514) d.longs(514, {uint32_t(jpeg.size())});
            auto bytes = b.build();
            OpenedFile f(save(bytes));
            PageInfo pi = fresh_info();
            PageSizes ps = fresh_sizes();
            ASSERT_EQ(f.info(1, pi, ps), 0u) << with514 << mm;
            EXPECT_EQ(pi.compression, TAV_COMP_JPEG_INFO);
            JpegInfo* j = pi.compressionInfo.jpeg;
            ASSERT_NE(j, nullptr);
            EXPECT_EQ(j->interchange, 1u);
            EXPECT_EQ(j->interchangeOffset, io);
            EXPECT_EQ(j->interchangeLength, sos);
            ASSERT_EQ(j->headerLength, sos);
            EXPECT_EQ(std::memcmp(j->header, jpeg.data(), sos), 0);
            // q 75, s 1 becomes 2.
            EXPECT_EQ(j->jpegOptions, 75u + 75u * 128 + 2u * 16384);
            // The strip starts at the SOS marker and still ends where it did.
            EXPECT_EQ(ps.dataBytes, uint32_t(bytes.size()) - (io + sos));
            EXPECT_EQ(pi.maxStripSize, ps.dataBytes);
            std::vector<uint8_t> got(ps.dataBytes);
            uint32_t err = 0;
            got = f.stream(1, ps.dataBytes, 1000, &err);
            ASSERT_EQ(err, 0u);
            EXPECT_EQ(std::memcmp(got.data(), bytes.data() + io + sos, got.size()), 0);
        }
    }
}

TEST_F(DecodeTags, OldStyleJpegRefusals) {
    uint32_t sos = 0, data = 0;
    auto jpeg = jpeg_stream(1, 2, &sos, &data);
    auto make = [&](auto more) {
        TiffBuilder b;
        uint32_t io = b.add_data(jpeg);
        auto& d = b.add_ifd();
        d.longs(256, {64}).longs(257, {10}).shorts(258, {8}).shorts(259, {6})
            .longs(273, {io + data}).longs(279, {uint32_t(jpeg.size()) - data});
        more(d, io);
        return save(b.build());
    };
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    {  // lossless JPEG
        OpenedFile f(make([](TiffBuilder::Ifd& d, uint32_t io) {
            d.shorts(512, {14}).longs(513, {io});
        }));
        EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_COMPRESSION));
    }
    {  // separate tables without the interchange stream
        OpenedFile f(make([](TiffBuilder::Ifd& d, uint32_t) {
            d.shorts(512, {1}).longs(519, {8});
        }));
        EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_COMPRESSION));
    }
    {  // tables ignored after 513
        OpenedFile f(make([](TiffBuilder::Ifd& d, uint32_t io) {
            d.shorts(512, {1}).longs(513, {io}).longs(519, {8});
        }));
        EXPECT_EQ(f.info(1, pi, ps), 0u);
    }
    {  // no marker at the interchange offset
        OpenedFile f(make([](TiffBuilder::Ifd& d, uint32_t io) {
            d.shorts(512, {1}).longs(513, {io + 10});
        }));
        EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_COMPRESSION));
    }
    {  // beyond the end of the file
        OpenedFile f(make([](TiffBuilder::Ifd& d, uint32_t) {
            d.shorts(512, {1}).longs(513, {0x7FFFFFF0});
        }));
        EXPECT_EQ(f.info(1, pi, ps), uint32_t(TAV_E_COMPRESSION));
    }
}

TEST_F(DecodeTags, TextTagsAndShortTextsInEntries) {
    for (bool mm : {false, true}) {
        OpenedFile f(save(page(mm, strip, [](TiffBuilder::Ifd& d) {
            d.ascii(269, "abc")           // four bytes with the NUL: in the entry
                .ascii(270, "A longer description")
                .ascii(271, "Mk")
                .ascii(305, "Some software 1.0")
                .ascii(306, "2024:01:02 03:04:05");
        })));
        TextTagBuf tags[9];
        std::memset(tags, 0, sizeof tags);
        tags[3].length = 99;  // Model is absent: 0 after the call
        PageInfo pi = fresh_info();
        pi.textTags = tags;
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.textTags, tags);
        EXPECT_EQ(tags[0].length, 4u);
        EXPECT_EQ(tags[1].length, 21u);
        EXPECT_EQ(tags[2].length, 3u);
        EXPECT_EQ(tags[3].length, 0u);
        EXPECT_EQ(tags[8].length, 18u);
        EXPECT_EQ(tags[5].length, 20u);
        std::vector<std::vector<char>> bufs(9);
        for (int k = 0; k < 9; ++k) {
            bufs[k].assign(tags[k].length + 1, 'x');
            tags[k].buffer = bufs[k].data();
        }
        ASSERT_EQ(f.data(pi), 0u);
        EXPECT_STREQ(bufs[0].data(), "abc");
        EXPECT_STREQ(bufs[1].data(), "A longer description");
        EXPECT_STREQ(bufs[2].data(), "Mk");
        EXPECT_STREQ(bufs[8].data(), "Some software 1.0");
        EXPECT_STREQ(bufs[5].data(), "2024:01:02 03:04:05");
        EXPECT_EQ(bufs[3][0], 'x');
    }
}

TEST_F(DecodeTags, ColourMapDeliveredInHostOrder) {
    for (bool mm : {false, true}) {
        std::vector<uint16_t> map(3 * 16);
        for (size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 4099);
        OpenedFile f(save(page(mm, strip, [&](TiffBuilder::Ifd& d) {
            d.shorts(258, {4}).shorts(262, {3}).shorts(320, map).shorts(301, map)
                .rationals(318, {{3127, 10000}, {3290, 10000}});
        })));
        PageInfo pi = fresh_info();
        std::vector<uint16_t> keep(1);
        pi.area.palette.primariesBuffer = keep.data();  // a pointer set before the call
        PageSizes ps = fresh_sizes();
        ASSERT_EQ(f.info(1, pi, ps), 0u);
        EXPECT_EQ(pi.photometric, TAV_PHOTO_PALETTE);
        EXPECT_EQ(pi.area.palette.planarConfig, 1u);
        EXPECT_EQ(pi.area.palette.primariesBuffer, keep.data());
        ASSERT_EQ(pi.area.palette.colorMapSize, 96u);
        ASSERT_EQ(pi.area.palette.transferSize, 96u);
        ASSERT_EQ(pi.area.palette.whitePointSize, 16u);
        std::vector<uint16_t> got(48), transfer(48);
        std::vector<uint32_t> white(4);
        pi.area.palette.colorMapBuffer = got.data();
        pi.area.palette.transferBuffer = transfer.data();
        pi.area.palette.whitePointBuffer = white.data();
        pi.area.palette.primariesBuffer = nullptr;
        ASSERT_EQ(f.data(pi), 0u);
        EXPECT_EQ(got, map);
        EXPECT_EQ(transfer, map);
        EXPECT_EQ(white[0], 3127u);
        EXPECT_EQ(white[1], 10000u);
        EXPECT_EQ(white[2], 3290u);
    }
}

TEST_F(DecodeTags, GreyResponseCurve) {
    std::vector<uint16_t> curve(16);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = uint16_t(1000 + i);
    OpenedFile f(save(page(true, strip, [&](TiffBuilder::Ifd& d) {
        d.shorts(258, {4}).shorts(262, {0}).shorts(290, {3}).shorts(291, curve);
    })));
    PageInfo pi = fresh_info();
    PageSizes ps = fresh_sizes();
    ASSERT_EQ(f.info(1, pi, ps), 0u);
    EXPECT_EQ(pi.photometric, TAV_PHOTO_GRAY_WHITE);
    EXPECT_EQ(pi.area.gray.grayResponseUnit, 3u);
    ASSERT_EQ(pi.area.gray.grayResponseSize, 32u);
    std::vector<uint16_t> got(16);
    pi.area.gray.grayResponseBuffer = got.data();
    ASSERT_EQ(f.data(pi), 0u);
    EXPECT_EQ(got, curve);
}

}  // namespace
