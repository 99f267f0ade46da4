#include "export/gltf/compression.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <meshoptimizer.h>

namespace exporter {
namespace {

constexpr const char *meshopt_extension = "EXT_meshopt_compression";
constexpr const char *quantization_extension = "KHR_mesh_quantization";

// Mantissa bits kept of the float attributes: a 2048-pixel texture needs 11, the weights and
// growth vectors of wind shaders far fewer; 16 leaves room for both.
constexpr int float_bits = 16;

void align4(std::vector<unsigned char> &bytes) { bytes.resize((bytes.size() + 3) / 4 * 4, 0); }

template <typename T> std::vector<unsigned char> encode_vertices(const std::vector<T> &data, std::size_t count, std::size_t stride)
{
    std::vector<unsigned char> out(meshopt_encodeVertexBufferBound(count, stride));
    out.resize(meshopt_encodeVertexBuffer(out.data(), out.size(), data.data(), count, stride));
    return out;
}

int accessor_type(int dim)
{
    return dim == 1 ? TINYGLTF_TYPE_SCALAR : dim == 2 ? TINYGLTF_TYPE_VEC2 : dim == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4;
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

int CompressedBuffers::add_view(const std::vector<unsigned char> &encoded, std::size_t count,
                                std::size_t stride, const char *mode, const char *filter, int target)
{
    std::vector<unsigned char> &bytes = model_.buffers[0].data;
    nlohmann::json record = {{"buffer", 0},
                             {"byteOffset", bytes.size()},
                             {"byteLength", encoded.size()},
                             {"byteStride", stride},
                             {"count", count},
                             {"mode", mode}};
    if (filter)
        record["filter"] = filter;
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    align4(bytes);

    tinygltf::BufferView view;
    view.buffer = 1;
    view.byteOffset = fallback_size_;
    view.byteLength = count * stride;
    if (target == TINYGLTF_TARGET_ARRAY_BUFFER)
        view.byteStride = stride;
    view.target = target;
    fallback_size_ += (view.byteLength + 3) / 4 * 4;
    model_.bufferViews.push_back(view);
    const int index = static_cast<int>(model_.bufferViews.size()) - 1;
    records_.emplace_back(index, std::move(record));
    return index;
}

tinygltf::Primitive CompressedBuffers::add(const PrimitiveArrays &prim, const PositionGrid &grid)
{
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
        model_.accessors.push_back(accessor);
        return static_cast<int>(model_.accessors.size()) - 1;
    };

    for (const VertexStream &stream : prim.streams) {
        const auto dim = static_cast<std::size_t>(stream.dim);
        if (stream.attribute == "POSITION") {
            // x, y, z and a pad: the codec wants strides of whole 4-byte words.
            std::vector<std::uint16_t> q(count * 4, 0);
            std::vector<double> low(3, 65535.0), high(3, 0.0);
            for (std::size_t v = 0; v < count; ++v)
                for (std::size_t k = 0; k < 3; ++k) {
                    const double steps = std::round((stream.values[v * 3 + k] - grid.origin[k]) / grid.step);
                    const auto value = static_cast<std::uint16_t>(std::clamp(steps, 0.0, 65535.0));
                    q[v * 4 + k] = value;
                    low[k] = std::min(low[k], double(value));
                    high[k] = std::max(high[k], double(value));
                }
            const int view = add_view(encode_vertices(q, count, 8), count, 8, "ATTRIBUTES", nullptr,
                                      TINYGLTF_TARGET_ARRAY_BUFFER);
            const int accessor = add_accessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_VEC3, false);
            model_.accessors.back().minValues = low;
            model_.accessors.back().maxValues = high;
            out.attributes["POSITION"] = accessor;
        } else if (stream.attribute == "NORMAL") {
            std::vector<std::int8_t> q(count * 4, 0);
            for (std::size_t v = 0; v < count; ++v)
                for (std::size_t k = 0; k < 3; ++k)
                    q[v * 4 + k] = static_cast<std::int8_t>(meshopt_quantizeSnorm(stream.values[v * 3 + k], 8));
            const int view = add_view(encode_vertices(q, count, 4), count, 4, "ATTRIBUTES", nullptr,
                                      TINYGLTF_TARGET_ARRAY_BUFFER);
            out.attributes["NORMAL"] = add_accessor(view, TINYGLTF_COMPONENT_TYPE_BYTE, TINYGLTF_TYPE_VEC3, true);
        } else {
            // Floats stay floats for the reader; the exponential filter rounds their mantissas so
            // that the codec finds the repetition.
            std::vector<std::uint32_t> filtered(count * dim);
            if (!filtered.empty())
                meshopt_encodeFilterExp(filtered.data(), count * dim, 4, float_bits, stream.values.data());
            const int view = add_view(encode_vertices(filtered, count, dim * 4), count, dim * 4, "ATTRIBUTES",
                                      "EXPONENTIAL", TINYGLTF_TARGET_ARRAY_BUFFER);
            out.attributes[stream.attribute] =
                add_accessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, accessor_type(stream.dim), false);
        }
    }

    const bool shorts = count <= 65535;
    const std::size_t size = shorts ? 2 : 4;
    std::vector<unsigned char> encoded;
    const char *mode = "TRIANGLES";
    if (prim.triangles()) {
        encoded.resize(meshopt_encodeIndexBufferBound(prim.indices.size(), count));
        encoded.resize(meshopt_encodeIndexBuffer(encoded.data(), encoded.size(), prim.indices.data(), prim.indices.size()));
    } else {
        mode = "INDICES";
        encoded.resize(meshopt_encodeIndexSequenceBound(prim.indices.size(), count));
        encoded.resize(meshopt_encodeIndexSequence(encoded.data(), encoded.size(), prim.indices.data(), prim.indices.size()));
    }
    const int view = add_view(encoded, prim.indices.size(), size, mode, nullptr, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    tinygltf::Accessor indices;
    indices.bufferView = view;
    indices.componentType = shorts ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    indices.count = prim.indices.size();
    indices.type = TINYGLTF_TYPE_SCALAR;
    model_.accessors.push_back(indices);
    out.indices = static_cast<int>(model_.accessors.size()) - 1;
    return out;
}

void CompressedBuffers::finish(nlohmann::json &json) const
{
    if (records_.empty())
        return; // nothing was compressed: no fallback buffer, no extensions to ask for
    for (const auto &[view, record] : records_)
        json["bufferViews"][static_cast<std::size_t>(view)]["extensions"][meshopt_extension] = record;
    json["buffers"][1] = {{"byteLength", fallback_size_},
                          {"extensions", {{meshopt_extension, {{"fallback", true}}}}}};
    for (const char *list : {"extensionsUsed", "extensionsRequired"})
        for (const char *name : {meshopt_extension, quantization_extension}) {
            nlohmann::json &names = json[list];
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
}

} // namespace exporter
