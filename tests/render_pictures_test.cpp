// The renderer's picture handling: bilevel pictures (eight pixels a byte)
// turn and shrink exactly like the same pixels a byte each, whatever the
// width; contact sheets stay within their width.
#include <gtest/gtest.h>

#include <random>

#include "display.h"
#include "sheet.h"
#include "tool_error.h"

namespace qvtool {
namespace {

Picture random_bilevel(uint32_t w, uint32_t h, uint32_t seed, int blackPercent) {
    Picture p = make_picture(w, h, Colour::grey, 1, Limits{});
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            if (int(rng() % 100) >= blackPercent) set_white(p.row(y), x);
    return p;
}

// The same pixels, a byte each (0 or 255).
Picture as_bytes(const Picture& p) {
    Picture g = make_picture(p.width, p.height, Colour::grey, 8, Limits{});
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) g.row(y)[x] = white_at(p.row(y), x) ? 255 : 0;
    return g;
}

TEST(RenderPictures, BilevelPicturesTurnLikeTheirBytesInEveryOrientation) {
    for (uint32_t w : {1u, 7u, 8u, 13u, 17u})
        for (uint32_t orientation = 1; orientation <= 8; ++orientation) {
            const Picture p = random_bilevel(w, 5, w * 31 + orientation, 50);
            const Picture bits = turned(p, orientation, Limits{}), bytes = turned(as_bytes(p), orientation, Limits{});
            ASSERT_EQ(bits.width, bytes.width);
            ASSERT_EQ(bits.height, bytes.height);
            EXPECT_EQ(as_bytes(bits).rows, bytes.rows) << "width " << w << ", orientation " << orientation;
        }
}

TEST(RenderPictures, BilevelThumbnailsAverageLikeTheirBytes) {
    // Sparse and dense black, widths that end inside a byte, columns that
    // start inside a byte (scales that are not a multiple of 8).
    for (auto [w, h, tw, th] : {std::array<uint32_t, 4>{203, 61, 20, 6}, {1728, 40, 180, 4}, {64, 64, 64, 64},
                                {9, 9, 4, 3}, {1000, 3, 7, 1}})
        for (int black : {2, 50, 98}) {
            const Picture p = random_bilevel(w, h, w + black, black);
            for (bool colour : {false, true})
                EXPECT_EQ(thumbnail(p, {tw, th}, colour).rows, thumbnail(as_bytes(p), {tw, th}, colour).rows)
                    << w << " x " << h << " to " << tw << " x " << th << ", " << black << "% black";
        }
}

TEST(RenderPictures, TrueAspectStretchesTheLowerResolution) {
    Picture p = make_picture(100, 50, Colour::grey, 1, Limits{});
    p.xRes = 204, p.yRes = 98;
    EXPECT_EQ(true_aspect(p).height, 104u);  // 50 x 204 / 98, rounded
    p.xRes = 100, p.yRes = 300;
    EXPECT_EQ(true_aspect(p).width, 300u);
    p.xRes = 0;  // no resolution: as stored
    EXPECT_EQ(true_aspect(p).width, 100u);
    // Stretched beyond the limits: refused, not allocated.
    p.xRes = 1e7, p.yRes = 1;
    EXPECT_THROW(as_displayed(p, 1, Limits{}), DrawError);
}

TEST(RenderPictures, SheetsStayWithinTheirWidthAndUseNoEmptyColumns) {
    for (uint32_t pages : {1u, 2u, 7u, 100u})
        for (uint32_t width : {120u, 333u, 1200u, 4099u})
            for (uint32_t columns : {0u, 1u, 3u, 6u}) {
                SheetLayout l;
                try {
                    l = sheet_layout(pages, width, columns);
                } catch (const UsageError&) {
                    continue;  // too narrow for the columns
                }
                EXPECT_LE(l.width, width) << pages << " pages, " << width << " wide, " << columns << " columns";
                EXPECT_LE(l.columns, pages);
                EXPECT_EQ(l.gridRows, (pages + l.columns - 1) / l.columns);
                const Size t = thumbnail_size({850, 1100}, l);
                EXPECT_LE(t.width, l.cellWidth);
                EXPECT_LE(t.height, l.boxHeight);
            }
    EXPECT_THROW(sheet_layout(10, 100, 6), UsageError);
}

}  // namespace
}  // namespace qvtool
