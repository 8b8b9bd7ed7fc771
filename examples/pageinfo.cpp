// pageinfo_cpp: the C example's listing through the C++ layer qvtav.hpp,
// each page's data read whole as well. Build against an installed library
// with CMake: find_package(qvtav) and link qvtav::qvtav (see consumer/).
#include <cstdio>
#include <exception>

#include "qvtav.hpp"

int main(int argc, char** argv) {
    try {
        for (int a = 1; a < argc; ++a) {
            qvtav::File f = qvtav::File::open(argv[a]);
            std::printf("%s: file type %u, %u page(s)\n", argv[a], f.type(), f.page_count());
            for (qvtav::Page page : f.pages()) {
                const PageInfo& i = page.info();
                std::printf("  page %u: %u x %u, %u bit(s) x %u, compression %u, photometric %u, "
                            "%u strip(s), %u stored bytes\n",
                            page.number(), i.imageWidth, i.imageLength, i.bitsPerSample[0], i.samplesPerPixel,
                            i.compression, i.photometric, i.stripCount, page.sizes().dataBytes);
                std::printf("    read %zu bytes\n", page.read().size());
            }
        }
    } catch (const qvtav::Error& e) {
        std::fprintf(stderr, "pageinfo_cpp: %s\n", e.what());
        return 1;
    }
    return 0;
}
