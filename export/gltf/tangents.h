// The TANGENT stream of a woody primitive whose bark has a normal map: per vertex, the direction
// bark u grows in and which way t grows (x, y, z along u, square to the vertex normal; w = 1 when
// t grows along normal x tangent, else -1, so that the map's y runs up the picture, toward
// growing t). Summed over the vertex's triangles by area; a vertex whose triangles map onto a
// line of the bark takes any direction square to its normal.
#pragma once

#include <cstddef>

#include "export/mesh/mesh_arrays.h"

namespace exporter {

// Appends TANGENT to prim, made of its positions (stream 0), normals (stream 1) and the bark
// coordinates in stream uv_stream (t stored as 1 - t), walking the triangles in their order.
// Only the vertices some triangle still has to reach hold sums: a vertex's value is written as
// soon as its last triangle is walked, so the working memory follows how far apart in the
// triangles a vertex's uses lie, not the size of the primitive.
void add_tangents(PrimitiveArrays &prim, std::size_t uv_stream);

} // namespace exporter
