#include "tool_checks.h"

#include <algorithm>
#include <cmath>

namespace ramulon {

namespace {

struct double_field {
    double st_tree::*field;
    const char *label;
};

// Every double the generation reads; the ones only carried in presets cannot harm a tree.
constexpr double_field generation_doubles[] = {
    {&st_tree::branch_crookedness, "Branch crookedness"},
    {&st_tree::branch_thickness, "Branch thickness"},
    {&st_tree::trunk_thickness, "Trunk thickness"},
    {&st_tree::tree_center, "Tree center"},
    {&st_tree::branch_bend, "Branch bend"},
    {&st_tree::distribution_power, "Distribution power"},
    {&st_tree::bias, "Bias"},
    {&st_tree::last_fork_distance, "Last fork distance"},
    {&st_tree::wg_range, "WG range"},
    {&st_tree::wg_hardness, "WG hardness"},
    {&st_tree::tip_jitter, "Branch tip jitter"},
    {&st_tree::normals_influence, "Normals influence"},
    {&st_tree::wg_thick_max, "WG Thick max"},
    {&st_tree::roots_gravity, "Roots Gravity"},
    {&st_tree::roots_length, "Roots length"},
    {&st_tree::roots_crookedness, "Roots Crookedness"},
    {&st_tree::trunk_crookedness, "Trunk crookedness"},
    {&st_tree::tree_center_variation, "Tree center variation"},
    {&st_tree::trunk_offset, "Offset from trunk"},
    {&st_tree::tips_thickness, "Tips thickness"},
    {&st_tree::twig_range, "Twig range"},
    {&st_tree::twig_coverage, "Twig coverage"},
    {&st_tree::twig_length, "Twig length"},
    {&st_tree::twig_fixed_length, "Twig fixed length"},
    {&st_tree::trunk_connection_bend, "Trunk connection bend"},
    {&st_tree::trunk_bend, "Trunk bend"},
    {&st_tree::leaf_width, "Leaf width"},
    {&st_tree::leaf_length, "Leaf length"},
    {&st_tree::leaf_out, "Leaf out"},
    {&st_tree::leaf_hang, "Leaf hang"},
    {&st_tree::leaf_tip_hang, "Leaf tip hang"},
    {&st_tree::leaf_randomness, "Leaf randomness"},
    {&st_tree::leaf_size, "Leaf size"},
    {&st_tree::leaf_size_tip, "Leaf size tip"},
};

// No distance, angle, factor or fraction of a tree comes near these bounds (other than 0
// itself); products and quotients of a few values between them stay far inside the range of a
// double, where larger values and the reciprocals of smaller ones overflow to infinities.
constexpr double max_magnitude = 1e6;
constexpr double min_magnitude = 1e-30;

// The bounds of a tree a host session can hold. A tree at the panel's slider ends stays inside
// each: 2000 chains with 25 segments of 4 sub-segments (4e5 nodes at their longest), 25 tries
// per start point, 4e6 steps of sorting, 5 trunks of 12 roots, twigs of 9 segments and 10
// leaves per twig node (an estimate of 2.8e8 mesh points, although branches that join early
// make far fewer).
constexpr double max_start_tries = 1e7;  // chains x tries per start point
constexpr double max_sort_steps = 1e9;   // chains x chains, when they are sorted by height
constexpr double max_chain_nodes = 2e3;  // the longest trunk; the model walks chains recursively
constexpr double max_grown_nodes = 4e6;  // every chain at its longest
constexpr double max_roots = 1e5;        // trunks x roots
constexpr double max_twig_nodes = 1e3;   // nodes of one twig
constexpr double max_mesh_points = 5e8;  // grown nodes with their twigs and leaves, and roots

struct count_field {
    int32_t st_tree::*field;
    const char *label;
    double slider_top;
};

// The counts a tree's size grows with, and the top of each one's slider.
constexpr count_field size_counts[] = {
    {&st_tree::num_branches, "Branches", 2000},
    {&st_tree::num_segments, "Segments", 25},
    {&st_tree::sub_segments, "Sub Segments", 4},
    {&st_tree::iterations, "Iterations", 25},
    {&st_tree::num_trunks, "Trunks", 5},
    {&st_tree::num_roots, "Number of roots", 12},
    {&st_tree::twig_segments, "Twig segments", 9},
    {&st_tree::leaf_density, "Leaf density", 10},
};

// The count furthest beyond its slider: the one to lower first.
const char *largest_count(const st_tree &t)
{
    const char *label = size_counts[0].label;
    double worst = 0.0;
    for (const count_field &c : size_counts) {
        const double ratio = static_cast<double>(t.*c.field) / c.slider_top;
        if (ratio > worst) {
            worst = ratio;
            label = c.label;
        }
    }
    return label;
}

} // namespace

const char *non_finite_parameter(const st_tree &t)
{
    for (const double_field &f : generation_doubles)
        if (!std::isfinite(t.*f.field))
            return f.label;
    return nullptr;
}

const char *out_of_scale_parameter(const st_tree &t, const char *&problem)
{
    for (const double_field &f : generation_doubles) {
        const double m = std::fabs(t.*f.field);
        if (m > max_magnitude) {
            problem = "is too large a number.";
            return f.label;
        }
        if (m != 0.0 && m < min_magnitude) {
            problem = "is too close to zero.";
            return f.label;
        }
    }
    return nullptr;
}

const char *oversized_parameter(const st_tree &t)
{
    // The counts as growth reads them, in double so that no product overflows: no chain for a
    // count below 1, no step for segments below 1, no node between for sub-segments below 2,
    // and one try per start point when no tries are asked for.
    const double chains = std::max(0.0, static_cast<double>(t.num_branches));
    const double trunks = std::clamp(static_cast<double>(t.num_trunks), 0.0, chains);
    const double nodes_per_step = std::max(0.0, static_cast<double>(t.num_segments)) *
                                  std::max(1.0, static_cast<double>(t.sub_segments));
    const double tries = chains * std::max(1.0, static_cast<double>(t.iterations));
    const double chain_nodes = 8 * nodes_per_step + 1;
    const double grown = (trunks * 8 + (chains - trunks) * 2) * nodes_per_step + chains;

    // A twig of a negative segment count is its base node alone.
    const bool twigs = t.twig_type != 0 && t.twig_segments != 0;
    const double twig_nodes = twigs ? std::max(1.0, static_cast<double>(t.twig_segments) + 1) : 0.0;
    const double per = t.leaf_twin != 0 ? 2.0 : 1.0;
    const double copies = std::clamp(static_cast<double>(t.leaf_density) * per, 1.0, 10.0);
    const double leaf_points = t.leaf_shape != 0 ? copies * 6 : 0.0;
    // Tubes write four points per node, caps a few more; every trunk of a solid tree stands
    // on its roots, five segments each.
    const bool solid = t.render_type == 1 || t.render_type == 2;
    const double roots =
        solid ? std::max(trunks, 1.0) * std::max(0.0, static_cast<double>(t.num_roots)) : 0.0;
    const double mesh_points = grown * (8 + twig_nodes * (8 + leaf_points)) + roots * 24;

    const double sort_steps = t.sort_branches != 0 ? chains * chains : 0.0;
    if (tries > max_start_tries || sort_steps > max_sort_steps || chain_nodes > max_chain_nodes ||
        grown > max_grown_nodes || roots > max_roots || twig_nodes > max_twig_nodes ||
        mesh_points > max_mesh_points)
        return largest_count(t);
    return nullptr;
}

} // namespace ramulon
