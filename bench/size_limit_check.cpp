// A by-hand check of the length limit, for real: writes a new TIFF file of
// 200 000 000-byte pages (bilevel, uncompressed, one xtavwrite each) until
// the library refuses one, closes it, and checks what it left: its length,
// its pages through the library (count, and the last bytes of every page)
// and through libtiff. It writes about 2 GB; it is no benchmark and no test
// runs it.
//
//   size_limit_check [PATH]     (default: $TMPDIR or /tmp, limit_check.tif)
//
// The file is deleted at the end. Exit status 0 when everything held.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qvtav.h"

#ifdef QVTAV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

constexpr uint32_t kRowBytes = 2000;
constexpr uint32_t kRows = 100000;
constexpr uint32_t kPageBytes = kRowBytes * kRows;
constexpr uint64_t kLimit = 0x7FFFFFFF;

// The page's bytes: its number in every byte but the last eight, which
// hold a pattern the check reads back.
void fill_page(std::vector<uint8_t>& data, uint16_t page) {
    std::memset(data.data(), page, data.size() - 8);
    for (uint32_t k = 0; k < 8; ++k) data[data.size() - 8 + k] = uint8_t(page * 31 + k);
}

PageInfo page_info() {
    PageInfo info{};
    info.xResNum = info.yResNum = 200;
    info.xResDen = info.yResDen = 1;
    info.resolutionUnit = 2;
    info.imageWidth = kRowBytes * 8;
    info.imageLength = info.rowsPerStrip = kRows;
    info.bitsPerSample[0] = info.samplesPerPixel = info.fillOrder = info.stripCount = 1;
    info.compression = TAV_COMP_NONE;
    info.photometric = TAV_PHOTO_BILEVEL_WHITE;
    return info;
}

// Writes pages until one is refused; the pages taken.
uint16_t write_until_refused(const std::string& path, bool* ok) {
    std::vector<uint8_t> data(kPageBytes);
    char name[TAV_PATH_SIZE];
    std::snprintf(name, sizeof name, "%s", path.c_str());
    uint32_t type = FILETYPE_TIFF, err = 0;
    int32_t h = xtavcreat(nullptr, name, &type, &err);
    if (h < 0) {
        std::printf("xtavcreat failed: %u\n", err);
        *ok = false;
        return 0;
    }
    uint16_t taken = 0;
    for (uint16_t p = 1; p < 20; ++p) {
        PageInfo info = page_info();
        fill_page(data, p);
        const auto t0 = std::chrono::steady_clock::now();
        int32_t r = xtavputi(&h, p, &info, nullptr, &err);
        if (r >= 0) r = xtavwrite(&h, data.data(), kPageBytes, p, 1, &err);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        struct stat st {};
        stat(path.c_str(), &st);
        std::printf("page %2u: %s (error %u), %.1f s, file %lld bytes\n", p, r >= 0 ? "taken" : "refused",
                    r >= 0 ? 0 : err, s, static_cast<long long>(st.st_size));
        if (r < 0) {
            *ok = *ok && err == TAV_E_SEEK && uint64_t(st.st_size) <= kLimit;
            break;
        }
        taken = p;
    }
    errno = 0;
    const int32_t closed = xtavclose(&h, &err);
    std::printf("xtavclose: %d (errno %d)\n", closed, errno);
    return taken;
}

// Every page through the library: the count and each page's last bytes.
bool check_with_library(const std::string& path, uint16_t taken) {
    char name[TAV_PATH_SIZE];
    std::snprintf(name, sizeof name, "%s", path.c_str());
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, name, TAV_OPEN_READ, &type, &pages, &err);
    std::printf("xtavopen: %d, type %u, %u pages (error %u)\n", h < 0 ? -1 : 0, type, pages, err);
    if (h < 0) return false;
    bool ok = pages == taken;
    std::vector<uint8_t> expected(kPageBytes), last(8);
    for (uint16_t p = 1; p <= pages; ++p) {
        PageInfo info{};
        PageSizes sizes{};
        uint32_t left = 0;
        fill_page(expected, p);
        const bool read = xtavgeti(&h, p, &info, &sizes, &err) >= 0 &&
                          xtavread(&h, last.data(), kPageBytes - 8, 8, &left, p, &err) == 8;
        const bool same = read && std::memcmp(last.data(), &expected[kPageBytes - 8], 8) == 0;
        if (!same) std::printf("page %u does not read back (error %u)\n", p, err);
        ok = ok && same;
    }
    xtavclose(&h, &err);
    return ok;
}

bool check_with_libtiff(const std::string& path, uint16_t taken) {
#ifdef QVTAV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        std::printf("libtiff: does not open\n");
        return false;
    }
    uint16_t dirs = 0;
    bool ok = true;
    do {
        ++dirs;
        uint64_t* counts = nullptr;
        ok = ok && TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts && counts[0] == kPageBytes;
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    std::printf("libtiff: %u directories, strips of %u bytes: %s\n", dirs, kPageBytes, ok ? "yes" : "no");
    return ok && dirs == taken;
#else
    (void)path, (void)taken;
    std::printf("libtiff: not built in\n");
    return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    if (argc > 1) {
        path = argv[1];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/limit_check.tif";
    }
    unlink(path.c_str());
    const auto t0 = std::chrono::steady_clock::now();
    bool ok = true;
    const uint16_t taken = write_until_refused(path, &ok);
    struct stat st {};
    stat(path.c_str(), &st);
    std::printf("%u pages taken; the file is %lld bytes (limit %llu)\n", taken, static_cast<long long>(st.st_size),
                static_cast<unsigned long long>(kLimit));
    ok = ok && uint64_t(st.st_size) <= kLimit && taken > 0;
    ok = check_with_library(path, taken) && ok;
    ok = check_with_libtiff(path, taken) && ok;
    unlink(path.c_str());
    std::printf("%s in %.1f s\n", ok ? "held" : "FAILED",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return ok ? 0 : 1;
}
