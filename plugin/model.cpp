// Placeholder until the tree model lands.
#include "model.h"

namespace ramulon {

int32_t sec_index = 0;

w_typ::~w_typ() {}
d_typ::~d_typ() {}
l_typ::~l_typ() {}
model_typ::model_typ() {}
model_typ::~model_typ() {}
void model_typ::convert(galaz_typ *, st_tree *, random *) {}
void model_typ::draw_skeleton(MeshEditOp *) {}
void model_typ::draw_solid(MeshEditOp *, char, st_tree *) {}

} // namespace ramulon
