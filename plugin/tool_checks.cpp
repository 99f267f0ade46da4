#include "tool_checks.h"

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

} // namespace

const char *non_finite_parameter(const st_tree &t)
{
    for (const double_field &f : generation_doubles)
        if (!std::isfinite(t.*f.field))
            return f.label;
    return nullptr;
}

} // namespace ramulon
