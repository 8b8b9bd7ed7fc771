/* Compiles the public header on its own. */
#include "qvtav.h"

int header_check_dummy(void) {
    PageInfo info;
    info.compressionInfo.value = 0;
    info.area.palette.colorMapSize = 0;
    return (int)(sizeof(info) + sizeof(FileLocation) + sizeof(PageSizes) + sizeof(JpegInfo));
}
