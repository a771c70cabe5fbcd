// The PE optional-header checksum: the value that the system's image-help
// library computes and that a loader or setup compares with the stored one.
// Portable C++ on in-memory file images, so both the native stamp tool and the
// Windows test programs use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace pechecksum {

// Offset of the checksum field in the file: e_lfanew + 0x58 (4 bytes of "PE\0\0",
// 20 of the file header, 64 into the optional header, for PE32 and PE32+ alike).
// Empty when the image has no DOS header, no PE signature at e_lfanew, or the
// field does not fit in the file.
[[nodiscard]] std::optional<std::size_t> ChecksumFieldOffset(const std::vector<std::uint8_t>& image) noexcept;

// The checksum of the file image: 16-bit one's-complement style sum of all
// little-endian 16-bit words (a final odd byte counts as a word of its own),
// with the checksum field counted as zero, folded to 16 bits, plus the file
// length. Empty when the image is not a PE file.
[[nodiscard]] std::optional<std::uint32_t> ComputeChecksum(const std::vector<std::uint8_t>& image) noexcept;

// The checksum stored in the header; empty when the image is not a PE file.
[[nodiscard]] std::optional<std::uint32_t> StoredChecksum(const std::vector<std::uint8_t>& image) noexcept;

// Writes the value into the header field; false when the image is not a PE file.
[[nodiscard]] bool WriteChecksum(std::vector<std::uint8_t>& image, std::uint32_t value) noexcept;

// Computes the checksum and writes it into the header; false when the image is
// not a PE file.
[[nodiscard]] bool StampChecksum(std::vector<std::uint8_t>& image) noexcept;

// True when the stored checksum is non-zero and equals the computed one.
[[nodiscard]] bool HasValidChecksum(const std::vector<std::uint8_t>& image) noexcept;

}  // namespace pechecksum
