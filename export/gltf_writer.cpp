// glTF 2.0 of a built tree, plain or game-ready, to files or to memory: the tree prepared, its
// files planned (gltf_parts.h), each assembled the one way every glTF is (gltf/gltf_file.h) and
// written through a sink: staged files that appear together or not at all, or a string.
#include "export/gltf_writer.h"

#include <memory>
#include <utility>
#include <vector>

#include "common/index_cast.h"
#include "export/cancel.h"
#include "export/gltf/gltf_collect.h"
#include "export/gltf/gltf_file.h"
#include "export/gltf/gltf_materials.h"
#include "export/gltf/gltf_parts.h"
#include "export/materials/materials.h"
#include "export/mesh/prepared_mesh.h"
#include "export/out_of_memory.h"
#include "export/staged_files.h"

namespace exporter {

CollectedTree collect_tree(const PreparedMesh &prepared)
{
    PrimitiveCollector collector(prepared);
    CollectedTree tree;
    tree.materials = prepared.materials;
    for (const Material &m : tree.materials.list)
        tree.looks.push_back(MaterialLook{m.colour, m.leaf, holds_tree(m)});
    for (std::size_t k = 0; k < collector.size(); ++k)
        tree.mesh.push_back(collector.collect(k));
    return tree;
}

CollectedTree collect_tree(const host::Layer &layer)
{
    PreparedMesh prepared;
    if (!prepare_mesh(layer, ExportOptions{}, Format::gltf, prepared))
        return {};
    return collect_tree(prepared);
}

void plain_plan(const PreparedMesh &prepared, const std::string &path, bool vertex_order, GltfPlan &plan)
{
    plan.collector = std::make_unique<PrimitiveCollector>(prepared);
    FilePart tree{"Ramulon tree", {.collector = plan.collector.get(), .vertex_order = vertex_order}, -1};
    plan.files.push_back({path, {std::move(tree)}, true, false});
}

namespace {


// Bytes into a staged file, in place.
class FileSink : public ByteSink {
public:
    FileSink(StagedFiles &files, int file) : files_(files), file_(file) {}
    ramulon::Status write_at(std::uint64_t offset, std::span<const std::string_view> pieces) override
    {
        return files_.write_at(file_, offset, pieces);
    }

private:
    StagedFiles &files_;
    int file_;
};

// The prepared tree and the plan of its files, as the options ask.
struct PlannedWrite {
    PreparedMesh prepared;
    GltfPlan plan;
};

// The primitives the collector will make, as (material, kind of polygon: 0 points, 1 lines, 2
// three or more corners): one per surface and kind, in the order they first appear in the layer.
std::vector<std::pair<int, int>> primitive_order(const PreparedMesh &prepared)
{
    const host::Layer &layer = *prepared.layer;
    std::vector<char> seen(prepared.materials.list.size() * 3, 0);
    std::vector<std::pair<int, int>> order;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::size_t n = layer.polygon_points(p).size();
        if (n == 0)
            continue;
        const int kind = n == 1 ? 0 : n == 2 ? 1 : 2;
        const int material = prepared.materials.of_polygon[p];
        char &slot = seen[ramulon::index_cast<std::size_t>(material) * 3 + ramulon::index_cast<std::size_t>(kind)];
        if (!slot)
            order.emplace_back(material, kind);
        slot = 1;
    }
    return order;
}

// What the plain tree's primitives read besides the layer goes as soon as none still to come
// reads it: the bark coordinates once the last woody surface's vertices are found (the leaves
// come after the wood), the corner normals once the last primitive's are (filling in the values
// read off the points alone needs neither), and the subdivided layer once the last primitive is
// filled in (and written, in a plain file). A large tree's leaves are then collected without its
// bark's tables beside them, their values filled in without the corner normals, and its file
// finished with only the layer.
//
// Only while the primitives come as foreseen: any other order keeps everything to the end.
void let_go_when_read(PlannedWrite &write)
{
    PreparedMesh &prepared = write.prepared;
    const std::vector<std::pair<int, int>> order = primitive_order(prepared);
    std::size_t last_bark = 0; // one past the last primitive reading the bark
    for (std::size_t k = 0; k < order.size(); ++k)
        if (order[k].second == 2 && woody(prepared.materials.list[ramulon::index_cast<std::size_t>(order[k].first)]))
            last_bark = k + 1;
    auto foreseen = std::make_shared<bool>(true);
    MeshSource &mesh = write.plan.files.front().parts.front().mesh;
    mesh.found = [&prepared, order, last_bark, foreseen](std::size_t k, const PrimitiveArrays &prim) {
        const int kind = prim.mode == 0 ? 0 : prim.mode == 1 ? 1 : 2;
        *foreseen = *foreseen && k < order.size() && order[k] == std::pair<int, int>(prim.material, kind);
        if (!*foreseen)
            return;
        if (k + 1 >= last_bark)
            prepared.bark = {};
        if (k + 1 == order.size())
            prepared.normals = {};
    };
    mesh.collected = [&prepared, order, foreseen](std::size_t k, const PrimitiveArrays &) {
        if (*foreseen && k + 1 == order.size() && prepared.layer == &prepared.refined) {
            prepared.refined = {};
            prepared.layer = nullptr;
        }
    };
}

ramulon::Status plan_write(const host::Layer &layer, const std::string &path, const WriteOptions &options,
                           PlannedWrite &out)
{
    if (ramulon::Status bad = check_options(options); !bad)
        return ramulon::prefixed("cannot write " + path + ": ", bad.error());
    if (ramulon::Status refused = prepare_mesh(layer, options.look, Format::gltf, out.prepared); !refused)
        return ramulon::prefixed("cannot write " + path + ": ", refused.error());
    if (!options.plain())
        return game_ready_plan(out.prepared, path, options, out.plan);
    plain_plan(out.prepared, path, options.vertex_order, out.plan);
    let_go_when_read(out);
    return {};
}

// One planned file, put together: materials and pictures first, then the nodes. A .gltf's images
// lie beside main_path.
void assemble(GltfFile &file, const PlannedWrite &write, const PlannedFile &planned, const std::string &main_path)
{
    if (planned.tree_parts)
        file.add_tree_materials(write.prepared, main_path);
    std::vector<FilePart> parts = planned.parts;
    if (planned.card)
        parts.back().material = add_card_material(file, write.plan.name, write.plan.far_png);
    file.set_parts(write.plan.name, std::move(parts));
}

// The triangles of every level and of the card, from the files that hold them.
void count_triangles(const PlannedFile &planned, const GltfFile &file, WriteReport &report)
{
    for (std::size_t p = 0; p < planned.parts.size(); ++p) {
        if (planned.card && p + 1 == planned.parts.size())
            report.far_triangles = file.part_triangles()[p];
        else
            report.level_triangles.push_back(file.part_triangles()[p]);
    }
}

// One file through the staged files: a GLB in place, or a .bin in place and its .gltf after it.
ramulon::Status write_one(StagedFiles &staged, const PlannedWrite &write, const PlannedFile &planned,
                          const std::string &main_path, bool binary, Compression compression, WriteReport &report)
{
    stop_if_cancelled();
    GltfFile file(planned.path, binary, compression);
    assemble(file, write, planned, main_path);
    if (binary) {
        const ramulon::Result<int> glb = staged.open(planned.path);
        if (!glb)
            return glb.error();
        FileSink sink(staged, *glb);
        ramulon::Result<std::size_t> bytes = file.write_glb(sink);
        if (!bytes)
            return bytes.error();
        if (ramulon::Status finished = staged.finish(*glb); !finished)
            return finished;
        report.files.push_back({planned.path, *bytes});
    } else {
        const std::string bin_path = bin_path_of(planned.path);
        const bool has_bin = !file.empty_buffer();
        int bin = -1;
        if (has_bin) {
            const ramulon::Result<int> opened = staged.open(bin_path);
            if (!opened)
                return opened.error();
            bin = *opened;
        }
        FileSink sink(staged, bin);
        ramulon::Result<std::string> json = file.write_gltf(sink, bin_path);
        if (!json)
            return json.error();
        if (has_bin)
            if (ramulon::Status finished = staged.finish(bin); !finished)
                return finished;
        if (ramulon::Status staged_json = staged.stage(planned.path, *json); !staged_json)
            return staged_json;
        report.files.push_back({planned.path, json->size()});
        if (has_bin)
            report.files.push_back({bin_path, static_cast<std::size_t>(file.buffer_size())});
    }
    count_triangles(planned, file, report);
    return {};
}

ramulon::Status write_files(const host::Layer &layer, const std::string &path, bool binary,
                            const WriteOptions &options, WriteReport *report)
{
    PlannedWrite write;
    if (ramulon::Status planned = plan_write(layer, path, options, write); !planned)
        return planned;
    StagedFiles staged;
    // Beside a .gltf, the images its files name.
    if (!binary)
        for (const auto &[name, bytes] :
             used_images(*write.prepared.layer, write.prepared.materials, write.prepared.textures))
            if (ramulon::Status image = staged.stage(texture_path(path, name), *bytes); !image)
                return image;
    WriteReport made;
    for (const PlannedFile &planned : write.plan.files)
        if (ramulon::Status written = write_one(staged, write, planned, path, binary, options.compress, made); !written)
            return written;
    if (ramulon::Status committed = staged.commit(); !committed)
        return committed;
    if (report)
        *report = std::move(made);
    return {};
}

ramulon::Status write_memory(const host::Layer &layer, const std::string &name, const WriteOptions &options,
                             std::string &bytes, WriteReport *report)
{
    if (options.level_files)
        return ramulon::fail(ramulon::ErrorKind::invalid_input,
                             "cannot write " + name + ": level files need a folder, not memory");
    PlannedWrite write;
    if (ramulon::Status planned = plan_write(layer, name, options, write); !planned)
        return planned;
    const PlannedFile &planned = write.plan.files.front();
    GltfFile file(name, true, options.compress);
    assemble(file, write, planned, name);
    bytes.clear();
    StringSink sink(bytes);
    ramulon::Result<std::size_t> length = file.write_glb(sink);
    if (!length)
        return length.error();
    if (report) {
        *report = {};
        report->files.push_back({name, *length});
        count_triangles(planned, file, *report);
    }
    return {};
}

} // namespace

ramulon::Status write_gltf(const host::Layer &layer, const std::string &path, bool binary, const WriteOptions &options,
                           WriteReport *report)
{
    return unless_out_of_memory(path, [&] { return write_files(layer, path, binary, options, report); });
}

ramulon::Status glb_in_memory(const host::Layer &layer, const std::string &name, const WriteOptions &options,
                              std::string &bytes, WriteReport *report)
{
    return unless_out_of_memory(name, [&] { return write_memory(layer, name, options, bytes, report); });
}

} // namespace exporter
