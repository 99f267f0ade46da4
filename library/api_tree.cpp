// The C interface's trees: reading their arrays in place, and writing them out.
#include <cstring>

#include "export/write_file.h"
#include "handles.h"
#include "host/files.h"
#include "ramulon/ramulon.h"
#include "tree.h"

using namespace library;

namespace {

// The tree of a handle for this call, or null with the failure recorded.
std::shared_ptr<Tree> tree_of(const ramulon_tree *handle, int &status)
{
    std::shared_ptr<Tree> tree = find_tree(handle);
    if (!tree)
        status = bad_handle("tree");
    return tree;
}

int null_argument(const char *what) { return fail(RAMULON_ERROR_ARGUMENT, std::string(what) + " is NULL"); }

int out_of_range(const char *what, size_t index, size_t count)
{
    return fail(RAMULON_ERROR_ARGUMENT, std::string("no ") + what + " at index " + std::to_string(index) + " (the tree has " +
                                            std::to_string(count) + ")");
}

ramulon_write_options write_options(const ramulon_write_options *given)
{
    ramulon_write_options o;
    ramulon_write_options_init(&o);
    if (given && given->size >= sizeof(given->size))
        std::memcpy(&o, given, std::min(given->size, sizeof(o)));
    o.size = sizeof(o);
    return o;
}

} // namespace

extern "C" {

void ramulon_tree_free(ramulon_tree *handle) { remove_tree(handle); }

int ramulon_tree_points(const ramulon_tree *handle, const double **xyz, size_t *count)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!xyz || !count)
        return null_argument(xyz ? "count" : "xyz");
    *xyz = reinterpret_cast<const double *>(tree->layer.points.data());
    *count = tree->layer.points.size();
    return RAMULON_OK;
}

int ramulon_tree_polygons(const ramulon_tree *handle, const uint64_t **offsets, const int32_t **corners,
                          const uint32_t **types, const int32_t **surfaces, size_t *count)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    const host::Layer &layer = tree->layer;
    if (offsets)
        *offsets = reinterpret_cast<const uint64_t *>(layer.corner_offset.data());
    if (corners)
        *corners = layer.corners.data();
    if (types)
        *types = layer.polygon_type.data();
    if (surfaces)
        *surfaces = layer.polygon_surface.data();
    if (count)
        *count = layer.polygon_count();
    return RAMULON_OK;
}

int ramulon_tree_name_count(const ramulon_tree *handle, size_t *count)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!count)
        return null_argument("count");
    *count = tree->names.size();
    return RAMULON_OK;
}

int ramulon_tree_name(const ramulon_tree *handle, size_t index, const char **name)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!name)
        return null_argument("name");
    if (index >= tree->names.size())
        return out_of_range("name", index, tree->names.size());
    *name = tree->names[index];
    return RAMULON_OK;
}

int ramulon_tree_map_count(const ramulon_tree *handle, size_t *count)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!count)
        return null_argument("count");
    *count = tree->maps.size();
    return RAMULON_OK;
}

int ramulon_tree_map_at(const ramulon_tree *handle, size_t index, ramulon_map *out)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!out)
        return null_argument("out");
    if (index >= tree->maps.size())
        return out_of_range("map", index, tree->maps.size());
    *out = tree->maps[index];
    return RAMULON_OK;
}

int ramulon_tree_map_find(const ramulon_tree *handle, const char *name, uint32_t kind, ramulon_map *out)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!name || !out)
        return null_argument(name ? "out" : "name");
    for (const ramulon_map &map : tree->maps)
        if (std::strcmp(map.name, name) == 0 && (kind == 0 || map.kind == kind)) {
            *out = map;
            return RAMULON_OK;
        }
    char text[5];
    code_text(kind, text);
    return fail(RAMULON_ERROR_NOT_FOUND,
                std::string("the tree has no map \"") + name + "\"" + (kind ? std::string(" of kind ") + text : ""));
}

int ramulon_tree_polygon_map_count(const ramulon_tree *handle, size_t *count)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!count)
        return null_argument("count");
    *count = tree->polygon_maps.size();
    return RAMULON_OK;
}

int ramulon_tree_polygon_map_at(const ramulon_tree *handle, size_t index, ramulon_polygon_map *out)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!out)
        return null_argument("out");
    if (index >= tree->polygon_maps.size())
        return out_of_range("polygon map", index, tree->polygon_maps.size());
    *out = tree->polygon_maps[index].info;
    return RAMULON_OK;
}

int ramulon_tree_tag_count(const ramulon_tree *handle, size_t *count)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!count)
        return null_argument("count");
    *count = tree->tags.size();
    return RAMULON_OK;
}

int ramulon_tree_tags_at(const ramulon_tree *handle, size_t index, ramulon_tags *out)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!out)
        return null_argument("out");
    if (index >= tree->tags.size())
        return out_of_range("tag type", index, tree->tags.size());
    *out = tree->tags[index].info;
    return RAMULON_OK;
}

int ramulon_tree_journal(const ramulon_tree *handle, const char **text, size_t *size)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!text || !size)
        return null_argument(text ? "size" : "text");
    if (!tree->has_journal)
        return fail(RAMULON_ERROR_NOT_FOUND, "the build recorded no journal (ask for one in its options)");
    *text = tree->journal.c_str();
    *size = tree->journal.size();
    return RAMULON_OK;
}

int ramulon_tree_write_journal(const ramulon_tree *handle, const char *path)
{
    const char *text = nullptr;
    size_t size = 0;
    if (const int status = ramulon_tree_journal(handle, &text, &size); status != RAMULON_OK)
        return status;
    if (!path)
        return null_argument("path");
    std::string error;
    if (!host::write_text_file(path, std::string(text, size), error))
        return fail(RAMULON_ERROR_IO, error);
    return RAMULON_OK;
}

void ramulon_write_options_init(ramulon_write_options *options)
{
    if (!options)
        return;
    *options = ramulon_write_options{};
    options->size = sizeof(*options);
    options->textures = "builtin";
    options->subdivide = -1;
    options->crease_angle = 60.0;
    options->wind_colours = 1;
    options->lod = 1;
}

int ramulon_tree_write(const ramulon_tree *handle, const char *path, const ramulon_write_options *given)
{
    int status = RAMULON_OK;
    const std::shared_ptr<Tree> tree = tree_of(handle, status);
    if (!tree)
        return status;
    if (!path)
        return null_argument("path");
    const ramulon_write_options o = write_options(given);
    try {
        exporter::FileOptions options;
        exporter::choose_textures(options.look, o.textures ? o.textures : "builtin");
        options.look.subdivide = o.subdivide < 0 ? exporter::automatic_subdivision : o.subdivide;
        options.look.crease_angle = o.crease_angle;
        options.look.wind_colours = o.wind_colours != 0;
        options.gltf.levels = o.lod;
        options.gltf.level_files = o.lod_files != 0;
        options.gltf.impostor = o.impostor != 0;
        options.gltf.compress = o.compress != 0;
        if (std::string bad = exporter::check_file_options(path, options); !bad.empty())
            return fail(RAMULON_ERROR_ARGUMENT, bad);
        if (std::string error = exporter::write_file(tree->layer, path, options); !error.empty())
            return fail(RAMULON_ERROR_IO, error);
        return RAMULON_OK;
    } catch (const std::bad_alloc &) {
        return fail(RAMULON_ERROR_MEMORY, "out of memory");
    }
}

} // extern "C"
