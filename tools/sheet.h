// Contact sheets: every page of a document as a thumbnail in a grid, in
// order, its page number under it. The sheet is drawn one grid row (a
// band) at a time, so a document of any length fits in little memory.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "display.h"
#include "picture.h"

namespace qvtool {

struct SheetLayout {
    uint32_t columns = 0;
    uint32_t cellWidth = 0;   // the widest a thumbnail may be
    uint32_t boxHeight = 0;   // the tallest a thumbnail may be
    uint32_t gridRows = 0;
    uint32_t width = 0;       // of the whole sheet
    uint32_t height = 0;
    uint32_t bandHeight = 0;  // one grid row: the gap above, thumbnails, numbers
};

// The widest sheet drawn, and the default width.
constexpr uint32_t kMaxSheetWidth = 10000;
constexpr uint32_t kDefaultSheetWidth = 1200;

// The grid for `pages` pages on a sheet at most maxWidth pixels wide, in
// `columns` columns (0: as many as give thumbnails about 200 pixels wide;
// never more than there are pages). Boxes are as tall as an A4 page of
// their width. Throws UsageError when the columns do not fit the width.
SheetLayout sheet_layout(uint32_t pages, uint32_t maxWidth, uint32_t columns);

// The size of a thumbnail of a page displayed at `displayed` size: as
// large as fits the box, keeping its aspect, never larger than the page.
Size thumbnail_size(Size displayed, const SheetLayout& layout);

// The thumbnail of a page as it is displayed (turned by the orientation,
// at its true aspect), RGB, sized by thumbnail_size.
Picture page_thumbnail(const Picture& page, uint32_t orientation, const SheetLayout& layout, const Limits& limits);

// One grid row of the sheet, RGB rows of layout.width pixels.
class SheetBand {
public:
    explicit SheetBand(const SheetLayout& layout);
    // Puts page `page`'s thumbnail in column `column` with its number under
    // it; a page that could not be drawn (nullopt) gets a crossed box.
    void place(uint32_t column, uint32_t page, const std::optional<Picture>& thumb);
    const uint8_t* row(uint32_t y) const { return rows_.data() + size_t(y) * layout_.width * 3; }
    // Back to an empty band.
    void clear();

private:
    void fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Rgb c);
    void number(uint32_t centreX, uint32_t y, uint32_t page);

    SheetLayout layout_;
    std::vector<uint8_t> rows_;
};

// The background rows below the last band.
uint32_t sheet_bottom_margin();

}  // namespace qvtool
