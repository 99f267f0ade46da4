// Placeholder until leaves land.
#include "model.h"

namespace ramulon {

void model_typ::add_leaves(w_typ *, st_tree *, random *) {}
void model_typ::draw_leaves(MeshEditOp *, st_tree *) {}

} // namespace ramulon
