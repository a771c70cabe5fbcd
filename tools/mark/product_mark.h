// The Larkspan product mark: a gold-rimmed violet medallion carrying a white
// larkspur spike, rendered as a thick coin that can turn about its vertical
// axis. The animation and the icons are both drawn from it.
#pragma once

#include <cstdint>
#include <vector>

namespace mark {

// Straight (not premultiplied) colour in 0..255 per channel, coverage 0..1.
struct Rgba {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;
};

struct Image {
    int size = 0;  // square: size x size pixels, top row first
    std::vector<Rgba> pixels;
};

struct View {
    int size = 64;            // output pixels per side
    double angle = 0;         // turn about the vertical axis, radians; 0 faces the viewer
    int samples = 4;          // samples x samples per pixel (anti-aliasing)
    double radius = 0.78;     // coin radius, in units of half the image side
    double thickness = 0.16;  // coin thickness, same units
    double centerY = 0;       // vertical offset of the coin centre (up is positive)
};

// Renders the coin alone: pixels it does not cover have coverage 0.
Image RenderCoin(const View& view);

}  // namespace mark
