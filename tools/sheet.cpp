// Contact sheet layout and drawing.
#include "sheet.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "dot_font.h"
#include "tool_error.h"

namespace qvtool {
namespace {

constexpr uint32_t kGap = 16;            // between cells and around the sheet
constexpr uint32_t kAutoCellWidth = 200;  // thumbnails about this wide by default
constexpr uint32_t kMinCellWidth = 16;
constexpr double kBoxAspect = 1.41421356;  // A4: height / width
constexpr uint32_t kDigitScale = 2;       // page numbers in dots of 2 x 2 pixels
constexpr uint32_t kLabelHeight = kGlyphHeight * kDigitScale + 10;
constexpr Rgb kBackground{221, 221, 221};
constexpr Rgb kFrame{136, 136, 136};
constexpr Rgb kInk{34, 34, 34};
constexpr Rgb kFailedFill{244, 224, 224};

uint32_t cell_left(const SheetLayout& l, uint32_t column) { return kGap + column * (l.cellWidth + kGap); }

}  // namespace

uint32_t sheet_bottom_margin() { return kGap; }

SheetLayout sheet_layout(uint32_t pages, uint32_t maxWidth, uint32_t columns) {
    SheetLayout l;
    pages = std::max(pages, 1u);
    l.columns = columns != 0 ? columns : std::max(1u, maxWidth / kAutoCellWidth);
    l.columns = std::min(l.columns, pages);
    const uint64_t gaps = uint64_t(kGap) * (l.columns + 1);
    if (maxWidth < gaps || (maxWidth - gaps) / l.columns < kMinCellWidth)
        throw UsageError("sheet: " + std::to_string(maxWidth) + " pixels are too narrow for " +
                         std::to_string(l.columns) + " columns (each needs " + std::to_string(kMinCellWidth + kGap) +
                         ")");
    l.cellWidth = uint32_t((maxWidth - gaps) / l.columns);
    l.boxHeight = uint32_t(std::lround(l.cellWidth * kBoxAspect));
    l.gridRows = (pages + l.columns - 1) / l.columns;
    l.width = kGap + l.columns * (l.cellWidth + kGap);
    l.bandHeight = kGap + l.boxHeight + kLabelHeight;
    l.height = l.gridRows * l.bandHeight + kGap;
    return l;
}

Size thumbnail_size(Size d, const SheetLayout& l) {
    const double scale = std::min({double(l.cellWidth) / d.width, double(l.boxHeight) / d.height, 1.0});
    return {std::max(1u, uint32_t(std::lround(d.width * scale))), std::max(1u, uint32_t(std::lround(d.height * scale)))};
}

Picture page_thumbnail(const Picture& page, uint32_t orientation, const SheetLayout& layout, const Limits& limits) {
    const Size aspect = true_aspect(page);
    const bool swap = swaps_sides(orientation);
    const Size shown = thumbnail_size(swap ? Size{aspect.height, aspect.width} : aspect, layout);
    const Size stored = swap ? Size{shown.height, shown.width} : shown;
    // A small page stretched to its aspect may need more rows or columns
    // than it has: stretch it first.
    if (stored.width > page.width || stored.height > page.height)
        return turned(thumbnail(as_displayed(page, 1, limits), stored, true), orientation, limits);
    return turned(thumbnail(page, stored, true), orientation, limits);
}

SheetBand::SheetBand(const SheetLayout& layout) : layout_(layout) {
    rows_.resize(size_t(layout.width) * layout.bandHeight * 3);
    clear();
}

void SheetBand::clear() {
    for (size_t k = 0; k < rows_.size(); k += 3) rows_[k] = kBackground.r, rows_[k + 1] = kBackground.g, rows_[k + 2] = kBackground.b;
}

void SheetBand::fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Rgb c) {
    for (uint32_t r = y; r < y + h && r < layout_.bandHeight; ++r)
        for (uint32_t k = x; k < x + w && k < layout_.width; ++k) {
            uint8_t* p = rows_.data() + (size_t(r) * layout_.width + k) * 3;
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
}

void SheetBand::number(uint32_t centreX, uint32_t y, uint32_t page) {
    const std::string digits = std::to_string(page);
    const uint32_t width = uint32_t(digits.size()) * kGlyphAdvance * kDigitScale - kDigitScale;
    uint32_t x = centreX > width / 2 ? centreX - width / 2 : 0;
    for (char d : digits) {
        const Glyph* g = glyph_of(d);
        for (uint32_t r = 0; g != nullptr && r < kGlyphHeight; ++r)
            for (uint32_t c = 0; c < kGlyphWidth; ++c)
                if (glyph_dot(*g, c, r)) fill(x + c * kDigitScale, y + r * kDigitScale, kDigitScale, kDigitScale, kInk);
        x += kGlyphAdvance * kDigitScale;
    }
}

void SheetBand::place(uint32_t column, uint32_t page, const std::optional<Picture>& thumb) {
    const uint32_t left = cell_left(layout_, column);
    const Size size = thumb ? Size{thumb->width, thumb->height} : Size{layout_.cellWidth / 2, layout_.boxHeight / 2};
    // Standing on the box's bottom, centred across it.
    const uint32_t x = left + (layout_.cellWidth - size.width) / 2, y = kGap + layout_.boxHeight - size.height;
    // A frame one pixel outside the thumbnail, in the gap around the box.
    fill(x - 1, y - 1, size.width + 2, size.height + 2, kFrame);
    if (thumb) {
        for (uint32_t r = 0; r < size.height; ++r)
            std::memcpy(rows_.data() + (size_t(y + r) * layout_.width + x) * 3, thumb->row(r), size_t(size.width) * 3);
    } else {
        fill(x, y, size.width, size.height, kFailedFill);
        for (uint32_t k = 0; k < size.width; ++k) {
            const uint32_t down = uint32_t(uint64_t(k) * size.height / size.width);
            fill(x + k, y + down, 1, 2, kInk);
            fill(x + k, y + size.height - 1 - down, 1, 1, kInk);
        }
    }
    number(left + layout_.cellWidth / 2, kGap + layout_.boxHeight + (kLabelHeight - kGlyphHeight * kDigitScale) / 2, page);
}

}  // namespace qvtool
