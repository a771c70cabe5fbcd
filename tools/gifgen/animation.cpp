#include "tools/gifgen/animation.h"

#include "tools/gifgen/gif_writer.h"
#include "tools/gifgen/quantizer.h"
#include "tools/mark/product_mark.h"

#include <algorithm>
#include <cmath>

namespace gifgen {
namespace {

constexpr double kPi = 3.14159265358979323846;
const Rgb kBackground{246, 245, 251};

std::uint8_t ToByte(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// One frame in true colour: shadow on the background, then the coin over it.
std::vector<Rgb> RenderFrame(int frame) {
    mark::View view;
    view.size = kAnimationSize;
    view.angle = 2.0 * kPi * frame / kAnimationFrames;
    view.samples = 5;
    view.radius = 0.74;
    view.thickness = 0.15;
    view.centerY = 0.1;
    const mark::Image coin = mark::RenderCoin(view);

    // The shadow narrows as the coin turns its edge to the viewer.
    const double shadowHalfWidth = view.radius * std::fabs(std::cos(view.angle)) +
                                   view.thickness / 2 * std::fabs(std::sin(view.angle)) + 0.06;
    std::vector<Rgb> pixels(static_cast<std::size_t>(kAnimationSize) * kAnimationSize);
    for (int py = 0; py < kAnimationSize; ++py) {
        for (int px = 0; px < kAnimationSize; ++px) {
            const double x = ((px + 0.5) / kAnimationSize) * 2 - 1;
            const double y = 1 - ((py + 0.5) / kAnimationSize) * 2;
            const double ex = x / shadowHalfWidth, ey = (y + 0.86) / 0.075;
            const double e = ex * ex + ey * ey;
            const double shadow = e < 1.0 ? 0.30 * (1.0 - e) : 0.0;
            double r = kBackground.r * (1 - shadow) + 90 * shadow;
            double g = kBackground.g * (1 - shadow) + 84 * shadow;
            double b = kBackground.b * (1 - shadow) + 120 * shadow;
            const mark::Rgba& c = coin.pixels[static_cast<std::size_t>(py) * kAnimationSize + px];
            r = r * (1 - c.a) + c.r * c.a;
            g = g * (1 - c.a) + c.g * c.a;
            b = b * (1 - c.a) + c.b * c.a;
            pixels[static_cast<std::size_t>(py) * kAnimationSize + px] = {ToByte(r), ToByte(g), ToByte(b)};
        }
    }
    return pixels;
}

}  // namespace

std::vector<std::uint8_t> MakeAnimation() {
    std::vector<std::vector<Rgb>> truecolour;
    std::vector<Rgb> all;
    for (int f = 0; f < kAnimationFrames; ++f) {
        truecolour.push_back(RenderFrame(f));
        all.insert(all.end(), truecolour.back().begin(), truecolour.back().end());
    }
    const Palette palette = BuildPalette(all, kBackground);
    std::vector<Frame> frames;
    for (const std::vector<Rgb>& pixels : truecolour) {
        Frame frame;
        frame.delay = kAnimationDelay;
        frame.indices.reserve(pixels.size());
        for (const Rgb& p : pixels) frame.indices.push_back(NearestIndex(palette, p));
        frames.push_back(std::move(frame));
    }
    return WriteAnimatedGif(kAnimationSize, kAnimationSize, palette, frames);
}

}  // namespace gifgen
