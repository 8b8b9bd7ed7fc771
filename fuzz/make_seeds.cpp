// make_seeds DIR: writes the fuzzers' seed corpus, small files that reach
// the readers and writers by different roads: files the library writes
// itself (page offset table, property block, texts, strips written one by
// one, palette and grey response tables), hand-made files in both byte
// orders (plain chains, SHORT strip tables, private data areas, ICC
// profile, old-style JPEG), a page index file, block files (written by the
// library, and one whose chunk list continues), and the first bytes of the
// other formats the open call recognises; AWD files.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qvtav.h"
#include "tiff_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Failure {
    std::string what;
    uint32_t code;
};

Bytes pattern(size_t n, uint32_t seed) {
    Bytes v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    return v;
}

void save(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        throw Failure{"cannot write " + path, 0};
}

// ---- files the library writes ----

struct LibPage {
    PageInfo info{};
    std::vector<Bytes> strips;
    std::string pageName;
};

PageInfo base_info(uint32_t width, uint32_t length, uint32_t bits, uint32_t photometric) {
    PageInfo info{};
    info.xResNum = info.yResNum = 200;
    info.xResDen = info.yResDen = 1;
    info.resolutionUnit = 2;
    info.imageWidth = width;
    info.imageLength = info.rowsPerStrip = length;
    info.bitsPerSample[0] = bits;
    info.samplesPerPixel = info.fillOrder = info.stripCount = 1;
    info.compression = TAV_COMP_NONE;
    info.photometric = photometric;
    return info;
}

// Writes the pages strip by strip (option 4); the first page carries the
// document properties when a title is given.
void write_library_file(const std::string& path, std::vector<LibPage> pages, const char* title) {
    std::remove(path.c_str());
    std::vector<char> name(path.begin(), path.end());
    name.resize(TAV_PATH_SIZE, '\0');
    uint32_t type = FILETYPE_TIFF, err = 0;
    int32_t h = xtavcreat(nullptr, name.data(), &type, &err);
    if (h < 0) throw Failure{"cannot create " + path, err};
    if (xtavopts(&h, 1, TAV_OPT_STRIP_WRITE, nullptr, &err) < 0) throw Failure{"option 4", err};
    char author[] = "make_seeds", subject[] = "fuzz seed", keywords[] = "seed", comments[] = "small";
    for (size_t n = 0; n < pages.size(); ++n) {
        LibPage& pg = pages[n];
        TextTagBuf tags[TAV_TEXT_TAG_COUNT] = {};
        tags[TAV_TEXT_PAGE_NAME] = {uint32_t(pg.pageName.size() + 1), pg.pageName.data()};
        pg.info.textTags = tags;
        pg.info.stripCount = uint32_t(pg.strips.size());
        std::string t = title ? title : "";
        if (title && n == 0) {
            pg.info.title = t.data();
            pg.info.author = author, pg.info.subject = subject;
            pg.info.keywords = keywords, pg.info.comments = comments;
        }
        uint16_t page = uint16_t(n + 1);
        if (xtavputi(&h, page, &pg.info, nullptr, &err) < 0) throw Failure{path + ": xtavputi", err};
        for (size_t s = 0; s < pg.strips.size(); ++s) {
            uint8_t flag = s + 1 == pg.strips.size() ? 3 : 2;  // end of strip, last data
            if (xtavwrite(&h, pg.strips[s].data(), uint32_t(pg.strips[s].size()), page, flag, &err) < 0)
                throw Failure{path + ": xtavwrite", err};
        }
    }
    if (xtavclose(&h, &err) < 0) throw Failure{"cannot close " + path, err};
}

void library_files(const std::string& dir) {
    LibPage bilevel{base_info(64, 8, 1, TAV_PHOTO_BILEVEL_WHITE), {pattern(64, 1)}, "bilevel"};
    LibPage packed{base_info(64, 8, 1, TAV_PHOTO_BILEVEL_BLACK), {}, "packbits"};
    packed.info.compression = TAV_COMP_PACKBITS;
    packed.info.rowsPerStrip = 2;
    for (uint32_t s = 0; s < 4; ++s) packed.strips.push_back({0xF1, uint8_t(0x10 * s)});  // 16 equal bytes
    LibPage grey{base_info(16, 8, 8, TAV_PHOTO_GRAY_BLACK), {pattern(64, 2), pattern(64, 3)}, "grey"};
    grey.info.rowsPerStrip = 4;
    write_library_file(dir + "/lib_three_pages.tif", {bilevel, packed, grey}, "Seed");

    uint16_t colorMap[3 * 16], response[16];
    for (uint16_t i = 0; i < 16; ++i) {
        colorMap[i] = colorMap[16 + i] = colorMap[32 + i] = uint16_t(i * 4369);
        response[i] = uint16_t(2000 - 100 * i);
    }
    LibPage palette{base_info(8, 4, 4, TAV_PHOTO_PALETTE), {pattern(16, 4)}, "palette"};
    palette.info.area.palette.colorMapSize = sizeof colorMap;
    palette.info.area.palette.colorMapBuffer = colorMap;
    LibPage curve{base_info(8, 4, 4, TAV_PHOTO_GRAY_WHITE), {pattern(16, 5)}, "grey response"};
    curve.info.area.gray.grayResponseUnit = 3;
    curve.info.area.gray.grayResponseSize = sizeof response;
    curve.info.area.gray.grayResponseBuffer = response;
    write_library_file(dir + "/lib_tables.tif", {palette, curve}, nullptr);
}

// ---- hand-made TIFF files ----

// Two pages in "MM" order on a plain chain: SHORT strip tables, three
// strips, texts, both private data areas and an ICC profile.
Bytes big_endian_chain() {
    TiffBuilder b(true);
    uint32_t s1 = b.add_data(pattern(24, 6)), s2 = b.add_data(pattern(24, 7)), s3 = b.add_data(pattern(16, 8));
    uint32_t area1 = b.add_data(pattern(12, 9)), area2 = b.add_data(pattern(6, 10));
    b.add_ifd()
        .shorts(256, {48}).shorts(257, {10}).shorts(258, {1}).shorts(259, {1}).shorts(262, {0})
        .shorts(273, {uint16_t(s1), uint16_t(s2), uint16_t(s3)}).shorts(278, {4})
        .shorts(279, {24, 24, 16}).rationals(282, {{300, 1}}).rationals(283, {{300, 1}})
        .ascii(270, "big-endian page").ascii(315, "seed").longs(32932, {12, area1}).longs(32931, {6, area2});
    uint32_t s4 = b.add_data(pattern(32, 11));
    b.add_ifd()
        .longs(256, {16}).longs(257, {2}).shorts(258, {8}).shorts(262, {1}).longs(273, {s4})
        .longs(279, {32}).bytes(34675, 7, 16, pattern(16, 12)).ascii(285, "page 2");
    return b.build();
}

// An RGB page with white point and primaries, then a palette page with a
// transfer function, in "II" order.
Bytes colour_tables() {
    TiffBuilder b;
    uint32_t rgb = b.add_data(pattern(48, 13)), pal = b.add_data(pattern(8, 14));
    std::vector<uint16_t> map(3 * 4), transfer(4);
    for (uint16_t i = 0; i < 4; ++i) map[i] = map[4 + i] = map[8 + i] = transfer[i] = uint16_t(i * 21845);
    b.add_ifd()
        .longs(256, {4}).longs(257, {4}).shorts(258, {8, 8, 8}).shorts(262, {2}).shorts(277, {3})
        .longs(273, {rgb}).longs(279, {48}).rationals(318, {{3127, 10000}, {3290, 10000}})
        .rationals(319, {{64, 100}, {33, 100}, {30, 100}, {60, 100}, {15, 100}, {6, 100}});
    b.add_ifd()
        .longs(256, {4}).longs(257, {4}).shorts(258, {2}).shorts(262, {3}).longs(273, {pal})
        .longs(279, {4}).shorts(320, map).shorts(301, transfer);
    return b.build();
}

// An old-style JPEG page: interchange stream, tables and YCbCr entries.
Bytes old_jpeg() {
    TiffBuilder b;
    Bytes stream = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x01, 0xFF, 0xC0, 0x00, 0x05,
                    0x08, 0x00, 0x08, 0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34, 0xFF, 0xD9};
    uint32_t at = b.add_data(stream);
    uint32_t q = b.add_data(pattern(64, 15)), dc = b.add_data(pattern(28, 16)), ac = b.add_data(pattern(178, 17));
    b.add_ifd()
        .longs(256, {8}).longs(257, {8}).shorts(258, {8, 8, 8}).shorts(259, {6}).shorts(262, {6})
        .shorts(277, {3}).longs(273, {at}).longs(279, {uint32_t(stream.size())}).shorts(512, {1})
        .longs(513, {at}).longs(514, {uint32_t(stream.size())}).longs(519, {q, q, q}).longs(520, {dc, dc, dc})
        .longs(521, {ac, ac, ac}).rationals(529, {{299, 1000}, {587, 1000}, {114, 1000}}).shorts(530, {2, 2})
        .shorts(531, {1});
    return b.build();
}

// The smallest readable page: one strip, nothing else.
Bytes one_strip() {
    TiffBuilder b;
    uint32_t s = b.add_data(pattern(8, 18));
    b.add_ifd().shorts(256, {8}).shorts(257, {8}).longs(273, {s}).longs(279, {8});
    return b.build();
}

// Three pages in the page index scheme, each a TIFF stream of its own.
Bytes page_index() {
    TiffBuilder first;
    uint32_t s = first.add_data(pattern(4, 19));
    first.add_ifd().shorts(256, {16}).shorts(257, {2}).longs(273, {s}).longs(279, {4}).longs(32935, {0});
    std::vector<Bytes> more;
    for (uint32_t i = 0; i < 2; ++i) {
        TiffBuilder p;
        uint32_t a = p.add_data(pattern(3, 20 + i)), c = p.add_data(pattern(3, 30 + i));
        p.add_ifd().shorts(256, {24}).shorts(257, {2}).longs(273, {a, c}).longs(279, {3, 3})
            .shorts(278, {1}).rationals(282, {{300, 1}});
        more.push_back(p.build());
    }
    return page_index_file(first.build(), true, more).bytes;
}

// Two pages with directories hanging from them: page 1 an Exif directory
// (with an Interoperability one) and a GPS directory, page 2 two SubIFDs
// of one strip each, chained as well as listed.
Bytes sub_directories() {
    TiffBuilder b;
    uint32_t s1 = b.add_data(pattern(16, 40)), s2 = b.add_data(pattern(16, 41));
    uint32_t r1 = b.add_data(pattern(4, 42)), r2 = b.add_data(pattern(2, 43));
    auto& interop = b.add_subifd();
    interop.ascii(1, "R98");
    auto& exif = b.add_subifd();
    exif.ascii(36867, "2024:01:02 03:04:05").rationals(33434, {{1, 250}}).links(40965, 4, {interop.index()});
    auto& gps = b.add_subifd();
    gps.bytes(0, 1, 4, {2, 2, 0, 0}).rationals(2, {{51, 1}, {30, 1}, {0, 1}});
    auto& second = b.add_subifd();
    second.longs(254, {1}).shorts(256, {2}).shorts(257, {1}).longs(273, {r2}).longs(279, {2});
    auto& first = b.add_subifd();
    first.longs(254, {1}).shorts(256, {4}).shorts(257, {1}).longs(273, {r1}).longs(279, {4});
    first.hasNextOverride = true;
    b.add_ifd().shorts(256, {16}).shorts(257, {1}).longs(273, {s1}).longs(279, {16})
        .links(34665, 4, {exif.index()}).links(34853, 13, {gps.index()});
    b.add_ifd().shorts(256, {16}).shorts(257, {1}).longs(273, {s2}).longs(279, {16})
        .links(330, 13, {first.index(), second.index()});
    b.build();
    first.nextOverride = b.subifd_offset(second.index());
    return b.build();
}

void hand_made_files(const std::string& dir) {
    save(dir + "/sub_directories.tif", sub_directories());
    save(dir + "/mm_chain.tif", big_endian_chain());
    save(dir + "/colour_tables.tif", colour_tables());
    save(dir + "/old_jpeg.tif", old_jpeg());
    save(dir + "/one_strip.tif", one_strip());
    save(dir + "/page_index.tif", page_index());
}

// ---- block files ----

constexpr uint32_t kBlock = 4096;

void put_be(Bytes& b, size_t at, uint32_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k, v >>= 8) b[at + size_t(k)] = uint8_t(v);
}

// Two T.4 pages the library writes in chunks of one block: one page in one
// call, one in two calls (a padded chunk each).
void block_pages(const std::string& path) {
    std::remove(path.c_str());
    std::vector<char> name(path.begin(), path.end());
    name.resize(TAV_PATH_SIZE, '\0');
    uint32_t type = FILETYPE_BLOCK, err = 0;
    int32_t h = xtavcreat(nullptr, name.data(), &type, &err);
    if (h < 0) throw Failure{"cannot create " + path, err};
    const std::vector<std::vector<Bytes>> pages = {{pattern(100, 6)}, {pattern(50, 7), pattern(30, 8)}};
    for (size_t n = 0; n < pages.size(); ++n) {
        PageInfo info = base_info(64, 8, 1, TAV_PHOTO_BILEVEL_WHITE);
        info.compression = TAV_COMP_CCITT_T4;
        info.compressionInfo.value = TAV_CODING_T4;
        info.fillOrder = 2;
        info.rotation = 90;
        info.maxStripSize = kBlock;
        uint16_t page = uint16_t(n + 1);
        if (xtavputi(&h, page, &info, nullptr, &err) < 0) throw Failure{path + ": xtavputi", err};
        for (size_t k = 0; k < pages[n].size(); ++k) {
            uint8_t last = k + 1 == pages[n].size() ? 1 : 0;
            Bytes data = pages[n][k];
            if (xtavwrite(&h, data.data(), uint32_t(data.size()), page, last, &err) < 0)
                throw Failure{path + ": xtavwrite", err};
        }
    }
    if (xtavclose(&h, &err) < 0) throw Failure{"cannot close " + path, err};
}

// One PackBits page whose chunk list continues in a block of its own: 86
// entries sharing data block 1, the record in block 2, the list's second
// part in block 3.
Bytes block_lists() {
    constexpr uint32_t kRecord = 2 * kBlock, kList = 3 * kBlock, kInRecord = 84, kInList = 2;
    Bytes b(4 * kBlock, 0);
    put_be(b, 0, 0x8045, 2), put_be(b, 2, 1, 2), put_be(b, 6, 4, 2), put_be(b, 8, 1, 2), put_be(b, 12, 3, 4);
    put_be(b, 1024, 1, 2), put_be(b, 1026, 127, 2), put_be(b, 1032, 2, 4);
    std::memset(b.data() + 2048, 0xFF, 2048);
    b[2048] = 0x0F;  // blocks 0 to 3 in use
    Bytes data = pattern(kBlock, 9);
    std::memcpy(b.data() + kBlock, data.data(), kBlock);
    put_be(b, kRecord, 1, 2), put_be(b, kRecord + 2, 64, 2), put_be(b, kRecord + 4, kBlock, 4);
    put_be(b, kRecord + 8, 200, 2), put_be(b, kRecord + 10, 200, 2), put_be(b, kRecord + 12, 64, 2);
    put_be(b, kRecord + 14, 8, 2), put_be(b, kRecord + 16, 1, 2);
    auto list = [&](size_t head, uint32_t used, uint32_t capacity, uint32_t prev, uint32_t next) {
        put_be(b, head, used, 2), put_be(b, head + 2, capacity, 2), put_be(b, head + 4, prev, 4);
        put_be(b, head + 8, next, 4);
        for (uint32_t e = 0; e < used; ++e) {
            size_t at = head + 16 + 24 * e;
            put_be(b, at, 1, 4), put_be(b, at + 4, kBlock, 4), put_be(b, at + 8, 10 + e, 4), put_be(b, at + 14, 64, 2);
        }
    };
    list(kRecord + 2048, kInRecord, kInRecord, 0, 3);
    list(kList, kInList, 168, 2, 0);
    return b;
}

void block_files(const std::string& dir) {
    block_pages(dir + "/block_pages.blk");
    save(dir + "/block_lists.blk", block_lists());
}

// ---- the other formats' first bytes ----

void other_formats(const std::string& dir) {
    Bytes dcx = {0xB1, 0x68, 0xDE, 0x3A, 12, 0, 0, 0, 0, 0, 0, 0, 0x0A, 5, 1, 8};
    Bytes pcx = {0x0A, 5, 1, 8, 0, 0, 0, 0, 7, 0, 3, 0};
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 2, 0, 0x80, 0, 0};
    Bytes bmp = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 1, 0, 1, 0};
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 0xFF, 0xD9};
    Bytes block = {0x45, 0x80, 0, 0, 0, 16, 0, 0};
    save(dir + "/dcx.bin", dcx);
    save(dir + "/pcx.bin", pcx);
    save(dir + "/gif.bin", gif);
    save(dir + "/bmp.bin", bmp);
    save(dir + "/jpeg.bin", jpeg);
    save(dir + "/block.bin", block);
}

}  // namespace

// AWD files (fuzz/awd_seeds.cpp): an empty text, or what failed.
std::string awd_seed_files(const std::string& dir);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    try {
        library_files(argv[1]);
        hand_made_files(argv[1]);
        block_files(argv[1]);
        other_formats(argv[1]);
        std::string awd = awd_seed_files(argv[1]);
        if (!awd.empty()) throw Failure{awd, 0};
    } catch (const Failure& f) {
        std::fprintf(stderr, "make_seeds: %s (error %u)\n", f.what.c_str(), f.code);
        return 1;
    }
    return 0;
}
