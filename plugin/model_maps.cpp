// Per-point data for the host's deformers and shaders: range and thickness weights, the
// texture coordinates, the growth vector and the age of the segment.
#include "model.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace ramulon {

namespace {

// The growth vector as the host's single-precision map holds it. The steps of a crown beyond
// float's range (an envelope of 1e40 units loads like any other) would narrow to infinities;
// such a vector is shortened along its own direction until its largest component is the
// largest float. Every vector that narrows to finite values is written as it is.
void map_vector(const Cxyz &vector, float out[3])
{
    constexpr double narrows_to_infinity = 0x1.ffffffp127; // FLT_MAX plus half its last step
    const double largest = std::max({std::fabs(vector.x), std::fabs(vector.y), std::fabs(vector.z)});
    const double scale =
        largest >= narrows_to_infinity && std::isfinite(largest) ? FLT_MAX / largest : 1.0;
    out[0] = static_cast<float>(vector.x * scale);
    out[1] = static_cast<float>(vector.y * scale);
    out[2] = static_cast<float>(vector.z * scale);
}

} // namespace

void model_typ::add_v_maps(MeshEditOp *op, LWPntID point, float range, float thick, float u,
                           float v, Cxyz vector, int age, int steps)
{
    if (assign_range_wmap == 1)
        op->pntVMap(op->state, point, ID_WGHT, map_range, 1, &range);
    if (assign_thick_wmap == 1)
        op->pntVMap(op->state, point, ID_WGHT, map_thick, 1, &thick);
    float uv[2] = {u, v};
    op->pntVMap(op->state, point, ID_TXUV, map_branch, 2, uv);
    if (vector != 0.0) {
        float vec[3];
        map_vector(vector, vec);
        op->pntVMap(op->state, point, ID_RMVT, map_vectors, 3, vec);
        float density[2] = {static_cast<float>(age), static_cast<float>(steps)};
        op->pntVMap(op->state, point, ID_RMLD, map_density, 2, density);
    }
}

} // namespace ramulon
