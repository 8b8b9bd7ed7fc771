// The objects the library and the outside XIFF reader (libxiffr3_0.so)
// exchange: the byte-stream object the library hands to the reader, and the
// reader object the reader's CreateXiffReader makes. Each object begins with
// a pointer to its table of operations, slot by slot in a fixed order, and
// every operation takes the object itself first. The tables are plain C
// records of function pointers, so their layout does not depend on a C++
// compiler's object model.
#pragma once

#include <cstdint>

extern "C" {

struct XiffStream;
struct XiffReader;

// Operations of the byte-stream object, in slot order.
struct XiffStreamOps {
    // Slot 0: up to count bytes from the current position; bytes read, or -1.
    int32_t (*read)(XiffStream* self, void* buffer, uint32_t count);
    // Slot 1: always -1 (the stream cannot be written).
    int32_t (*write)(XiffStream* self, const void* buffer, uint32_t count);
    // Slot 2: positions at offset from the start; the new position, or -1.
    int32_t (*seek)(XiffStream* self, int32_t offset);
    // Slot 3: the stream's length (the position is kept); -1 on failure.
    int32_t (*size)(XiffStream* self);
    // Slot 4: ends the object; with kXiffFreeObject in flags its memory is
    // released too.
    void (*destroy)(XiffStream* self, uint32_t flags);
};
struct XiffStream {
    const XiffStreamOps* ops;
};
constexpr uint32_t kXiffFreeObject = 1;

// Operations of the reader object, in slot order. Results are 0 for success
// unless said otherwise.
struct XiffReaderOps {
    int32_t (*start)(XiffReader* self);  // 0: right after creation
    // 1: reads the file through the stream; its page count into pages.
    int32_t (*open)(XiffReader* self, XiffStream* stream, uint32_t* pages, uint32_t* unused);
    int32_t (*select_page)(XiffReader* self, uint32_t page);  // 2: page from 0
    // 3: the selected page's rows and columns, and its resolutions in dots
    // per inch.
    int32_t (*page_geometry)(XiffReader* self, uint32_t* length, uint32_t* width, uint32_t* xRes,
                             uint32_t* yRes);
    // 4: how many choices the output set-up step `step` offers (a count).
    int32_t (*setup_choices)(XiffReader* self, uint32_t step);
    // 5: nonzero when the page can be delivered in output form `form`.
    int32_t (*can_deliver)(XiffReader* self, uint32_t form);
    // 6: takes choice `choice` of set-up step `step`.
    int32_t (*setup_choose)(XiffReader* self, uint32_t step, int32_t choice);
    int32_t (*set_form)(XiffReader* self, uint32_t form);  // 7: the output form chosen
    // 8: the output geometry; the last argument is always 0.
    int32_t (*set_geometry)(XiffReader* self, uint32_t length, uint32_t width, uint32_t xRes,
                            uint32_t yRes, uint32_t reserved);
    // 9: nonzero when the set-up steps in the mask `steps` are not complete.
    int32_t (*setup_incomplete)(XiffReader* self, uint32_t steps);
    int32_t (*begin_rows)(XiffReader* self, uint32_t rowBytes);  // 10: row stride of the output
    // 11: the next `rows` output rows into buffer (rows x the stride bytes).
    int32_t (*read_rows)(XiffReader* self, void* buffer, uint32_t reserved, uint32_t rows);
    int32_t (*end_rows)(XiffReader* self);              // 12
    int32_t (*read_palette)(XiffReader* self, void* buffer);  // 13: R, G, B per entry
    int32_t (*close)(XiffReader* self);                 // 14: lets the stream go
    // 15: releases the reader; `stream` is the address of the destroyed
    // stream object, which is never dereferenced.
    int32_t (*release)(XiffReader* self, const void* stream);
    int32_t (*undo_setup)(XiffReader* self);            // 16: forgets the output set-up
};
struct XiffReader {
    const XiffReaderOps* ops;
};

// The reader library's entry point: a new reader into *reader; 0 on failure.
typedef int32_t (*CreateXiffReaderFn)(XiffReader** reader);
}

// The name of the reader library and of its entry point.
constexpr const char* kXiffLibraryName = "libxiffr3_0.so";
constexpr const char* kXiffCreateName = "CreateXiffReader";

// Output forms (slots 5 and 7).
enum XiffForm : uint32_t {
    kXiffBilevel = 1,      // 1 bit per pixel, 0 black
    kXiffGrey4 = 2,        // 4 bits per pixel, 0 black
    kXiffGrey8 = 3,        // 8 bits per pixel, 0 black
    kXiffPalette4 = 4,     // 4-bit indices into a 16-entry palette
    kXiffPalette8 = 5,     // 8-bit indices into a 256-entry palette
    kXiffRgb = 6,          // 8 bits each of red, green and blue
};

// Set-up steps (slots 4 and 6) and the mask of the steps slot 9 checks.
enum XiffSetupStep : uint32_t {
    kXiffStepOrder = 0,     // the row order
    kXiffStepScaling = 1,   // how rows and columns are scaled
    kXiffStepBits = 2,      // the bit order within bytes
    kXiffStepChannels = 4,  // one step per output channel
};
constexpr uint32_t kXiffRequiredSteps =
    (1u << kXiffStepOrder) | (1u << kXiffStepScaling) | (1u << kXiffStepBits);
// Choice -1 of the scaling step: the reader's own method.
constexpr int32_t kXiffReaderChoice = -1;

// Palette sizes in bytes: R, G, B per entry.
constexpr uint32_t kXiffPalette4Bytes = 16 * 3;
constexpr uint32_t kXiffPalette8Bytes = 256 * 3;
