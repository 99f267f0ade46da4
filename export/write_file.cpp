#include "export/write_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "export/export.h"
#include "export/materials/textures.h"

namespace exporter {

namespace {

enum class Format { unknown, obj, gltf, glb };

Format format_of(const std::string &path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".obj" ? Format::obj : ext == ".gltf" ? Format::gltf : ext == ".glb" ? Format::glb : Format::unknown;
}

} // namespace

void choose_textures(ExportOptions &look, const std::string &textures)
{
    look.texture_folder.clear();
    if (textures == "none") {
        look.textures = TextureChoice::none;
    } else if (textures.empty() || textures == "builtin") {
        look.textures = TextureChoice::builtin;
    } else {
        look.textures = TextureChoice::folder;
        look.texture_folder = textures;
    }
}

std::string file_format_list() { return ".glb, .gltf, .obj"; }

std::string check_file_options(const std::string &path, const FileOptions &options)
{
    const Format format = format_of(path);
    if (format == Format::unknown)
        return "cannot write " + path + ": unknown format (known: " + file_format_list() + ")";
    const ExportOptions &look = options.look;
    if (look.subdivide != automatic_subdivision && (look.subdivide < 0 || look.subdivide > max_subdivision))
        return "subdivision levels must be 0 to " + std::to_string(max_subdivision) + ", not " +
               std::to_string(look.subdivide);
    if (!(look.crease_angle >= 0.0 && look.crease_angle <= 180.0))
        return "the crease angle must be 0 to 180 degrees";
    if (std::string bad = check_options(options.gltf); !bad.empty())
        return bad;
    if (!options.gltf.plain() && format == Format::obj)
        return "levels of detail, the far card and compression need a .gltf or .glb file, not " + path;
    // Only a user's folder can fail; the built-in images need no look before the build.
    if (look.textures == TextureChoice::folder) {
        TextureSet textures;
        std::string error;
        if (!load_textures(look.textures, look.texture_folder, textures, error))
            return error;
    }
    return {};
}

std::string write_file(const host::Layer &layer, const std::string &path, const FileOptions &options,
                       GltfReport *report)
{
    GltfOptions gltf = options.gltf;
    gltf.look = options.look;
    switch (format_of(path)) {
    case Format::obj:
        return write_obj(layer, path, options.look).message();
    case Format::gltf:
        return write_gltf(layer, path, gltf, report);
    case Format::glb:
        return write_glb(layer, path, gltf, report);
    case Format::unknown:
        break;
    }
    return "cannot write " + path + ": unknown format (known: " + file_format_list() + ")";
}

} // namespace exporter
