#include "tools/gifgen/quantizer.h"

#include <algorithm>
#include <map>

namespace gifgen {
namespace {

struct Entry {
    std::uint32_t rgb;  // 0xRRGGBB
    std::uint32_t count;
};

int Channel(std::uint32_t rgb, int axis) { return static_cast<int>((rgb >> (16 - 8 * axis)) & 0xFF); }

struct Box {
    std::vector<Entry> entries;
    std::uint64_t weight = 0;
    int axis = 0;   // channel with the widest range
    int range = 0;  // that range
    void Measure() {
        weight = 0;
        range = -1;
        for (int a = 0; a < 3; ++a) {
            int lo = 255, hi = 0;
            for (const Entry& e : entries) {
                lo = std::min(lo, Channel(e.rgb, a));
                hi = std::max(hi, Channel(e.rgb, a));
            }
            if (hi - lo > range) {
                range = hi - lo;
                axis = a;
            }
        }
        for (const Entry& e : entries) weight += e.count;
    }
};

}  // namespace

Palette BuildPalette(const std::vector<Rgb>& pixels, Rgb background) {
    const std::uint32_t bg = (static_cast<std::uint32_t>(background.r) << 16) |
                             (static_cast<std::uint32_t>(background.g) << 8) | background.b;
    std::map<std::uint32_t, std::uint32_t> histogram;  // ordered: the result does not depend on hashing
    for (const Rgb& p : pixels) {
        const std::uint32_t rgb = (static_cast<std::uint32_t>(p.r) << 16) | (static_cast<std::uint32_t>(p.g) << 8) |
                                  p.b;
        if (rgb != bg) ++histogram[rgb];
    }
    std::vector<Box> boxes(1);
    for (const auto& [rgb, count] : histogram) boxes[0].entries.push_back({rgb, count});
    boxes[0].Measure();

    // Split the box that matters most (pixel weight times spread) until 255 boxes.
    while (boxes.size() < 255) {
        std::size_t best = boxes.size();
        double bestScore = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].entries.size() < 2 || boxes[i].range <= 0) continue;
            const double score = static_cast<double>(boxes[i].range) * static_cast<double>(boxes[i].weight);
            if (score > bestScore) {
                bestScore = score;
                best = i;
            }
        }
        if (best == boxes.size()) break;
        Box& box = boxes[best];
        const int axis = box.axis;
        std::stable_sort(box.entries.begin(), box.entries.end(), [axis](const Entry& a, const Entry& b) {
            return Channel(a.rgb, axis) < Channel(b.rgb, axis);
        });
        std::uint64_t half = 0;
        std::size_t cut = 0;
        while (cut + 1 < box.entries.size() && half + box.entries[cut].count <= box.weight / 2) {
            half += box.entries[cut].count;
            ++cut;
        }
        if (cut == 0) cut = 1;
        Box upper;
        upper.entries.assign(box.entries.begin() + static_cast<std::ptrdiff_t>(cut), box.entries.end());
        box.entries.resize(cut);
        box.Measure();
        upper.Measure();
        boxes.push_back(std::move(upper));
    }

    Palette palette;
    palette.rgb[0] = background.r;
    palette.rgb[1] = background.g;
    palette.rgb[2] = background.b;
    std::size_t index = 1;
    for (const Box& box : boxes) {
        if (box.entries.empty()) continue;
        double r = 0, g = 0, b = 0;
        for (const Entry& e : box.entries) {
            r += Channel(e.rgb, 0) * static_cast<double>(e.count);
            g += Channel(e.rgb, 1) * static_cast<double>(e.count);
            b += Channel(e.rgb, 2) * static_cast<double>(e.count);
        }
        const double w = static_cast<double>(box.weight);
        palette.rgb[index * 3 + 0] = static_cast<std::uint8_t>(r / w + 0.5);
        palette.rgb[index * 3 + 1] = static_cast<std::uint8_t>(g / w + 0.5);
        palette.rgb[index * 3 + 2] = static_cast<std::uint8_t>(b / w + 0.5);
        ++index;
    }
    // Unused entries repeat the background, so a stray index still looks right.
    for (; index < 256; ++index) {
        palette.rgb[index * 3 + 0] = background.r;
        palette.rgb[index * 3 + 1] = background.g;
        palette.rgb[index * 3 + 2] = background.b;
    }
    return palette;
}

std::uint8_t NearestIndex(const Palette& palette, Rgb colour) {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const int dr = palette.rgb[i * 3] - colour.r;
        const int dg = palette.rgb[i * 3 + 1] - colour.g;
        const int db = palette.rgb[i * 3 + 2] - colour.b;
        const int distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0) break;
        }
    }
    return static_cast<std::uint8_t>(best);
}

}  // namespace gifgen
