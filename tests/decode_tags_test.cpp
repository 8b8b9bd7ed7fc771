// Tag decoding on hand-made TIFF files, through xtavopen, xtavgeti and
// xtavgtdata.
#include <cstring>

#include "page_test_util.h"

namespace {

using Ifd = TiffBuilder::Ifd;
struct DecodeTags : TiffFileTest {};

TEST_F(DecodeTags, BilevelPageWithoutByteCountsTakesDefaults) {
    for (bool mm : {false, true}) {
        std::string path = one_page(mm, [](Ifd& d) { d.remove(279); });
        OpenedFile f(path);
        ASSERT_EQ(f.info(1), 0u) << f.error;
        const PageInfo& pi = f.pi;
        const uint32_t size = uint32_t(read_file(path).size() - 8);  // file end minus offset
        EXPECT_EQ(std::vector<uint32_t>({pi.infoKind, pi.compression, pi.photometric, pi.resolutionUnit,
                                         pi.xResNum + pi.yResNum, pi.xResDen + pi.yResDen, pi.byteOrder,
                                         pi.stripCount, pi.rowsPerStrip, pi.bitsPerSample[0],
                                         pi.samplesPerPixel, pi.fillOrder, pi.colorSpaceType,
                                         f.ps.dataBytes, pi.maxStripSize}),
                  std::vector<uint32_t>({4, TAV_COMP_NONE, TAV_PHOTO_BILEVEL_WHITE, 2, 0, 2,
                                         mm ? 0x4D4Du : 0x4949u, 1, 0xFFFFFFFFu, 1, 1, 1, 1, size, size}));
        EXPECT_EQ(f.ps.rawBytes, 8u * 10u);
    }
}

TEST_F(DecodeTags, Photometric) {
    struct Case {
        uint16_t bits, tiff;
        uint32_t ours;  // 0: refused with TAV_E_UNSUPPORTED
    } cases[] = {{8, 0, TAV_PHOTO_GRAY_WHITE}, {8, 1, TAV_PHOTO_GRAY_BLACK},
                 {1, 0, TAV_PHOTO_BILEVEL_WHITE}, {1, 1, TAV_PHOTO_BILEVEL_BLACK},
                 {1, 4, 0}, {1, 5, 0}, {1, 7, 0}, {1, 8, 0}, {1, 32844, 0}};
    for (const Case& c : cases) {
        OpenedFile f(one_page(false, [&](Ifd& d) { d.shorts(258, {c.bits}).shorts(262, {c.tiff}); }));
        if (!c.ours) {
            EXPECT_EQ(f.info(1), uint32_t(TAV_E_UNSUPPORTED)) << c.tiff;
            continue;
        }
        ASSERT_EQ(f.info(1), 0u) << c.tiff;
        EXPECT_EQ(f.pi.photometric, c.ours) << c.tiff;
        EXPECT_EQ(f.ps.rawBytes, 64u * 10u * c.bits / 8);
    }
}

TEST_F(DecodeTags, CompressionCodesAndOptions) {
    struct Case {
        uint16_t tiff, optTag;  // optTag: T4/T6 options or predictor, value 5 or 2
        uint32_t ours;          // 0: refused with TAV_E_COMPRESSION
        uint32_t info;
    } cases[] = {{1, 0, 1, 0}, {2, 0, 2, 4}, {3, 0, 3, 8}, {3, 292, 3, 8 | 5}, {4, 0, 4, 0},
                 {4, 293, 4, 2}, {5, 0, 5, 0}, {5, 317, 5, 2}, {32773, 0, 6, 0}, {6, 0, 7, 0},
                 {32864, 0, 7, 0}, {7, 0, 0, 0}, {8, 0, 0, 0}, {34712, 0, 0, 0}};
    for (const Case& c : cases) {
        OpenedFile f(one_page(false, [&](Ifd& d) {
            d.shorts(259, {c.tiff});
            if (c.optTag == 317) d.shorts(317, {2});
            else if (c.optTag) d.longs(c.optTag, {c.optTag == 292 ? 5u : 2u});
        }));
        if (!c.ours) {
            EXPECT_EQ(f.info(1), uint32_t(TAV_E_COMPRESSION)) << c.tiff;
            continue;
        }
        ASSERT_EQ(f.info(1), 0u) << c.tiff;
        EXPECT_EQ(f.pi.compression, c.ours) << c.tiff;
        EXPECT_EQ(f.pi.compressionInfo.value, c.info) << c.tiff << " " << c.optTag;
    }
}

TEST_F(DecodeTags, YCbCrOnlyWithJpeg) {
    auto ycbcr = [&](uint16_t comp) {
        return one_page(false, [&](Ifd& d) {
            d.shorts(258, {8, 8, 8}).shorts(259, {comp}).shorts(262, {6}).shorts(277, {3})
                .rationals(529, {{299, 1000}, {587, 0}, {114, 1000}}).shorts(530, {2, 1})
                .shorts(531, {2});
        });
    };
    OpenedFile lzw(ycbcr(5));
    EXPECT_EQ(lzw.info(1), uint32_t(TAV_E_UNSUPPORTED));
    OpenedFile f(ycbcr(6));
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(f.pi.photometric, TAV_PHOTO_YCBCR);
    EXPECT_EQ(f.pi.compression, TAV_COMP_JPEG);
    const auto& y = f.pi.area.ycbcr;  // the zero denominator becomes 1
    EXPECT_EQ(std::vector<uint32_t>({y.coefficients[0], y.coefficients[3], y.subSampling[0], y.subSampling[1], y.positioning}),
              std::vector<uint32_t>({299, 1, 2, 1, 2}));
}

TEST_F(DecodeTags, Orientation) {
    const uint32_t rot[10] = {0, 0, 270, 180, 90, 0, 270, 180, 90, 0};
    for (uint16_t o = 0; o <= 9; ++o) {
        OpenedFile f(one_page(true, [&](Ifd& d) { d.shorts(274, {o}); }));
        f.pi.reserved = 77;
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.pi.rotation, rot[o]) << o;
        EXPECT_EQ(f.pi.mirrored, o >= 5 && o <= 8 ? 1u : 0u) << o;
        EXPECT_EQ(f.pi.reserved, 0u);
    }
}

TEST_F(DecodeTags, StripLayouts) {
    // 23 rows in strips of 30, 50 and 20 bytes, described in several ways.
    struct Case {
        int rps;  // -1: no RowsPerStrip
        std::vector<uint32_t> counts;
        uint32_t err, strips, dataBytes;  // dataBytes 0: the rest of the file
    } cases[] = {{10, {30, 50, 20}, 0, 3, 100},
                 {10, {30, 50}, 0, 2, 80},
                 {0, {30, 50}, TAV_E_ROWS_PER_STRIP, 0, 0},  // refused, not divided by
                 {0, {30}, 0, 1, 0},
                 {-1, {30, 50}, 0, 1, 0}};
    for (const Case& c : cases) {
        for (bool mm : {false, true}) {
            TiffBuilder b(mm);
            std::vector<uint32_t> offs;
            for (uint32_t n : {30, 50, 20}) offs.push_back(b.add_data(std::vector<uint8_t>(n, 1)));
            auto& d = b.add_ifd().longs(256, {16}).longs(257, {23}).longs(273, offs);
            if (c.rps >= 0) d.shorts(278, {uint16_t(c.rps)});
            if (mm) d.longs(279, c.counts);
            else d.shorts(279, std::vector<uint16_t>(c.counts.begin(), c.counts.end()));
            auto bytes = b.build();
            OpenedFile f(save(bytes));
            f.ps.dataBytes = 12345;
            ASSERT_EQ(f.info(1), c.err) << c.rps << " " << c.counts.size();
            if (c.err) continue;
            EXPECT_EQ(f.pi.stripCount, c.strips);
            EXPECT_EQ(f.ps.dataBytes, c.dataBytes ? c.dataBytes : bytes.size() - offs[0]);
            EXPECT_EQ(f.pi.maxStripSize, c.strips > 1 ? 50u : f.ps.dataBytes);
            if (c.rps > 0) {
                EXPECT_EQ(f.pi.rowsPerStrip, uint32_t(c.rps));
            }
        }
    }
}

TEST_F(DecodeTags, BitsPerSampleInBigEndianFiles) {
    OpenedFile f(one_page(true, [](Ifd& d) { d.shorts(258, {8, 8}).shorts(277, {2}).shorts(262, {1}); }));
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(std::vector<uint32_t>({f.pi.bitsPerSample[0], f.pi.bitsPerSample[1], f.pi.photometric}),
              std::vector<uint32_t>({8, 8, TAV_PHOTO_GRAY_BLACK}));
}

TEST_F(DecodeTags, ResolutionAndUnit) {
    for (uint16_t unit : {0, 1, 2, 3, 4, 7}) {
        OpenedFile f(one_page(unit % 2, [&](Ifd& d) {
            d.rationals(282, {{300, 1}}).rationals(283, {{150, 0}}).shorts(296, {unit});
        }));
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.pi.resolutionUnit, (unit >= 1 && unit <= 3) ? unit : 1u) << unit;
        EXPECT_EQ(f.pi.xResNum * 1000 + f.pi.xResDen, 300001u);
        EXPECT_EQ(f.pi.yResNum * 1000 + f.pi.yResDen, 150001u);  // denominator 0 read as 1
    }
}

TEST_F(DecodeTags, RequiredTagsAndTiles) {
    auto code = [&](std::vector<uint16_t> drop, uint32_t tileWidth = 0, bool tileCounts = true) {
        TiffBuilder b;
        uint32_t o1 = b.add_data(std::vector<uint8_t>(40, 1)), o2 = b.add_data(std::vector<uint8_t>(40, 2));
        auto& d = b.add_ifd().longs(256, {64}).longs(257, {10});
        if (tileWidth) {
            d.longs(322, {tileWidth}).longs(323, {5}).longs(324, {o1, o2});
            if (tileCounts) d.longs(325, {40, 40});
        } else {
            d.longs(273, {o1}).longs(279, {100});
        }
        for (uint16_t t : drop) d.remove(t);
        OpenedFile f(save(b.build()));
        uint32_t err = f.info(1);
        return err ? err : f.pi.stripCount * 1000 + f.pi.rowsPerStrip * 100 + f.ps.dataBytes;
    };
    EXPECT_EQ(code({257, 256, 273, 279}), uint32_t(TAV_E_NO_LENGTH));  // checked in this order
    EXPECT_EQ(code({256, 273, 279}), uint32_t(TAV_E_NO_WIDTH));
    EXPECT_EQ(code({273, 279}), uint32_t(TAV_E_NO_OFFSETS));
    EXPECT_EQ(code({273}), uint32_t(TAV_E_NO_OFFSETS));
    EXPECT_EQ(code({}, 64, false), uint32_t(TAV_E_NO_BYTE_COUNTS));
    EXPECT_EQ(code({}, 64), 2u * 1000 + 5 * 100 + 80);  // tiles as wide as the image are strips
    EXPECT_EQ(code({}, 32), uint32_t(TAV_E_UNSUPPORTED));
}

TEST_F(DecodeTags, PrivateTagsAndProfile) {
    std::vector<uint8_t> profile(200);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = uint8_t(i * 7);
    TiffBuilder b;
    uint32_t off = b.add_data(std::vector<uint8_t>(100, 1)), prof = b.add_data(profile);
    b.add_ifd().longs(256, {64}).longs(257, {10}).longs(273, {off}).longs(279, {100})
        .bytes(32931, 1, 12, std::vector<uint8_t>(12, 9)).bytes(32932, 1, 3, {1, 2, 3})
        .raw(34675, 7, 200, prof);
    OpenedFile f(save(b.build()));
    ASSERT_EQ(f.info(1), 0u);
    EXPECT_EQ(std::vector<uint32_t>({f.pi.privateTagFlags, f.pi.colorSpaceType, f.pi.profileSize, f.pi.profileOffset.value}),
              std::vector<uint32_t>({3, 0x4D424544u, 200, prof}));
    std::vector<uint8_t> got(200);
    f.pi.profileBuffer = got.data();
    ASSERT_EQ(f.data(), 0u);
    EXPECT_EQ(got, profile);
}

// An old-style JPEG stream: SOI, APP0, a TEXO comment, DQT, SOF0, SOS, data.
std::vector<uint8_t> jpeg_stream(uint8_t q, uint8_t s, uint32_t* sosAt, uint32_t* dataAt) {
    std::vector<uint8_t> j = {0xFF, 0xD8};
    auto segment = [&](uint8_t marker, std::vector<uint8_t> body) {
        j.insert(j.end(), {0xFF, marker, 0, uint8_t(body.size() + 2)});
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
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

TEST_F(DecodeTags, OldStyleJpegStripStartsPastTheSosMarker) {
    uint32_t sos = 0, data = 0;
    const auto jpeg = jpeg_stream(75, 1, &sos, &data);
    for (bool with514 : {true, false}) {
        for (bool mm : {false, true}) {
            TiffBuilder b(mm);
            uint32_t io = b.add_data(jpeg);
            auto& d = b.add_ifd().longs(256, {64}).longs(257, {10}).shorts(258, {8})
                .shorts(259, {6}).shorts(262, {1}).longs(273, {io + data})
                .longs(279, {uint32_t(jpeg.size()) - data}).shorts(512, {1}).longs(513, {io});
            if (with514) d.longs(514, {uint32_t(jpeg.size())});
            auto bytes = b.build();
            OpenedFile f(save(bytes));
            ASSERT_EQ(f.info(1), 0u) << with514 << mm;
            ASSERT_EQ(f.pi.compression, TAV_COMP_JPEG_INFO);
            JpegInfo* j = f.pi.compressionInfo.jpeg;
            ASSERT_NE(j, nullptr);  // options: q 75; s 1 becomes 2
            EXPECT_EQ(std::vector<uint32_t>({j->interchange, j->interchangeOffset, j->interchangeLength, j->headerLength, j->jpegOptions}),
                      std::vector<uint32_t>({1, io, sos, sos, 75u + 75u * 128 + 2u * 16384}));
            ASSERT_EQ(j->headerLength, sos);
            EXPECT_EQ(std::memcmp(j->header, jpeg.data(), sos), 0);
            // The strip is moved back to the SOS marker and still ends where it did.
            EXPECT_EQ(f.ps.dataBytes, bytes.size() - (io + sos));
            uint32_t err = 0;
            auto got = f.stream(1, f.ps.dataBytes, 1000, &err);
            ASSERT_EQ(err, 0u);
            EXPECT_EQ(std::memcmp(got.data(), bytes.data() + io + sos, got.size()), 0);
        }
    }
}

TEST_F(DecodeTags, TextTags) {
    for (bool mm : {true, false}) {
        OpenedFile f(one_page(mm, [](Ifd& d) {
            d.ascii(269, "abc")  // four bytes with the NUL: in the entry, kept in order
                .ascii(270, "A longer description").ascii(271, "Mk")
                .ascii(305, "Some software 1.0").ascii(306, "2024:01:02 03:04:05");
        }));
        TextTagBuf tags[9] = {};
        tags[3].length = 99;  // Model is absent: 0 after the call
        f.pi.textTags = tags;
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(f.pi.textTags, tags);
        const char* want[9] = {"abc", "A longer description", "Mk", nullptr, nullptr,
                               "2024:01:02 03:04:05", nullptr, nullptr, "Some software 1.0"};
        std::vector<std::string> bufs(9);
        for (int k = 0; k < 9; ++k) {
            EXPECT_EQ(tags[k].length, want[k] ? std::strlen(want[k]) + 1 : 0u) << k;
            bufs[k].assign(tags[k].length + 1, 'x');
            tags[k].buffer = bufs[k].data();
        }
        ASSERT_EQ(f.data(), 0u);
        for (int k = 0; k < 9; ++k) EXPECT_STREQ(bufs[k].c_str(), want[k] ? want[k] : "x") << k;
    }
}

TEST_F(DecodeTags, ColourTablesInHostOrder) {
    for (bool mm : {false, true}) {
        std::vector<uint16_t> map(3 * 16);
        for (size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 4099);
        OpenedFile f(one_page(mm, [&](Ifd& d) {
            d.shorts(258, {4}).shorts(262, {3}).shorts(320, map).shorts(301, map)
                .rationals(318, {{3127, 10000}, {3290, 10000}});
        }));
        auto& pal = f.pi.area.palette;
        std::vector<uint16_t> keep(1);
        pal.primariesBuffer = keep.data();  // a pointer set before the call is kept
        ASSERT_EQ(f.info(1), 0u);
        EXPECT_EQ(pal.primariesBuffer, keep.data());
        ASSERT_EQ(std::vector<uint32_t>({f.pi.photometric, pal.planarConfig, pal.colorMapSize, pal.transferSize, pal.whitePointSize}),
                  std::vector<uint32_t>({TAV_PHOTO_PALETTE, 1, 96, 96, 16}));
        std::vector<uint16_t> got(48), transfer(48);
        std::vector<uint32_t> white(4);
        pal.colorMapBuffer = got.data();
        pal.transferBuffer = transfer.data();
        pal.whitePointBuffer = white.data();
        pal.primariesBuffer = nullptr;
        ASSERT_EQ(f.data(), 0u);
        EXPECT_EQ(got, map);
        EXPECT_EQ(transfer, map);
        EXPECT_EQ(white, (std::vector<uint32_t>{3127, 10000, 3290, 10000}));
    }
}

}  // namespace
