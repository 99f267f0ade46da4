// Placeholder until roots land.
#include "model.h"

namespace ramulon {

void model_typ::roots_make(int, double) {}
void model_typ::draw_roots(MeshEditOp *, char, LWPntID *, Cxyz, double) {}

} // namespace ramulon
