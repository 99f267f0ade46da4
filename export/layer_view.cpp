#include "layer_view.h"

#include <cmath>
#include <map>

namespace exporter {

Colour sketch_colour(const std::string &tag)
{
    if (tag == "Brown")
        return {0.50, 0.33, 0.16};
    if (tag == "Blue")
        return {0.20, 0.30, 0.85};
    if (tag == "Green")
        return {0.22, 0.55, 0.17};
    return {0.80, 0.80, 0.80};
}

Materials collect_materials(const host::Layer &layer)
{
    Materials out;
    std::map<std::string, int> index_of;
    // Per material: tag value -> (count, order of first appearance).
    std::vector<std::map<std::string, std::pair<int, int>>> tag_counts;
    out.of_polygon.reserve(layer.polygons.size());
    for (const host::Polygon &poly : layer.polygons) {
        const std::string &name = poly.surface ? *poly.surface : default_material;
        auto found = index_of.find(name);
        if (found == index_of.end()) {
            found = index_of.emplace(name, static_cast<int>(out.list.size())).first;
            Material material;
            material.name = name;
            material.leaf = name == leaf_surface;
            out.list.push_back(material);
            tag_counts.emplace_back();
        }
        out.of_polygon.push_back(found->second);
        const auto tag = poly.tags.find(ID_COLR);
        if (tag != poly.tags.end()) {
            auto &counts = tag_counts[static_cast<std::size_t>(found->second)];
            auto entry = counts.try_emplace(tag->second, 0, static_cast<int>(counts.size())).first;
            entry->second.first += 1;
        }
    }
    for (std::size_t m = 0; m < out.list.size(); ++m) {
        int best_count = 0, best_order = 0;
        for (const auto &[tag, count] : tag_counts[m])
            if (count.first > best_count || (count.first == best_count && count.second < best_order)) {
                best_count = count.first;
                best_order = count.second;
                out.list[m].colour_tag = tag;
            }
        out.list[m].colour = sketch_colour(out.list[m].colour_tag);
    }
    return out;
}

std::string check_layer(const host::Layer &layer)
{
    const auto count = static_cast<long long>(layer.points.size());
    for (std::size_t i = 0; i < layer.polygons.size(); ++i)
        for (int index : layer.polygons[i].points)
            if (index < 0 || index >= count)
                return "polygon " + std::to_string(i) + " refers to point " + std::to_string(index) +
                       ", which the layer does not hold";
    return {};
}

const std::string &texture_map(const Material &material)
{
    return material.leaf ? leaf_texture : branch_texture;
}

MapView::MapView(const host::Layer &layer, HostID type, const std::string &name)
{
    const host::MapKey key(type, name);
    if (auto it = layer.vmaps.find(key); it != layer.vmaps.end() && !it->second.values.empty())
        vmap_ = &it->second;
    if (auto it = layer.vpmaps.find(key); it != layer.vpmaps.end() && !it->second.values.empty())
        vpmap_ = &it->second;
}

const std::vector<float> *MapView::at(int point, int polygon) const
{
    if (vpmap_) {
        auto it = vpmap_->values.find({point, polygon});
        if (it != vpmap_->values.end())
            return &it->second;
    }
    if (vmap_) {
        auto it = vmap_->values.find(point);
        if (it != vmap_->values.end())
            return &it->second;
    }
    return nullptr;
}

void copy_value(const std::vector<float> *value, const float *fallback, int dim, float *out)
{
    const int have = value ? static_cast<int>(value->size()) : 0;
    for (int i = 0; i < dim; ++i)
        out[i] = i < have ? (*value)[static_cast<std::size_t>(i)] : fallback[i];
}

std::vector<std::array<float, 3>> point_normals(const host::Layer &layer)
{
    std::vector<host::Vec3> sum(layer.points.size());
    for (const host::Polygon &poly : layer.polygons) {
        const std::size_t count = poly.points.size();
        if (count < 3)
            continue;
        // The Newell vector: normal to the polygon, twice its area long.
        host::Vec3 n;
        for (std::size_t i = 0; i < count; ++i) {
            const host::Vec3 &p = layer.points[static_cast<std::size_t>(poly.points[i])];
            const host::Vec3 &q = layer.points[static_cast<std::size_t>(poly.points[(i + 1) % count])];
            n.x += (p.y - q.y) * (p.z + q.z);
            n.y += (p.z - q.z) * (p.x + q.x);
            n.z += (p.x - q.x) * (p.y + q.y);
        }
        for (int index : poly.points) {
            host::Vec3 &s = sum[static_cast<std::size_t>(index)];
            s.x += n.x;
            s.y += n.y;
            s.z += n.z;
        }
    }
    std::vector<std::array<float, 3>> normals(sum.size(), {0.0f, 1.0f, 0.0f});
    for (std::size_t i = 0; i < sum.size(); ++i) {
        const host::Vec3 &s = sum[i];
        const double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
        // Too short to give a direction a float can hold: keep the upward default.
        if (length > 1e-30 && std::isfinite(length))
            normals[i] = {static_cast<float>(s.x / length), static_cast<float>(s.y / length),
                          static_cast<float>(s.z / length)};
    }
    return normals;
}

} // namespace exporter
