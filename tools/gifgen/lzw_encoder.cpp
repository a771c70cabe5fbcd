#include "tools/gifgen/lzw_encoder.h"

namespace gifgen {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;

// Packs codes least significant bit first, as GIF stores them.
class BitWriter {
public:
    void Write(std::uint32_t code, int bits) {
        buffer_ |= code << count_;
        count_ += bits;
        while (count_ >= 8) {
            out_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    std::vector<std::uint8_t> Finish() {
        if (count_ > 0) out_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
        buffer_ = 0;
        count_ = 0;
        return std::move(out_);
    }

private:
    std::vector<std::uint8_t> out_;
    std::uint32_t buffer_ = 0;
    int count_ = 0;
};

}  // namespace

std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& indices, int minCodeSize) {
    const std::uint32_t clearCode = 1u << minCodeSize;
    const std::uint32_t endCode = clearCode + 1;
    const std::uint32_t alphabet = clearCode;
    // child[prefix * alphabet + symbol] = code of the string prefix+symbol, 0 = none
    // (0 is never a valid code for an extended string, those start at clear+2).
    std::vector<std::uint16_t> child(static_cast<std::size_t>(kTableSize) * alphabet, 0);
    BitWriter writer;
    int codeBits = minCodeSize + 1;
    std::uint32_t nextCode = endCode + 1;

    writer.Write(clearCode, codeBits);
    if (indices.empty()) {
        writer.Write(endCode, codeBits);
        return writer.Finish();
    }
    std::uint32_t current = indices[0];
    std::vector<std::size_t> usedSlots;
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const std::uint32_t symbol = indices[i];
        const std::size_t slot = static_cast<std::size_t>(current) * alphabet + symbol;
        if (child[slot] != 0) {
            current = child[slot];
            continue;
        }
        writer.Write(current, codeBits);
        child[slot] = static_cast<std::uint16_t>(nextCode);
        usedSlots.push_back(slot);
        // The decoder learns this entry one code later and widens its codes as
        // soon as its table reaches the next power of two: follow it exactly.
        if (nextCode >= (1u << codeBits) && codeBits < kMaxCodeBits) ++codeBits;
        ++nextCode;
        if (nextCode == static_cast<std::uint32_t>(kTableSize)) {
            writer.Write(clearCode, codeBits);
            for (std::size_t s : usedSlots) child[s] = 0;
            usedSlots.clear();
            codeBits = minCodeSize + 1;
            nextCode = endCode + 1;
        }
        current = symbol;
    }
    writer.Write(current, codeBits);
    // Reading that last code makes the decoder add one more entry, which may
    // widen the code that follows (the end code).
    if (nextCode >= (1u << codeBits) && codeBits < kMaxCodeBits) ++codeBits;
    writer.Write(endCode, codeBits);
    return writer.Finish();
}

}  // namespace gifgen
