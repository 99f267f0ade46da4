// st_tree: every parameter of a tree and the tool's few run-time flags, in one flat record.
// The live record `tt` is also the tool instance the host hands back to every callback; the
// record is copied whole, so it holds no pointers.
#pragma once

#include <cstdint>

namespace ramulon {

struct st_tree {
    int32_t num_branches;
    int32_t num_segments;
    double branch_crookedness;
    double diverge;
    double branch_thickness;
    double trunk_thickness;
    int32_t diverge_limit;
    double tree_center;
    double branch_bend;
    double distribution_power;
    int32_t iterations;
    double bias;
    int32_t random_seed;
    double last_fork_distance;
    int32_t relative_spacing;
    double wg_range;
    double wg_hardness;
    double tip_jitter;
    double normals_influence;
    int32_t spare_int1;
    int32_t spare_int2;
    int32_t render_type;
    char change_level;
    int32_t refresh_mode;
    double min_angle;
    int32_t optimization_passes;
    char assign_range_wmap;
    char assign_thick_wmap;
    double wg_thick_max;
    int32_t num_roots;
    double roots_gravity;
    double roots_length;
    double roots_crookedness;
    double trunk_crookedness;
    int32_t sort_branches;
    double spare_double;
    int32_t sub_segments;
    double tree_center_variation;
    double trunk_offset;
    int32_t num_trunks;
    double tips_thickness;
    double twig_range;
    double twig_coverage;
    double twig_length;
    int32_t twig_segments;
    int32_t twig_fixed;
    int32_t twig_type;
    double twig_fixed_length;
    double trunk_connection_bend;
    double trunk_bend;
    int32_t trunk_thick_type;
    int32_t trunk_influence;
    double leaf_width;
    double leaf_length;
    int32_t leaf_shape;
    double leaf_out;
    double leaf_hang;
    double leaf_tip_hang;
    double leaf_randomness;
    int32_t leaf_twin;
    double leaf_size;
    double leaf_size_tip;
    int32_t leaf_density;
    int32_t spare_int3;
    // run time
    int32_t num_bg_polys;
    int32_t test_state;
    int32_t active;
    int32_t dirty;
    double tree_height;
};

// The built-in defaults, with zero in every run-time field.
extern const st_tree default_params;

// The live record, for as long as the plug-in is loaded.
extern st_tree tt;

} // namespace ramulon
