// The TANGENT stream of a woody primitive whose bark has a normal map: per vertex, the direction
// bark u grows in and which way t grows (x, y, z along u, square to the vertex normal; w = 1 when
// t grows along normal x tangent, else -1, so that the map's y runs up the picture, toward
// growing t). Summed over the vertex's triangles by area; a vertex whose triangles map onto a
// line of the bark takes any direction square to its normal.
#pragma once

#include <cstddef>

#include "export/mesh/mesh_arrays.h"

namespace host {
struct Vec3;
}

namespace exporter {

// Appends TANGENT to prim, made of its vertices' points (points[prim.vertex_point[v]], each
// coordinate narrowed to float as POSITION holds it; stream 0 is not read and may be empty), its
// normals (stream 1) and the bark coordinates in stream uv_stream (t stored as 1 - t), walking
// the triangles in their order. Needs: points holding every point the vertices name, streams 1
// and uv_stream holding every vertex, indices naming vertices only, at most 2^32 - 1 triangles.
// Fails only as memory runs out (std::bad_alloc, prim unchanged).
// Only the vertices between their first and their last triangle hold sums, each in a slot of its
// own: a vertex's value is written as soon as its last triangle is walked and its slot goes to
// the next vertex reached, so the working memory follows how many vertices are open at once, not
// the size of the primitive nor how far apart its vertices' numbers lie.
void add_tangents(PrimitiveArrays &prim, const host::Vec3 *points, std::size_t uv_stream);

} // namespace exporter
