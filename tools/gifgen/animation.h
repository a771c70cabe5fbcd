// The setup's animation: the product mark turning once around in 29 frames of
// 64 x 64 pixels, on a light background with a soft shadow.
#pragma once

#include <cstdint>
#include <vector>

namespace gifgen {

constexpr int kAnimationSize = 64;
constexpr int kAnimationFrames = 29;
constexpr std::uint16_t kAnimationDelay = 10;

// The finished GIF89a stream; the same bytes on every run.
std::vector<std::uint8_t> MakeAnimation();

}  // namespace gifgen
