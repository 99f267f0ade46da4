// Bytes as a whole parameter record (every field, with extremes, NaN, infinities and choices out
// of range) and a small envelope of a few polygons: a build of any render type, by the growth
// index or the literal scan, then an output-only rebuild in another render type on the kept
// skeleton; the promises are check_record in tests/support/input_checks.h.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.h"
#include "support/input_checks.h"

namespace ramulon {
namespace fuzz {
namespace {

using inputs::cap_sizes;
using inputs::check_record;
using inputs::small_crown;
using inputs::ToolSession;

// How far a record strays from the panel's ranges, chosen once per input: 0 never (also what an
// exhausted input gives), 1 and 2 now and then, 3 often and with NaN and infinities too.
struct picker {
    FuzzedDataProvider &in;
    int wildness;

    // Whether this value strays; an exhausted input draws 0, which never does.
    bool strays()
    {
        static constexpr int odds[] = {0, 2, 8, 24};
        return in.ConsumeIntegralInRange<int>(0, 63) > 63 - odds[wildness];
    }

    int32_t pick_int(int32_t low, int32_t high)
    {
        if (!strays())
            return in.ConsumeIntegralInRange<int32_t>(low, high);
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return in.ConsumeIntegralInRange<int32_t>(-2, 2);
        case 1: return std::numeric_limits<int32_t>::min();
        case 2: return std::numeric_limits<int32_t>::max();
        default: return in.ConsumeIntegral<int32_t>();
        }
    }

    double pick_double(double low, double high)
    {
        if (!strays())
            return in.ConsumeFloatingPointInRange<double>(low, high);
        switch (in.ConsumeIntegralInRange<int>(0, wildness == 3 ? 7 : 5)) {
        case 0: return 0.0;
        case 1: return in.ConsumeBool() ? std::numeric_limits<double>::denorm_min() : -0.0;
        case 2: return in.ConsumeFloatingPointInRange<double>(-1e6, 1e6);
        case 3: return in.ConsumeFloatingPoint<double>();
        case 4:
        case 5: return in.ConsumeBool() ? std::numeric_limits<double>::max()
                                        : -std::numeric_limits<double>::max();
        case 6: return std::numeric_limits<double>::quiet_NaN();
        default: return in.ConsumeBool() ? std::numeric_limits<double>::infinity()
                                         : -std::numeric_limits<double>::infinity();
        }
    }

    char pick_flag()
    {
        return strays() ? in.ConsumeIntegral<char>() : static_cast<char>(in.ConsumeBool());
    }
};

// Every field the input picks, in declaration order (change_level stays 0: a full build), with
// the usual range the panel's slider hints give.
struct field {
    const char *name;
    int32_t st_tree::*integer;
    double st_tree::*number;
    char st_tree::*flag;
    double low, high;
};

constexpr field fields[] = {
    {"num_branches", &st_tree::num_branches, nullptr, nullptr, 2, 120},
    {"num_segments", &st_tree::num_segments, nullptr, nullptr, 4, 25},
    {"branch_crookedness", nullptr, &st_tree::branch_crookedness, nullptr, 0.0, 0.8},
    {"diverge", nullptr, &st_tree::diverge, nullptr, 0.0, 1.0},
    {"branch_thickness", nullptr, &st_tree::branch_thickness, nullptr, 0.0, 0.2},
    {"trunk_thickness", nullptr, &st_tree::trunk_thickness, nullptr, 0.0, 0.2},
    {"diverge_limit", &st_tree::diverge_limit, nullptr, nullptr, 0, 5},
    {"tree_center", nullptr, &st_tree::tree_center, nullptr, -1.0, 2.0},
    {"branch_bend", nullptr, &st_tree::branch_bend, nullptr, -10.0, 10.0},
    {"distribution_power", nullptr, &st_tree::distribution_power, nullptr, 0.0, 1.0},
    {"iterations", &st_tree::iterations, nullptr, nullptr, 1, 25},
    {"bias", nullptr, &st_tree::bias, nullptr, 0.0, 5.0},
    {"random_seed", &st_tree::random_seed, nullptr, nullptr, -1000, 1000},
    {"last_fork_distance", nullptr, &st_tree::last_fork_distance, nullptr, 0.0, 1.0},
    {"relative_spacing", &st_tree::relative_spacing, nullptr, nullptr, 0, 1},
    {"wg_range", nullptr, &st_tree::wg_range, nullptr, 0.0, 1.0},
    {"wg_hardness", nullptr, &st_tree::wg_hardness, nullptr, 0.0, 1.0},
    {"tip_jitter", nullptr, &st_tree::tip_jitter, nullptr, 0.0, 1.0},
    {"normals_influence", nullptr, &st_tree::normals_influence, nullptr, -3.0, 3.0},
    {"spare_int1", &st_tree::spare_int1, nullptr, nullptr, 0, 3},
    {"spare_int2", &st_tree::spare_int2, nullptr, nullptr, 0, 3},
    {"render_type", &st_tree::render_type, nullptr, nullptr, 0, 2},
    {"refresh_mode", &st_tree::refresh_mode, nullptr, nullptr, 0, 1},
    {"min_angle", nullptr, &st_tree::min_angle, nullptr, 0.0, 0.8},
    {"optimization_passes", &st_tree::optimization_passes, nullptr, nullptr, 0, 25},
    {"assign_range_wmap", nullptr, nullptr, &st_tree::assign_range_wmap, 0, 1},
    {"assign_thick_wmap", nullptr, nullptr, &st_tree::assign_thick_wmap, 0, 1},
    {"wg_thick_max", nullptr, &st_tree::wg_thick_max, nullptr, 0.0, 1.0},
    {"num_roots", &st_tree::num_roots, nullptr, nullptr, 5, 12},
    {"roots_gravity", nullptr, &st_tree::roots_gravity, nullptr, -10.0, 10.0},
    {"roots_length", nullptr, &st_tree::roots_length, nullptr, 0.1, 2.0},
    {"roots_crookedness", nullptr, &st_tree::roots_crookedness, nullptr, 0.0, 0.8},
    {"trunk_crookedness", nullptr, &st_tree::trunk_crookedness, nullptr, 0.0, 0.8},
    {"sort_branches", &st_tree::sort_branches, nullptr, nullptr, 0, 1},
    {"spare_double", nullptr, &st_tree::spare_double, nullptr, 0.0, 1.0},
    {"sub_segments", &st_tree::sub_segments, nullptr, nullptr, 1, 4},
    {"tree_center_variation", nullptr, &st_tree::tree_center_variation, nullptr, 0.0, 1.0},
    {"trunk_offset", nullptr, &st_tree::trunk_offset, nullptr, -1.0, 1.0},
    {"num_trunks", &st_tree::num_trunks, nullptr, nullptr, 1, 5},
    {"tips_thickness", nullptr, &st_tree::tips_thickness, nullptr, 0.0, 0.05},
    {"twig_range", nullptr, &st_tree::twig_range, nullptr, 0.0, 1.0},
    {"twig_coverage", nullptr, &st_tree::twig_coverage, nullptr, 0.0, 1.0},
    {"twig_length", nullptr, &st_tree::twig_length, nullptr, 0.0, 10.0},
    {"twig_segments", &st_tree::twig_segments, nullptr, nullptr, 0, 9},
    {"twig_fixed", &st_tree::twig_fixed, nullptr, nullptr, 0, 1},
    {"twig_type", &st_tree::twig_type, nullptr, nullptr, 0, 6},
    {"twig_fixed_length", nullptr, &st_tree::twig_fixed_length, nullptr, 0.0, 1.0},
    {"trunk_connection_bend", nullptr, &st_tree::trunk_connection_bend, nullptr, -10.0, 10.0},
    {"trunk_bend", nullptr, &st_tree::trunk_bend, nullptr, 0.0, 5.0},
    {"trunk_thick_type", &st_tree::trunk_thick_type, nullptr, nullptr, 0, 1},
    {"trunk_influence", &st_tree::trunk_influence, nullptr, nullptr, 0, 2},
    {"leaf_width", nullptr, &st_tree::leaf_width, nullptr, 0.0, 0.5},
    {"leaf_length", nullptr, &st_tree::leaf_length, nullptr, 0.0, 0.5},
    {"leaf_shape", &st_tree::leaf_shape, nullptr, nullptr, 0, 5},
    {"leaf_out", nullptr, &st_tree::leaf_out, nullptr, -1.0, 1.0},
    {"leaf_hang", nullptr, &st_tree::leaf_hang, nullptr, -1.0, 1.0},
    {"leaf_tip_hang", nullptr, &st_tree::leaf_tip_hang, nullptr, -1.0, 1.0},
    {"leaf_randomness", nullptr, &st_tree::leaf_randomness, nullptr, 0.0, 1.0},
    {"leaf_twin", &st_tree::leaf_twin, nullptr, nullptr, 0, 1},
    {"leaf_size", nullptr, &st_tree::leaf_size, nullptr, 0.0, 3.0},
    {"leaf_size_tip", nullptr, &st_tree::leaf_size_tip, nullptr, 0.0, 3.0},
    {"leaf_density", &st_tree::leaf_density, nullptr, nullptr, 0, 4},
    {"spare_int3", &st_tree::spare_int3, nullptr, nullptr, 0, 5},
};

st_tree pick_record(FuzzedDataProvider &data)
{
    picker in{data, data.ConsumeIntegralInRange<int>(0, 3)};
    st_tree t = default_params;
    t.change_level = 0;
    for (const field &f : fields) {
        if (f.integer)
            t.*f.integer = in.pick_int(static_cast<int32_t>(f.low), static_cast<int32_t>(f.high));
        else if (f.number)
            t.*f.number = in.pick_double(f.low, f.high);
        else
            t.*f.flag = in.pick_flag();
    }
    return t;
}

double pick_coordinate(FuzzedDataProvider &in, double low, double high)
{
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: return in.ConsumeFloatingPoint<double>(); // finite, any magnitude
    case 1: return in.ConsumeIntegralInRange<int>(-2, 2); // repeated and axis-aligned points
    default: return in.ConsumeFloatingPointInRange<double>(low, high);
    }
}

// A few polygons: mostly faces of three to eight points, sometimes a line or a curve; the small
// crown when the input has nothing to say.
void pick_envelope(FuzzedDataProvider &in, host::Layer &background)
{
    if (in.remaining_bytes() == 0) {
        small_crown(background);
        return;
    }
    background.clear();
    const int polygons = in.ConsumeIntegralInRange<int>(0, 6);
    for (int k = 0; k < polygons; ++k) {
        const int n = in.ConsumeIntegralInRange<int>(0, 9) == 0 ? in.ConsumeIntegralInRange<int>(1, 2)
                                                                : in.ConsumeIntegralInRange<int>(3, 8);
        const HostID type = in.ConsumeIntegralInRange<int>(0, 9) == 0 ? ID_CURV : ID_FACE;
        std::vector<int> points;
        for (int j = 0; j < n; ++j) {
            // Now and then a corner shared with an earlier point.
            if (!background.points.empty() && in.ConsumeIntegralInRange<int>(0, 7) == 0) {
                points.push_back(in.ConsumeIntegralInRange<int>(
                    0, static_cast<int>(background.points.size()) - 1));
                continue;
            }
            const double x = pick_coordinate(in, -3.0, 3.0);
            const double y = pick_coordinate(in, -1.0, 6.0);
            const double z = pick_coordinate(in, -3.0, 3.0);
            points.push_back(background.add_point({x, y, z}));
        }
        background.add_polygon(type, std::move(points));
    }
}

// With RAMULON_FUZZ_SHOW set, the record and the envelope an input stands for, on stderr: how a
// reproducer is read and reduced by hand.
void show(const st_tree &t, const host::Layer &background)
{
    for (const field &f : fields) {
        if (f.number)
            std::fprintf(stderr, "%s=%.17g\n", f.name, t.*f.number);
        else
            std::fprintf(stderr, "%s=%d\n", f.name, f.integer ? t.*f.integer : static_cast<int>(t.*f.flag));
    }
    for (const host::Vec3 &p : background.points)
        std::fprintf(stderr, "v %.17g %.17g %.17g\n", p.x, p.y, p.z);
    for (std::size_t k = 0; k < background.polygon_count(); ++k) {
        std::fprintf(stderr, "%s", background.polygon_type[k] == ID_FACE ? "f" : "curve");
        for (const int i : background.polygon_points(k))
            std::fprintf(stderr, " %d", i + 1);
        std::fprintf(stderr, "\n");
    }
}

int run(const uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    ToolSession tool;
    pick_envelope(in, tool.session.mesh().background);
    st_tree record = pick_record(in);
    cap_sizes(record);
    const bool literal = in.ConsumeIntegralInRange<int>(0, 7) == 7;
    const int other_render_type = in.ConsumeIntegralInRange<int>(0, 2);
    if (std::getenv("RAMULON_FUZZ_SHOW")) {
        show(record, tool.session.mesh().background);
        std::fprintf(stderr, "literal=%d other_render_type=%d\n", literal, other_render_type);
    }
    require(check_record(tool, record, literal, other_render_type));
    return 0;
}

} // namespace
} // namespace fuzz
} // namespace ramulon

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    return ramulon::fuzz::run(data, size);
}
