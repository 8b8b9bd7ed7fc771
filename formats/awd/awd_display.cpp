// Display settings. Rotations are kept in the records as "360 minus the
// turn", in unsigned 16-bit arithmetic; a page's rotation is relative to
// its document's and its scales are percentages of the document's.
#include "formats/awd/awd_display.h"

namespace {

constexpr uint16_t kFullTurn = 360;
constexpr uint32_t kPercent = 100;

// The quarter turn nearest to r degrees (0 to 359, or anything above,
// which counts as just under a full turn).
uint16_t quarter_turn(uint16_t r) {
    if (r < 45 || r >= 315) return 0;
    if (r < 135) return 90;
    if (r < 225) return 180;
    return 270;
}

uint16_t clamp_scale(uint32_t s) {
    if (s < kAwdMinScale) return kAwdMinScale;
    if (s > kAwdMaxScale) return kAwdMaxScale;
    return uint16_t(s);
}

}  // namespace

uint16_t awd_shown_scale(uint16_t docScale, uint16_t pageScale) {
    return clamp_scale(uint32_t(docScale) * pageScale / kPercent);
}

// Reading rounds docScale x page / 100 down, keeps it within 2 and 6500,
// and grows with the page scale. So the smallest page scale that reads back
// at least `wanted` reads back exactly `wanted` whenever any page scale does
// (a larger one that did would read back less than a smaller one), and
// otherwise the next scale that can be shown. Scale 2 is shown for every
// product below 2 too, so for it the page scale just below may serve.
// Beyond 65535 the stored value is clamped: the largest scale that can be
// shown.
uint16_t awd_page_scale(uint16_t wanted, uint16_t docScale) {
    if (docScale == 0) return kAwdNeutralScale;
    uint32_t w = clamp_scale(wanted);
    uint32_t p = (w * kPercent + docScale - 1) / docScale;
    if (p > 0xFFFF) return 0xFFFF;
    if (w == kAwdMinScale && p > 0 && awd_shown_scale(docScale, uint16_t(p)) != w) --p;
    return uint16_t(p);
}

AwdDisplay awd_combine_display(const AwdDocRecord& doc, const AwdPageRecord* page) {
    AwdDisplay d;
    uint16_t r = doc.rotation;
    if (page) r = uint16_t(uint16_t(doc.rotation + page->rotation) % kFullTurn);
    d.rotation = quarter_turn(uint16_t(kFullTurn - r));
    d.xScale = page ? awd_shown_scale(doc.xScale, page->xScale) : clamp_scale(doc.xScale);
    d.yScale = page ? awd_shown_scale(doc.yScale, page->yScale) : clamp_scale(doc.yScale);
    if (page)
        d.flags = (page->flags ^ (doc.flags & kAwdDocFlagFolded)) | (doc.flags & kAwdFlagViewed);
    else
        d.flags = doc.flags;
    return d;
}

AwdPageRecord awd_page_record_for(const AwdDocRecord& doc, const AwdDisplay& wanted, uint64_t stamp) {
    AwdPageRecord p;
    p.stamp = stamp;
    p.flags = wanted.flags ^ (doc.flags & kAwdDocFlagFolded);
    uint16_t docTurn = uint16_t(kFullTurn - doc.rotation);
    uint16_t q = wanted.rotation;
    uint16_t r = q >= docTurn ? uint16_t((q - docTurn) % kFullTurn)
                              : uint16_t(kFullTurn - uint16_t((docTurn - q) % kFullTurn));
    p.rotation = uint16_t(kFullTurn - r);
    p.xScale = awd_page_scale(wanted.xScale, doc.xScale);
    p.yScale = awd_page_scale(wanted.yScale, doc.yScale);
    return p;
}

uint16_t awd_turn_document(uint16_t docRotation, uint16_t by) {
    uint16_t x = uint16_t(uint16_t(kFullTurn - docRotation) + by);
    while (x > kFullTurn) x = uint16_t(x - kFullTurn);
    return uint16_t(kFullTurn - x);
}
