// Helpers of the AWD tests: bilevel pages, AWD files written and read
// through the public interface, and the tree of a file seen through the
// compound-file engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "qvtav.h"
#include "test_util.h"

// A bilevel page: rows of ceil(width / 8) bytes, the first pixel in the
// high bit, 1 for black; the bits past the width are 0.
struct BitPage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;
    uint32_t row_bytes() const { return (width + 7) / 8; }
    const uint8_t* row(uint32_t r) const { return bits.data() + size_t(r) * row_bytes(); }
    bool operator==(const BitPage&) const = default;
};
// For test failure messages: the size and a hash of the rows.
void PrintTo(const BitPage& p, std::ostream* os);

// A page whose rows tell it apart from the pages of other seeds.
BitPage pattern_page(uint32_t width, uint32_t height, uint32_t seed);

// Page information of a new AWD page of that size at dpi dots per inch.
PageInfo awd_new_page(uint32_t width, uint32_t dpi = 200);

// One AWD handle. Calls return the library's code (0 for success).
class AwdHandle {
public:
    AwdHandle() = default;
    ~AwdHandle() { close(); }
    AwdHandle(const AwdHandle&) = delete;
    AwdHandle& operator=(const AwdHandle&) = delete;

    uint32_t create(const std::string& path);
    uint32_t open(const std::string& path, uint32_t flags = TAV_OPEN_READ);
    uint32_t close();
    uint32_t abort();
    bool ok() const { return h > 0; }

    // xtavputi with the record as given.
    uint32_t put(uint16_t page, PageInfo info);
    // Writes the page's rows in calls of `rows` rows, then a call of 0
    // bytes; the code of the first call that fails.
    uint32_t write_rows(uint16_t page, const BitPage& p, uint32_t rows = 64);
    // xtavputi then write_rows.
    uint32_t write_page(uint16_t page, const BitPage& p, uint32_t dpi = 200);
    // Page information with the band size given.
    uint32_t info(uint16_t page, uint16_t bandBytes = 0);
    // Reads the current page band by band: every row delivered.
    uint32_t read_bands(uint16_t page, BitPage* out, uint32_t* bands = nullptr);
    // info then read_bands, with one row per band (the page's own rows).
    uint32_t read_page(uint16_t page, BitPage* out);
    uint32_t option(uint32_t option, void* value);

    int32_t h = 0;
    uint32_t type = 0, pages = 0;
    PageInfo pi{};
    PageSizes ps{};
};

// Writes an AWD file whose documents hold the pages given, through the
// encoder's own entry points (each document an image file added with
// AWDAddImage, named DOCn); 0, or 1 when a step failed.
uint32_t make_awd_documents(const std::string& path, const std::vector<std::vector<BitPage>>& docs,
                            uint32_t dpi = 200);
// Writes a new AWD file with the pages, one call each.
uint32_t write_awd(const std::string& path, const std::vector<BitPage>& pages);
// Every page of the file read with one row per band; empty when the file
// does not open or a page does not read.
std::vector<BitPage> read_awd(const std::string& path);

// The file's display order as the names in its stream (the file must not
// be open), and its documents' streams under "Documents".
std::vector<std::string> display_order(const std::string& path);
std::vector<std::string> document_streams(const std::string& path);
// Whether an element exists, by its path of names from the root.
bool awd_element_exists(const std::string& path, const std::vector<std::string>& names);

// A model of an AWD file: each document's page ids, in display order.
using Docs = std::vector<std::vector<uint32_t>>;
std::vector<uint32_t> flat(const Docs& docs);
// Cuts the document holding page g (from 0) so that g starts a document;
// the index of that document.
size_t cut_at(Docs& docs, uint32_t g);
// Pages first..last (from 0) leave the model.
void model_delete(Docs& docs, uint32_t first, uint32_t last);

// xtavdelpgs on the file: 0, or the code (the error cell must stay 0).
uint32_t delete_pages(const std::string& path, int32_t first, uint32_t last);
// Option 22 on a handle opened for update, then close: 0 or the code.
uint32_t move_last(const std::string& path, uint32_t moved, uint32_t target);

// AWD tests that write: the encoder's image files go to a directory of the
// test's, which must be empty at the end, and no memory-table block leaks.
struct AwdFileTest : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
    TempDir dir, tmp;
    std::string oldTmp;
    int blocks = 0;
    bool redirected = false;
};

// The test controls of the viewer and encoder stand-ins: the call of entry
// after `after` further calls fails (an empty name disarms).
void viewer_fault(const char* entry, uint32_t after);
void encoder_fault(const char* entry, uint32_t after);
