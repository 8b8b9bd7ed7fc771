// The coding-code table, read one way by the page reader and the other way
// by the page writer.
#include "formats/block/block_coding.h"

#include "frame/page_values.h"

namespace blk {
namespace {

// The bits of compressionInfo a code carries.
constexpr uint32_t kCodedBits = TAV_CODING_MODIFIED_HUFFMAN | TAV_CODING_T4;
constexpr uint32_t kMhT4 = TAV_CODING_MODIFIED_HUFFMAN | TAV_CODING_T4;

struct CodingRow {
    uint16_t code;
    uint32_t compression;
    uint32_t fillOrder;
    bool carriesBits;  // false: uncompressed and PackBits pages keep no option bits
    uint32_t bits;
};

constexpr CodingRow kCodings[] = {
    {2, TAV_COMP_CCITT_T6, kFillMsbFirst, true, 0},
    {3, TAV_COMP_NONE, kFillLsbFirst, false, 0},
    {4, TAV_COMP_CCITT_T4, kFillLsbFirst, true, 0},
    {5, TAV_COMP_CCITT_T6, kFillLsbFirst, true, 0},
    {6, TAV_COMP_NONE, kFillMsbFirst, false, 0},
    {7, TAV_COMP_CCITT_T4, kFillLsbFirst, true, TAV_CODING_T4},
    {8, TAV_COMP_CCITT_T4, kFillLsbFirst, true, TAV_CODING_MODIFIED_HUFFMAN},
    {9, TAV_COMP_CCITT_T4, kFillLsbFirst, true, kMhT4},
    {10, TAV_COMP_CCITT_MH, kFillLsbFirst, true, 0},
    {11, TAV_COMP_CCITT_MH, kFillLsbFirst, true, TAV_CODING_MODIFIED_HUFFMAN},
    {12, TAV_COMP_CCITT_T4, kFillMsbFirst, true, 0},
    {13, TAV_COMP_CCITT_T4, kFillMsbFirst, true, TAV_CODING_T4},
    {14, TAV_COMP_CCITT_T4, kFillMsbFirst, true, TAV_CODING_MODIFIED_HUFFMAN},
    {15, TAV_COMP_CCITT_MH, kFillMsbFirst, true, TAV_CODING_MODIFIED_HUFFMAN},
    {19, TAV_COMP_CCITT_T4, kFillMsbFirst, true, kMhT4},
    {20, TAV_COMP_CCITT_MH, kFillMsbFirst, true, 0},
    {64, TAV_COMP_PACKBITS, kFillMsbFirst, false, 0},
    {65, TAV_COMP_PACKBITS, kFillLsbFirst, false, 0},
};

}  // namespace

bool coding_read(uint16_t code, PageInfo& info) {
    for (const CodingRow& r : kCodings) {
        if (r.code != code) continue;
        info.compression = r.compression;
        info.fillOrder = r.fillOrder;
        info.compressionInfo.value = r.bits;
        return true;
    }
    return false;
}

int coding_for(const PageInfo& info) {
    const uint32_t fill = info.fillOrder == kFillLsbFirst ? kFillLsbFirst : kFillMsbFirst;
    const uint32_t bits = info.compressionInfo.value & kCodedBits;
    for (const CodingRow& r : kCodings) {
        if (r.compression == info.compression && r.fillOrder == fill && (!r.carriesBits || r.bits == bits))
            return r.code;
    }
    return -1;
}

}  // namespace blk
