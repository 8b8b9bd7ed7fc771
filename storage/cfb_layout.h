// The on-disk layout of compound files (Compound File Binary format):
// header fields, special sector numbers, directory entry fields.
#pragma once

#include <array>
#include <cstdint>

namespace cfb {

constexpr std::array<uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kHeaderBytes = 512;
constexpr uint16_t kMinorVersion = 0x003E;
constexpr uint16_t kVersion3 = 3;  // 512-byte sectors
constexpr uint16_t kVersion4 = 4;  // 4096-byte sectors
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr uint16_t kShiftVersion3 = 9;
constexpr uint16_t kShiftVersion4 = 12;
constexpr uint16_t kMiniShift = 6;
constexpr uint32_t kMiniSectorBytes = 1u << kMiniShift;
// Streams below this size live in the mini stream.
constexpr uint32_t kMiniCutoff = 4096;
// FAT sector locations held in the header itself.
constexpr uint32_t kHeaderDifatEntries = 109;

// Header field offsets.
constexpr uint32_t kHdrSignature = 0;
constexpr uint32_t kHdrMinorVersion = 24;
constexpr uint32_t kHdrMajorVersion = 26;
constexpr uint32_t kHdrByteOrder = 28;
constexpr uint32_t kHdrSectorShift = 30;
constexpr uint32_t kHdrMiniShift = 32;
constexpr uint32_t kHdrDirSectors = 40;  // version 4 only; 0 in version 3
constexpr uint32_t kHdrFatSectors = 44;
constexpr uint32_t kHdrFirstDirSector = 48;
constexpr uint32_t kHdrMiniCutoff = 56;
constexpr uint32_t kHdrFirstMiniFat = 60;
constexpr uint32_t kHdrMiniFatSectors = 64;
constexpr uint32_t kHdrFirstDifat = 68;
constexpr uint32_t kHdrDifatSectors = 72;
constexpr uint32_t kHdrDifat = 76;

// Sector numbers with a meaning of their own; regular ones are below
// kMaxRegularSector.
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;

// Directory entries.
constexpr uint32_t kEntryBytes = 128;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr uint32_t kNameUnits = 32;  // with the terminator
constexpr uint32_t kEntName = 0;
constexpr uint32_t kEntNameBytes = 64;
constexpr uint32_t kEntType = 66;
constexpr uint32_t kEntColor = 67;
constexpr uint32_t kEntLeft = 68;
constexpr uint32_t kEntRight = 72;
constexpr uint32_t kEntChild = 76;
constexpr uint32_t kEntClsid = 80;
constexpr uint32_t kEntStateBits = 96;
constexpr uint32_t kEntCreated = 100;
constexpr uint32_t kEntModified = 108;
constexpr uint32_t kEntStart = 116;
constexpr uint32_t kEntSize = 120;

enum EntryType : uint8_t {
    kTypeEmpty = 0,
    kTypeStorage = 1,
    kTypeStream = 2,
    kTypeRoot = 5,
};

enum Color : uint8_t {
    kRed = 0,
    kBlack = 1,
};

constexpr char16_t kRootName[] = u"Root Entry";

}  // namespace cfb
