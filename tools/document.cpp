// The tool's calls into the library for opening files and reading pages.
#include "document.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "tool_error.h"

namespace qvtool {
namespace {

// Pieces in which page data is read and written.
constexpr uint32_t kChunk = 1u << 20;
// Texts, colour tables and profiles above this size are taken for damage.
constexpr uint32_t kMaxTable = 256u << 20;
// Strip counts above this are taken for damage.
constexpr uint32_t kMaxStrips = 16u << 20;
// One read delivers fewer bytes than this.
constexpr uint32_t kMaxRead = 0x80000000u;

std::string page_text(uint32_t page) { return "page " + std::to_string(page); }

}  // namespace

const std::array<const char*, 5> kPropertyNames = {"title", "author", "subject", "keywords",
                                                   "comments"};

// ---- Location ----

// The remote-access library serves a directory of this machine for an
// absolute path and an SSH server for any other name; a directory given
// relative to the working directory ("srv/", "./srv", "..") is made
// absolute here. A name without a slash is an SSH server.
Location::Location(const std::string& server) : remote_(true), server_(server) {
    bool relativeDirectory = !server_.empty() && server_[0] != '/' &&
                             (server_ == "." || server_ == ".." || server_.find('/') != std::string::npos);
    if (relativeDirectory) server_ = std::filesystem::absolute(server_).lexically_normal().string();
    if (server_.size() > 1 && server_.back() == '/') server_.pop_back();
    if (server_.empty() || server_.size() >= TAV_SERVER_SIZE)
        throw UsageError("--server: the server name must have 1 to " +
                         std::to_string(TAV_SERVER_SIZE - 1) + " characters");
}

FileLocation Location::record(const std::string& path) const {
    FileLocation loc{};
    loc.isRemote = remote_ ? 1 : 0;
    std::memcpy(loc.server, server_.data(), std::min(server_.size(), sizeof loc.server - 1));
    std::memcpy(loc.path, path.data(), std::min(path.size(), sizeof loc.path - 1));
    return loc;
}

PathBuffer::PathBuffer(const std::string& path)
    : buf_(std::max<size_t>(path.size() + 1, TAV_PATH_SIZE), '\0') {
    std::memcpy(buf_.data(), path.data(), path.size());
}

// ---- Document ----

Document::Document(const Location& where, std::string path)
    : where_(where), path_(std::move(path)) {}

Document::~Document() { abandon(); }

void Document::open(uint32_t flags) {
    record_ = where_.record(path_);
    PathBuffer p(path_);
    uint32_t err = 0;
    int32_t h = xtavopen(where_.remote() ? &record_ : nullptr, p.get(), flags, &type_, &pages_, &err);
    if (h < 0) throw ToolError(path_, "cannot open", err);
    handle_ = h;
}

void Document::create(uint32_t fileType) {
    record_ = where_.record(path_);
    PathBuffer p(path_);
    uint32_t err = 0;
    uint32_t type = fileType;
    int32_t h = xtavcreat(where_.remote() ? &record_ : nullptr, p.get(), &type, &err);
    if (h < 0) throw ToolError(path_, "cannot create", err);
    handle_ = h;
    type_ = fileType;
    pages_ = 0;
}

void Document::close() {
    if (handle_ <= 0) return;
    uint32_t err = 0;
    errno = 0;
    int32_t r = xtavclose(&handle_, &err);
    int code = errno;
    handle_ = 0;  // released by the library in either case
    if (r < 0) throw ToolError(path_, "cannot finish and close the file", static_cast<uint32_t>(code));
}

void Document::abandon() noexcept {
    if (handle_ <= 0) return;
    uint32_t err = 0;
    xtavabort(&handle_, &err);
    handle_ = 0;
}

uint32_t Document::try_option(uint32_t option, void* value) {
    uint32_t err = 0;
    if (xtavopts(&handle_, 1, option, static_cast<uint32_t*>(value), &err) < 0)
        return err != 0 ? err : TAV_E_OPTION;
    return 0;
}

void Document::set_option(uint32_t option, void* value, const std::string& what) {
    uint32_t code = try_option(option, value);
    if (code != 0) throw ToolError(path_, what, code);
}

// ---- PageReader ----

std::string PageReader::where() const { return page_text(page_); }

void PageReader::load(uint32_t page, bool auxiliary) {
    // A record that described a JPEG page hands its JPEG description back
    // to the library, which fills it again rather than making a new one.
    uint32_t keptCompression = info_.compression;
    auto keptInfo = info_.compressionInfo;
    std::memset(&info_, 0, sizeof info_);
    if (keptCompression == TAV_COMP_JPEG_INFO) {
        info_.compression = keptCompression;
        info_.compressionInfo = keptInfo;
    }
    info_.subfileType = 0;  // the full-resolution image
    tags_ = {};
    info_.textTags = tags_.data();
    sizes_ = PageSizes{};
    buffers_.clear();
    props_ = Properties{};
    page_ = page;

    uint32_t err = 0;
    if (xtavgeti(doc_.handle(), static_cast<uint16_t>(page), &info_, &sizes_, &err) < 0)
        throw ToolError(doc_.path(), where() + ": cannot read the page information", err);

    // The property pointers lead into the library's copy of the file's
    // property block; keep the texts.
    if (info_.title != nullptr) {
        props_.present = true;
        const char* p[5] = {info_.title, info_.author, info_.subject, info_.keywords, info_.comments};
        for (int i = 0; i < 5; ++i) props_.texts[i] = p[i] != nullptr ? p[i] : "";
    }

    bool wanted = false;
    for (int i = 0; i < TAV_TEXT_TAG_COUNT; ++i) {
        if (tags_[i].length == 0) continue;
        if (tags_[i].length > kMaxTable)
            throw ToolError(doc_.path(), where() + ": a text tag of " + std::to_string(tags_[i].length) +
                                             " bytes is taken for damage");
        texts_[i].assign(tags_[i].length + 1, '\0');
        tags_[i].buffer = texts_[i].data();
        wanted = true;
    }
    if (auxiliary) wanted = true;
    if (auxiliary) read_auxiliary();
    if (wanted && xtavgtdata(doc_.handle(), &info_, &err) < 0)
        throw ToolError(doc_.path(), where() + ": cannot read the texts and colour tables", err);
}

// Gives every table the library reports a size for a buffer of that size.
void PageReader::read_auxiliary() {
    auto give = [&](uint32_t size, void** buffer) {
        if (size == 0) return;
        if (size > kMaxTable)
            throw ToolError(doc_.path(), where() + ": a table of " + std::to_string(size) +
                                             " bytes is taken for damage");
        buffers_.emplace_back(size, 0);
        *buffer = buffers_.back().data();
    };
    TavPhotometricArea& a = info_.area;
    switch (info_.photometric) {
        case TAV_PHOTO_GRAY_WHITE:
            give(a.gray.grayResponseSize, &a.gray.grayResponseBuffer);
            break;
        case TAV_PHOTO_PALETTE:
            give(a.palette.colorMapSize, &a.palette.colorMapBuffer);
            give(a.palette.transferSize, &a.palette.transferBuffer);
            give(a.palette.whitePointSize, &a.palette.whitePointBuffer);
            give(a.palette.primariesSize, &a.palette.primariesBuffer);
            break;
        case TAV_PHOTO_RGB:
            give(a.rgb.whitePointSize, &a.rgb.whitePointBuffer);
            give(a.rgb.primariesSize, &a.rgb.primariesBuffer);
            break;
        default:
            break;
    }
    give(info_.profileSize, &info_.profileBuffer);
}

std::string PageReader::text(int index) const {
    if (index < 0 || index >= TAV_TEXT_TAG_COUNT || tags_[index].length == 0 ||
        texts_[index].size() < tags_[index].length)
        return {};
    std::string s(texts_[index].data(), tags_[index].length);
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

std::vector<uint32_t> PageReader::stored_counts() {
    uint32_t n = info_.stripCount;
    if (n == 0) return {};
    if (n > kMaxStrips)
        throw ToolError(doc_.path(), where() + ": " + std::to_string(n) + " strips are taken for damage");
    // Option 12 answers a 16-bit number.
    uint32_t cell = 0;
    doc_.set_option(TAV_OPT_COUNT_SIZE, &cell, where() + ": cannot learn the strip byte-count size");
    uint16_t entry = 0;
    std::memcpy(&entry, &cell, sizeof entry);
    if (entry != 2 && entry != 4)
        throw ToolError(doc_.path(), where() + ": strip byte counts of " + std::to_string(entry) +
                                         " bytes each are not understood");
    std::vector<uint8_t> raw(static_cast<size_t>(n) * entry);
    TavStripCounts rec{n, raw.data()};
    doc_.set_option(TAV_OPT_STORED_COUNTS, &rec, where() + ": cannot read the stored strip byte counts");
    std::vector<uint32_t> counts(n);
    for (uint32_t i = 0; i < n; ++i) {
        if (entry == 2) {
            uint16_t v;
            std::memcpy(&v, raw.data() + 2 * i, 2);
            counts[i] = v;
        } else {
            std::memcpy(&counts[i], raw.data() + 4 * i, 4);
        }
    }
    return counts;
}

void PageReader::read_strip(uint32_t index, uint32_t bytes, const Sink& sink) {
    std::string strip = where() + " strip " + std::to_string(index + 1);
    if (index + 1 > 65535)
        throw ToolError(doc_.path(), strip + ": strips beyond 65535 cannot be read one by one");
    if (!stripMode_) {
        doc_.set_option(TAV_OPT_STRIP_READ, nullptr, "cannot read strip by strip");
        stripMode_ = true;
    }
    std::vector<uint8_t> buf(std::min(bytes, kChunk));
    uint32_t done = 0;
    while (done < bytes) {
        uint32_t want = std::min(bytes - done, kChunk);
        uint32_t remaining = 0, err = 0;
        int32_t got = xtavread(doc_.handle(), buf.data(), done, want, &remaining,
                               static_cast<uint16_t>(index + 1), &err);
        if (got < 0) throw ToolError(doc_.path(), strip + ": cannot read", err);
        if (got == 0)
            throw ToolError(doc_.path(), strip + ": the file ends " + std::to_string(bytes - done) +
                                             " bytes before the end of the strip");
        uint32_t n = std::min(static_cast<uint32_t>(got), want);
        done += n;
        sink(buf.data(), n, done == bytes);
    }
}

void PageReader::read_stream(uint32_t bytes, const Sink& sink) {
    std::vector<uint8_t> buf(std::min(bytes, kChunk));
    uint32_t done = 0;
    while (done < bytes) {
        uint32_t n = read_at(done, buf.data(), std::min(bytes - done, kChunk));
        if (n == 0) break;
        done += n;
        sink(buf.data(), n, done == bytes);
    }
}

uint32_t PageReader::read_at(uint32_t start, uint8_t* buffer, uint32_t n) {
    if (n == 0 || start >= sizes_.dataBytes) return 0;
    n = std::min({n, sizes_.dataBytes - start, kMaxRead - 1});
    uint32_t remaining = 0, err = 0;
    int32_t got = xtavread(doc_.handle(), buffer, start, n, &remaining, static_cast<uint16_t>(page_), &err);
    if (got < 0) throw ToolError(doc_.path(), where() + ": cannot read the page data", err);
    return std::min(static_cast<uint32_t>(got), n);
}

std::vector<uint8_t> PageReader::read_bands() {
    const uint32_t band = TAV_AWD_LOW(info_.maxStripSize);
    if (band == 0) throw ToolError(doc_.path(), where() + ": the viewer settled on no band size");
    std::vector<uint8_t> page;
    std::vector<uint8_t> buf(band);
    // Bands come until one of no rows; never more than the page holds.
    for (uint32_t start = 0; start < sizes_.dataBytes; start += band) {
        uint32_t remaining = 0, err = 0;
        int32_t got = xtavread(doc_.handle(), buf.data(), start, band, &remaining,
                               static_cast<uint16_t>(page_), &err);
        if (got < 0) throw ToolError(doc_.path(), where() + ": cannot read a band", err);
        if (got == 0) break;
        page.insert(page.end(), buf.begin(), buf.begin() + std::min<uint32_t>(uint32_t(got), band));
    }
    return page;
}

std::vector<uint8_t> PageReader::read_page() {
    if (doc_.file_type() == FILETYPE_AWD) return read_bands();
    const uint32_t bytes = sizes_.dataBytes;
    if (bytes >= kMaxRead)
        throw ToolError(doc_.path(), where() + ": " + std::to_string(bytes) +
                                         " bytes are more than one read can deliver");
    std::vector<uint8_t> buf;
    try {
        buf.resize(bytes);
    } catch (const std::bad_alloc&) {
        throw ToolError(doc_.path(), where() + ": no memory for the page's " + std::to_string(bytes) + " bytes");
    }
    uint32_t remaining = 0, err = 0;
    if (xtavread(doc_.handle(), buf.data(), 0, bytes, &remaining, static_cast<uint16_t>(page_), &err) < 0)
        throw ToolError(doc_.path(), where() + ": cannot read the page data", err);
    return buf;
}

std::vector<std::vector<uint8_t>> PageReader::read_strips() {
    std::vector<uint32_t> counts = stored_counts();
    std::vector<std::vector<uint8_t>> strips(counts.size());
    for (size_t k = 0; k < counts.size(); ++k) {
        if (counts[k] == 0) continue;
        read_strip(uint32_t(k), counts[k], [&](const uint8_t* data, uint32_t n, bool) {
            strips[k].insert(strips[k].end(), data, data + n);
        });
    }
    return strips;
}

std::span<const uint8_t> PageReader::colour_map() const {
    const TavPaletteArea& a = info_.area.palette;
    if (info_.photometric != TAV_PHOTO_PALETTE || a.colorMapBuffer == nullptr) return {};
    return {static_cast<const uint8_t*>(a.colorMapBuffer), a.colorMapSize};
}

std::vector<uint8_t> PageReader::area(int which) {
    uint32_t infoOption = which == 1 ? TAV_OPT_AREA1_INFO : TAV_OPT_AREA2_INFO;
    uint32_t readOption = which == 1 ? TAV_OPT_AREA1_READ : TAV_OPT_AREA2_READ;
    std::string what = where() + ": cannot read annotation area " + std::to_string(which);
    TavAreaInfo ai{};
    doc_.set_option(infoOption, &ai, what);
    if (ai.length > kMaxTable) throw ToolError(doc_.path(), what + ": too large");
    std::vector<uint8_t> data(ai.length);
    uint32_t done = 0;
    while (done < ai.length) {
        TavAreaRead rd{std::min(ai.length - done, kChunk), done, data.data() + done};
        doc_.set_option(readOption, &rd, what);
        if (rd.count == 0) throw ToolError(doc_.path(), what + ": the file ends inside it");
        done += std::min(rd.count, ai.length - done);
    }
    return data;
}

}  // namespace qvtool
