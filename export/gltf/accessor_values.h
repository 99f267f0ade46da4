// The small conversions every glTF primitive's accessors go through, plain or compact.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/index_cast.h"
#include "export/gltf/tiny_gltf_setup.h"

namespace exporter {

// Appends an entry to one of the model's lists; its index, as glTF refers to it.
template <typename T> int append(std::vector<T> &list, T entry)
{
    list.push_back(std::move(entry));
    return ramulon::index_cast<int>(list.size() - 1);
}

// The accessor type of an attribute of dim components (1 to 4).
inline int accessor_type(int dim)
{
    return dim == 1 ? TINYGLTF_TYPE_SCALAR : dim == 2 ? TINYGLTF_TYPE_VEC2 : dim == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4;
}

// Whether a primitive of vertex_count vertices stores 16-bit indices: while they cannot reach
// 65535, which glTF keeps for primitive restart.
inline bool short_indices(std::size_t vertex_count) { return vertex_count <= 65535; }

// The indices as the 16-bit values a short index view holds, in the file's byte order.
inline std::string narrowed_indices(const std::vector<std::uint32_t> &indices)
{
    std::string bytes(indices.size() * sizeof(std::uint16_t), '\0');
    char *out = bytes.data();
    const std::uint32_t *in = indices.data();
    for (std::size_t i = 0, count = indices.size(); i < count; ++i) {
        const auto narrow = static_cast<std::uint16_t>(in[i]);
        std::memcpy(out + i * sizeof narrow, &narrow, sizeof narrow);
    }
    return bytes;
}

// The smallest and largest of each of the three coordinates of count points, as glTF wants them
// on every POSITION accessor; point(v, k) is the stored value. Zeros for no points.
template <typename Point> void position_bounds(std::size_t count, Point point, std::vector<double> &low, std::vector<double> &high)
{
    low.assign(3, 0.0);
    high.assign(3, 0.0);
    if (count == 0)
        return;
    // Compared as stored: widening to double keeps every order (and a NaN first stays the bound),
    // so the bounds are the same and only the three of each are widened.
    using Value = std::decay_t<decltype(point(0, 0))>;
    Value least[3], most[3];
    for (std::size_t k = 0; k < 3; ++k)
        least[k] = most[k] = point(0, k);
    for (std::size_t v = 1; v < count; ++v)
        for (std::size_t k = 0; k < 3; ++k) {
            const Value x = point(v, k);
            least[k] = x < least[k] ? x : least[k];
            most[k] = x > most[k] ? x : most[k];
        }
    for (std::size_t k = 0; k < 3; ++k) {
        low[k] = static_cast<double>(least[k]);
        high[k] = static_cast<double>(most[k]);
    }
}

} // namespace exporter
