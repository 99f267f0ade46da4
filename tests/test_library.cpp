// libramulon through its C interface: sessions side by side in threads, cancelling from another
// thread, and every kind of bad input a caller can hand it.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ramulon/ramulon.h"
#include <stdlib.h>

namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path dir;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "ramulon_library_XXXXXX").string();
        dir = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(dir); }
    std::string file(const std::string &name) const { return (dir / name).string(); }
};

const std::string leafy = std::string(RAMULON_SOURCE_DIR) + "/samples/presets/leafy.preset";

struct SessionHandle {
    ramulon_session *s = nullptr;
    SessionHandle() { EXPECT_EQ(ramulon_session_new(nullptr, 11, &s), RAMULON_OK) << ramulon_last_error(nullptr); }
    ~SessionHandle() { ramulon_session_free(s); }
};

std::string journal_of(ramulon_tree *tree)
{
    const char *text = nullptr;
    size_t size = 0;
    EXPECT_EQ(ramulon_tree_journal(tree, &text, &size), RAMULON_OK) << ramulon_last_error(nullptr);
    return text ? std::string(text, size) : std::string();
}

// The journal of one build with these edits, in a session of its own.
std::string grown_alone(const std::vector<std::pair<const char *, const char *>> &edits)
{
    SessionHandle h;
    EXPECT_EQ(ramulon_load_preset(h.s, leafy.c_str(), 0), RAMULON_OK) << ramulon_last_error(h.s);
    for (const auto &[name, value] : edits)
        EXPECT_EQ(ramulon_set(h.s, name, value), RAMULON_OK) << ramulon_last_error(h.s);
    ramulon_build_options options;
    ramulon_build_options_init(&options);
    options.journal = 1;
    ramulon_tree *tree = nullptr;
    EXPECT_EQ(ramulon_build(h.s, &options, &tree), RAMULON_OK) << ramulon_last_error(h.s);
    std::string journal = journal_of(tree);
    ramulon_tree_free(tree);
    return journal;
}

TEST(Library, SessionsInTwoThreadsGrowWhatEachGrowsAlone)
{
    const std::vector<std::pair<const char *, const char *>> first{{"random_seed", "3"}, {"Branches", "300"}};
    const std::vector<std::pair<const char *, const char *>> second{{"random_seed", "4"}, {"Twig/Type", "up"}};
    const std::string alone_first = grown_alone(first), alone_second = grown_alone(second);
    ASSERT_NE(alone_first, alone_second);

    // Both sessions are open and edited before either builds, and both builds start together.
    std::string together[2];
    std::mutex m;
    std::condition_variable cv;
    int ready = 0;
    auto grow = [&](int which, const std::vector<std::pair<const char *, const char *>> &edits) {
        SessionHandle h;
        EXPECT_EQ(ramulon_load_preset(h.s, leafy.c_str(), 0), RAMULON_OK);
        for (const auto &[name, value] : edits)
            EXPECT_EQ(ramulon_set(h.s, name, value), RAMULON_OK);
        {
            std::unique_lock lock(m);
            ++ready;
            cv.notify_all();
            cv.wait(lock, [&] { return ready == 2; });
        }
        ramulon_build_options options;
        ramulon_build_options_init(&options);
        options.journal = 1;
        ramulon_tree *tree = nullptr;
        EXPECT_EQ(ramulon_build(h.s, &options, &tree), RAMULON_OK) << ramulon_last_error(h.s);
        together[which] = journal_of(tree);
        ramulon_tree_free(tree);
    };
    std::thread a(grow, 0, first), b(grow, 1, second);
    a.join();
    b.join();
    EXPECT_TRUE(together[0] == alone_first);
    EXPECT_TRUE(together[1] == alone_second);
}

// A build whose progress callback holds it at its start until the test has done its part.
struct HeldBuild {
    std::mutex m;
    std::condition_variable cv;
    bool started = false, release = false;
    std::atomic<int> calls{0};

    static int progress(void *user, const char *, unsigned int, unsigned int)
    {
        auto *self = static_cast<HeldBuild *>(user);
        self->calls++;
        std::unique_lock lock(self->m);
        self->started = true;
        self->cv.notify_all();
        self->cv.wait(lock, [&] { return self->release; });
        return 0;
    }
    void wait_started()
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return started; });
    }
    void let_go()
    {
        std::lock_guard lock(m);
        release = true;
        cv.notify_all();
    }
};

TEST(Library, CancelFromAnotherThreadStopsTheBuildAndLeavesTheSessionWhole)
{
    SessionHandle h;
    ASSERT_EQ(ramulon_load_preset(h.s, leafy.c_str(), 0), RAMULON_OK);
    ASSERT_EQ(ramulon_set(h.s, "random_seed", "11"), RAMULON_OK);
    HeldBuild held;
    ramulon_build_options options;
    ramulon_build_options_init(&options);
    options.progress = HeldBuild::progress;
    options.user_data = &held;
    int status = -1;
    ramulon_tree *tree = nullptr;
    std::thread builder([&] { status = ramulon_build(h.s, &options, &tree); });
    held.wait_started();
    // While it builds, the session answers busy to everything but cancel and its error.
    EXPECT_EQ(ramulon_set(h.s, "Branches", "20"), RAMULON_ERROR_BUSY);
    EXPECT_EQ(ramulon_cancel(h.s), RAMULON_OK);
    held.let_go();
    builder.join();
    EXPECT_EQ(status, RAMULON_ERROR_CANCELLED) << ramulon_last_error(h.s);
    EXPECT_EQ(tree, nullptr);
    EXPECT_STREQ(ramulon_status_name(status), "cancelled");

    // The next build grows the tree a fresh session grows.
    ramulon_build_options_init(&options);
    options.journal = 1;
    ASSERT_EQ(ramulon_build(h.s, &options, &tree), RAMULON_OK) << ramulon_last_error(h.s);
    EXPECT_TRUE(journal_of(tree) == grown_alone({{"random_seed", "11"}}));
    ramulon_tree_free(tree);
}

TEST(Library, FreedAndForeignHandlesAreRefusedEverywhere)
{
    ramulon_session *s = nullptr;
    ASSERT_EQ(ramulon_session_new(nullptr, 11, &s), RAMULON_OK);
    ramulon_tree *tree = nullptr;
    ASSERT_EQ(ramulon_build(s, nullptr, &tree), RAMULON_OK) << ramulon_last_error(s);
    ramulon_session_free(s);
    ramulon_session_free(s); // twice is harmless

    // The tree outlives its session.
    const double *xyz = nullptr;
    size_t count = 0;
    ASSERT_EQ(ramulon_tree_points(tree, &xyz, &count), RAMULON_OK);
    EXPECT_GT(count, 0u);
    EXPECT_TRUE(std::isfinite(xyz[0]));
    ramulon_tree_free(tree);

    ramulon_control control;
    auto *foreign = reinterpret_cast<ramulon_session *>(&control);
    for (ramulon_session *dead : {s, foreign, static_cast<ramulon_session *>(nullptr)}) {
        EXPECT_EQ(ramulon_set(dead, "Branches", "10"), RAMULON_ERROR_HANDLE);
        EXPECT_EQ(ramulon_build(dead, nullptr, &tree), RAMULON_ERROR_HANDLE);
        EXPECT_EQ(ramulon_control_by_id(dead, 32770, &control), RAMULON_ERROR_HANDLE);
        EXPECT_EQ(ramulon_cancel(dead), RAMULON_ERROR_HANDLE);
        EXPECT_EQ(ramulon_load_crown_default(dead), RAMULON_ERROR_HANDLE);
    }
    EXPECT_NE(std::string(ramulon_last_error(nullptr)).find("not a live session"), std::string::npos);
    EXPECT_EQ(ramulon_tree_points(tree, &xyz, &count), RAMULON_ERROR_HANDLE);
    EXPECT_EQ(ramulon_tree_write(tree, "x.glb", nullptr), RAMULON_ERROR_HANDLE);
    ramulon_tree_free(tree);
}

TEST(Library, BadArgumentsGetAClearErrorAndChangeNothing)
{
    SessionHandle h;
    ramulon_control control;
    EXPECT_EQ(ramulon_session_new(nullptr, 8, nullptr), RAMULON_ERROR_ARGUMENT);
    ramulon_session *other = nullptr;
    EXPECT_EQ(ramulon_session_new(nullptr, 12, &other), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_session_new("/nonexistent/RamulonVE11.so", 11, &other), RAMULON_ERROR_MODULE);
    EXPECT_NE(std::string(ramulon_last_error(nullptr)).find("cannot load module"), std::string::npos);

    // Panel: unknown names and ids, values of the wrong kind, a button.
    EXPECT_EQ(ramulon_set(h.s, "Brnches", "10"), RAMULON_ERROR_NOT_FOUND);
    EXPECT_EQ(std::string(ramulon_last_error(h.s)).rfind("unknown parameter \"Brnches\"", 0), 0u);
    EXPECT_EQ(ramulon_set(h.s, "Branches", "many"), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_set(h.s, nullptr, "10"), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_control_by_id(h.s, 99999, &control), RAMULON_ERROR_NOT_FOUND);
    EXPECT_EQ(ramulon_set_by_id(h.s, 99999, "1"), RAMULON_ERROR_NOT_FOUND);
    EXPECT_EQ(ramulon_set_number(h.s, 32770, 10.5), RAMULON_ERROR_ARGUMENT); // Branches is whole
    EXPECT_EQ(ramulon_set_number(h.s, 32770, NAN), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_set_by_id(h.s, 32799, "1"), RAMULON_ERROR_ARGUMENT);    // "Add Preset"
    EXPECT_EQ(ramulon_press(h.s, 32770), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_control_at(h.s, 1000, &control), RAMULON_ERROR_ARGUMENT);
    double branches = 0;
    ASSERT_EQ(ramulon_get_number(h.s, 32770, &branches), RAMULON_OK);
    EXPECT_EQ(branches, 150.0);
    ASSERT_EQ(ramulon_set_number(h.s, 32770, 0), RAMULON_OK); // the tool clamps it, as its panel does
    ASSERT_EQ(ramulon_get_number(h.s, 32770, &branches), RAMULON_OK);
    EXPECT_EQ(branches, 2.0);
    ASSERT_EQ(ramulon_control_find(h.s, "Tree/Branch crookedness", &control), RAMULON_OK);
    EXPECT_EQ(control.kind, RAMULON_CONTROL_ANGLE);
    EXPECT_STREQ(control.name, "branch_crookedness");
    EXPECT_EQ(control.max, 45.0);

    // Crowns: every bad array is refused and the crown before stays.
    const double points[] = {0, 1, 0, 1, 1, 0, 0, 2, 0, 0, 1, 1};
    const double nan_points[] = {0, 1, 0, 1, NAN, 0, 0, 2, 0};
    const uint64_t offsets[] = {0, 3, 6};
    const int32_t corners[] = {0, 1, 2, 0, 2, 3};
    const int32_t far_corner[] = {0, 1, 2, 0, 2, 4};
    const uint64_t decreasing[] = {0, 3, 2};
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, points, 4, offsets, far_corner, 2), RAMULON_ERROR_ARGUMENT);
    EXPECT_NE(std::string(ramulon_last_error(h.s)).find("corner 4"), std::string::npos);
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, nan_points, 3, offsets, corners, 1), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, points, 4, decreasing, corners, 2), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, points, 4, offsets, nullptr, 2), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, nullptr, 4, offsets, corners, 2), RAMULON_ERROR_ARGUMENT);
    const uint64_t two_corners[] = {0, 2};
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, points, 4, two_corners, corners, 1), RAMULON_ERROR_ARGUMENT);
    EXPECT_NE(std::string(ramulon_last_error(h.s)).find("no faces"), std::string::npos);
    EXPECT_EQ(ramulon_load_crown_file(h.s, "/nonexistent/crown.obj"), RAMULON_ERROR_IO);
    EXPECT_EQ(ramulon_load_crown_arrays(h.s, points, 4, offsets, corners, 2), RAMULON_OK);

    ramulon_tree *tree = nullptr;
    EXPECT_EQ(ramulon_build(h.s, nullptr, nullptr), RAMULON_ERROR_ARGUMENT);
    ASSERT_EQ(ramulon_build(h.s, nullptr, &tree), RAMULON_OK) << ramulon_last_error(h.s);
    ramulon_map map;
    EXPECT_EQ(ramulon_tree_map_at(tree, 1000, &map), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_tree_map_find(tree, "no such map", 0, &map), RAMULON_ERROR_NOT_FOUND);
    const char *journal = nullptr;
    size_t size = 0;
    EXPECT_EQ(ramulon_tree_journal(tree, &journal, &size), RAMULON_ERROR_NOT_FOUND); // none asked for

    // Writing: an unknown format, options out of range, a folder that cannot be written.
    TempDir dir;
    ramulon_write_options options;
    ramulon_write_options_init(&options);
    EXPECT_EQ(ramulon_tree_write(tree, dir.file("tree.fbx").c_str(), nullptr), RAMULON_ERROR_ARGUMENT);
    options.lod = 9;
    EXPECT_EQ(ramulon_tree_write(tree, dir.file("tree.glb").c_str(), &options), RAMULON_ERROR_ARGUMENT);
    ramulon_write_options_init(&options);
    options.impostor = 1;
    EXPECT_EQ(ramulon_tree_write(tree, dir.file("tree.obj").c_str(), &options), RAMULON_ERROR_ARGUMENT);
    EXPECT_EQ(ramulon_tree_write(tree, dir.file("missing/tree.glb").c_str(), nullptr), RAMULON_ERROR_IO);
    EXPECT_TRUE(fs::is_empty(dir.dir));
    ramulon_tree_free(tree);

    // A tree beyond the memory budget is refused before it grows.
    ramulon_build_options build;
    ramulon_build_options_init(&build);
    build.memory_limit = 1024;
    EXPECT_EQ(ramulon_build(h.s, &build, &tree), RAMULON_ERROR_REFUSED);
    EXPECT_EQ(std::string(ramulon_last_error(h.s)).rfind("Tree too large", 0), 0u) << ramulon_last_error(h.s);
}

TEST(Library, ArraysDescribeTheTreeAsBuilt)
{
    SessionHandle h;
    ASSERT_EQ(ramulon_load_preset(h.s, leafy.c_str(), 0), RAMULON_OK);
    ramulon_tree *tree = nullptr;
    ASSERT_EQ(ramulon_build(h.s, nullptr, &tree), RAMULON_OK);
    const double *xyz = nullptr;
    size_t points = 0, polygons = 0;
    const uint64_t *offsets = nullptr;
    const int32_t *corners = nullptr, *surfaces = nullptr;
    const uint32_t *types = nullptr;
    ASSERT_EQ(ramulon_tree_points(tree, &xyz, &points), RAMULON_OK);
    ASSERT_EQ(ramulon_tree_polygons(tree, &offsets, &corners, &types, &surfaces, &polygons), RAMULON_OK);
    size_t names = 0;
    ASSERT_EQ(ramulon_tree_name_count(tree, &names), RAMULON_OK);
    EXPECT_EQ(offsets[0], 0u);
    for (size_t p = 0; p < polygons; ++p) {
        ASSERT_LT(offsets[p], offsets[p + 1]);
        ASSERT_LT(surfaces[p], static_cast<int32_t>(names));
        for (uint64_t k = offsets[p]; k < offsets[p + 1]; ++k)
            ASSERT_LT(static_cast<size_t>(corners[k]), points);
    }
    // Every map spans every point; a point without a value reads as zeros.
    size_t maps = 0;
    ASSERT_EQ(ramulon_tree_map_count(tree, &maps), RAMULON_OK);
    ASSERT_GT(maps, 0u);
    for (size_t i = 0; i < maps; ++i) {
        ramulon_map map;
        ASSERT_EQ(ramulon_tree_map_at(tree, i, &map), RAMULON_OK);
        EXPECT_EQ(map.point_count, points);
        size_t present = 0;
        for (size_t p = 0; p < points; ++p) {
            present += map.presence[p] != 0;
            if (!map.presence[p]) {
                for (int d = 0; d < map.dim; ++d)
                    ASSERT_EQ(map.values[p * static_cast<size_t>(map.dim) + static_cast<size_t>(d)], 0.0f);
            }
        }
        EXPECT_EQ(present, map.stored) << map.name;
    }
    ramulon_map leaf;
    ASSERT_EQ(ramulon_tree_map_find(tree, "RM_leaf", 0, &leaf), RAMULON_OK);
    EXPECT_STREQ(leaf.kind_text, "TXUV");
    ramulon_tags colours;
    ASSERT_EQ(ramulon_tree_tags_at(tree, 0, &colours), RAMULON_OK);
    EXPECT_STREQ(colours.kind_text, "COLR");
    EXPECT_EQ(colours.polygon_count, polygons);
    ramulon_tree_free(tree);
}

} // namespace
