#include "export/mesh/prepared_mesh.h"

#include <algorithm>
#include <filesystem>

#include "export/cancel.h"
#include "export/materials/materials.h"
#include "export/mesh/subdivision.h"

namespace exporter {

int subdivision_levels(const host::Layer &layer, const ExportOptions &options, Format format)
{
    if (options.subdivide != automatic_subdivision)
        return std::clamp(options.subdivide, 0, max_subdivision);
    if (format != Format::gltf)
        return 0;
    const bool cage = std::any_of(layer.polygon_type.begin(), layer.polygon_type.end(),
                                  [](HostID type) { return type == ID_PTCH; });
    return cage ? 2 : 0;
}

ramulon::Status prepare_mesh(const host::Layer &layer, const ExportOptions &options, Format format,
                             PreparedMesh &out)
{
    if (std::string bad = check_layer(layer); !bad.empty())
        return ramulon::fail(ramulon::ErrorKind::invalid_input, bad);
    auto textures = load_textures(options.textures, options.texture_folder);
    if (!textures)
        return textures.error();
    out.textures = std::move(textures).value();
    out.materials = collect_materials(layer);
    out.layer = &layer;
    // The bark is laid out on the cage, whose rings are plain to see, and carried onto the
    // smooth surface.
    out.bark = bark_coordinates(layer, out.materials);
    const int levels = subdivision_levels(layer, options, format);
    if (levels > 0) {
        BarkCoordinates smooth;
        if (ramulon::Status refused = subdivide(layer, out.materials, levels, out.refined, &out.bark, &smooth); !refused)
            return refused;
        out.layer = &out.refined;
        out.materials = collect_materials(out.refined);
        out.bark = std::move(smooth);
        fit_bark_to_surface(out.bark, *out.layer);
    }
    stop_if_cancelled();
    out.normals = corner_normals(*out.layer, out.materials, options.crease_angle);
    out.wind_colours = options.wind_colours;
    return {};
}

std::string texture_path(const std::string &path, const std::string &image)
{
    std::filesystem::path p(path);
    const std::string stem = p.stem().string();
    return (p.parent_path() / (stem + "_" + image)).string();
}

} // namespace exporter
