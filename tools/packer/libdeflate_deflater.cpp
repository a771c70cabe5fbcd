#include "tools/packer/libdeflate_deflater.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <new>

namespace packer {
namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
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

}  // namespace packer
