#include "tests/support/bytes.h"

#include <cstring>
#include <fstream>

namespace support {

std::uint64_t Random::Next() noexcept {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Bytes PatternData(std::size_t size, std::uint32_t seed) {
    Bytes data(size);
    std::uint32_t state = seed * 2654435761u + 1;
    static const char words[] = "larkspan orvane setup archive item folder ";
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        // Mostly words, with a sprinkling of noise so deflate has real work.
        data[i] = (state >> 28) < 3 ? static_cast<std::uint8_t>(state >> 16)
                                    : static_cast<std::uint8_t>(words[(i + (state >> 30)) % (sizeof words - 1)]);
    }
    return data;
}

Bytes NoiseData(Random& random, std::size_t size) {
    Bytes out(size);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t value = random.Next();
        std::memcpy(&out[i], &value, 8);
    }
    for (; i < size; ++i) out[i] = static_cast<std::uint8_t>(random.Next());
    return out;
}

void Put16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    Put16(bytes, offset, value & 0xFFFF);
    Put16(bytes, offset + 2, value >> 16);
}

std::uint32_t Get16(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8;
}

std::uint32_t Get32(const Bytes& bytes, std::size_t offset) {
    return Get16(bytes, offset) | Get16(bytes, offset + 2) << 16;
}

std::optional<Bytes> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // Read to the end instead of trusting the size: some files (those of
    // /proc, reached through Wine's Z:) report none.
    constexpr std::size_t kChunk = 1u << 20;
    Bytes bytes;
    for (;;) {
        const std::size_t done = bytes.size();
        bytes.resize(done + kChunk);
        in.read(reinterpret_cast<char*>(bytes.data() + done), static_cast<std::streamsize>(kChunk));
        bytes.resize(done + static_cast<std::size_t>(in.gcount()));
        if (!in) break;
    }
    if (in.bad()) return std::nullopt;
    return bytes;
}

bool WriteWholeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace support
