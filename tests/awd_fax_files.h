// AWD files as fax programs leave them, built without the library: the
// document streams are multi-page CCITT T.6 TIFFs made by ImageMagick (each
// page with its own resolution), the compound file is written by
// `gsf createole` from a directory tree, and every other element (display
// order, records, viewed marks, leftovers) holds the bytes given.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "awd_test_util.h"

struct FaxPage {
    BitPage bits;
    uint16_t xRes = 200;
    uint16_t yRes = 200;
};

// A stream of "Documents": its name (UTF-8, as the element is named) and
// its pages.
struct FaxDoc {
    std::string name;
    std::vector<FaxPage> pages;
};

struct FaxFile {
    std::vector<FaxDoc> docs;
    // The bytes of "Display Order" (names in whatever code page the fax
    // program used, each ended by a NUL).
    std::string order;
    // Further streams by their path below "Persistent Information", for
    // example {"Page Information/A/Page0", bytes}; storages on the way are
    // made. "BeenViewed" and the viewed marks are such streams too.
    std::vector<std::pair<std::string, std::string>> persistent;
};

// The display order bytes of names, each followed by a NUL.
std::string order_bytes(const std::vector<std::string>& names);
// A document record (26 bytes) and a page record (22 bytes), little-endian.
std::string doc_record_bytes(uint32_t flags, uint16_t rotation, uint16_t xScale, uint16_t yScale);
std::string page_record_bytes(uint32_t flags, uint16_t rotation, uint16_t xScale, uint16_t yScale);

// True when ImageMagick or gsf is missing (the test then skips, or fails
// where oracles are required).
bool fax_tools_missing();
// Writes the file at path (which must not exist); false when a tool failed.
bool build_fax_file(const std::string& path, const FaxFile& f);
