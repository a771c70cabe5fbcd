// The packer's encoders for the smallest output, which only the native build
// has: libdeflate and Zopfli, host-only dependencies (the Windows builds pack
// with zlib). Both write ordinary raw deflate that zlib's inflate reads.
#pragma once

#include "tools/packer/zip_packer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packer {

// libdeflate's levels: 1 fastest; 1..9 trade speed for size as zlib's 1..9 do,
// each a little smaller; 10..12 search hardest (12: libdeflate's smallest output).
constexpr int kLibdeflateFastestLevel = 1;
constexpr int kLibdeflateSmallestLevel = 12;

// A Deflater (see zip_packer.h) on libdeflate's scale. Throws std::bad_alloc
// when libdeflate cannot get its memory.
std::vector<std::uint8_t> LibdeflateDeflate(const std::vector<std::uint8_t>& data, int level);

// Zopfli spends its time on two things: where to end one deflate block and
// start the next, and (per block) rounds of choosing the matches again under
// the code lengths the last round gave. Its own default allows at most 15
// blocks per million bytes, too few for a program whose code, data and resources
// want codes of their own: without that limit the corpus of bench/run.sh
// --download-size comes out 0.8 % smaller; 5 rounds give nearly all that 15
// give, in three quarters of the time.
constexpr int kZopfliAnyNumberOfBlocks = 0;
constexpr int kZopfliIterations = 5;

// Zopfli's deflate with `iterations` rounds and at most `maxBlocks` blocks per
// million bytes of input (kZopfliAnyNumberOfBlocks: no limit). Zopfli has no
// way to report a lack of memory: the process ends.
std::vector<std::uint8_t> ZopfliDeflate(const std::vector<std::uint8_t>& data, int iterations,
                                        int maxBlocks = kZopfliAnyNumberOfBlocks);

// Zopfli deflates its input in parts of a million bytes, one after the other,
// each on its own: only the window of 32 KiB before a part reaches into the
// one before it. So one item's parts can be deflated on threads of their own
// and joined into the very bytes ZopfliDeflate gives for the whole item.
constexpr std::size_t kZopfliPartSize = 1000000;

// The parts of an input of `size` bytes; an empty input has one, its final block.
std::size_t ZopfliPartCount(std::size_t size);

// Deflate blocks that start at bit 0 of their first byte and end at bit `bitCount`.
struct DeflateBits {
    std::vector<std::uint8_t> bytes;
    std::size_t bitCount = 0;
};

// Part `part` of `data` as ZopfliDeflate writes it (the last part ends in the final block).
DeflateBits ZopfliDeflatePartOf(const std::vector<std::uint8_t>& data, std::size_t part, int iterations,
                                int maxBlocks = kZopfliAnyNumberOfBlocks);

// All of `data`'s parts, in order, joined into one deflate stream: byte for
// byte what ZopfliDeflate makes of `data` with the same settings. Throws
// std::runtime_error when a part does not inflate (parts of other data).
std::vector<std::uint8_t> JoinZopfliParts(const std::vector<std::uint8_t>& data, const std::vector<DeflateBits>& parts);

// larkspan-pack's encoder, a Deflater on libdeflate's scale 1..12: at 12 the
// smaller of libdeflate's level 12 and Zopfli (kZopfliIterations, any number
// of blocks); below 12 libdeflate's level alone, for when packing time matters
// more than bytes.
std::vector<std::uint8_t> SmallestDeflate(const std::vector<std::uint8_t>& data, int level);

// The choice SmallestDeflate makes at 12: Zopfli's output only when it is
// smaller, libdeflate's when the two are the same size.
std::vector<std::uint8_t> SmallerOf(std::vector<std::uint8_t> libdeflate, std::vector<std::uint8_t> zopfli);

}  // namespace packer
