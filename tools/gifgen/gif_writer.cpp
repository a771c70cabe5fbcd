#include "tools/gifgen/gif_writer.h"

#include "tools/bytes/little_endian.h"
#include "tools/gifgen/lzw_encoder.h"

#include <algorithm>

namespace gifgen {
namespace {

using bytes::Put16;

constexpr int kMinCodeSize = 8;

void PutText(std::vector<std::uint8_t>& out, const char* text) {
    for (; *text != '\0'; ++text) out.push_back(static_cast<std::uint8_t>(*text));
}

void PutSubBlocks(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& data) {
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> WriteAnimatedGif(int width, int height, const Palette& palette,
                                           const std::vector<Frame>& frames) {
    std::vector<std::uint8_t> out;
    out.reserve(13 + 768 + frames.size() * (static_cast<std::size_t>(width) * height + 64));
    PutText(out, "GIF89a");
    Put16(out, static_cast<unsigned>(width));
    Put16(out, static_cast<unsigned>(height));
    out.push_back(0xF7);  // global table, 8-bit colour resolution, unsorted, 2^(7+1) entries
    out.push_back(0);     // background colour index
    out.push_back(0);     // no aspect ratio
    out.insert(out.end(), palette.rgb.begin(), palette.rgb.end());

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame& frame = frames[i];
        // Graphic control: disposal 0, no transparency, the frame's delay.
        out.insert(out.end(), {0x21, 0xF9, 0x04, 0x00});
        Put16(out, frame.delay);
        out.insert(out.end(), {0x00, 0x00});
        if (i == 0) {
            // Loop forever. Placed inside the first frame, after its graphic control.
            out.insert(out.end(), {0x21, 0xFF, 0x0B});
            PutText(out, "NETSCAPE2.0");
            out.insert(out.end(), {0x03, 0x01, 0x00, 0x00, 0x00});
        }
        out.push_back(0x2C);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, static_cast<unsigned>(width));
        Put16(out, static_cast<unsigned>(height));
        out.push_back(0x00);  // no local table, not interlaced
        out.push_back(kMinCodeSize);
        PutSubBlocks(out, LzwEncode(frame.indices, kMinCodeSize));
    }
    out.push_back(0x3B);
    return out;
}

}  // namespace gifgen
