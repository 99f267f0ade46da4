#include "export/materials/texture_paint.h"

#include <algorithm>
#include <cmath>

#include "host/image.h"

namespace exporter {
namespace {

struct Rgb {
    double r = 0.0, g = 0.0, b = 0.0;
};

Rgb mix(const Rgb &a, const Rgb &b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scaled(const Rgb &c, double k) { return {c.r * k, c.g * k, c.b * k}; }

double clamp01(double x) { return x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x; }

double smoothstep(double edge0, double edge1, double x)
{
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

double fract(double x) { return x - std::floor(x); }

// A well-mixed 32-bit hash of a lattice point (the finaliser of a 32-bit integer mixer).
std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t salt)
{
    std::uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ salt * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

double lattice(long x, long y, long period_x, long period_y, std::uint32_t salt)
{
    const auto wrap = [](long i, long period) { return static_cast<std::uint32_t>(((i % period) + period) % period); };
    return hash(wrap(x, period_x), wrap(y, period_y), salt) / 4294967296.0;
}

// Value noise in [0, 1) over a lattice that repeats every period_x by period_y cells, so a
// picture made of whole periods tiles.
double noise(double x, double y, long period_x, long period_y, std::uint32_t salt)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const long ix = static_cast<long>(fx), iy = static_cast<long>(fy);
    const double tx = smoothstep(0.0, 1.0, x - fx), ty = smoothstep(0.0, 1.0, y - fy);
    const double a = lattice(ix, iy, period_x, period_y, salt);
    const double b = lattice(ix + 1, iy, period_x, period_y, salt);
    const double c = lattice(ix, iy + 1, period_x, period_y, salt);
    const double d = lattice(ix + 1, iy + 1, period_x, period_y, salt);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Octaves of noise over the unit square, the first with cells_x by cells_y cells; every octave
// repeats over the unit square, so the sum does too.
double fbm(double u, double v, long cells_x, long cells_y, int octaves, std::uint32_t salt)
{
    double sum = 0.0, weight = 0.5, total = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * noise(u * static_cast<double>(cells_x), v * static_cast<double>(cells_y),
                              cells_x, cells_y, salt + static_cast<std::uint32_t>(o));
        total += weight;
        weight *= 0.5;
        cells_x *= 2;
        cells_y *= 2;
    }
    return sum / total;
}

std::uint8_t byte(double x) { return static_cast<std::uint8_t>(std::lround(clamp01(x) * 255.0)); }

void put(Image &image, int x, int y, const Rgb &c, double alpha)
{
    const std::size_t at =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)) *
        static_cast<std::size_t>(image.channels);
    image.pixels[at] = byte(c.r);
    image.pixels[at + 1] = byte(c.g);
    image.pixels[at + 2] = byte(c.b);
    if (image.channels == 4)
        image.pixels[at + 3] = byte(alpha);
}

Image blank(int width, int height, int channels)
{
    Image image;
    image.width = std::max(width, 1);
    image.height = std::max(height, 1);
    image.channels = channels;
    image.pixels.assign(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
                            static_cast<std::size_t>(channels),
                        0);
    return image;
}

// Bark at (u, v) of the unit square: vertical plates split by dark furrows that wander, broken
// across now and then, with a fine grain running along the tube.
Rgb bark(double u, double v)
{
    const long plates = 7;
    const double wander = fbm(u, v, 3, 4, 4, 11) - 0.5;
    const double jitter = fbm(u, v, 12, 10, 3, 13) - 0.5;
    const double x = u * static_cast<double>(plates) + 1.3 * wander + 0.45 * jitter;
    const double across = fract(x);
    const long plate = (static_cast<long>(std::floor(x)) % plates + plates) % plates;
    const double edge = std::min(across, 1.0 - across) * 2.0; // 0 in a furrow, 1 mid-plate
    const double rim = fbm(u, v, 16, 8, 2, 17);
    double height = smoothstep(0.05 + 0.3 * rim, 0.75, edge);
    // Each plate breaks across at its own places along the tube.
    const double shift = hash(static_cast<std::uint32_t>(plate), 0, 23) / 4294967296.0;
    const double along = fract(v * 3.0 + shift + 0.2 * (fbm(u, v, 6, 6, 2, 31) - 0.5));
    const double crack = smoothstep(0.0, 0.05, along) * smoothstep(0.0, 0.05, 1.0 - along);
    height *= 0.55 + 0.45 * crack;
    const double grain = fbm(u, v, 48, 6, 3, 41);
    const double blotch = fbm(u, v, 4, 4, 3, 53);

    const Rgb furrow{0.10, 0.075, 0.055}, plate_dark{0.31, 0.225, 0.15}, plate_light{0.50, 0.40, 0.30};
    Rgb c = mix(plate_dark, plate_light, clamp01(0.35 + 1.1 * (blotch - 0.5) + 0.8 * (grain - 0.5) + 0.3 * height));
    c = mix(furrow, c, height);
    return scaled(c, 0.8 + 0.4 * grain);
}

// One leaf in its cell, s across (0..1) and t from stem (0) to tip (1), on a cell whose border
// stays transparent. Returns coverage (alpha) and puts the colour into out.
struct LeafStyle {
    Rgb base;
    double width = 0.34; // half-width of the blade at its widest, in cell units
    std::uint32_t salt = 0;
};

double leaf(double s, double t, double pixel, const LeafStyle &style, Rgb &out)
{
    const double margin = 0.06; // padding between leaf and cell border, in cell units
    const double tt = (t - margin) / (1.0 - 2.0 * margin);
    const double ss = (s - 0.5) / (1.0 - 2.0 * margin);
    const double px = pixel / (1.0 - 2.0 * margin);
    const double stalk = 0.12; // the stem before the blade
    const double bt = (tt - stalk) / (1.0 - stalk);
    // Blade half-width: round at the base, pointed at the tip; widest a third of the way up.
    double half = 0.0;
    if (bt > 0.0 && bt < 1.0)
        half = style.width * 2.6 * std::sqrt(bt) * (1.0 - bt);
    const double off = std::fabs(ss);
    double cover = clamp01((half - off) / px + 0.5);
    // The stem: a thin line from the cell's stem end up to the blade.
    if (tt > 0.0 && tt < stalk + 0.05)
        cover = std::max(cover, clamp01((0.012 - off) / px + 0.5));
    if (tt <= 0.0 || tt >= 1.0)
        cover = 0.0;

    const double mottle = fbm(s, t, 5, 5, 3, style.salt);
    Rgb c = scaled(style.base, 0.88 + 0.24 * mottle);
    // A lighter mid-rib and side veins running out toward the tip.
    const double rib = clamp01(1.0 - off / 0.012);
    const double vein_phase = fract((bt - 1.3 * off) / 0.11);
    const double vein = clamp01(1.0 - std::min(vein_phase, 1.0 - vein_phase) / 0.05) *
                        clamp01(1.0 - off / std::max(half, 1e-9));
    c = mix(c, scaled(style.base, 1.35), std::max(rib, 0.6 * vein));
    // Darker toward the rim.
    if (half > 0.0)
        c = scaled(c, 1.0 - 0.25 * smoothstep(0.6, 1.0, off / half));
    out = c;
    return cover;
}

// The style of the cell chosen by spin (column) and age (row): young leaves lighter and
// yellower, spin shifting hue and shape a little.
LeafStyle cell_style(int column, int row)
{
    static const Rgb by_age[3] = {{0.50, 0.68, 0.22}, {0.31, 0.52, 0.15}, {0.20, 0.40, 0.11}};
    static const double shift_red[3] = {0.05, 0.0, -0.03};
    static const double shift_blue[3] = {-0.02, 0.0, 0.04};
    static const double width[3] = {0.30, 0.36, 0.26};
    LeafStyle style;
    style.base = by_age[row];
    style.base.r += shift_red[column];
    style.base.b += shift_blue[column];
    style.width = width[column];
    style.salt = 100 + static_cast<std::uint32_t>(row * 3 + column);
    return style;
}

} // namespace

Image paint_bark(int size)
{
    Image image = blank(size, size, 3);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const double u = (x + 0.5) / image.width, v = (y + 0.5) / image.height;
            put(image, x, y, bark(u, v), 1.0);
        }
    return image;
}

Image paint_leaf_atlas(int size)
{
    Image image = blank(size, size, 4);
    const double pixel = 3.0 / image.width; // one pixel in cell units
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            // The map's v runs up from the bottom of the picture.
            const double u = (x + 0.5) / image.width, v = 1.0 - (y + 0.5) / image.height;
            const int column = std::min(static_cast<int>(u * 3.0), 2);
            const int row = std::min(static_cast<int>(v * 3.0), 2);
            const LeafStyle style = cell_style(column, row);
            Rgb c;
            const double alpha = leaf(u * 3.0 - column, v * 3.0 - row, pixel, style, c);
            // Transparent texels keep the leaf's colour, so filtering does not darken the rim.
            put(image, x, y, alpha > 0.0 ? c : style.base, alpha);
        }
    return image;
}

Image paint_leaf(int size)
{
    Image image = blank(size, size, 4);
    const LeafStyle style = cell_style(1, 1);
    const double pixel = 1.0 / image.width;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const double u = (x + 0.5) / image.width, v = 1.0 - (y + 0.5) / image.height;
            Rgb c;
            const double alpha = leaf(u, v, pixel, style, c);
            put(image, x, y, alpha > 0.0 ? c : style.base, alpha);
        }
    return image;
}

std::string encode_png(const Image &image)
{
    if (image.pixels.empty())
        return {};
    return host::encode_png(image.width, image.height, image.channels, image.pixels.data());
}

} // namespace exporter
