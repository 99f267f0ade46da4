// Game-ready glTF: levels of detail, the far card, the vertex cache and fetch order, and the
// compressed buffers, on a real tree with tubes, twigs and leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <sys/wait.h>

#include <meshoptimizer.h>

#include "support/png_image.h"

#include "export/export.h"
#include "export/gltf/gltf_parts.h"
#include "export/game_ready/lod.h"
#include "export/mesh/vertex_order.h"
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
        const std::vector<float> &p = prim.streams.front().values;
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

TEST(GameReadyLevels, LevelsLandOnTheirShareThinTheLeavesAndKeepTheWoodsOwnVertices)
{
    const exporter::CollectedTree tree = exporter::collect_tree(leafy_tree());
    const double all = static_cast<double>(exporter::triangle_count(tree.mesh));
    ASSERT_GT(all, 1000.0);
    std::set<Corner> wood_corners;
    std::size_t leaf_triangles = 0;
    for (const exporter::PrimitiveArrays &prim : tree.mesh)
        for (std::uint32_t v = 0; v < prim.vertex_count(); ++v)
            if (!is_leaf(tree, prim))
                wood_corners.insert(corner(prim, v));
    for (const exporter::PrimitiveArrays &prim : tree.mesh)
        leaf_triangles += is_leaf(tree, prim) ? prim.triangle_count() : 0;
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
            // The simplifier only removes: every wood vertex, weights and seams included, is LOD0's.
            for (std::uint32_t v = 0; v < prim.vertex_count(); ++v)
                ASSERT_TRUE(wood_corners.count(corner(prim, v))) << "level " << level << " vertex " << v;
        }
        EXPECT_NEAR(double(leaves) / double(leaf_triangles), fraction, 0.02) << level;
        // Fewer, larger leaves: the crown's leaf area stays.
        EXPECT_NEAR(leaf_area(tree, simpler) / leaf_area(tree, tree.mesh), 1.0, 0.01) << level;
    }
    EXPECT_DOUBLE_EQ(exporter::level_fraction(4), 0.05 * 0.4);
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

TEST(GameReadyFile, LevelsAndCardAreSiblingNodesNamedForLodGroupsOrFilesOfTheirOwn)
{
    ScratchDir dir;
    exporter::GltfReport report;
    const exporter::GltfOptions options{.levels = 3, .impostor = true};
    ASSERT_EQ(exporter::write_glb(leafy_tree(), dir.file("oak.glb"), options, &report), "");
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
    ASSERT_EQ(model.images.size(), 1u);
    int width = 0, height = 0, channels = 0;
    unsigned char *pixels = stbi_load_from_memory(model.images[0].image.data(),
                                                  static_cast<int>(model.images[0].image.size()),
                                                  &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(channels, 4);
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
    stbi_image_free(pixels);
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
    ASSERT_EQ(exporter::write_glb(leafy_tree(), dir.file("elm.glb"), {.levels = 3, .level_files = true, .impostor = true}), "");
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

TEST(GameReadyFile, EveryOutputIsTheSameBytesRunToRun)
{
    ScratchDir first, second;
    const exporter::GltfOptions all{.levels = 4, .level_files = true, .impostor = true, .compress = exporter::Compression::meshopt};
    for (const ScratchDir *dir : {&first, &second}) {
        ASSERT_EQ(exporter::write_glb(leafy_tree(), dir->file("a.glb"), {.levels = 4, .impostor = true}), "");
        ASSERT_EQ(exporter::write_gltf(leafy_tree(), dir->file("b.gltf"), all), "");
        ASSERT_EQ(exporter::write_glb(leafy_tree(), dir->file("c.glb")), "");
    }
    ASSERT_EQ(first.entries(), second.entries());
    EXPECT_EQ(first.entries().size(), 1u + 5 * 2 + 1);
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
    const exporter::GltfOptions plain{.levels = 2, .impostor = true};
    exporter::GltfOptions compressed = plain;
    compressed.compress = GetParam();
    const bool meshopt = GetParam() == exporter::Compression::meshopt;
    exporter::GltfReport plain_report, compressed_report;
    ASSERT_EQ(exporter::write_glb(leafy_tree(), dir.file("plain.glb"), plain, &plain_report), "");
    ASSERT_EQ(exporter::write_glb(leafy_tree(), dir.file("small.glb"), compressed, &compressed_report), "");
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
    const exporter::GltfOptions all{.levels = 3, .compress = exporter::Compression::meshopt};
    ASSERT_EQ(exporter::write_glb(empty, dir.file("empty.glb"), all), "");
    ASSERT_EQ(exporter::write_gltf(empty, dir.file("empty.gltf"), all), "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"empty.glb", "empty.gltf"}));
    for (const char *file : {"empty.glb", "empty.gltf"}) {
        tinygltf::Model model;
        ASSERT_TRUE(load_gltf(dir.file(file), model)) << file;
        EXPECT_TRUE(model.buffers.empty()) << file;
        EXPECT_TRUE(model.extensionsRequired.empty()) << file;
        EXPECT_EQ(model.nodes.size(), 4u) << file;
    }
    // The far card needs surfaces to picture.
    EXPECT_NE(exporter::write_glb(empty, dir.file("card.glb"), {.impostor = true}).find("--impostor"), std::string::npos);
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
