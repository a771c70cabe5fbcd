#include "tools/mark/product_mark.h"

#include <algorithm>
#include <cmath>

namespace mark {
namespace {

struct Vec3 {
    double x, y, z;
};

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 Normalize(const Vec3& v) {
    const double len = std::sqrt(Dot(v, v));
    return {v.x / len, v.y / len, v.z / len};
}

struct Colour {
    double r, g, b;
};

Colour Mix(const Colour& a, const Colour& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double SmoothStep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

const Colour kGold{222, 176, 64};
const Colour kGoldDark{150, 108, 30};
const Colour kVioletLight{120, 92, 214};
const Colour kVioletDeep{52, 30, 118};
const Colour kNavy{30, 22, 70};
const Colour kPetal{246, 242, 255};
const Colour kPetalEdge{186, 166, 246};
const Colour kHeart{252, 208, 84};
const Colour kStem{128, 200, 116};

// Distance from p to the segment a-b.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    const double qx = ax + t * dx - px, qy = ay + t * dy - py;
    return std::sqrt(qx * qx + qy * qy);
}

double StemX(double v) { return 0.07 * std::sin(2.2 * v + 0.6); }

// The medallion's face at (u, v), both in -1..1 (1 = the coin's radius).
Colour Face(double u, double v) {
    const double r = std::sqrt(u * u + v * v);
    if (r > 0.885) return Mix(kGold, kGoldDark, (r - 0.885) / 0.115 * 0.6 + (v < 0 ? 0.25 : 0.0));
    if (r > 0.835) return kNavy;
    Colour c = Mix(kVioletLight, kVioletDeep, r / 0.835 + 0.15 * v);

    // Stem, drawn as a chain of short segments along its gentle curve.
    for (int i = 0; i < 12; ++i) {
        const double v0 = -0.70 + i * 0.11, v1 = v0 + 0.11;
        if (SegmentDistance(u, v, StemX(v0), v0, StemX(v1), v1) < 0.032) c = kStem;
    }
    // Two leaves at the foot of the stem.
    for (int side = -1; side <= 1; side += 2) {
        const double cx = StemX(-0.52) + side * 0.16, cy = -0.50;
        const double angle = side * 0.65;
        const double lx = (u - cx) * std::cos(angle) + (v - cy) * std::sin(angle);
        const double ly = -(u - cx) * std::sin(angle) + (v - cy) * std::cos(angle);
        if ((lx * lx) / (0.19 * 0.19) + (ly * ly) / (0.06 * 0.06) < 1.0) c = Mix(kStem, kNavy, 0.15);
    }
    // Florets up the spike, alternating sides and shrinking towards the tip.
    for (int i = 0; i < 6; ++i) {
        const double fy = -0.30 + i * 0.17;
        const double fx = StemX(fy) + ((i % 2 == 0) ? -0.10 : 0.10) * (1.0 - i * 0.12);
        const double size = 0.20 - i * 0.022;
        const double dx = u - fx, dy = v - fy;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d > size) continue;
        const double phi = std::atan2(dy, dx) + i * 0.7;
        const double petal = size * (0.58 + 0.42 * std::fabs(std::cos(2.5 * phi)));
        if (d < petal) {
            c = d < 0.26 * size ? kHeart : Mix(kPetal, kPetalEdge, SmoothStep(0.45, 1.0, d / petal));
        }
    }
    // The closed bud at the tip.
    const double bx = u - StemX(0.74), by = v - 0.74;
    if ((bx * bx) / (0.045 * 0.045) + (by * by) / (0.075 * 0.075) < 1.0) c = kPetalEdge;
    return c;
}

struct Hit {
    bool hit = false;
    Colour colour{0, 0, 0};
};

// Shades one orthographic ray at image position (x, y) (looking along -z)
// against the coin turned by the angle whose sine and cosine are given.
Hit Trace(const View& view, double x, double y, double s, double c) {
    const double R = view.radius, halfT = view.thickness / 2;
    y -= view.centerY;
    if (y * y >= R * R) return {};
    // Coin frame: w along its axis, u across its face.
    //   u = x c + z s,  w = -x s + z c
    double bestZ = -1e30;
    Vec3 normal{0, 0, 1};
    Colour base{0, 0, 0};
    bool found = false;
    if (std::fabs(c) > 1e-9) {
        for (int side = -1; side <= 1; side += 2) {
            const double z = (side * halfT + x * s) / c;
            const double u = x * c + z * s;
            if (u * u + y * y <= R * R && z > bestZ) {
                bestZ = z;
                found = true;
                normal = {-s * side, 0, c * side};
                // The back shows the same mark, unmirrored for a viewer behind.
                base = Face(side > 0 ? u / R : -u / R, y / R);
            }
        }
    }
    if (std::fabs(s) > 1e-9) {
        const double root = std::sqrt(R * R - y * y);
        for (int side = -1; side <= 1; side += 2) {
            const double u = side * root;
            const double z = (u - x * c) / s;
            const double w = -x * s + z * c;
            if (std::fabs(w) <= halfT && z > bestZ) {
                bestZ = z;
                found = true;
                normal = Normalize({(u * c) / R, y / R, (u * s) / R});
                // Knurled edge: fine ridges across the rim.
                const double ridge = 0.85 + 0.15 * std::cos(std::atan2(y, u) * 60.0);
                base = Mix(kGoldDark, kGold, ridge * 0.9);
            }
        }
    }
    if (!found) return {};

    const Vec3 light = Normalize({-0.45, 0.55, 0.75});
    const Vec3 halfway = Normalize({light.x, light.y, light.z + 1.0});
    if (normal.z < 0) normal = {-normal.x, -normal.y, -normal.z};
    const double diffuse = std::max(0.0, Dot(normal, light));
    const double specular = std::pow(std::max(0.0, Dot(normal, halfway)), 24.0);
    const double k = 0.42 + 0.62 * diffuse;
    Hit hit;
    hit.hit = true;
    hit.colour = {std::min(255.0, base.r * k + 70 * specular), std::min(255.0, base.g * k + 70 * specular),
                  std::min(255.0, base.b * k + 70 * specular)};
    return hit;
}

}  // namespace

Image RenderCoin(const View& view) {
    Image image;
    image.size = view.size;
    image.pixels.resize(static_cast<std::size_t>(view.size) * view.size);
    const double s = std::sin(view.angle), c = std::cos(view.angle);
    const int n = std::max(1, view.samples);
    for (int py = 0; py < view.size; ++py) {
        for (int px = 0; px < view.size; ++px) {
            double r = 0, g = 0, b = 0;
            int hits = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const double x = ((px + (sx + 0.5) / n) / view.size) * 2.0 - 1.0;
                    const double y = 1.0 - ((py + (sy + 0.5) / n) / view.size) * 2.0;
                    const Hit hit = Trace(view, x, y, s, c);
                    if (!hit.hit) continue;
                    r += hit.colour.r;
                    g += hit.colour.g;
                    b += hit.colour.b;
                    ++hits;
                }
            }
            Rgba& out = image.pixels[static_cast<std::size_t>(py) * view.size + px];
            if (hits > 0) out = {r / hits, g / hits, b / hits, static_cast<double>(hits) / (n * n)};
        }
    }
    return image;
}

}  // namespace mark
