#include "export/materials/texture_paint.h"

#include <algorithm>
#include <cmath>

#include "common/index_cast.h"
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
        (ramulon::index_cast<std::size_t>(y) * ramulon::index_cast<std::size_t>(image.width) + ramulon::index_cast<std::size_t>(x)) *
        ramulon::index_cast<std::size_t>(image.channels);
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
    image.pixels.assign(ramulon::index_cast<std::size_t>(image.width) * ramulon::index_cast<std::size_t>(image.height) *
                            ramulon::index_cast<std::size_t>(channels),
                        0);
    return image;
}

// The two plates nearest a point of the bark: a cellular pattern over the unit square of
// cells_x by cells_y cells, one plate centre jittered inside each, repeating across both edges.
// Distances along the tube count a third of distances across, so the plates grow long and their
// borders run mostly along the tube.
struct Plates {
    double nearest = 1e9, second = 1e9;
    std::uint32_t id = 0;        // the nearest plate
    double across_border = 0.0;  // how much the two nearest plates lie side by side (1) rather
                                 // than one above the other (0)
};

Plates plates(double u, double v, long cells_x, long cells_y, std::uint32_t salt)
{
    const double x = u * static_cast<double>(cells_x), y = v * static_cast<double>(cells_y);
    const long cx = static_cast<long>(std::floor(x)), cy = static_cast<long>(std::floor(y));
    Plates out;
    double nearest_dx = 0.0, nearest_dy = 0.0, second_dx = 0.0, second_dy = 0.0;
    // Rows count a third as far, so plates three rows off may still be among the nearest two.
    for (long j = cy - 3; j <= cy + 3; ++j)
        for (long i = cx - 2; i <= cx + 2; ++i) {
            const auto wrap = [](long k, long n) { return static_cast<std::uint32_t>(((k % n) + n) % n); };
            const std::uint32_t wx = wrap(i, cells_x), wy = wrap(j, cells_y);
            const double px = static_cast<double>(i) + 0.15 + 0.7 * (hash(wx, wy, salt) / 4294967296.0);
            const double py = static_cast<double>(j) + 0.1 + 0.8 * (hash(wx, wy, salt + 1) / 4294967296.0);
            const double dx = (px - x) / static_cast<double>(cells_x);
            const double dy = (py - y) / static_cast<double>(cells_y) / 3.0;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d < out.nearest) {
                out.second = out.nearest;
                second_dx = nearest_dx;
                second_dy = nearest_dy;
                out.nearest = d;
                nearest_dx = dx;
                nearest_dy = dy;
                out.id = wx * 977u + wy;
            } else if (d < out.second) {
                out.second = d;
                second_dx = dx;
                second_dy = dy;
            }
        }
    const double bx = second_dx - nearest_dx, by = second_dy - nearest_dy;
    const double b = bx * bx + by * by;
    out.across_border = b > 0.0 ? bx * bx / b : 1.0;
    return out;
}

// Bark at (u, v) of the unit square, the way old bark grows: long plates standing side by side,
// split by deep furrows that wander, fork and join, and broken across by shallower cracks; fine
// fibres along the tube. Grey-brown weathered tops, each plate a tone of its own, red-brown
// furrow walls and dark furrow floors. The height (0 on a furrow floor, about 1 on a plate)
// drives the normal map.
struct BarkSample {
    Rgb colour;
    double height = 0.0;
};

BarkSample bark(double u, double v)
{
    // The plates, their borders bent by noise so that the furrows wander.
    const double bend_u = 0.035 * (fbm(u, v, 3, 4, 3, 11) - 0.5) + 0.014 * (fbm(u, v, 20, 28, 2, 13) - 0.5);
    const double bend_v = 0.05 * (fbm(u, v, 4, 3, 2, 15) - 0.5);
    const Plates p = plates(u + bend_u, v + bend_v, 16, 5, 19);
    // Width of the gap between the two nearest plates, in the square's units.
    const double gap = p.second - p.nearest;
    const double tone = hash(p.id, 3, 29) / 4294967296.0;
    // Furrows between plates side by side are deep and wide; cracks between plates one above the
    // other shallower and narrower.
    const double side = smoothstep(0.15, 0.75, p.across_border);
    const double wide = (0.011 + 0.02 * fbm(u, v, 10, 6, 2, 17)) * (0.15 + 0.85 * side);
    const double floor_depth = 0.65 * (1.0 - side); // a crack's floor is this far up
    double height = floor_depth + (1.0 - floor_depth) * smoothstep(0.0, wide, gap);
    // A plate's face: rounded off toward its rim, rough with fibres along the tube.
    const double fibres = fbm(u, v, 96, 8, 3, 41);
    const double grain = fbm(u, v, 40, 40, 2, 47);
    const double rim = smoothstep(wide, wide * 3.5, gap);
    const double scales = fbm(u, v, 26, 14, 3, 59);
    height *= (0.8 + 0.2 * rim) * (0.84 + 0.14 * fibres + 0.06 * grain + 0.12 * scales);

    const Rgb floor{0.045, 0.032, 0.024}, wall{0.24, 0.145, 0.09};
    const Rgb warm{0.31, 0.23, 0.165}, grey{0.37, 0.335, 0.29}, weathered{0.47, 0.46, 0.41};
    Rgb top = mix(warm, grey, clamp01(0.15 + 0.8 * tone + 0.6 * (fbm(u, v, 6, 8, 2, 43) - 0.5)));
    const double patch = smoothstep(0.56, 0.74, fbm(u, v, 5, 4, 3, 53));
    top = mix(top, weathered, 0.6 * patch);
    // Furrow walls show the redder inner bark; cracks across only darken the plate.
    Rgb c = mix(mix(scaled(top, 0.6), wall, side), top, smoothstep(0.5, 0.95, height));
    c = mix(floor, c, smoothstep(0.05, 0.5, height));
    return {scaled(c, 0.8 + 0.32 * fibres + 0.12 * (grain - 0.5)), clamp01(height)};
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

BarkImages paint_bark(int size)
{
    BarkImages out{blank(size, size, 3), blank(size, size, 3)};
    const int w = out.colour.width, h = out.colour.height;
    std::vector<double> height(ramulon::index_cast<std::size_t>(w) * ramulon::index_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = (x + 0.5) / w, v = (y + 0.5) / h;
            const BarkSample s = bark(u, v);
            put(out.colour, x, y, s.colour, 1.0);
            height[ramulon::index_cast<std::size_t>(y) * ramulon::index_cast<std::size_t>(w) + ramulon::index_cast<std::size_t>(x)] = s.height;
        }
    const auto index = [w, h](int x, int y) {
        return ramulon::index_cast<std::size_t>((y + h) % h) * ramulon::index_cast<std::size_t>(w) + ramulon::index_cast<std::size_t>((x + w) % w);
    };
    // Softened twice over three pixels, across the edges that wrap, so that where the plate
    // pattern switches from one neighbour to the next the relief has no seam of its own.
    std::vector<double> soft(height.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double sum = 0.0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        sum += height[index(x + dx, y + dy)];
                soft[index(x, y)] = sum / 9.0;
            }
        height.swap(soft);
    }
    // The relief: a full ridge stands this far out of its furrow, in picture widths (a ridge is
    // about a third as deep as it is wide).
    const double depth = 0.028;
    const auto at = [&](int x, int y) { return height[index(x, y)]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Slopes per picture width, across the edges that wrap; y runs down the picture
            // while the normal's y points up it.
            const double dx = (at(x + 1, y) - at(x - 1, y)) * 0.5 * w * depth;
            const double dy = (at(x, y + 1) - at(x, y - 1)) * 0.5 * h * depth;
            const double length = std::sqrt(dx * dx + dy * dy + 1.0);
            const Rgb n{-dx / length, dy / length, 1.0 / length};
            put(out.normal, x, y, {0.5 + 0.5 * n.r, 0.5 + 0.5 * n.g, 0.5 + 0.5 * n.b}, 1.0);
        }
    return out;
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

ramulon::Result<std::string> encode_png(const Image &image)
{
    if (image.pixels.empty())
        return ramulon::fail(ramulon::ErrorKind::invalid_input, "an image without pixels has no PNG");
    return host::encode_png(image.width, image.height, image.channels, image.pixels.data());
}

} // namespace exporter
