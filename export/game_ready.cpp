// Game-ready glTF: LOD0 and its simplified levels as sibling nodes "<name>_LOD0", "<name>_LOD1",
// ... under a node "<name>" (the naming engines' importers turn into LOD groups), the far card as
// "<name>_LOD_FAR", optionally compressed; or, with level files, each of them in a file of its
// own beside the main one ("tree_LOD1.glb", "tree_LOD_FAR.glb"), the main file holding LOD0.
// <name> is the main file's name without its extension. The files are assembled as every glTF
// is (gltf_file.h); what is made here is the arrays they hold.
#include <sstream>

#include "export/cancel.h"
#include "export/game_ready/impostor.h"
#include "export/game_ready/lod.h"
#include "export/game_ready/material_looks.h"
#include "export/gltf/accessor_values.h"
#include "export/gltf/gltf_materials.h"
#include "export/gltf/gltf_parts.h"
#include "export/mesh/vertex_order.h"
#include "export/staged_files.h"

namespace exporter {
namespace {

const std::string far_material = "RM_far_card";
const std::string unlit_extension = "KHR_materials_unlit";

std::string stem_of(const std::string &path)
{
    std::string name = file_name(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string extension_of(const std::string &path)
{
    const std::string name = file_name(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
}

// The materials of the levels as the card's pictures paint them.
std::vector<SurfaceLook> card_looks(const PreparedMesh &prepared)
{
    tinygltf::Model model;
    GltfImages images;
    std::vector<const std::string *> bytes;
    for (const auto &[image, png] : used_images(*prepared.layer, prepared.materials, prepared.textures)) {
        images.push_back({image, -1, image});
        bytes.push_back(png);
    }
    add_gltf_materials(model, *prepared.layer, prepared.materials, images);
    return surface_looks(model, bytes);
}

std::string level_name(const std::string &name, int level) { return name + "_LOD" + std::to_string(level); }

// LOD0 (the tree in vertex cache order when asked) and the simplified levels after it.
std::vector<MeshArrays> make_levels(const CollectedTree &tree, const WriteOptions &options)
{
    std::vector<MeshArrays> levels;
    MeshArrays lod0 = tree.mesh;
    if (options.vertex_order)
        optimise_vertex_order(lod0);
    levels.push_back(std::move(lod0));
    for (int level = 1; level < options.levels; ++level) {
        stop_if_cancelled();
        MeshArrays simpler = make_level(tree.mesh, tree.looks, level_fraction(level));
        optimise_vertex_order(simpler);
        levels.push_back(std::move(simpler));
    }
    return levels;
}

// Which parts go to which file: all in the main one, or one each.
void plan_files(GltfPlan &plan, const std::string &path, const WriteOptions &options)
{
    std::vector<FilePart> all;
    for (std::size_t level = 0; level < plan.levels.size(); ++level)
        all.push_back({level_name(plan.name, static_cast<int>(level)), {.held = &plan.levels[level]}, -1});
    if (options.impostor)
        all.push_back({plan.name + "_LOD_FAR", {.held = &plan.far}, -1});
    const auto is_card = [&](const FilePart &part) { return part.mesh.held == &plan.far; };
    if (!options.level_files) {
        plan.files.push_back({path, all, true, options.impostor});
        return;
    }
    const std::string ext = extension_of(path);
    const std::string base = path.substr(0, path.size() - ext.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string file = i == 0 ? path : base + all[i].node.substr(plan.name.size()) + ext;
        plan.files.push_back({file, {all[i]}, !is_card(all[i]), is_card(all[i])});
    }
}

} // namespace

ramulon::Status check_options(const WriteOptions &options)
{
    if (options.levels < 1 || options.levels > max_levels)
        return ramulon::fail(ramulon::ErrorKind::invalid_input,
                             "--lod must be between 1 and " + std::to_string(max_levels) + " levels (got " +
                                 std::to_string(options.levels) + ")");
    return {};
}

std::string report_text(const WriteReport &report)
{
    std::ostringstream out;
    for (const WriteReport::File &file : report.files)
        out << file.path << ": " << file.bytes << " bytes\n";
    if (report.level_triangles.size() > 1 || report.far_triangles > 0) {
        out << "triangles:";
        for (std::size_t level = 0; level < report.level_triangles.size(); ++level)
            out << " LOD" << level << " " << report.level_triangles[level];
        if (report.far_triangles > 0)
            out << " LOD_FAR " << report.far_triangles;
        out << "\n";
    }
    return out.str();
}

ramulon::Status game_ready_plan(const PreparedMesh &prepared, const std::string &path, const WriteOptions &options,
                                GltfPlan &plan)
{
    plan.name = stem_of(path);
    const CollectedTree tree = collect_tree(prepared);
    if (options.impostor && triangle_count(tree.mesh) == 0)
        return ramulon::fail(ramulon::ErrorKind::invalid_input,
                             "cannot write " + path +
                                 ": --impostor pictures the tree's surfaces and this tree has none (a skeleton "
                                 "build is lines only)");
    plan.levels = make_levels(tree, options);
    if (options.impostor) {
        ramulon::Result<Impostor> card = make_impostor(tree.mesh, card_looks(prepared));
        if (!card)
            return ramulon::prefixed("cannot write " + path + ": ", card.error());
        plan.far.push_back(std::move(card->quads));
        plan.far_png = std::move(card->png);
    }
    plan_files(plan, path, options);
    return {};
}

int add_card_material(GltfFile &file, const std::string &name, const std::string &png)
{
    tinygltf::Model &model = file.model;
    tinygltf::Image image;
    image.name = name + "_LOD_FAR.png";
    image.mimeType = "image/png";
    image.bufferView = file.add_picture(png);
    const int picture = append(model.images, image);
    tinygltf::Sampler sampler;
    sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    sampler.wrapS = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    sampler.wrapT = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    tinygltf::Texture texture;
    texture.sampler = append(model.samplers, sampler);
    texture.source = picture;
    tinygltf::Material card;
    card.name = far_material;
    card.pbrMetallicRoughness.baseColorTexture.index = append(model.textures, texture);
    card.pbrMetallicRoughness.metallicFactor = 0.0;
    card.pbrMetallicRoughness.roughnessFactor = 1.0;
    card.alphaMode = "MASK";
    card.alphaCutoff = 0.5;
    card.emissiveFactor = {0.0, 0.0, 0.0};
    // The card's light is in its picture already.
    card.extensions[unlit_extension] = tinygltf::Value(tinygltf::Value::Object());
    model.extensionsUsed.push_back(unlit_extension);
    return append(model.materials, card);
}

} // namespace exporter
