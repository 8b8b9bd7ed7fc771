/*
 * qvtav.hpp - a small C++17 layer over the C interface of libqvtav400.so
 *
 * Header only: everything here is inline over the exports of qvtav.h, which
 * stay the library's only binary interface.
 *
 *   qvtav::File f = qvtav::File::open("scan.tif");
 *   for (qvtav::Page page : f.pages()) {
 *       const PageInfo& info = page.info();          // xtavgeti
 *       std::vector<uint8_t> data = page.read();     // the page's data
 *   }                                                // f closes itself
 *
 * Failures throw qvtav::Error, which carries the library's code and its
 * meaning. The calls that report no code (closing, and the whole-file
 * edits) throw an Error without one.
 *
 * A File being written (made by create, or opened for update) that is
 * destroyed while an exception unwinds the stack is aborted (xtavabort):
 * the library drops the unfinished page and cuts an opened file back to
 * its length at open, so no half-written page is ever finished. Otherwise
 * the destructor closes it; call close() to see a failure to finish.
 */
#ifndef QVTAV_HPP
#define QVTAV_HPP

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvtav.h"

namespace qvtav {

/* The meaning of a code the library reports (the rows of TAV_ERROR_TABLE). */
inline const char* error_meaning(uint32_t code) {
    switch (code) {
#define QVTAV_HPP_MEANING(name, meaning) \
    case name: return meaning;
        TAV_ERROR_TABLE(QVTAV_HPP_MEANING)
#undef QVTAV_HPP_MEANING
        default: return TAV_ERROR_UNKNOWN;
    }
}

/* The name of a file type (the rows of TAV_FILE_TYPE_TABLE). */
inline const char* file_type_name(uint32_t fileType) {
    switch (fileType) {
#define QVTAV_HPP_TYPE_NAME(type, name) \
    case type: return name;
        TAV_FILE_TYPE_TABLE(QVTAV_HPP_TYPE_NAME)
#undef QVTAV_HPP_TYPE_NAME
        default: return TAV_FILE_TYPE_UNKNOWN;
    }
}

/* A failed call: its name, and the library's code when the call reports one. */
class Error : public std::runtime_error {
public:
    Error(const std::string& call, uint32_t code)
        : std::runtime_error(call + " failed: error " + std::to_string(code) + " (" + error_meaning(code) + ")"),
          call_(call), code_(code), hasCode_(true) {}
    /* For the calls that leave their error cell at 0. */
    explicit Error(const std::string& call)
        : std::runtime_error(call + " failed (the call reports no error code)"), call_(call) {}

    const std::string& call() const noexcept { return call_; }
    bool has_code() const noexcept { return hasCode_; }
    uint32_t code() const noexcept { return code_; } /* 0 without a code */
    const char* meaning() const noexcept { return error_meaning(hasCode_ ? code_ : TAV_S_OK); }

private:
    std::string call_;
    uint32_t code_ = 0;
    bool hasCode_ = false;
};

namespace detail {

/* The char* exports want a writable buffer of the library's path size. */
struct PathBuffer {
    char text[TAV_PATH_SIZE] = {};
    explicit PathBuffer(const std::string& path) {
        if (path.size() >= sizeof text) throw Error(path + ": path too long", TAV_EINVAL);
        std::memcpy(text, path.c_str(), path.size() + 1);
    }
};

/* awdBandBytes, the low half of maxStripSize: the band buffer size asked for. */
constexpr uint32_t kAwdBandBytes = 32768;
constexpr uint32_t kLow16 = 0xFFFF;

}  // namespace detail

class File;

/* One page of an open file; valid while its File lives. */
class Page {
public:
    Page(File& file, uint16_t number) : file_(&file), number_(number) {}
    uint16_t number() const noexcept { return number_; }
    inline const PageInfo& info() const;                 /* the page becomes current */
    inline const PageSizes& sizes() const;
    inline std::vector<uint8_t> read() const;            /* the page's data */
    inline std::array<std::string, TAV_TEXT_TAG_COUNT> texts() const;
    inline std::vector<uint8_t> palette() const;         /* empty when the page has none */

private:
    File* file_;
    uint16_t number_;
};

/* The pages 1..N of a file, for range-for loops. */
class PageRange {
public:
    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Page;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Page;
        iterator(File* f, uint32_t n) : file_(f), n_(n) {}
        Page operator*() const { return Page(*file_, static_cast<uint16_t>(n_)); }
        iterator& operator++() { ++n_; return *this; }
        bool operator==(const iterator& o) const { return n_ == o.n_; }
        bool operator!=(const iterator& o) const { return n_ != o.n_; }

    private:
        File* file_;
        uint32_t n_;
    };
    PageRange(File& f, uint32_t count) : file_(&f), count_(count) {}
    iterator begin() const { return iterator(file_, 1); }
    iterator end() const { return iterator(file_, count_ + 1); }

private:
    File* file_;
    uint32_t count_;
};

class File {
public:
    /* xtavopen; flags as in qvtav.h (TAV_OPEN_READWRITE | TAV_OPEN_UPDATE appends). */
    static File open(const std::string& path, uint32_t flags = TAV_OPEN_READ, FileLocation* where = nullptr) {
        detail::PathBuffer p(path);
        uint32_t type = 0, pages = 0, err = 0;
        int32_t h = xtavopen(where, p.text, flags, &type, &pages, &err);
        if (h < 0) throw Error("xtavopen " + path, err);
        bool writing = (flags & TAV_OPEN_ACCESS_MASK) != TAV_OPEN_READ;
        return File(h, type, pages, writing);
    }

    /* xtavcreat of a new file of the given type (FILETYPE_TIFF, ...). */
    static File create(const std::string& path, uint32_t fileType, FileLocation* where = nullptr) {
        detail::PathBuffer p(path);
        uint32_t type = fileType, err = 0;
        int32_t h = xtavcreat(where, p.text, &type, &err);
        if (h < 0) throw Error("xtavcreat " + path, err);
        return File(h, fileType, 0, true);
    }

    File(File&& other) noexcept : s_(std::move(other.s_)), unwinding_(other.unwinding_) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            end(false);
            s_ = std::move(other.s_);
            unwinding_ = other.unwinding_;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { end(std::uncaught_exceptions() > unwinding_); }

    uint32_t type() const { return state().type; }
    uint32_t page_count() const { return state().pages; }
    int32_t handle() const { return state().handle; }
    PageRange pages() { return PageRange(*this, state().pages); }
    Page page(uint16_t number) { return Page(*this, number); }

    /* The page's information; the page becomes current. */
    const PageInfo& info(uint16_t page) { return select(page); }
    const PageSizes& sizes(uint16_t page) {
        select(page);
        return state().sizes;
    }

    /* xtavgeti into the one PageInfo this File keeps for every page (a JPEG
     * description the library hands out is recycled through it). */
    const PageInfo& load(uint16_t page) {
        State& s = state();
        PageInfo& i = s.info;
        i.subfileType = 0;  // the full-resolution image
        i.textTags = s.texts.data();
        std::memset(&i.area, 0, sizeof i.area);
        i.profileBuffer = nullptr;
        if (s.type == FILETYPE_AWD) i.maxStripSize = detail::kAwdBandBytes;
        for (TextTagBuf& t : s.texts) t.buffer = nullptr;
        s.current = 0;
        uint32_t err = 0;
        if (xtavgeti(&s.handle, page, &i, &s.sizes, &err) < 0) throw Error("xtavgeti", err);
        s.current = page;
        return i;
    }

    /* The page's data, read by the rules of its file type. */
    std::vector<uint8_t> read(uint16_t page) {
        const PageInfo& i = select(page);
        State& s = state();
        if (s.type == FILETYPE_AWD) return read_bands(page, i.maxStripSize & detail::kLow16);
        if (s.type == FILETYPE_XIFF) return read_whole(page);
        if (s.type == FILETYPE_BMP && (i.bmpBytesPerPixel == 2 || i.bmpBytesPerPixel == 4))
            return read_converted_rows(page, i);
        return read_until_none_left(page);
    }

    /* The nine texts of the page (empty where absent), through xtavgtdata. */
    std::array<std::string, TAV_TEXT_TAG_COUNT> texts(uint16_t page) {
        select(page);
        State& s = state();
        std::array<std::vector<char>, TAV_TEXT_TAG_COUNT> bufs;
        for (int k = 0; k < TAV_TEXT_TAG_COUNT; ++k) {
            bufs[k].assign(s.texts[k].length + 1, '\0');
            s.texts[k].buffer = s.texts[k].length ? bufs[k].data() : nullptr;
        }
        get_data();
        std::array<std::string, TAV_TEXT_TAG_COUNT> out;
        for (int k = 0; k < TAV_TEXT_TAG_COUNT; ++k) {
            out[k] = std::string(bufs[k].data(), std::strlen(bufs[k].data()));
            s.texts[k].buffer = nullptr;
        }
        return out;
    }

    /* The colour map of a palette page as the file delivers it, through xtavgtdata. */
    std::vector<uint8_t> palette(uint16_t page) {
        PageInfo& i = select(page);
        if (i.photometric != TAV_PHOTO_PALETTE || i.area.palette.colorMapSize == 0) return {};
        std::vector<uint8_t> map(i.area.palette.colorMapSize);
        i.area.palette.colorMapBuffer = map.data();
        try {
            get_data();
        } catch (...) {
            i.area.palette.colorMapBuffer = nullptr;
            throw;
        }
        i.area.palette.colorMapBuffer = nullptr;
        return map;
    }

    /* xtavputi, then the data in one xtavwrite marked as the page's last.
       An AWD page (its rows; the record's AWD words as qvtav.h says) is
       ended as AWD pages end, with a call of fewer bytes than a row. */
    void put_page(uint16_t page, PageInfo info, const std::vector<uint8_t>& data) {
        State& s = state();
        uint32_t err = 0;
        if (xtavputi(&s.handle, page, &info, nullptr, &err) < 0) throw Error("xtavputi", err);
        if (data.empty()) return;
        const bool awd = s.type == FILETYPE_AWD;
        const uint8_t kLastData = 1;
        std::vector<uint8_t> copy(data);  // xtavwrite takes a non-const buffer
        if (xtavwrite(&s.handle, copy.data(), static_cast<uint32_t>(copy.size()), page, awd ? 0 : kLastData,
                      &err) < 0)
            throw Error("xtavwrite", err);
        if (awd && xtavwrite(&s.handle, copy.data(), 0, page, 0, &err) < 0) throw Error("xtavwrite", err);
    }

    /* xtavclose: finishes a written file (a failure reports no code). */
    void close() {
        if (!s_) return;
        int32_t h = s_->handle;
        s_.reset();
        uint32_t err = 0;
        if (xtavclose(&h, &err) < 0) throw Error("xtavclose");
    }
    /* xtavabort: gives the file up unfinished. */
    void abort() {
        if (!s_) return;
        int32_t h = s_->handle;
        s_.reset();
        uint32_t err = 0;
        if (xtavabort(&h, &err) < 0) throw Error("xtavabort");
    }

private:
    struct State {
        int32_t handle = 0;
        uint32_t type = 0;
        uint32_t pages = 0;
        bool writing = false;
        uint16_t current = 0;  // 0: no page current
        PageInfo info{};
        PageSizes sizes{};
        std::array<TextTagBuf, TAV_TEXT_TAG_COUNT> texts{};
    };

    File(int32_t handle, uint32_t type, uint32_t pages, bool writing)
        : s_(new State), unwinding_(std::uncaught_exceptions()) {
        s_->handle = handle;
        s_->type = type;
        s_->pages = pages;
        s_->writing = writing;
    }

    State& state() const {
        if (!s_) throw Error("qvtav::File (closed)", TAV_EBADF);
        return *s_;
    }

    PageInfo& select(uint16_t page) {
        State& s = state();
        if (s.current != page || page == 0) load(page);
        return s.info;
    }

    void get_data() {
        State& s = state();
        uint32_t err = 0;
        if (xtavgtdata(&s.handle, &s.info, &err) < 0) throw Error("xtavgtdata", err);
    }

    int32_t read_at(uint16_t page, uint8_t* to, uint32_t start, uint32_t count, uint32_t& left) {
        uint32_t err = 0;
        int32_t n = xtavread(&state().handle, to, start, count, &left, page, &err);
        if (n < 0) throw Error("xtavread", err);
        return n;
    }

    /* TIFF and single-image formats: pieces until the remaining count is 0. */
    std::vector<uint8_t> read_until_none_left(uint16_t page) {
        const uint32_t total = state().sizes.dataBytes;
        std::vector<uint8_t> out(total);
        uint32_t got = 0, left = total;
        while (got < total && left > 0) {
            int32_t n = read_at(page, out.data() + got, got, total - got, left);
            if (n == 0) break;
            got += static_cast<uint32_t>(n);
        }
        out.resize(got);
        return out;
    }

    /* XIFF: the whole decoded page in one call. */
    std::vector<uint8_t> read_whole(uint16_t page) {
        const uint32_t total = state().sizes.dataBytes;
        std::vector<uint8_t> out(total);
        uint32_t left = 0;
        if (total) read_at(page, out.data(), 0, total, left);
        return out;
    }

    /* AWD: band after band, each into a buffer of the band size, until a
     * read returns 0 (the remaining count is always 0 there). */
    std::vector<uint8_t> read_bands(uint16_t page, uint32_t bandBytes) {
        std::vector<uint8_t> out, band(bandBytes ? bandBytes : detail::kAwdBandBytes);
        uint32_t left = 0;
        for (;;) {
            int32_t n = read_at(page, band.data(), static_cast<uint32_t>(out.size()),
                                static_cast<uint32_t>(band.size()), left);
            if (n <= 0) break;
            out.insert(out.end(), band.begin(), band.begin() + std::min<size_t>(size_t(n), band.size()));
        }
        return out;
    }

    /* BMP 16/32-bit pages come converted to 24-bit rows: a read places
     * count / rowBytes whole rows and returns a count of its own, so the
     * rows placed measure the progress; the position is 3 bytes a pixel. */
    std::vector<uint8_t> read_converted_rows(uint16_t page, const PageInfo& i) {
        const uint32_t rowBytes = i.rowsPerStrip & detail::kLow16;
        const uint32_t total = state().sizes.dataBytes;
        if (rowBytes == 0 || i.imageLength == 0) return {};
        const uint32_t perCall = std::max<uint32_t>(1, total / rowBytes);
        std::vector<uint8_t> out(size_t(rowBytes) * i.imageLength);
        uint32_t left = 0;
        for (uint32_t row = 0; row < i.imageLength;) {
            uint32_t rows = std::min(perCall, i.imageLength - row);
            read_at(page, out.data() + size_t(row) * rowBytes, row * i.imageWidth * 3, rows * rowBytes, left);
            row += rows;
        }
        return out;
    }

    void end(bool unwinding) noexcept {
        if (!s_) return;
        uint32_t err = 0;
        int32_t h = s_->handle;
        bool abandon = unwinding && s_->writing;
        s_.reset();
        if (abandon)
            xtavabort(&h, &err);
        else
            xtavclose(&h, &err);
    }

    std::unique_ptr<State> s_;
    int unwinding_ = 0;  // exceptions in flight when the File was made
};

inline const PageInfo& Page::info() const { return file_->info(number_); }
inline const PageSizes& Page::sizes() const { return file_->sizes(number_); }
inline std::vector<uint8_t> Page::read() const { return file_->read(number_); }
inline std::array<std::string, TAV_TEXT_TAG_COUNT> Page::texts() const { return file_->texts(number_); }
inline std::vector<uint8_t> Page::palette() const { return file_->palette(number_); }

}  // namespace qvtav

#endif /* QVTAV_HPP */
