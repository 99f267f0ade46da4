// The exporters: what reaches OBJ and glTF from a built layer (materials per surface, colours,
// texture seams, split vertices, per-point data and its defaults, skeleton lines), and that a
// write which cannot complete leaves nothing behind.
#include <gtest/gtest.h>

#include <tiny_obj_loader.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "export/cancel.h"
#include "export/export.h"
#include "export/gltf/gltf_file.h"
#include "export/gltf/gltf_collect.h"
#include "export/mesh/prepared_mesh.h"
#include "support/child_process.h"
#include "support/export_files.h"
#include "support/layer_reading.h"

namespace ramulon {
namespace {

using Values = std::vector<float>;

void set_vmap(host::Layer &layer, HostID type, const std::string &name, int point, Values v)
{
    layer.set_vmap(type, name, point, static_cast<int>(v.size()), v.data());
}

void set_vpmap(host::Layer &layer, const std::string &name, int point, int polygon, Values v)
{
    layer.set_vpmap(ID_TXUV, name, point, polygon, static_cast<int>(v.size()), v.data());
}

// A short square tube as the solid output writes it: ring A (points 0-3, y = 0) and ring B
// (points 4-7, y = 2), four "RM_trunk" quads tagged "Brown" of which quad 3 closes the texture
// seam, and a cap on "RM_branch". Then one leaf quad (points 8-11) and one skeleton segment
// without a surface (points 12, 13). Only ring B carries growth vectors and ages; only the tube
// carries range values.
host::Layer seam_tube()
{
    host::Layer layer;
    const double corner[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
    for (double y : {0.0, 2.0})
        for (const auto &c : corner)
            layer.add_point({c[0], y, c[1]});
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        const int f = layer.add_polygon(ID_FACE, {i, j, 4 + j, 4 + i}, "RM_trunk");
        layer.set_tag(f, ID_COLR, "Brown");
    }
    layer.add_polygon(ID_FACE, {4, 5, 6, 7}, "RM_branch");
    for (int i = 0; i < 4; ++i) {
        set_vmap(layer, ID_TXUV, "RM_branch", i, {i * 0.25f, 0.0f});
        set_vmap(layer, ID_TXUV, "RM_branch", 4 + i, {i * 0.25f, 0.5f});
        set_vmap(layer, ID_WGHT, "RM_range", i, {0.1f * static_cast<float>(i)});
        set_vmap(layer, ID_WGHT, "RM_range", 4 + i, {0.5f});
        set_vmap(layer, ID_RMVT, "RM_vectors", 4 + i, {0.0f, 2.0f, 0.0f});
        set_vmap(layer, ID_RMLD, "RM_density", 4 + i, {3.0f, 8.0f});
    }
    set_vpmap(layer, "RM_branch", 4, 3, {1.0f, 0.5f});
    set_vpmap(layer, "RM_branch", 0, 3, {1.0f, 0.0f});

    const float leaf_uv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    for (int i = 0; i < 4; ++i) {
        const int p = layer.add_point({5.0 + leaf_uv[i][0], 3.0, leaf_uv[i][1]});
        set_vmap(layer, ID_TXUV, "RM_leaf", p, {leaf_uv[i][0], leaf_uv[i][1]});
        set_vmap(layer, ID_TXUV, "RM_all_leaves", p, {leaf_uv[i][0] / 3, 2.0f / 3 + leaf_uv[i][1] / 3});
        set_vmap(layer, ID_WGHT, "RM_thick", p, {0.25f});
    }
    layer.set_tag(layer.add_polygon(ID_FACE, {8, 9, 10, 11}, "VF_leaf"), ID_COLR, "Green");

    const int a = layer.add_point({0, 5, 0});
    const int b = layer.add_point({0, 6, 0});
    layer.add_polygon(ID_FACE, {a, b});
    return layer;
}

// ------------------------------------------------------------------------------------ OBJ

struct ObjFile {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;

    explicit ObjFile(const std::string &path)
    {
        std::string warn, err;
        const std::string dir = path.substr(0, path.rfind('/') + 1);
        EXPECT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(),
                                     dir.c_str(), false))
            << err;
        EXPECT_TRUE(warn.empty()) << warn;
    }

    int material(const std::string &name) const
    {
        for (std::size_t m = 0; m < materials.size(); ++m)
            if (materials[m].name == name)
                return static_cast<int>(m);
        return -1;
    }

    // Faces per material name, over all shapes.
    std::map<std::string, int> faces_per_material() const
    {
        std::map<std::string, int> out;
        for (const auto &shape : shapes)
            for (int id : shape.mesh.material_ids)
                out[id >= 0 ? materials[static_cast<std::size_t>(id)].name : "(none)"] += 1;
        return out;
    }

    // The texture coordinate of corner c of face f (faces counted over all shapes in order), as
    // the floats the map holds (the reader's own number parser may be an ulp off in double).
    std::pair<float, float> uv(std::size_t face, std::size_t c) const
    {
        std::size_t offset = 0, f = 0;
        for (const auto &shape : shapes)
            for (std::size_t k = 0; k < shape.mesh.num_face_vertices.size(); ++k, ++f) {
                if (f == face) {
                    const int t = shape.mesh.indices[offset + c].texcoord_index;
                    if (t < 0)
                        return {NAN, NAN};
                    return {static_cast<float>(attrib.texcoords[2 * static_cast<std::size_t>(t)]),
                            static_cast<float>(attrib.texcoords[2 * static_cast<std::size_t>(t) + 1])};
                }
                offset += shape.mesh.num_face_vertices[k];
            }
        return {NAN, NAN};
    }
};

std::pair<float, float> uv(float u, float v) { return {u, v}; }

std::map<std::string, int> faces_per_surface(const host::Layer &layer)
{
    std::map<std::string, int> out;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        if (const host::PolygonRef poly = layer.polygon(p); poly.points.size() >= 3)
            out[poly.surface ? *poly.surface : "Default"] += 1;
    return out;
}

TEST(ExportObj, MaterialsQuadsLinesAndSeams)
{
    ScratchDir dir;
    const host::Layer layer = seam_tube();
    ASSERT_EQ(exporter::write_tree(layer, dir.file("tree.obj")).message(), "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"tree.mtl", "tree.obj", "tree_bark.png",
                                                       "tree_bark_normal.png", "tree_leaf.png"}));

    ObjFile obj(dir.file("tree.obj"));
    EXPECT_EQ(obj.faces_per_material(), faces_per_surface(layer));
    ASSERT_EQ(obj.attrib.vertices.size(), 3 * layer.points.size());
    for (std::size_t i = 0; i < layer.points.size(); ++i) // positions survive exactly
        EXPECT_EQ(obj.attrib.vertices[3 * i + 1], layer.points[i].y);
    for (const auto &shape : obj.shapes)
        for (unsigned char n : shape.mesh.num_face_vertices)
            EXPECT_EQ(n, 4);

    // The skeleton segment is a line in the default material.
    int line_count = 0;
    for (const auto &shape : obj.shapes)
        line_count += static_cast<int>(shape.lines.num_line_vertices.size());
    EXPECT_EQ(line_count, 1);
    EXPECT_GE(obj.material("Default"), 0);

    // The tube's corners carry the bark coordinates: u as "RM_branch" has it, t along the tube
    // in its own circumferences (2 m of a tube 8 m round: ring B at 1/4). Point 4 (ring B,
    // index 0) is corner 3 of quad 0 with u = 0 and corner 2 of the seam quad with u = 1;
    // point 0 likewise at t = 0.
    EXPECT_EQ(obj.uv(0, 3), uv(0.0f, 0.25f));
    EXPECT_EQ(obj.uv(3, 2), uv(1.0f, 0.25f));
    EXPECT_EQ(obj.uv(3, 1), uv(1.0f, 0.0f));
    EXPECT_EQ(obj.uv(3, 0), uv(0.75f, 0.0f));
    // The leaf takes its own texture map, not the tube's.
    EXPECT_EQ(obj.uv(5, 1), uv(0.0f, 1.0f));
    EXPECT_EQ(obj.uv(5, 3), uv(1.0f, 0.0f));

    // One bark on the trunk and the branch cap alike; the leaf masked by its own image.
    const auto &trunk = obj.materials[static_cast<std::size_t>(obj.material("RM_trunk"))];
    const auto &leaf = obj.materials[static_cast<std::size_t>(obj.material("VF_leaf"))];
    const auto &cap = obj.materials[static_cast<std::size_t>(obj.material("RM_branch"))];
    const auto &plain = obj.materials[static_cast<std::size_t>(obj.material("Default"))];
    EXPECT_EQ(trunk.diffuse_texname, "tree_bark.png");
    EXPECT_EQ(cap.diffuse_texname, "tree_bark.png");
    EXPECT_EQ(trunk.diffuse[0], cap.diffuse[0]);
    EXPECT_EQ(leaf.diffuse_texname, "tree_leaf.png");
    EXPECT_EQ(leaf.alpha_texname, "tree_leaf.png");
    EXPECT_TRUE(plain.diffuse_texname.empty());

    // Without textures: colours only, brown bark on every woody surface, green leaves; a
    // surface that is neither keeps the grey of "no sketch colour".
    exporter::ExportOptions colours;
    colours.textures = exporter::TextureChoice::none;
    ASSERT_EQ(exporter::write_tree(layer, dir.file("plain.obj"), {.look = colours}).message(), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("plain_bark.png")));
    ObjFile untextured(dir.file("plain.obj"));
    const auto &brown = untextured.materials[static_cast<std::size_t>(untextured.material("RM_branch"))];
    const auto &green = untextured.materials[static_cast<std::size_t>(untextured.material("VF_leaf"))];
    const auto &grey = untextured.materials[static_cast<std::size_t>(untextured.material("Default"))];
    EXPECT_GT(brown.diffuse[0], brown.diffuse[2]);
    EXPECT_TRUE(brown.diffuse_texname.empty());
    EXPECT_GT(green.diffuse[1], green.diffuse[0]);
    EXPECT_EQ(grey.diffuse[0], grey.diffuse[2]);
}

// ----------------------------------------------------------------------------------- glTF

struct GltfPrimitive {
    const tinygltf::Primitive *prim = nullptr;
    std::vector<unsigned> indices;
    std::map<std::string, std::vector<float>> attributes;
};

// The primitives of the only mesh, by material name and mode.
std::map<std::pair<std::string, int>, GltfPrimitive> primitives(const tinygltf::Model &model)
{
    std::map<std::pair<std::string, int>, GltfPrimitive> out;
    EXPECT_EQ(model.meshes.size(), 1u);
    for (const auto &prim : model.meshes.at(0).primitives) {
        GltfPrimitive p;
        p.prim = &prim;
        p.indices = accessor_indices(model, prim.indices);
        for (const auto &[name, accessor] : prim.attributes)
            p.attributes[name] = accessor_floats(model, accessor);
        const std::string material = model.materials.at(static_cast<std::size_t>(prim.material)).name;
        EXPECT_TRUE(out.emplace(std::make_pair(material, prim.mode), p).second);
    }
    return out;
}

// The vertices of a primitive that sit at a position.
std::vector<std::size_t> vertices_at(const GltfPrimitive &p, const host::Vec3 &at)
{
    std::vector<std::size_t> out;
    const auto &pos = p.attributes.at("POSITION");
    for (std::size_t v = 0; v * 3 < pos.size(); ++v)
        if (pos[3 * v] == static_cast<float>(at.x) && pos[3 * v + 1] == static_cast<float>(at.y) &&
            pos[3 * v + 2] == static_cast<float>(at.z))
            out.push_back(v);
    return out;
}

Values attribute(const GltfPrimitive &p, const std::string &name, std::size_t vertex, int dim)
{
    const auto &all = p.attributes.at(name);
    return Values(all.begin() + static_cast<long>(vertex) * dim,
                  all.begin() + static_cast<long>(vertex + 1) * dim);
}

class ExportGltf : public testing::TestWithParam<const char *> {};

TEST_P(ExportGltf, PrimitivesSeamsAttributesAndDefaults)
{
    ScratchDir dir;
    const host::Layer layer = seam_tube();
    const std::string path = dir.file(std::string("tree") + GetParam());
    ASSERT_EQ(exporter::write_tree(layer, path).message(), "");
    const std::vector<std::string> written = GetParam() == std::string(".glb")
                                                 ? std::vector<std::string>{"tree.glb"}
                                                 : std::vector<std::string>{"tree.bin", "tree.gltf", "tree_bark.png",
                                                                            "tree_bark_normal.png", "tree_leaves.png"};
    EXPECT_EQ(dir.entries(), written);
    tinygltf::Model model;
    ASSERT_TRUE(load_gltf(path, model));
    const auto prims = primitives(model);
    ASSERT_EQ(prims.size(), 4u);

    // The tube: 8 points, those on the seam (0 and 4) split between its two sides; the square's
    // corners shade round, one normal a point; 4 quads as 8 triangles.
    const GltfPrimitive &tube = prims.at({"RM_trunk", TINYGLTF_MODE_TRIANGLES});
    EXPECT_EQ(tube.attributes.at("POSITION").size(), 10u * 3);
    EXPECT_EQ(tube.indices.size(), 24u);
    const auto ring_b0 = vertices_at(tube, layer.points[4]);
    ASSERT_EQ(ring_b0.size(), 2u);
    std::set<std::pair<float, float>> seen, bark;
    for (std::size_t v : ring_b0) {
        const Values uv = attribute(tube, "TEXCOORD_0", v, 2);
        seen.insert({uv[0], uv[1]});
        // The bark coordinates: 2 m up a tube 8 m round, t = 1/4 (1 - t written).
        const Values b = attribute(tube, "TEXCOORD_1", v, 2);
        bark.insert({b[0], b[1]});
        // Values that do not differ by polygon are not split.
        EXPECT_EQ(attribute(tube, "_RM_RANGE", v, 1), Values{0.5f});
        EXPECT_EQ(attribute(tube, "_RM_VECTORS", v, 3), (Values{0, 2, 0}));
        EXPECT_EQ(attribute(tube, "_RM_DENSITY", v, 2), (Values{3, 8}));
    }
    // glTF counts v from the top of the image.
    EXPECT_EQ(seen, (std::set<std::pair<float, float>>{{0.0f, 0.5f}, {1.0f, 0.5f}}));
    EXPECT_EQ(bark, (std::set<std::pair<float, float>>{{0.0f, 0.75f}, {1.0f, 0.75f}}));
    // Ring A has no growth vector or age: zeros.
    const auto ring_a2 = vertices_at(tube, layer.points[2]);
    ASSERT_EQ(ring_a2.size(), 1u);
    const std::size_t a2 = ring_a2[0];
    EXPECT_EQ(attribute(tube, "_RM_VECTORS", a2, 3), (Values{0, 0, 0}));
    EXPECT_EQ(attribute(tube, "_RM_DENSITY", a2, 2), (Values{0, 0}));
    EXPECT_EQ(attribute(tube, "_RM_RANGE", a2, 1), Values{0.2f});
    EXPECT_EQ(attribute(tube, "TEXCOORD_0", a2, 2), (Values{0.5f, 1.0f}));
    // The corner at (1, -1) between the sides facing +x and -z leans halfway between them.
    const Values normal = attribute(tube, "NORMAL", a2, 3);
    EXPECT_NEAR(normal[0], std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(normal[1], 0.0f, 1e-6f);
    EXPECT_NEAR(normal[2], -std::sqrt(0.5f), 1e-6f);
    // Every triangle keeps the winding of its quad (its normal points away from the axis).
    const auto &pos = tube.attributes.at("POSITION");
    for (std::size_t t = 0; t < tube.indices.size(); t += 3) {
        const float *a = &pos[3 * tube.indices[t]], *b = &pos[3 * tube.indices[t + 1]],
                    *c = &pos[3 * tube.indices[t + 2]];
        const float ux = b[0] - a[0], uz = b[2] - a[2], vx = c[0] - a[0], vz = c[2] - a[2];
        const float uy = b[1] - a[1], vy = c[1] - a[1];
        const float nx = uy * vz - uz * vy, nz = ux * vy - uy * vx;
        EXPECT_GT(nx * (a[0] + b[0] + c[0]) + nz * (a[2] + b[2] + c[2]), 0.0f) << "triangle " << t / 3;
    }

    // The leaf: its own texture, the atlas as the second set, its thickness, a default range.
    const GltfPrimitive &leaf = prims.at({"VF_leaf", TINYGLTF_MODE_TRIANGLES});
    EXPECT_EQ(leaf.attributes.at("POSITION").size(), 4u * 3);
    const auto tip = vertices_at(leaf, layer.points[9]);
    ASSERT_EQ(tip.size(), 1u);
    EXPECT_EQ(attribute(leaf, "TEXCOORD_0", tip[0], 2), (Values{0.0f, 0.0f}));
    EXPECT_EQ(attribute(leaf, "TEXCOORD_1", tip[0], 2), (Values{0.0f, 1.0f - (2.0f / 3 + 1.0f / 3)}));
    EXPECT_EQ(attribute(leaf, "_RM_THICK", tip[0], 1), Values{0.25f});
    EXPECT_EQ(attribute(leaf, "_RM_RANGE", tip[0], 1), Values{0.0f});
    const auto &leaf_material = model.materials[static_cast<std::size_t>(leaf.prim->material)];
    EXPECT_TRUE(leaf_material.doubleSided);
    EXPECT_EQ(leaf_material.alphaMode, "MASK");
    EXPECT_EQ(leaf_material.pbrMetallicRoughness.baseColorTexture.texCoord, 1);

    // The skeleton segment: a line, without normals.
    const GltfPrimitive &line = prims.at({"Default", TINYGLTF_MODE_LINE});
    EXPECT_EQ(line.indices.size(), 2u);
    EXPECT_FALSE(line.attributes.count("NORMAL"));
    EXPECT_EQ(prims.count({"RM_branch", TINYGLTF_MODE_TRIANGLES}), 1u);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportGltf, testing::Values(".gltf", ".glb"));

// A point becomes one vertex per distinct set of corner values, however those values are held:
// a polygon that repeats a point's own value as its own shares the point's vertex, in whichever
// order plain and polygon-specific corners come; one that holds another value splits it.
TEST(ExportGltfEdges, PolygonValuesSplitAPointOnlyWhereTheyDiffer)
{
    host::Layer layer = seam_tube();
    // Quad 1 (points 1, 2, 6, 5) repeats point 2's own texture value and gives point 6 a range
    // of its own; quad 2 after it reads both points' own values.
    set_vpmap(layer, "RM_branch", 2, 1, {0.5f, 0.0f});
    const float range = 0.75f;
    layer.set_vpmap(ID_WGHT, "RM_range", 6, 1, 1, &range);
    exporter::ExportOptions options;
    options.textures = exporter::TextureChoice::none;
    exporter::PreparedMesh mesh;
    ASSERT_EQ(exporter::prepare_mesh(layer, options, exporter::Format::gltf, mesh).message(), "");
    exporter::PrimitiveCollector collector(mesh);
    std::optional<exporter::PrimitiveArrays> tube;
    for (std::size_t k = 0; k < collector.size(); ++k) {
        exporter::PrimitiveArrays arrays = collector.collect(k);
        if (mesh.materials.list[static_cast<std::size_t>(arrays.material)].name == "RM_trunk" && arrays.triangles())
            tube = std::move(arrays);
    }
    ASSERT_TRUE(tube);
    const auto of_point = [&](int point) {
        std::vector<std::size_t> out;
        for (std::size_t v = 0; v < tube->vertex_count(); ++v)
            if (tube->vertex_point[v] == point)
                out.push_back(v);
        return out;
    };
    // The seam splits points 0 and 4, quad 1's range point 6; every other point is one vertex.
    EXPECT_EQ(tube->vertex_count(), 11u);
    for (int point : {1, 2, 3, 5, 7})
        EXPECT_EQ(of_point(point).size(), 1u) << "point " << point;
    const std::vector<std::size_t> six = of_point(6);
    ASSERT_EQ(six.size(), 2u);
    const exporter::VertexStream *ranges = tube->stream("_RM_RANGE");
    ASSERT_NE(ranges, nullptr);
    EXPECT_EQ(std::set<float>({ranges->values[six[0]], ranges->values[six[1]]}), (std::set<float>{0.5f, 0.75f}));
    // Every triangle corner names a vertex of one of its quad's points; no vertex is left unused.
    std::set<std::uint32_t> used(tube->indices.begin(), tube->indices.end());
    EXPECT_EQ(used.size(), tube->vertex_count());
    EXPECT_EQ(tube->indices.size(), 24u);
}

TEST(ExportGltfEdges, EmptyLayerAndSkeletonOnly)
{
    ScratchDir dir;
    host::Layer empty;
    ASSERT_EQ(exporter::write_tree(empty, dir.file("empty.gltf")).message(), "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"empty.gltf"}); // no buffer, no .bin
    tinygltf::Model model;
    ASSERT_TRUE(load_gltf(dir.file("empty.gltf"), model));
    EXPECT_TRUE(model.meshes.empty());

    // A skeleton only: one LINES primitive with nothing but positions, two indices per segment.
    host::Layer skeleton;
    for (int i = 0; i < 4; ++i)
        skeleton.add_point({0, static_cast<double>(i), 0});
    skeleton.add_polygon(ID_FACE, {0, 1});
    skeleton.add_polygon(ID_FACE, {1, 2});
    skeleton.add_polygon(ID_FACE, {1, 3});
    ASSERT_EQ(exporter::write_tree(skeleton, dir.file("skeleton.glb")).message(), "");
    tinygltf::Model lines;
    ASSERT_TRUE(load_gltf(dir.file("skeleton.glb"), lines));
    const auto prims = primitives(lines);
    ASSERT_EQ(prims.size(), 1u);
    const GltfPrimitive &p = prims.begin()->second;
    EXPECT_EQ(p.prim->mode, TINYGLTF_MODE_LINE);
    EXPECT_EQ(p.attributes.size(), 1u);
    EXPECT_EQ(p.indices, (std::vector<unsigned>{0, 1, 1, 2, 1, 3}));
}

TEST(ExportGltfEdges, LargeMeshesSwitchToWideIndices)
{
    // 65536 vertices cannot use 16-bit indices (65535 is the restart value).
    ScratchDir dir;
    host::Layer layer;
    for (int i = 0; i < 65536; ++i)
        layer.add_point({static_cast<double>(i), 0, 0});
    for (int i = 0; i + 1 < 65536; i += 2)
        layer.add_polygon(ID_FACE, {i, i + 1});
    ASSERT_EQ(exporter::write_tree(layer, dir.file("wide.glb")).message(), "");
    tinygltf::Model model;
    ASSERT_TRUE(load_gltf(dir.file("wide.glb"), model));
    const auto &prim = model.meshes.at(0).primitives.at(0);
    EXPECT_EQ(model.accessors[static_cast<std::size_t>(prim.indices)].componentType,
              TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
    EXPECT_EQ(accessor_indices(model, prim.indices).back(), 65535u);
}

// The page's GLB, made in memory, is the very file write_tree writes; a tree whose buffer length
// is not a multiple of four (three 16-bit indices) gets its binary chunk padded with zeros, and
// a layer with nothing to draw gets a GLB without one.
TEST(ExportGltfEdges, InMemoryGlbIsTheFile)
{
    ScratchDir dir;
    host::Layer odd;
    for (int i = 0; i < 3; ++i)
        odd.add_point({static_cast<double>(i), 1.0, 0});
    odd.add_polygon(ID_FACE, {0, 1, 2}, "RM_trunk");
    const host::Layer layers[] = {odd, seam_tube(), host::Layer()};
    for (const host::Layer &each : layers) {
        const host::Layer *layer = &each;
        ASSERT_EQ(exporter::write_tree(*layer, dir.file("tree.glb")).message(), "");
        std::ifstream in(dir.file("tree.glb"), std::ios::binary);
        std::stringstream file;
        file << in.rdbuf();
        const ramulon::Result<std::string> bytes = exporter::write_tree_to_memory(*layer);
        ASSERT_TRUE(bytes.ok()) << bytes.error().message;
        EXPECT_EQ(*bytes, file.str());
        EXPECT_EQ(bytes->size() % 4, 0u);
        tinygltf::Model model;
        ASSERT_TRUE(load_gltf(dir.file("tree.glb"), model));
        EXPECT_EQ(model.buffers.size(), layer->polygon_count() > 0 ? 1u : 0u);
    }
    const host::Layer broken = layer_with_missing_points(0);
    const ramulon::Result<std::string> refused = exporter::write_tree_to_memory(broken);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ramulon::ErrorKind::invalid_input);
    EXPECT_NE(refused.error().message.find("point 0"), std::string::npos);
}

// A GLB in memory takes its runs where they go: after a gap (zeros until written), over bytes
// already held, and over the end and past it.
TEST(ExportGltfEdges, StringSinkPlacesRunsAtTheirOffsets)
{
    std::string out;
    exporter::StringSink sink(out);
    const std::string_view tail[] = {"wor", "ld"};
    const std::string_view head[] = {"hello "};
    const std::string_view over[] = {"LD!"};
    ASSERT_TRUE(sink.write_at(6, tail).ok());
    EXPECT_EQ(out, std::string("\0\0\0\0\0\0world", 11));
    ASSERT_TRUE(sink.write_at(0, head).ok());
    ASSERT_TRUE(sink.write_at(9, over).ok());
    EXPECT_EQ(out, "hello worLD!");
}

// The GLB is written in place, its JSON at the front in room kept before the buffer: the
// container still reads as one: its length, a JSON chunk of the JSON and spaces only, and a
// binary chunk of exactly the buffer and its zero padding.
TEST(ExportGltfEdges, GlbContainerHoldsTogether)
{
    ScratchDir dir;
    ASSERT_EQ(exporter::write_tree(seam_tube(), dir.file("tree.glb")).message(), "");
    std::ifstream in(dir.file("tree.glb"), std::ios::binary);
    std::stringstream file;
    file << in.rdbuf();
    const std::string bytes = file.str();
    auto word = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
        return v;
    };
    ASSERT_GE(bytes.size(), 28u);
    EXPECT_EQ(bytes.substr(0, 4), "glTF");
    EXPECT_EQ(word(4), 2u);
    EXPECT_EQ(word(8), bytes.size());
    const std::size_t json_length = word(12);
    EXPECT_EQ(word(16), 0x4E4F534Au);
    EXPECT_EQ(json_length % 4, 0u);
    const std::string chunk = bytes.substr(20, json_length);
    const std::size_t end = chunk.rfind('}');
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(chunk.find_first_not_of(' ', end + 1), std::string::npos) << "only spaces after the JSON";
    const nlohmann::json json = nlohmann::json::parse(chunk);
    const std::size_t buffer = json["buffers"][0]["byteLength"];
    const std::size_t bin_at = 20 + json_length;
    EXPECT_EQ(word(bin_at), (buffer + 3) / 4 * 4);
    EXPECT_EQ(word(bin_at + 4), 0x004E4942u);
    EXPECT_EQ(bin_at + 8 + word(bin_at), bytes.size());
    EXPECT_EQ(bytes.find_first_not_of('\0', bin_at + 8 + buffer), std::string::npos) << "zero padding";
}

// ------------------------------------------------------------------------------ bad paths

std::string write_as(const host::Layer &layer, const std::string &path)
{
    return exporter::write_tree(layer, path).message();
}

TEST(ExportBadPaths, MissingFolderLeavesNothing)
{
    ScratchDir dir;
    const host::Layer layer = seam_tube();
    std::ofstream(dir.file("file")) << "not a folder";
    for (const char *name : {"tree.obj", "tree.gltf", "tree.glb"}) {
        const std::string missing = dir.file(std::string("missing/") + name);
        const std::string error = write_as(layer, missing);
        EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
        EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
        EXPECT_FALSE(write_as(layer, dir.file(std::string("file/") + name)).empty());
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"file"});
}

TEST(ExportBadPaths, FolderWithoutWritePermissionLeavesNothing)
{
    // Root writes anywhere: the writes run in a child that gave up root for an ordinary user.
    ScratchDir dir;
    const host::Layer layer = seam_tube();
    const std::string locked = dir.file("locked");
    std::filesystem::create_directory(locked);
    open_folder(dir.path());
    lock_folder(locked);
    const int denied = in_child([&] {
        if (!drop_root())
            return 3;
        for (const char *name : {"/tree.obj", "/tree.gltf", "/tree.glb"})
            if (write_as(layer, locked + name).find("Permission denied") == std::string::npos)
                return 1;
        return 0;
    });
    unlock_folder(locked);
    EXPECT_EQ(denied, 0) << "every write reports \"Permission denied\" (3: could not drop root)";
    EXPECT_TRUE(std::filesystem::is_empty(locked));
}

TEST(ExportBadPaths, PairsAppearTogetherOrNotAtAll)
{
    // The second file of a pair cannot be placed (a folder holds its name): the first one is
    // taken back and an earlier file of that name is restored.
    ScratchDir dir;
    const host::Layer layer = seam_tube();
    std::filesystem::create_directory(dir.file("tree.gltf"));
    std::ofstream(dir.file("tree.bin")) << "earlier";
    EXPECT_FALSE(exporter::write_tree(layer, dir.file("tree.gltf")).message().empty());
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"tree.bin", "tree.gltf"}));
    std::stringstream earlier;
    earlier << std::ifstream(dir.file("tree.bin")).rdbuf();
    EXPECT_EQ(earlier.str(), "earlier");

    std::filesystem::create_directory(dir.file("tree.obj"));
    EXPECT_FALSE(exporter::write_tree(layer, dir.file("tree.obj")).message().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("tree.mtl")));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"tree.bin", "tree.gltf", "tree.obj"}));
}

// A tree too large for the memory left to write it: every writer fails with its message and
// leaves no file, and the process goes on.
TEST(ExportBadPaths, RunningOutOfMemoryFailsWithAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps address space of its own";
#else
    ScratchDir dir;
    host::Layer strip; // a long strip of quads with bark coordinates
    const float uv[2] = {0.25f, 0.5f};
    const int quads = 200000;
    for (int i = 0; i <= quads; ++i)
        for (int side = 0; side < 2; ++side) {
            const int point = strip.add_point({static_cast<double>(i), static_cast<double>(side), 0.0});
            strip.set_vmap(ID_TXUV, "RM_branch", point, 2, uv);
        }
    for (int i = 0; i < quads; ++i)
        strip.add_polygon(ID_FACE, {2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1}, "RM_trunk");
    for (const char *name : {"tree.glb", "tree.gltf", "tree.obj", "in memory"}) {
        const int code = in_child([&] {
            if (!limit_memory_growth(2l << 20))
                return 2;
            const ramulon::Status written =
                std::string(name) == "in memory" ? ramulon::status_of(exporter::write_tree_to_memory(strip))
                                                 : exporter::write_tree(strip, dir.file(name));
            return !written.ok() && written.error().kind == ramulon::ErrorKind::out_of_memory &&
                           written.message().find("not enough memory to write this tree") != std::string::npos
                       ? 0
                       : 1;
        });
        EXPECT_EQ(code, 0) << name;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << name;
    }
#endif
}

TEST(ExportBadPaths, CorruptLayerIsRefused)
{
    ScratchDir dir;
    const host::Layer layer = layer_with_missing_points(1);
    EXPECT_NE(exporter::write_tree(layer, dir.file("bad.glb")).message().find("point 1"), std::string::npos);
    EXPECT_NE(exporter::write_tree(layer, dir.file("bad.obj")).message().find("point 1"), std::string::npos);
    EXPECT_TRUE(dir.entries().empty());
}

// ---------------------------------------------------------------------- real trees

// A real build keeps its faces per surface in OBJ; every seam corner of the tubes and root
// joints keeps its own u, and every point of the bark one t whatever face it is a corner of.
// What stops a write is told by its kind as well as its message, and nothing is left behind:
// the caller's mistakes (a format, an option, a layer) apart from the system's refusals and a
// cancelled export.
TEST(ExportBadPaths, EveryFailureSaysItsKind)
{
    ScratchDir dir;
    const host::Layer tube = seam_tube();
    const host::Layer broken = layer_with_missing_points(0);
    struct Case {
        const char *what;
        ramulon::Status status;
        ramulon::ErrorKind kind;
        std::string message; // the whole message, or empty to check the kind only
    };
    const std::string stl = dir.file("tree.stl"), glb = dir.file("tree.glb"), obj = dir.file("tree.obj");
    const Case cases[] = {
        {"unknown format", exporter::write_tree(tube, stl), ramulon::ErrorKind::invalid_input,
         "cannot write " + stl + ": unknown format (known: .glb, .gltf, .obj)"},
        {"levels out of range", exporter::write_tree(tube, glb, {.levels = 9}), ramulon::ErrorKind::invalid_input,
         "cannot write " + glb + ": --lod must be between 1 and 8 levels (got 9)"},
        {"levels in an OBJ", exporter::write_tree(tube, obj, {.levels = 2}), ramulon::ErrorKind::invalid_input,
         "levels of detail, the far card and compression need a .gltf or .glb file, not " + obj},
        {"corrupt layer", exporter::write_tree(broken, glb), ramulon::ErrorKind::invalid_input, ""},
        {"missing folder", exporter::write_tree(tube, dir.file("gone/tree.gltf")), ramulon::ErrorKind::io, ""},
    };
    for (const Case &c : cases) {
        ASSERT_FALSE(c.status.ok()) << c.what;
        EXPECT_EQ(c.status.error().kind, c.kind) << c.what;
        if (!c.message.empty()) {
            EXPECT_EQ(c.status.message(), c.message) << c.what;
        }
    }
    // The same checks before anything is built.
    EXPECT_EQ(exporter::check_write(stl, {}).message(), cases[0].message);
    EXPECT_EQ(exporter::check_write(glb, {.levels = 9}).message(), "--lod must be between 1 and 8 levels (got 9)");
    EXPECT_TRUE(exporter::check_write(obj, {}).ok());

    for (const char *name : {"tree.glb", "tree.gltf", "tree.obj"}) {
        exporter::CancelCheck cancel([] { return true; });
        const ramulon::Status cancelled = exporter::write_tree(tube, dir.file(name));
        ASSERT_FALSE(cancelled.ok()) << name;
        EXPECT_EQ(cancelled.error().kind, ramulon::ErrorKind::cancelled) << name;
        EXPECT_EQ(cancelled.message(), "cannot write " + dir.file(name) + ": the export was cancelled") << name;
    }
    EXPECT_TRUE(dir.entries().empty());
}

// A report names every file a plain write made, with its size on the disk, and the triangles.
TEST(ExportGltfEdges, ThePlainReportNamesTheFilesAsWritten)
{
    ScratchDir dir;
    exporter::WriteReport report;
    ASSERT_EQ(exporter::write_tree(seam_tube(), dir.file("tree.gltf"), {}, &report).message(), "");
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].path, dir.file("tree.gltf"));
    EXPECT_EQ(report.files[1].path, dir.file("tree.bin"));
    for (const exporter::WriteReport::File &file : report.files)
        EXPECT_EQ(file.bytes, std::filesystem::file_size(file.path)) << file.path;
    // Four tube quads and a cap of four corners, two triangles each, and the leaf quad.
    ASSERT_EQ(report.level_triangles.size(), 1u);
    EXPECT_EQ(report.level_triangles[0], 12u);
    EXPECT_EQ(report.far_triangles, 0u);
}

TEST(ExportRealTree, PolygonalTreeKeepsSurfacesAndSeams)
{
    host::Layer layer;
    std::string error;
    ASSERT_TRUE(build_real_tree({"render_type=1"}, layer, error)) << error;
    ASSERT_GT(layer.polygon_count(), 0u);

    ScratchDir dir;
    ASSERT_EQ(exporter::write_tree(layer, dir.file("tree.obj")).message(), "");
    ObjFile obj(dir.file("tree.obj"));
    EXPECT_EQ(obj.faces_per_material(), faces_per_surface(layer));

    // Faces keep the layer's order, so face k is the k-th polygon of three or more corners.
    std::vector<std::size_t> face_of(layer.polygon_count(), 0);
    std::size_t faces = 0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        if (layer.polygon_points(p).size() >= 3)
            face_of[p] = faces++;
    std::set<int> root_points;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        if (const host::PolygonRef ref = layer.polygon(p); ref.surface && *ref.surface == "RM_root")
            root_points.insert(ref.points.begin(), ref.points.end());
    const int seams = layer.find_vpmap(ID_TXUV, "RM_branch");
    ASSERT_GE(seams, 0);
    const std::vector<StoredValue> values = vpmap_values(layer, seams);
    ASSERT_FALSE(values.empty());
    for (const StoredValue &value : values) {
        const std::vector<int> poly = points_of(layer, static_cast<std::size_t>(value.polygon));
        const auto corner = std::find(poly.begin(), poly.end(), value.point);
        ASSERT_NE(corner, poly.end());
        // The skirt from the trunk's base to the root collar follows the base ring's u instead.
        const bool skirt = std::any_of(poly.begin(), poly.end(), [&](int point) { return root_points.count(point) > 0; }) &&
                           *layer.polygon(static_cast<std::size_t>(value.polygon)).surface == "RM_trunk";
        if (!skirt) {
            EXPECT_EQ(obj.uv(face_of[static_cast<std::size_t>(value.polygon)],
                             static_cast<std::size_t>(corner - poly.begin())).first,
                      value.values[0]);
        }
    }
    std::map<int, float> t_of;
    std::size_t corners = 0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::vector<int> poly = points_of(layer, p);
        const host::PolygonRef ref = layer.polygon(p);
        if (poly.size() < 3 || !ref.surface || *ref.surface == "VF_leaf")
            continue;
        for (std::size_t c = 0; c < poly.size(); ++c) {
            const float t = obj.uv(face_of[p], c).second;
            const auto [known, added] = t_of.try_emplace(poly[c], t);
            EXPECT_EQ(known->second, t) << "point " << poly[c];
            corners += added ? 0 : 1;
        }
    }
    EXPECT_GT(corners, t_of.size());

}

} // namespace
} // namespace ramulon
