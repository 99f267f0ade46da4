// Placeholder until skeleton growth lands.
#include "trees.h"

namespace ramulon {

galaz_typ *galezie = nullptr;
int galezie_count = 0;
random losoj;
double trunks_offset = 1.0;
int num_polys = 0;
face6_typ *poly_data = nullptr;
int poly_num = 0;
double min_distance = 0.0;

int TreeMake(st_tree *, LWMonitor *, char) { return 0; }
void free_memory() {}
EDError check_for_nurbs(void *, const EDPolygonInfo *info)
{
    if (info->type != ID_FACE || info->numPnts < 3)
        num_polys--;
    return EDERR_NONE;
}
EDError copy_BG(int, MeshEditOp *) { return EDERR_NONE; }
void free_BG() {}

} // namespace ramulon
