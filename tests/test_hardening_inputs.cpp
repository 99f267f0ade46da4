// Everything people hand the tool (OBJ envelopes, presets, typed settings, whole parameter
// records) must leave the host running, its files whole and its mesh finite. The inputs kept in
// fuzz/corpus (the fuzz targets' seeds and every reproducer they found) are replayed here through
// the same checks, so that each stays mended in the ordinary and the sanitizer builds.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/obj_loader.h"
#include "model.h"
#include "support/input_checks.h"
#include "support/panel_session.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

std::string read_bytes(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the kept inputs of one fuzz target through its check; each must keep every promise.
template <typename Check>
void replay(const std::string &target, Check check)
{
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(fs::path(RAMULON_SOURCE_DIR) / "fuzz" / "corpus" / target))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << target;
    for (const fs::path &file : files)
        EXPECT_EQ(check(read_bytes(file)), "") << file;
}

TEST(HardeningInputs, KeptEnvelopesLoadOrAreRefusedAndGrowFinite)
{
    replay("fuzz_obj", [](const std::string &bytes) { return inputs::check_obj(bytes); });
}

TEST(HardeningInputs, KeptPresetsApplyAndGrowFinite)
{
    PresetFolder folder;
    replay("fuzz_preset", [&](const std::string &bytes) {
        return inputs::check_preset(bytes, folder.file("applied.preset"));
    });
}

TEST(HardeningInputs, KeptSettingsHoldThePanelsClamps)
{
    replay("fuzz_set", [](const std::string &bytes) { return inputs::check_settings(bytes); });
}

// A coordinate next to the largest double is read as that double, never as infinity, so the
// crown loads; one past it is refused naming the line.
TEST(HardeningInputs, CoordinateNextToTheLargestDoubleIsReadExactly)
{
    host::Layer layer;
    ASSERT_EQ(host::load_obj_text("v 0 1 0\nv 1 1 0\nv 0 2 -1.7976931348623157e+308\nf 1 2 3\n", "edge.obj", layer)
                  .message(),
              "");
    EXPECT_EQ(layer.points[2].z, -std::numeric_limits<double>::max());

    EXPECT_EQ(host::load_obj_text("v 0 1 0\nv 1 1 0\nv 0 2 -1.8e308\nf 1 2 3\n", "edge.obj", layer).message(),
              "edge.obj:3: \"-1.8e308\" is not a finite number");
    EXPECT_TRUE(layer.empty());
}

// A crown reaching toward the largest double has a path length that overflows: its texture v
// is 0, as for a model without length, and never inf / inf.
TEST(HardeningInputs, OverflowedPathLengthGivesTextureVZero)
{
    model_typ model;
    model.longest = std::numeric_limits<double>::infinity();
    EXPECT_EQ(model.path_v(std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_EQ(model.path_v(1.0), 0.0);
    model.longest = 4.0;
    EXPECT_EQ(model.path_v(1.0), 0.25);
}

// A record at every extreme at once, over the small crown, in every render type.
TEST(HardeningInputs, ExtremeRecordsFailWithAMessageOrGrowFinite)
{
    const double big = std::numeric_limits<double>::max();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double extreme : {big, -big, 0.0, -0.0, 1e-300, nan}) {
        for (int render_type = 0; render_type < 3; ++render_type) {
            st_tree t = default_params;
            for (double *field : {&t.branch_crookedness, &t.branch_thickness, &t.trunk_thickness,
                                  &t.tree_center, &t.branch_bend, &t.bias, &t.tip_jitter,
                                  &t.roots_gravity, &t.twig_length, &t.leaf_size})
                *field = extreme;
            t.num_branches = std::numeric_limits<int32_t>::max();
            t.num_segments = std::numeric_limits<int32_t>::min();
            t.render_type = render_type;
            t.random_seed = 0;
            inputs::cap_sizes(t);
            inputs::ToolSession tool;
            inputs::small_crown(tool.session.mesh().background);
            EXPECT_EQ(inputs::check_record(tool, t, false, (render_type + 1) % 3), "")
                << "every field " << extreme << ", render type " << render_type;
        }
    }
}

// Envelopes no OBJ file yields as easily: a point, a flat sliver, coordinates near the limit,
// a crown below the ground and one beyond float's range.
TEST(HardeningInputs, DegenerateEnvelopesFailWithAMessageOrGrowFinite)
{
    const double big = std::numeric_limits<double>::max() / 4;
    const std::vector<std::vector<host::Vec3>> envelopes = {
        {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}},
        {{0, 2, 0}, {1, 2, 0}, {2, 2, 0}},
        {{-big, 1, 0}, {big, 1, 0}, {0, big, big}},
        {{0, -3, 0}, {1, -3, 0}, {0, -3, 1}},
        // Steps beyond float's range: the growth-vector map is scaled, not infinite.
        {{-1e40, 1e40, -1e40}, {1e40, 1e40, -1e40}, {1e40, 3e40, 1e40}, {-1e40, 3e40, 1e40}},
    };
    for (std::size_t k = 0; k < envelopes.size(); ++k) {
        for (int render_type = 0; render_type < 3; ++render_type) {
            inputs::ToolSession tool;
            host::Layer &bg = tool.session.mesh().background;
            std::vector<int> points;
            for (const host::Vec3 &p : envelopes[k])
                points.push_back(bg.add_point(p));
            bg.add_polygon(ID_FACE, points);
            st_tree t = default_params;
            t.num_branches = 24;
            t.render_type = render_type;
            EXPECT_EQ(inputs::check_record(tool, t, true, 0), "") << "envelope " << k << ", render type " << render_type;
        }
    }
}

// A finite skeleton in an envelope reaching to the largest doubles, whose twigs overflow where
// they are laid around it: found by fuzz_build. The build is refused as out of range and
// leaves nothing behind, in every render type.
TEST(HardeningInputs, TwigsThatOverflowAFiniteSkeletonRefuseTheTree)
{
    const std::vector<host::Vec3> envelope = {
        {-1.4390601733500783, 3.8019449418469948, 0.45506267706122916},
        {-2.2690724088482481, -0.55045789937278999, -2.5564660751805977},
        {-1.2919312098220974, 2.7882352941176429, -2.8156177078314979},
        {-2.2058611984493179, 8.2185353811091823e+307, -2},
        {-2.9797052253249481, 4.144445526604958, -1.129995281051257},
        {-0.90492708999298799, 0.62324655570235898, -1.2117647058823531},
        {-1.2117647058823531, 1.0862745098020365, -1.7976931348623157e+308}};
    for (int render_type = 0; render_type < 3; ++render_type) {
        inputs::ToolSession tool;
        host::Layer &bg = tool.session.mesh().background;
        for (const host::Vec3 &p : envelope)
            bg.add_point(p);
        bg.add_polygon(ID_FACE, {0, 0, 0});
        bg.add_polygon(ID_FACE, {1, 2, 1, 3, 4, 3, 5, 6});
        st_tree &t = tool.record();
        t.num_branches = 2;
        t.num_trunks = 3;
        t.random_seed = 652;
        t.twig_fixed = 0;
        t.twig_type = 4;
        t.render_type = render_type;
        std::optional<std::string> error;
        EXPECT_EQ(tool.build(error), "") << "render type " << render_type;
        EXPECT_EQ(error.value_or("built"), "Growth out of range") << "render type " << render_type;
    }
}

} // namespace
} // namespace ramulon
