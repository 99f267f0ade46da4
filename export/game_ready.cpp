// Game-ready glTF: LOD0 and its simplified levels as sibling nodes "<name>_LOD0", "<name>_LOD1",
// ... under a node "<name>" (the naming engines' importers turn into LOD groups), the far card as
// "<name>_LOD_FAR", optionally compressed; or, with level files, each of them in a file of its
// own beside the main one ("tree_LOD1.glb", "tree_LOD_FAR.glb"), the main file holding LOD0.
// <name> is the main file's name without its extension.
#include <cstring>
#include <sstream>

#include "export/cancel.h"
#include "export/game_ready/impostor.h"
#include "export/game_ready/lod.h"
#include "export/game_ready/material_looks.h"
#include "export/gltf/compression.h"
#include "export/gltf/glb_container.h"
#include "export/gltf/gltf_materials.h"
#include "export/gltf/gltf_parts.h"
#include "export/mesh/vertex_order.h"
#include "export/staged_files.h"

namespace exporter {
namespace {

const std::string far_material = "RM_far_card";
const std::string unlit_extension = "KHR_materials_unlit";

struct Part {
    std::string node; // its node's name
    const MeshArrays *mesh;
};

struct Parts {
    const PreparedMesh *prepared = nullptr;
    CollectedTree tree;
    std::vector<MeshArrays> levels;
    MeshArrays far;          // empty without the card; its material is set per file
    std::string far_png;
};

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

std::string bin_path_of(const std::string &path)
{
    const std::string bin = sibling_path(path, ".bin");
    return bin == path ? bin + ".bin" : bin;
}

struct FileBytes {
    std::string main;
    std::string bin; // the .gltf's buffer; empty for a GLB
};

// One file holding the parts: a lone part is the scene's one node, several hang under "<name>".
// main_path: the file the .gltf's images lie beside.
bool build_file(const Parts &parts, const std::vector<Part> &chosen, const std::string &name,
                Compression compression, bool binary, const std::string &path, const std::string &main_path,
                FileBytes &out, std::string &error)
{
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "Ramulon";
    bool far_used = false, wood_or_leaves = false;
    for (const Part &part : chosen)
        (part.mesh == &parts.far ? far_used : wood_or_leaves) = true;
    model.buffers.emplace_back();
    // Pictures go into the buffer as they are: PNG bytes gain nothing from the mesh codecs.
    auto add_picture = [&](const std::string &png) {
        std::vector<unsigned char> &bytes = model.buffers[0].data;
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = bytes.size();
        view.byteLength = png.size();
        bytes.insert(bytes.end(), png.begin(), png.end());
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        model.bufferViews.push_back(view);
        return static_cast<int>(model.bufferViews.size()) - 1;
    };

    // Every level wears the plain tree's materials, textures and all: in a GLB its images travel
    // inside, beside a .gltf they are the main file's images. A file of the card alone carries
    // the card's material alone.
    if (wood_or_leaves) {
        const PreparedMesh &prepared = *parts.prepared;
        GltfImages images;
        for (const auto &[image, bytes] : used_images(*prepared.layer, prepared.materials, prepared.textures)) {
            if (binary)
                images.push_back({image, add_picture(*bytes), {}});
            else
                images.push_back({image, -1, uri_of(file_name(texture_path(main_path, image)))});
        }
        add_gltf_materials(model, *prepared.layer, prepared.materials, images);
    }
    const int card_material = static_cast<int>(model.materials.size());
    if (far_used) {
        tinygltf::Image image;
        image.name = name + "_LOD_FAR.png";
        image.mimeType = "image/png";
        image.bufferView = add_picture(parts.far_png);
        model.images.push_back(image);
        tinygltf::Sampler sampler;
        sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
        sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
        sampler.wrapS = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
        sampler.wrapT = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
        model.samplers.push_back(sampler);
        tinygltf::Texture texture;
        texture.sampler = static_cast<int>(model.samplers.size()) - 1;
        texture.source = static_cast<int>(model.images.size()) - 1;
        model.textures.push_back(texture);
        tinygltf::Material card;
        card.name = far_material;
        card.pbrMetallicRoughness.baseColorTexture.index = static_cast<int>(model.textures.size()) - 1;
        card.pbrMetallicRoughness.metallicFactor = 0.0;
        card.pbrMetallicRoughness.roughnessFactor = 1.0;
        card.alphaMode = "MASK";
        card.alphaCutoff = 0.5;
        card.emissiveFactor = {0.0, 0.0, 0.0};
        // The card's light is in its picture already.
        card.extensions[unlit_extension] = tinygltf::Value(tinygltf::Value::Object());
        model.materials.push_back(card);
        model.extensionsUsed.push_back(unlit_extension);
    }

    std::vector<const MeshArrays *> meshes;
    for (const Part &part : chosen)
        meshes.push_back(part.mesh);
    const PositionGrid grid = position_grid(meshes);
    const bool compress = compression != Compression::none;
    CompressedBuffers compressed(model, compression);

    const bool group = chosen.size() > 1;
    if (group) {
        tinygltf::Node parent;
        parent.name = name;
        model.nodes.push_back(parent);
    }
    for (const Part &part : chosen) {
        tinygltf::Node node;
        node.name = part.node;
        if (!part.mesh->empty()) {
            tinygltf::Mesh mesh;
            mesh.name = part.node;
            for (const PrimitiveArrays &prim : *part.mesh) {
                mesh.primitives.push_back(compress ? compressed.add(prim, grid) : plain_primitive(model, prim));
                if (part.mesh == &parts.far)
                    mesh.primitives.back().material = card_material;
            }
            model.meshes.push_back(std::move(mesh));
            node.mesh = static_cast<int>(model.meshes.size()) - 1;
            if (compress) {
                node.translation = {grid.origin[0], grid.origin[1], grid.origin[2]};
                node.scale = {grid.step, grid.step, grid.step};
            }
        }
        model.nodes.push_back(node);
        if (group)
            model.nodes[0].children.push_back(static_cast<int>(model.nodes.size()) - 1);
    }
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    model.scenes.push_back(scene);
    model.defaultScene = 0;

    // tinygltf writes the structure; the buffers, the picture and the extensions' records are
    // added to its JSON here.
    std::vector<unsigned char> bin = std::move(model.buffers[0].data);
    model.buffers[0].data.clear();
    std::string text;
    if (!serialise(model, false, path, text, error))
        return false;
    nlohmann::json json = nlohmann::json::parse(text);
    json["buffers"][0] = {{"byteLength", bin.size()}};
    if (!binary)
        json["buffers"][0]["uri"] = uri_of(file_name(bin_path_of(path)));
    if (bin.empty())
        json.erase("buffers"); // a tree without polygons: glTF has no empty buffers
    if (compress)
        compressed.finish(json);
    if (binary) {
        const std::string text = json.dump();
        if (!glb_fits(glb_json_chunk(text.size()), bin.size())) {
            error = "cannot write " + path + ": the tree is larger than a GLB file can hold";
            return false;
        }
        out.main = glb_head(text, bin.size());
        out.main.append(bin.begin(), bin.end());
        out.main += glb_padding(bin.size());
    } else {
        out.main = json.dump(2) + "\n";
        out.bin.assign(bin.begin(), bin.end());
    }
    return true;
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

} // namespace

std::string check_options(const GltfOptions &options)
{
    if (options.levels < 1 || options.levels > max_levels)
        return "--lod must be between 1 and " + std::to_string(max_levels) + " levels (got " +
               std::to_string(options.levels) + ")";
    return {};
}

std::string report_text(const GltfReport &report)
{
    std::ostringstream out;
    for (const GltfReport::File &file : report.files)
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

std::string write_game_ready(const PreparedMesh &prepared, const std::string &path, bool binary,
                             const GltfOptions &options, GltfReport *report)
{
    Parts parts;
    parts.prepared = &prepared;
    parts.tree = collect_tree(prepared);
    if (options.impostor && triangle_count(parts.tree.mesh) == 0)
        return "cannot write " + path +
               ": --impostor pictures the tree's surfaces and this tree has none (a skeleton build is lines only)";

    MeshArrays lod0 = parts.tree.mesh;
    if (options.vertex_order)
        optimise_vertex_order(lod0);
    parts.levels.push_back(std::move(lod0));
    for (int level = 1; level < options.levels; ++level) {
        stop_if_cancelled();
        MeshArrays simpler = make_level(parts.tree.mesh, parts.tree.looks, level_fraction(level));
        optimise_vertex_order(simpler);
        parts.levels.push_back(std::move(simpler));
    }
    if (options.impostor) {
        Impostor card = make_impostor(parts.tree.mesh, card_looks(prepared));
        if (card.png.empty())
            return "cannot write " + path + ": the far card's picture could not be encoded";
        parts.far.push_back(std::move(card.quads));
        parts.far_png = std::move(card.png);
    }

    const std::string name = stem_of(path);
    std::vector<Part> all;
    for (int level = 0; level < options.levels; ++level)
        all.push_back({level_name(name, level), &parts.levels[static_cast<std::size_t>(level)]});
    if (options.impostor)
        all.push_back({name + "_LOD_FAR", &parts.far});

    // Which parts go to which file: all in the main one, or one each.
    std::vector<std::pair<std::string, std::vector<Part>>> files;
    if (options.level_files) {
        const std::string ext = extension_of(path);
        const std::string base = path.substr(0, path.size() - ext.size());
        files.push_back({path, {all.front()}});
        for (std::size_t i = 1; i < all.size(); ++i)
            files.push_back({base + all[i].node.substr(name.size()) + ext, {all[i]}});
    } else {
        files.push_back({path, all});
    }

    StagedFiles staged;
    std::string error;
    GltfReport made;
    // Beside a .gltf, the images its levels name.
    if (!binary)
        for (const auto &[image, bytes] : used_images(*prepared.layer, prepared.materials, prepared.textures))
            if (!staged.stage(texture_path(path, image), *bytes, error))
                return error;
    for (const auto &[file, chosen] : files) {
        stop_if_cancelled();
        FileBytes bytes;
        if (!build_file(parts, chosen, name, options.compress, binary, file, path, bytes, error) ||
            !staged.stage(file, bytes.main, error))
            return error;
        made.files.push_back({file, bytes.main.size()});
        if (!binary && !bytes.bin.empty()) {
            const std::string bin_path = bin_path_of(file);
            if (!staged.stage(bin_path, bytes.bin, error))
                return error;
            made.files.push_back({bin_path, bytes.bin.size()});
        }
    }
    if (!staged.commit(error))
        return error;
    for (const MeshArrays &level : parts.levels)
        made.level_triangles.push_back(triangle_count(level));
    made.far_triangles = triangle_count(parts.far);
    if (report)
        *report = std::move(made);
    return {};
}

} // namespace exporter
