// Wavefront OBJ and its material library. Points keep their order and numbering (OBJ counts
// from 1), polygons their order and corner order; `usemtl` switches whenever the surface does.
// Texture coordinates and normals are shared between corners with identical values, so a seam
// corner gets a `vt` of its own only where its polygon-specific value differs, and a corner at
// a sharp edge a `vn` of its own. An OBJ corner carries one texture coordinate: on woody faces
// the bark coordinates (bark_coordinates.h), which the bark uses, on leaves "RM_leaf". The
// material library names the textures written beside it.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "common/index_cast.h"
#include "export/cancel.h"
#include "export/distinct_floats.h"
#include "export/obj_writer.h"
#include "export/export.h"
#include "export/mesh/layer_view.h"
#include "export/materials/materials.h"
#include "export/out_of_memory.h"
#include "export/mesh/prepared_mesh.h"
#include "export/staged_files.h"

namespace exporter {
namespace {

template <typename T> void append_number(std::string &out, T value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The texture coordinates of every polygon corner, as indices into a shared list.
struct TextureCorners {
    std::vector<std::array<float, 2>> coordinates;
    std::vector<std::size_t> first;  // per polygon, its first entry in index
    std::vector<int> index;          // per corner, 0-based into coordinates; -1: polygon has none
};

TextureCorners texture_corners(const host::Layer &layer, const Materials &materials, const BarkCoordinates &bark)
{
    const MapView branch(layer, ID_TXUV, branch_texture);
    const MapView leaf(layer, ID_TXUV, leaf_texture);
    const float origin[2] = {0.0f, 0.0f};

    TextureCorners out;
    // About one coordinate per point: seams add some, leaves that share a shape share theirs.
    DistinctFloats<2> known(layer.points.size() / 2);
    out.first.reserve(layer.polygon_count());
    out.index.reserve(layer.corners.size());
    std::vector<std::optional<std::span<const float>>> values;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        const Material &material = materials.list[ramulon::index_cast<std::size_t>(materials.of_polygon[p])];
        const MapView &map = material.leaf ? leaf : branch;
        const bool barked = !bark.empty() && bark.on_bark[p];
        out.first.push_back(out.index.size());
        values.clear();
        bool any = false;
        for (std::size_t c = 0; c < poly.size(); ++c) {
            values.push_back(barked ? std::span<const float>(bark.at(p, c)) : map.at(poly[c], ramulon::index_cast<int>(p)));
            any = any || values.back().has_value();
        }
        // A face either names a texture coordinate at every corner or at none; corners the map
        // misses on a textured face get (0, 0). A `p` element takes none.
        any = any && poly.size() > 1;
        for (const auto &value : values) {
            if (!any) {
                out.index.push_back(-1);
                continue;
            }
            float uv[2];
            copy_value(value, origin, 2, uv);
            out.index.push_back(known.place_of({uv[0], uv[1]}));
        }
    }
    out.coordinates = known.take_list();
    return out;
}

// The normals of every corner of faces (three or more corners), as indices into a shared list.
struct NormalCorners {
    std::vector<std::array<float, 3>> normals;
    std::vector<int> index; // per corner of the layer, in CornerNormals order; -1 off faces
};

NormalCorners normal_corners(const host::Layer &layer, const CornerNormals &normals)
{
    NormalCorners out;
    // Smooth wood has about a normal per point, a leaf one for its corners.
    DistinctFloats<3> known(layer.points.size() / 2);
    out.index.reserve(layer.corners.size());
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::size_t n = layer.polygon_points(p).size();
        for (std::size_t c = 0; c < n; ++c) {
            if (n < 3) {
                out.index.push_back(-1);
                continue;
            }
            out.index.push_back(known.place_of(normals.at(p, c)));
        }
    }
    out.normals = known.take_list();
    return out;
}

// The OBJ text, handed to `spill` a block at a time (whenever it passes a megabyte, and at the
// end), so that a large tree's text is never held whole. False when spill failed.
bool obj_text(const PreparedMesh &mesh, const std::string &mtl_name,
              const std::function<bool(std::string_view)> &spill)
{
    const host::Layer &layer = *mesh.layer;
    const Materials &materials = mesh.materials;
    const CornerNormals &corner_normals = mesh.normals;
    const TextureCorners texture = texture_corners(layer, materials, mesh.bark);
    const NormalCorners normal = normal_corners(layer, corner_normals);
    constexpr std::size_t block = std::size_t{1} << 20;
    std::string out;
    out.reserve(block + 4096);
    bool spilled = true;
    auto spill_full = [&](bool last) {
        if (spilled && (last || out.size() >= block))
            spilled = spill(out);
        if (last || out.size() >= block)
            out.clear();
    };
    out += "# Ramulon tree: ";
    append_number(out, layer.points.size());
    out += " points, ";
    append_number(out, layer.polygon_count());
    out += " polygons\nmtllib ";
    out += mtl_name;
    out += '\n';
    for (const host::Vec3 &p : layer.points) {
        out += "v ";
        append_number(out, p.x);
        out += ' ';
        append_number(out, p.y);
        out += ' ';
        append_number(out, p.z);
        out += '\n';
        spill_full(false);
    }
    // Written as the doubles the floats are, so that a reader gets the very values back.
    for (const auto &uv : texture.coordinates) {
        out += "vt ";
        append_number(out, static_cast<double>(uv[0]));
        out += ' ';
        append_number(out, static_cast<double>(uv[1]));
        out += '\n';
        spill_full(false);
    }
    for (const auto &n : normal.normals) {
        out += "vn";
        for (float c : n) {
            out += ' ';
            append_number(out, c);
        }
        out += '\n';
        spill_full(false);
    }
    int current = -1;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        if (poly.empty())
            continue;
        const int material = materials.of_polygon[p];
        if (material != current) {
            out += "usemtl ";
            out += materials.list[ramulon::index_cast<std::size_t>(material)].name;
            out += '\n';
            current = material;
        }
        out += poly.size() == 1 ? "p" : poly.size() == 2 ? "l" : "f";
        for (std::size_t c = 0; c < poly.size(); ++c) {
            out += ' ';
            append_number(out, poly[c] + 1);
            const int vt = texture.index[texture.first[p] + c];
            const int vn = normal.index[corner_normals.first[p] + c];
            if (vt >= 0 || vn >= 0)
                out += '/';
            if (vt >= 0)
                append_number(out, vt + 1);
            if (vn >= 0) {
                out += '/';
                append_number(out, vn + 1);
            }
        }
        out += '\n';
        spill_full(false);
    }
    spill_full(true);
    return spilled;
}

// The image files of the material library: the bark with its normal map and the single leaf
// ("RM_leaf" is the leaves' only texture map in an OBJ), by image name with their bytes.
std::vector<std::pair<std::string, const std::string *>> obj_images(const host::Layer &layer,
                                                                    const Materials &materials,
                                                                    const TextureSet &textures)
{
    std::vector<std::pair<std::string, const std::string *>> out;
    if (textures.empty())
        return out;
    bool bark = false, leaf = false;
    for (const Material &m : materials.list) {
        bark = bark || woody(m);
        leaf = leaf || m.leaf;
    }
    if (bark && MapView(layer, ID_TXUV, branch_texture).present()) {
        out.emplace_back(bark_image, &textures.bark);
        if (!textures.bark_normal.empty())
            out.emplace_back(bark_normal_image, &textures.bark_normal);
    }
    if (leaf && MapView(layer, ID_TXUV, leaf_texture).present())
        out.emplace_back(leaf_image, &textures.leaf);
    return out;
}

// The files of the material library's textures, each beside the OBJ; empty when not written.
struct MtlFiles {
    std::string bark, bark_normal, leaf;
};

std::string mtl_text(const Materials &materials, const MtlFiles &files)
{
    std::string out = "# Ramulon materials: one per surface; bark on tubes and roots, leaves masked\n";
    for (const Material &material : materials.list) {
        out += "\nnewmtl ";
        out += material.name;
        out += '\n';
        const Finish finish = finish_of(material);
        const bool bark = (finish == Finish::bark || finish == Finish::twig) && !files.bark.empty();
        const bool leaf = finish == Finish::leaf && !files.leaf.empty();
        if (!material.colour_tag.empty())
            out += "# sketch colour " + material.colour_tag + "\n";
        out += "Ka 0 0 0\nKd";
        for (double c : base_colour(material, bark || leaf)) {
            out += ' ';
            append_number(out, c);
        }
        out += "\nKs 0 0 0\nd 1\nillum 1\n";
        if (bark) {
            out += "map_Kd " + files.bark + "\n";
            // The relief, a tangent-space normal map: `norm` for readers that know it,
            // `map_Bump` for those (Blender's among them) that take a normal map there.
            if (!files.bark_normal.empty())
                out += "norm " + files.bark_normal + "\nmap_Bump " + files.bark_normal + "\n";
        }
        if (leaf)
            out += "map_Kd " + files.leaf + "\nmap_d " + files.leaf + "\n";
    }
    return out;
}

// How a set leaves make_obj: each image and the material library whole, then the OBJ text a
// block at a time.
using PutFile = std::function<ramulon::Status(const std::string &name, const std::string &bytes, bool image)>;
using PutText = std::function<ramulon::Status(std::string_view block)>;

// The set of an OBJ named `name`; `shown` is what messages call it (its path on the disk).
ramulon::Status make_obj(const host::Layer &layer, const std::string &name, const std::string &shown,
                         const ExportOptions &options, const PutFile &put_file, const PutText &put_text)
{
    PreparedMesh prepared;
    if (ramulon::Status refused = prepare_mesh(layer, options, Format::obj, prepared); !refused)
        return ramulon::prefixed("cannot write " + shown + ": ", refused.error());
    const host::Layer &written = *prepared.layer;
    std::string mtl_name = sibling_path(name, ".mtl");
    if (mtl_name == name)
        mtl_name += ".mtl";
    MtlFiles images;
    for (const auto &[image, bytes] : obj_images(written, prepared.materials, prepared.textures)) {
        const std::string image_name = texture_path(name, image);
        (image == bark_image ? images.bark : image == bark_normal_image ? images.bark_normal : images.leaf) = image_name;
        if (ramulon::Status put = put_file(image_name, *bytes, true); !put)
            return put;
    }
    if (ramulon::Status put = put_file(mtl_name, mtl_text(prepared.materials, images), false); !put)
        return put;
    ramulon::Status text_put;
    const auto spill = [&](std::string_view text) {
        stop_if_cancelled();
        text_put = put_text(text);
        return text_put.ok();
    };
    if (!obj_text(prepared, mtl_name, spill))
        return text_put;
    return {};
}

ramulon::Status write_obj_unguarded(const host::Layer &layer, const std::string &path, const ExportOptions &options)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    StagedFiles files;
    const auto put_file = [&](const std::string &name, const std::string &bytes, bool) {
        return files.stage((folder / name).string(), bytes);
    };
    int obj = -1;
    std::uint64_t at = 0;
    const auto put_text = [&](std::string_view text) -> ramulon::Status {
        // Opened after the images and the material library, as they are staged first.
        if (obj < 0) {
            const ramulon::Result<int> opened = files.open(path);
            if (!opened)
                return opened.error();
            obj = *opened;
        }
        const std::string_view pieces[] = {text};
        const ramulon::Status written = files.write_at(obj, at, pieces);
        at += text.size();
        return written;
    };
    if (ramulon::Status made = make_obj(layer, file_name(path), path, options, put_file, put_text); !made)
        return made;
    if (ramulon::Status finished = files.finish(obj); !finished)
        return finished;
    return files.commit();
}

} // namespace

ramulon::Status write_obj(const host::Layer &layer, const std::string &path, const ExportOptions &options)
{
    return unless_out_of_memory(path, [&] { return write_obj_unguarded(layer, path, options); });
}

ramulon::Result<ObjFiles> obj_files(const host::Layer &layer, const std::string &name, const ExportOptions &options)
{
    ObjFiles files;
    const ramulon::Status made = unless_out_of_memory(name, [&] {
        const auto put_file = [&](const std::string &file, const std::string &bytes, bool image) {
            if (image)
                files.images.emplace_back(file, bytes);
            else
                files.mtl = bytes;
            return ramulon::Status{};
        };
        const auto put_text = [&](std::string_view text) {
            files.obj += text;
            return ramulon::Status{};
        };
        return make_obj(layer, name, name, options, put_file, put_text);
    });
    if (!made)
        return made.error();
    return files;
}

} // namespace exporter
