#include "export/gltf/gltf_materials.h"

#include "export/materials/materials.h"

#include "common/index_cast.h"

namespace exporter {
namespace {

bool any_finish(const Materials &materials, bool (*test)(const Material &))
{
    for (const Material &m : materials.list)
        if (test(m))
            return true;
    return false;
}

bool is_leaf(const Material &m) { return m.leaf; }

int image_index(const GltfImages &images, const std::string &name)
{
    for (std::size_t i = 0; i < images.size(); ++i)
        if (images[i].name == name)
            return ramulon::index_cast<int>(i);
    return -1;
}

} // namespace

std::vector<std::pair<std::string, const std::string *>>
used_images(const host::Layer &layer, const Materials &materials, const TextureSet &textures)
{
    std::vector<std::pair<std::string, const std::string *>> out;
    if (textures.empty())
        return out;
    if (any_finish(materials, woody) && MapView(layer, ID_TXUV, branch_texture).present()) {
        out.emplace_back(bark_image, &textures.bark);
        if (!textures.bark_normal.empty())
            out.emplace_back(bark_normal_image, &textures.bark_normal);
    }
    if (any_finish(materials, is_leaf)) {
        if (MapView(layer, ID_TXUV, atlas_texture).present())
            out.emplace_back(atlas_image, &textures.leaves);
        else if (MapView(layer, ID_TXUV, leaf_texture).present())
            out.emplace_back(leaf_image, &textures.leaf);
    }
    return out;
}

void add_gltf_materials(tinygltf::Model &model, const host::Layer &layer, const Materials &materials,
                        const GltfImages &images)
{
    // One texture per image: bark repeats both ways, leaves stay inside their cell.
    std::vector<int> texture_of(images.size(), -1);
    for (std::size_t i = 0; i < images.size(); ++i) {
        tinygltf::Image image;
        image.name = images[i].name;
        image.mimeType = "image/png";
        image.bufferView = images[i].buffer_view;
        image.uri = images[i].uri;
        model.images.push_back(image);

        tinygltf::Sampler sampler;
        sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
        sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
        const bool tiles = images[i].name == bark_image || images[i].name == bark_normal_image;
        sampler.wrapS = tiles ? TINYGLTF_TEXTURE_WRAP_REPEAT : TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
        sampler.wrapT = sampler.wrapS;
        model.samplers.push_back(sampler);

        tinygltf::Texture texture;
        texture.source = ramulon::index_cast<int>(i);
        texture.sampler = ramulon::index_cast<int>(i);
        model.textures.push_back(texture);
        texture_of[i] = ramulon::index_cast<int>(i);
    }
    const int bark = image_index(images, bark_image);
    const int relief = image_index(images, bark_normal_image);
    const int atlas = image_index(images, atlas_image);
    const int leaf = image_index(images, leaf_image);
    (void)layer;

    for (const Material &m : materials.list) {
        tinygltf::Material out;
        out.name = m.name;
        const Finish finish = finish_of(m);
        int texture = -1, texcoord = 0;
        const bool barked = (finish == Finish::bark || finish == Finish::twig) && bark >= 0;
        if (barked) {
            texture = texture_of[ramulon::index_cast<std::size_t>(bark)];
            texcoord = bark_texcoord;
        } else if (finish == Finish::leaf && atlas >= 0) {
            texture = texture_of[ramulon::index_cast<std::size_t>(atlas)];
            texcoord = 1; // "RM_all_leaves": each leaf in the cell its spin and age chose
        } else if (finish == Finish::leaf && leaf >= 0) {
            texture = texture_of[ramulon::index_cast<std::size_t>(leaf)];
        }
        const Colour c = base_colour(m, texture >= 0);
        out.pbrMetallicRoughness.baseColorFactor = {c[0], c[1], c[2], 1.0};
        out.pbrMetallicRoughness.metallicFactor = 0.0; // bark and leaves
        out.pbrMetallicRoughness.roughnessFactor = 1.0;
        out.emissiveFactor = {0.0, 0.0, 0.0};
        out.doubleSided = m.leaf; // a leaf is a single sheet, seen from both sides
        if (texture >= 0) {
            out.pbrMetallicRoughness.baseColorTexture.index = texture;
            out.pbrMetallicRoughness.baseColorTexture.texCoord = texcoord;
            if (barked && relief >= 0) {
                out.normalTexture.index = texture_of[ramulon::index_cast<std::size_t>(relief)];
                out.normalTexture.texCoord = bark_texcoord;
            }
            if (finish == Finish::leaf) {
                out.alphaMode = "MASK";
                out.alphaCutoff = 0.5;
            }
        }
        model.materials.push_back(out);
    }
}

} // namespace exporter
