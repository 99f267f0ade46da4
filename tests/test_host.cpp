// The stand-in modeller: the mesh behind the edit operation, the call journal, OBJ crowns,
// services, module loading and the session that drives the tool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <link.h>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "host/edit_op.h"
#include "host/journal.h"
#include "host/number_text.h"
#include "host/obj_loader.h"
#include "host/session.h"
#include "support/layer_reading.h"
#include "tool.h"
#include "trees.h"

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
const ServerRecord *server_records();
} // namespace ramulon

namespace ramulon {
namespace {

namespace fs = std::filesystem;

std::string module_file(const char *name) { return std::string(RAMULON_MODULE_DIR) + "/" + name; }

std::string sample_file(const char *name)
{
    return std::string(RAMULON_SOURCE_DIR) + "/samples/" + name;
}

// A folder of its own for files a test writes, removed afterwards.
struct TempDir {
    std::string path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "ramulon_host_XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string file(const std::string &name) const { return path + "/" + name; }
    std::string write(const std::string &name, const std::string &text) const
    {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }
};

// The plug-in linked into this test program, so its globals (tt, updated) can be inspected.
const ModuleDescriptor &linked_plugin()
{
    static const ModuleDescriptor descriptor{HOST_MODULE_SYNC, HOST_INTERFACE_VERSION, Startup,
                                             Shutdown, server_records()};
    return descriptor;
}

// Loads and activates the linked plug-in, quietly, and picks the tool.
bool start_linked(host::Session &s)
{
    s.services().echo_messages = false;
    if (!s.load(linked_plugin()) || s.activate() != AFUNC_OK)
        return false;
    return s.start() == 1;
}

// A background of `triangles` triangles side by side plus `segments` two-point polygons.
void small_background(host::Layer &bg, int triangles, int segments)
{
    bg.clear();
    for (int i = 0; i < triangles; ++i) {
        const double x = i * 1.0;
        const int a = bg.add_point({x, 3.0, 0.0});
        const int b = bg.add_point({x + 1.0, 3.0, 0.0});
        const int c = bg.add_point({x + 0.5, 5.0, 0.5});
        bg.add_polygon(ID_FACE, {a, b, c});
    }
    for (int i = 0; i < segments; ++i) {
        const int a = bg.add_point({0.0, 1.0 * i, 2.0});
        const int b = bg.add_point({1.0, 1.0 * i, 2.0});
        bg.add_polygon(ID_FACE, {a, b});
    }
}

// ------------------------------------------------------------------ mesh, edit op, journal

TEST(Journal, EveryCallHasItsLineFormat)
{
    host::Mesh mesh;
    host::Journal journal;
    host::EditOp edit(mesh, &journal);
    MeshEditOp *op = edit.op();

    double a[3] = {0.1, -2.5, 3.0};
    double b[3] = {1e-7, 0.0, 123456.789};
    LWPntID p0 = op->addPoint(op->state, a);
    LWPntID p1 = op->addPoint(op->state, b);
    LWPntID pts[2] = {p1, p0};
    LWPolID f0 = op->addFace(op->state, nullptr, 2, pts);
    LWPntID quad[4] = {p0, p1, p1, p0};
    LWPolID f1 = op->addPoly(op->state, ID_PTCH, nullptr, "RM_trunk", 4, quad);
    op->polTag(op->state, f1, ID_COLR, "Brown");
    float uv[2] = {0.1f, 0.25f};
    op->pntVMap(op->state, p1, ID_TXUV, "RM_branch", 2, uv);
    float w[1] = {1.0f / 3.0f};
    op->pntVMap(op->state, p0, ID_WGHT, "RM_range", 1, w);
    float seam[2] = {1.0f, 0.7f};
    op->pntVPMap(op->state, p0, f0, ID_TXUV, "RM_branch", 2, seam);

    const std::vector<std::string> expected = {
        "addPoint 0 0.10000000000000001 -2.5 3",
        "addPoint 1 9.9999999999999995e-08 0 123456.789",
        "addFace 0 - 2 1 0",
        "addPoly 1 PTCH RM_trunk 4 0 1 1 0",
        "polTag 1 COLR Brown",
        "pntVMap 1 TXUV RM_branch 2 0.100000001 0.25",
        "pntVMap 0 WGHT RM_range 1 0.333333343",
        "pntVPMap 0 0 TXUV RM_branch 2 1 0.699999988",
    };
    EXPECT_EQ(journal.lines(), expected);
    EXPECT_TRUE(edit.rejected().empty());

    // What the journal says is also what the mesh holds.
    const host::Layer &fg = mesh.foreground;
    ASSERT_EQ(fg.polygon_count(), 2u);
    EXPECT_EQ(fg.polygon(0).surface, nullptr);
    EXPECT_EQ(fg.polygon(1).type, ID_PTCH);
    EXPECT_EQ(*fg.polygon(1).surface, "RM_trunk");
    ASSERT_NE(fg.tag(1, ID_COLR), nullptr);
    EXPECT_EQ(*fg.tag(1, ID_COLR), "Brown");
    const host::VertexMap *tex = fg.find_vmap(ID_TXUV, "RM_branch");
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->dim, 2);
    EXPECT_EQ(floats(tex->at(1)), (std::vector<float>{0.1f, 0.25f}));
    EXPECT_FALSE(tex->at(0)); // a point the map skipped holds nothing
    EXPECT_EQ(floats(fg.vpmap_at(fg.find_vpmap(ID_TXUV, "RM_branch"), 0, 0)),
              (std::vector<float>{1.0f, 0.7f}));

    TempDir dir;
    ASSERT_EQ(journal.write(dir.file("journal.txt")).message(), "");
    std::ifstream in(dir.file("journal.txt"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), journal.text());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1)
        << "no temporary file may be left behind";
    const ramulon::Status into_nothing = journal.write(dir.file("missing/journal.txt"));
    EXPECT_EQ(into_nothing.error().kind, ramulon::ErrorKind::io);
    EXPECT_NE(into_nothing.message().find("missing/journal.txt"), std::string::npos);
}

TEST(EditOp, ReadsTheBackgroundAndWritesTheForeground)
{
    host::Mesh mesh;
    small_background(mesh.background, 2, 1);
    mesh.foreground.add_point({9, 9, 9}); // an earlier build's point: journal ids start after it
    host::Journal journal;
    host::EditOp edit(mesh, &journal);
    MeshEditOp *op = edit.op();

    EXPECT_EQ(op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL), 3);
    EXPECT_EQ(op->polyCount(op->state, OPLYR_FG, EDCOUNT_ALL), 0);

    struct Seen {
        MeshEditOp *op;
        std::vector<int> counts;
        std::vector<double> first_x;
    } seen{op, {}, {}};
    auto scan = [](void *user, const EDPolygonInfo *info) -> EDError {
        auto &s = *static_cast<Seen *>(user);
        s.counts.push_back(info->numPnts);
        EDPointInfo *p = s.op->pointInfo(s.op->state, info->points[0]);
        s.first_x.push_back(p ? p->position[0] : -1.0);
        return EDERR_NONE;
    };
    EXPECT_EQ(op->polyScan(op->state, scan, &seen, OPLYR_BG), EDERR_NONE);
    EXPECT_EQ(seen.counts, (std::vector<int>{3, 3, 2}));
    EXPECT_EQ(seen.first_x, (std::vector<double>{0.0, 1.0, 0.0}));

    // A callback's error stops the scan and is passed on.
    int visits = 0;
    auto stop = [](void *user, const EDPolygonInfo *) -> EDError {
        ++*static_cast<int *>(user);
        return EDERR_USERABORT;
    };
    EXPECT_EQ(op->polyScan(op->state, stop, &visits, OPLYR_BG), EDERR_USERABORT);
    EXPECT_EQ(visits, 1);

    double xyz[3] = {1, 2, 3};
    LWPntID p = op->addPoint(op->state, xyz);
    EXPECT_EQ(mesh.foreground.points.size(), 2u);
    EXPECT_EQ(mesh.background.points.size(), 8u);
    EXPECT_EQ(journal.lines().back(), "addPoint 0 1 2 3");

    // IDs from the wrong layer or of the wrong kind are refused, not followed.
    LWPntID bg_point = host::EditOp::point_id(true, 0);
    LWPntID mixed[2] = {p, bg_point};
    EXPECT_EQ(op->addFace(op->state, "x", 2, mixed), nullptr);
    EXPECT_EQ(op->pointInfo(op->state, host::EditOp::polygon_id(false, 0)), nullptr);
    EXPECT_EQ(op->pointInfo(op->state, nullptr), nullptr);
    EXPECT_EQ(op->polTag(op->state, host::EditOp::polygon_id(false, 7), ID_COLR, "Blue"),
              EDERR_BADARGS);
    EXPECT_EQ(op->pntVMap(op->state, p, ID_WGHT, "w", 1, nullptr), EDERR_BADARGS);
    EXPECT_EQ(op->addPoint(op->state, nullptr), nullptr);
    EXPECT_EQ(edit.rejected().size(), 6u);
    EXPECT_EQ(journal.lines().size(), 1u);
    EXPECT_EQ(mesh.foreground.polygon_count(), 0u);
}

// A layer whose arrays disagree stops a debug build at the first check; release builds keep no
// checks, and a whole layer passes them in both.
TEST(Layer, ConsistencyChecksCatchArraysThatDisagree)
{
    host::Layer layer;
    for (int k = 0; k < 4; ++k)
        layer.add_point({double(k), 0, 0});
    layer.add_polygon(ID_FACE, {0, 1, 2, 3}, "bark");
    layer.set_tag(0, ID_COLR, "brown");
    const float uv[2] = {0.5f, 1.0f};
    ASSERT_TRUE(layer.set_vmap(ID_TXUV, "RM_branch", 2, 2, uv));
    ASSERT_TRUE(layer.set_vpmap(ID_TXUV, "RM_branch", 3, 0, 2, uv));
    layer.check_consistent();

    const auto broken = [&](auto &&spoil) {
        host::Layer copy = layer;
        spoil(copy);
        copy.check_consistent();
    };
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.corners[1] = 7; }), "a corner that is a point");
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.corner_offset[1] = 3; }), "corner offsets");
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.polygon_surface[0] = 40; }), "a surface the layer names");
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.tags[0].next = 5; }), "a tag chained and named");
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.vmaps[0].count = 3; }), "points holding a value");
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.vmaps[0].values.resize(1); }), "stride floats per point");
    EXPECT_DEBUG_DEATH(broken([](host::Layer &l) { l.corner_values[0].offset = 9; }), "floats within the table");
}

TEST(EditOp, NewellNormals)
{
    host::Mesh mesh;
    host::Layer &bg = mesh.background;
    const int o = bg.add_point({0, 0, 0});
    const int x = bg.add_point({1, 0, 0});
    const int y = bg.add_point({0, 1, 0});
    const int t = bg.add_point({0, 1, 1});
    bg.add_polygon(ID_FACE, {o, x, y});    // counter-clockwise seen from +z
    bg.add_polygon(ID_FACE, {o, y, x});    // clockwise
    bg.add_polygon(ID_FACE, {o, x, t});    // tilted
    bg.add_polygon(ID_FACE, {o, x});       // two points: no direction
    bg.add_polygon(ID_FACE, {o, x, x});    // collinear
    host::EditOp edit(mesh, nullptr);
    MeshEditOp *op = edit.op();

    auto normal = [&](int index, int *result = nullptr) {
        double n[3] = {7, 7, 7};
        const int r = op->polyNormal(op->state, host::EditOp::polygon_id(true, index), n);
        if (result)
            *result = r;
        return std::vector<double>{n[0], n[1], n[2]};
    };
    EXPECT_EQ(normal(0), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(normal(1), (std::vector<double>{0, 0, -1}));
    const std::vector<double> tilted = normal(2);
    EXPECT_EQ(tilted[0], 0.0);
    EXPECT_DOUBLE_EQ(tilted[1], -std::sqrt(0.5));
    EXPECT_DOUBLE_EQ(tilted[2], std::sqrt(0.5));
    int result = -1;
    EXPECT_EQ(normal(3, &result), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(normal(4, &result), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(normal(9, &result), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(result, 0);
}

// ----------------------------------------------------------------------------- OBJ crowns

TEST(ObjLoader, FacesThenLinesInFileOrder)
{
    const std::string text = "# ten triangles and five segments\n"
                             "v 0 2 0\nv 1 2 0\nv 0 3 0\nv 1 3 0 1 0 0\n"
                             "o crown\n"
                             "f 1 2 3\nl 1 2\nf -4 -3 -2\nf 2/1 4/1 3/1\nf 1//1 2//1 3//1\n"
                             "g second\nusemtl bark\n"
                             "f 1 2 4\nf 1 2 3\nl 2 3\nf 1 2 3\nl 3 4\nl 1 4\nf 1 3 4\n"
                             "f 2 3 4 # closing\nl 2 4\nf 1 2 3\nl 1 2 3 4\n"
                             "vt 0 0\nvn 0 0 1\ns off\n";
    host::Layer layer;
    ASSERT_EQ(host::load_obj_text(text, "test.obj", layer).message(), "");
    ASSERT_EQ(layer.points.size(), 4u);
    EXPECT_EQ(layer.points[3].y, 3.0);
    ASSERT_EQ(layer.polygon_count(), 16u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(layer.polygon_type[i], ID_FACE);
        EXPECT_EQ(layer.polygon_points(i).size(), 3u);
    }
    EXPECT_EQ(points_of(layer, 1), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(points_of(layer, 2), (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(points_of(layer, 4), (std::vector<int>{0, 1, 3}));
    for (int i = 10; i < 15; ++i) {
        EXPECT_EQ(layer.polygon_type[i], ID_FACE);
        EXPECT_EQ(layer.polygon_points(i).size(), 2u);
    }
    EXPECT_EQ(points_of(layer, 10), (std::vector<int>{0, 1}));
    EXPECT_EQ(layer.polygon_type[15], ID_CURV);
    EXPECT_EQ(layer.polygon_points(15).size(), 4u);
}

// Every coordinate is the double nearest to its text: a crown written with all its digits
// loads as the very crown that was written, so it grows the very same tree.
TEST(ObjLoader, CoordinatesAreTheNearestDoubles)
{
    const std::vector<std::pair<std::string, double>> cases = {
        {"0.7653668647301796", 0x1.87de2a6aea963p-1},     // 0.76536686473017956
        {"0.6628271480711836", 0x1.535e1477bbbdep-1},     // 0.66282714807118359
        {"0.3826834323650897", 0x1.87de2a6aea962p-2},     // 0.38268343236508973
        {"-2.5E-3", -0.0025},
        {"+1e3", 1000.0},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"2.2250738585072014e-308", std::numeric_limits<double>::min()},
        {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
        {"1e-400", 0.0},
        {"-0", -0.0},
        {"0x1.8p1", 3.0},
    };
    std::string text;
    for (const auto &[number, expected] : cases)
        text += "v " + number + " 0 0\n";
    host::Layer layer;
    ASSERT_EQ(host::load_obj_text(text + "f 1 2 3\n", "exact.obj", layer).message(), "");
    ASSERT_EQ(layer.points.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(layer.points[i].x, cases[i].second) << cases[i].first;
        EXPECT_EQ(std::signbit(layer.points[i].x), std::signbit(cases[i].second)) << cases[i].first;
    }
    // What the panel and the preset reader take in goes through the same reading.
    EXPECT_EQ(host::parse_finite(" 0.6628271480711836"), 0x1.535e1477bbbdep-1);
    for (const char *refused : {"1e309", "1,5", "inf", "nan", "+-1", "1 ", "", "0x"})
        EXPECT_FALSE(host::parse_finite(refused).has_value()) << refused;
}

// A 12 x 8 ellipsoid crown written with 17 significant digits comes back digit for digit.
TEST(ObjLoader, SeventeenDigitCrownRoundTrips)
{
    auto print = [](double v) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return std::string(buffer);
    };
    std::string vertices;
    for (int ring = 1; ring < 8; ++ring)
        for (int k = 0; k < 12; ++k) {
            const double a = 2.0 * M_PI * k / 12.0, b = M_PI * ring / 8.0;
            vertices += "v " + print(3.1 * std::sin(b) * std::cos(a)) + " " +
                        print(5.0 + 2.7 * std::cos(b)) + " " + print(3.3 * std::sin(b) * std::sin(a)) + "\n";
        }
    std::string faces;
    for (int ring = 0; ring + 1 < 7; ++ring)
        for (int k = 0; k < 12; ++k) {
            const int a = ring * 12 + k + 1, b = ring * 12 + (k + 1) % 12 + 1;
            faces += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(b + 12) +
                     " " + std::to_string(a + 12) + "\n";
        }
    host::Layer layer;
    ASSERT_EQ(host::load_obj_text(vertices + faces, "crown.obj", layer).message(), "");
    std::string written;
    for (const host::Vec3 &p : layer.points)
        written += "v " + print(p.x) + " " + print(p.y) + " " + print(p.z) + "\n";
    EXPECT_EQ(written, vertices);
}

TEST(ObjLoader, BadFilesGiveOneLineErrors)
{
    TempDir dir;
    const std::map<std::string, std::string> cases = {
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", "bad.obj:4:"},
        {"v 0 0 0\nf 1 0 1\n", "bad.obj:2:"},
        {"v 0 0\n", "bad.obj:1:"},
        {"v 0 zero 0\n", "bad.obj:1:"},
        {"v 0 nan 0\n", "bad.obj:1:"},
        {"v 0 0 0\nv 1 0 0\nf 1 2\n", "a face needs at least 3 corners"},
        {"v 0 0 0\nl 1\n", "bad.obj:2:"},
        {"\n\nhello world\n", "bad.obj:3: unknown statement \"hello\""},
        {"v 0 0 0\ncurv 0 1 1\n", "not supported"},
        {std::string("v 0 0 0\n\0\x01\x02", 11), "not a text file"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/x 2 3\n", "bad.obj:4:"},
    };
    for (const auto &[text, message] : cases) {
        const std::string path = dir.write("bad.obj", text);
        host::Layer layer;
        layer.add_point({1, 1, 1});
        const ramulon::Status loaded = host::load_obj_file(path, layer);
        ASSERT_FALSE(loaded) << text;
        EXPECT_EQ(loaded.error().kind, ramulon::ErrorKind::invalid_input) << text;
        EXPECT_NE(loaded.message().find(message), std::string::npos) << loaded.message();
        EXPECT_EQ(loaded.message().find('\n'), std::string::npos) << loaded.message();
        EXPECT_TRUE(layer.empty());
    }

    // What cannot be read at all says so, and of what kind its failure is.
    host::Layer layer;
    const ramulon::Status missing = host::load_obj_file(dir.file("missing.obj"), layer);
    EXPECT_EQ(missing.error().kind, ramulon::ErrorKind::not_found);
    EXPECT_EQ(missing.message().rfind("cannot read " + dir.file("missing.obj") + ": ", 0), 0u) << missing.message();
    const ramulon::Status folder = host::load_obj_file(dir.path, layer);
    EXPECT_EQ(folder.error().kind, ramulon::ErrorKind::invalid_input);
    EXPECT_NE(folder.message().find("folder"), std::string::npos) << folder.message();
}

// Every sample is a closed, consistently wound envelope whose normals point outward, at the
// size of a tree.
TEST(Samples, ClosedOutwardCrowns)
{
    for (const char *name : {"round_crown.obj", "tall_crown.obj", "flat_crown.obj", "two_lobes.obj",
                             "weeping_crown.obj", "broad_crown.obj", "slender_crown.obj", "cone_crown.obj",
                             "shrub_crown.obj", "vase_crown.obj"}) {
        SCOPED_TRACE(name);
        host::Mesh mesh;
        ASSERT_EQ(host::load_obj_file(sample_file(name), mesh.background).message(), "");
        const host::Layer &bg = mesh.background;
        ASSERT_GT(bg.polygon_count(), 50u);

        double min_y = 1e9, max_y = -1e9, sum_x = 0.0;
        for (const host::Vec3 &p : bg.points) {
            min_y = std::min(min_y, p.y);
            max_y = std::max(max_y, p.y);
            sum_x += p.x;
        }
        // Above the ground, no taller than a tall tree (a shrub's mound starts low).
        EXPECT_GT(min_y, 0.1);
        EXPECT_LT(max_y, 12.0);
        EXPECT_NEAR(sum_x / static_cast<double>(bg.points.size()), 0.0, 0.3);

        std::map<std::pair<int, int>, int> edges; // directed edge -> uses
        for (std::size_t k = 0; k < bg.polygon_count(); ++k) {
            const std::span<const int> poly = bg.polygon_points(k);
            ASSERT_GE(poly.size(), 3u);
            ASSERT_LE(poly.size(), 4u);
            for (std::size_t i = 0; i < poly.size(); ++i)
                ++edges[{poly[i], poly[(i + 1) % poly.size()]}];
        }
        for (const auto &[edge, uses] : edges) {
            EXPECT_EQ(uses, 1);
            EXPECT_EQ(edges.count({edge.second, edge.first}), 1u) << "open edge";
        }

        // Outward: away from the centre of the lobe the polygon belongs to.
        std::map<bool, host::Vec3> centre;
        std::map<bool, int> count;
        for (const host::Vec3 &p : bg.points) {
            const bool right = p.x > 0.0 && std::string(name) == "two_lobes.obj";
            centre[right].x += p.x;
            centre[right].y += p.y;
            centre[right].z += p.z;
            ++count[right];
        }
        for (auto &[right, c] : centre) {
            c.x /= count[right];
            c.y /= count[right];
            c.z /= count[right];
        }
        for (std::size_t k = 0; k < bg.polygon_count(); ++k) {
            const std::span<const int> poly = bg.polygon_points(k);
            const host::Vec3 n = host::newell_normal(bg, poly);
            const host::Vec3 &p = bg.points[static_cast<std::size_t>(poly[0])];
            const host::Vec3 &c = centre[p.x > 0.0 && std::string(name) == "two_lobes.obj"];
            EXPECT_GT(n.x * (p.x - c.x) + n.y * (p.y - c.y) + n.z * (p.z - c.z), 0.0);
        }
    }
}

TEST(Samples, BuiltInCrownIsTheRoundSample)
{
    host::Layer builtin, file;
    ASSERT_EQ(host::load_obj_text(host::default_crown_obj(), "built-in", builtin).message(), "");
    ASSERT_EQ(host::load_obj_file(sample_file("round_crown.obj"), file).message(), "");
    ASSERT_EQ(builtin.points.size(), file.points.size());
    ASSERT_EQ(builtin.polygon_count(), file.polygon_count());
    for (std::size_t i = 0; i < file.points.size(); ++i)
        EXPECT_EQ(builtin.points[i].y, file.points[i].y);
}

// ------------------------------------------------------------------- modules and activation

// A shared object of this process that is surely not a plug-in: the C++ runtime.
std::string some_shared_library()
{
    std::string found;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find("libstdc++") != std::string::npos)
                *static_cast<std::string *>(data) = name;
            return 0;
        },
        &found);
    return found;
}

TEST(Modules, LoadErrorsAreOneLine)
{
    TempDir dir;
    struct Case {
        std::string path;
        const char *message;
        ramulon::ErrorKind kind;
    };
    const std::vector<Case> cases = {
        {dir.file("missing.so"), "cannot load module", ramulon::ErrorKind::not_found},
        {dir.write("text.so", "not a shared object\n"), "cannot load module", ramulon::ErrorKind::invalid_input},
        {some_shared_library(), "is not a plug-in module", ramulon::ErrorKind::invalid_input},
    };
    for (const Case &c : cases) {
        host::Session s;
        const ramulon::Status loaded = s.load(c.path);
        ASSERT_FALSE(loaded) << c.path;
        EXPECT_EQ(loaded.error().kind, c.kind) << c.path;
        EXPECT_EQ(loaded.message(), s.error());
        EXPECT_NE(s.error().find(c.message), std::string::npos) << s.error();
        EXPECT_EQ(s.error().find('\n'), std::string::npos) << s.error();
        EXPECT_EQ(s.activate(), -1);
        EXPECT_FALSE(s.build());
    }

    ModuleDescriptor foreign = linked_plugin();
    foreign.sysSync = 0x12345678;
    host::Session s1;
    EXPECT_FALSE(s1.load(foreign));
    EXPECT_NE(s1.error().find("does not match"), std::string::npos) << s1.error();

    static const ServerRecord others[] = {{"ImageFilter", "x", nullptr, nullptr},
                                          {nullptr, nullptr, nullptr, nullptr}};
    ModuleDescriptor no_tool = linked_plugin();
    no_tool.serverDefs = others;
    host::Session s2;
    EXPECT_FALSE(s2.load(no_tool));
    EXPECT_NE(s2.error().find("\"MeshEditTool\""), std::string::npos) << s2.error();
}

TEST(Modules, ActivationResults)
{
    {
        host::Session s;
        ASSERT_TRUE(s.load(module_file("RamulonVE11.so"))) << s.error();
        EXPECT_EQ(s.activate(11, {}, 3), AFUNC_BADVERSION);
        EXPECT_NE(s.error().find("version"), std::string::npos);
        EXPECT_FALSE(s.activated());
        EXPECT_EQ(s.activate(11, {"Image Utility 3"}), AFUNC_BADGLOBAL);
        EXPECT_NE(s.error().find("\"Image Utility 3\""), std::string::npos) << s.error();
        EXPECT_EQ(s.services().refused(), std::vector<std::string>{"Image Utility 3"});
        EXPECT_EQ(s.activate(), AFUNC_OK) << s.error();
        EXPECT_TRUE(s.activated());
    }
    {
        host::Session s;
        ASSERT_TRUE(s.load(module_file("RamulonVE11.so")));
        EXPECT_EQ(s.activate(10), AFUNC_BADGLOBAL);
        EXPECT_NE(s.error().find("\"LWXPanel 2\""), std::string::npos) << s.error();
    }
    const std::vector<std::pair<const char *, int>> matching = {
        {"RamulonDO10.so", 10}, {"RamulonLW9.so", 9}, {"RamulonVE11.so", 9}};
    for (const auto &[file, generation] : matching) {
        host::Session s;
        ASSERT_TRUE(s.load(module_file(file)));
        EXPECT_EQ(s.activate(generation), AFUNC_OK) << file << ": " << s.error();
        EXPECT_TRUE(s.services().refused().empty());
    }
}

// ---------------------------------------------------------------- the tool through a session

TEST(Session, ToolCallbacksAndInactiveBuild)
{
    host::Session s;
    ASSERT_TRUE(s.load(module_file("RamulonVE11.so")));
    ASSERT_EQ(s.activate(), AFUNC_OK);
    EXPECT_STREQ(s.help(), "Ramulon Tool");
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.start(), 1);
    s.event(LWT_EVENT_ACTIVATE);
    EXPECT_EQ(s.dirty(), LWT_DIRTY_WIREFRAME | LWT_DIRTY_HELPTEXT);
    s.draw();
    EXPECT_EQ(s.dirty(), 0);

    ASSERT_EQ(host::load_obj_text(host::default_crown_obj(), "crown", s.mesh().background).message(), "");
    s.drop();
    EXPECT_EQ(s.test(), LWT_TEST_REJECT);
    int steps = 0;
    s.set_step_hook([&](unsigned int) { ++steps; });
    s.mesh().foreground.add_point({1, 1, 1});
    EXPECT_EQ(s.build().message(), "");
    EXPECT_EQ(steps, 0) << "an inactive tool must not start a build";
    EXPECT_TRUE(s.mesh().foreground.empty());
    EXPECT_TRUE(s.journal().lines().empty());
    EXPECT_TRUE(s.messages().empty());
}

TEST(Session, BackgroundWithoutUsablePolygons)
{
    host::Session s;
    ASSERT_TRUE(start_linked(s));
    small_background(s.mesh().background, 0, 5);
    s.mesh().background.add_polygon(ID_PTCH, {0, 1, 3, 2}); // a SubD patch is not usable either
    std::vector<int> answers;
    s.set_step_hook([&](unsigned int) { answers.push_back(s.test()); });

    const auto built = s.build();
    EXPECT_EQ(built.error().kind, ramulon::ErrorKind::invalid_input);
    EXPECT_EQ(built.message(), "Need something in BG Layer");
    ASSERT_EQ(s.messages().size(), 1u);
    EXPECT_EQ(s.messages()[0].kind, "info");
    EXPECT_EQ(s.messages()[0].line1, "Need some polygons in the background layer.");
    EXPECT_EQ(s.messages()[0].line2, "SubD needs to be converted to polygons.");
    EXPECT_EQ(answers, std::vector<int>{LWT_TEST_REJECT}) << "test while building";
    EXPECT_EQ(s.test(), LWT_TEST_REJECT);
    EXPECT_TRUE(s.mesh().foreground.empty());
}

TEST(Session, TwoPointPolygonsAreCountedOut)
{
    host::Session s;
    ASSERT_TRUE(start_linked(s));
    s.event(LWT_EVENT_RESET);
    small_background(s.mesh().background, 10, 5);
    std::vector<int> answers;
    s.set_step_hook([&](unsigned int) { answers.push_back(s.test()); });

    EXPECT_EQ(s.build().message(), "");
    EXPECT_EQ(tt.num_bg_polys, 10);
    ASSERT_FALSE(answers.empty());
    for (int answer : answers)
        EXPECT_EQ(answer, LWT_TEST_REJECT);
    EXPECT_EQ(s.test(), 0) << "a finished build answers test_state";
    EXPECT_TRUE(s.rejected_calls().empty()) << s.rejected_calls().front();
}

// A session's next build makes room for the last tree at once: the same tree, value for value,
// whether its arrays grew as it came or were ready for it.
TEST(Session, ASecondBuildFillsTheRoomMadeForTheFirst)
{
    host::Session s;
    ASSERT_TRUE(start_linked(s));
    s.event(LWT_EVENT_RESET);
    small_background(s.mesh().background, 10, 0);
    const int seed = tt.random_seed;
    tt.random_seed = 7; // both builds grow the same tree
    ASSERT_EQ(s.build().message(), "");
    const host::Layer first = s.mesh().foreground;
    const std::vector<std::string> calls = s.journal().lines();
    ASSERT_EQ(s.build().message(), "");
    tt.random_seed = seed;
    const host::Layer &second = s.mesh().foreground;

    EXPECT_EQ(s.journal().lines(), calls);
    ASSERT_GT(first.points.size(), 100u);
    ASSERT_EQ(second.points.size(), first.points.size());
    ASSERT_EQ(second.polygon_count(), first.polygon_count());
    for (std::size_t p = 0; p < first.points.size(); ++p)
        ASSERT_TRUE(second.points[p].x == first.points[p].x && second.points[p].y == first.points[p].y &&
                    second.points[p].z == first.points[p].z) << "point " << p;
    for (std::size_t f = 0; f < first.polygon_count(); ++f) {
        ASSERT_EQ(points_of(second, f), points_of(first, f)) << "polygon " << f;
        ASSERT_EQ(second.polygon_surface[f], first.polygon_surface[f]) << "polygon " << f;
    }
    ASSERT_EQ(second.vmaps.size(), first.vmaps.size());
    for (std::size_t m = 0; m < first.vmaps.size(); ++m) {
        const std::vector<StoredValue> a = vmap_values(first, first.vmaps[m]), b = vmap_values(second, second.vmaps[m]);
        ASSERT_EQ(a.size(), b.size()) << "map " << m;
        for (std::size_t k = 0; k < a.size(); ++k)
            ASSERT_TRUE(a[k].point == b[k].point && a[k].values == b[k].values) << "map " << m << ", value " << k;
    }
    EXPECT_EQ(second.corner_floats.size(), first.corner_floats.size());
    // Each array holds no more room than the tree takes, as after any build.
    EXPECT_EQ(second.points.capacity(), second.points.size());
    EXPECT_EQ(second.corners.capacity(), second.corners.size());
}

// After each build the first change sets the level; later ones can only lower it, and level 0
// always wins.
TEST(Session, ChangeTracking)
{
    host::Session s;
    ASSERT_TRUE(start_linked(s));
    small_background(s.mesh().background, 0, 1);
    EXPECT_FALSE(s.build()); // fails, but a build began: updated is set
    EXPECT_EQ(updated, 1);
    change_status(&tt, 2);
    EXPECT_EQ(tt.change_level, 2);
    EXPECT_EQ(updated, 0);
    change_status(&tt, 1);
    EXPECT_EQ(tt.change_level, 1);
    change_status(&tt, 2);
    EXPECT_EQ(tt.change_level, 1);
    change_status(&tt, 0);
    EXPECT_EQ(tt.change_level, 0);
    change_status(&tt, 1);
    EXPECT_EQ(tt.change_level, 0);

    EXPECT_FALSE(s.build());
    change_status(&tt, 2); // the first change after a build sets the level, even upward
    EXPECT_EQ(tt.change_level, 2);
}

TEST(Session, SameSeedSameJournal)
{
    auto grow = [](std::vector<std::string> &lines) {
        host::Session s;
        s.services().show_progress = false;
        ASSERT_TRUE(s.load(module_file("RamulonVE11.so")));
        ASSERT_EQ(s.activate(), AFUNC_OK);
        s.start();
        ASSERT_EQ(host::load_obj_text(host::default_crown_obj(), "crown", s.mesh().background).message(), "");
        ASSERT_EQ(s.build().message(), "");
        EXPECT_TRUE(s.rejected_calls().empty()) << s.rejected_calls().front();
        EXPECT_EQ(s.journal().lines().size(),
                  s.mesh().foreground.points.size() + s.mesh().foreground.polygon_count());
        lines = s.journal().lines();
    };
    std::vector<std::string> first, second;
    grow(first);
    grow(second);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);
}

} // namespace
} // namespace ramulon
