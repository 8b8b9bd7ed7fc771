// What detection hands to the probes of the formats.
#pragma once

#include <cstdint>
#include <span>

// The first bytes of a file: kDetectSize bytes, zeros past the end of a
// shorter file, and the number of bytes the file gave.
constexpr uint32_t kDetectSize = 1024;

struct FileHead {
    std::span<const uint8_t> bytes;
    uint32_t fileBytes;

    uint16_t u16(uint32_t at) const {
        return uint16_t(bytes[at] | (bytes[at + 1] << 8));
    }
    uint32_t u32(uint32_t at) const { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; }
};

// A probe's answer: the file is not of its format, it is, or it carries the
// format's marks in a version that is refused.
enum Probe { kProbeNo = 0, kProbeYes = 1, kProbeRefused = 2 };
