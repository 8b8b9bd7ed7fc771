// Values of PageInfo fields that every format fills in the same way: the
// byte-order marks, the resolution unit, the planar configuration and the
// fill order. They are the values of the TIFF fields of the same name.
#pragma once

#include <cstdint>

// Byte-order marks.
constexpr uint16_t kByteOrderII = 0x4949;  // little-endian
constexpr uint16_t kByteOrderMM = 0x4D4D;  // big-endian

// Values of ResolutionUnit, PlanarConfiguration and FillOrder.
constexpr uint32_t kResolutionNone = 1, kResolutionInch = 2, kResolutionCentimetre = 3;
constexpr uint32_t kPlanarContiguous = 1, kPlanarSeparate = 2;
constexpr uint32_t kFillMsbFirst = 1, kFillLsbFirst = 2;
