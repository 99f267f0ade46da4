// Whatever a user types or a preset hands in, a build either writes a tree whose every point and
// map value is a finite number, or fails with a message; it never crashes, hangs or swallows the
// machine's memory. Parameter records are drawn at random, inside and far outside the panel's
// ranges; each case is seeded on its own so that a failure names the record that caused it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "includes/random.h"
#include "st_tree.h"
#include "support/layer_reading.h"
#include "support/panel_session.h"
#include "tool_checks.h"

namespace ramulon {
namespace {

constexpr int cases = 300;
constexpr std::chrono::seconds build_limit{60};
// Far above anything the sample crown grows with the drawn records; a build past it has lost
// its bounds.
constexpr std::size_t max_points = 20'000'000;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr int32_t int_min = std::numeric_limits<int32_t>::min();
constexpr int32_t int_max = std::numeric_limits<int32_t>::max();

// A field with the range it is usually drawn from: the panel's slider, narrowed where a wide
// value makes every build slow without reaching new code.
struct int_field {
    int32_t st_tree::*field;
    int32_t lo, hi;
    const char *name;
};
struct double_field {
    double st_tree::*field;
    double lo, hi;
    const char *name;
};

using T = st_tree;

constexpr int_field int_fields[] = {
    {&T::num_branches, 2, 60, "num_branches"},     {&T::num_segments, 4, 10, "num_segments"},    {&T::iterations, 1, 25, "iterations"},
    {&T::random_seed, -1000, 1000, "random_seed"}, {&T::relative_spacing, 0, 1, "relative_spacing"}, {&T::render_type, 0, 2, "render_type"},
    {&T::refresh_mode, 0, 1, "refresh_mode"},       {&T::optimization_passes, 0, 25, "optimization_passes"}, {&T::num_roots, 5, 12, "num_roots"},
    {&T::sort_branches, 0, 1, "sort_branches"},      {&T::sub_segments, 1, 3, "sub_segments"},     {&T::num_trunks, 1, 5, "num_trunks"},
    {&T::twig_segments, 0, 9, "twig_segments"},      {&T::twig_fixed, 0, 1, "twig_fixed"},       {&T::twig_type, 0, 6, "twig_type"},
    {&T::trunk_thick_type, 0, 1, "trunk_thick_type"},   {&T::trunk_influence, 0, 2, "trunk_influence"},  {&T::leaf_shape, 0, 5, "leaf_shape"},
    {&T::leaf_twin, 0, 1, "leaf_twin"},          {&T::leaf_density, 0, 3, "leaf_density"},     {&T::diverge_limit, 0, 5, "diverge_limit"},
    {&T::spare_int1, 0, 5, "spare_int1"},         {&T::spare_int2, 0, 5, "spare_int2"},       {&T::spare_int3, 0, 5, "spare_int3"},
};

constexpr double deg = 3.1415926535898 / 180;

constexpr double_field double_fields[] = {
    {&T::branch_crookedness, 0, 45 * deg, "branch_crookedness"}, {&T::diverge, 0.01, 1, "diverge"},
    {&T::branch_thickness, 0.001, 0.1, "branch_thickness"},    {&T::trunk_thickness, 0.001, 0.1, "trunk_thickness"},
    {&T::tree_center, -1, 2, "tree_center"},              {&T::branch_bend, -10, 10, "branch_bend"},
    {&T::distribution_power, 0.1, 1, "distribution_power"},      {&T::bias, 0.1, 5, "bias"},
    {&T::last_fork_distance, 0, 1, "last_fork_distance"},        {&T::wg_range, 0, 1, "wg_range"},
    {&T::wg_hardness, 0, 1, "wg_hardness"},               {&T::tip_jitter, 0, 0.5, "tip_jitter"},
    {&T::normals_influence, -3, 3, "normals_influence"},        {&T::min_angle, 0, 45 * deg, "min_angle"},
    {&T::wg_thick_max, 0, 1, "wg_thick_max"},              {&T::roots_gravity, -10, 10, "roots_gravity"},
    {&T::roots_length, 0.1, 2, "roots_length"},            {&T::roots_crookedness, 0, 45 * deg, "roots_crookedness"},
    {&T::trunk_crookedness, 0, 45 * deg, "trunk_crookedness"},  {&T::spare_double, 0, 1, "spare_double"},
    {&T::tree_center_variation, 0, 1, "tree_center_variation"},     {&T::trunk_offset, -1, 1, "trunk_offset"},
    {&T::tips_thickness, 0, 0.05, "tips_thickness"},         {&T::twig_range, 0, 1, "twig_range"},
    {&T::twig_coverage, 0, 1, "twig_coverage"},             {&T::twig_length, 0, 10, "twig_length"},
    {&T::twig_fixed_length, 0, 1, "twig_fixed_length"},         {&T::trunk_connection_bend, -10, 10, "trunk_connection_bend"},
    {&T::trunk_bend, 0, 5, "trunk_bend"},                {&T::leaf_width, 0, 0.3, "leaf_width"},
    {&T::leaf_length, 0, 0.3, "leaf_length"},             {&T::leaf_out, -1, 1, "leaf_out"},
    {&T::leaf_hang, -1, 1, "leaf_hang"},                {&T::leaf_tip_hang, -1, 1, "leaf_tip_hang"},
    {&T::leaf_randomness, 0, 1, "leaf_randomness"},           {&T::leaf_size, 0, 2, "leaf_size"},
    {&T::leaf_size_tip, 0, 2, "leaf_size_tip"},
};

// The fields of a record that differ from the defaults, for the message of a failing case.
std::string differences(const st_tree &t)
{
    std::ostringstream out;
    for (const int_field &f : int_fields)
        if (t.*f.field != default_params.*f.field)
            out << f.name << "=" << t.*f.field << " ";
    for (const double_field &f : double_fields)
        if (!(t.*f.field == default_params.*f.field))
            out << f.name << "=" << t.*f.field << " ";
    return out.str();
}

int pick(random &r, int n) { return static_cast<int>(r.next() % n); }

int32_t wild_int(random &r, const int_field &f)
{
    switch (pick(r, 10)) {
    case 0: return 0;
    case 1: return -1;
    case 2: return int_min;
    case 3: return int_max;
    case 4: return f.lo - 1 - pick(r, 100);
    case 5: return f.hi + 1 + pick(r, 3);
    case 6: return 1 << 20;
    case 7: return 1'000'000'000;
    case 8: return -(1 << 20);
    default: return f.hi * 3;
    }
}

double wild_double(random &r, const double_field &f)
{
    const double span = f.hi - f.lo;
    switch (pick(r, 16)) {
    case 0: return 0.0;
    case 1: return -0.0;
    case 2: return f.lo - 10 * span;
    case 3: return f.hi + 10 * span;
    case 4: return -1e3;
    case 5: return 1e3;
    case 6: return 1e12;
    case 7: return -1e12;
    case 8: return 1e300;
    case 9: return -1e300;
    case 10: return std::numeric_limits<double>::max();
    case 11: return std::numeric_limits<double>::denorm_min();
    case 12: return 3.4e38; // the largest a preset's float can carry
    case 13: return nan;
    case 14: return pick(r, 2) ? inf : -inf;
    default: return -f.hi;
    }
}

// A record drawn for one case: every field keeps its default, is drawn within its usual range,
// or (at the case's own rate) takes a wild value. Non-finite values come rarely, since one of
// them stops the build before growth.
st_tree draw_record(unsigned seed)
{
    random r;
    r.fixed(static_cast<int>(seed));
    st_tree t = default_params;
    t.num_branches = r.z_zakresu(2, 60); // small trees unless drawn wild: the suite stays quick
    const int wild_rate = pick(r, 4) * 8; // percent of fields made wild: 0, 8, 16 or 24
    const int drawn_rate = 30;
    for (const int_field &f : int_fields) {
        const int roll = pick(r, 100);
        if (roll < wild_rate)
            t.*f.field = wild_int(r, f);
        else if (roll < wild_rate + drawn_rate)
            t.*f.field = r.z_zakresu(f.lo, f.hi);
    }
    for (const double_field &f : double_fields) {
        const int roll = pick(r, 100);
        if (roll < wild_rate) {
            double v = wild_double(r, f);
            if (!std::isfinite(v) && pick(r, 4) != 0)
                v = f.hi + 10 * (f.hi - f.lo);
            t.*f.field = v;
        } else if (roll < wild_rate + drawn_rate) {
            t.*f.field = r.z_zakresu(f.lo, f.hi);
        }
    }
    t.assign_range_wmap = static_cast<char>(pick(r, 256) - 128);
    t.assign_thick_wmap = static_cast<char>(pick(r, 3));
    // Most cases write tubes and leaves, where most of the arithmetic is.
    const int render = pick(r, 20);
    t.render_type = render < 8 ? 1 : render < 15 ? 2 : render < 19 ? 0 : wild_int(r, int_fields[5]);
    // A preset's leaves are on often enough to reach every leaf shape.
    if (pick(r, 2))
        t.leaf_shape = r.z_zakresu(1, 5);
    return t;
}

// Fails the whole program, naming the case, when a build runs past its time.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void arm(const std::string &what)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        what_ = what;
        deadline_ = std::chrono::steady_clock::now() + build_limit;
        armed_ = true;
        wake_.notify_all();
    }
    void disarm()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            if (!armed_) {
                wake_.wait(lock);
                continue;
            }
            if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "the build of %s ran past %lld s\n", what_.c_str(),
                             static_cast<long long>(build_limit.count()));
                std::fflush(stderr);
                std::abort();
            }
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false, armed_ = false;
    std::string what_;
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};

// The first non-finite number the build left in the foreground, described; empty if none.
std::string first_non_finite(const host::Layer &fg)
{
    auto finite = [](const std::vector<float> &v) {
        for (float x : v)
            if (!std::isfinite(x))
                return false;
        return true;
    };
    for (std::size_t i = 0; i < fg.points.size(); ++i) {
        const host::Vec3 &p = fg.points[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return "point " + std::to_string(i);
    }
    for (const host::VertexMap &map : fg.vmaps)
        for (const StoredValue &value : vmap_values(fg, map))
            if (!finite(value.values))
                return "\"" + fg.names[map.name] + "\" of point " + std::to_string(value.point);
    for (std::size_t m = 0; m < fg.vpmaps.size(); ++m)
        for (const StoredValue &value : vpmap_values(fg, static_cast<int>(m)))
            if (!finite(value.values))
                return "\"" + fg.names[fg.vpmaps[m].name] + "\" of point " +
                       std::to_string(value.point) + " on polygon " + std::to_string(value.polygon);
    return {};
}

TEST(Property, EveryRecordBuildsFiniteOrFailsWithAMessage)
{
    ToolOnPanel p;
    p.session.set_journal(false);
    Watchdog watchdog;
    int built = 0, refused = 0;
    for (unsigned seed = 1; seed <= cases; ++seed) {
        p.session.event(LWT_EVENT_RESET);
        const st_tree drawn = draw_record(seed);
        const std::string what = "record seed " + std::to_string(seed) + ": " + differences(drawn);
        SCOPED_TRACE(what);
        tt = drawn;
        tt.active = 1;
        watchdog.arm(what);
        const std::string error = p.build();
        watchdog.disarm();
        const host::Layer &fg = p.session.mesh().foreground;
        if (error.empty()) {
            ++built;
            EXPECT_EQ(first_non_finite(fg), "");
        } else {
            ++refused;
            EXPECT_TRUE(fg.empty()) << "a failed build wrote " << fg.points.size() << " points";
            EXPECT_EQ(tt.test_state, LWT_TEST_REJECT) << error;
        }
        EXPECT_LE(fg.points.size(), max_points);
        // A build never leaves the tool believing it is still running.
        EXPECT_EQ(p.session.test(), tt.test_state);
    }
    // Both outcomes are reached, or the records are drawn too tame or too wild.
    EXPECT_GT(built, cases / 4);
    EXPECT_GT(refused, cases / 20);
    std::printf("%d records built, %d refused\n", built, refused);
}

// The values no panel edit can make and that reach a division, a loop bound or an allocation:
// each is built alone from the defaults, with the leaves on and tubes written.
TEST(Property, SingleExtremeValuesBuildFiniteOrFail)
{
    ToolOnPanel p;
    p.session.set_journal(false);
    Watchdog watchdog;
    // A small tree with twigs and leaves, one field set to the value.
    auto check = [&](const std::string &what, int render_type, int twig_type, auto set) {
        SCOPED_TRACE(what);
        p.session.event(LWT_EVENT_RESET);
        tt.num_branches = 6;
        tt.render_type = render_type;
        tt.twig_type = twig_type;
        set();
        watchdog.arm(what);
        const std::string error = p.build();
        watchdog.disarm();
        if (error.empty()) {
            EXPECT_EQ(first_non_finite(p.session.mesh().foreground), "");
        }
        EXPECT_LE(p.session.mesh().foreground.points.size(), max_points);
    };
    for (const int_field &f : int_fields)
        for (int32_t v : {0, -1, -2, int_min, int_max, 1 << 20, -(1 << 20)})
            check(std::string(f.name) + " = " + std::to_string(v), 1, 1, [&] { tt.*f.field = v; });
    for (const double_field &f : double_fields)
        for (double v : {0.0, -1.0, -1e12, 1e12, 1e300, -1e300, 3.4e38, 1e-300, 5e-324, 1e-45, nan,
                         inf, -inf}) {
            std::ostringstream what;
            what << f.name << " = " << v;
            check(what.str(), 2, 5, [&] { tt.*f.field = v; });
        }
}

} // namespace
} // namespace ramulon

namespace ramulon {
namespace {

// Every count at the top of its slider (and sorting on, and the most leaves) passes the size
// guard, and every double at either end of its slider passes the magnitude guard: whatever the
// sliders reach builds as it always did.
TEST(Property, SliderEndsPassTheGuards)
{
    st_tree t = default_params;
    t.num_branches = 2000;
    t.num_segments = 25;
    t.sub_segments = 4;
    t.iterations = 25;
    t.num_trunks = 5;
    t.num_roots = 12;
    t.sort_branches = 1;
    t.twig_type = 5;
    t.twig_segments = 9;
    t.leaf_shape = 5;
    t.leaf_twin = 1;
    t.leaf_density = 10;
    for (int render = 0; render < 3; ++render) {
        t.render_type = render;
        EXPECT_EQ(oversized_parameter(t), nullptr) << render;
    }
    for (const double_field &f : double_fields)
        for (double v : {f.lo, f.hi}) {
            st_tree d = default_params;
            d.*f.field = v;
            const char *problem = nullptr;
            EXPECT_EQ(out_of_scale_parameter(d, problem), nullptr) << f.name << " = " << v;
        }
}

// A refused record names the value to change on the host's message line.
TEST(Property, RefusalsNameTheValue)
{
    ToolOnPanel p;
    p.session.event(LWT_EVENT_RESET);
    tt.roots_gravity = 1e300;
    EXPECT_EQ(p.build(), "Invalid parameter value");
    ASSERT_FALSE(p.session.messages().empty());
    EXPECT_EQ(p.session.messages().back().line1, "\"Roots Gravity\" is too large a number.");
    tt.roots_gravity = 1e-31;
    EXPECT_EQ(p.build(), "Invalid parameter value");
    EXPECT_EQ(p.session.messages().back().line1, "\"Roots Gravity\" is too close to zero.");
    tt.roots_gravity = -1e6; // a million is still a number of a tree, and so is 0
    tt.wg_hardness = 0.0;
    tt.render_type = 1;
    EXPECT_EQ(p.build(), "");

    p.session.event(LWT_EVENT_RESET);
    tt.num_roots = 200000;
    tt.render_type = 1;
    EXPECT_EQ(p.build(), "Tree too large");
    EXPECT_EQ(p.session.messages().back().line1,
              "\"Number of roots\" makes the tree too large to build.");
    EXPECT_EQ(tt.test_state, LWT_TEST_REJECT);
    tt.render_type = 0; // a skeleton has no roots
    EXPECT_EQ(p.build(), "");

    p.session.event(LWT_EVENT_RESET);
    tt.num_branches = 40000;
    tt.sort_branches = 1;
    EXPECT_STREQ(oversized_parameter(tt), "Branches");
    tt.iterations = 1000000;
    EXPECT_STREQ(oversized_parameter(tt), "Iterations");
}

// The longest chains the size guard lets through: a trunk that never reaches the ground makes
// all of its steps, and the model walks its nodes recursively.
TEST(Property, LongestChainsBuild)
{
    ToolOnPanel p;
    p.session.set_journal(false);
    p.session.event(LWT_EVENT_RESET);
    tt.num_branches = 2;
    tt.num_segments = 249;
    tt.sub_segments = 1;
    tt.bias = 0.1;
    tt.twig_type = 1;
    tt.render_type = 1;
    ASSERT_EQ(oversized_parameter(tt), nullptr);
    const std::string error = p.build();
    if (error.empty()) {
        EXPECT_EQ(first_non_finite(p.session.mesh().foreground), "");
    }
    tt.num_segments = 250;
    EXPECT_STREQ(oversized_parameter(tt), "Segments");
    EXPECT_EQ(p.build(), "Tree too large");
}

} // namespace
} // namespace ramulon
