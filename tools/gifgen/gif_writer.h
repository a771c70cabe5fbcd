// Writes an animated GIF89a stream in the layout the setup's picture control
// expects: global colour table of 256 entries, every frame a graphic control
// extension and a full image, the looping extension inside the first frame.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace gifgen {

struct Palette {
    std::array<std::uint8_t, 768> rgb{};  // 256 entries of R, G, B
};

struct Frame {
    std::vector<std::uint8_t> indices;  // width x height, top row first
    std::uint16_t delay = 10;           // hundredths of a second
};

// The whole stream, trailer included. Every frame must cover the full screen.
std::vector<std::uint8_t> WriteAnimatedGif(int width, int height, const Palette& palette,
                                           const std::vector<Frame>& frames);

}  // namespace gifgen
