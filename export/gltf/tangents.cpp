#include "export/gltf/tangents.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/index_cast.h"

namespace exporter {
namespace {

// A vertex's sums over the triangles walked so far: the area-weighted directions along bark u
// and along t. Left unset where the ring grows, cleared (Sums{}) as the vertex is reached.
struct Sums {
    double u[3];
    double t[3];
};

// The sums of the open vertices: from the oldest vertex still waiting for a triangle to the newest
// vertex any triangle has reached, in a ring indexed by vertex number. A tube's triangles use
// each vertex within a ring or two of the tube, so the ring stays small; a vertex that a triangle
// comes back to much later keeps every vertex after it open, and the ring grows to hold them.
class OpenSums {
public:
    std::size_t oldest() const { return oldest_; }
    std::size_t reached() const { return reached_; }
    Sums &operator[](std::size_t v) { return ring_[v & mask_]; }

    // Opens every vertex before end not reached yet, with zero sums.
    void reach(std::size_t end)
    {
        if (end <= reached_)
            return;
        if (end - oldest_ > ring_.size())
            grow(end - oldest_);
        for (; reached_ < end; ++reached_)
            (*this)[reached_] = Sums{};
    }

    // The oldest open vertex's sums, final: its slot is reused once a later vertex is reached.
    const Sums &close_oldest() { return (*this)[oldest_++]; }

private:
    void grow(std::size_t open)
    {
        std::size_t size = std::max<std::size_t>(ring_.size() * 2, 4096);
        while (size < open)
            size *= 2;
        std::vector<Sums, UnsetAllocator<Sums>> bigger(size);
        for (std::size_t v = oldest_; v < reached_; ++v)
            bigger[v & (size - 1)] = (*this)[v];
        ring_.swap(bigger);
        mask_ = size - 1;
    }

    std::vector<Sums, UnsetAllocator<Sums>> ring_;
    std::size_t mask_ = 0, oldest_ = 0, reached_ = 0;
};

// Until a vertex's tangent is written, its first TANGENT slot holds the last triangle that uses it
// (0 for a vertex no triangle uses): the stream is as long as the vertices anyway, so knowing when
// each vertex is final costs no memory of its own.
void hold_last_triangle(float *slot, std::uint32_t triangle) { std::memcpy(slot, &triangle, sizeof triangle); }

std::uint32_t last_triangle(const float *slot)
{
    std::uint32_t triangle = 0;
    std::memcpy(&triangle, slot, sizeof triangle);
    return triangle;
}

void mark_last_triangles(const std::vector<std::uint32_t> &indices, std::size_t count, float *tangent)
{
    for (std::size_t v = 0; v < count; ++v)
        hold_last_triangle(tangent + v * 4, 0);
    const std::size_t triangles = indices.size() / 3;
    const std::uint32_t *corner = indices.data();
    for (std::uint32_t t = 0; t < ramulon::index_cast<std::uint32_t>(triangles); ++t, corner += 3) {
        hold_last_triangle(tangent + std::size_t{corner[0]} * 4, t);
        hold_last_triangle(tangent + std::size_t{corner[1]} * 4, t);
        hold_last_triangle(tangent + std::size_t{corner[2]} * 4, t);
    }
}

// The triangle's share of its corners' sums. t is stored as 1 - t.
void add_triangle(const float *xyz, const float *uv, std::size_t a, std::size_t b, std::size_t c, Sums &sa, Sums &sb,
                  Sums &sc)
{
    double e1[3], e2[3];
    for (std::size_t k = 0; k < 3; ++k) {
        e1[k] = static_cast<double>(xyz[b * 3 + k]) - xyz[a * 3 + k];
        e2[k] = static_cast<double>(xyz[c * 3 + k]) - xyz[a * 3 + k];
    }
    const double du1 = static_cast<double>(uv[b * 2]) - uv[a * 2], dt1 = static_cast<double>(uv[a * 2 + 1]) - uv[b * 2 + 1];
    const double du2 = static_cast<double>(uv[c * 2]) - uv[a * 2], dt2 = static_cast<double>(uv[a * 2 + 1]) - uv[c * 2 + 1];
    const double det = du1 * dt2 - du2 * dt1;
    if (!(std::fabs(det) > 1e-20))
        return;
    // Weighted by area: the per-unit directions times the triangle's doubled area in the
    // texture, det, over its sign.
    const double sign = det > 0.0 ? 1.0 : -1.0;
    for (std::size_t k = 0; k < 3; ++k) {
        const double u = (e1[k] * dt2 - e2[k] * dt1) * sign, t = (e2[k] * du1 - e1[k] * du2) * sign;
        // a, b and c in turn, each once, even where two of them are the same vertex.
        sa.u[k] += u;
        sa.t[k] += t;
        sb.u[k] += u;
        sb.t[k] += t;
        sc.u[k] += u;
        sc.t[k] += t;
    }
}

// The vertex's TANGENT from its normal and its final sums.
[[gnu::always_inline]] inline void write_tangent(const float *normal, const Sums &sums, float *out)
{
    const double n[3] = {normal[0], normal[1], normal[2]};
    const double *u = sums.u, *t = sums.t;
    const double dot = u[0] * n[0] + u[1] * n[1] + u[2] * n[2];
    double x[3] = {u[0] - dot * n[0], u[1] - dot * n[1], u[2] - dot * n[2]};
    double length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    if (!(length > 1e-12) || !std::isfinite(length)) {
        // Any direction square to the normal: across its smallest component.
        const std::size_t k = std::fabs(n[0]) < std::fabs(n[1]) ? (std::fabs(n[0]) < std::fabs(n[2]) ? 0 : 2)
                                                                : (std::fabs(n[1]) < std::fabs(n[2]) ? 1 : 2);
        double axis[3] = {0.0, 0.0, 0.0};
        axis[k] = 1.0;
        x[0] = axis[1] * n[2] - axis[2] * n[1];
        x[1] = axis[2] * n[0] - axis[0] * n[2];
        x[2] = axis[0] * n[1] - axis[1] * n[0];
        length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    }
    const double across[3] = {n[1] * x[2] - n[2] * x[1], n[2] * x[0] - n[0] * x[2], n[0] * x[1] - n[1] * x[0]};
    const float w = across[0] * t[0] + across[1] * t[1] + across[2] * t[2] < 0.0 ? -1.0f : 1.0f;
    out[0] = static_cast<float>(x[0] / length);
    out[1] = static_cast<float>(x[1] / length);
    out[2] = static_cast<float>(x[2] / length);
    out[3] = w;
}

} // namespace

void add_tangents(PrimitiveArrays &prim, std::size_t uv_stream)
{
    const float *xyz = prim.streams[0].values.data(), *normal = prim.streams[1].values.data();
    const float *uv = prim.streams[uv_stream].values.data();
    const std::size_t count = prim.vertex_count();
    VertexStream tangent{"TANGENT", 4, {}};
    tangent.values.resize(count * 4);
    float *out = tangent.values.data();
    mark_last_triangles(prim.indices, count, out);
    OpenSums open;
    const auto close_oldest = [&] {
        const std::size_t v = open.oldest();
        write_tangent(normal + v * 3, open.close_oldest(), out + v * 4);
    };
    // The triangle after which the oldest open vertex is final, asked again only once it passes.
    const auto due_of_oldest = [&]() -> std::size_t {
        return open.oldest() < count ? last_triangle(out + open.oldest() * 4) : static_cast<std::size_t>(-1);
    };
    std::size_t due = due_of_oldest();
    const std::size_t triangles = prim.indices.size() / 3;
    const std::uint32_t *corner = prim.indices.data();
    for (std::size_t triangle = 0; triangle < triangles; ++triangle, corner += 3) {
        const std::size_t a = corner[0], b = corner[1], c = corner[2];
        open.reach(std::max({a, b, c}) + 1);
        add_triangle(xyz, uv, a, b, c, open[a], open[b], open[c]);
        if (triangle < due)
            continue;
        while (open.oldest() < open.reached() && last_triangle(out + open.oldest() * 4) <= triangle)
            close_oldest();
        due = due_of_oldest();
    }
    while (open.oldest() < open.reached())
        close_oldest();
    // Vertices no triangle reached keep zero sums.
    for (std::size_t v = open.reached(); v < count; ++v)
        write_tangent(normal + v * 3, Sums{}, out + v * 4);
    prim.streams.push_back(std::move(tangent));
}

} // namespace exporter
