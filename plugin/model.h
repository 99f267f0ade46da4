// The tree model: base-to-tip chains with their side chains, twigs, leaf records and roots,
// built once per build from the grown skeleton. Every mesh writer reads only the model.
#pragma once

#include <cstdint>

#include "../host/plugin_api.h"
#include "branch.h"
#include "includes/axis.h"
#include "includes/random.h"
#include "includes/xyz.h"
#include "st_tree.h"

namespace ramulon {

// Counts the nodes that qualified for a twig since the model was made; spaces the twigs.
extern int32_t sec_index;

// Names the tree writes into the host mesh: surfaces, sketch colours and vertex maps. The
// tube texture map shares its name with the branch surface.
inline constexpr const char *surf_trunk = "RM_trunk";
inline constexpr const char *surf_branch = "RM_branch";
inline constexpr const char *surf_twig = "RM_twig";
inline constexpr const char *surf_root = "RM_root";
inline constexpr const char *surf_leaf = "VF_leaf";
inline constexpr const char *colr_brown = "Brown";
inline constexpr const char *colr_blue = "Blue";
inline constexpr const char *colr_green = "Green";
inline constexpr const char *map_branch = "RM_branch";
inline constexpr const char *map_range = "RM_range";
inline constexpr const char *map_thick = "RM_thick";
inline constexpr const char *map_vectors = "RM_vectors";
inline constexpr const char *map_density = "RM_density";
inline constexpr const char *map_leaf = "RM_leaf";
inline constexpr const char *map_all_leaves = "RM_all_leaves";

// Adds a point of the tree to the mesh. Extreme but finite parameters and envelopes can still
// overflow where tubes, twigs, leaves and roots are laid around a finite skeleton; such a point
// is noted, and the build refuses the whole tree (tool.cpp) instead of leaving points at
// infinity in the host's mesh.
LWPntID draw_point(MeshEditOp *op, double *xyz);
// Whether a point drawn since the last reset lay out of range.
extern bool drew_out_of_range;

// Subdivision cages are made of patches, polygonal tubes of plain faces.
inline HostID solid_poly_type(char subd) { return subd == 1 ? ID_PTCH : ID_FACE; }

struct w_typ {
    char trunk = 0;
    char twig = 0;
    w_typ *next = nullptr; // owned
    w_typ *side = nullptr; // owned
    Cxyz pos;
    Cxyz vec;
#if RAMULON_GENERATION != 9
    float thick_val = -10.0f;
    float range_val = -10.0f;
#endif
    double thickness = 0.0;
    int32_t age = 0;

    w_typ() = default;
    w_typ(const w_typ &) = delete;
    w_typ &operator=(const w_typ &) = delete;
    // Deletes next, then side: the whole chain with its side chains. Along next it walks
    // instead of recursing, so a long trunk does not exhaust the stack.
    virtual ~w_typ();
};

struct d_typ {
    double base_dist = 0.0;
    d_typ *next = nullptr;  // owned
    w_typ *first = nullptr; // owned

    d_typ() = default;
    d_typ(const d_typ &) = delete;
    d_typ &operator=(const d_typ &) = delete;
    virtual ~d_typ(); // deletes first, then the rest of the list (iteratively)
};

struct l_typ {
    Cxyz pos;
    Cxyz dir;
    double rel_age = 0.0;
    char tip = 0;
    char flip = 0;
    double spin = 0.0;
    w_typ *owner = nullptr; // not owned
    l_typ *next = nullptr;  // owned

    l_typ() = default;
    l_typ(const l_typ &) = delete;
    l_typ &operator=(const l_typ &) = delete;
    virtual ~l_typ(); // frees the rest of the list iteratively
};

class model_typ {
public:
    double roots_crookedness = 0.0;
    int32_t num_roots = 0;
    double roots_gravity = 0.0;
    double roots_length = 0.0;
    double wg_thick_max = 0.0;
    char assign_thick_wmap = 0;
    char assign_range_wmap = 0;
    double wg_hardness = 0.0;
    double wg_range = 0.0;
    double root_radius = 0.0;
    double tips_thickness = 0.0;
    random *rnd = nullptr; // not owned
    double trunk_thickness = 0.0;
    double branch_thickness = 0.0;
    int32_t num_segments = 0;
    double longest = 0.0;
    d_typ *chains = nullptr; // owned
    d_typ *roots = nullptr;  // owned
    l_typ *leaves = nullptr; // owned
    Cxyz *root_ring = nullptr; // owned, num_roots entries
    int32_t root_ring_count = 0;
    int32_t root_quarter[4] = {0, 0, 0, 0};

    model_typ();
    model_typ(const model_typ &) = delete;
    model_typ &operator=(const model_typ &) = delete;
    virtual ~model_typ();

    // conversion
    void convert(galaz_typ *branches, st_tree *t, random *r);
    void copy_data(w_typ *n, wezel_typ *s);
    w_typ *add_next(w_typ *before, wezel_typ *s);

    // twigs, leaf records, roots
    void add_secondary(w_typ *n, st_tree *t, random *r, int level);
    void add_leaves(w_typ *n, st_tree *t, random *r);
    void roots_make(int n, double r);

    // path length and profiles
    double calc_longest_branch();
    double calc_longest_sgm(w_typ *n, double before);
    double thickness_fun(double t, double l);
    double leaf_density_fun(double x, double c, double w);

    // skeleton output
    void draw_skeleton(MeshEditOp *op);
    void draw_skeleton_sgm(MeshEditOp *op, LWPntID parent, w_typ *n);

    // solid output
    void draw_solid(MeshEditOp *op, char subd, st_tree *tree);
    // prev_node feeds the running blend of the weight values; the earlier release (generation
    // 9) has no blend and ignores it.
    void draw_solid_sgm(MeshEditOp *op, LWPntID *prev_ring, w_typ *node, char subd,
                        const Caxis &frame, double dist, w_typ *prev_node);
    void make_points(Cxyz *pts, double a, double b, double rot_z, double rot_y);
    void make_poly(MeshEditOp *op, LWPntID *ring_a, LWPntID *ring_b, const char *surface,
                   char subd, float v_b, float v_a);
    void add_v_maps(MeshEditOp *op, LWPntID point, float range, float thick, float u, float v,
                    Cxyz vector, int age, int steps);

    // tube helpers
    double node_radius(const w_typ *n) const;
    static const char *surface_of(const w_typ *n);
    double path_v(double dist) const; // texture v of a path length: dist / longest

    // ---- roots and leaves: members below this line belong to the roots-and-leaves files
    // root mesh
    void draw_roots(MeshEditOp *op, char subd, LWPntID *base_ring, Cxyz base_pos, double angle);
    void draw_root_sgm(MeshEditOp *op, LWPntID *prev_ring, w_typ *node, char subd,
                       const Caxis &frame, double count, Cxyz offset, double angle);

    // leaf mesh: a leaf is written only where its owner node carries weights from the tubes
    // (the earlier release, generation 9, writes every leaf and gives its points no weights)
    void draw_leaves(MeshEditOp *op, st_tree *tree);
#if RAMULON_GENERATION == 9
    void draw_leaf(MeshEditOp *op, class leaf_typ *leaf);
#else
    void draw_leaf(MeshEditOp *op, class leaf_typ *leaf, float thick_value, float range_value);
#endif
    // ---- end of roots and leaves
};

} // namespace ramulon
