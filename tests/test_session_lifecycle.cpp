// A long day in one modeller session: the tool is picked, built, edited, rebuilt, dropped,
// picked again, switched between render types, handed presets and ended, over and over. Nothing
// it allocates may outlive what owns it; the sanitizer build checks that at exit, and every
// build here also checks that the heap does not creep from one round to the next.
#include <gtest/gtest.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "host/shelf.h"
#include "support/panel_session.h"
#include "trees.h"

namespace ramulon {
namespace {

constexpr int rounds = 4;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool heap_is_measurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool heap_is_measurable = false;
#else
constexpr bool heap_is_measurable = true;
#endif
#else
constexpr bool heap_is_measurable = true;
#endif

// The tool on its panel in one session, its shelf in a folder of its own.
class Day {
public:
    Day()
    {
        host::set_shelf_dir(shelf.path);
        p.session.set_journal(false);
    }

    void set(const std::string &assignment) { EXPECT_EQ(p.set(assignment), "") << assignment; }

    void build(const std::string &when)
    {
        SCOPED_TRACE(when);
        EXPECT_EQ(p.build(), "");
        EXPECT_FALSE(p.session.mesh().foreground.points.empty());
    }

    void preset(const std::string &name)
    {
        const host::preset_application applied =
            host::apply_preset(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/" + name + ".preset");
        EXPECT_TRUE(applied.applied) << applied.problem;
    }

    PresetFolder shelf;
    ToolOnPanel p;
};

void one_round(Day &d, int round)
{
    SCOPED_TRACE("round " + std::to_string(round));
    d.set("Render Type=Polygonal");
    d.set("Branches=" + std::to_string(20 + 7 * round));
    d.build("first build");
    d.set("Trunk thickness=0.05"); // output only: the skeleton is drawn again
    d.build("output change");
    d.set("Tree/Segments=6");
    d.build("regrowth");

    d.p.session.drop();
    EXPECT_EQ(d.p.session.activate(), AFUNC_OK) << d.p.session.error();
    d.p.session.start();
    d.p.session.event(LWT_EVENT_ACTIVATE);
    d.build("after picking the tool again");

    for (const char *type : {"Skeleton", "SubD", "Polygonal"}) {
        d.set(std::string("Render Type=") + type);
        d.build(type);
    }
    for (const char *name : {"leafy", "weeping", "bare", "wide"}) {
        d.preset(name);
        d.set("Branches=30");
        d.build(name);
    }
    // A build that fails frees what it took.
    d.p.session.mesh().background.clear();
    EXPECT_FALSE(d.p.session.build());

    // Adding a preset grows a thumbnail and writes two files.
    host::set_preset_name("round" + std::to_string(round));
    EXPECT_TRUE(d.p.click("Add Preset"));
    EXPECT_TRUE(host::last_addition().added) << host::last_addition().error;

    d.p.session.end();
    EXPECT_EQ(galezie, nullptr) << "ending the tool frees the skeleton";
    d.p.session.start();
    d.p.session.event(LWT_EVENT_RESET);
}

TEST(SessionLifecycle, ManyRoundsLeaveNothingBehind)
{
    Day d;
    one_round(d, 0);
    one_round(d, 1);
    const std::size_t settled = mallinfo2().uordblks;
    for (int round = 2; round < rounds; ++round)
        one_round(d, round);
    if (heap_is_measurable) {
        // Strings, maps and the shelf's listing may wobble a little; a leak of a skeleton,
        // a model or a leaf list would be far larger.
        const std::size_t now = mallinfo2().uordblks;
        EXPECT_LT(now, settled + 64 * 1024) << "the heap grew from " << settled << " to " << now;
    }
}

TEST(SessionLifecycle, SessionsComeAndGo)
{
    // The host loads, activates and unloads the tool many times over one process.
    for (int k = 0; k < 2; ++k) {
        Day d;
        one_round(d, k);
    }
}

} // namespace
} // namespace ramulon
