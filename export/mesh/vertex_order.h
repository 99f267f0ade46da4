// The order of triangles and vertices a GPU likes: triangles sorted for the post-transform vertex
// cache, vertices renumbered in the order the triangles first use them (dropping unused ones).
// A separate stage after collection: the collected arrays keep the layer's order.
#pragma once

#include <functional>

#include "export/mesh/mesh_arrays.h"

namespace exporter {

// Whether the indices of a primitive may leave some of its vertices unused: not those the
// collector makes, each for a polygon corner that uses it.
enum class UnusedVertices { maybe, none };

// Cache order for triangle primitives (where it beats the order they come in), then fetch order
// (and compaction) for every primitive. Streams without values yet are left so. in_first_order,
// when given, is handed the primitive once its cache order is found and before its triangles
// and vertices take their new order: what is summed in the first order (the tangents) is made
// there, without being held while the cache order is sought.
void optimise_vertex_order(PrimitiveArrays &prim, UnusedVertices unused = UnusedVertices::maybe,
                           const std::function<void(PrimitiveArrays &)> &in_first_order = {});
void optimise_vertex_order(MeshArrays &mesh);

// Only the compaction: vertices no index uses are dropped, the rest keep their relative order.
void drop_unused_vertices(PrimitiveArrays &prim);

} // namespace exporter
