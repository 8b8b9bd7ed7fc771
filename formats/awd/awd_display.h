// Display settings: how a page's rotation, scales and flags follow from its
// document's record and its own, and back.
#pragma once

#include <cstdint>

#include "formats/awd/awd_tree.h"

// A page's display settings as PageInfo carries them.
struct AwdDisplay {
    uint16_t rotation = 0;  // 0, 90, 180 or 270
    uint16_t xScale = 50;   // percent, 2 to 6500
    uint16_t yScale = 50;
    uint32_t flags = 0;
};

// Record flags.
constexpr uint32_t kAwdDocFlagFolded = 0x10;           // folded into every page's flags
constexpr uint32_t kAwdFlagViewed = 0x20000000;        // the page has been viewed
constexpr uint32_t kAwdFlagRotateAll = 0x40000000;     // xtavputi: turn every document
constexpr uint32_t kAwdPageFlagIgnored = 0x80000000;   // the page record does not count

constexpr uint16_t kAwdMinScale = 2;
constexpr uint16_t kAwdMaxScale = 6500;
// The scale of a page record when its document's scale is 0.
constexpr uint16_t kAwdNeutralScale = 100;

// The settings a page shows: its document's record (whose viewed flag the
// caller has set) combined with the page's record when it has one.
AwdDisplay awd_combine_display(const AwdDocRecord& doc, const AwdPageRecord* page);
// The page record that makes a page of that document show the settings
// wanted (the rotation as the nearest quarter turn).
AwdPageRecord awd_page_record_for(const AwdDocRecord& doc, const AwdDisplay& wanted, uint64_t stamp);
// The scale a page shows: its document's scale times the page's in
// percent, rounded down, within 2 and 6500.
uint16_t awd_shown_scale(uint16_t docScale, uint16_t pageScale);
// The page scale to store so that the page shows `wanted` (kept within 2
// and 6500): exactly, whenever a 16-bit page scale can give it.
uint16_t awd_page_scale(uint16_t wanted, uint16_t docScale);
// A document's rotation after every page was turned by `by` degrees.
uint16_t awd_turn_document(uint16_t docRotation, uint16_t by);
