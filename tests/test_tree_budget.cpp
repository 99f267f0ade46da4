// The memory estimate that refuses a tree before it grows: trees beyond the machine (here one of
// 8 GB) are refused at once with the estimate, trees at the sliders' ends are not, and the
// estimate does not fall below what a build really writes.
#include <gtest/gtest.h>

#include "driver/tool_setup.h"
#include "driver/tree_budget.h"
#include "host/obj_loader.h"
#include "host/shelf.h"
#include "support/layer_reading.h"
#include "support/panel_session.h"

namespace ramulon {
namespace {

constexpr std::size_t GB = std::size_t(1) << 30;

void load_leafy(ToolOnPanel &p)
{
    host::Binding bind(p.session.services());
    const host::preset_application applied =
        host::apply_preset(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/leafy.preset");
    ASSERT_TRUE(applied.applied) << applied.problem;
    ASSERT_EQ(host::load_obj_text(host::default_crown_obj(), "crown", p.session.mesh().background).message(), "");
}

class Budget : public ::testing::Test {
protected:
    void apply_leafy() { load_leafy(p); }
    driver::TreeEstimate estimate()
    {
        host::Binding bind(p.session.services());
        const auto e = driver::estimate_tree(p.panel);
        EXPECT_TRUE(e);
        return e.value_or(driver::TreeEstimate{});
    }
    ToolOnPanel p;
};

TEST_F(Budget, TreesBeyondTheMachineAreRefusedAtOnceWithTheEstimate)
{
    apply_leafy();
    ASSERT_EQ(p.set("Branches=600000"), "");
    // Refused by the estimate, not by growing: no point is written.
    const ramulon::Status built = driver::build_tree(p.session, 8 * GB);
    ASSERT_FALSE(built);
    EXPECT_EQ(built.error().kind, ramulon::ErrorKind::out_of_memory) << "a front end answers it as memory, not input";
    std::string refused = built.message();
    EXPECT_EQ(refused.rfind("Tree too large: the build would need about ", 0), 0u) << refused;
    EXPECT_NE(refused.find(" GB"), std::string::npos) << refused;
    EXPECT_EQ(p.session.mesh().foreground.points.size(), 0u);

    // Twig segments far beyond the slider come only from a preset.
    ToolOnPanel q;
    load_leafy(q);
    {
        host::Binding bind(q.session.services());
        st_tree &t = *static_cast<st_tree *>(q.session.tool().instance);
        t.twig_segments = 9999;
        t.twig_type = 1;
    }
    // About 67 million points and 42 million polygons: more than a machine of 8 GB holds.
    refused = driver::build_tree(q.session, 8 * GB).message();
    EXPECT_EQ(refused.rfind("Tree too large", 0), 0u) << refused;
    EXPECT_EQ(refused.find('\n'), std::string::npos);
}

TEST_F(Budget, SliderEndsFitAMachineOfSixteenGigabytes)
{
    apply_leafy();
    for (const char *end : {"Branches=2000", "Tree/Segments=25", "Sub Segments=4", "Trunks=5",
                            "Number of roots=12", "Twig/Segments=9", "Density=10"}) {
        ToolOnPanel q;
        load_leafy(q);
        ASSERT_EQ(q.set(end), "") << end;
        host::Binding bind(q.session.services());
        const auto e = driver::estimate_tree(q.panel);
        ASSERT_TRUE(e);
        EXPECT_LT(e->bytes, 16.0 * GB) << end;
    }
    // The branches' end really builds, and the estimate is no lower than what it writes.
    ASSERT_EQ(p.set("Branches=2000"), "");
    const driver::TreeEstimate e = estimate();
    ASSERT_EQ(driver::build_tree(p.session, 16 * GB).message(), "");
    EXPECT_GE(e.points, static_cast<double>(p.session.mesh().foreground.points.size()));
    EXPECT_GE(e.polygons, static_cast<double>(p.session.mesh().foreground.polygon_count()));
}

// The estimate follows the trees: with many branches they join sooner, and a tree of 30,000
// branches (some 820 MB at its peak) is not refused by a limit of 2 GB.
TEST_F(Budget, ManyBranchesAreNotOverEstimated)
{
    apply_leafy();
    ASSERT_EQ(p.set("Branches=30000"), "");
    const driver::TreeEstimate e = estimate();
    EXPECT_LT(e.bytes, 1.5 * GB);
    host::Binding bind(p.session.services());
    EXPECT_EQ(driver::check_tree_size(p.panel, 2 * GB).message(), "");
}

// The first tree's arrays are made at once from the estimate, and the tree grown in them is the
// tree grown without; after a build, the next makes room for a tree like the last one instead.
TEST_F(Budget, TheFirstTreeGrowsInRoomMadeFromItsEstimate)
{
    apply_leafy();
    ASSERT_EQ(p.set("Branches=300"), "");
    const driver::TreeEstimate e = estimate();
    std::size_t room = 0;
    p.session.set_step_hook([&](unsigned int) {
        if (room == 0)
            room = p.session.mesh().foreground.points.capacity();
    });
    ASSERT_EQ(driver::build_tree(p.session, 16 * GB).message(), "");
    EXPECT_GE(room, static_cast<std::size_t>(e.points));
    const std::string grown_in_room = layer_contents(p.session.mesh().foreground);

    ToolOnPanel q; // the same tree, its arrays grown as it comes
    load_leafy(q);
    ASSERT_EQ(q.set("Branches=300"), "");
    ASSERT_EQ(q.session.build().message(), "");
    EXPECT_EQ(grown_in_room, layer_contents(q.session.mesh().foreground));

    const std::size_t points = p.session.mesh().foreground.points.size();
    p.session.expect({.points = points * 100});
    room = 0;
    ASSERT_EQ(p.session.build().message(), "");
    EXPECT_LT(room, points * 100) << "a session that built a tree makes room for the last one";
}

TEST(MemorySizes, ParsedAndShown)
{
    EXPECT_EQ(driver::parse_memory_size("8G"), 8 * GB);
    EXPECT_EQ(driver::parse_memory_size("512M"), std::size_t(512) << 20);
    EXPECT_EQ(driver::parse_memory_size("1.5GB"), GB + GB / 2);
    EXPECT_EQ(driver::parse_memory_size("1000"), 1000u);
    for (const char *bad : {"", "-1G", "lots", "8Q", "nan", "1e300"})
        EXPECT_FALSE(driver::parse_memory_size(bad)) << bad;
    EXPECT_EQ(driver::memory_text(1.5 * GB), "1.5 GB");
    EXPECT_EQ(driver::memory_text(300.0 * (1 << 20)), "300 MB");
    EXPECT_GT(driver::memory_budget(), 0u);
    EXPECT_EQ(driver::memory_budget(123), 123u);
}

} // namespace
} // namespace ramulon
