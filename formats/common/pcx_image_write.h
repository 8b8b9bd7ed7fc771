// Writing PCX images, for PCX files and for the pages of DCX files: the
// 128-byte header from the page information, and the caller's raw rows
// run-length coded behind it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "formats/common/pcx_image.h"
#include "frame/fct.h"
#include "qvtav.h"

// The 256-colour palette that ends an 8-bit image: a mark byte and 256 red,
// green, blue triples.
constexpr uint8_t kPcxPaletteMark = 0x0C;
constexpr uint32_t kPcxPaletteBytes = 768;
constexpr uint32_t kPcxTrailerSize = 1 + kPcxPaletteBytes;

// What a PCX or DCX handle keeps while it writes a page.
struct PcxWriter {
    // The file offset where the next coded bytes go. Each handle has its
    // own, so any number of PCX files can be written at once.
    uint32_t position = 0;
    // The palette trailer of an 8-bit page, copied from the caller's colour
    // map when the page starts: the caller's buffer may be gone when the
    // last data comes.
    std::array<uint8_t, kPcxTrailerSize> trailer{};
    // Where the page's header lies, and the bytes its trailer will add.
    uint32_t headerAt = 0;
    uint32_t trailerBytes = 0;
    // The code of a write of the page that failed or was refused at the
    // length limit (0 while all is well): the page takes no more data and
    // never counts as written; close drops it (pcx_image_drop_broken).
    int broken = 0;
};

// Checks the page information (dimensions of 1 to 65535, a bit depth of 1
// to 8 or 24, a colour map for 2 to 8 bits), builds the header, writes it
// at file offset `at` and prepares w for the page's data, which starts
// behind it. Stores the bytes per line in the record's flags word. 0, or
// -1 with errno: TAV_E_SIZE, TAV_E_COMPRESSION, TAV_E_INCONSISTENT (a
// colour map too short), TAV_E_OPTION (none), TAV_E_SEEK (the header and a
// trailer would end beyond the length limit), or the write's code.
int pcx_image_put_header(FctEntry* e, PageInfo* info, uint32_t at, PcxWriter& w);

// The raw rows of one xtavwrite call for page (from 0; the started page,
// else 266): whole input rows of the page e->pageInfo describes (bytes
// beyond the last whole row are not used), coded at w.position; flag
// nonzero: the last data of the page, which for 8-bit pages appends the
// palette at the end of the file. Bytes written to the file, or -1 with
// errno (TAV_E_COUNT fewer bytes than one input row, TAV_ENOMEM without memory, TAV_E_SEEK coded
// bytes that would end, with the trailer still to come, beyond the length
// limit, or the write's code; the last two break the page).
int32_t pcx_image_write_rows(FctEntry* e, uint16_t page, std::span<const uint8_t> rows, uint8_t flag,
                       PcxWriter& w);

// Close of a PCX or DCX handle whose page broke: the file is to be cut to
// `keep` bytes (where the page began) and close fails with the page's
// code. 0 when no page broke.
int pcx_image_drop_broken(FctEntry* e, const PcxWriter& w, uint32_t keep);
