// Writes Windows .ico files with 32-bit images (BITMAPINFOHEADER, BGRA colour
// rows and a 1-bit AND mask, both bottom-up).
#pragma once

#include "tools/mark/product_mark.h"

#include <cstdint>
#include <vector>

namespace icongen {

// One icon file holding the images in the order given (each square).
std::vector<std::uint8_t> WriteIcon(const std::vector<mark::Image>& images);

// The product mark for an icon of the given size; turned shows the coin at a
// slight angle, otherwise it faces the viewer.
mark::Image MarkImage(int size, bool turned);

}  // namespace icongen
