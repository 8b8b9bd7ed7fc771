/* pageinfo: opens an image file with libqvtav400 and prints each page's
 * information. Build: cc -std=c99 pageinfo.c -Iinclude -Lbuild/out -lqvtav400 */
#include <stdio.h>
#include <string.h>

#include "qvtav.h"

int main(int argc, char** argv) {
    uint32_t version = 0, err = 0;
    int32_t none = 0;
    xtavopts(&none, 1, TAV_OPT_VERSION, &version, &err);
    printf("libqvtav400 version 0x%08x\n", (unsigned)version);
    for (int a = 1; a < argc; ++a) {
        char path[TAV_PATH_SIZE];
        uint32_t type = 0, pages = 0;
        if (strlen(argv[a]) >= sizeof path) {
            fprintf(stderr, "%s: path too long\n", argv[a]);
            return 1;
        }
        strcpy(path, argv[a]);
        int32_t h = xtavopen(NULL, path, TAV_OPEN_READ, &type, &pages, &err);
        if (h < 0) {
            fprintf(stderr, "%s: open failed, error %u\n", argv[a], (unsigned)err);
            return 1;
        }
        printf("%s: file type %u, %u page(s)\n", argv[a], (unsigned)type, (unsigned)pages);
        for (uint32_t p = 1; p <= pages; ++p) {
            PageInfo info;
            PageSizes sizes;
            memset(&info, 0, sizeof info);
            memset(&sizes, 0, sizeof sizes);
            if (xtavgeti(&h, (uint16_t)p, &info, &sizes, &err) < 0) {
                printf("  page %u: error %u\n", (unsigned)p, (unsigned)err);
                continue;
            }
            printf("  page %u: %u x %u, %u bit(s) x %u, compression %u, photometric %u, "
                   "%u strip(s), %u stored bytes\n",
                   (unsigned)p, (unsigned)info.imageWidth, (unsigned)info.imageLength,
                   (unsigned)info.bitsPerSample[0], (unsigned)info.samplesPerPixel,
                   (unsigned)info.compression, (unsigned)info.photometric,
                   (unsigned)info.stripCount, (unsigned)sizes.dataBytes);
        }
        xtavclose(&h, &err);
    }
    return 0;
}
