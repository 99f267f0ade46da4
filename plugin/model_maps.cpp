// Per-point data for the host's deformers and shaders: range and thickness weights, the
// texture coordinates, the growth vector and the age of the segment.
#include "model.h"

namespace ramulon {

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
        float vec[3] = {static_cast<float>(vector.x), static_cast<float>(vector.y),
                        static_cast<float>(vector.z)};
        op->pntVMap(op->state, point, ID_RMVT, map_vectors, 3, vec);
        float density[2] = {static_cast<float>(age), static_cast<float>(steps)};
        op->pntVMap(op->state, point, ID_RMLD, map_density, 2, density);
    }
}

} // namespace ramulon
