// The three plug-in modules built from the same sources, each loaded from its file into the
// host of its own interface generation.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/obj_loader.h"
#include "host/session.h"
#include "host/settings.h"
#include "host/xpanel.h"

namespace ramulon {
namespace {

std::string module_file(const std::string &name)
{
    return std::string(RAMULON_MODULE_DIR) + "/" + name + ".so";
}

// Loads a module into a host of the given generation, picks the tool, applies the edits and
// builds on the default crown. Returns the journal's lines.
std::vector<std::string> build_with(const std::string &module, int generation,
                                    const std::vector<std::string> &edits)
{
    host::Session s;
    s.services().echo_messages = false;
    EXPECT_TRUE(s.load(module_file(module))) << s.error();
    EXPECT_EQ(s.activate(generation), AFUNC_OK) << s.error();
    EXPECT_EQ(s.start(), 1);
    // A module file stays loaded while the process holds it, and with it the parameters of an
    // earlier session: start every build from the defaults.
    s.event(LWT_EVENT_RESET);
    EXPECT_EQ(host::load_obj_text(host::default_crown_obj(), "default crown", s.mesh().background).message(), "");
    LWXPanelID panel = s.panel();
    EXPECT_NE(panel, nullptr);
    for (const std::string &edit : edits)
        EXPECT_EQ(host::apply_setting(panel, edit).message(), "") << edit;
    EXPECT_EQ(s.build().message(), "");
    return s.journal().lines();
}

const std::vector<std::string> polygonal_with_leaves = {
    "num_branches=60", "render_type=1", "twig_type=1", "random_seed=7"};

// Fields of a journal line.
std::vector<std::string> fields(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string f; in >> f;)
        out.push_back(f);
    return out;
}

TEST(Modules, CurrentAndPreviousGenerationWriteTheSameTree)
{
    const auto ve11 = build_with("RamulonVE11", 11, polygonal_with_leaves);
    const auto do10 = build_with("RamulonDO10", 10, polygonal_with_leaves);
    ASSERT_GT(ve11.size(), 1000u);
    EXPECT_EQ(ve11, do10);
}

TEST(Modules, EachModuleNeedsItsOwnGenerationsServices)
{
    // module, host generation, activation result, a service the host must name as missing
    const struct {
        const char *module;
        int generation;
        int result;
        const char *missing;
    } cases[] = {
        {"RamulonDO10", 11, AFUNC_BADGLOBAL, "\"LWXPanel\""},
        {"RamulonVE11", 10, AFUNC_BADGLOBAL, "\"LWXPanel 2\""},
        {"RamulonLW9", 9, AFUNC_OK, nullptr}, // the earlier release asks for the current names
    };
    for (const auto &c : cases) {
        host::Session s;
        s.services().echo_messages = false;
        ASSERT_TRUE(s.load(module_file(c.module))) << s.error();
        EXPECT_EQ(s.activate(c.generation), c.result) << c.module;
        if (c.missing) {
            const std::string message = host::activation_message(c.result, s.services());
            EXPECT_NE(message.find(c.missing), std::string::npos) << message;
        }
    }
}

TEST(Modules, EachPanelShowsItsOwnVersion)
{
    const std::pair<const char *, int> modules[] = {
        {"RamulonVE11", 11}, {"RamulonDO10", 10}, {"RamulonLW9", 9}};
    for (const auto &[name, generation] : modules) {
        host::Session s;
        s.services().echo_messages = false;
        ASSERT_TRUE(s.load(module_file(name)));
        ASSERT_EQ(s.activate(generation), AFUNC_OK);
        const host::panel_value v = host::get_value(s.panel(), 32810);
        EXPECT_EQ(v.s, generation == 9 ? "1.6.24" : "1.6.28") << name;
    }
}

TEST(Modules, EarlierReleaseDiffersOnlyInWeightsAndLeaves)
{
    // The skeleton carries no maps: all three releases write it alike.
    const std::vector<std::string> skeleton = {"num_branches=60", "random_seed=7"};
    EXPECT_EQ(build_with("RamulonLW9", 9, skeleton), build_with("RamulonVE11", 11, skeleton));

    // Without leaves, only the tube weights differ (no running blend along the chain).
    std::vector<std::string> no_leaves = polygonal_with_leaves;
    no_leaves.push_back("leaf_shape=0");
    const auto lw9 = build_with("RamulonLW9", 9, no_leaves);
    const auto ve11 = build_with("RamulonVE11", 11, no_leaves);
    ASSERT_EQ(lw9.size(), ve11.size());
    size_t weight_differences = 0;
    for (size_t i = 0; i < lw9.size(); ++i) {
        if (lw9[i] == ve11[i])
            continue;
        const auto a = fields(lw9[i]), b = fields(ve11[i]);
        ASSERT_GE(a.size(), 4u) << lw9[i];
        EXPECT_EQ(a[0], "pntVMap") << lw9[i];
        EXPECT_EQ(a[2], "WGHT") << lw9[i];
        EXPECT_EQ(std::vector<std::string>(a.begin(), a.begin() + 5),
                  std::vector<std::string>(b.begin(), b.begin() + 5));
        ++weight_differences;
    }
    EXPECT_GT(weight_differences, 0u);

    // With leaves: the earlier release writes leaves of every owner, without weights on them.
    const auto lw9_leaves = build_with("RamulonLW9", 9, polygonal_with_leaves);
    const auto ve11_leaves = build_with("RamulonVE11", 11, polygonal_with_leaves);
    auto leaf_points = [](const std::vector<std::string> &journal) {
        std::set<std::string> points, weighted;
        for (const std::string &line : journal) {
            const auto f = fields(line);
            if (f[0] == "pntVMap" && f[3] == "RM_leaf")
                points.insert(f[1]);
            if (f[0] == "pntVMap" && f[2] == "WGHT")
                weighted.insert(f[1]);
        }
        size_t with_weights = 0;
        for (const std::string &p : points)
            with_weights += weighted.count(p);
        return std::make_pair(points.size(), with_weights);
    };
    const auto [lw9_count, lw9_weighted] = leaf_points(lw9_leaves);
    const auto [ve11_count, ve11_weighted] = leaf_points(ve11_leaves);
    EXPECT_GT(ve11_count, 0u);
    EXPECT_GE(lw9_count, ve11_count);
    EXPECT_EQ(lw9_weighted, 0u);
    EXPECT_EQ(ve11_weighted, ve11_count);
}

TEST(Modules, PolygonalAndSubdTreesDifferOnlyInPolygonType)
{
    std::vector<std::string> edits = polygonal_with_leaves;
    const auto polygonal = build_with("RamulonVE11", 11, edits);
    edits.push_back("render_type=2");
    auto subd = build_with("RamulonVE11", 11, edits);
    ASSERT_EQ(polygonal.size(), subd.size());
    size_t patches = 0;
    for (std::string &line : subd) {
        const auto at = line.find(" PTCH ");
        if (line.rfind("addPoly ", 0) == 0 && at != std::string::npos) {
            line.replace(at, 6, " FACE ");
            ++patches;
        }
    }
    EXPECT_GT(patches, 1000u);
    EXPECT_EQ(polygonal, subd);
}

TEST(Modules, FixedSeedRepeatsTheJournalAndSeedZeroDoesNot)
{
    const std::vector<std::string> seeded = {"render_type=1", "twig_type=5", "random_seed=123"};
    EXPECT_EQ(build_with("RamulonVE11", 11, seeded), build_with("RamulonVE11", 11, seeded));

    // Seed 0 never re-seeds: the second build of a session goes on drawing where the first
    // stopped. (Two fresh loads within one second start from the same clock seed.)
    host::Session s;
    s.services().echo_messages = false;
    ASSERT_TRUE(s.load(module_file("RamulonVE11")));
    ASSERT_EQ(s.activate(11), AFUNC_OK);
    s.start();
    s.event(LWT_EVENT_RESET);
    ASSERT_EQ(host::load_obj_text(host::default_crown_obj(), "crown", s.mesh().background).message(), "");
    ASSERT_EQ(host::apply_setting(s.panel(), "random_seed=0").message(), "");
    ASSERT_EQ(s.build().message(), "");
    const std::vector<std::string> first = s.journal().lines();
    ASSERT_EQ(s.build().message(), "");
    EXPECT_NE(first, s.journal().lines());
}

} // namespace
} // namespace ramulon
