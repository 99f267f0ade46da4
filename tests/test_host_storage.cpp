// How the host keeps what a build hands it: map values as dense arrays that still remember which
// points hold a value and how long it was, replaced values, polygon-specific values beside the
// continuous ones, tags and names held once; and the journal's number texts and its blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

#include "host/edit_op.h"
#include "host/journal.h"
#include "host/obj_loader.h"
#include "host/session.h"
#include "host/settings.h"
#include "support/child_process.h"
#include "support/export_files.h"
#include "support/layer_reading.h"

namespace ramulon {
namespace {

std::string printed(const char *format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return std::string(" ") + buf;
}

double from_bits(std::uint64_t bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

float from_bits(std::uint32_t bits)
{
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The journal's numbers must read exactly as printf's did, or journals of the same tree would
// stop comparing equal across versions.
TEST(JournalNumbers, SameTextAsPrintf)
{
    std::vector<double> doubles = {0.0, -0.0, 1.0, -1.0, 0.1, 1e-7, 123456.789, 1e16, 1e17, 1e21,
                                   1e22, 9007199254740993.0, 0.30000000000000004, 5e-324,
                                   -5e-324, DBL_MIN, -DBL_MIN, DBL_MIN / 3, DBL_MAX, -DBL_MAX,
                                   DBL_EPSILON, 1e-5, 1e-4, 0.0001, 123456789012345678.0,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(),
                                   -std::numeric_limits<double>::quiet_NaN()};
    std::vector<float> floats = {0.0f, -0.0f, 0.25f, 1.0f / 3.0f, 0.7f, 1e-45f, -1e-45f,
                                 FLT_MIN, FLT_MIN / 7, FLT_MAX, -FLT_MAX, 16777217.0f, 1e10f,
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN()};
    // Powers of ten either side, where %g switches between fixed and exponent notation.
    for (int e = -310; e <= 308; ++e) {
        const double p = std::pow(10.0, e);
        doubles.insert(doubles.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY), -p});
    }
    for (int e = -45; e <= 38; ++e) {
        const float p = std::pow(10.0f, static_cast<float>(e));
        floats.insert(floats.end(), {p, std::nextafter(p, 0.0f), std::nextafter(p, INFINITY)});
    }
    // Any bit pattern at all: subnormals, every exponent, NaN payloads.
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 200000; ++i) {
        doubles.push_back(from_bits(random()));
        floats.push_back(from_bits(static_cast<std::uint32_t>(random())));
    }
    // Values a tree gives: coordinates of a few metres, texture values in [0, 1].
    std::uniform_real_distribution<double> metres(-20.0, 20.0);
    for (int i = 0; i < 100000; ++i) {
        doubles.push_back(metres(random));
        floats.push_back(static_cast<float>(metres(random) / 20.0));
    }

    int wrong = 0;
    for (const double v : doubles) {
        std::string text;
        host::append_coordinate(text, v);
        if (text != printed("%.17g", v) && ++wrong < 10)
            ADD_FAILURE() << printed("%a", v) << ":" << text << " instead of" << printed("%.17g", v);
    }
    for (const float v : floats) {
        std::string text;
        host::append_map_value(text, v);
        const double d = static_cast<double>(v);
        if (text != printed("%.9g", d) && ++wrong < 10)
            ADD_FAILURE() << printed("%a", d) << ":" << text << " instead of" << printed("%.9g", d);
    }
    EXPECT_EQ(wrong, 0);
}

// A journal far larger than one block, with a line far longer than a line's usual room, reads
// back line by line and writes the same text to its file.
TEST(JournalNumbers, LargeJournalsKeepEveryLine)
{
    host::Journal journal;
    std::vector<int> many(20000);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<int>(i);
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        const double xyz[3] = {i * 0.5, -1.0 / (i + 1), 1e300};
        journal.add_point(i, xyz);
        char line[128];
        std::snprintf(line, sizeof line, "addPoint %d %.17g %.17g %.17g\n", i, xyz[0], xyz[1], xyz[2]);
        expected += line;
        if (i == 20000) {
            journal.add_face(7, "RM_trunk", static_cast<int>(many.size()), many.data());
            expected += "addFace 7 RM_trunk 20000";
            for (int p : many)
                (expected += ' ') += std::to_string(p);
            expected += '\n';
        }
    }
    ASSERT_GT(expected.size(), 2u << 20); // several blocks
    EXPECT_EQ(journal.text(), expected);
    const std::vector<std::string> lines = journal.lines();
    ASSERT_EQ(lines.size(), 40001u);
    EXPECT_EQ(lines[20001].substr(0, 25), "addFace 7 RM_trunk 20000 ");
    EXPECT_EQ(lines.back(), "addPoint 39999 19999.5 -2.5000000000000001e-05 1.0000000000000001e+300");

    ScratchDir dir;
    ASSERT_EQ(journal.write(dir.file("journal.txt")).message(), "");
    std::ifstream in(dir.file("journal.txt"), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), expected);

    journal.clear();
    EXPECT_EQ(journal.text(), "");
    EXPECT_TRUE(journal.lines().empty());
}

// ------------------------------------------------------------------------- the layer

TEST(LayerStorage, MapValuesKeepTheirLengthAndPresence)
{
    host::Layer layer;
    for (int i = 0; i < 6; ++i)
        layer.add_point({1.0 * i, 0, 0});
    const float uv[2] = {0.5f, 0.25f};
    const float one[1] = {7.0f};
    const float three[3] = {1.0f, 2.0f, 3.0f};
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 1, 2, uv));
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 4, 1, one));  // shorter than the first
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 2, 0, nullptr)); // a value of no floats
    const host::VertexMap *map = layer.find_vmap(ID_TXUV, "RM_branch");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->dim, 2); // the first value's
    EXPECT_EQ(map->count, 3u);
    EXPECT_FALSE(map->at(0));
    EXPECT_FALSE(map->at(5));
    EXPECT_FALSE(map->at(99));
    EXPECT_EQ(floats(map->at(1)), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_EQ(floats(map->at(4)), (std::vector<float>{7.0f}));
    ASSERT_TRUE(map->at(2));
    EXPECT_TRUE(map->at(2)->empty());

    // A longer value widens every point's room and keeps what the others hold.
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 3, 3, three));
    map = layer.find_vmap(ID_TXUV, "RM_branch");
    EXPECT_EQ(floats(map->at(1)), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_EQ(floats(map->at(3)), (std::vector<float>{1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(floats(map->at(4)), (std::vector<float>{7.0f}));
    // Replacing a value neither adds a point nor keeps the old length.
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 3, 1, one));
    EXPECT_EQ(floats(map->at(3)), (std::vector<float>{7.0f}));
    EXPECT_EQ(map->count, 4u);

    // The same name under another type is another map; another name too.
    ASSERT_TRUE(layer.set_vmap(ID_WGHT, "RM_branch", 0, 1, one));
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_leaf", 0, 2, uv));
    EXPECT_EQ(layer.vmaps.size(), 3u);
    // Going back and forth between the two types of one name finds each map again.
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 5, 2, uv));
    ASSERT_TRUE(layer.set_vmap(ID_WGHT, "RM_branch", 5, 1, one));
    EXPECT_EQ(layer.vmaps.size(), 3u);
    EXPECT_EQ(floats(layer.find_vmap(ID_TXUV, "RM_branch")->at(5)), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_EQ(floats(layer.find_vmap(ID_WGHT, "RM_branch")->at(5)), (std::vector<float>{7.0f}));
    EXPECT_FALSE(layer.find_vmap(ID_WGHT, "RM_branch")->at(1));
    EXPECT_EQ(layer.find_vmap(ID_RMVT, "RM_branch"), nullptr);
    EXPECT_EQ(layer.names.size(), 2u);

    std::vector<float> huge(host::max_map_dim + 1, 1.0f);
    EXPECT_FALSE(layer.set_vmap(ID_TXUV, "RM_branch", 0, host::max_map_dim + 1, huge.data()));
    EXPECT_TRUE(layer.set_vmap(ID_TXUV, "RM_big", 0, host::max_map_dim, huge.data()));
}

TEST(LayerStorage, PolygonSpecificValuesAndTagsPerPolygon)
{
    host::Layer layer;
    for (int i = 0; i < 4; ++i)
        layer.add_point({1.0 * i, 0, 0});
    const int a = layer.add_polygon(ID_FACE, {0, 1, 2}, "RM_trunk");
    const int b = layer.add_polygon(ID_FACE, {0, 2, 3}, "RM_trunk");
    EXPECT_EQ(layer.names.size(), 1u);
    EXPECT_EQ(*layer.polygon(static_cast<std::size_t>(b)).surface, "RM_trunk");

    const float left[2] = {0.0f, 0.5f}, right[2] = {1.0f, 0.5f}, longer[3] = {1, 2, 3};
    layer.set_vpmap(ID_TXUV, "RM_branch", 0, a, 2, left);
    layer.set_vpmap(ID_TXUV, "RM_branch", 0, b, 2, right);
    layer.set_vpmap(ID_TXUV, "RM_range", 0, b, 2, left);
    const int seams = layer.find_vpmap(ID_TXUV, "RM_branch");
    ASSERT_GE(seams, 0);
    EXPECT_EQ(floats(layer.vpmap_at(seams, 0, a)), (std::vector<float>{0.0f, 0.5f}));
    EXPECT_EQ(floats(layer.vpmap_at(seams, 0, b)), (std::vector<float>{1.0f, 0.5f}));
    EXPECT_FALSE(layer.vpmap_at(seams, 2, b));
    EXPECT_FALSE(layer.vpmap_at(seams, 0, 5));
    EXPECT_FALSE(layer.vpmap_at(seams, 0, -1)); // a point's own value is asked for
    const int plain = layer.add_polygon(ID_FACE, {1, 2, 3}, "RM_trunk");
    EXPECT_FALSE(layer.has_corner_values(static_cast<std::size_t>(plain)));
    EXPECT_TRUE(layer.has_corner_values(static_cast<std::size_t>(b)));
    EXPECT_FALSE(layer.vpmap_at(seams, 1, plain));
    // Replaced, longer than before: the new value whole.
    layer.set_vpmap(ID_TXUV, "RM_branch", 0, b, 3, longer);
    EXPECT_EQ(floats(layer.vpmap_at(seams, 0, b)), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(layer.vpmaps[static_cast<std::size_t>(seams)].count, 2u);
    EXPECT_EQ(vpmap_values(layer, seams).size(), 2u);

    layer.set_tag(a, ID_COLR, "Brown");
    layer.set_tag(a, HOST_ID4('P', 'A', 'R', 'T'), "trunk");
    layer.set_tag(a, ID_COLR, "Green"); // replaces
    EXPECT_EQ(*layer.tag(a, ID_COLR), "Green");
    EXPECT_EQ(*layer.tag(a, HOST_ID4('P', 'A', 'R', 'T')), "trunk");
    EXPECT_EQ(layer.tag(b, ID_COLR), nullptr);
    EXPECT_EQ(layer.tag(99, ID_COLR), nullptr);

    // A copy (the server hands one to its writers) reads the same.
    const host::Layer copy = layer;
    EXPECT_EQ(*copy.tag(a, ID_COLR), "Green");
    EXPECT_EQ(copy.names.find("RM_trunk"), layer.names.find("RM_trunk"));
    layer.clear();
    EXPECT_TRUE(layer.empty());
    EXPECT_EQ(layer.names.size(), 0u);
    EXPECT_EQ(points_of(copy, 1), (std::vector<int>{0, 2, 3}));
}

// The plug-in hands its map names as the same pointers call after call. A name written in its
// code is known by its pointer; text in a buffer the caller may write again is read each time.
// The plug-in names its maps by pointers it passes again call after call: a map written
// recently is found by its pointer, but never past a change of the text behind it, of the type,
// or of the layer.
TEST(LayerStorage, MapsFoundByTheirNamePointerFollowTheirText)
{
    host::Layer layer;
    const float a[2] = {1.0f, 2.0f}, b[1] = {3.0f}, c[3] = {4.0f, 5.0f, 6.0f};
    static const char *const literal = "RM_branch";
    char buffer[16];
    std::strcpy(buffer, "RM_range");
    for (int i = 0; i < 4; ++i) {
        layer.add_point({1.0 * i, 0, 0});
        ASSERT_TRUE(layer.set_vmap(ID_TXUV, literal, i, 2, a));
        ASSERT_TRUE(layer.set_vmap(ID_WGHT, literal, i, 1, b)); // same pointer, another type
        ASSERT_TRUE(layer.set_vmap(ID_WGHT, static_cast<const char *>(buffer), i, 1, b));
        std::strcpy(buffer, i % 2 ? "RM_range" : "RM_thick"); // same pointer, another name
    }
    ASSERT_EQ(layer.vmaps.size(), 4u);
    EXPECT_EQ(layer.find_vmap(ID_TXUV, "RM_branch")->count, 4u);
    EXPECT_EQ(layer.find_vmap(ID_WGHT, "RM_branch")->count, 4u);
    const host::VertexMap *range = layer.find_vmap(ID_WGHT, "RM_range");
    const host::VertexMap *thick = layer.find_vmap(ID_WGHT, "RM_thick");
    ASSERT_TRUE(range && thick);
    EXPECT_TRUE(range->at(0) && !range->at(1) && range->at(2) && !range->at(3));
    EXPECT_TRUE(!thick->at(0) && thick->at(1) && !thick->at(2) && thick->at(3));

    // A point stored ahead of the ones before it leaves those without a value; a longer value
    // through the same pointer widens the map and keeps what it held.
    for (int i = 4; i < 8; ++i)
        layer.add_point({1.0 * i, 0, 0});
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, literal, 6, 3, c));
    const host::VertexMap *branch = layer.find_vmap(ID_TXUV, "RM_branch");
    EXPECT_EQ(branch->stored.size(), 8u);
    EXPECT_FALSE(branch->at(4));
    EXPECT_FALSE(branch->at(7));
    EXPECT_EQ(floats(branch->at(3)), (std::vector<float>{1.0f, 2.0f}));
    EXPECT_EQ(floats(branch->at(6)), (std::vector<float>{4.0f, 5.0f, 6.0f}));
    EXPECT_EQ(branch->count, 5u);

    // A copy of the layer finds its own maps; a cleared layer starts afresh.
    host::Layer copy = layer;
    ASSERT_TRUE(copy.set_vmap(ID_TXUV, literal, 7, 2, a));
    EXPECT_EQ(copy.find_vmap(ID_TXUV, "RM_branch")->count, 6u);
    EXPECT_EQ(layer.find_vmap(ID_TXUV, "RM_branch")->count, 5u);
    layer.clear();
    layer.add_point({});
    ASSERT_TRUE(layer.set_vmap(ID_WGHT, literal, 0, 1, b));
    ASSERT_EQ(layer.vmaps.size(), 1u);
    EXPECT_EQ(layer.vmaps[0].type, ID_WGHT);
    EXPECT_EQ(layer.vmaps[0].dim, 1);
}

// A tree much like the last: a quad strip of `quads` quads, its maps stored point by point
// (a weight, then texture coordinates of `uv_dim` floats), a seam value on the last quad.
void grow_strip(host::Layer &layer, int quads, int uv_dim)
{
    const float weight[1] = {0.5f}, uv[3] = {0.25f, 0.75f, 1.0f}, seam[2] = {1.0f, 0.0f};
    for (int i = 0; i <= quads; ++i)
        for (int side = 0; side < 2; ++side) {
            const int p = layer.add_point({1.0 * i, 1.0 * side, 0.5 * i});
            ASSERT_TRUE(layer.set_vmap(ID_WGHT, "RM_range", p, 1, weight));
            ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", p, uv_dim, uv));
        }
    for (int i = 0; i < quads; ++i) {
        const int f = layer.add_polygon(ID_FACE, {2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1}, "RM_branch");
        layer.set_tag(f, ID_COLR, i % 2 ? "Brown" : "Green");
    }
    ASSERT_TRUE(layer.set_vpmap(ID_TXUV, "RM_branch", 2 * quads, quads - 1, 2, seam));
}

// A build clears the layer and grows the next tree where the last one lay: whatever the last
// tree held, larger, smaller or with wider map values, the new one reads as if grown afresh.
TEST(LayerStorage, ATreeGrownInAClearedLayersRoomIsTheSameAsAFreshOne)
{
    const auto fresh = [](int quads, int uv_dim) {
        host::Layer layer;
        grow_strip(layer, quads, uv_dim);
        return layer_contents(layer);
    };
    host::Layer reused;
    grow_strip(reused, 40, 3);
    reused.shrink_to_fit();
    const std::size_t room = reused.points.capacity(), map_room = reused.vmaps[1].values.capacity();
    for (const auto &[quads, uv_dim] : {std::pair{10, 2}, std::pair{60, 2}, std::pair{20, 3}, std::pair{20, 1}}) {
        reused.clear();
        EXPECT_TRUE(reused.empty());
        EXPECT_TRUE(reused.vmaps.empty() && reused.vpmaps.empty() && reused.names.size() == 0);
        if (quads == 10) { // the room stays, the maps' arrays too, and goes to the same maps
            EXPECT_EQ(reused.points.capacity(), room);
            grow_strip(reused, quads, uv_dim);
            EXPECT_EQ(reused.vmaps[1].values.capacity(), map_room);
        } else {
            grow_strip(reused, quads, uv_dim);
        }
        EXPECT_EQ(layer_contents(reused), fresh(quads, uv_dim)) << quads << " quads, " << uv_dim << " floats";
        reused.shrink_to_fit();
        reused.check_consistent();
    }
    // A copy holds the tree, not the room of the one before.
    reused.clear();
    const host::Layer copy = reused;
    EXPECT_EQ(copy.points.capacity(), 0u);
}

// The edit operation stores most map values without going through the layer's general path:
// whatever the mix of calls, with or without a journal, the layer holds what the general path
// stores and refuses what it refuses.
TEST(LayerStorage, MapWritesThroughTheEditOpMatchTheGeneralPath)
{
    static const char *const branch = "RM_branch", *const range = "RM_range", *const vectors = "RM_vectors";
    for (const bool journaled : {false, true}) {
        host::Mesh mesh;
        host::Journal journal;
        host::EditOp edit(mesh, journaled ? &journal : nullptr);
        MeshEditOp *op = edit.op();
        host::Layer expected;
        std::size_t refused = 0;
        const auto write = [&](LWPntID id, int point, HostID type, const char *name, int dim, const float *v) {
            ASSERT_EQ(op->pntVMap(op->state, id, type, name, dim, const_cast<float *>(v)), EDERR_NONE);
            ASSERT_TRUE(expected.set_vmap(type, std::string_view(name), point, dim, v));
        };
        const auto refuse = [&](LWPntID id, HostID type, const char *name, int dim, const float *v) {
            EXPECT_EQ(op->pntVMap(op->state, id, type, name, dim, const_cast<float *>(v)), EDERR_BADARGS);
            ++refused;
        };
        LWPntID first = nullptr;
        for (int i = 0; i < 3000; ++i) {
            double xyz[3] = {double(i), 0.0, 0.0};
            LWPntID id = op->addPoint(op->state, xyz);
            expected.add_point({xyz[0], 0.0, 0.0});
            if (i == 0)
                first = id;
            const float v[5] = {0.5f * i, 1.0f + i, -2.0f * i, 3.0f, 4.0f};
            write(id, i, ID_TXUV, branch, i % 97 == 5 ? 1 : 2, v); // now and then shorter than the slots
            if (i % 3 != 0)                                        // not every point holds a value
                write(id, i, ID_WGHT, range, 1, v + 1);
            write(id, i, ID_RMVT, vectors, i < 2000 ? 3 : 5, v); // widened part way
            if (i == 1500)
                write(id, i, ID_WGHT, "RM_thick", 0, nullptr); // a value of no floats
            if (i % 500 == 7) // a point written before the one just added
                write(first, 0, ID_TXUV, branch, 2, v);
            if (i % 700 == 11) {
                refuse(id, ID_TXUV, branch, -1, v);
                refuse(id, ID_TXUV, branch, 2, nullptr);
                refuse(id, ID_TXUV, nullptr, 2, v);
                refuse(host::EditOp::point_id(true, 0), ID_TXUV, branch, 2, v);
                refuse(host::EditOp::polygon_id(false, 0), ID_TXUV, branch, 2, v);
                refuse(nullptr, ID_TXUV, branch, 2, v);
            }
        }
        const host::Layer &fg = mesh.foreground;
        EXPECT_EQ(edit.rejected().size(), refused);
        ASSERT_EQ(fg.vmaps.size(), expected.vmaps.size());
        for (const host::VertexMap &want : expected.vmaps) {
            const std::string &name = expected.names[want.name];
            const host::VertexMap *got = fg.find_vmap(want.type, name);
            ASSERT_NE(got, nullptr) << name;
            EXPECT_EQ(got->dim, want.dim) << name;
            EXPECT_EQ(got->count, want.count) << name;
            for (int p = 0; p < 3000; ++p) {
                ASSERT_EQ(got->at(p).has_value(), want.at(p).has_value()) << name << " at point " << p;
                ASSERT_EQ(floats(got->at(p)), floats(want.at(p))) << name << " at point " << p;
            }
        }
        fg.check_consistent();
        if (journaled) {
            EXPECT_EQ(journal.lines().size(), 3000 + 3000 + 2000 + 3000 + 1 + 6);
        }
    }
}

// The edit operation's common cases name the last point by comparing its ID with the layer's
// count: IDs of the same index in the other layer, of the other kind, one past the end, or of no
// point at all are still refused, and a value for an earlier point still lands on that point.
TEST(EditOpFastPaths, MapValuesGoToTheNamedPointOrAreRefused)
{
    static const char *const branch = "RM_branch";
    host::Mesh mesh;
    for (int i = 0; i < 4; ++i)
        mesh.background.add_point({-1.0 * i, 0, 0});
    host::EditOp edit(mesh, nullptr);
    MeshEditOp *op = edit.op();
    float uv[2] = {0.5f, 0.25f}, other[2] = {7.0f, 8.0f};
    // Nothing is a point yet: not even a null ID passes for one.
    EXPECT_EQ(op->pntVMap(op->state, nullptr, ID_TXUV, branch, 2, uv), EDERR_BADARGS);
    EXPECT_EQ(op->pntVMap(op->state, nullptr, 0, nullptr, 2, uv), EDERR_BADARGS);
    for (int i = 0; i < 3; ++i) {
        double xyz[3] = {1.0 * i, 0, 0};
        LWPntID id = op->addPoint(op->state, xyz);
        ASSERT_EQ(op->pntVMap(op->state, id, ID_TXUV, branch, 2, uv), EDERR_NONE);
    }
    for (LWPntID wrong : {host::EditOp::point_id(true, 2), host::EditOp::polygon_id(false, 2),
                          host::EditOp::point_id(false, 3), LWPntID{nullptr}})
        EXPECT_EQ(op->pntVMap(op->state, wrong, ID_TXUV, branch, 2, other), EDERR_BADARGS);
    // A null name under type 0 meets no empty place of the layer's map cache.
    EXPECT_EQ(op->pntVMap(op->state, host::EditOp::point_id(false, 2), 0, nullptr, 2, other), EDERR_BADARGS);
    EXPECT_EQ(op->pntVMap(op->state, host::EditOp::point_id(false, 2), ID_TXUV, branch, 2, nullptr), EDERR_BADARGS);
    ASSERT_EQ(op->pntVMap(op->state, host::EditOp::point_id(false, 1), ID_TXUV, branch, 2, other), EDERR_NONE);
    EXPECT_EQ(edit.rejected().size(), 8u);

    const host::VertexMap *map = mesh.foreground.find_vmap(ID_TXUV, "RM_branch");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->count, 3u);
    EXPECT_EQ(floats(map->at(0)), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_EQ(floats(map->at(1)), (std::vector<float>{7.0f, 8.0f}));
    EXPECT_EQ(floats(map->at(2)), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_TRUE(mesh.background.vmaps.empty());
    mesh.foreground.check_consistent();
}

// A map found by its name pointer is held by its address in the layer's map list: the list
// moving as maps are added, a copy of the layer and a moved layer must each write into their own
// maps, and a layer cleared and filled again records each map's first length afresh.
TEST(EditOpFastPaths, MapsFoundByPointerFollowTheirLayer)
{
    // Literals, as a plug-in's names are: their places are kept.
    static const char *const names[] = {"m00", "m01", "m02", "m03", "m04", "m05", "m06", "m07",
                                        "m08", "m09", "m10", "m11", "m12", "m13", "m14", "m15",
                                        "m16", "m17", "m18", "m19", "m20", "m21", "m22", "m23"};
    constexpr int maps = 24;
    const auto value = [](int point, int map) { return static_cast<float>(point * 100 + map); };
    const auto write_point = [&](MeshEditOp *op, int point, int upto) {
        double xyz[3] = {1.0 * point, 0, 0};
        LWPntID id = op->addPoint(op->state, xyz);
        for (int k = 0; k < upto; ++k) {
            float v = value(point, k);
            ASSERT_EQ(op->pntVMap(op->state, id, ID_WGHT, names[k], 1, &v), EDERR_NONE);
        }
    };
    // Each point adds one map more than the last, while the maps before are in the cache.
    host::Mesh mesh;
    {
        host::EditOp edit(mesh, nullptr);
        for (int p = 0; p < 40; ++p)
            write_point(edit.op(), p, std::min(p + 1, maps));
    }
    const auto expect_values = [&](const host::Layer &layer, int points) {
        ASSERT_EQ(layer.vmaps.size(), static_cast<std::size_t>(maps));
        for (int k = 0; k < maps; ++k) {
            const host::VertexMap *map = layer.find_vmap(ID_WGHT, names[k]);
            ASSERT_NE(map, nullptr) << names[k];
            EXPECT_EQ(map->count, static_cast<std::size_t>(points - k)) << names[k];
            for (int p = 0; p < points; ++p)
                ASSERT_EQ(floats(map->at(p)), p < k ? std::vector<float>{} : std::vector<float>{value(p, k)})
                    << names[k] << " at point " << p;
        }
        layer.check_consistent();
    };
    expect_values(mesh.foreground, 40);

    // A copy and the original each take their own values.
    host::Mesh copy = mesh;
    {
        host::EditOp edit(copy, nullptr);
        write_point(edit.op(), 40, maps);
    }
    {
        host::EditOp edit(mesh, nullptr);
        write_point(edit.op(), 40, maps);
        write_point(edit.op(), 41, maps);
    }
    expect_values(copy.foreground, 41);
    expect_values(mesh.foreground, 42);
    host::Mesh moved = std::move(copy);
    {
        host::EditOp edit(moved, nullptr);
        write_point(edit.op(), 41, maps);
    }
    expect_values(moved.foreground, 42);

    // Cleared: a map's first value sets its length again, even one written before as another.
    mesh.foreground.clear();
    host::EditOp edit(mesh, nullptr);
    MeshEditOp *op = edit.op();
    const float three[3] = {1.0f, 2.0f, 3.0f};
    for (int p = 0; p < 3; ++p) {
        double xyz[3] = {1.0 * p, 0, 0};
        LWPntID id = op->addPoint(op->state, xyz);
        ASSERT_EQ(op->pntVMap(op->state, id, ID_WGHT, names[0], 3, const_cast<float *>(three)), EDERR_NONE);
    }
    const host::VertexMap *map = mesh.foreground.find_vmap(ID_WGHT, names[0]);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->dim, 3);
    EXPECT_EQ(map->count, 3u);
    EXPECT_EQ(floats(map->at(2)), (std::vector<float>{1.0f, 2.0f, 3.0f}));
    mesh.foreground.check_consistent();
}

// Points are stored without a frame between the host's progress marks: the mark still comes at
// every 4096th point, and a journal still gets every point.
TEST(EditOpFastPaths, PointsKeepTheirProgressMarksAndJournal)
{
    host::Services services;
    std::vector<std::size_t> marks;
    services.write_hook = [&](std::size_t points) { marks.push_back(points); };
    host::Binding bind(services);
    for (const bool journaled : {false, true}) {
        marks.clear();
        host::Mesh mesh;
        mesh.foreground.add_point({}); // an earlier build's point
        host::Journal journal;
        host::EditOp edit(mesh, journaled ? &journal : nullptr);
        MeshEditOp *op = edit.op();
        for (int i = 1; i < 10000; ++i) {
            double xyz[3] = {1.0 * i, 0.5, -1.0};
            ASSERT_EQ(op->addPoint(op->state, xyz), host::EditOp::point_id(false, i));
        }
        EXPECT_EQ(op->addPoint(op->state, nullptr), nullptr);
        EXPECT_EQ(marks, (std::vector<std::size_t>{4097, 8193}));
        ASSERT_EQ(mesh.foreground.points.size(), 10000u);
        EXPECT_EQ(mesh.foreground.points[9999].x, 9999.0);
        EXPECT_EQ(mesh.foreground.points[9999].z, -1.0);
        EXPECT_EQ(journal.lines().size(), journaled ? 9999u : 0u);
        if (journaled) {
            EXPECT_EQ(journal.lines().back(), "addPoint 9998 9999 0.5 -1");
        }
    }
}

// Polygons of any corner count take their corners in order; one unknown corner refuses the whole
// polygon; the journal counts points from the operation's first; a tag on the polygon just added,
// on one before it or on one tagged already each lands on its own polygon, with or without a
// journal (which takes every call the checked way).
TEST(EditOpFastPaths, PolygonsAndTagsOfEveryShape)
{
    for (const bool journaled : {false, true}) {
        host::Mesh mesh;
        mesh.foreground.add_point({}); // an earlier build's point and polygon
        mesh.foreground.add_polygon(ID_FACE, {0});
        host::Journal journal;
        host::EditOp edit(mesh, journaled ? &journal : nullptr);
        MeshEditOp *op = edit.op();
        std::vector<LWPntID> ids;
        for (int i = 0; i < 6; ++i) {
            double xyz[3] = {1.0 * i, 0, 0};
            ids.push_back(op->addPoint(op->state, xyz));
        }
        const LWPolID six = op->addFace(op->state, "RM_leaf", 6, ids.data());
        const LWPntID three[3] = {ids[5], ids[0], ids[2]};
        const LWPolID tri = op->addPoly(op->state, ID_PTCH, nullptr, "RM_trunk", 3, three);
        const LWPntID bad[3] = {ids[1], ids[2], host::EditOp::point_id(false, 7)};
        EXPECT_EQ(op->addFace(op->state, "RM_leaf", 3, bad), nullptr);
        const LWPolID one = op->addFace(op->state, nullptr, 1, &ids[3]);
        const LWPolID none = op->addFace(op->state, "RM_leaf", 0, nullptr);

        const host::Layer &fg = mesh.foreground;
        ASSERT_EQ(fg.polygon_count(), 5u);
        EXPECT_EQ(points_of(fg, 1), (std::vector<int>{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(points_of(fg, 2), (std::vector<int>{6, 1, 3}));
        EXPECT_EQ(points_of(fg, 3), (std::vector<int>{4}));
        EXPECT_TRUE(points_of(fg, 4).empty());
        EXPECT_EQ(fg.polygon(2).type, ID_PTCH);
        EXPECT_EQ(*fg.polygon(4).surface, "RM_leaf");
        EXPECT_EQ(fg.polygon(3).surface, nullptr);

        EXPECT_EQ(op->polTag(op->state, tri, ID_COLR, "Brown"), EDERR_NONE); // before the last
        EXPECT_EQ(op->polTag(op->state, one, ID_COLR, "Blue"), EDERR_NONE);   // next after the tagged
        EXPECT_EQ(op->polTag(op->state, none, ID_COLR, "Green"), EDERR_NONE); // the last
        EXPECT_EQ(op->polTag(op->state, none, ID_COLR, "Red"), EDERR_NONE);   // replaced
        EXPECT_EQ(op->polTag(op->state, none, HOST_ID4('P', 'A', 'R', 'T'), "tip"), EDERR_NONE);
        EXPECT_EQ(op->polTag(op->state, six, ID_COLR, "Green"), EDERR_NONE);
        for (LWPolID wrong : {host::EditOp::polygon_id(true, 1), host::EditOp::point_id(false, 1),
                              host::EditOp::polygon_id(false, 5), LWPolID{nullptr}})
            EXPECT_EQ(op->polTag(op->state, wrong, ID_COLR, "Blue"), EDERR_BADARGS);
        EXPECT_EQ(op->polTag(op->state, one, ID_COLR, nullptr), EDERR_BADARGS);
        EXPECT_EQ(fg.tag(0, ID_COLR), nullptr);
        EXPECT_EQ(*fg.tag(1, ID_COLR), "Green");
        EXPECT_EQ(*fg.tag(2, ID_COLR), "Brown");
        EXPECT_EQ(*fg.tag(3, ID_COLR), "Blue");
        EXPECT_EQ(*fg.tag(4, ID_COLR), "Red");
        EXPECT_EQ(*fg.tag(4, HOST_ID4('P', 'A', 'R', 'T')), "tip");
        EXPECT_EQ(edit.rejected().size(), 6u);

        // Polygon after polygon tagged through one name pointer, as the plug-in tags its leaves.
        static const char *const green = "Green";
        for (int k = 0; k < 3; ++k) {
            const LWPolID leaf = op->addFace(op->state, "RM_leaf", 3, three);
            ASSERT_EQ(op->polTag(op->state, leaf, ID_COLR, green), EDERR_NONE);
            ASSERT_EQ(op->polTag(op->state, leaf, HOST_ID4('P', 'A', 'R', 'T'), green), EDERR_NONE);
        }
        ASSERT_EQ(fg.polygon_count(), 8u);
        for (int p = 5; p < 8; ++p) {
            EXPECT_EQ(*fg.tag(p, ID_COLR), "Green");
            EXPECT_EQ(*fg.tag(p, HOST_ID4('P', 'A', 'R', 'T')), "Green");
        }
        EXPECT_EQ(*fg.tag(4, ID_COLR), "Red");
        fg.check_consistent();

        if (!journaled)
            continue;
        const std::vector<std::string> &lines = journal.lines();
        ASSERT_EQ(lines.size(), 6u + 4u + 6u + 9u);
        EXPECT_EQ(lines[6], "addFace 0 RM_leaf 6 0 1 2 3 4 5");
        EXPECT_EQ(lines[7], "addPoly 1 PTCH RM_trunk 3 5 0 2");
        EXPECT_EQ(lines[8], "addFace 2 - 1 3");
        EXPECT_EQ(lines[9], "addFace 3 RM_leaf 0");
        EXPECT_EQ(lines[10], "polTag 1 COLR Brown");
    }
}

TEST(LayerStorage, NamesByPointerFollowTheirText)
{
    host::NameTable names;
    static const char *const literal = "RM_range";
    const int range = names.intern(literal);
    EXPECT_EQ(names.intern(literal), range);
    EXPECT_EQ(names.intern(std::string_view("RM_range")), range);

    char buffer[16];
    std::strcpy(buffer, "RM_thick");
    const int thick = names.intern(static_cast<const char *>(buffer));
    EXPECT_NE(thick, range);
    EXPECT_EQ(names.intern(static_cast<const char *>(buffer)), thick);
    std::strcpy(buffer, "RM_vectors"); // the same pointer, another name
    const int vectors = names.intern(static_cast<const char *>(buffer));
    EXPECT_NE(vectors, thick);
    EXPECT_EQ(names[vectors], "RM_vectors");
    std::strcpy(buffer, "RM_range");
    EXPECT_EQ(names.intern(static_cast<const char *>(buffer)), range);

    // Once a module is unloaded, a pointer known before is read again, and still answers.
    host::module_unloaded();
    EXPECT_EQ(names.intern(literal), range);
    EXPECT_EQ(names.intern(literal), range);
    names.clear();
    EXPECT_EQ(names.intern(literal), 0);
    EXPECT_EQ(names[0], "RM_range");
}

// Polygons a scan's callback adds are not visited, and the scan keeps reading the right corners
// while the arrays grow under it.
TEST(LayerStorage, ScanWhileTheCallbackAddsPolygons)
{
    host::Mesh mesh;
    for (int i = 0; i < 3; ++i)
        mesh.foreground.add_point({1.0 * i, 1.0, 0});
    mesh.foreground.add_polygon(ID_FACE, {0, 1, 2}, "first");
    mesh.foreground.add_polygon(ID_FACE, {2, 1, 0});
    host::EditOp edit(mesh, nullptr);
    MeshEditOp *op = edit.op();
    struct Seen {
        MeshEditOp *op;
        std::vector<std::string> lines;
    } seen{op, {}};
    const EDError err = op->polyScan(
        op->state,
        [](void *user, const EDPolygonInfo *info) -> EDError {
            auto &s = *static_cast<Seen *>(user);
            std::string line = info->surface ? info->surface : "-";
            for (int i = 0; i < info->numPnts; ++i)
                (line += ' ') += std::to_string(s.op->pointInfo(s.op->state, info->points[i])->position[0]);
            s.lines.push_back(line);
            // Enough new polygons and names to move every array.
            for (int k = 0; k < 200; ++k) {
                const std::string surface = std::string("added").append(std::to_string(k));
                s.op->addFace(s.op->state, surface.c_str(), info->numPnts, info->points);
            }
            return EDERR_NONE;
        },
        &seen, OPLYR_FG);
    EXPECT_EQ(err, EDERR_NONE);
    EXPECT_EQ(seen.lines, (std::vector<std::string>{"first 0.000000 1.000000 2.000000",
                                                    "- 2.000000 1.000000 0.000000"}));
    EXPECT_EQ(mesh.foreground.polygon_count(), 402u);
    EXPECT_EQ(mesh.foreground.names.size(), 201u);
    EXPECT_TRUE(edit.rejected().empty());
}

// The build command keeps larger arrays on its heap, drawing the line before any array has had
// pages of its own; arrays cross the raised line both ways whole, and the line then stays.
TEST(LayerStorage, FlatArraysKeptOnTheHeapUpToALineDrawnFirst)
{
    if (!host::flat_block::keep_on_heap_up_to(std::size_t{4} << 20))
        GTEST_SKIP() << "an earlier test in this process gave an array pages of its own, or a sanitizer build";
    host::FlatArray<std::int32_t> a;
    for (std::int32_t i = 0; i < 2000000; ++i) // 8 MB: past the line, from the heap to pages of its own
        a.push_back(i);
    const host::FlatArray<std::int32_t> copy = a;
    a.resize(300000); // 1.2 MB: on the heap under the raised line, pages of its own under the first
    a.shrink_to_fit();
    a.push_back(-1);
    ASSERT_EQ(a.size(), 300001u);
    EXPECT_EQ(a[299999], 299999);
    EXPECT_EQ(a.back(), -1);
    ASSERT_EQ(copy.size(), 2000000u);
    EXPECT_EQ(copy[1999999], 1999999);
    EXPECT_FALSE(host::flat_block::keep_on_heap_up_to(std::size_t{64} << 20)) << "a line moved under mapped arrays";
}

TEST(LayerStorage, FlatArraysGrowCopyAndRefuseImpossibleSizes)
{
    host::FlatArray<int> a{1, 2, 3};
    for (int i = 0; i < 100000; ++i)
        a.push_back(i);
    const int more[2] = {-1, -2};
    a.append(more, 2);
    a.resize(a.size() + 3, 9);
    ASSERT_EQ(a.size(), 100008u);
    EXPECT_EQ(a[2], 3);
    EXPECT_EQ(a[100002], 99999);
    EXPECT_EQ(a[100004], -2);
    EXPECT_EQ(a.back(), 9);
    host::FlatArray<int> b = a;
    a[0] = 42;
    EXPECT_EQ(b[0], 1);
    b = std::move(a);
    EXPECT_EQ(b[0], 42);
    // Read at run time: a size GCC can see warns of the fill loop the refusal never reaches.
    volatile std::size_t impossible = std::size_t{1} << 62;
    EXPECT_THROW(b.resize(impossible), std::bad_alloc);
    EXPECT_EQ(b.size(), 100008u); // unchanged by the refusal

    // Shrunk to what it holds, it keeps every value and grows again from there.
    b.shrink_to_fit();
    ASSERT_EQ(b.size(), 100008u);
    EXPECT_EQ(b[0], 42);
    EXPECT_EQ(b[100004], -2);
    b.push_back(7);
    EXPECT_EQ(b.back(), 7);
    b.clear();
    b.shrink_to_fit();
    EXPECT_EQ(b.data(), nullptr);
    b.push_back(5);
    EXPECT_EQ(b[0], 5);

    // A large array has pages of its own and a small one lives on the heap: values cross that
    // line both ways, growing past it and shrunk back under it, and the copies stay apart.
    host::FlatArray<double> c;
    for (int i = 0; i < 200000; ++i)
        c.push_back(i * 0.5);
    host::FlatArray<double> d = c;
    c.resize(7);
    c.shrink_to_fit();
    ASSERT_EQ(c.size(), 7u);
    EXPECT_EQ(c[6], 3.0);
    double *tail = d.extend(3);
    tail[0] = tail[1] = tail[2] = -1.0;
    ASSERT_EQ(d.size(), 200003u);
    EXPECT_EQ(d[199999], 199999 * 0.5);
    EXPECT_EQ(d.back(), -1.0);
    c = std::move(d);
    EXPECT_EQ(c.size(), 200003u);
    EXPECT_EQ(d.size(), 7u);
    EXPECT_EQ(d[3], 1.5);

    // Tens of megabytes and back; and an array made just after a released one of its size holds
    // what it is given, not what the released one held.
    host::FlatArray<std::int64_t> e;
    for (std::int64_t i = 0; i < 3000000; ++i) // 24 MB
        e.push_back(i);
    e.resize(1000000);
    e.shrink_to_fit();
    ASSERT_EQ(e.size(), 1000000u);
    EXPECT_EQ(e[999999], 999999);
    EXPECT_EQ(e[123456], 123456);
    e.push_back(-5);
    EXPECT_EQ(e.back(), -5);
    {
        host::FlatArray<std::int64_t> released;
        released.resize(500000, 77);
    }
    host::FlatArray<std::int64_t> f;
    f.resize(500000);
    EXPECT_EQ(std::count(f.begin(), f.end(), 0), 500000);
    host::FlatArray<std::int64_t> g = e;
    EXPECT_EQ(g[999999], 999999);
    EXPECT_EQ(g.back(), -5);
}

// A finished tree's arrays are shrunk to what they hold: every value stays.
TEST(LayerStorage, ShrinkingALayerKeepsEveryValue)
{
    host::Layer layer;
    const float uv[2] = {0.25f, -0.0f};
    for (int i = 0; i < 1000; ++i) {
        layer.add_point({double(i), 0, 0});
        layer.set_vmap(ID_TXUV, "RM_branch", i, 2, uv);
    }
    for (int i = 0; i + 2 < 1000; i += 3)
        layer.add_polygon(ID_FACE, {i, i + 1, i + 2}, "RM_twig");
    layer.set_vpmap(ID_TXUV, "RM_branch", 4, 1, 2, uv);
    const host::Layer before = layer;
    layer.shrink_to_fit();
    ASSERT_EQ(layer.points.size(), before.points.size());
    ASSERT_EQ(layer.polygon_count(), before.polygon_count());
    for (int p = 0; p < 1000; p += 111) {
        EXPECT_EQ(layer.points[std::size_t(p)].x, double(p));
        const auto value = layer.vmaps.front().at(p);
        ASSERT_TRUE(value);
        EXPECT_EQ(std::memcmp(value->data(), uv, sizeof uv), 0);
    }
    EXPECT_TRUE(std::ranges::equal(layer.polygon_points(100), before.polygon_points(100)));
    EXPECT_TRUE(layer.vpmap_at(0, 4, 1).has_value());
    layer.add_point({1, 2, 3}); // and it grows on
    EXPECT_EQ(layer.points.back().z, 3.0);
}

// Running out of memory while the tree is written into the host's arrays fails the build with
// the tool's message; the host goes on.
TEST(LayerStorage, OutOfMemoryFailsTheBuildWithItsMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps address space of its own";
#else
    const int code = in_child([] {
        host::Session session;
        session.set_journal(false);
        session.services().echo_messages = false;
        if (!session.load(std::string(RAMULON_MODULE_DIR) + "/RamulonVE11.so") ||
            session.activate(11) != AFUNC_OK ||
            !host::load_obj_text(host::default_crown_obj(), "crown", session.mesh().background))
            return 2;
        session.start();
        LWXPanelID panel = session.panel();
        {
            host::Binding bind(session.services());
            for (const char *setting : {"render_type=1", "num_branches=3000"})
                if (!host::apply_setting(panel, setting).message().empty())
                    return 3;
        }
        // Room for two megabytes more than the process holds now: far less than the tree.
        if (!limit_memory_growth(2l << 20))
            return 5;
        const ramulon::Status built = session.build();
        if (!built && built.message() == "Memory allocation error" &&
            built.error().kind == ramulon::ErrorKind::out_of_memory)
            return 0;
        std::fprintf(stderr, "the build gave \"%s\"\n", built ? "no error" : built.message().c_str());
        return 6;
    });
    EXPECT_EQ(code, 0);
#endif
}

} // namespace
} // namespace ramulon
