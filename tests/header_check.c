/* Compiles the public header on its own, its tables expanded as C callers
 * expand them. */
#include "qvtav.h"

struct CodeText {
    uint32_t code;
    const char* text;
};

#define CODE_TEXT(code, text) {code, text},
static const struct CodeText errors[] = {TAV_ERROR_TABLE(CODE_TEXT)};
static const struct CodeText types[] = {TAV_FILE_TYPE_TABLE(CODE_TEXT)};

#define VIEW_FIELD(field, word, shift, bits, kind, words) +tav_view_field(&info, word, shift, bits)
#define VIEW_SUM(type, view) +(type) view(VIEW_FIELD)

int header_check_dummy(void) {
    PageInfo info = {0};
    info.compressionInfo.value = 0;
    info.area.palette.colorMapSize = 0;
    return (int)(sizeof(info) + sizeof(FileLocation) + sizeof(PageSizes) + sizeof(JpegInfo) + errors[1].code +
                 types[0].code TAV_FORMAT_VIEW_TABLE(VIEW_SUM));
}
