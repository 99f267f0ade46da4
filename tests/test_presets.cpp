// The preset record: its 63 items in their order, single-precision narrowing, the clamp and
// steps of loading, and the host's text form of the save and load state.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/preset_state.h"
#include "support/panel_session.h"
#include "tool.h"

namespace ramulon {
namespace {

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string saved(const st_tree &t)
{
    host::preset_writer w;
    shelf_save(const_cast<st_tree *>(&t), w.state(), "unused");
    return w.text();
}

// Loads the text into the record; returns the reader's problem (empty when all went well).
std::string load(st_tree &t, const std::string &text)
{
    host::preset_reader r(text);
    shelf_load(&t, r.state(), "unused", nullptr);
    return r.problem();
}

std::string join(const std::vector<std::string> &lines, std::size_t count)
{
    std::string text;
    for (std::size_t k = 0; k < count && k < lines.size(); ++k)
        text += lines[k] + "\n";
    return text;
}

TEST(PresetRecord, ItemsInTheirOrder)
{
    // Each item gets a value of its own: integers 1000 + k, floats k + 0.25, in the stored order.
    st_tree t = default_params;
    std::vector<std::string> expected;
    auto I = [&](int32_t &f) {
        f = 1000 + static_cast<int32_t>(expected.size());
        expected.push_back("I4 " + std::to_string(f));
    };
    auto F = [&](double &f) {
        f = static_cast<double>(expected.size()) + 0.25;
        char buf[32];
        std::snprintf(buf, sizeof buf, "FP %.9g", f);
        expected.push_back(buf);
    };
    auto B = [&](char &f, int v) {
        f = static_cast<char>(v);
        expected.push_back("I4 " + std::to_string(v));
    };
    I(t.num_branches), I(t.num_segments), F(t.branch_crookedness), F(t.diverge), F(t.branch_thickness);
    F(t.trunk_thickness), I(t.diverge_limit), F(t.tree_center), F(t.branch_bend), F(t.distribution_power);
    I(t.iterations), F(t.bias), I(t.random_seed), F(t.last_fork_distance), I(t.relative_spacing);
    F(t.wg_range), F(t.wg_hardness), F(t.tip_jitter), F(t.normals_influence), I(t.spare_int1);
    I(t.spare_int2), I(t.render_type), I(t.refresh_mode), F(t.min_angle), I(t.optimization_passes);
    B(t.assign_range_wmap, 1), B(t.assign_thick_wmap, 0), F(t.wg_thick_max), I(t.num_roots);
    F(t.roots_gravity), F(t.roots_length), F(t.roots_crookedness), F(t.trunk_crookedness);
    F(t.spare_double), I(t.sort_branches), I(t.sub_segments), F(t.tree_center_variation);
    F(t.trunk_offset), I(t.num_trunks), F(t.tips_thickness), F(t.twig_length), F(t.twig_fixed_length);
    F(t.twig_range), I(t.twig_segments), I(t.twig_type), I(t.twig_fixed), F(t.twig_coverage);
    F(t.trunk_connection_bend), F(t.trunk_bend), I(t.trunk_thick_type), I(t.trunk_influence);
    F(t.leaf_width), F(t.leaf_length), I(t.leaf_shape), F(t.leaf_out), F(t.leaf_hang);
    F(t.leaf_tip_hang), F(t.leaf_randomness), I(t.leaf_twin), F(t.leaf_size), F(t.leaf_size_tip);
    I(t.leaf_density), I(t.spare_int3);
    // last_fork_distance's distinct value is above 1 and would be clamped on reading; the
    // order check writes only.
    ASSERT_EQ(expected.size(), 63u);

    const std::vector<std::string> lines = lines_of(saved(t));
    ASSERT_EQ(lines.size(), 63u);
    for (std::size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(lines[k], expected[k]) << "item " << k;

    // Reading puts every item back where it came from.
    std::string clamped = saved(t);
    clamped.replace(clamped.find("FP 13.25"), 8, "FP 1");
    st_tree back = default_params;
    EXPECT_EQ(load(back, saved(t)), "");
    EXPECT_EQ(saved(back), clamped);
}

TEST(PresetRecord, DoublesComeBackInSinglePrecision)
{
    st_tree t = default_params;
    t.branch_thickness = 0.03;
    t.leaf_length = 0.1;
    t.random_seed = -123;
    st_tree back = default_params;
    back.branch_thickness = 9;
    EXPECT_EQ(load(back, saved(t)), "");
    EXPECT_EQ(back.branch_thickness, 0.029999999329447746);
    EXPECT_EQ(back.leaf_length, 0.10000000149011612);
    EXPECT_EQ(back.random_seed, -123);
}

TEST(PresetRecord, LastForkDistanceAboveOneLoadsAsOne)
{
    st_tree t = default_params;
    t.last_fork_distance = 1.5;
    st_tree back = default_params;
    load(back, saved(t));
    EXPECT_EQ(back.last_fork_distance, 1.0);
    t.last_fork_distance = 0.75;
    load(back, saved(t));
    EXPECT_EQ(back.last_fork_distance, 0.75);
    // No other clamp: a preset may carry what the panel would have refused.
    t.num_branches = 0;
    t.min_angle = -0.5;
    load(back, saved(t));
    EXPECT_EQ(back.num_branches, 0);
    EXPECT_EQ(back.min_angle, -0.5);
}

TEST(PresetRecord, WeightMapFlagsKeepTheLowByte)
{
    st_tree t = default_params;
    std::vector<std::string> lines = lines_of(saved(t));
    lines[25] = "I4 256";
    lines[26] = "I4 257";
    st_tree back = default_params;
    EXPECT_EQ(load(back, join(lines, lines.size())), "");
    EXPECT_EQ(back.assign_range_wmap, 0);
    EXPECT_EQ(back.assign_thick_wmap, 1);
}

TEST(PresetRecord, ABrokenPresetKeepsTheFieldsAfterTheBreak)
{
    st_tree t = default_params;
    t.num_branches = 40;
    t.branch_thickness = 0.5;
    t.leaf_density = 7;
    const std::vector<std::string> lines = lines_of(saved(t));

    st_tree back = default_params;
    back.leaf_density = 3;
    back.wg_range = 0.75;
    // Cut after item 14: items 15.. keep their values.
    EXPECT_EQ(load(back, join(lines, 15)), "line 16: the preset ends where an FP item was expected");
    EXPECT_EQ(back.num_branches, 40);
    EXPECT_EQ(back.branch_thickness, 0.5);
    EXPECT_EQ(back.wg_range, 0.75);
    EXPECT_EQ(back.leaf_density, 3);
    EXPECT_EQ(back.active, 1) << "the loading steps still run";

    std::vector<std::string> bad = lines;
    bad[4] = "FP inf";
    back = default_params;
    EXPECT_EQ(load(back, join(bad, bad.size())), "line 5: \"inf\" is no finite float");
    EXPECT_EQ(back.num_branches, 40);
    EXPECT_EQ(back.branch_thickness, default_params.branch_thickness);
    EXPECT_EQ(back.leaf_density, default_params.leaf_density);

    bad = lines;
    bad[0] = "FP 40";
    back = default_params;
    EXPECT_EQ(load(back, join(bad, bad.size())), "line 1: expected an I4 item, found \"FP 40\"");
    EXPECT_EQ(back.num_branches, default_params.num_branches);
    bad[0] = "I4 4000000000";
    EXPECT_NE(load(back, join(bad, bad.size())), "");
    bad[0] = "I4 12abc";
    EXPECT_NE(load(back, join(bad, bad.size())), "");
    bad[0] = "FP 3.5e38";
    EXPECT_NE(load(back, join(bad, bad.size())), "") << "beyond the largest float";
}

TEST(PresetRecord, LoadingStepsRequestRebuildOnlyInAutomaticMode)
{
    ToolOnPanel p;
    st_tree manual = default_params;
    manual.refresh_mode = 0;
    tt.active = 0;
    tt.test_state = 3;
    tt.change_level = 2;
    tt.dirty = 0;
    const int refreshes = host::panel_refresh_count(p.panel);
    load(tt, saved(manual));
    EXPECT_EQ(tt.active, 1) << "applying a preset activates the tool";
    EXPECT_EQ(tt.dirty, 1);
    EXPECT_EQ(tt.test_state, 0) << "manual mode: no rebuild";
    EXPECT_EQ(tt.change_level, 0) << "the next build regrows everything";
    EXPECT_EQ(host::panel_refresh_count(p.panel), refreshes + 1);

    load(tt, saved(default_params));
    EXPECT_EQ(p.session.test(), LWT_TEST_UPDATE);
}

TEST(PresetState, FloatsSurviveTheirTextForm)
{
    host::preset_writer w;
    const float values[] = {0.1f, -1e-30f, 3.4028235e38f, 1.0f / 3.0f};
    w.state()->writeFP(w.state()->data, values, 4);
    host::preset_reader r(w.text());
    float back[4] = {};
    EXPECT_EQ(r.state()->readFP(r.state()->data, back, 4), 4);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(back[k], values[k]);
    int32_t i = 0;
    EXPECT_EQ(r.state()->readI4(r.state()->data, &i, 1), 0) << "past the end";
    EXPECT_EQ(r.bad_line(), 5);
}

} // namespace
} // namespace ramulon
