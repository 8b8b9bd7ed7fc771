// The tool's view of the library: where files live, an open document, and
// the reading of one page (information, texts, colour tables, stored strips).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "qvtav.h"

namespace qvtool {

// Local files, or files reached through the remote-access library: on an
// SSH server, or in a directory of this machine.
class Location {
public:
    Location() = default;
    // Throws UsageError when the server name does not fit the record.
    explicit Location(const std::string& server);

    bool remote() const { return remote_; }
    // A fresh record for one call naming path (remote files only; local
    // files use the library's default local location).
    FileLocation record(const std::string& path) const;

private:
    bool remote_ = false;
    std::string server_;
};

// A path in a buffer the library may write to (its path arguments are
// char*; creation may fill in a generated name).
class PathBuffer {
public:
    explicit PathBuffer(const std::string& path);
    char* get() { return buf_.data(); }
    std::string str() const { return buf_.data(); }

private:
    std::vector<char> buf_;
};

// One file opened or created through the library. The destructor abandons
// a handle that was not closed (nothing more is written to the file).
class Document {
public:
    Document(const Location& where, std::string path);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Both throw ToolError naming the path and the library's code.
    void open(uint32_t flags);
    void create(uint32_t fileType);
    // Closes with flushing; throws when the library reports a failure.
    void close();
    // Closes without flushing; never throws.
    void abandon() noexcept;

    int32_t* handle() { return &handle_; }
    const std::string& path() const { return path_; }
    uint32_t file_type() const { return type_; }
    uint32_t page_count() const { return pages_; }

    // xtavopts with action 1; throws ToolError with what on failure.
    void set_option(uint32_t option, void* value, const std::string& what);
    // The same, returning the library's code instead of throwing (0: done).
    uint32_t try_option(uint32_t option, void* value);

private:
    Location where_;
    std::string path_;
    FileLocation record_{};
    int32_t handle_ = 0;
    uint32_t type_ = 0;
    uint32_t pages_ = 0;
};

// The document properties of a file.
struct Properties {
    bool present = false;
    std::array<std::string, 5> texts;  // title, author, subject, keywords, comments
};
extern const std::array<const char*, 5> kPropertyNames;

// Reads the pages of an open document.
class PageReader {
public:
    explicit PageReader(Document& doc) : doc_(doc) {}

    // Makes the page current (xtavgeti) and reads its texts. With
    // auxiliary, also the colour tables, response curves and ICC profile
    // into buffers the record points to. Throws ToolError.
    void load(uint32_t page, bool auxiliary);

    uint32_t page() const { return page_; }
    const std::string& path() const { return doc_.path(); }
    const PageInfo& info() const { return info_; }
    const PageSizes& sizes() const { return sizes_; }
    // The text tags as the library delivered them: lengths and buffers.
    const std::array<TextTagBuf, TAV_TEXT_TAG_COUNT>& text_tags() const { return tags_; }
    // A text tag's value without its terminating zero bytes.
    std::string text(int index) const;
    const Properties& properties() const { return props_; }

    // The strip byte counts of the current TIFF page as the file records
    // them. Throws ToolError.
    std::vector<uint32_t> stored_counts();

    // Reads strip index (from 0) of the current TIFF page, bytes long, in
    // pieces: sink(data, size, lastPiece).
    using Sink = std::function<void(const uint8_t*, uint32_t, bool)>;
    void read_strip(uint32_t index, uint32_t bytes, const Sink& sink);
    // Every stored strip of the current TIFF page, whole. Throws ToolError.
    std::vector<std::vector<uint8_t>> read_strips();
    // Reads the first bytes of the current page's stored data as one
    // stream (formats without strips).
    void read_stream(uint32_t bytes, const Sink& sink);
    // Reads up to n bytes of that stream from position start; the bytes
    // placed, 0 at its end. Throws ToolError.
    uint32_t read_at(uint32_t start, uint8_t* buffer, uint32_t n);
    // The whole page as formats that deliver pages decoded give it: in one
    // read, or for AWD pages band by band. Throws ToolError.
    std::vector<uint8_t> read_page();
    // The colour map xtavgtdata delivered with the auxiliary data (palette
    // pages loaded with auxiliary set), or empty.
    std::span<const uint8_t> colour_map() const;

    // The data of annotation area 1 or 2 of the current TIFF page.
    std::vector<uint8_t> area(int which);

private:
    std::string where() const;
    void read_auxiliary();
    std::vector<uint8_t> read_bands();

    Document& doc_;
    uint32_t page_ = 0;
    PageInfo info_{};
    PageSizes sizes_{};
    std::array<TextTagBuf, TAV_TEXT_TAG_COUNT> tags_{};
    std::array<std::vector<char>, TAV_TEXT_TAG_COUNT> texts_;
    std::vector<std::vector<uint8_t>> buffers_;
    Properties props_;
    bool stripMode_ = false;
};

}  // namespace qvtool
