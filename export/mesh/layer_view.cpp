#include "export/mesh/layer_view.h"

#include <cmath>

namespace exporter {

std::string check_layer(const host::Layer &layer)
{
    const auto count = static_cast<long long>(layer.points.size());
    for (std::size_t i = 0; i < layer.polygon_count(); ++i)
        for (int index : layer.polygon_points(i))
            if (index < 0 || index >= count)
                return "polygon " + std::to_string(i) + " refers to point " + std::to_string(index) +
                       ", which the layer does not hold";
    return {};
}

MapView::MapView(const host::Layer &layer, HostID type, const std::string &name) : layer_(&layer)
{
    if (const host::VertexMap *map = layer.find_vmap(type, name); map && map->count > 0) {
        vmap_ = map;
        own_ = {map->stored.data(), map->stored.size(), map->values.data(), static_cast<std::size_t>(map->stride)};
    }
    if (const int map = layer.find_vpmap(type, name);
        map >= 0 && layer.vpmaps[static_cast<std::size_t>(map)].count > 0)
        vpmap_ = map;
}

bool MapView::present() const { return vmap_ || vpmap_ >= 0; }

} // namespace exporter
