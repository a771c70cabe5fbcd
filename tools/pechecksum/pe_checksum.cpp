#include "tools/pechecksum/pe_checksum.h"

namespace pechecksum {
namespace {

constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kChecksumInHeaders = 0x58;

std::uint32_t Read32(const std::vector<std::uint8_t>& image, std::size_t at) noexcept {
    return static_cast<std::uint32_t>(image[at]) | (static_cast<std::uint32_t>(image[at + 1]) << 8) |
           (static_cast<std::uint32_t>(image[at + 2]) << 16) | (static_cast<std::uint32_t>(image[at + 3]) << 24);
}

}  // namespace

std::optional<std::size_t> ChecksumFieldOffset(const std::vector<std::uint8_t>& image) noexcept {
    if (image.size() < kLfanewOffset + 4 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
    const std::size_t peOffset = Read32(image, kLfanewOffset);
    if (peOffset > image.size() || image.size() - peOffset < kChecksumInHeaders + 4) return std::nullopt;
    if (image[peOffset] != 'P' || image[peOffset + 1] != 'E' || image[peOffset + 2] != 0 || image[peOffset + 3] != 0) {
        return std::nullopt;
    }
    return peOffset + kChecksumInHeaders;
}

std::optional<std::uint32_t> ComputeChecksum(const std::vector<std::uint8_t>& image) noexcept {
    const std::optional<std::size_t> field = ChecksumFieldOffset(image);
    if (!field) return std::nullopt;
    std::uint64_t sum = 0;
    const std::size_t size = image.size();
    for (std::size_t i = 0; i < size; i += 2) {
        // The checksum field's two words count as zero. The field offset may
        // be odd in a malformed file, so compare byte by byte.
        std::uint32_t low = image[i];
        std::uint32_t high = i + 1 < size ? image[i + 1] : 0;
        if (i >= *field && i < *field + 4) low = 0;
        if (i + 1 >= *field && i + 1 < *field + 4) high = 0;
        sum += low | (high << 8);
        // Fold as we go, so the carries of a large file never overflow.
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum &= 0xFFFF;
    return static_cast<std::uint32_t>(sum + size);
}

std::optional<std::uint32_t> StoredChecksum(const std::vector<std::uint8_t>& image) noexcept {
    const std::optional<std::size_t> field = ChecksumFieldOffset(image);
    if (!field) return std::nullopt;
    return Read32(image, *field);
}

bool WriteChecksum(std::vector<std::uint8_t>& image, std::uint32_t value) noexcept {
    const std::optional<std::size_t> field = ChecksumFieldOffset(image);
    if (!field) return false;
    for (std::size_t i = 0; i < 4; ++i) image[*field + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return true;
}

bool StampChecksum(std::vector<std::uint8_t>& image) noexcept {
    const std::optional<std::uint32_t> sum = ComputeChecksum(image);
    return sum && WriteChecksum(image, *sum);
}

bool HasValidChecksum(const std::vector<std::uint8_t>& image) noexcept {
    const std::optional<std::uint32_t> stored = StoredChecksum(image);
    const std::optional<std::uint32_t> computed = ComputeChecksum(image);
    return stored && computed && *stored != 0 && *stored == *computed;
}

}  // namespace pechecksum
