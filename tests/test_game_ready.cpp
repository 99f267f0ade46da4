// Game-ready glTF: levels of detail, the far card, the vertex cache and fetch order, and the
// compressed buffers, on a real tree with tubes, twigs and leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <sys/wait.h>

#include <meshoptimizer.h>

#include "support/png_image.h"

#include "export/export.h"
#include "export/game_ready/impostor.h"
#include "export/game_ready/lod.h"
#include "export/game_ready/material_looks.h"
#include "export/game_ready/soft_raster.h"
#include "export/gltf/gltf_parts.h"
#include "export/mesh/vertex_order.h"
#include "host/obj_loader.h"
#include "host/session.h"
#include "host/shelf.h"
#include "support/export_files.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

// Polygonal tubes with twigs and leaves on them.
const host::Layer &leafy_tree()
{
    static host::Layer layer;
    static std::string error;
    static const bool built = build_real_tree({"render_type=1", "twig_type=5"}, layer, error);
    EXPECT_TRUE(built) << error;
    return layer;
}

std::string read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A GLB as its JSON and its binary chunk.
struct Glb {
    nlohmann::json json;
    std::string bin;
};

Glb read_glb(const std::string &path)
{
    const std::string bytes = read_bytes(path);
    Glb glb;
    std::uint32_t json_length = 0, bin_length = 0;
    EXPECT_GE(bytes.size(), 20u);
    if (bytes.size() < 20)
        return glb;
    std::memcpy(&json_length, bytes.data() + 12, 4);
    glb.json = nlohmann::json::parse(bytes.substr(20, json_length));
    if (bytes.size() >= 28 + json_length) {
        std::memcpy(&bin_length, bytes.data() + 20 + json_length, 4);
        glb.bin = bytes.substr(28 + json_length, bin_length);
    }
    return glb;
}

bool keep_image_bytes(tinygltf::Image *image, const int, std::string *, std::string *, int, int,
                      const unsigned char *bytes, int size, void *)
{
    image->image.assign(bytes, bytes + size);
    return true;
}

bool load_with_images(const std::string &path, tinygltf::Model &model)
{
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keep_image_bytes, nullptr);
    std::string error, warning;
    const bool ok = loader.LoadBinaryFromFile(&model, &error, &warning, path);
    EXPECT_TRUE(ok) << error;
    return ok;
}

std::size_t mesh_triangles(const tinygltf::Model &model, int mesh)
{
    std::size_t n = 0;
    for (const tinygltf::Primitive &prim : model.meshes[static_cast<std::size_t>(mesh)].primitives)
        if (prim.mode == TINYGLTF_MODE_TRIANGLES)
            n += model.accessors[static_cast<std::size_t>(prim.indices)].count / 3;
    return n;
}

bool is_leaf(const exporter::CollectedTree &tree, const exporter::PrimitiveArrays &prim)
{
    return tree.looks[static_cast<std::size_t>(prim.material)].leaf;
}

double leaf_area(const exporter::CollectedTree &tree, const exporter::MeshArrays &mesh)
{
    double area = 0.0;
    for (const exporter::PrimitiveArrays &prim : mesh) {
        if (!is_leaf(tree, prim))
            continue;
        const exporter::StreamValues &p = prim.streams.front().values;
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
            const float *a = &p[prim.indices[t] * 3], *b = &p[prim.indices[t + 1] * 3], *c = &p[prim.indices[t + 2] * 3];
            const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
            const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
            area += 0.5 * std::sqrt(std::pow(u[1] * w[2] - u[2] * w[1], 2) + std::pow(u[2] * w[0] - u[0] * w[2], 2) +
                                    std::pow(u[0] * w[1] - u[1] * w[0], 2));
        }
    }
    return area;
}

// Every vertex as the tuple of all its attribute values.
using Corner = std::vector<float>;

Corner corner(const exporter::PrimitiveArrays &prim, std::uint32_t v)
{
    Corner out;
    for (const exporter::VertexStream &s : prim.streams)
        out.insert(out.end(), s.values.begin() + v * s.dim, s.values.begin() + (v + 1) * s.dim);
    return out;
}

// A corner without its normal, and the normals of the corners alike but for it.
Corner corner_but_normal(const exporter::PrimitiveArrays &prim, std::uint32_t v)
{
    Corner out;
    for (const exporter::VertexStream &s : prim.streams)
        if (s.attribute != "NORMAL")
            out.insert(out.end(), s.values.begin() + v * s.dim, s.values.begin() + (v + 1) * s.dim);
    return out;
}

// A triangle's unit normal, from its corners' positions; (0, 0, 0) for one without area.
std::array<double, 3> face_normal(const exporter::PrimitiveArrays &prim, std::size_t first)
{
    const exporter::StreamValues &p = prim.streams.front().values;
    const float *a = &p[prim.indices[first] * 3], *b = &p[prim.indices[first + 1] * 3], *c = &p[prim.indices[first + 2] * 3];
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    std::array<double, 3> n = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(l > 1e-12))
        return {0, 0, 0};
    for (double &x : n)
        x /= l;
    return n;
}

TEST(GameReadyLevels, LevelsLandOnTheirShareThinTheLeavesAndKeepTheWoodsOwnVertices)
{
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_tree());
    const double all = static_cast<double>(exporter::triangle_count(tree.mesh));
    ASSERT_GT(all, 1000.0);
    // Every wood vertex of LOD0 without its normal, with the normals LOD0 gives it.
    std::map<Corner, std::vector<std::array<float, 3>>> wood_corners;
    std::size_t leaf_triangles = 0;
    for (const exporter::PrimitiveArrays &prim : tree.mesh) {
        leaf_triangles += is_leaf(tree, prim) ? prim.triangle_count() : 0;
        const exporter::VertexStream *normal = prim.stream("NORMAL");
        if (!is_leaf(tree, prim) && normal)
            for (std::uint32_t v = 0; v < prim.vertex_count(); ++v)
                wood_corners[corner_but_normal(prim, v)].push_back(
                    {normal->values[v * 3], normal->values[v * 3 + 1], normal->values[v * 3 + 2]});
    }
    ASSERT_GT(leaf_triangles, 100u);

    for (int level = 1; level < 4; ++level) {
        const double fraction = exporter::level_fraction(level);
        const exporter::MeshArrays simpler = exporter::make_level(tree.mesh, tree.looks, fraction);
        EXPECT_NEAR(exporter::triangle_count(simpler) / all, fraction, 0.1 * fraction) << level;

        std::size_t leaves = 0;
        for (const exporter::PrimitiveArrays &prim : simpler) {
            ASSERT_FALSE(prim.indices.empty());
            for (std::uint32_t index : prim.indices)
                ASSERT_LT(index, prim.vertex_count());
            if (is_leaf(tree, prim)) {
                leaves += prim.triangle_count();
                continue;
            }
            // The simplifier only removes: every wood vertex, weights and seams included, is
            // LOD0's, with one of the normals LOD0 gives it or its triangle's own.
            const exporter::VertexStream &normal = *prim.stream("NORMAL");
            for (std::size_t t = 0; t < prim.indices.size(); ++t) {
                const std::uint32_t v = prim.indices[t];
                const auto found = wood_corners.find(corner_but_normal(prim, v));
                ASSERT_NE(found, wood_corners.end()) << "level " << level << " vertex " << v;
                const std::array<float, 3> n = {normal.values[v * 3], normal.values[v * 3 + 1], normal.values[v * 3 + 2]};
                const std::array<double, 3> face = face_normal(prim, t - t % 3);
                const bool own = std::fabs(n[0] - face[0]) + std::fabs(n[1] - face[1]) + std::fabs(n[2] - face[2]) < 1e-5;
                EXPECT_TRUE(own || std::count(found->second.begin(), found->second.end(), n) > 0)
                    << "level " << level << " vertex " << v;
            }
        }
        // The leaves give up their share, and more where the wood keeps more than its own, but
        // never more than half of it.
        EXPECT_LE(double(leaves) / double(leaf_triangles), fraction + 0.02) << level;
        EXPECT_GE(double(leaves) / double(leaf_triangles), 0.5 * fraction - 0.02) << level;
        // Fewer, larger leaves: the crown's leaf area stays.
        EXPECT_NEAR(leaf_area(tree, simpler) / leaf_area(tree, tree.mesh), 1.0, 0.01) << level;
    }
    EXPECT_DOUBLE_EQ(exporter::level_fraction(4), 0.05 * 0.4);
}

exporter::MeshArrays wood_of(const exporter::CollectedTree &tree, const exporter::MeshArrays &mesh)
{
    exporter::MeshArrays out;
    for (const exporter::PrimitiveArrays &prim : mesh)
        if (prim.triangles() && !is_leaf(tree, prim))
            out.push_back(prim);
    return out;
}

// How many pieces the wood falls into: triangles joined by their corners, and surfaces joined
// where they share a point (a branch's base ring is its limb's).
std::size_t wood_pieces(const exporter::MeshArrays &wood)
{
    std::map<int, int> parent; // by layer point
    std::function<int(int)> root = [&](int p) { return parent[p] == p ? p : parent[p] = root(parent[p]); };
    for (const exporter::PrimitiveArrays &prim : wood)
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
            int r[3];
            for (std::size_t k = 0; k < 3; ++k) {
                const int point = prim.vertex_point[prim.indices[t + k]];
                parent.emplace(point, point);
                r[k] = root(point);
            }
            parent[r[1]] = r[0];
            parent[root(r[2])] = root(r[0]);
        }
    std::set<int> roots;
    for (const auto &[point, up] : parent)
        roots.insert(root(point));
    return roots.size();
}

// The wood's lowest height.
double wood_ground(const exporter::MeshArrays &wood)
{
    double low = 1e300;
    for (const exporter::PrimitiveArrays &prim : wood)
        for (const std::uint32_t v : prim.indices)
            low = std::min(low, double(prim.streams.front().values[v * 3 + 1]));
    return low;
}

// How the surface of the limbs, branches and twigs (trunk and roots aside) is shared among the
// four quarters around the vertical axis through (cx, cz), each triangle counted in the quarter
// of its centre.
std::array<double, 4> crown_quarters(const exporter::CollectedTree &tree, const exporter::MeshArrays &wood, double cx,
                                     double cz)
{
    std::array<double, 4> area{0, 0, 0, 0};
    for (const exporter::PrimitiveArrays &prim : wood) {
        if (tree.looks[static_cast<std::size_t>(prim.material)].holds_tree)
            continue;
        const exporter::StreamValues &p = prim.streams.front().values;
        for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
            double x = 0.0, z = 0.0;
            for (std::size_t k = 0; k < 3; ++k) {
                x += p[prim.indices[t + k] * 3] / 3.0;
                z += p[prim.indices[t + k] * 3 + 2] / 3.0;
            }
            const std::size_t quarter = (x >= cx ? 0 : 1) + (z >= cz ? 0 : 2);
            const float *a = &p[prim.indices[t] * 3], *b = &p[prim.indices[t + 1] * 3], *c = &p[prim.indices[t + 2] * 3];
            const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
            const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
            area[quarter] += std::sqrt(std::pow(u[1] * w[2] - u[2] * w[1], 2) + std::pow(u[2] * w[0] - u[0] * w[2], 2) +
                                       std::pow(u[0] * w[1] - u[1] * w[0], 2));
        }
    }
    const double all = area[0] + area[1] + area[2] + area[3];
    for (double &a : area)
        a /= all;
    return area;
}

TEST(GameReadyLevels, EveryLevelStandsOnItsTrunkAndRootsAndHoldsUpAllItKeeps)
{
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_tree());
    const exporter::MeshArrays wood0 = wood_of(tree, tree.mesh);
    ASSERT_EQ(wood_pieces(wood0), 1u);
    std::set<int> holding; // the trunk's and the roots' materials
    for (const exporter::PrimitiveArrays &prim : wood0)
        if (tree.looks[static_cast<std::size_t>(prim.material)].holds_tree)
            holding.insert(prim.material);
    ASSERT_EQ(holding.size(), 2u);
    const double ground = wood_ground(wood0);
    const exporter::Frame frame = exporter::frame_of(tree.mesh);
    const std::array<double, 4> quarters0 = crown_quarters(tree, wood0, frame.cx, frame.cz);
    for (int level = 1; level < 6; ++level) {
        SCOPED_TRACE(level);
        const exporter::MeshArrays wood = wood_of(tree, exporter::make_level(tree.mesh, tree.looks, exporter::level_fraction(level)));
        std::set<int> kept;
        for (const exporter::PrimitiveArrays &prim : wood)
            kept.insert(prim.material);
        for (const int material : holding)
            EXPECT_TRUE(kept.count(material)) << tree.materials.list[static_cast<std::size_t>(material)].name;
        // One piece of wood, standing where LOD0 stands: no limb, twig or crown hangs in the air.
        EXPECT_EQ(wood_pieces(wood), 1u);
        EXPECT_NEAR(wood_ground(wood), ground, 0.005 * frame.side);
        // Every side of the crown keeps its share of the wood: nothing is given up on one side
        // only (down to LOD3; a level of 2 % keeps little beyond the thickest limbs).
        const std::array<double, 4> quarters = crown_quarters(tree, wood, frame.cx, frame.cz);
        for (std::size_t q = 0; q < 4 && level < 4; ++q)
            EXPECT_GT(quarters[q], 0.6 * quarters0[q]) << "quarter " << q;
    }
}

TEST(GameReadyLevels, NoCornerNormalLeansAwayFromItsTriangle)
{
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_tree());
    for (int level = 0; level < 6; ++level) {
        const exporter::MeshArrays mesh =
            level == 0 ? tree.mesh : exporter::make_level(tree.mesh, tree.looks, exporter::level_fraction(level));
        std::size_t against = 0, corners = 0;
        for (const exporter::PrimitiveArrays &prim : mesh) {
            const exporter::VertexStream *normal = prim.stream("NORMAL");
            if (!prim.triangles() || !normal)
                continue;
            for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
                const std::array<double, 3> face = face_normal(prim, t);
                if (face == std::array<double, 3>{0, 0, 0})
                    continue;
                for (std::size_t k = 0; k < 3; ++k) {
                    const float *n = &normal->values[prim.indices[t + k] * 3];
                    against += n[0] * face[0] + n[1] * face[1] + n[2] * face[2] <= 0.0;
                    ++corners;
                }
            }
        }
        EXPECT_GT(corners, 0u) << level;
        EXPECT_EQ(against, 0u) << "level " << level << ": of " << corners << " corners";
    }
}

// The demo tree: the leafy preset on the built-in crown.
const host::Layer &leafy_demo()
{
    static host::Layer layer;
    static const bool built = [] {
        host::Session session;
        session.set_journal(false);
        if (!session.load(std::string(RAMULON_MODULE_DIR) + "/RamulonVE11.so") || session.activate(11) != AFUNC_OK ||
            !host::load_obj_text(host::default_crown_obj(), "built-in crown", session.mesh().background) ||
            !host::apply_preset(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/leafy.preset").applied)
            return false;
        session.start();
        if (!session.build())
            return false;
        layer = session.mesh().foreground;
        return true;
    }();
    EXPECT_TRUE(built);
    return layer;
}

TEST(GameReadyLevels, Lod1KeepsTheOutlineOfTheWood)
{
    // The pixels of the wood's outline in one of LOD0 and LOD1 but not both, of those in either,
    // seen from four sides.
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_demo());
    const exporter::MeshArrays wood0 = wood_of(tree, tree.mesh);
    const exporter::MeshArrays wood1 = wood_of(tree, exporter::make_level(tree.mesh, tree.looks, exporter::level_fraction(1)));
    const exporter::Frame frame = exporter::frame_of(tree.mesh);
    const std::vector<exporter::SurfaceLook> looks = exporter::plain_looks(tree.looks);
    for (int side = 0; side < 4; ++side) {
        const double angle = side * std::numbers::pi / 2;
        const double differ = exporter::silhouette_difference(exporter::render_view(wood0, looks, frame, angle, 512, 512),
                                                              exporter::render_view(wood1, looks, frame, angle, 512, 512));
        EXPECT_LT(differ, 0.05) << "side " << side;
        EXPECT_GT(differ, 0.0) << "side " << side; // it is simpler
    }
}

// Triangles as corner tuples, each turned to start at its least corner (winding kept).
std::multiset<std::vector<Corner>> triangles_of(const exporter::PrimitiveArrays &prim)
{
    std::multiset<std::vector<Corner>> out;
    for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
        std::vector<Corner> tri = {corner(prim, prim.indices[t]), corner(prim, prim.indices[t + 1]),
                                   corner(prim, prim.indices[t + 2])};
        std::rotate(tri.begin(), std::min_element(tri.begin(), tri.end()), tri.end());
        out.insert(tri);
    }
    return out;
}

TEST(GameReadyOrder, CacheAndFetchOrderKeepEveryTriangleAndImproveTheCache)
{
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_tree());
    exporter::MeshArrays ordered = tree.mesh;
    exporter::optimise_vertex_order(ordered);
    ASSERT_EQ(ordered.size(), tree.mesh.size());
    for (std::size_t p = 0; p < ordered.size(); ++p) {
        const exporter::PrimitiveArrays &before = tree.mesh[p], &after = ordered[p];
        ASSERT_EQ(after.vertex_count(), before.vertex_count());
        if (!after.triangles())
            continue;
        EXPECT_EQ(triangles_of(after), triangles_of(before)) << p;
        const auto cache = [](const exporter::PrimitiveArrays &prim) {
            return meshopt_analyzeVertexCache(prim.indices.data(), prim.indices.size(), prim.vertex_count(), 16, 0, 0).acmr;
        };
        EXPECT_LE(cache(after), cache(before)) << p;
        // Fetch order: vertices appear in the order the triangles first use them.
        std::uint32_t next = 0;
        for (std::uint32_t index : after.indices) {
            ASSERT_LE(index, next);
            next = std::max(next, index + 1);
        }
    }
}

// One square facing +z, from (0, 0) to (1, 1), the image once over it (glTF's v down).
exporter::MeshArrays textured_square()
{
    exporter::PrimitiveArrays square;
    square.streams = {{"POSITION", 3, {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}},
                      {"NORMAL", 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}},
                      {"TEXCOORD_0", 2, {0, 1, 1, 1, 1, 0, 0, 0}}};
    square.vertex_point = {0, 1, 2, 3};
    square.indices = {0, 1, 2, 0, 2, 3};
    return {square};
}

TEST(SoftRaster, TexturesAreSampledRepeatedAndCutOutAndEdgesAreSmoothed)
{
    // A 2 x 2 image: red and green above, blue and a clear texel below.
    const std::vector<std::uint8_t> texels = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 0, 0, 0, 0};
    exporter::SurfaceLook look;
    look.colour = {1.0, 1.0, 1.0};
    look.image = std::make_shared<exporter::SampledImage>(2, 2, texels);
    look.alpha_cutoff = 0.5;
    const exporter::Frame frame{0.5, 0.0, 0.0, 1.0}; // the square fills the picture
    const auto at = [](const exporter::Picture &p, int x, int y) {
        return std::vector<int>(p.rgba.begin() + (y * p.width + x) * 4, p.rgba.begin() + (y * p.width + x) * 4 + 4);
    };
    const exporter::Picture once = exporter::render_view(textured_square(), {look}, frame, 0.0, 64, 64);
    // Lit from the front, each texel shows its own hue; the clear one is cut out.
    const auto hue = [](const std::vector<int> &pixel) {
        const int top = static_cast<int>(std::max_element(pixel.begin(), pixel.begin() + 3) - pixel.begin());
        for (int c = 0; c < 3; ++c)
            if (c != top && pixel[static_cast<std::size_t>(c)] * 3 > pixel[static_cast<std::size_t>(top)])
                return -1;
        return pixel[3] == 255 ? top : -1;
    };
    EXPECT_EQ(hue(at(once, 16, 16)), 0);
    EXPECT_EQ(hue(at(once, 48, 16)), 1);
    EXPECT_EQ(hue(at(once, 16, 48)), 2);
    EXPECT_EQ(at(once, 48, 48), (std::vector<int>{0, 0, 0, 0}));
    // A texture transform's scale repeats the image: red again half way along.
    look.scale = {2.0, 2.0};
    const exporter::Picture twice = exporter::render_view(textured_square(), {look}, frame, 0.0, 64, 64);
    EXPECT_EQ(hue(at(twice, 40, 8)), 0);
    EXPECT_EQ(hue(at(twice, 56, 8)), 1);
    EXPECT_EQ(at(twice, 56, 56), (std::vector<int>{0, 0, 0, 0}));
    // Seen from afar (the square a pixel or two), the image's mean colour stands for it, and the
    // clear texel still cuts the outline where the image itself is clear.
    look.scale = {1.0, 1.0};
    const exporter::Picture far =
        exporter::render_view(textured_square(), {look}, exporter::Frame{0.0, 0.0, 0.0, 32.0}, 0.0, 32, 32, 4);
    const std::vector<int> mean = at(far, 16, 31);
    EXPECT_EQ(mean[3], 255 * 3 / 4);
    EXPECT_TRUE(mean[0] > 0 && mean[1] > 0 && mean[2] > 0) << mean[0] << " " << mean[1] << " " << mean[2];
    // Edges in between: a square half a pixel off the grid covers the border pixels in part.
    const exporter::Picture shifted =
        exporter::render_view(textured_square(), {exporter::SurfaceLook{}}, exporter::Frame{0.5 + 0.5 / 8, 0.0, -0.1, 1.25},
                              0.0, 8, 8, 4);
    std::set<int> alphas;
    for (std::size_t i = 3; i < shifted.rgba.size(); i += 4)
        alphas.insert(shifted.rgba[i]);
    EXPECT_TRUE(alphas.count(0));
    EXPECT_TRUE(alphas.count(255));
    EXPECT_GT(alphas.size(), 2u);
}

// The picture a material shows, decoded to 8-bit RGBA (width and height filled).
std::vector<unsigned char> material_picture(const tinygltf::Model &model, const tinygltf::Material &material, int &width,
                                            int &height)
{
    const tinygltf::Image &image = model.images.at(static_cast<std::size_t>(
        model.textures.at(static_cast<std::size_t>(material.pbrMetallicRoughness.baseColorTexture.index)).source));
    int channels = 0;
    unsigned char *pixels =
        stbi_load_from_memory(image.image.data(), static_cast<int>(image.image.size()), &width, &height, &channels, 4);
    EXPECT_NE(pixels, nullptr);
    EXPECT_EQ(channels, 4);
    std::vector<unsigned char> out;
    if (pixels)
        out.assign(pixels, pixels + std::size_t(width) * std::size_t(height) * 4);
    stbi_image_free(pixels);
    return out;
}

TEST(GameReadyFile, LevelsAndCardAreSiblingNodesNamedForLodGroupsOrFilesOfTheirOwn)
{
    ScratchDir dir;
    exporter::WriteReport report;
    const exporter::WriteOptions options{.levels = 3, .impostor = true};
    ASSERT_EQ(exporter::write_tree(leafy_tree(), dir.file("oak.glb"), options, &report).message(), "");
    tinygltf::Model model;
    ASSERT_TRUE(load_with_images(dir.file("oak.glb"), model));
    ASSERT_EQ(model.nodes.size(), 5u);
    EXPECT_EQ(model.scenes[0].nodes, std::vector<int>{0});
    EXPECT_EQ(model.nodes[0].name, "oak");
    EXPECT_EQ(model.nodes[0].children, (std::vector<int>{1, 2, 3, 4}));
    const char *names[] = {"oak_LOD0", "oak_LOD1", "oak_LOD2", "oak_LOD_FAR"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(model.nodes[i + 1].name, names[i]);
        ASSERT_GE(model.nodes[i + 1].mesh, 0);
    }
    EXPECT_EQ(mesh_triangles(model, model.nodes[1].mesh), report.level_triangles[0]);
    EXPECT_EQ(mesh_triangles(model, model.nodes[2].mesh), report.level_triangles[1]);
    EXPECT_LT(report.level_triangles[2], report.level_triangles[1]);
    EXPECT_EQ(mesh_triangles(model, model.nodes[4].mesh), 16u); // 8 one-sided quads
    EXPECT_EQ(report.far_triangles, 16u);

    // The card: its own unlit material showing the atlas, 8 views of 256 pixels with alpha.
    const tinygltf::Primitive &card = model.meshes[static_cast<std::size_t>(model.nodes[4].mesh)].primitives.at(0);
    const tinygltf::Material &material = model.materials[static_cast<std::size_t>(card.material)];
    EXPECT_EQ(material.name, "RM_far_card");
    EXPECT_EQ(material.alphaMode, "MASK");
    EXPECT_TRUE(material.extensions.count("KHR_materials_unlit"));
    int width = 0, height = 0;
    const std::vector<unsigned char> pixels = material_picture(model, material, width, height);
    ASSERT_EQ(width, 1024);
    ASSERT_EQ(height, 512);
    for (int view = 0; view < 8; ++view) {
        std::size_t covered = 0;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                covered += pixels[((std::size_t(view / 4) * 256 + y) * 1024 + std::size_t(view % 4) * 256 + x) * 4 + 3] != 0;
        EXPECT_GT(covered, 256u * 256 / 50) << view;
        EXPECT_LT(covered, 256u * 256 / 2) << view;
    }
    // Each quad faces its own view and shows its own tile.
    const std::vector<float> normals = accessor_floats(model, card.attributes.at("NORMAL"));
    const std::vector<float> uvs = accessor_floats(model, card.attributes.at("TEXCOORD_0"));
    ASSERT_EQ(normals.size(), 32u * 3);
    for (int view = 0; view < 8; ++view) {
        const double angle = view * std::numbers::pi / 4;
        EXPECT_NEAR(normals[view * 12 + 0], std::sin(angle), 1e-6);
        EXPECT_NEAR(normals[view * 12 + 2], std::cos(angle), 1e-6);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(std::floor(uvs[(view * 4 + c) * 2] * 4 - (c == 1 || c == 2 ? 1e-6 : 0)), view % 4);
            EXPECT_EQ(std::floor(uvs[(view * 4 + c) * 2 + 1] * 2 - (c < 2 ? 1e-6 : 0)), view / 4);
        }
    }

    // One file per level and for the card, each its part alone.
    ASSERT_EQ(exporter::write_tree(leafy_tree(), dir.file("elm.glb"), {.levels = 3, .level_files = true, .impostor = true}).message(), "");
    const std::pair<const char *, const char *> files[] = {
        {"elm.glb", "elm_LOD0"}, {"elm_LOD1.glb", "elm_LOD1"}, {"elm_LOD2.glb", "elm_LOD2"}, {"elm_LOD_FAR.glb", "elm_LOD_FAR"}};
    for (const auto &[file, node] : files) {
        tinygltf::Model part;
        ASSERT_TRUE(load_with_images(dir.file(file), part)) << file;
        ASSERT_EQ(part.nodes.size(), 1u) << file;
        EXPECT_EQ(part.nodes[0].name, node);
        if (std::string(node).ends_with("_FAR")) {
            ASSERT_EQ(part.materials.size(), 1u);
            EXPECT_EQ(part.materials[0].name, "RM_far_card");
            EXPECT_EQ(part.meshes.at(0).primitives.at(0).material, 0);
        }
    }
}

bool woody_name(const std::string &name)
{
    return name == "RM_trunk" || name == "RM_branch" || name == "RM_twig" || name == "RM_root";
}

// Every primitive of every level wears the tree's own materials: bark textured, leaves
// textured, alpha-masked and double-sided; the image of each texture is in the file (or beside
// it, for a .gltf).
void expect_textured_levels(const tinygltf::Model &model, const std::string &folder, const std::string &file)
{
    SCOPED_TRACE(file);
    std::size_t levels = 0;
    for (const tinygltf::Node &node : model.nodes) {
        if (node.mesh < 0 || node.name.ends_with("_FAR"))
            continue;
        ++levels;
        std::set<std::string> names;
        for (const tinygltf::Primitive &prim : model.meshes[static_cast<std::size_t>(node.mesh)].primitives) {
            const tinygltf::Material &m = model.materials.at(static_cast<std::size_t>(prim.material));
            names.insert(m.name);
            const int texture = m.pbrMetallicRoughness.baseColorTexture.index;
            ASSERT_GE(texture, 0) << node.name << " " << m.name;
            const tinygltf::Image &image =
                model.images.at(static_cast<std::size_t>(model.textures.at(static_cast<std::size_t>(texture)).source));
            if (image.uri.empty())
                EXPECT_FALSE(image.image.empty()) << node.name << " " << m.name;
            else
                EXPECT_TRUE(std::filesystem::exists(folder + "/" + image.uri)) << image.uri;
            if (m.name == "VF_leaf") {
                EXPECT_EQ(m.alphaMode, "MASK") << node.name;
                EXPECT_TRUE(m.doubleSided) << node.name;
            } else {
                EXPECT_TRUE(woody_name(m.name)) << node.name << " " << m.name;
            }
        }
        // The trunk, the roots and the leaves in every level.
        for (const char *name : {"RM_trunk", "RM_root", "VF_leaf"})
            EXPECT_TRUE(names.count(name)) << node.name << " " << name;
    }
    EXPECT_GT(levels, 0u);
}

TEST(GameReadyFile, EveryLevelWearsTheTreesTexturedMaterialsInOneFileOrInFilesOfTheirOwn)
{
    ScratchDir dir;
    // Roots on the leafy tree, so that every surface appears.
    host::Layer layer;
    std::string error;
    ASSERT_TRUE(build_real_tree({"render_type=1", "twig_type=5", "num_roots=5"}, layer, error)) << error;
    ASSERT_EQ(exporter::write_tree(layer, dir.file("one.glb"), {.levels = 4, .impostor = true}).message(), "");
    ASSERT_EQ(exporter::write_tree(layer, dir.file("own.glb"), {.levels = 3, .level_files = true, .impostor = true}).message(), "");
    ASSERT_EQ(exporter::write_tree(layer, dir.file("text.gltf"), {.levels = 3, .level_files = true}).message(), "");
    for (const char *file : {"one.glb", "own.glb", "own_LOD1.glb", "own_LOD2.glb", "text.gltf", "text_LOD1.gltf",
                             "text_LOD2.gltf"}) {
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        loader.SetImageLoader(keep_image_bytes, nullptr);
        std::string warning;
        const std::string path = dir.file(file);
        const bool loaded = std::string(file).ends_with(".glb") ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                                                                : loader.LoadASCIIFromFile(&model, &error, &warning, path);
        ASSERT_TRUE(loaded) << file << ": " << error;
        expect_textured_levels(model, dir.path(), file);
    }
    // The level files beside a .gltf share the main file's images.
    EXPECT_TRUE(std::filesystem::exists(dir.file("text_bark.png")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("text_leaves.png")));
}

TEST(GameReadyFile, TheFarCardShowsLod0AsItsTexturedMaterialsPaintItWithSmoothEdges)
{
    ScratchDir dir;
    ASSERT_EQ(exporter::write_tree(leafy_tree(), dir.file("oak.glb"), {.impostor = true}).message(), "");
    tinygltf::Model model;
    ASSERT_TRUE(load_with_images(dir.file("oak.glb"), model));
    // The looks of LOD0's own materials, read back from the file: bark and leaves textured, the
    // leaves cut out by their alpha.
    std::vector<std::string> bytes;
    for (const tinygltf::Image &image : model.images)
        bytes.emplace_back(image.image.begin(), image.image.end());
    std::vector<const std::string *> images;
    for (const std::string &b : bytes)
        images.push_back(&b);
    std::vector<exporter::SurfaceLook> looks = exporter::surface_looks(model, images);
    const tinygltf::Node &lod0 = model.nodes.at(1);
    ASSERT_EQ(lod0.name, "oak_LOD0");
    for (const tinygltf::Primitive &prim : model.meshes.at(static_cast<std::size_t>(lod0.mesh)).primitives) {
        const exporter::SurfaceLook &look = looks.at(static_cast<std::size_t>(prim.material));
        EXPECT_TRUE(look.image) << prim.material;
        EXPECT_EQ(look.alpha_cutoff >= 0.0, model.materials[static_cast<std::size_t>(prim.material)].name == "VF_leaf");
    }
    // The written materials come in the order of the collected tree's.
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_tree());
    looks.resize(tree.looks.size());

    const tinygltf::Material &card = model.materials.back();
    ASSERT_EQ(card.name, "RM_far_card");
    int width = 0, height = 0;
    const std::vector<unsigned char> pixels = material_picture(model, card, width, height);
    ASSERT_EQ(width, 1024);
    // The first view, drawn again from LOD0 with those looks, is the first tile wherever the tree is.
    const exporter::Picture view = exporter::render_view(tree.mesh, looks, exporter::frame_of(tree.mesh), 0.0,
                                                         exporter::impostor_tile, exporter::impostor_tile,
                                                         exporter::impostor_samples);
    std::size_t covered = 0, partly = 0, differ = 0;
    for (int y = 0; y < exporter::impostor_tile; ++y)
        for (int x = 0; x < exporter::impostor_tile; ++x) {
            const unsigned char *tile = &pixels[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
            const std::uint8_t *drawn = &view.rgba[(std::size_t(y) * exporter::impostor_tile + std::size_t(x)) * 4];
            if (tile[3] == 0) {
                differ += drawn[3] != 0;
                continue;
            }
            ++covered;
            partly += tile[3] < 255;
            differ += !std::equal(tile, tile + 4, drawn);
        }
    EXPECT_EQ(differ, 0u);
    // Its edges are smooth: coverage in between, where the outline crosses a pixel.
    EXPECT_GT(partly, covered / 20);
    EXPECT_LT(partly, covered);
}

TEST(GameReadyFile, EveryOutputIsTheSameBytesRunToRun)
{
    ScratchDir first, second;
    const exporter::WriteOptions all{.levels = 4, .level_files = true, .impostor = true, .compress = exporter::Compression::meshopt};
    for (const ScratchDir *dir : {&first, &second}) {
        ASSERT_EQ(exporter::write_tree(leafy_tree(), dir->file("a.glb"), {.levels = 4, .impostor = true}).message(), "");
        ASSERT_EQ(exporter::write_tree(leafy_tree(), dir->file("b.gltf"), all).message(), "");
        ASSERT_EQ(exporter::write_tree(leafy_tree(), dir->file("c.glb")).message(), "");
    }
    ASSERT_EQ(first.entries(), second.entries());
    // a.glb; b.gltf, its .bin and its three images (bark, its relief, leaves), and four level
    // files with a .bin each; c.glb.
    EXPECT_EQ(first.entries().size(), 1u + 2 + 3 + 4 * 2 + 1);
    for (const std::string &name : first.entries())
        EXPECT_TRUE(read_bytes(first.file(name)) == read_bytes(second.file(name))) << name;
}

// The values a compressed accessor decodes to, dequantised to the tree's units.
// An accessor's values as floats: decoded from a meshopt view, or read from a plain one;
// normalised bytes as their fraction of 127.
std::vector<float> decode_accessor(const Glb &glb, int index)
{
    const nlohmann::json &accessor = glb.json["accessors"][static_cast<std::size_t>(index)];
    const nlohmann::json &view = glb.json["bufferViews"][accessor["bufferView"].get<std::size_t>()];
    const int component = accessor["componentType"];
    const std::size_t count = accessor["count"];
    const std::size_t dim = accessor["type"] == "SCALAR" ? 1
                            : accessor["type"] == "VEC2" ? 2
                            : accessor["type"] == "VEC3" ? 3
                                                         : 4;
    const std::size_t size_of = component == TINYGLTF_COMPONENT_TYPE_FLOAT || component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT ? 4
                                : component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT                                           ? 2
                                                                                                                                : 1;
    std::vector<unsigned char> data;
    std::size_t stride = view.value("byteStride", dim * size_of);
    if (view.contains("extensions")) {
        const nlohmann::json &record = view["extensions"]["EXT_meshopt_compression"];
        stride = record["byteStride"];
        data.resize(count * stride);
        const auto *source = reinterpret_cast<const unsigned char *>(glb.bin.data()) + record["byteOffset"].get<std::size_t>();
        const std::size_t size = record["byteLength"];
        if (record["mode"] != "ATTRIBUTES") {
            std::vector<std::uint32_t> indices(count);
            EXPECT_EQ(record["mode"] == "TRIANGLES" ? meshopt_decodeIndexBuffer(indices.data(), count, 4, source, size)
                                                    : meshopt_decodeIndexSequence(indices.data(), count, 4, source, size),
                      0);
            return {indices.begin(), indices.end()};
        }
        EXPECT_EQ(meshopt_decodeVertexBuffer(data.data(), count, stride, source, size), 0);
        if (record.value("filter", "") == "EXPONENTIAL")
            meshopt_decodeFilterExp(data.data(), count, stride);
    } else {
        const std::size_t at = view.value("byteOffset", 0) + accessor.value("byteOffset", 0);
        EXPECT_LE(at + (count - 1) * stride + dim * size_of, glb.bin.size());
        data.assign(glb.bin.begin() + static_cast<std::ptrdiff_t>(at),
                    glb.bin.begin() + static_cast<std::ptrdiff_t>(std::min(at + count * stride, glb.bin.size())));
        data.resize(count * stride);
    }
    std::vector<float> out;
    for (std::size_t v = 0; v < count; ++v)
        for (std::size_t k = 0; k < dim; ++k) {
            const unsigned char *at = &data[v * stride];
            if (component == TINYGLTF_COMPONENT_TYPE_FLOAT) {
                float f;
                std::memcpy(&f, at + k * 4, 4);
                out.push_back(f);
            } else if (component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT) {
                std::uint32_t i;
                std::memcpy(&i, at + k * 4, 4);
                out.push_back(static_cast<float>(i));
            } else if (component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
                std::uint16_t s;
                std::memcpy(&s, at + k * 2, 2);
                out.push_back(s);
            } else {
                out.push_back(std::max(static_cast<signed char>(at[k]) / 127.0f, -1.0f));
            }
        }
    return out;
}

// Both modes: meshopt (quantised and compressed) and quantize (quantised, plain views).
class GameReadyCompression : public ::testing::TestWithParam<exporter::Compression> {};

TEST_P(GameReadyCompression, CompressedFileDecodesToThePlainOneWithinItsQuantisation)
{
    ScratchDir dir;
    const exporter::WriteOptions plain{.levels = 2, .impostor = true};
    exporter::WriteOptions compressed = plain;
    compressed.compress = GetParam();
    const bool meshopt = GetParam() == exporter::Compression::meshopt;
    exporter::WriteReport plain_report, compressed_report;
    ASSERT_EQ(exporter::write_tree(leafy_tree(), dir.file("plain.glb"), plain, &plain_report).message(), "");
    ASSERT_EQ(exporter::write_tree(leafy_tree(), dir.file("small.glb"), compressed, &compressed_report).message(), "");
    EXPECT_LT(compressed_report.files[0].bytes, plain_report.files[0].bytes / (meshopt ? 2 : 1));

    tinygltf::Model model;
    ASSERT_TRUE(load_with_images(dir.file("plain.glb"), model));
    const Glb glb = read_glb(dir.file("small.glb"));
    // Only what the mode uses is asked for: readers without a meshopt decoder take the
    // quantised file.
    for (const char *list : {"extensionsUsed", "extensionsRequired"}) {
        const auto has = [&](const char *name) {
            return std::find(glb.json[list].begin(), glb.json[list].end(), name) != glb.json[list].end();
        };
        EXPECT_TRUE(has("KHR_mesh_quantization")) << list;
        EXPECT_EQ(has("EXT_meshopt_compression"), meshopt) << list;
    }
    if (meshopt) {
        // The fallback buffer has no bytes of its own: the extension is required.
        const nlohmann::json &fallback = glb.json["buffers"][1];
        EXPECT_FALSE(fallback.contains("uri"));
        EXPECT_EQ(fallback["extensions"]["EXT_meshopt_compression"]["fallback"], true);
    } else {
        EXPECT_EQ(glb.json["buffers"].size(), 1u);
    }

    ASSERT_EQ(glb.json["meshes"].size(), model.meshes.size());
    for (std::size_t node = 1; node < model.nodes.size(); ++node) {
        const nlohmann::json &n = glb.json["nodes"][node];
        const double step = n.contains("scale") ? n["scale"][0].get<double>() : 1.0;
        const std::vector<double> origin = n.contains("translation") ? n["translation"].get<std::vector<double>>()
                                                                     : std::vector<double>{0, 0, 0};
        const tinygltf::Mesh &mesh = model.meshes[static_cast<std::size_t>(model.nodes[node].mesh)];
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
            const tinygltf::Primitive &prim = mesh.primitives[p];
            const nlohmann::json &small = glb.json["meshes"][static_cast<std::size_t>(model.nodes[node].mesh)]["primitives"][p];
            // Corner by corner: the index codec may turn a triangle to start at another corner
            // (winding is kept), and a corner whose normal would face away from its compacted
            // triangle has a vertex of its own (a number past the plain file's vertices).
            const std::vector<float> indices = decode_accessor(glb, small["indices"]);
            const std::vector<unsigned> want_indices = accessor_indices(model, prim.indices);
            ASSERT_EQ(indices.size(), want_indices.size());
            std::map<std::string, std::vector<float>> got, want;
            std::map<std::string, std::size_t> dim;
            for (const auto &[name, accessor] : prim.attributes) {
                want[name] = accessor_floats(model, accessor);
                got[name] = decode_accessor(glb, small["attributes"][name]);
                dim[name] = want[name].size() / model.accessors[static_cast<std::size_t>(accessor)].count;
            }
            const std::size_t plain_vertices = model.accessors[static_cast<std::size_t>(prim.attributes.at("POSITION"))].count;
            const std::size_t corners = prim.mode == TINYGLTF_MODE_TRIANGLES ? 3 : 1;
            std::size_t own = 0;
            for (std::size_t t = 0; t + corners <= indices.size(); t += corners) {
                std::size_t turn = 0;
                for (; turn < corners; ++turn) {
                    bool fits = true;
                    for (std::size_t k = 0; k < corners; ++k) {
                        const auto c = static_cast<std::size_t>(indices[t + (k + turn) % corners]);
                        fits = fits && (c == want_indices[t + k] || c >= plain_vertices);
                    }
                    if (fits)
                        break;
                }
                ASSERT_LT(turn, corners) << "triangle " << t / corners;
                for (std::size_t k = 0; k < corners; ++k) {
                    const auto c = static_cast<std::size_t>(indices[t + (k + turn) % corners]);
                    const std::size_t w = want_indices[t + k];
                    own += c >= plain_vertices ? 1 : 0;
                    for (const auto &[name, values] : want)
                        for (std::size_t i = 0; i < dim[name]; ++i) {
                            const float g = got[name][c * dim[name] + i], x = values[w * dim[name] + i];
                            if (name == "POSITION")
                                ASSERT_NEAR(origin[i] + g * step, x, step) << name << w;
                            else if (name == "NORMAL")
                                ASSERT_TRUE(c >= plain_vertices || std::fabs(g - x) <= 1.0 / 127) << name << w;
                            else
                                ASSERT_NEAR(g, x, std::abs(x) * 1e-4 + 1e-6) << name << w;
                        }
                }
            }
            // Few of LOD0's corners need it (the simplified levels' own normals are theirs).
            if (node == 1) {
                EXPECT_LT(own, indices.size() / 1000 + 1) << "primitive " << p;
            }
            // No corner of the file faces away from its triangle as a reader sees it.
            if (prim.mode == TINYGLTF_MODE_TRIANGLES && got.count("NORMAL")) {
                const std::vector<float> &xyz = got["POSITION"], &normal = got["NORMAL"];
                std::size_t away = 0;
                for (std::size_t t = 0; t + 3 <= indices.size(); t += 3) {
                    const auto a = static_cast<std::size_t>(indices[t]), b = static_cast<std::size_t>(indices[t + 1]),
                               c = static_cast<std::size_t>(indices[t + 2]);
                    double e1[3], e2[3];
                    for (std::size_t k = 0; k < 3; ++k) {
                        e1[k] = double(xyz[b * 3 + k]) - xyz[a * 3 + k];
                        e2[k] = double(xyz[c * 3 + k]) - xyz[a * 3 + k];
                    }
                    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                         e1[0] * e2[1] - e1[1] * e2[0]};
                    if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0)
                        continue;
                    for (const std::size_t v : {a, b, c})
                        away += normal[v * 3] * n[0] + normal[v * 3 + 1] * n[1] + normal[v * 3 + 2] * n[2] <= 0.0 ? 1 : 0;
                }
                EXPECT_EQ(away, 0u) << "node " << node << " primitive " << p;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, GameReadyCompression,
                         ::testing::Values(exporter::Compression::meshopt, exporter::Compression::quantize),
                         [](const auto &info) {
                             return std::string(info.param == exporter::Compression::meshopt ? "meshopt" : "quantize");
                         });

TEST(GameReadyFile, AnEmptyTreeStillMakesValidFiles)
{
    ScratchDir dir;
    const host::Layer empty;
    const exporter::WriteOptions all{.levels = 3, .compress = exporter::Compression::meshopt};
    ASSERT_EQ(exporter::write_tree(empty, dir.file("empty.glb"), all).message(), "");
    ASSERT_EQ(exporter::write_tree(empty, dir.file("empty.gltf"), all).message(), "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"empty.glb", "empty.gltf"}));
    for (const char *file : {"empty.glb", "empty.gltf"}) {
        tinygltf::Model model;
        ASSERT_TRUE(load_gltf(dir.file(file), model)) << file;
        EXPECT_TRUE(model.buffers.empty()) << file;
        EXPECT_TRUE(model.extensionsRequired.empty()) << file;
        EXPECT_EQ(model.nodes.size(), 4u) << file;
    }
    // The far card needs surfaces to picture.
    EXPECT_NE(exporter::write_tree(empty, dir.file("card.glb"), {.impostor = true}).message().find("--impostor"), std::string::npos);
}

// The page's game-ready GLB, made in memory, is the very file the same options write, and says
// the same of its levels; level files need a folder.
TEST(GameReadyFile, InMemoryItIsTheFileItsReportIncluded)
{
    ScratchDir dir;
    const exporter::WriteOptions options{.levels = 2, .impostor = true, .compress = exporter::Compression::meshopt};
    exporter::WriteReport on_disk, in_memory;
    ASSERT_EQ(exporter::write_tree(leafy_tree(), dir.file("tree.glb"), options, &on_disk).message(), "");
    const ramulon::Result<std::string> bytes = exporter::write_tree_to_memory(leafy_tree(), options, "tree.glb", &in_memory);
    ASSERT_TRUE(bytes.ok()) << bytes.error().message;
    EXPECT_EQ(*bytes, read_bytes(dir.file("tree.glb")));
    ASSERT_EQ(on_disk.files.size(), 1u);
    ASSERT_EQ(in_memory.files.size(), 1u);
    EXPECT_EQ(in_memory.files[0].bytes, bytes->size());
    EXPECT_EQ(on_disk.files[0].bytes, bytes->size());
    EXPECT_EQ(in_memory.level_triangles, on_disk.level_triangles);
    ASSERT_EQ(on_disk.level_triangles.size(), 2u);
    EXPECT_LT(on_disk.level_triangles[1], on_disk.level_triangles[0]);
    EXPECT_EQ(on_disk.far_triangles, 16u);

    const ramulon::Result<std::string> refused =
        exporter::write_tree_to_memory(leafy_tree(), {.levels = 2, .level_files = true});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ramulon::ErrorKind::invalid_input);
}

std::string cli(const std::string &args, int &status)
{
    const std::string command = std::string(RAMULON_CLI) + " build " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    std::size_t n;
    while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    const int raw = pipe ? pclose(pipe) : -1;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

TEST(GameReadyCli, BadRequestsFailWithOneLineAndWriteNothing)
{
    ScratchDir dir;
    const std::string out = " --output " + dir.file("tree.glb");
    const std::pair<std::string, std::string> cases[] = {
        {"--lod 0" + out, "ramulon: --lod must be between 1 and 8 levels (got 0)\n"},
        {"--lod 100" + out, "ramulon: --lod must be between 1 and 8 levels (got 100)\n"},
        {"--set render_type=0 --impostor" + out,
         "ramulon: cannot write " + dir.file("tree.glb") +
             ": --impostor pictures the tree's surfaces and this tree has none (a skeleton build is lines only)\n"},
        {"--compress --output " + dir.file("tree.obj"),
         "ramulon: --lod, --lod-files, --impostor and --compress need --output FILE.gltf or FILE.glb\n"},
    };
    for (const auto &[args, message] : cases) {
        int status = 0;
        EXPECT_EQ(cli(args, status), message) << args;
        EXPECT_EQ(status, 1) << args;
    }
    EXPECT_TRUE(dir.entries().empty());

    // A good request says what it wrote.
    int status = 0;
    const std::string said = cli("--set render_type=1 --lod 2 --compress" + out, status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find(dir.file("tree.glb") + ": "), std::string::npos) << said;
    EXPECT_NE(said.find("triangles: LOD0 "), std::string::npos) << said;
}

} // namespace
} // namespace ramulon

