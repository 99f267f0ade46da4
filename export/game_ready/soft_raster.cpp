#include "export/game_ready/soft_raster.h"

#include <algorithm>
#include <cmath>

namespace exporter {
namespace {

struct Screen {
    double x, y, z;
};

// Light from above and in front, so that the lit and shaded sides of the crown read as volume.
constexpr double light[3] = {0.3713906763541037, 0.7427813527082074, 0.5570860145311556};

std::uint8_t to_byte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

} // namespace

Frame frame_of(const MeshArrays &mesh)
{
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (const PrimitiveArrays &prim : mesh) {
        if (!prim.triangles())
            continue;
        const std::vector<float> &xyz = prim.streams.front().values;
        for (std::size_t i = 0; i + 3 <= xyz.size(); i += 3)
            for (std::size_t k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], double(xyz[i + k]));
                high[k] = std::max(high[k], double(xyz[i + k]));
            }
    }
    Frame frame;
    if (low[0] > high[0])
        return frame;
    frame.cx = 0.5 * (low[0] + high[0]);
    frame.cz = 0.5 * (low[2] + high[2]);
    double radius = 0.0;
    for (const PrimitiveArrays &prim : mesh) {
        if (!prim.triangles())
            continue;
        const std::vector<float> &xyz = prim.streams.front().values;
        for (std::size_t i = 0; i + 3 <= xyz.size(); i += 3)
            radius = std::max(radius, std::hypot(xyz[i] - frame.cx, xyz[i + 2] - frame.cz));
    }
    const double side = std::max({2.0 * radius, high[1] - low[1], 1e-6}) * 1.04;
    frame.side = side;
    frame.bottom = low[1] - 0.02 * side;
    return frame;
}

Picture render_view(const MeshArrays &mesh, const std::vector<MaterialLook> &looks, const Frame &frame,
                    double angle, int width, int height)
{
    Picture out;
    out.width = width;
    out.height = height;
    out.rgba.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    std::vector<double> depth(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), -1e300);
    const double view[3] = {std::sin(angle), 0.0, std::cos(angle)}; // towards the viewer
    const double right[3] = {std::cos(angle), 0.0, -std::sin(angle)};

    auto project = [&](const float *p) {
        const double dx = p[0] - frame.cx, dz = p[2] - frame.cz;
        const double u = dx * right[0] + dz * right[2];
        return Screen{(u / frame.side + 0.5) * width, (1.0 - (p[1] - frame.bottom) / frame.side) * height,
                      dx * view[0] + dz * view[2]};
    };

    for (const PrimitiveArrays &prim : mesh) {
        if (!prim.triangles())
            continue;
        const auto material = static_cast<std::size_t>(prim.material);
        const MaterialLook look = material < looks.size() ? looks[material] : MaterialLook{{0.8, 0.8, 0.8}, false};
        const std::vector<float> &xyz = prim.streams.front().values;
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
            const float *p[3];
            Screen s[3];
            for (std::size_t k = 0; k < 3; ++k) {
                p[k] = &xyz[static_cast<std::size_t>(prim.indices[t + k]) * 3];
                s[k] = project(p[k]);
            }
            const double area = (s[1].x - s[0].x) * (s[2].y - s[0].y) - (s[2].x - s[0].x) * (s[1].y - s[0].y);
            if (area == 0.0)
                continue;

            // The face's normal, turned towards the viewer (leaves are seen from both sides).
            const double a[3] = {double(p[1][0]) - p[0][0], double(p[1][1]) - p[0][1], double(p[1][2]) - p[0][2]};
            const double b[3] = {double(p[2][0]) - p[0][0], double(p[2][1]) - p[0][1], double(p[2][2]) - p[0][2]};
            double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (length > 0.0)
                for (double &c : n)
                    c /= length;
            if (n[0] * view[0] + n[1] * view[1] + n[2] * view[2] < 0.0)
                for (double &c : n)
                    c = -c;
            const double lit = 0.45 + 0.55 * std::max(0.0, n[0] * light[0] + n[1] * light[1] + n[2] * light[2]);
            const std::uint8_t colour[4] = {to_byte(look.colour[0] * lit), to_byte(look.colour[1] * lit),
                                            to_byte(look.colour[2] * lit), 255};

            const int x0 = std::max(0, static_cast<int>(std::floor(std::min({s[0].x, s[1].x, s[2].x}))));
            const int x1 = std::min(width - 1, static_cast<int>(std::ceil(std::max({s[0].x, s[1].x, s[2].x}))));
            const int y0 = std::max(0, static_cast<int>(std::floor(std::min({s[0].y, s[1].y, s[2].y}))));
            const int y1 = std::min(height - 1, static_cast<int>(std::ceil(std::max({s[0].y, s[1].y, s[2].y}))));
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const double px = x + 0.5, py = y + 0.5;
                    // Barycentric weights; the pixel centre is inside when all share area's sign.
                    const double w0 = ((s[1].x - px) * (s[2].y - py) - (s[2].x - px) * (s[1].y - py)) / area;
                    const double w1 = ((s[2].x - px) * (s[0].y - py) - (s[0].x - px) * (s[2].y - py)) / area;
                    const double w2 = 1.0 - w0 - w1;
                    if (w0 < 0.0 || w1 < 0.0 || w2 < 0.0)
                        continue;
                    const double z = w0 * s[0].z + w1 * s[1].z + w2 * s[2].z;
                    const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                           static_cast<std::size_t>(x);
                    if (z <= depth[at])
                        continue;
                    depth[at] = z;
                    std::copy_n(colour, 4, &out.rgba[at * 4]);
                }
        }
    }
    return out;
}

double silhouette_difference(const Picture &a, const Picture &b)
{
    std::size_t either = 0, one = 0;
    const std::size_t n = std::min(a.rgba.size(), b.rgba.size()) / 4;
    for (std::size_t i = 0; i < n; ++i) {
        const bool in_a = a.rgba[i * 4 + 3] != 0, in_b = b.rgba[i * 4 + 3] != 0;
        either += in_a || in_b;
        one += in_a != in_b;
    }
    return either == 0 ? 0.0 : double(one) / double(either);
}

} // namespace exporter
