// CRC-32 of the ZIP format (polynomial 0x04C11DB7, bit-reflected, pre- and
// post-inverted), bit-identical to zlib's crc32 and called the same way.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues `crc` (0 to start) over `length` bytes at `data`; a null `data`
// returns 0, as zlib's crc32 does. Where the processor multiplies without
// carries (PCLMULQDQ with SSE4.1) the bytes are folded 16 at a time, 32 where
// it also does so on 256-bit registers (VPCLMULQDQ with AVX2); elsewhere zlib's
// crc32 does the work. The choice is made once, at the first call.
[[nodiscard]] std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t length) noexcept;

// True when UpdateCrc32 folds with carry-less multiplication on this processor.
[[nodiscard]] bool Crc32UsesCarrylessMultiply() noexcept;
