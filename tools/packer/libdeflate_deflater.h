// The packer's encoder for the smallest output: libdeflate, a host-only
// dependency (the Windows builds have no libdeflate and pack with zlib). Its
// output is ordinary raw deflate that zlib's inflate reads.
#pragma once

#include "tools/packer/zip_packer.h"

#include <cstdint>
#include <vector>

namespace packer {

// libdeflate's levels: 1 fastest; 1..9 trade speed for size as zlib's 1..9 do,
// each a little smaller; 10..12 search hardest (12: the smallest output).
constexpr int kLibdeflateFastestLevel = 1;
constexpr int kLibdeflateSmallestLevel = 12;

// A Deflater (see zip_packer.h) on libdeflate's scale. Throws std::bad_alloc
// when libdeflate cannot get its memory.
std::vector<std::uint8_t> LibdeflateDeflate(const std::vector<std::uint8_t>& data, int level);

}  // namespace packer
