// The tool's panel as the modeller shows it: clamps, change levels, rebuild requests, the
// enable rule, and parameter edits typed by a user.
#include <gtest/gtest.h>

#include <cmath>

#include "host/preset_state.h"
#include "host/settings.h"
#include "support/panel_session.h"
#include "tool.h"
#include "trees.h"

namespace ramulon {
namespace {

constexpr double pi = 3.1415926535898;

TEST(Panel, ClampsApplyWhereTheToolSaysAndNowhereElse)
{
    ToolOnPanel p;
    EXPECT_EQ(p.set("Branches=0"), "");
    EXPECT_EQ(tt.num_branches, 2);
    EXPECT_EQ(p.set("Branches=1"), "");
    EXPECT_EQ(tt.num_branches, 2);

    EXPECT_EQ(p.set("Branches=3"), "");
    EXPECT_EQ(p.set("Trunks=10"), "");
    EXPECT_EQ(tt.num_trunks, 3);
    // Lowering the branches later leaves the trunks alone; growth caps them.
    EXPECT_EQ(p.set("Branches=2"), "");
    EXPECT_EQ(tt.num_trunks, 3);

    EXPECT_EQ(p.set("Branch thickness=0"), "");
    EXPECT_EQ(tt.branch_thickness, 0.001);
    EXPECT_EQ(p.set("Branch thickness=0.0001"), "");
    EXPECT_EQ(tt.branch_thickness, 0.0001);

    EXPECT_EQ(p.set("Min angle=-10"), "");
    EXPECT_EQ(tt.min_angle, (10 * pi) / 180);

    // Slider ranges are hints only.
    EXPECT_EQ(p.set("Tree center=300"), "");
    EXPECT_EQ(tt.tree_center, 3.0);
    EXPECT_EQ(p.set("Last fork distance=150"), "");
    EXPECT_EQ(tt.last_fork_distance, 1.0);
    EXPECT_EQ(p.set("Twig/Segments=12"), "");
    EXPECT_EQ(tt.twig_segments, 9);
    EXPECT_EQ(p.set("Sub Segments=0"), "");
    EXPECT_EQ(tt.sub_segments, 1);
    EXPECT_EQ(p.set("Number of roots=2"), "");
    EXPECT_EQ(tt.num_roots, 5);
    EXPECT_EQ(p.set("Optimization passes=-3"), "");
    EXPECT_EQ(tt.optimization_passes, 0);
    EXPECT_EQ(p.set("Bias=0.05"), "");
    EXPECT_EQ(tt.bias, 0.1);

    // The ids without a control clamp too.
    EXPECT_EQ(p.set("diverge=0"), "");
    EXPECT_EQ(tt.diverge, 0.01);
    EXPECT_EQ(p.set("roots_length=0.05"), "");
    EXPECT_EQ(tt.roots_length, 0.1);
    EXPECT_EQ(p.set("spare_double=-7.5"), "");
    EXPECT_EQ(tt.spare_double, -7.5);
    EXPECT_EQ(p.set("spare_int1=-4"), "");
    EXPECT_EQ(tt.spare_int1, -4);
}

TEST(Panel, ManualModeRebuildsOnlyWhenAsked)
{
    ToolOnPanel p;
    tt.test_state = 0;
    EXPECT_EQ(p.set("Branches=20"), "");
    EXPECT_EQ(p.session.test(), LWT_TEST_UPDATE) << "Automatic mode rebuilds after any edit";

    // Leaving Automatic asks for nothing.
    tt.test_state = 0;
    EXPECT_EQ(p.set("Refresh=Manual"), "");
    EXPECT_EQ(p.session.test(), LWT_TEST_NOTHING);
    EXPECT_EQ(p.set("Branches=30"), "");
    EXPECT_EQ(p.set("Trunk thickness=0.2"), "");
    EXPECT_EQ(p.session.test(), LWT_TEST_NOTHING);

    // "Render Type" always asks; re-choosing "Manual" asks for one rebuild.
    EXPECT_EQ(p.set("Render Type=Polygonal"), "");
    EXPECT_EQ(p.session.test(), LWT_TEST_UPDATE);
    tt.test_state = 0;
    EXPECT_EQ(p.set("Refresh=0"), "");
    EXPECT_EQ(p.session.test(), LWT_TEST_UPDATE);
    tt.test_state = 0;
    EXPECT_EQ(p.set("Refresh=Automatic"), "");
    EXPECT_EQ(p.session.test(), LWT_TEST_UPDATE);
    EXPECT_EQ(tt.refresh_mode, 1);
}

TEST(Panel, EditsMarkHowMuchTheNextBuildRedoes)
{
    ToolOnPanel p;
    tt.change_level = 2;
    updated = 1; // as a build leaves it
    EXPECT_EQ(p.set("Trunk thickness=0.05"), "");
    EXPECT_EQ(tt.change_level, 2) << "output only";
    EXPECT_EQ(p.set("Trunk bend=1"), "");
    EXPECT_EQ(tt.change_level, 1) << "growth";
    EXPECT_EQ(p.set("Leaf/Length=0.3"), "");
    EXPECT_EQ(tt.change_level, 1) << "a later output change cannot raise the level";
    EXPECT_EQ(p.set("Branch tip jitter=0.2"), "");
    EXPECT_EQ(tt.change_level, 0) << "start positions";

    // "Refresh" changes no level.
    tt.change_level = 2;
    EXPECT_EQ(p.set("Refresh=Manual"), "");
    EXPECT_EQ(tt.change_level, 2);
    EXPECT_EQ(tt.dirty, 1);
}

TEST(Panel, EachWeightMapFlagShowsAndSetsItsOwnValue)
{
    ToolOnPanel p;
    EXPECT_EQ(p.set("Assign Range Weight Map=off"), "");
    EXPECT_EQ(tt.assign_range_wmap, 0);
    EXPECT_EQ(tt.assign_thick_wmap, 1);
    EXPECT_EQ(p.get(32795).i, 0);
    EXPECT_EQ(p.get(32796).i, 1);

    EXPECT_EQ(p.set("Assign Thick Weight Map=true"), "");
    EXPECT_EQ(p.set("Assign Range Weight Map=1"), "");
    EXPECT_EQ(p.set("assign_thick_wmap=0"), "");
    EXPECT_EQ(tt.assign_range_wmap, 1);
    EXPECT_EQ(tt.assign_thick_wmap, 0);
    EXPECT_EQ(p.get(32795).i, 1);
    EXPECT_EQ(p.get(32796).i, 0);
}

TEST(Panel, ResetRestoresEveryFieldIncludingThoseWithoutAControl)
{
    ToolOnPanel p;
    tt.diverge = 5;
    tt.diverge_limit = 9;
    tt.spare_int1 = 4;
    tt.spare_int2 = 4;
    tt.relative_spacing = 1;
    tt.roots_length = 3;
    tt.spare_double = 3;
    tt.spare_int3 = 0;
    tt.num_branches = 7;
    tt.leaf_size_tip = 9;
    tt.change_level = 2;
    tt.test_state = 3;
    tt.tree_height = 12;
    tt.active = 0;
    p.session.event(LWT_EVENT_RESET);

    // Every stored field, compared through the preset record, then the run-time ones.
    const auto record = [](const st_tree &t) {
        host::preset_writer w;
        shelf_save(const_cast<st_tree *>(&t), w.state(), "");
        return w.text();
    };
    EXPECT_EQ(record(tt), record(default_params));
    EXPECT_EQ(tt.active, 1);
    EXPECT_EQ(tt.dirty, 1);
    EXPECT_EQ(tt.test_state, 0);
    EXPECT_EQ(tt.num_bg_polys, 0);
    EXPECT_EQ(tt.diverge, 0.6);
    EXPECT_EQ(tt.diverge_limit, 2);
    EXPECT_EQ(tt.spare_int1, 0);
    EXPECT_EQ(tt.roots_length, 0.5);
    EXPECT_EQ(tt.spare_double, 0.1);
    EXPECT_EQ(tt.spare_int3, 3);
    EXPECT_EQ(tt.change_level, 0);
    EXPECT_EQ(tt.tree_height, 0.0);
}

TEST(Panel, GetterAndSetterAnswerOnlyForData)
{
    ToolOnPanel p;
    EXPECT_STREQ(static_cast<const char *>(Get_Parms(&tt, 32810)), version_text);
    EXPECT_EQ(Get_Parms(&tt, 32770), &tt.num_branches);
    EXPECT_EQ(Get_Parms(&tt, 32791), &tt.active);
    EXPECT_EQ(Get_Parms(&tt, 32803), &tt.roots_length);
    for (unsigned long id : {32769ul, 32798ul, 32799ul, 32806ul, 32807ul, 32808ul, 32774ul, 32769ul - 1, 32842ul, 0ul})
        EXPECT_EQ(Get_Parms(&tt, id), nullptr) << id;

    int one = 1;
    tt.active = 1;
    EXPECT_EQ(Set_Parms(&tt, 32791, &one), 0) << "the activity flag is the tool's own";
    EXPECT_EQ(Set_Parms(&tt, 32799, &one), 0);
    EXPECT_EQ(Set_Parms(&tt, 40000, &one), 0);
    tt.dirty = 0;
    double d = 0.5;
    EXPECT_EQ(Set_Parms(&tt, 32812, &d), 2);
    EXPECT_EQ(tt.dirty, 1);
}

TEST(Panel, FormTabsAndInactiveRule)
{
    ToolOnPanel p;
    EXPECT_EQ(host::panel_title(p.panel), "Ramulon 1.6");
    EXPECT_EQ(host::panel_tabs(p.panel), (std::vector<std::string>{"Tree", "Twig", "Leaf", "Advanced"}));
    const auto controls = host::panel_controls(p.panel);
    EXPECT_EQ(controls.size(), 60u);
    const host::panel_control *hidden = host::find_control(p.panel, 32791);
    ASSERT_NE(hidden, nullptr);
    EXPECT_TRUE(hidden->hidden);
    const host::panel_control *jitter = host::find_control(p.panel, 32779);
    ASSERT_NE(jitter, nullptr);
    EXPECT_EQ(jitter->data_name, "Tips jitter");
    EXPECT_EQ(jitter->tab, "Tree");
    EXPECT_EQ(host::find_control(p.panel, 32833)->choices.size(), 6u);
    EXPECT_TRUE(host::find_control(p.panel, 32769)->divider_after);

    std::string text = p.render();
    EXPECT_EQ(text.find("Tool is currently inactive."), std::string::npos);
    EXPECT_EQ(text.find("--hidden--"), std::string::npos);
    EXPECT_NE(text.find("Branch crookedness        11.4592°"), std::string::npos) << text;
    EXPECT_NE(text.find("Tree center               40 %"), std::string::npos) << text;

    p.session.drop();
    EXPECT_FALSE(host::control_enabled(p.panel, 32770)) << "tab controls grey out";
    EXPECT_FALSE(host::control_enabled(p.panel, 32800));
    EXPECT_FALSE(host::control_enabled(p.panel, 32792));
    EXPECT_FALSE(host::control_enabled(p.panel, 32799));
    EXPECT_TRUE(host::control_enabled(p.panel, 32769));
    EXPECT_TRUE(host::control_enabled(p.panel, 32798));
    EXPECT_EQ(host::disabled_text(p.panel, 32770), "Tool is currently inactive.");
    text = p.render();
    EXPECT_NE(text.find("Tool is currently inactive."), std::string::npos);
    EXPECT_NE(text.find("(greyed)"), std::string::npos);
    EXPECT_NE(p.set("Branches=5"), "") << "a greyed control takes no edit";

    p.session.event(LWT_EVENT_ACTIVATE);
    EXPECT_TRUE(host::control_enabled(p.panel, 32770));
}

TEST(Panel, AboutShowsTheTwoLineMessage)
{
    ToolOnPanel p;
    ASSERT_TRUE(p.click("About"));
    const auto &messages = p.session.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().line1.rfind("ramulon 1.6.", 0), 0u);
    EXPECT_FALSE(messages.back().line2.empty());
}

TEST(Settings, NamesLabelsTabsAndValues)
{
    ToolOnPanel p;
    EXPECT_EQ(p.set("Tree/Segments=8"), "");
    EXPECT_EQ(p.set("Twig/Segments=4"), "");
    EXPECT_EQ(tt.num_segments, 8);
    EXPECT_EQ(tt.twig_segments, 4);
    EXPECT_EQ(p.set("num_segments = 11"), "");
    EXPECT_EQ(tt.num_segments, 11);

    const std::string ambiguous = p.set("Segments=5");
    EXPECT_NE(ambiguous.find("\"Tree/Segments\""), std::string::npos) << ambiguous;
    EXPECT_NE(ambiguous.find("\"Twig/Segments\""), std::string::npos) << ambiguous;
    // Both "Fixed length" controls sit in one tab: only their field names tell them apart.
    const std::string twice = p.set("Twig/Fixed length=1");
    EXPECT_NE(twice.find("twig_fixed_length"), std::string::npos) << twice;

    EXPECT_EQ(p.set("Branch crookedness=30"), "");
    EXPECT_EQ(tt.branch_crookedness, (30 * pi) / 180);
    EXPECT_EQ(p.set("WG range=25%"), "");
    EXPECT_EQ(tt.wg_range, 0.25);
    EXPECT_EQ(p.set("Type=random"), "");
    EXPECT_EQ(tt.twig_type, 5);
    EXPECT_EQ(p.set("Leaf/Shape=3"), "");
    EXPECT_EQ(tt.leaf_shape, 3);
    EXPECT_EQ(p.set("Sort branches=ON"), "");
    EXPECT_EQ(tt.sort_branches, 1);

    const std::string unknown = p.set("Crown=3");
    EXPECT_NE(unknown.find("num_branches"), std::string::npos);
    EXPECT_NE(unknown.find("Branches"), std::string::npos);
    EXPECT_NE(p.set("Branches=2.5").find("an integer"), std::string::npos);
    EXPECT_NE(p.set("Type=sideways").find("\"side\""), std::string::npos);
    EXPECT_NE(p.set("Shape=6"), "");
    EXPECT_NE(p.set("Twin=maybe").find("on, off"), std::string::npos);
    EXPECT_NE(p.set("Bias=nan"), "");
    EXPECT_NE(p.set("Bias"), "");
    EXPECT_NE(p.set("active=0"), "") << "the activity flag is no parameter";
    EXPECT_EQ(tt.active, 1);
    EXPECT_EQ(host::setting_field_id("twig_fixed_length"), 32824u);
    EXPECT_EQ(host::setting_field_id("test_state"), 0u);
}

} // namespace
} // namespace ramulon
