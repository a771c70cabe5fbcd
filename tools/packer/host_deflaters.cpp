#include "tools/packer/host_deflaters.h"

#include <libdeflate.h>
#include <zopfli/zopfli.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

namespace packer {
namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

struct MallocDeleter {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
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
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    options.numiterations = std::max(iterations, 1);
    options.blocksplittingmax = std::max(maxBlocks, kZopfliAnyNumberOfBlocks);
    // Zopfli appends to a buffer of its own, grown with realloc.
    unsigned char* raw = nullptr;
    std::size_t size = 0;
    ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, data.data(), data.size(), &raw, &size);
    const std::unique_ptr<unsigned char, MallocDeleter> owned(raw);
    return std::vector<std::uint8_t>(raw, raw + size);
}

std::vector<std::uint8_t> SmallestDeflate(const std::vector<std::uint8_t>& data, int level) {
    std::vector<std::uint8_t> out = LibdeflateDeflate(data, level);
    if (level < kLibdeflateSmallestLevel) return out;
    std::vector<std::uint8_t> zopfli = ZopfliDeflate(data, kZopfliIterations);
    return zopfli.size() < out.size() ? zopfli : out;
}

}  // namespace packer
