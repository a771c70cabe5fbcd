// GIF's variable-length LZW compression of colour indices.
#pragma once

#include <cstdint>
#include <vector>

namespace gifgen {

// Compresses the indices (each below 2^minCodeSize) into the packed code
// stream of a GIF image: a clear code first, codes growing from
// minCodeSize + 1 up to 12 bits, a clear code whenever the table fills, and
// the end-of-information code last. The result is not yet cut into sub-blocks.
std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& indices, int minCodeSize);

}  // namespace gifgen
