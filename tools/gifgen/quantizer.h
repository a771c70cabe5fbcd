// Chooses one 256-colour palette for a whole animation (median cut over the
// colours of every frame) and maps pixels to it. Entry 0 is reserved for the
// background colour so it stays exact.
#pragma once

#include "tools/gifgen/gif_writer.h"

#include <cstdint>
#include <vector>

namespace gifgen {

struct Rgb {
    std::uint8_t r, g, b;
};

Palette BuildPalette(const std::vector<Rgb>& pixels, Rgb background);

// Index of the palette entry nearest to the colour (entry 0 for the exact background).
std::uint8_t NearestIndex(const Palette& palette, Rgb colour);

}  // namespace gifgen
