#include "export/gltf/compression.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <meshoptimizer.h>

#include "export/gltf/accessor_values.h"

namespace exporter {
namespace {

constexpr const char *meshopt_extension = "EXT_meshopt_compression";
constexpr const char *quantization_extension = "KHR_mesh_quantization";

// Mantissa bits kept of the float attributes: a 2048-pixel texture needs 11, the weights and
// growth vectors of wind shaders far fewer; 16 leaves room for both.
constexpr int float_bits = 16;

std::string bytes_of(const void *data, std::size_t length)
{
    return std::string(static_cast<const char *>(data), length);
}

} // namespace

PositionGrid position_grid(const std::vector<const MeshArrays *> &meshes)
{
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (const MeshArrays *mesh : meshes)
        for (const PrimitiveArrays &prim : *mesh)
            for (std::size_t i = 0; i + 3 <= prim.streams.front().values.size(); i += 3)
                for (std::size_t k = 0; k < 3; ++k) {
                    low[k] = std::min(low[k], double(prim.streams.front().values[i + k]));
                    high[k] = std::max(high[k], double(prim.streams.front().values[i + k]));
                }
    PositionGrid grid;
    if (low[0] > high[0])
        return grid;
    const double extent = std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});
    grid.origin = {low[0], low[1], low[2]};
    grid.step = extent > 0.0 ? extent / 65535.0 : 1.0;
    return grid;
}

int CompressedBuffers::add_view(const unsigned char *data, std::size_t count, std::size_t stride,
                                Layout layout, int target)
{
    tinygltf::BufferView view;
    view.byteLength = count * stride;
    if (target == TINYGLTF_TARGET_ARRAY_BUFFER)
        view.byteStride = stride;
    view.target = target;
    if (mode_ == Compression::quantize) {
        view.buffer = 0;
        view.byteOffset = pieces_.add_kept(bytes_of(data, count * stride));
        return append(model_.bufferViews, view);
    }

    std::vector<unsigned char> encoded;
    std::vector<std::uint32_t> filtered;
    const char *mode = "ATTRIBUTES", *filter = nullptr;
    switch (layout) {
    case Layout::floats:
        // Floats stay floats for the reader; the exponential filter rounds their mantissas so
        // that the codec finds the repetition.
        filtered.resize(count * stride / 4);
        if (!filtered.empty())
            meshopt_encodeFilterExp(filtered.data(), filtered.size(), 4, float_bits, reinterpret_cast<const float *>(data));
        data = reinterpret_cast<const unsigned char *>(filtered.data());
        filter = "EXPONENTIAL";
        [[fallthrough]];
    case Layout::attributes:
        encoded.resize(meshopt_encodeVertexBufferBound(count, stride));
        encoded.resize(meshopt_encodeVertexBuffer(encoded.data(), encoded.size(), data, count, stride));
        break;
    case Layout::triangles:
    case Layout::indices: {
        // The codecs take 32-bit indices whatever the view stores.
        std::vector<std::uint32_t> indices(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (stride == 2) {
                std::uint16_t index;
                std::memcpy(&index, data + i * 2, 2);
                indices[i] = index;
            } else {
                std::memcpy(&indices[i], data + i * 4, 4);
            }
        }
        const std::size_t vertices = indices.empty() ? 0 : *std::max_element(indices.begin(), indices.end()) + 1;
        if (layout == Layout::triangles) {
            encoded.resize(meshopt_encodeIndexBufferBound(count, vertices));
            encoded.resize(meshopt_encodeIndexBuffer(encoded.data(), encoded.size(), indices.data(), count));
        } else {
            encoded.resize(meshopt_encodeIndexSequenceBound(count, vertices));
            encoded.resize(meshopt_encodeIndexSequence(encoded.data(), encoded.size(), indices.data(), count));
        }
        mode = layout == Layout::triangles ? "TRIANGLES" : "INDICES";
        break;
    }
    }
    nlohmann::json record = {{"buffer", 0},
                             {"byteOffset", pieces_.size()},
                             {"byteLength", encoded.size()},
                             {"byteStride", stride},
                             {"count", count},
                             {"mode", mode}};
    if (filter)
        record["filter"] = filter;
    pieces_.add_kept(std::move(encoded));

    view.buffer = 1;
    view.byteOffset = fallback_size_;
    fallback_size_ += (view.byteLength + 3) / 4 * 4;
    const int index = append(model_.bufferViews, view);
    records_.emplace_back(index, std::move(record));
    return index;
}

namespace {

std::uint16_t grid_step(float x, double origin, double step)
{
    return static_cast<std::uint16_t>(std::clamp(std::round((x - origin) / step), 0.0, 65535.0));
}

// A tiny triangle moved onto the position grid may turn further than its corners' normals
// allow, and a normal written as bytes turns a little too. A corner that would then face away
// from its triangle gets a vertex of its own with the triangle's normal. False when no corner
// does (copy is left as it was).
bool keep_corners_facing(const PrimitiveArrays &prim, const PositionGrid &grid, PrimitiveArrays &copy)
{
    const VertexStream *normal = prim.stream("NORMAL");
    if (!prim.triangles() || !normal)
        return false;
    const StreamValues &xyz = prim.streams.front().values;
    const auto on_grid = [&](std::uint32_t v, std::size_t k) {
        return static_cast<double>(grid_step(xyz[v * 3 + k], grid.origin[k], grid.step));
    };
    const auto byte_normal = [&](std::uint32_t v, std::size_t k) {
        return static_cast<double>(meshopt_quantizeSnorm(normal->values[v * 3 + k], 8));
    };
    bool changed = false;
    for (std::size_t t = 0; t + 3 <= prim.indices.size(); t += 3) {
        const std::uint32_t a = prim.indices[t], b = prim.indices[t + 1], c = prim.indices[t + 2];
        double e1[3], e2[3];
        for (std::size_t k = 0; k < 3; ++k) {
            e1[k] = on_grid(b, k) - on_grid(a, k);
            e2[k] = on_grid(c, k) - on_grid(a, k);
        }
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (!(length > 0.0))
            continue;
        for (std::size_t corner = 0; corner < 3; ++corner) {
            const std::uint32_t v = prim.indices[t + corner];
            if (byte_normal(v, 0) * n[0] + byte_normal(v, 1) * n[1] + byte_normal(v, 2) * n[2] > 0.0)
                continue;
            if (!changed)
                copy = prim;
            changed = true;
            const auto fresh = static_cast<std::uint32_t>(copy.vertex_count());
            for (VertexStream &stream : copy.streams) {
                const auto dim = ramulon::index_cast<std::size_t>(stream.dim);
                for (std::size_t k = 0; k < dim; ++k) {
                    const float value = stream.values[v * dim + k];
                    stream.values.push_back(value);
                }
                if (stream.attribute == "NORMAL")
                    for (std::size_t k = 0; k < 3; ++k)
                        stream.values[fresh * 3 + k] = static_cast<float>(n[k] / length);
            }
            copy.vertex_point.push_back(copy.vertex_point[v]);
            copy.indices[t + corner] = fresh;
        }
    }
    return changed;
}

} // namespace

tinygltf::Primitive CompressedBuffers::add(const PrimitiveArrays &given, const PositionGrid &grid)
{
    PrimitiveArrays facing;
    const PrimitiveArrays &prim = keep_corners_facing(given, grid, facing) ? facing : given;
    used_ = true;
    tinygltf::Primitive out;
    out.material = prim.material;
    out.mode = prim.mode;
    const std::size_t count = prim.vertex_count();
    auto add_accessor = [&](int view, int component, int type, bool normalized) {
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.componentType = component;
        accessor.count = count;
        accessor.type = type;
        accessor.normalized = normalized;
        return append(model_.accessors, accessor);
    };

    for (const VertexStream &stream : prim.streams) {
        const auto dim = ramulon::index_cast<std::size_t>(stream.dim);
        if (stream.attribute == "POSITION") {
            // x, y, z and a pad: the codec wants strides of whole 4-byte words.
            std::vector<std::uint16_t> q(count * 4, 0);
            for (std::size_t v = 0; v < count; ++v)
                for (std::size_t k = 0; k < 3; ++k)
                    q[v * 4 + k] = grid_step(stream.values[v * 3 + k], grid.origin[k], grid.step);
            const int view = add_view(reinterpret_cast<const unsigned char *>(q.data()), count, 8,
                                      Layout::attributes, TINYGLTF_TARGET_ARRAY_BUFFER);
            const int accessor = add_accessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_VEC3, false);
            position_bounds(count, [&](std::size_t v, std::size_t k) { return q[v * 4 + k]; },
                            model_.accessors.back().minValues, model_.accessors.back().maxValues);
            out.attributes["POSITION"] = accessor;
        } else if (stream.attribute == "NORMAL") {
            std::vector<std::int8_t> q(count * 4, 0);
            for (std::size_t v = 0; v < count; ++v)
                for (std::size_t k = 0; k < 3; ++k)
                    q[v * 4 + k] = static_cast<std::int8_t>(meshopt_quantizeSnorm(stream.values[v * 3 + k], 8));
            const int view = add_view(reinterpret_cast<const unsigned char *>(q.data()), count, 4,
                                      Layout::attributes, TINYGLTF_TARGET_ARRAY_BUFFER);
            out.attributes["NORMAL"] = add_accessor(view, TINYGLTF_COMPONENT_TYPE_BYTE, TINYGLTF_TYPE_VEC3, true);
        } else {
            const int view = add_view(reinterpret_cast<const unsigned char *>(stream.values.data()), count,
                                      dim * 4, Layout::floats, TINYGLTF_TARGET_ARRAY_BUFFER);
            out.attributes[stream.attribute] =
                add_accessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, accessor_type(stream.dim), false);
        }
    }

    const bool shorts = short_indices(count);
    const std::string narrow = shorts ? narrowed_indices(prim.indices) : std::string();
    const unsigned char *index_data = shorts ? reinterpret_cast<const unsigned char *>(narrow.data())
                                             : reinterpret_cast<const unsigned char *>(prim.indices.data());
    const int view = add_view(index_data, prim.indices.size(), shorts ? 2 : 4,
                              prim.triangles() ? Layout::triangles : Layout::indices,
                              TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    tinygltf::Accessor indices;
    indices.bufferView = view;
    indices.componentType = shorts ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    indices.count = prim.indices.size();
    indices.type = TINYGLTF_TYPE_SCALAR;
    out.indices = append(model_.accessors, indices);
    return out;
}

void CompressedBuffers::finish(nlohmann::json &json) const
{
    if (!used_)
        return; // nothing was written: no fallback buffer, no extensions to ask for
    std::vector<const char *> extensions{quantization_extension};
    if (!records_.empty()) {
        for (const auto &[view, record] : records_)
            json["bufferViews"][ramulon::index_cast<std::size_t>(view)]["extensions"][meshopt_extension] = record;
        json["buffers"][1] = {{"byteLength", fallback_size_},
                              {"extensions", {{meshopt_extension, {{"fallback", true}}}}}};
        extensions.insert(extensions.begin(), meshopt_extension);
    }
    for (const char *list : {"extensionsUsed", "extensionsRequired"})
        for (const char *name : extensions) {
            nlohmann::json &names = json[list];
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
}

} // namespace exporter
