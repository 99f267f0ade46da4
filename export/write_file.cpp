// The one way to write a tree: the format from the path's extension, the options checked, then
// the OBJ or the glTF writer.
#include <filesystem>

#include "common/lower_case.h"
#include "export/export.h"
#include "export/gltf_writer.h"
#include "export/materials/textures.h"
#include "export/obj_writer.h"

namespace exporter {

namespace {

enum class FileFormat { unknown, obj, gltf, glb };

FileFormat format_of(const std::string &path)
{
    const std::string ext = ramulon::lower_case(std::filesystem::path(path).extension().string());
    return ext == ".obj" ? FileFormat::obj : ext == ".gltf" ? FileFormat::gltf : ext == ".glb" ? FileFormat::glb : FileFormat::unknown;
}

ramulon::Error refused(std::string message) { return ramulon::fail(ramulon::ErrorKind::invalid_input, std::move(message)); }

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

ramulon::Status check_write(const std::string &path, const WriteOptions &options)
{
    const FileFormat format = format_of(path);
    if (format == FileFormat::unknown)
        return refused("cannot write " + path + ": unknown format (known: " + file_format_list() + ")");
    const ExportOptions &look = options.look;
    if (look.subdivide != automatic_subdivision && (look.subdivide < 0 || look.subdivide > max_subdivision))
        return refused("subdivision levels must be 0 to " + std::to_string(max_subdivision) + ", not " +
                       std::to_string(look.subdivide));
    if (!(look.crease_angle >= 0.0 && look.crease_angle <= 180.0))
        return refused("the crease angle must be 0 to 180 degrees");
    if (ramulon::Status bad = check_options(options); !bad)
        return bad;
    if (!options.plain() && format == FileFormat::obj)
        return refused("levels of detail, the far card and compression need a .gltf or .glb file, not " + path);
    // Only a user's folder can fail; the built-in images need no look before the build.
    if (look.textures == TextureChoice::folder) {
        if (auto textures = load_textures(look.textures, look.texture_folder); !textures)
            return refused(textures.error().message);
    }
    return {};
}

ramulon::Status write_tree(const host::Layer &layer, const std::string &path, const WriteOptions &options,
                           WriteReport *report)
{
    switch (format_of(path)) {
    case FileFormat::obj: {
        if (!options.plain())
            return refused("levels of detail, the far card and compression need a .gltf or .glb file, not " + path);
        return write_obj(layer, path, options.look);
    }
    case FileFormat::gltf:
        return write_gltf(layer, path, false, options, report);
    case FileFormat::glb:
        return write_gltf(layer, path, true, options, report);
    case FileFormat::unknown:
        break;
    }
    return refused("cannot write " + path + ": unknown format (known: " + file_format_list() + ")");
}

ramulon::Result<std::string> write_tree_to_memory(const host::Layer &layer, const WriteOptions &options,
                                                  const std::string &name, WriteReport *report)
{
    std::string bytes;
    if (ramulon::Status written = glb_in_memory(layer, name, options, bytes, report); !written)
        return written.error();
    return bytes;
}

} // namespace exporter
