// The C interface's trees: reading their arrays in place, and writing them out.
#include <cstring>

#include "export/export.h"
#include "handles.h"
#include "host/files.h"
#include "ramulon/ramulon.h"
#include "tree.h"

using namespace library;

namespace {

int null_argument(const char *what) { return fail(RAMULON_ERROR_ARGUMENT, std::string(what) + " is NULL"); }

// Runs a call's work on the tree of a handle.
template <typename Work> int on_tree(const ramulon_tree *handle, Work &&work)
{
    const std::shared_ptr<Tree> tree = find_tree(handle);
    if (!tree)
        return bad_handle("tree");
    return work(*tree);
}

// How many of a tree's items there are (names, maps, ...), as the count calls answer.
template <typename Items> int count_of(const ramulon_tree *handle, size_t *count, Items items)
{
    return on_tree(handle, [&](const Tree &tree) {
        if (!count)
            return null_argument("count");
        *count = items(tree).size();
        return static_cast<int>(RAMULON_OK);
    });
}

// One of a tree's items by index, as the _at calls answer; pick gives what is handed out.
template <typename Out, typename Items, typename Pick>
int item_at(const ramulon_tree *handle, size_t index, Out *out, const char *what, Items items, Pick pick)
{
    return on_tree(handle, [&](const Tree &tree) {
        if (!out)
            return null_argument("out");
        const size_t count = items(tree).size();
        if (index >= count)
            return fail(RAMULON_ERROR_ARGUMENT, std::string("no ") + what + " at index " + std::to_string(index) +
                                                    " (the tree has " + std::to_string(count) + ")");
        *out = pick(items(tree)[index]);
        return static_cast<int>(RAMULON_OK);
    });
}

const auto names = [](const Tree &t) -> const auto & { return t.names; };
const auto maps = [](const Tree &t) -> const auto & { return t.maps; };
const auto polygon_maps = [](const Tree &t) -> const auto & { return t.polygon_maps; };
const auto tags = [](const Tree &t) -> const auto & { return t.tags; };
const auto itself = [](const auto &item) { return item; };
const auto info = [](const auto &item) { return item.info; };

} // namespace

extern "C" {

void ramulon_tree_free(ramulon_tree *handle) { remove_tree(handle); }

int ramulon_tree_points(const ramulon_tree *handle, const double **xyz, size_t *count)
{
    return on_tree(handle, [&](const Tree &tree) {
        if (!xyz || !count)
            return null_argument(xyz ? "count" : "xyz");
        *xyz = reinterpret_cast<const double *>(tree.layer.points.data());
        *count = tree.layer.points.size();
        return static_cast<int>(RAMULON_OK);
    });
}

int ramulon_tree_polygons(const ramulon_tree *handle, const uint64_t **offsets, const int32_t **corners,
                          const uint32_t **types, const int32_t **surfaces, size_t *count)
{
    return on_tree(handle, [&](const Tree &tree) {
        const host::Layer &layer = tree.layer;
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
        return static_cast<int>(RAMULON_OK);
    });
}

int ramulon_tree_name_count(const ramulon_tree *handle, size_t *count) { return count_of(handle, count, names); }

int ramulon_tree_name(const ramulon_tree *handle, size_t index, const char **name)
{
    return item_at(handle, index, name, "name", names, itself);
}

int ramulon_tree_map_count(const ramulon_tree *handle, size_t *count) { return count_of(handle, count, maps); }

int ramulon_tree_map_at(const ramulon_tree *handle, size_t index, ramulon_map *out)
{
    return item_at(handle, index, out, "map", maps, itself);
}

int ramulon_tree_map_find(const ramulon_tree *handle, const char *name, uint32_t kind, ramulon_map *out)
{
    return on_tree(handle, [&](const Tree &tree) {
        if (!name || !out)
            return null_argument(name ? "out" : "name");
        for (const ramulon_map &map : tree.maps)
            if (std::strcmp(map.name, name) == 0 && (kind == 0 || map.kind == kind)) {
                *out = map;
                return static_cast<int>(RAMULON_OK);
            }
        char text[5];
        code_text(kind, text);
        return fail(RAMULON_ERROR_NOT_FOUND,
                    std::string("the tree has no map \"") + name + "\"" + (kind ? std::string(" of kind ") + text : ""));
    });
}

int ramulon_tree_polygon_map_count(const ramulon_tree *handle, size_t *count)
{
    return count_of(handle, count, polygon_maps);
}

int ramulon_tree_polygon_map_at(const ramulon_tree *handle, size_t index, ramulon_polygon_map *out)
{
    return item_at(handle, index, out, "polygon map", polygon_maps, info);
}

int ramulon_tree_tag_count(const ramulon_tree *handle, size_t *count) { return count_of(handle, count, tags); }

int ramulon_tree_tags_at(const ramulon_tree *handle, size_t index, ramulon_tags *out)
{
    return item_at(handle, index, out, "tag type", tags, info);
}

int ramulon_tree_journal(const ramulon_tree *handle, const char **text, size_t *size)
{
    return on_tree(handle, [&](const Tree &tree) {
        if (!text || !size)
            return null_argument(text ? "size" : "text");
        if (!tree.has_journal)
            return fail(RAMULON_ERROR_NOT_FOUND, "the build recorded no journal (ask for one in its options)");
        *text = tree.journal.c_str();
        *size = tree.journal.size();
        return static_cast<int>(RAMULON_OK);
    });
}

int ramulon_tree_write_journal(const ramulon_tree *handle, const char *path)
{
    return on_tree(handle, [&](const Tree &tree) {
        if (!tree.has_journal)
            return fail(RAMULON_ERROR_NOT_FOUND, "the build recorded no journal (ask for one in its options)");
        if (!path)
            return null_argument("path");
        if (const auto written = host::write_text_file(path, tree.journal); !written)
            return fail(RAMULON_ERROR_IO, written.message());
        return static_cast<int>(RAMULON_OK);
    });
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
    options->wind_colours = 0;
    options->lod = 1;
}

int ramulon_tree_write(const ramulon_tree *handle, const char *path, const ramulon_write_options *given)
{
    const std::shared_ptr<Tree> tree = find_tree(handle);
    if (!tree)
        return bad_handle("tree");
    if (!path)
        return null_argument("path");
    const ramulon_write_options o = sized_options(given, ramulon_write_options_init);
    try {
        exporter::WriteOptions options;
        exporter::choose_textures(options.look, o.textures ? o.textures : "builtin");
        options.look.subdivide = o.subdivide < 0 ? exporter::automatic_subdivision : o.subdivide;
        options.look.crease_angle = o.crease_angle;
        options.look.wind_colours = o.wind_colours != 0;
        options.levels = o.lod;
        options.level_files = o.lod_files != 0;
        options.impostor = o.impostor != 0;
        options.compress = o.compress == RAMULON_COMPRESS_QUANTIZE ? exporter::Compression::quantize
                                : o.compress != 0                        ? exporter::Compression::meshopt
                                                                         : exporter::Compression::none;
        if (ramulon::Status bad = exporter::check_write(path, options); !bad)
            return fail(RAMULON_ERROR_ARGUMENT, bad.message());
        if (ramulon::Status written = exporter::write_tree(tree->layer, path, options); !written)
            return fail(written.error().kind == ramulon::ErrorKind::out_of_memory ? RAMULON_ERROR_MEMORY : RAMULON_ERROR_IO,
                        written.message());
        return RAMULON_OK;
    } catch (const std::bad_alloc &) {
        return fail(RAMULON_ERROR_MEMORY, "out of memory");
    }
}

} // extern "C"
