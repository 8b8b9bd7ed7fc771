#include "fuzz_util.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "fileio/fio.h"
#include "fileio/mem.h"
#include "frame/fct.h"

namespace fuzz {
namespace {

// Bounds of the page walk, so that one input costs milliseconds even when
// it claims 65535 pages of 65535 strips of 4 GB.
constexpr uint32_t kMaxPagesVisited = 64;    // plus the last page and one beyond
constexpr uint32_t kMaxStripsVisited = 64;   // plus one beyond the last
constexpr uint32_t kMaxCountsAsked = 4096;   // strip byte counts asked for
constexpr uint32_t kPiece = 4096;            // bytes asked for by one read
constexpr uint32_t kMaxBytesRead = 1u << 20; // per page stream and per strip
constexpr uint32_t kMaxTableBytes = 1u << 20;  // larger tables get no buffer
constexpr uint32_t kTextTags = TAV_TEXT_TAG_COUNT;

// The file names the harnesses use. The working directory is also the
// library's temporary directory, so anything else in it at the end of a run
// was left there by the library, except the file that holds its named
// mutexes when shared memory cannot be had, which lasts by design.
constexpr std::array<const char*, 2> kOwnNames = {"doc.tif", "doc.awd"};
constexpr std::string_view kMutexFilePrefix = "qvtav400.locks.";

bool mutex_file(const std::string& name) { return name.starts_with(kMutexFilePrefix); }

// Growth that no edit can need: a copy of the file's own bytes and values,
// and for each page a directory of its own (at most 55 entries) and its
// table entry, and a new page with its tables.
constexpr uint64_t kGrowthFactor = 4;
constexpr uint64_t kGrowthPerPage = 1024;
constexpr uint64_t kGrowthSlack = 64u << 10;

int g_baselineBlocks = 0;

// Working directories are named after their process. A process that
// crashed, or that libFuzzer's fork mode ended, never removed its own: each
// start removes those whose process is gone.
constexpr std::string_view kWorkDirPrefix = "qvtav-fuzz-";

void remove_orphans(const std::string& base) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        std::string name = entry.path().filename().string();
        std::string number = name.substr(std::min(name.size(), kWorkDirPrefix.size()));
        if (!name.starts_with(kWorkDirPrefix) || number.empty() || number.size() > 9 ||
            number.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (kill(pid_t(std::stol(number)), 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), ec);
    }
}

std::string make_work_dir() {
    struct stat st {};
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    remove_orphans(base);
    std::string dir = base + "/" + std::string(kWorkDirPrefix) + std::to_string(getpid());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);  // a process of the same number that is gone
    if (mkdir(dir.c_str(), 0700) != 0) fault("cannot make the working directory " + dir);
    return dir;
}

void remove_work_dir() {
    std::error_code ec;
    std::filesystem::remove_all(work_dir(), ec);
}

// ---- the page walk ----

// Buffers for whatever auxiliary data a page's information announces.
class AuxBuffers {
public:
    void give(uint32_t size, void** buffer) {
        if (size == 0 || size > kMaxTableBytes) return;
        store_.emplace_back(size);
        *buffer = store_.back().data();
    }
    void give_text(TextTagBuf& t) {
        if (t.length == 0 || t.length > kMaxTableBytes) return;
        store_.emplace_back(t.length);
        t.buffer = reinterpret_cast<char*>(store_.back().data());
    }

private:
    std::vector<std::vector<uint8_t>> store_;
};

void ask_aux_data(int32_t h, PageInfo& info, std::array<TextTagBuf, kTextTags>& tags) {
    AuxBuffers bufs;
    for (TextTagBuf& t : tags) bufs.give_text(t);
    TavPhotometricArea& a = info.area;
    switch (info.photometric) {
    case TAV_PHOTO_GRAY_WHITE:
        bufs.give(a.gray.grayResponseSize, &a.gray.grayResponseBuffer);
        break;
    case TAV_PHOTO_PALETTE:
        bufs.give(a.palette.colorMapSize, &a.palette.colorMapBuffer);
        bufs.give(a.palette.transferSize, &a.palette.transferBuffer);
        bufs.give(a.palette.whitePointSize, &a.palette.whitePointBuffer);
        bufs.give(a.palette.primariesSize, &a.palette.primariesBuffer);
        break;
    case TAV_PHOTO_RGB:
        bufs.give(a.rgb.whitePointSize, &a.rgb.whitePointBuffer);
        bufs.give(a.rgb.primariesSize, &a.rgb.primariesBuffer);
        break;
    default:
        break;
    }
    bufs.give(info.profileSize, &info.profileBuffer);
    uint32_t err = 0;
    xtavgtdata(&h, &info, &err);
}

int32_t option(int32_t h, uint32_t action, uint32_t opt, void* value) {
    uint32_t err = 0;
    return xtavopts(&h, action, opt, static_cast<uint32_t*>(value), &err);
}

// Options 12, 13 and 23, then both private data areas (15/16 and 19/20).
void ask_options(int32_t h, uint32_t strips) {
    uint32_t cell = 0;
    option(h, 1, TAV_OPT_COUNT_SIZE, &cell);
    std::vector<uint32_t> counts(std::min(strips, kMaxCountsAsked));
    for (uint32_t opt : {TAV_OPT_STRIP_COUNTS, TAV_OPT_STORED_COUNTS}) {
        TavStripCounts rec{uint32_t(counts.size()), counts.data()};
        option(h, 1, opt, &rec);
    }
    for (auto [infoOpt, readOpt] : {std::pair{TAV_OPT_AREA1_INFO, TAV_OPT_AREA1_READ},
                                    std::pair{TAV_OPT_AREA2_INFO, TAV_OPT_AREA2_READ}}) {
        TavAreaInfo ai{};
        if (option(h, 1, infoOpt, &ai) < 0 || ai.length == 0) continue;
        std::vector<uint8_t> buf(std::min(ai.length, kPiece));
        for (uint32_t at = 0; at < std::min(ai.length, kMaxBytesRead);) {
            TavAreaRead rd{uint32_t(buf.size()), at, buf.data()};
            if (option(h, 1, readOpt, &rd) < 0 || rd.count == 0 || rd.count > buf.size()) break;
            at += rd.count;
        }
    }
}

// Reads from `page` (a page, or a strip in by-strip mode) in pieces until
// nothing is left, a read fails or the byte budget is spent. The first
// piece is one byte, so reads that start inside a strip are taken too.
void read_stream(int32_t h, uint16_t page) {
    std::vector<uint8_t> buf(kPiece);
    uint32_t at = 0, want = 1;
    while (at < kMaxBytesRead) {
        uint32_t remaining = 0, err = 0;
        int32_t got = xtavread(&h, buf.data(), at, want, &remaining, page, &err);
        if (got <= 0 || remaining == 0) break;
        if (uint32_t(got) > want) fault("xtavread delivered more bytes than asked for");
        at += uint32_t(got);
        want = kPiece;
    }
}

void read_strips(int32_t h, uint32_t strips) {
    if (option(h, 1, TAV_OPT_STRIP_READ, nullptr) < 0) return;
    uint32_t visited = std::min(strips, kMaxStripsVisited);
    for (uint32_t s = 1; s <= visited + 1 && s <= 0xFFFF; ++s) read_stream(h, uint16_t(s));
    option(h, 0, TAV_OPT_STRIP_READ, nullptr);
}

void read_page(int32_t h, uint16_t page) {
    PageInfo info{};
    std::array<TextTagBuf, kTextTags> tags{};
    info.textTags = tags.data();
    std::vector<uint32_t> counts(kMaxCountsAsked);
    PageSizes sizes{};
    sizes.sizeCapacity = kMaxCountsAsked;
    sizes.sizes = counts.data();
    uint32_t err = 0;
    if (xtavgeti(&h, page, &info, &sizes, &err) < 0) return;
    ask_aux_data(h, info, tags);
    ask_options(h, info.stripCount);
    read_stream(h, page);
    read_strips(h, info.stripCount);
}

}  // namespace

const std::string& work_dir() {
    // Never destroyed: the exit handler that removes the directory needs it.
    static const std::string* dir = [] {
        g_baselineBlocks = mem_live_blocks();
        auto* d = new std::string(make_work_dir());
        setenv("TMPDIR", d->c_str(), 1);  // the library's work files come here too
        std::atexit(remove_work_dir);
        return d;
    }();
    return *dir;
}

std::string work_file(const char* name) { return work_dir() + "/" + name; }

void save(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fault("cannot write " + path);
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) fault("cannot write " + path);
}

uint64_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

PathBuf::PathBuf(const std::string& path) {
    std::memset(s, 0, sizeof s);
    std::snprintf(s, sizeof s, "%s", path.c_str());
}

int read_document(const std::string& path) {
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    if (h < 0) return -1;
    uint32_t visited = std::min(pages, kMaxPagesVisited);
    for (uint32_t page = 1; page <= visited; ++page) read_page(h, uint16_t(page));
    if (pages > visited) read_page(h, uint16_t(pages));
    if (pages < 0xFFFF) read_page(h, uint16_t(pages + 1));
    xtavclose(&h, &err);
    return int(pages);
}

int count_pages(const std::string& path) {
    PathBuf p(path);
    uint32_t type = 0, pages = 0, err = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_READ, &type, &pages, &err);
    if (h < 0) return -1;
    xtavclose(&h, &err);
    return int(pages);
}

int32_t open_update(const std::string& path, uint32_t* pages, uint32_t* type) {
    PathBuf p(path);
    uint32_t fileType = 0, err = 0;
    *pages = 0;
    int32_t h = xtavopen(nullptr, p, TAV_OPEN_UPDATE | TAV_OPEN_READWRITE, &fileType, pages, &err);
    if (type) *type = fileType;
    return h;
}

int append_page(int32_t handle, uint32_t page, uint32_t type) {
    constexpr uint32_t kWidth = 64, kLength = 4;
    PageInfo info{};
    info.xResNum = info.yResNum = 200;
    info.xResDen = info.yResDen = 1;
    info.resolutionUnit = 2;
    info.imageWidth = kWidth;
    info.imageLength = info.rowsPerStrip = kLength;
    info.bitsPerSample[0] = info.samplesPerPixel = info.fillOrder = info.stripCount = 1;
    info.compression = TAV_COMP_NONE;
    info.photometric = TAV_PHOTO_BILEVEL_WHITE;
    std::array<uint8_t, kWidth / 8 * kLength> data;
    data.fill(0x5A);
    uint32_t err = 0;
    if (page > 0xFFFF || xtavputi(&handle, uint16_t(page), &info, nullptr, &err) < 0) return -1;
    int32_t w = xtavwrite(&handle, data.data(), uint32_t(data.size()), uint16_t(page), 1, &err);
    if (w != int32_t(data.size())) return -1;
    if (type == FILETYPE_AWD && xtavwrite(&handle, data.data(), 0, uint16_t(page), 1, &err) < 0) return -1;
    return 0;
}

void check_growth(const std::string& path, size_t inputSize, uint32_t pages, const char* what) {
    uint64_t size = file_size(path);
    if (size > kGrowthFactor * inputSize + kGrowthPerPage * pages + kGrowthSlack)
        fault(std::string(what) + " made a file of " + std::to_string(inputSize) + " bytes grow to " +
              std::to_string(size));
}

void fault(const std::string& what) {
    std::fprintf(stderr, "qvtav fuzz: %s\n", what.c_str());
    std::abort();
}

void end_run() {
    for (int h = 1; h <= kFctSize; ++h)
        if (fct_lookup(h)) fault("handle " + std::to_string(h) + " is still open after the run");
    for (int fd = 1; fd <= kFioSlots; ++fd)
        if (fio_is_remote(fd) >= 0) fault("descriptor " + std::to_string(fd) + " is still open after the run");
    int live = mem_live_blocks();
    if (live != g_baselineBlocks)
        fault(std::to_string(live - g_baselineBlocks) + " memory-table blocks outlive the run");

    DIR* d = opendir(work_dir().c_str());
    if (!d) fault("cannot list " + work_dir());
    std::string stray;
    while (dirent* ent = readdir(d)) {
        std::string name = ent->d_name;
        if (name == "." || name == "..") continue;
        if (mutex_file(name)) continue;
        if (std::find(kOwnNames.begin(), kOwnNames.end(), name) == kOwnNames.end()) stray = name;
        unlink((work_dir() + "/" + name).c_str());
    }
    closedir(d);
    if (!stray.empty()) fault("the run left " + stray + " behind");
}

}  // namespace fuzz
