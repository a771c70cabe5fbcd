#include "tools/packer/host_deflaters.h"

#include <libdeflate.h>
#include <zlib.h>
#include <zopfli/deflate.h>
#include <zopfli/util.h>
#include <zopfli/zopfli.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

namespace packer {
namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

struct MallocDeleter {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
};

static_assert(kZopfliPartSize == ZOPFLI_MASTER_BLOCK_SIZE, "the parts must be the ones Zopfli deflates");

ZopfliOptions ZopfliSettings(int iterations, int maxBlocks) {
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    options.numiterations = std::max(iterations, 1);
    options.blocksplittingmax = std::max(maxBlocks, kZopfliAnyNumberOfBlocks);
    return options;
}

// Zopfli's block type for its smallest output: dynamic codes, with fixed or
// stored blocks wherever those come out smaller.
constexpr int kZopfliBestBlockType = 2;
constexpr std::size_t kDeflateWindow = 32768;
constexpr unsigned kStoredBlockType = 0;
constexpr unsigned kBlockHeaderBits = 3;  // the final flag, then two bits of block type

unsigned BitAt(const std::vector<std::uint8_t>& bytes, std::size_t bit) { return (bytes[bit / 8] >> (bit % 8)) & 1u; }

// Where the stored blocks of a part start, counted from the part's bit 0. A
// stored block pads to the next byte after its header, so its bits depend on
// where the part starts; every other block is the same bits wherever it
// starts. Inflating the part (with the window before it as the dictionary)
// stops at each block boundary, and the block type follows the final flag.
std::vector<std::size_t> StoredBlockStarts(const std::vector<std::uint8_t>& data, std::size_t part,
                                           const DeflateBits& bits) {
    auto stored = [&](std::size_t at) {
        return at + kBlockHeaderBits <= bits.bitCount &&
               (BitAt(bits.bytes, at + 1) | BitAt(bits.bytes, at + 2) << 1) == kStoredBlockType;
    };
    std::vector<std::size_t> starts;
    if (stored(0)) starts.push_back(0);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    const std::unique_ptr<z_stream, int (*)(z_stream*)> owner(&z, inflateEnd);
    const std::size_t start = part * kZopfliPartSize;
    const std::size_t window = std::min(start, kDeflateWindow);
    if (window > 0 && inflateSetDictionary(&z, data.data() + start - window, static_cast<uInt>(window)) != Z_OK) {
        throw std::runtime_error("a Zopfli part: no dictionary");
    }
    z.next_in = const_cast<Bytef*>(bits.bytes.data());
    z.avail_in = static_cast<uInt>(bits.bytes.size());
    std::vector<std::uint8_t> scratch(kDeflateWindow);
    for (;;) {
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        const int status = inflate(&z, Z_BLOCK);
        if (status == Z_STREAM_END) break;
        if (status != Z_OK) throw std::runtime_error("a Zopfli part does not inflate");
        // 128: at a block boundary, with fewer than 8 bits of the last byte read left unused.
        constexpr int kAtBoundary = 128, kUnusedBits = 7;
        if ((z.data_type & kAtBoundary) == 0) continue;
        const std::size_t at = z.total_in * 8 - static_cast<std::size_t>(z.data_type & kUnusedBits);
        if (at >= bits.bitCount) break;  // the part's last block, not the stream's last
        if (stored(at)) starts.push_back(at);
    }
    return starts;
}

// Appends bits, least significant first, as deflate packs them.
class BitWriter {
public:
    // Bits [begin, end) of `from`: whole bytes where both sides line up, else up to 8 bits at a time.
    void Append(const std::vector<std::uint8_t>& from, std::size_t begin, std::size_t end) {
        if (bitCount_ % 8 == 0 && begin % 8 == 0) {
            const std::size_t whole = (end - begin) / 8;
            bytes_.insert(bytes_.end(), from.begin() + static_cast<std::ptrdiff_t>(begin / 8),
                          from.begin() + static_cast<std::ptrdiff_t>(begin / 8 + whole));
            bitCount_ += whole * 8;
            begin += whole * 8;
        }
        while (begin < end) {
            const unsigned count = static_cast<unsigned>(std::min<std::size_t>(8, end - begin));
            const unsigned shift = begin % 8;
            unsigned value = from[begin / 8] >> shift;
            if (shift + count > 8) value |= static_cast<unsigned>(from[begin / 8 + 1]) << (8 - shift);
            Put(value & ((1u << count) - 1), count);
            begin += count;
        }
    }
    void PadToByte() { bitCount_ = bytes_.size() * 8; }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    void Put(unsigned value, unsigned count) {
        const unsigned used = bitCount_ % 8;
        if (used == 0) bytes_.push_back(0);
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | value << used);
        if (used + count > 8) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 - used)));
        bitCount_ += count;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t bitCount_ = 0;
};

}  // namespace

std::vector<std::uint8_t> LibdeflateDeflate(const std::vector<std::uint8_t>& data, int level) {
    level = std::clamp(level, kLibdeflateFastestLevel, kLibdeflateSmallestLevel);
    // With a level in range, only a lack of memory leaves libdeflate without a compressor.
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(level));
    if (!compressor) throw std::bad_alloc();
    // The bound holds for any input of that length, so the call cannot run out of room.
    std::vector<std::uint8_t> out(libdeflate_deflate_compress_bound(compressor.get(), data.size()));
    out.resize(libdeflate_deflate_compress(compressor.get(), data.data(), data.size(), out.data(), out.size()));
    return out;
}

std::vector<std::uint8_t> ZopfliDeflate(const std::vector<std::uint8_t>& data, int iterations, int maxBlocks) {
    const ZopfliOptions options = ZopfliSettings(iterations, maxBlocks);
    // Zopfli appends to a buffer of its own, grown with realloc.
    unsigned char* raw = nullptr;
    std::size_t size = 0;
    ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, data.data(), data.size(), &raw, &size);
    const std::unique_ptr<unsigned char, MallocDeleter> owned(raw);
    return std::vector<std::uint8_t>(raw, raw + size);
}

std::size_t ZopfliPartCount(std::size_t size) { return size == 0 ? 1 : (size + kZopfliPartSize - 1) / kZopfliPartSize; }

DeflateBits ZopfliDeflatePartOf(const std::vector<std::uint8_t>& data, std::size_t part, int iterations,
                                int maxBlocks) {
    const ZopfliOptions options = ZopfliSettings(iterations, maxBlocks);
    const std::size_t start = part * kZopfliPartSize;
    const bool last = part + 1 == ZopfliPartCount(data.size());
    const std::size_t end = last ? data.size() : start + kZopfliPartSize;
    unsigned char* raw = nullptr;
    std::size_t size = 0;
    unsigned char bitInLastByte = 0;  // Zopfli's bit pointer: 0 when the last byte is full
    ZopfliDeflatePart(&options, kZopfliBestBlockType, last ? 1 : 0, data.data(), start, end, &bitInLastByte, &raw,
                      &size);
    const std::unique_ptr<unsigned char, MallocDeleter> owned(raw);
    DeflateBits bits;
    bits.bytes.assign(raw, raw + size);
    bits.bitCount = size * 8 - (bitInLastByte == 0 ? 0 : 8 - bitInLastByte);
    return bits;
}

std::vector<std::uint8_t> JoinZopfliParts(const std::vector<std::uint8_t>& data,
                                          const std::vector<DeflateBits>& parts) {
    BitWriter out;
    for (std::size_t part = 0; part < parts.size(); ++part) {
        const DeflateBits& bits = parts[part];
        std::size_t from = 0;
        for (const std::size_t stored : StoredBlockStarts(data, part, bits)) {
            out.Append(bits.bytes, from, stored + kBlockHeaderBits);
            out.PadToByte();
            from = (stored + kBlockHeaderBits + 7) / 8 * 8;
        }
        out.Append(bits.bytes, from, bits.bitCount);
    }
    return out.Take();
}

std::vector<std::uint8_t> SmallestDeflate(const std::vector<std::uint8_t>& data, int level) {
    std::vector<std::uint8_t> out = LibdeflateDeflate(data, level);
    if (level < kLibdeflateSmallestLevel) return out;
    return SmallerOf(std::move(out), ZopfliDeflate(data, kZopfliIterations));
}

std::vector<std::uint8_t> SmallerOf(std::vector<std::uint8_t> libdeflate, std::vector<std::uint8_t> zopfli) {
    return zopfli.size() < libdeflate.size() ? zopfli : libdeflate;
}

}  // namespace packer
