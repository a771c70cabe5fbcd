#include "tools/icongen/ico_writer.h"

#include "tools/bytes/little_endian.h"

#include <algorithm>
#include <cmath>

namespace icongen {
namespace {

using bytes::Put16;
using bytes::Put32;

std::uint8_t ToByte(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

std::vector<std::uint8_t> IconImage(const mark::Image& image) {
    const int n = image.size;
    const std::uint32_t maskStride = static_cast<std::uint32_t>((n + 31) / 32) * 4;
    std::vector<std::uint8_t> out;
    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(n));
    Put32(out, static_cast<std::uint32_t>(2 * n));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);  // BI_RGB
    Put32(out, static_cast<std::uint32_t>(n * n * 4) + maskStride * static_cast<std::uint32_t>(n));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int row = n - 1; row >= 0; --row) {
        for (int x = 0; x < n; ++x) {
            const mark::Rgba& p = image.pixels[static_cast<std::size_t>(row) * n + x];
            const std::uint8_t alpha = ToByte(p.a * 255.0);
            out.push_back(alpha ? ToByte(p.b) : 0);
            out.push_back(alpha ? ToByte(p.g) : 0);
            out.push_back(alpha ? ToByte(p.r) : 0);
            out.push_back(alpha);
        }
    }
    // AND mask: 1 = transparent, for systems that ignore the alpha channel.
    for (int row = n - 1; row >= 0; --row) {
        std::vector<std::uint8_t> bits(maskStride, 0);
        for (int x = 0; x < n; ++x) {
            if (image.pixels[static_cast<std::size_t>(row) * n + x].a < 0.5) {
                bits[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), bits.begin(), bits.end());
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> WriteIcon(const std::vector<mark::Image>& images) {
    std::vector<std::vector<std::uint8_t>> bodies;
    for (const mark::Image& image : images) bodies.push_back(IconImage(image));
    std::vector<std::uint8_t> out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon
    Put16(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int n = images[i].size;
        out.push_back(static_cast<std::uint8_t>(n >= 256 ? 0 : n));
        out.push_back(static_cast<std::uint8_t>(n >= 256 ? 0 : n));
        out.push_back(0);  // no palette
        out.push_back(0);
        Put16(out, 1);   // planes
        Put16(out, 32);  // bits per pixel
        Put32(out, static_cast<std::uint32_t>(bodies[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(bodies[i].size());
    }
    for (const auto& body : bodies) out.insert(out.end(), body.begin(), body.end());
    return out;
}

mark::Image MarkImage(int size, bool turned) {
    mark::View view;
    view.size = size;
    view.samples = 8;
    view.angle = turned ? 0.55 : 0.0;
    view.radius = turned ? 0.95 : 0.97;
    view.thickness = 0.2;
    return mark::RenderCoin(view);
}

}  // namespace icongen
