#include "export/gltf/tangents.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/index_cast.h"
#include "host/mesh.h"

namespace exporter {
namespace {

// A vertex's sums over the triangles walked so far: the area-weighted directions along bark u
// and along t.
struct Sums {
    double u[3];
    double t[3];
};

// An open vertex: its sums, and its position as POSITION holds it (its point narrowed to float),
// read off the point once for all its triangles. A free slot holds the next free one instead.
struct OpenVertex {
    Sums sums;
    float position[3];
    std::uint32_t next_free;
};

// The open vertices, a slot each: a vertex takes a slot at its first triangle and gives it back
// after its last, where the next vertex reached takes it again. A tube's triangles use each
// vertex within a ring or two of the tube, and a fork that a much later triangle comes back to
// holds its own few vertices open, not every vertex numbered after them. Slots are numbered
// from 1: 0 is none.
class OpenSlots {
public:
    OpenSlots() : open_(1) {}

    // A slot with zero sums and the point's position.
    std::uint32_t take(const host::Vec3 &point)
    {
        ++taken_;
        std::uint32_t slot = free_;
        if (slot == 0) {
            slot = ramulon::index_cast<std::uint32_t>(open_.size());
            open_.emplace_back();
        } else {
            free_ = open_[slot].next_free;
        }
        OpenVertex &open = open_[slot];
        open.sums = Sums{};
        open.position[0] = static_cast<float>(point.x);
        open.position[1] = static_cast<float>(point.y);
        open.position[2] = static_cast<float>(point.z);
        return slot;
    }
    void give_back(std::uint32_t slot)
    {
        open_[slot].next_free = free_;
        free_ = slot;
    }
    OpenVertex &operator[](std::uint32_t slot) { return open_[slot]; }
    // How many vertices have taken a slot.
    std::size_t taken() const { return taken_; }

private:
    std::vector<OpenVertex, UnsetAllocator<OpenVertex>> open_;
    std::uint32_t free_ = 0; // the last slot given back
    std::size_t taken_ = 0;
};

// Until a vertex's tangent is written, its TANGENT entry holds the last triangle that uses it
// (x) and the slot of its sums (z), each counted from 1 (0: none), and w = 0: the stream is as
// long as the vertices anyway, so knowing when each vertex is final, and where its sums lie,
// costs no memory of its own. A tangent written has w = 1 or -1.
constexpr std::size_t last_triangle_at = 0, slot_at = 2, w_at = 3;

std::uint32_t held(const float *entry, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, entry + at, sizeof value);
    return value;
}

void hold(float *entry, std::size_t at, std::uint32_t value) { std::memcpy(entry + at, &value, sizeof value); }

bool written(const float *entry) { return entry[w_at] != 0.0f; }

// Every entry without a slot and unwritten, then each used vertex's last triangle (from 1).
void mark_last_triangles(const std::vector<std::uint32_t> &indices, std::size_t count, float *tangent)
{
    static_assert(w_at == slot_at + 1);
    constexpr std::uint64_t no_slot_unwritten = 0;
    for (std::size_t v = 0; v < count; ++v)
        std::memcpy(tangent + v * 4 + slot_at, &no_slot_unwritten, sizeof no_slot_unwritten);
    const std::size_t triangles = indices.size() / 3;
    const std::uint32_t *corner = indices.data();
    for (std::uint32_t t = 1; t <= ramulon::index_cast<std::uint32_t>(triangles); ++t, corner += 3) {
        hold(tangent + std::size_t{corner[0]} * 4, last_triangle_at, t);
        hold(tangent + std::size_t{corner[1]} * 4, last_triangle_at, t);
        hold(tangent + std::size_t{corner[2]} * 4, last_triangle_at, t);
    }
}

// The triangle's share of its corners' sums, of their positions and bark coordinates. t is
// stored as 1 - t.
void add_triangle(OpenVertex &a, OpenVertex &b, OpenVertex &c, const float *uva, const float *uvb, const float *uvc)
{
    const float *pa = a.position, *pb = b.position, *pc = c.position;
    Sums &sa = a.sums, &sb = b.sums, &sc = c.sums;
    double e1[3], e2[3];
    for (std::size_t k = 0; k < 3; ++k) {
        e1[k] = static_cast<double>(pb[k]) - pa[k];
        e2[k] = static_cast<double>(pc[k]) - pa[k];
    }
    const double du1 = static_cast<double>(uvb[0]) - uva[0], dt1 = static_cast<double>(uva[1]) - uvb[1];
    const double du2 = static_cast<double>(uvc[0]) - uva[0], dt2 = static_cast<double>(uva[1]) - uvc[1];
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

void add_tangents(PrimitiveArrays &prim, const host::Vec3 *points, std::size_t uv_stream)
{
    const float *normal = prim.streams[1].values.data();
    const float *uv = prim.streams[uv_stream].values.data();
    const int *vertex_point = prim.vertex_point.data();
    const std::size_t count = prim.vertex_count();
    VertexStream tangent{"TANGENT", 4, {}};
    tangent.values.resize(count * 4);
    float *out = tangent.values.data();
    mark_last_triangles(prim.indices, count, out);
    OpenSlots open;
    // The vertex's slot, taken at its first triangle.
    const auto reach = [&](std::size_t v) {
        std::uint32_t slot = held(out + v * 4, slot_at);
        if (slot == 0) {
            slot = open.take(points[vertex_point[v]]);
            hold(out + v * 4, slot_at, slot);
        }
        return slot;
    };
    const auto last_is = [&](std::size_t v, std::uint32_t triangle) {
        return held(out + v * 4, last_triangle_at) == triangle;
    };
    // After the vertex's last triangle its sums are final: written over its entry, the slot
    // given back.
    const auto close = [&](std::size_t v, std::uint32_t slot) {
        write_tangent(normal + v * 3, open[slot].sums, out + v * 4);
        open.give_back(slot);
    };
    const std::uint32_t *corner = prim.indices.data();
    for (std::uint32_t triangle = 1; triangle <= prim.indices.size() / 3; ++triangle, corner += 3) {
        const std::size_t a = corner[0], b = corner[1], c = corner[2];
        const std::uint32_t sa = reach(a), sb = reach(b), sc = reach(c);
        add_triangle(open[sa], open[sb], open[sc], uv + a * 2, uv + b * 2, uv + c * 2);
        // Each corner once: a vertex named twice is written after its sums have both shares.
        if (last_is(a, triangle))
            close(a, sa);
        if (b != a && last_is(b, triangle))
            close(b, sb);
        if (c != a && c != b && last_is(c, triangle))
            close(c, sc);
    }
    // A vertex no triangle uses keeps zero sums (the collector makes none).
    if (open.taken() < count)
        for (std::size_t v = 0; v < count; ++v)
            if (!written(out + v * 4))
                write_tangent(normal + v * 3, Sums{}, out + v * 4);
    prim.streams.push_back(std::move(tangent));
}

} // namespace exporter
