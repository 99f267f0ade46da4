#include "export/game_ready/soft_raster.h"
#include "common/index_cast.h"

#include <algorithm>
#include <cmath>

namespace exporter {
namespace {

struct Screen {
    double x, y, z;
};

float to_linear(std::uint8_t c)
{
    const double v = c / 255.0;
    return static_cast<float>(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
}

std::uint8_t to_srgb_byte(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    const double s = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    return static_cast<std::uint8_t>(std::lround(s * 255.0));
}

// The light of every view: a sky that lights every side a little, and a sun above the viewer's
// left shoulder, so that the lit and shaded sides of trunk and crown read as volume the way a
// viewer's default light shows LOD0. In view coordinates: right, up, towards the viewer.
constexpr double sky = 0.6, sun = 0.95;
constexpr double sun_from[3] = {-0.35, 0.6, 0.72};

void normalise(double v[3])
{
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (l > 0.0)
        for (int k = 0; k < 3; ++k)
            v[k] /= l;
}

} // namespace

SampledImage::SampledImage(int width, int height, const std::vector<std::uint8_t> &rgba)
{
    Level base;
    base.width = std::max(width, 1);
    base.height = std::max(height, 1);
    base.texels.assign(ramulon::index_cast<std::size_t>(base.width) * ramulon::index_cast<std::size_t>(base.height), {1, 1, 1, 1});
    if (rgba.size() >= base.texels.size() * 4)
        for (std::size_t i = 0; i < base.texels.size(); ++i)
            base.texels[i] = {to_linear(rgba[i * 4]), to_linear(rgba[i * 4 + 1]), to_linear(rgba[i * 4 + 2]),
                              static_cast<float>(rgba[i * 4 + 3] / 255.0)};
    levels_.push_back(std::move(base));
    // Each mipmap the mean of 2 x 2 texels of the one before.
    while (levels_.back().width > 1 || levels_.back().height > 1) {
        const Level &above = levels_.back();
        Level next;
        next.width = std::max(1, above.width / 2);
        next.height = std::max(1, above.height / 2);
        next.texels.resize(ramulon::index_cast<std::size_t>(next.width) * ramulon::index_cast<std::size_t>(next.height));
        for (int y = 0; y < next.height; ++y)
            for (int x = 0; x < next.width; ++x) {
                std::array<float, 4> sum{0, 0, 0, 0};
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const int sx = std::min(above.width - 1, x * 2 + dx);
                        const int sy = std::min(above.height - 1, y * 2 + dy);
                        const auto &t = above.texels[ramulon::index_cast<std::size_t>(sy) * ramulon::index_cast<std::size_t>(above.width) +
                                                     ramulon::index_cast<std::size_t>(sx)];
                        for (std::size_t k = 0; k < 4; ++k)
                            sum[k] += t[k];
                    }
                for (float &c : sum)
                    c *= 0.25f;
                next.texels[ramulon::index_cast<std::size_t>(y) * ramulon::index_cast<std::size_t>(next.width) +
                            ramulon::index_cast<std::size_t>(x)] = sum;
            }
        levels_.push_back(std::move(next));
    }
}

std::array<float, 4> SampledImage::bilinear(const Level &level, double u, double v, bool repeat) const
{
    const double x = u * level.width - 0.5, y = v * level.height - 0.5;
    const double fx = std::floor(x), fy = std::floor(y);
    const double tx = x - fx, ty = y - fy;
    auto at = [&](double cx, double cy) -> const std::array<float, 4> & {
        long ix = static_cast<long>(cx), iy = static_cast<long>(cy);
        if (repeat) {
            ix %= level.width;
            iy %= level.height;
            ix += ix < 0 ? level.width : 0;
            iy += iy < 0 ? level.height : 0;
        } else {
            ix = std::clamp(ix, 0L, static_cast<long>(level.width) - 1);
            iy = std::clamp(iy, 0L, static_cast<long>(level.height) - 1);
        }
        return level.texels[ramulon::index_cast<std::size_t>(iy) * ramulon::index_cast<std::size_t>(level.width) +
                            ramulon::index_cast<std::size_t>(ix)];
    };
    if (!std::isfinite(fx) || !std::isfinite(fy) || std::fabs(fx) > 1e9 || std::fabs(fy) > 1e9)
        return {0, 0, 0, 0};
    const auto &a = at(fx, fy), &b = at(fx + 1, fy), &c = at(fx, fy + 1), &d = at(fx + 1, fy + 1);
    std::array<float, 4> out{};
    for (std::size_t k = 0; k < 4; ++k)
        out[k] = static_cast<float>((a[k] * (1 - tx) + b[k] * tx) * (1 - ty) + (c[k] * (1 - tx) + d[k] * tx) * ty);
    return out;
}

std::array<float, 4> SampledImage::sample(double u, double v, double lod, bool repeat) const
{
    const double top = static_cast<double>(levels_.size() - 1);
    lod = std::clamp(std::isfinite(lod) ? lod : 0.0, 0.0, top);
    const auto first = static_cast<std::size_t>(lod);
    const double t = lod - static_cast<double>(first);
    std::array<float, 4> out = bilinear(levels_[first], u, v, repeat);
    if (t > 0.0 && first + 1 < levels_.size()) {
        const std::array<float, 4> next = bilinear(levels_[first + 1], u, v, repeat);
        for (std::size_t k = 0; k < 4; ++k)
            out[k] = static_cast<float>(out[k] * (1 - t) + next[k] * t);
    }
    return out;
}

std::vector<SurfaceLook> plain_looks(const std::vector<MaterialLook> &looks)
{
    std::vector<SurfaceLook> out;
    for (const MaterialLook &look : looks) {
        SurfaceLook plain;
        plain.colour = look.colour;
        out.push_back(plain);
    }
    return out;
}

Frame frame_of(const MeshArrays &mesh)
{
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (const PrimitiveArrays &prim : mesh) {
        if (!prim.triangles())
            continue;
        const StreamValues &xyz = prim.streams.front().values;
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
        const StreamValues &xyz = prim.streams.front().values;
        for (std::size_t i = 0; i + 3 <= xyz.size(); i += 3)
            radius = std::max(radius, std::hypot(xyz[i] - frame.cx, xyz[i + 2] - frame.cz));
    }
    const double side = std::max({2.0 * radius, high[1] - low[1], 1e-6}) * 1.04;
    frame.side = side;
    frame.bottom = low[1] - 0.02 * side;
    return frame;
}

Picture render_view(const MeshArrays &mesh, const std::vector<SurfaceLook> &looks, const Frame &frame,
                    double angle, int width, int height, int samples)
{
    samples = std::max(samples, 1);
    const int w = width * samples, h = height * samples;
    const std::size_t count = ramulon::index_cast<std::size_t>(w) * ramulon::index_cast<std::size_t>(h);
    std::vector<double> depth(count, -1e300);
    std::vector<std::array<float, 3>> colour(count, {0, 0, 0});
    std::vector<char> covered(count, 0);
    const double view[3] = {std::sin(angle), 0.0, std::cos(angle)}; // towards the viewer
    const double right[3] = {std::cos(angle), 0.0, -std::sin(angle)};
    double light[3];
    for (int k = 0; k < 3; ++k)
        light[k] = sun_from[0] * right[k] + sun_from[1] * (k == 1 ? 1.0 : 0.0) + sun_from[2] * view[k];
    normalise(light);

    auto project = [&](const float *p) {
        const double dx = p[0] - frame.cx, dz = p[2] - frame.cz;
        const double u = dx * right[0] + dz * right[2];
        return Screen{(u / frame.side + 0.5) * w, (1.0 - (p[1] - frame.bottom) / frame.side) * h,
                      dx * view[0] + dz * view[2]};
    };
    const SurfaceLook fallback;

    for (const PrimitiveArrays &prim : mesh) {
        if (!prim.triangles())
            continue;
        const auto material = ramulon::index_cast<std::size_t>(prim.material);
        const SurfaceLook &look = material < looks.size() ? looks[material] : fallback;
        const StreamValues &xyz = prim.streams.front().values;
        const VertexStream *normals = prim.stream("NORMAL");
        const VertexStream *uvs = look.image ? prim.stream(look.texcoord) : nullptr;
        const SampledImage *image = uvs ? look.image.get() : nullptr;
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
            std::uint32_t v[3];
            Screen s[3];
            for (std::size_t k = 0; k < 3; ++k) {
                v[k] = prim.indices[t + k];
                s[k] = project(&xyz[ramulon::index_cast<std::size_t>(v[k]) * 3]);
            }
            const double area = (s[1].x - s[0].x) * (s[2].y - s[0].y) - (s[2].x - s[0].x) * (s[1].y - s[0].y);
            if (area == 0.0 || !std::isfinite(area))
                continue;

            // The face's normal stands in where the mesh has no corner normals.
            double n[3][3];
            {
                const float *p0 = &xyz[ramulon::index_cast<std::size_t>(v[0]) * 3], *p1 = &xyz[ramulon::index_cast<std::size_t>(v[1]) * 3],
                            *p2 = &xyz[ramulon::index_cast<std::size_t>(v[2]) * 3];
                const double a[3] = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
                const double b[3] = {double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2]};
                double face[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
                normalise(face);
                for (std::size_t k = 0; k < 3; ++k)
                    for (std::size_t c = 0; c < 3; ++c)
                        n[k][c] = normals ? normals->values[ramulon::index_cast<std::size_t>(v[k]) * 3 + c] : face[c];
            }
            double uv[3][2] = {};
            double lod = 0.0;
            if (image) {
                for (std::size_t k = 0; k < 3; ++k)
                    for (std::size_t c = 0; c < 2; ++c)
                        uv[k][c] = uvs->values[ramulon::index_cast<std::size_t>(v[k]) * 2 + c] * look.scale[c];
                // The mipmap whose texels are about the size of a picture's pixel here.
                const double texels = std::fabs((uv[1][0] - uv[0][0]) * (uv[2][1] - uv[0][1]) -
                                                (uv[2][0] - uv[0][0]) * (uv[1][1] - uv[0][1])) *
                                      image->width() * image->height();
                const double pixels = std::fabs(area) / (double(samples) * samples);
                lod = texels > 0.0 ? 0.5 * std::log2(texels / pixels) : 0.0;
            }

            const int x0 = std::max(0, static_cast<int>(std::floor(std::min({s[0].x, s[1].x, s[2].x}))));
            const int x1 = std::min(w - 1, static_cast<int>(std::ceil(std::max({s[0].x, s[1].x, s[2].x}))));
            const int y0 = std::max(0, static_cast<int>(std::floor(std::min({s[0].y, s[1].y, s[2].y}))));
            const int y1 = std::min(h - 1, static_cast<int>(std::ceil(std::max({s[0].y, s[1].y, s[2].y}))));
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const double px = x + 0.5, py = y + 0.5;
                    // Barycentric weights; the sample is inside when all share area's sign.
                    const double w0 = ((s[1].x - px) * (s[2].y - py) - (s[2].x - px) * (s[1].y - py)) / area;
                    const double w1 = ((s[2].x - px) * (s[0].y - py) - (s[0].x - px) * (s[2].y - py)) / area;
                    const double w2 = 1.0 - w0 - w1;
                    if (w0 < 0.0 || w1 < 0.0 || w2 < 0.0)
                        continue;
                    const double z = w0 * s[0].z + w1 * s[1].z + w2 * s[2].z;
                    const std::size_t at = ramulon::index_cast<std::size_t>(y) * ramulon::index_cast<std::size_t>(w) +
                                           ramulon::index_cast<std::size_t>(x);
                    if (z <= depth[at])
                        continue;
                    std::array<float, 4> texel{1, 1, 1, 1};
                    if (image) {
                        texel = image->sample(w0 * uv[0][0] + w1 * uv[1][0] + w2 * uv[2][0],
                                              w0 * uv[0][1] + w1 * uv[1][1] + w2 * uv[2][1], lod, look.repeat);
                        // A leaf is cut out by the image itself: its mipmaps' alpha, averaged
                        // with the clear border around it, would cut away every leaf far off.
                        if (look.alpha_cutoff >= 0.0 &&
                            image->sample(w0 * uv[0][0] + w1 * uv[1][0] + w2 * uv[2][0],
                                          w0 * uv[0][1] + w1 * uv[1][1] + w2 * uv[2][1], 0.0, look.repeat)[3] <
                                look.alpha_cutoff)
                            continue;
                    }
                    // Seen from behind (a leaf's back), a surface shows its normal turned to the
                    // viewer, as double-sided materials do.
                    double normal[3];
                    for (std::size_t c = 0; c < 3; ++c)
                        normal[c] = w0 * n[0][c] + w1 * n[1][c] + w2 * n[2][c];
                    normalise(normal);
                    if (normal[0] * view[0] + normal[1] * view[1] + normal[2] * view[2] < 0.0)
                        for (double &c : normal)
                            c = -c;
                    const double lit =
                        sky + sun * std::max(0.0, normal[0] * light[0] + normal[1] * light[1] + normal[2] * light[2]);
                    depth[at] = z;
                    covered[at] = 1;
                    for (std::size_t c = 0; c < 3; ++c)
                        colour[at][c] = static_cast<float>(look.colour[c] * texel[c] * lit);
                }
        }
    }

    Picture out;
    out.width = width;
    out.height = height;
    out.rgba.assign(ramulon::index_cast<std::size_t>(width) * ramulon::index_cast<std::size_t>(height) * 4, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double sum[3] = {0, 0, 0};
            int n = 0;
            for (int sy = 0; sy < samples; ++sy)
                for (int sx = 0; sx < samples; ++sx) {
                    const std::size_t at = ramulon::index_cast<std::size_t>(y * samples + sy) * ramulon::index_cast<std::size_t>(w) +
                                           ramulon::index_cast<std::size_t>(x * samples + sx);
                    if (!covered[at])
                        continue;
                    for (std::size_t c = 0; c < 3; ++c)
                        sum[c] += colour[at][c];
                    ++n;
                }
            if (n == 0)
                continue;
            std::uint8_t *pixel = &out.rgba[(ramulon::index_cast<std::size_t>(y) * ramulon::index_cast<std::size_t>(width) +
                                             ramulon::index_cast<std::size_t>(x)) * 4];
            for (std::size_t c = 0; c < 3; ++c)
                pixel[c] = to_srgb_byte(sum[c] / n);
            pixel[3] = static_cast<std::uint8_t>(std::lround(255.0 * n / (samples * samples)));
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
