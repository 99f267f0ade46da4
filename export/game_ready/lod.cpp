#include "export/game_ready/lod.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

#include <meshoptimizer.h>

#include "export/mesh/vertex_order.h"

namespace exporter {
namespace {

// Pieces of a primitive: vertices joined by a triangle (or line) or by sharing a layer point.
struct Pieces {
    std::vector<int> of_vertex;      // piece of every vertex
    std::vector<int> lowest_point;   // per piece: its lowest layer point, the piece's own order
    int count = 0;
};

int find(std::vector<int> &parent, int v)
{
    while (parent[static_cast<std::size_t>(v)] != v) {
        int &p = parent[static_cast<std::size_t>(v)];
        p = parent[static_cast<std::size_t>(p)];
        v = p;
    }
    return v;
}

Pieces find_pieces(const PrimitiveArrays &prim)
{
    const std::size_t n = prim.vertex_count();
    std::vector<int> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    auto join = [&](int a, int b) {
        a = find(parent, a);
        b = find(parent, b);
        if (a != b)
            parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
    };
    std::vector<int> vertex_of_point;
    for (std::size_t v = 0; v < n; ++v) {
        const auto point = static_cast<std::size_t>(prim.vertex_point[v]);
        if (point >= vertex_of_point.size())
            vertex_of_point.resize(point + 1, -1);
        if (vertex_of_point[point] < 0)
            vertex_of_point[point] = static_cast<int>(v);
        else
            join(vertex_of_point[point], static_cast<int>(v));
    }
    const std::size_t corners = prim.triangles() ? 3 : prim.mode == 1 ? 2 : 1;
    for (std::size_t i = 0; i + corners <= prim.indices.size(); i += corners)
        for (std::size_t k = 1; k < corners; ++k)
            join(static_cast<int>(prim.indices[i]), static_cast<int>(prim.indices[i + k]));

    Pieces pieces;
    pieces.of_vertex.assign(n, -1);
    std::vector<int> piece_of_root(n, -1);
    for (std::size_t v = 0; v < n; ++v) {
        int &piece = piece_of_root[static_cast<std::size_t>(find(parent, static_cast<int>(v)))];
        if (piece < 0) {
            piece = pieces.count++;
            pieces.lowest_point.push_back(prim.vertex_point[v]);
        }
        pieces.of_vertex[v] = piece;
        int &lowest = pieces.lowest_point[static_cast<std::size_t>(piece)];
        lowest = std::min(lowest, prim.vertex_point[v]);
    }
    return pieces;
}

const float *position(const PrimitiveArrays &prim, std::uint32_t v)
{
    return &prim.streams.front().values[static_cast<std::size_t>(v) * 3];
}

double triangle_area(const PrimitiveArrays &prim, std::size_t first)
{
    const float *a = position(prim, prim.indices[first]);
    const float *b = position(prim, prim.indices[first + 1]);
    const float *c = position(prim, prim.indices[first + 2]);
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    const double x = u[1] * w[2] - u[2] * w[1], y = u[2] * w[0] - u[0] * w[2], z = u[0] * w[1] - u[1] * w[0];
    return 0.5 * std::sqrt(x * x + y * y + z * z);
}

// Keeps an even spread of the leaf cards, about fraction of them, each grown about its centre
// so that the kept cards cover the area all of them did.
void thin_leaves(PrimitiveArrays &prim, double fraction)
{
    const Pieces cards = find_pieces(prim);
    std::vector<int> order(static_cast<std::size_t>(cards.count));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return cards.lowest_point[static_cast<std::size_t>(a)] < cards.lowest_point[static_cast<std::size_t>(b)];
    });
    // Card i of the leaf order stays when the running count of kept cards steps up there.
    std::vector<char> keep(static_cast<std::size_t>(cards.count), 0);
    for (std::size_t i = 0; i < order.size(); ++i)
        keep[static_cast<std::size_t>(order[i])] =
            std::floor((double(i) + 1.0) * fraction) > std::floor(double(i) * fraction);

    double all_area = 0.0, kept_area = 0.0;
    std::vector<std::uint32_t> indices;
    for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
        const double area = triangle_area(prim, t);
        all_area += area;
        if (keep[static_cast<std::size_t>(cards.of_vertex[prim.indices[t]])]) {
            kept_area += area;
            indices.insert(indices.end(), prim.indices.begin() + static_cast<std::ptrdiff_t>(t),
                           prim.indices.begin() + static_cast<std::ptrdiff_t>(t + 3));
        }
    }
    prim.indices = std::move(indices);
    if (!(kept_area > 0.0))
        return;
    const double scale = std::sqrt(all_area / kept_area);

    // Centres: the mean of each card's vertices.
    std::vector<std::array<double, 4>> centre(static_cast<std::size_t>(cards.count), {0, 0, 0, 0});
    const std::vector<float> &xyz = prim.streams.front().values;
    for (std::size_t v = 0; v < prim.vertex_count(); ++v) {
        auto &c = centre[static_cast<std::size_t>(cards.of_vertex[v])];
        for (std::size_t k = 0; k < 3; ++k)
            c[k] += xyz[v * 3 + k];
        c[3] += 1.0;
    }
    std::vector<float> &out = prim.streams.front().values;
    for (std::size_t v = 0; v < prim.vertex_count(); ++v) {
        const auto &c = centre[static_cast<std::size_t>(cards.of_vertex[v])];
        for (std::size_t k = 0; k < 3; ++k) {
            const double middle = c[k] / c[3];
            out[v * 3 + k] = static_cast<float>(middle + (out[v * 3 + k] - middle) * scale);
        }
    }
}

// How far the simplifier may move the surface, relative to the primitive's size: coarser levels
// may stray further.
float simplify_error(double fraction) { return static_cast<float>(std::min(0.1, 0.004 / fraction)); }

struct WoodPiece {
    double size = 0.0; // the diagonal of its bounding box
    std::size_t prim = 0;
    int piece = 0;
    int lowest_point = 0;
    std::size_t triangles = 0;
};

// Runs the simplifier on a primitive's triangles towards goal triangles within error.
std::size_t simplify(PrimitiveArrays &prim, std::size_t goal, float error)
{
    std::vector<std::uint32_t> out(prim.indices.size());
    const std::size_t n = meshopt_simplify(out.data(), prim.indices.data(), prim.indices.size(),
                                           prim.streams.front().values.data(), prim.vertex_count(),
                                           3 * sizeof(float), goal * 3, error, 0, nullptr);
    out.resize(n);
    prim.indices = std::move(out);
    return prim.triangle_count();
}

// The pieces of wood of the level's wood primitives, finest first.
std::vector<WoodPiece> wood_pieces(const MeshArrays &level, const std::vector<std::size_t> &wood,
                                   std::vector<Pieces> &found)
{
    std::vector<WoodPiece> pieces;
    for (std::size_t p : wood) {
        const PrimitiveArrays &prim = level[p];
        found[p] = find_pieces(prim);
        const Pieces &of = found[p];
        std::vector<std::array<double, 6>> box(static_cast<std::size_t>(of.count),
                                               {1e300, 1e300, 1e300, -1e300, -1e300, -1e300});
        std::vector<std::size_t> triangles(static_cast<std::size_t>(of.count), 0);
        for (std::size_t i = 0; i < prim.indices.size(); ++i) {
            const std::uint32_t v = prim.indices[i];
            const auto piece = static_cast<std::size_t>(of.of_vertex[v]);
            const float *xyz = position(prim, v);
            for (std::size_t k = 0; k < 3; ++k) {
                box[piece][k] = std::min(box[piece][k], double(xyz[k]));
                box[piece][k + 3] = std::max(box[piece][k + 3], double(xyz[k]));
            }
            if (i % 3 == 0)
                ++triangles[piece];
        }
        for (int piece = 0; piece < of.count; ++piece) {
            const auto &b = box[static_cast<std::size_t>(piece)];
            if (triangles[static_cast<std::size_t>(piece)] == 0)
                continue;
            const double dx = b[3] - b[0], dy = b[4] - b[1], dz = b[5] - b[2];
            pieces.push_back({std::sqrt(dx * dx + dy * dy + dz * dz), p, piece,
                              of.lowest_point[static_cast<std::size_t>(piece)],
                              triangles[static_cast<std::size_t>(piece)]});
        }
    }
    std::sort(pieces.begin(), pieces.end(), [](const WoodPiece &a, const WoodPiece &b) {
        return std::tie(a.size, a.prim, a.lowest_point) < std::tie(b.size, b.prim, b.lowest_point);
    });
    return pieces;
}

// Simplifies the wood towards fraction of its triangles within the level's error; where the
// simplifier stops short (thin tubes have little to give), drops the finest pieces, twigs first,
// as long as that does not fall below the share; what is still over goes to the simplifier
// again with no bound on its error.
void simplify_wood(MeshArrays &level, const std::vector<std::size_t> &wood, double fraction)
{
    std::size_t wood_triangles = 0;
    for (std::size_t p : wood)
        wood_triangles += level[p].triangle_count();
    const auto target = static_cast<std::size_t>(std::llround(double(wood_triangles) * fraction));

    std::size_t total = 0;
    for (std::size_t p : wood) {
        PrimitiveArrays &prim = level[p];
        const auto goal = static_cast<std::size_t>(std::llround(double(prim.triangle_count()) * fraction));
        total += simplify(prim, goal, simplify_error(fraction));
    }
    if (total <= target)
        return;

    std::vector<Pieces> found(level.size());
    const std::vector<WoodPiece> pieces = wood_pieces(level, wood, found);
    std::vector<std::vector<char>> dropped(level.size());
    for (std::size_t p : wood)
        dropped[p].assign(static_cast<std::size_t>(found[p].count), 0);
    for (const WoodPiece &piece : pieces) {
        if (total <= target)
            break;
        if (total - piece.triangles < target)
            continue;
        dropped[piece.prim][static_cast<std::size_t>(piece.piece)] = 1;
        total -= piece.triangles;
    }
    std::size_t left = 0;
    for (std::size_t p : wood) {
        PrimitiveArrays &prim = level[p];
        std::vector<std::uint32_t> kept;
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3)
            if (!dropped[p][static_cast<std::size_t>(found[p].of_vertex[prim.indices[t]])])
                kept.insert(kept.end(), prim.indices.begin() + static_cast<std::ptrdiff_t>(t),
                            prim.indices.begin() + static_cast<std::ptrdiff_t>(t + 3));
        prim.indices = std::move(kept);
        left += prim.triangle_count();
    }
    if (left <= target)
        return;
    const double share = double(target) / double(left);
    for (std::size_t p : wood) {
        PrimitiveArrays &prim = level[p];
        simplify(prim, static_cast<std::size_t>(std::llround(double(prim.triangle_count()) * share)), 1.0f);
    }
}

} // namespace

double level_fraction(int level)
{
    static const double first[] = {1.0, 0.5, 0.2, 0.05};
    if (level < 4)
        return first[std::max(level, 0)];
    return level_fraction(level - 1) * 0.4;
}

MeshArrays make_level(const MeshArrays &lod0, const std::vector<MaterialLook> &looks, double fraction)
{
    MeshArrays level = lod0;
    std::vector<std::size_t> wood, leaves;
    for (std::size_t p = 0; p < level.size(); ++p) {
        PrimitiveArrays &prim = level[p];
        if (!prim.triangles() || prim.indices.empty())
            continue;
        const auto material = static_cast<std::size_t>(prim.material);
        (material < looks.size() && looks[material].leaf ? leaves : wood).push_back(p);
    }
    // Every kind of surface gives up its share: the leaves keep fraction of their cards and the
    // wood fraction of its triangles, so the level lands on fraction of the whole.
    for (std::size_t p : leaves)
        thin_leaves(level[p], fraction);
    simplify_wood(level, wood, fraction);
    for (PrimitiveArrays &prim : level)
        drop_unused_vertices(prim);
    // A primitive with nothing left is no primitive (glTF wants at least one index).
    level.erase(std::remove_if(level.begin(), level.end(),
                               [](const PrimitiveArrays &p) { return p.indices.empty(); }),
                level.end());
    return level;
}

} // namespace exporter
