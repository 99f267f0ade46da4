// Skeleton growth: capture of the background crown, start points, trunks and branches.
#pragma once

#include "../host/plugin_api.h"
#include "branch.h"
#include "includes/face.h"
#include "includes/random.h"
#include "st_tree.h"

namespace ramulon {

// ---- working memory, kept from one build to the next
extern galaz_typ *galezie;  // num_branches chains, trunks first; null while no skeleton exists
extern int galezie_count;   // elements allocated in galezie
extern random losoj;        // the one random source of growth and model
extern double trunks_offset;
// Growth finds joints, trunk contacts and start point spacing through a spatial index when
// set (the default), else by walking every node; both grow the very same tree.
extern bool growth_use_index;

// ---- background capture
extern int num_polys;
extern face6_typ *poly_data;
extern int poly_num;
extern double min_distance;

// growth driver
int TreeMake(st_tree *t, LWMonitor *mon, char mode);
int reserve_memory(int count);
void free_memory();
wezel_typ *add_item(Cxyz p, wezel_typ **list);
// True when every node of every chain has a finite position, direction and thickness: a
// tree grown from extreme parameter values can overflow, and no mesh is written from it.
bool skeleton_is_finite();
// Chains actually held by galezie for the given record: as many as it asks for, never more than
// were allocated and none for a count below 1.
int chains_held(const st_tree *t);

// background capture and start positions
EDError check_for_nurbs(void *userData, const EDPolygonInfo *info);
EDError copy_BG(int count, MeshEditOp *op);
EDError copy_poly(void *userData, const EDPolygonInfo *info);
void free_BG();
double calc_height(const face6_typ *polygons, int n, const face6_typ **highest);
void set_positions(int n, face6_typ *polygons, int m, st_tree *t);
bool check_pos(Cxyz p, double w, double d, wezel_typ *list, st_tree *t);
void sort_positions(st_tree *t);

// trunk and branch growth
void grow_trunk(galaz_typ *g, st_tree *t, random *rnd);
void grow_branch(galaz_typ *g, st_tree *t, random *rnd);
void calc_grow_vect(galaz_typ *g, int i, st_tree *t, random *rnd);
int join_branches(galaz_typ *g, st_tree *t, Cxyz *p, Cxyz *from);
wezel_typ *join_trunk(galaz_typ *g, st_tree *t, Cxyz *p, Cxyz *from);
wezel_typ *get_closest_point_on_trunk(Cxyz *p, st_tree *t);

} // namespace ramulon
