// Bytes for the test and benchmark programs: a seeded random source, data made
// from it, little-endian fields, whole files. Free of Windows headers, so that
// the native fixture and benchmark-archive generators build it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace support {

using Bytes = std::vector<std::uint8_t>;

// splitmix64: small, fast and the same on every machine and build.
class Random {
public:
    explicit Random(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t Next() noexcept;
    // 0 <= result < bound (0 when bound is 0).
    std::uint32_t Below(std::uint32_t bound) noexcept {
        return bound == 0 ? 0 : static_cast<std::uint32_t>(Next() % bound);
    }
    bool OneIn(std::uint32_t n) noexcept { return Below(n) == 0; }
    // 0 <= result < 1.
    double Unit() noexcept { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

private:
    std::uint64_t state_;
};

// Deterministic data that compresses to somewhere between text and noise.
Bytes PatternData(std::size_t size, std::uint32_t seed = 1);
// Incompressible data.
Bytes NoiseData(Random& random, std::size_t size);
inline Bytes NoiseData(std::size_t size, std::uint64_t seed) {
    Random random(seed);
    return NoiseData(random, size);
}

void Put16(Bytes& bytes, std::size_t offset, std::uint32_t value);
void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value);
// Reads past the end throw std::out_of_range, which fails the test that made them.
std::uint32_t Get16(const Bytes& bytes, std::size_t offset);
std::uint32_t Get32(const Bytes& bytes, std::size_t offset);

// The whole file; nothing when it cannot be opened or read. Opened for reading
// only and shared with writers, so a file another program holds open reads too.
std::optional<Bytes> ReadWholeFile(const std::string& path);
// Creates or replaces the file with exactly `bytes`.
bool WriteWholeFile(const std::string& path, const Bytes& bytes);

}  // namespace support
