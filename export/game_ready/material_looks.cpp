#include "export/game_ready/material_looks.h"

#include <memory>

#include "common/index_cast.h"
#include "export/materials/textures.h"

namespace exporter {
namespace {

// The scale of a texture transform, (1, 1) without one.
std::array<double, 2> transform_scale(const tinygltf::TextureInfo &info)
{
    std::array<double, 2> scale{1.0, 1.0};
    const auto found = info.extensions.find("KHR_texture_transform");
    if (found == info.extensions.end() || !found->second.Has("scale"))
        return scale;
    const tinygltf::Value &value = found->second.Get("scale");
    for (int k = 0; k < 2 && k < static_cast<int>(value.ArrayLen()); ++k)
        if (value.Get(k).IsNumber())
            scale[ramulon::index_cast<std::size_t>(k)] = value.Get(k).GetNumberAsDouble();
    return scale;
}

} // namespace

std::vector<SurfaceLook> surface_looks(const tinygltf::Model &model, const std::vector<const std::string *> &image_bytes)
{
    std::vector<std::shared_ptr<const SampledImage>> images(model.images.size());
    for (std::size_t i = 0; i < images.size() && i < image_bytes.size(); ++i) {
        int width = 0, height = 0;
        std::vector<unsigned char> rgba;
        if (image_bytes[i] && decode_png(*image_bytes[i], width, height, rgba))
            images[i] = std::make_shared<const SampledImage>(width, height, rgba);
    }
    std::vector<SurfaceLook> looks;
    for (const tinygltf::Material &material : model.materials) {
        SurfaceLook look;
        const std::vector<double> &factor = material.pbrMetallicRoughness.baseColorFactor;
        for (std::size_t k = 0; k < 3 && k < factor.size(); ++k)
            look.colour[k] = factor[k];
        const tinygltf::TextureInfo &info = material.pbrMetallicRoughness.baseColorTexture;
        if (info.index >= 0 && ramulon::index_cast<std::size_t>(info.index) < model.textures.size()) {
            const tinygltf::Texture &texture = model.textures[ramulon::index_cast<std::size_t>(info.index)];
            if (texture.source >= 0 && ramulon::index_cast<std::size_t>(texture.source) < images.size())
                look.image = images[ramulon::index_cast<std::size_t>(texture.source)];
            if (texture.sampler >= 0 && ramulon::index_cast<std::size_t>(texture.sampler) < model.samplers.size())
                look.repeat = model.samplers[ramulon::index_cast<std::size_t>(texture.sampler)].wrapS ==
                              TINYGLTF_TEXTURE_WRAP_REPEAT;
            look.texcoord = "TEXCOORD_" + std::to_string(info.texCoord);
            look.scale = transform_scale(info);
        }
        if (material.alphaMode == "MASK")
            look.alpha_cutoff = material.alphaCutoff;
        looks.push_back(std::move(look));
    }
    return looks;
}

} // namespace exporter
