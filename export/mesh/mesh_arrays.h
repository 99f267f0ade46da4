// A tree's mesh as the glTF writer hands it to the buffers: per primitive, flat vertex streams and
// indices. The collected arrays come straight from the layer; later stages (vertex order, levels
// of detail, the far-view card, compression) read and make these, never the layer itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace exporter {

// An allocator whose vectors grow without clearing the new elements: the collector and the
// reordering write every value they keep, and a large tree's streams are hundreds of megabytes
// that clearing would touch once for nothing.
template <typename T> struct UnsetAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U> struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <typename U> UnsetAllocator(const UnsetAllocator<U> &) noexcept {}
    template <typename U> void construct(U *at) noexcept { ::new (static_cast<void *>(at)) U; }
    template <typename U, typename... Args> void construct(U *at, Args &&...args)
    {
        ::new (static_cast<void *>(at)) U(std::forward<Args>(args)...);
    }
};

// Floats that resize() leaves unset: whoever grows one writes every value it keeps.
using StreamValues = std::vector<float, UnsetAllocator<float>>;

// One vertex attribute: dim floats per vertex.
struct VertexStream {
    std::string attribute; // the glTF name ("POSITION", "NORMAL", "TEXCOORD_0", "_RM_RANGE", ...)
    int dim = 0;
    StreamValues values;
};

struct PrimitiveArrays {
    int material = 0;
    int mode = 4; // glTF primitive mode: 0 points, 1 lines, 4 triangles
    // POSITION first, then NORMAL on triangles, then the layer's maps.
    std::vector<VertexStream> streams;
    // The layer point every vertex came from: vertices of one point belong to one piece of wood
    // or one leaf even where a texture seam splits them. Never written out.
    std::vector<int> vertex_point;
    std::vector<std::uint32_t> indices;

    std::size_t vertex_count() const { return vertex_point.size(); }
    bool triangles() const { return mode == 4; }
    std::size_t triangle_count() const { return triangles() ? indices.size() / 3 : 0; }
    const VertexStream *stream(const std::string &attribute) const;
};

using MeshArrays = std::vector<PrimitiveArrays>;

std::size_t triangle_count(const MeshArrays &mesh);

// Per-material facts the later stages need.
struct MaterialLook {
    std::array<double, 3> colour{};
    bool leaf = false;
    bool holds_tree = false; // the trunk and the roots: simpler levels never give them up
};

} // namespace exporter
