// Display settings. Rotations are kept in the records as "360 minus the
// turn", in unsigned 16-bit arithmetic; a page's rotation is relative to
// its document's and its scales are percentages of the document's.
#include "awd/awd_display.h"

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

// The page's share of the document's scale, rounded to the nearest percent.
uint16_t relative_scale(uint16_t wanted, uint16_t docScale) {
    if (docScale == 0) return kAwdNeutralScale;
    return uint16_t((uint32_t(wanted) * kPercent + docScale / 2) / docScale);
}

}  // namespace

AwdDisplay awd_combine_display(const AwdDocRecord& doc, const AwdPageRecord* page) {
    AwdDisplay d;
    uint16_t r = doc.rotation;
    if (page) r = uint16_t(uint16_t(doc.rotation + page->rotation) % kFullTurn);
    d.rotation = quarter_turn(uint16_t(kFullTurn - r));
    uint32_t x = doc.xScale, y = doc.yScale;
    if (page) {
        x = uint32_t(doc.xScale) * page->xScale / kPercent;
        y = uint32_t(doc.yScale) * page->yScale / kPercent;
    }
    d.xScale = clamp_scale(x);
    d.yScale = clamp_scale(y);
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
    p.xScale = relative_scale(wanted.xScale, doc.xScale);
    p.yScale = relative_scale(wanted.yScale, doc.yScale);
    return p;
}

uint16_t awd_turn_document(uint16_t docRotation, uint16_t by) {
    uint16_t x = uint16_t(uint16_t(kFullTurn - docRotation) + by);
    while (x > kFullTurn) x = uint16_t(x - kFullTurn);
    return uint16_t(kFullTurn - x);
}
