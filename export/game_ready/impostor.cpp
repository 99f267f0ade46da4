#include "export/game_ready/impostor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/index_cast.h"
#include "export/cancel.h"
#include "export/game_ready/soft_raster.h"

#include "host/image.h"

namespace exporter {
namespace {

constexpr int columns = 4;
constexpr int rows = impostor_views / columns;

// Texture filtering near the tree's outline mixes in the colour of uncovered pixels; spreading
// the outline's colour outwards (alpha left at 0) keeps that edge from darkening.
void bleed_colour(Picture &atlas, int passes)
{
    const int w = atlas.width, h = atlas.height;
    for (int pass = 0; pass < passes; ++pass) {
        Picture next = atlas;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t *out = &next.rgba[(ramulon::index_cast<std::size_t>(y) * w + x) * 4];
                if (atlas.rgba[(ramulon::index_cast<std::size_t>(y) * w + x) * 4 + 3] != 0 || out[0] | out[1] | out[2])
                    continue;
                int sum[3] = {0, 0, 0}, n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const std::uint8_t *in = &atlas.rgba[(ramulon::index_cast<std::size_t>(ny) * w + nx) * 4];
                        if (!(in[0] | in[1] | in[2]))
                            continue;
                        for (int k = 0; k < 3; ++k)
                            sum[k] += in[k];
                        ++n;
                    }
                if (n > 0)
                    for (int k = 0; k < 3; ++k)
                        out[k] = static_cast<std::uint8_t>((sum[k] + n / 2) / n);
            }
        atlas = std::move(next);
    }
}

double view_angle(int view) { return 2.0 * std::numbers::pi * view / impostor_views; }

// Quad of one view: the frame's window standing on the plane through the axis that faces the
// viewer, showing that view's tile.
void add_quad(PrimitiveArrays &quads, const Frame &frame, int view)
{
    const double angle = view_angle(view);
    const double facing[3] = {std::sin(angle), 0.0, std::cos(angle)};
    const double right[3] = {std::cos(angle), 0.0, -std::sin(angle)};
    const double u0 = double(view % columns) / columns, v0 = double(view / columns) / rows;
    const double du = 1.0 / columns, dv = 1.0 / rows;
    // Left-bottom, right-bottom, right-top, left-top as the viewer sees them.
    const double across[4] = {-0.5, 0.5, 0.5, -0.5}, up[4] = {0.0, 0.0, 1.0, 1.0};
    const auto first = static_cast<std::uint32_t>(quads.vertex_count());
    for (int c = 0; c < 4; ++c) {
        const double a = across[c] * frame.side, h = frame.bottom + up[c] * frame.side;
        quads.streams[0].values.insert(quads.streams[0].values.end(),
                                       {static_cast<float>(frame.cx + right[0] * a), static_cast<float>(h),
                                        static_cast<float>(frame.cz + right[2] * a)});
        quads.streams[1].values.insert(quads.streams[1].values.end(),
                                       {static_cast<float>(facing[0]), 0.0f, static_cast<float>(facing[2])});
        quads.streams[2].values.insert(quads.streams[2].values.end(),
                                       {static_cast<float>(u0 + (across[c] + 0.5) * du),
                                        static_cast<float>(v0 + (1.0 - up[c]) * dv)});
        quads.vertex_point.push_back(static_cast<int>(first) + c);
    }
    quads.indices.insert(quads.indices.end(), {first, first + 1, first + 2, first, first + 2, first + 3});
}

} // namespace

ramulon::Result<Impostor> make_impostor(const MeshArrays &lod0, const std::vector<SurfaceLook> &looks)
{
    Impostor out;
    if (triangle_count(lod0) == 0)
        return ramulon::fail(ramulon::ErrorKind::invalid_input, "the tree has no surfaces to picture");
    const Frame frame = frame_of(lod0);
    Picture atlas;
    atlas.width = impostor_tile * columns;
    atlas.height = impostor_tile * rows;
    atlas.rgba.assign(ramulon::index_cast<std::size_t>(atlas.width) * atlas.height * 4, 0);
    out.quads.streams = {{"POSITION", 3, {}}, {"NORMAL", 3, {}}, {"TEXCOORD_0", 2, {}}};
    for (int view = 0; view < impostor_views; ++view) {
        stop_if_cancelled();
        const Picture tile =
            render_view(lod0, looks, frame, view_angle(view), impostor_tile, impostor_tile, impostor_samples);
        const int x0 = (view % columns) * impostor_tile, y0 = (view / columns) * impostor_tile;
        for (int y = 0; y < impostor_tile; ++y)
            std::copy_n(&tile.rgba[ramulon::index_cast<std::size_t>(y) * impostor_tile * 4], impostor_tile * 4,
                        &atlas.rgba[(ramulon::index_cast<std::size_t>(y0 + y) * atlas.width + x0) * 4]);
        add_quad(out.quads, frame, view);
    }
    bleed_colour(atlas, 3);
    out.width = atlas.width;
    out.height = atlas.height;
    auto png = host::encode_png(atlas.width, atlas.height, 4, atlas.rgba.data());
    if (!png)
        return ramulon::fail(ramulon::ErrorKind::internal, "the far card's picture could not be encoded");
    out.png = std::move(png).value();
    return out;
}

} // namespace exporter
