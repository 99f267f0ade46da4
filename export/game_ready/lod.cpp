#include "export/game_ready/lod.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <functional>
#include <limits>
#include <tuple>

#include <meshoptimizer.h>

#include "common/index_cast.h"
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
    while (parent[ramulon::index_cast<std::size_t>(v)] != v) {
        int &p = parent[ramulon::index_cast<std::size_t>(v)];
        p = parent[ramulon::index_cast<std::size_t>(p)];
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
            parent[ramulon::index_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
    };
    std::vector<int> vertex_of_point;
    for (std::size_t v = 0; v < n; ++v) {
        const auto point = ramulon::index_cast<std::size_t>(prim.vertex_point[v]);
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
        int &piece = piece_of_root[ramulon::index_cast<std::size_t>(find(parent, static_cast<int>(v)))];
        if (piece < 0) {
            piece = pieces.count++;
            pieces.lowest_point.push_back(prim.vertex_point[v]);
        }
        pieces.of_vertex[v] = piece;
        int &lowest = pieces.lowest_point[ramulon::index_cast<std::size_t>(piece)];
        lowest = std::min(lowest, prim.vertex_point[v]);
    }
    return pieces;
}

const float *position(const PrimitiveArrays &prim, std::uint32_t v)
{
    return &prim.streams.front().values[ramulon::index_cast<std::size_t>(v) * 3];
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
    std::vector<int> order(ramulon::index_cast<std::size_t>(cards.count));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return cards.lowest_point[ramulon::index_cast<std::size_t>(a)] < cards.lowest_point[ramulon::index_cast<std::size_t>(b)];
    });
    // Card i of the leaf order stays when the running count of kept cards steps up there.
    std::vector<char> keep(ramulon::index_cast<std::size_t>(cards.count), 0);
    for (std::size_t i = 0; i < order.size(); ++i)
        keep[ramulon::index_cast<std::size_t>(order[i])] =
            std::floor((double(i) + 1.0) * fraction) > std::floor(double(i) * fraction);

    double all_area = 0.0, kept_area = 0.0;
    std::vector<std::uint32_t> indices;
    for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
        const double area = triangle_area(prim, t);
        all_area += area;
        if (keep[ramulon::index_cast<std::size_t>(cards.of_vertex[prim.indices[t]])]) {
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
    std::vector<std::array<double, 4>> centre(ramulon::index_cast<std::size_t>(cards.count), {0, 0, 0, 0});
    const StreamValues &xyz = prim.streams.front().values;
    for (std::size_t v = 0; v < prim.vertex_count(); ++v) {
        auto &c = centre[ramulon::index_cast<std::size_t>(cards.of_vertex[v])];
        for (std::size_t k = 0; k < 3; ++k)
            c[k] += xyz[v * 3 + k];
        c[3] += 1.0;
    }
    StreamValues &out = prim.streams.front().values;
    for (std::size_t v = 0; v < prim.vertex_count(); ++v) {
        const auto &c = centre[ramulon::index_cast<std::size_t>(cards.of_vertex[v])];
        for (std::size_t k = 0; k < 3; ++k) {
            const double middle = c[k] / c[3];
            out[v * 3 + k] = static_cast<float>(middle + (out[v * 3 + k] - middle) * scale);
        }
    }
}

// How far the simplifier may move the surface, relative to the size of the wood: coarser levels
// may stray further. At LOD1 it is less than a twig is thick, so that the simplifier takes the
// straight runs of the tubes and leaves their outline.
float simplify_error(double fraction) { return static_cast<float>(std::min(0.1, 0.0005 / fraction)); }
// The trunk's and the roots' at most: a level's tree stands where LOD0 stands.
constexpr float trunk_error = 0.002f;

double dot3(const double *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// A triangle's unit normal; false for one without area.
bool face_normal(const PrimitiveArrays &prim, std::size_t first, double n[3])
{
    const float *a = position(prim, prim.indices[first]);
    const float *b = position(prim, prim.indices[first + 1]);
    const float *c = position(prim, prim.indices[first + 2]);
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    n[0] = u[1] * w[2] - u[2] * w[1];
    n[1] = u[2] * w[0] - u[0] * w[2];
    n[2] = u[0] * w[1] - u[1] * w[0];
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    for (int k = 0; k < 3; ++k)
        n[k] /= length;
    return true;
}

// The simplifier of a primitive whose vertices of one point differ only in their normals, where
// faces meet at a crease, or in their texture coordinates, where a tube's texture wraps around:
// a square tube's every corner carries one normal per side, its seam two sets of coordinates,
// and the simplifier would keep every such vertex where it is (or, let loose, open cracks along
// the seam). To the simplifier they are one vertex; afterwards every corner takes, of the
// vertices LOD0 gave its point, the one whose normal is closest to the facing of the triangle it
// now belongs to and, of those, whose texture coordinates lie nearest the other corners'.
class WeldedWood {
public:
    explicit WeldedWood(PrimitiveArrays &prim) : prim_(prim)
    {
        const std::size_t n = prim.vertex_count();
        std::vector<meshopt_Stream> streams;
        for (const VertexStream &s : prim.streams)
            if (s.attribute != "NORMAL" && !is_texture(s))
                streams.push_back({s.values.data(), s.dim * sizeof(float), s.dim * sizeof(float)});
        // Every vertex once, as the "triangles" the index generator takes (whole ones only).
        std::vector<std::uint32_t> every((n + 2) / 3 * 3, 0u);
        std::iota(every.begin(), every.begin() + static_cast<std::ptrdiff_t>(n), 0u);
        welded_.resize(every.size());
        meshopt_generateShadowIndexBufferMulti(welded_.data(), every.data(), every.size(), n, streams.data(),
                                               streams.size());
        welded_.resize(n);
        // The vertices of every welded vertex, listed together.
        first_.assign(n + 1, 0);
        for (std::uint32_t w : welded_)
            ++first_[w + 1];
        for (std::size_t v = 0; v < n; ++v)
            first_[v + 1] += first_[v];
        members_.resize(n);
        std::vector<std::uint32_t> fill(first_.begin(), first_.end() - 1);
        for (std::uint32_t v = 0; v < n; ++v)
            members_[fill[welded_[v]]++] = v;
    }

    // The vertex a vertex is welded into.
    std::uint32_t welded(std::uint32_t v) const { return welded_[v]; }
    const PrimitiveArrays &prim() const { return prim_; }

    // Takes the simplified triangles over welded vertices; every corner picks its vertex.
    void take(std::vector<std::uint32_t> indices)
    {
        prim_.indices = std::move(indices);
        pick_corners();
    }

private:
    static bool is_texture(const VertexStream &s) { return s.attribute.starts_with("TEXCOORD_"); }

    void pick_corners()
    {
        const VertexStream *normal = prim_.stream("NORMAL");
        std::vector<const VertexStream *> textures;
        for (const VertexStream &s : prim_.streams)
            if (is_texture(s))
                textures.push_back(&s);
        const auto facing = [&](std::uint32_t v, const double face[3]) {
            return normal ? dot3(face, &normal->values[std::size_t(v) * 3]) : 1.0;
        };
        // How far a vertex's texture coordinates lie from another's.
        const auto apart = [&](std::uint32_t a, std::uint32_t b) {
            double d = 0.0;
            for (const VertexStream *s : textures)
                for (std::size_t k = 0; k < ramulon::index_cast<std::size_t>(s->dim); ++k)
                    d += std::fabs(double(s->values[a * std::size_t(s->dim) + k]) - s->values[b * std::size_t(s->dim) + k]);
            return d;
        };
        for (std::size_t t = 0; t + 3 <= prim_.indices.size(); t += 3) {
            double face[3];
            if (!face_normal(prim_, t, face))
                continue;
            std::uint32_t chosen[3], welded[3];
            double best[3];
            for (std::size_t k = 0; k < 3; ++k) {
                welded[k] = prim_.indices[t + k];
                chosen[k] = members_[first_[welded[k]]];
                best[k] = facing(chosen[k], face);
                for (std::uint32_t m = first_[welded[k]]; m < first_[welded[k] + 1]; ++m)
                    if (facing(members_[m], face) > best[k]) {
                        best[k] = facing(members_[m], face);
                        chosen[k] = members_[m];
                    }
            }
            // Of the vertices facing as well as the best, the one whose coordinates lie nearest the
            // other corners': the side of a texture seam the triangle lies on.
            for (int pass = 0; pass < 2 && !textures.empty(); ++pass)
                for (std::size_t k = 0; k < 3; ++k) {
                    double nearest = 1e300;
                    for (std::uint32_t m = first_[welded[k]]; m < first_[welded[k] + 1]; ++m) {
                        const std::uint32_t v = members_[m];
                        if (facing(v, face) < best[k] - 1e-6)
                            continue;
                        const double d = apart(v, chosen[(k + 1) % 3]) + apart(v, chosen[(k + 2) % 3]);
                        if (d < nearest) {
                            nearest = d;
                            chosen[k] = v;
                        }
                    }
                }
            for (std::size_t k = 0; k < 3; ++k)
                // None of LOD0's normals faces the triangle's way (a crease folded flat, a
                // tube's end closed over): the corner takes the triangle's own.
                prim_.indices[t + k] = normal && best[k] <= normal_margin ? face_normal_vertex(chosen[k], face) : chosen[k];
        }
    }

    std::uint32_t face_normal_vertex(std::uint32_t v, const double face[3])
    {
        const auto added = static_cast<std::uint32_t>(prim_.vertex_count());
        for (VertexStream &s : prim_.streams) {
            const std::size_t dim = ramulon::index_cast<std::size_t>(s.dim);
            for (std::size_t k = 0; k < dim; ++k)
                s.values.push_back(s.attribute == "NORMAL" ? static_cast<float>(face[k]) : s.values[v * dim + k]);
        }
        prim_.vertex_point.push_back(prim_.vertex_point[v]);
        return added;
    }

    // The normals are written as floats: one that leans back this little or less still counts
    // as leaning away.
    static constexpr double normal_margin = 1e-2;

    PrimitiveArrays &prim_;
    std::vector<std::uint32_t> welded_;  // per vertex, the first vertex of its point alike in all else
    std::vector<std::uint32_t> first_;   // per welded vertex, where its vertices start in members_
    std::vector<std::uint32_t> members_;
};

// Per layer point, the mean of the normals its vertices carry in the given primitives, made unit
// length ((0, 0, 0) where they cancel or there are none): outwards from the tube at that point.
std::vector<std::array<double, 3>> point_normals(const MeshArrays &mesh, const std::vector<std::size_t> &prims)
{
    std::vector<std::array<double, 3>> normal;
    for (std::size_t p : prims) {
        const PrimitiveArrays &prim = mesh[p];
        const VertexStream *n = prim.stream("NORMAL");
        for (std::size_t v = 0; v < prim.vertex_count(); ++v) {
            const auto point = ramulon::index_cast<std::size_t>(prim.vertex_point[v]);
            if (point >= normal.size())
                normal.resize(point + 1, {0.0, 0.0, 0.0});
            for (std::size_t k = 0; k < 3 && n; ++k)
                normal[point][k] += n->values[v * 3 + k];
        }
    }
    for (std::array<double, 3> &n : normal) {
        const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double &c : n)
            c = l > 1e-9 ? c / l : 0.0;
    }
    return normal;
}

// Simplifies wood primitives together towards goal triangles within error, so that the
// collapses that change the tree least go first wherever they are; lock_border keeps the
// edges where they meet wood simplified apart in place, so that the two stay joined. The
// simplifier reads every vertex it is given, and one left over at the place of a welded one
// would count as a seam there and hold it: it sees the welded vertices alone. It measures its
// error on the wood's surface, where flattening a twig as thin as the error costs less than
// straightening a bend, so it is shown every tube swollen outwards by the error (along the
// mean normal of each point, the same for every surface that shares it): closing a tube across
// then costs more than the error allows. A collapse joins two corners of one triangle, so each
// primitive keeps its own vertices. Returns the triangles left.
std::size_t simplify_together(MeshArrays &level, const std::vector<std::size_t> &wood, std::size_t goal, float error,
                              bool lock_border)
{
    std::vector<WeldedWood> welded;
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (std::size_t p : wood) {
        welded.emplace_back(level[p]);
        const StreamValues &xyz = level[p].streams.front().values;
        for (std::size_t i = 0; i + 3 <= xyz.size(); i += 3)
            for (std::size_t k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], double(xyz[i + k]));
                high[k] = std::max(high[k], double(xyz[i + k]));
            }
    }
    const std::vector<std::array<double, 3>> outward = point_normals(level, wood);
    const double inflate = double(error) * std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2], 0.0});
    std::vector<std::pair<std::uint32_t, std::uint32_t>> owner; // per vertex given: (primitive, vertex)
    std::vector<float> positions;
    std::vector<std::uint32_t> in;
    for (std::uint32_t k = 0; k < welded.size(); ++k) {
        const PrimitiveArrays &prim = welded[k].prim();
        std::vector<std::uint32_t> given(prim.vertex_count(), ~0u);
        for (const std::uint32_t index : prim.indices) {
            const std::uint32_t w = welded[k].welded(index);
            if (given[w] == ~0u) {
                given[w] = static_cast<std::uint32_t>(owner.size());
                owner.emplace_back(k, w);
                const float *xyz = position(prim, w);
                const std::array<double, 3> &n = outward[ramulon::index_cast<std::size_t>(prim.vertex_point[w])];
                for (std::size_t c = 0; c < 3; ++c)
                    positions.push_back(static_cast<float>(xyz[c] + inflate * n[c]));
            }
            in.push_back(given[w]);
        }
    }
    std::vector<std::uint32_t> out(in.size());
    out.resize(meshopt_simplify(out.data(), in.data(), in.size(), positions.data(), owner.size(), 3 * sizeof(float),
                                goal * 3, error, lock_border ? meshopt_SimplifyLockBorder : 0, nullptr));
    std::vector<std::vector<std::uint32_t>> kept(welded.size());
    for (std::size_t t = 0; t + 3 <= out.size(); t += 3)
        for (std::size_t c = 0; c < 3; ++c) {
            const auto &[k, v] = owner[out[t + c]];
            kept[k].push_back(v);
        }
    std::size_t left = 0;
    for (std::size_t k = 0; k < welded.size(); ++k) {
        welded[k].take(std::move(kept[k]));
        left += welded[k].prim().triangle_count();
    }
    return left;
}

// How thick the wood is at every layer point: the radius of its tube there, from how fast the
// surface turns around the point. An edge around a tube turns the surface's normal by its length
// over the radius; one along a straight tube hardly turns it at all and says nothing.
std::vector<float> tube_radii(const MeshArrays &mesh, const std::vector<std::size_t> &wood)
{
    const std::vector<std::array<double, 3>> normal = point_normals(mesh, wood);
    // Turns below this many radians are the bends of a tube, not its roundness.
    constexpr double least_turn = 0.3;
    std::vector<float> radius(normal.size(), std::numeric_limits<float>::infinity());
    for (std::size_t p : wood) {
        const PrimitiveArrays &prim = mesh[p];
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3)
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t a = prim.indices[t + k], b = prim.indices[t + (k + 1) % 3];
                const auto pa = ramulon::index_cast<std::size_t>(prim.vertex_point[a]);
                const auto pb = ramulon::index_cast<std::size_t>(prim.vertex_point[b]);
                const double cosine = normal[pa][0] * normal[pb][0] + normal[pa][1] * normal[pb][1] +
                                      normal[pa][2] * normal[pb][2];
                const double turn = std::acos(std::clamp(cosine, -1.0, 1.0));
                if (turn < least_turn)
                    continue;
                const float *xa = position(prim, a), *xb = position(prim, b);
                const double length = std::sqrt(std::pow(double(xa[0]) - xb[0], 2) + std::pow(double(xa[1]) - xb[1], 2) +
                                                std::pow(double(xa[2]) - xb[2], 2));
                const auto r = static_cast<float>(length / turn);
                radius[pa] = std::min(radius[pa], r);
                radius[pb] = std::min(radius[pb], r);
            }
    }
    return radius;
}

// Gives up the thinnest wood until at most allowed triangles are left: every triangle whose
// corners are all thinner than a cut, and whatever the cut leaves standing apart from the trunk
// and the roots, so that nothing kept hangs in the air; the cut as low as allowed lets it be.
// Twigs go before branches and branches before limbs, all around the tree alike; the trunk and
// the roots (holding) are never given up.
void prune_wood(MeshArrays &level, const std::vector<std::size_t> &held, const std::vector<std::size_t> &holding,
                const std::vector<float> &radius, std::size_t allowed)
{
    std::size_t total = 0, fixed = 0;
    for (std::size_t p : held)
        total += level[p].triangle_count();
    for (std::size_t p : holding)
        fixed += level[p].triangle_count();
    if (total + fixed <= allowed)
        return;
    const std::size_t budget = allowed > fixed ? allowed - fixed : 0;

    // Every triangle of the held wood by its thickness, the most a corner has.
    struct Triangle {
        std::size_t prim, first;
        float thickness;
    };
    std::vector<Triangle> triangles;
    int points = 0;
    for (std::size_t p : held)
        for (std::size_t t = 0; t + 3 <= level[p].indices.size(); t += 3) {
            float r = 0.0f;
            for (std::size_t k = 0; k < 3; ++k) {
                const auto point = ramulon::index_cast<std::size_t>(level[p].vertex_point[level[p].indices[t + k]]);
                r = std::max(r, point < radius.size() ? radius[point] : std::numeric_limits<float>::infinity());
            }
            triangles.push_back({p, t, r});
        }
    for (const PrimitiveArrays &prim : level)
        for (const int point : prim.vertex_point)
            points = std::max(points, point + 1);
    std::vector<float> cuts;
    for (const Triangle &t : triangles)
        cuts.push_back(t.thickness);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    // Which triangles a cut keeps: thicker than it and joined to the trunk and the roots by kept
    // triangles (through shared points, across surfaces); without a trunk, to the lowest point.
    std::vector<int> parent(ramulon::index_cast<std::size_t>(points));
    const auto root = [&](int p) {
        while (parent[ramulon::index_cast<std::size_t>(p)] != p)
            p = parent[ramulon::index_cast<std::size_t>(p)] = parent[ramulon::index_cast<std::size_t>(parent[ramulon::index_cast<std::size_t>(p)])];
        return p;
    };
    const auto join = [&](const PrimitiveArrays &prim, std::size_t t) {
        const int a = root(prim.vertex_point[prim.indices[t]]);
        parent[ramulon::index_cast<std::size_t>(root(prim.vertex_point[prim.indices[t + 1]]))] = a;
        parent[ramulon::index_cast<std::size_t>(root(prim.vertex_point[prim.indices[t + 2]]))] = root(a);
    };
    std::vector<char> keep(triangles.size());
    const auto keep_above = [&](float cut) {
        std::iota(parent.begin(), parent.end(), 0);
        for (std::size_t p : holding)
            for (std::size_t t = 0; t + 3 <= level[p].indices.size(); t += 3)
                join(level[p], t);
        int lowest = -1;
        float height = std::numeric_limits<float>::infinity();
        for (const Triangle &t : triangles)
            if (t.thickness > cut) {
                join(level[t.prim], t.first);
                const std::uint32_t v = level[t.prim].indices[t.first];
                if (position(level[t.prim], v)[1] < height) {
                    height = position(level[t.prim], v)[1];
                    lowest = level[t.prim].vertex_point[v];
                }
            }
        std::vector<char> standing(parent.size(), 0);
        for (std::size_t p : holding)
            for (const std::uint32_t v : level[p].indices)
                standing[ramulon::index_cast<std::size_t>(root(level[p].vertex_point[v]))] = 1;
        if (holding.empty() && lowest >= 0)
            standing[ramulon::index_cast<std::size_t>(root(lowest))] = 1;
        std::size_t count = 0;
        for (std::size_t i = 0; i < triangles.size(); ++i) {
            const Triangle &t = triangles[i];
            keep[i] = t.thickness > cut &&
                      standing[ramulon::index_cast<std::size_t>(root(level[t.prim].vertex_point[level[t.prim].indices[t.first]]))];
            count += keep[i];
        }
        return count;
    };
    // The lowest cut that keeps no more than the budget: raising a cut only ever keeps less.
    std::size_t low = 0, high = cuts.size(); // cuts[high - 1] keeps nothing
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (keep_above(cuts[middle]) <= budget)
            high = middle;
        else
            low = middle + 1;
    }
    keep_above(low < cuts.size() ? cuts[low] : std::numeric_limits<float>::infinity());

    std::vector<std::vector<std::uint32_t>> indices(level.size());
    for (std::size_t i = 0; i < triangles.size(); ++i)
        if (keep[i]) {
            const PrimitiveArrays &prim = level[triangles[i].prim];
            indices[triangles[i].prim].insert(indices[triangles[i].prim].end(),
                                              prim.indices.begin() + static_cast<std::ptrdiff_t>(triangles[i].first),
                                              prim.indices.begin() + static_cast<std::ptrdiff_t>(triangles[i].first + 3));
        }
    for (std::size_t p : held)
        level[p].indices = std::move(indices[p]);
}

std::size_t triangles_of(const MeshArrays &level, const std::vector<std::size_t> &prims)
{
    std::size_t n = 0;
    for (std::size_t p : prims)
        n += level[p].triangle_count();
    return n;
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
        const auto material = ramulon::index_cast<std::size_t>(prim.material);
        (material < looks.size() && looks[material].leaf ? leaves : wood).push_back(p);
    }
    const std::size_t wood_triangles = triangles_of(level, wood), leaf_triangles = triangles_of(level, leaves);
    const auto share = [&](std::size_t triangles) {
        return ramulon::index_cast<std::size_t>(std::llround(double(triangles) * fraction));
    };
    // The wood goes first, as far as it can without straying from its shape; what it keeps
    // beyond its share the leaves give up, down to half of theirs, and only then does the wood
    // give up whole pieces. The level lands on fraction of the whole.
    // The trunk and the roots keep their shape closer than the rest, so that the tree stands
    // where it stood at every level; the rest is simplified against them held in place.
    std::vector<std::size_t> holding, held;
    for (std::size_t p : wood)
        (looks[ramulon::index_cast<std::size_t>(level[p].material)].holds_tree ? holding : held).push_back(p);
    const std::vector<float> radius = tube_radii(lod0, held);
    const float error = simplify_error(fraction);
    const std::size_t holding_left =
        simplify_together(level, holding, share(triangles_of(level, holding)), std::min(error, trunk_error), true);
    const std::size_t goal = share(wood_triangles) > holding_left ? share(wood_triangles) - holding_left : 0;
    const std::size_t wood_left = holding_left + simplify_together(level, held, goal, error, true);
    const std::size_t over = wood_left > share(wood_triangles) ? wood_left - share(wood_triangles) : 0;
    const double leaf_share = leaf_triangles == 0 ? fraction
        : std::max(0.5 * fraction, (double(share(leaf_triangles)) - double(over)) / double(leaf_triangles));
    for (std::size_t p : leaves)
        thin_leaves(level[p], leaf_share);
    const std::size_t whole = share(wood_triangles + leaf_triangles), leaves_left = triangles_of(level, leaves);
    prune_wood(level, held, holding, radius, whole > leaves_left ? whole - leaves_left : 0);
    for (PrimitiveArrays &prim : level)
        drop_unused_vertices(prim);
    // A primitive with nothing left is no primitive (glTF wants at least one index).
    level.erase(std::remove_if(level.begin(), level.end(),
                               [](const PrimitiveArrays &p) { return p.indices.empty(); }),
                level.end());
    return level;
}

} // namespace exporter
