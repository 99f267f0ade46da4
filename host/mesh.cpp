#include "mesh.h"

#include <cmath>

namespace host {

int Layer::add_point(Vec3 p)
{
    points.push_back(p);
    return static_cast<int>(points.size()) - 1;
}

int Layer::add_polygon(HostID type, std::vector<int> pts, std::optional<std::string> surface)
{
    Polygon poly;
    poly.type = type;
    poly.surface = std::move(surface);
    poly.points = std::move(pts);
    polygons.push_back(std::move(poly));
    return static_cast<int>(polygons.size()) - 1;
}

void Layer::clear()
{
    points.clear();
    polygons.clear();
    vmaps.clear();
    vpmaps.clear();
}

Vec3 newell_normal(const Layer &layer, const Polygon &polygon)
{
    Vec3 n;
    const std::size_t count = polygon.points.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 &p = layer.points[static_cast<std::size_t>(polygon.points[i])];
        const Vec3 &q = layer.points[static_cast<std::size_t>(polygon.points[(i + 1) % count])];
        n.x += (p.y - q.y) * (p.z + q.z);
        n.y += (p.z - q.z) * (p.x + q.x);
        n.z += (p.x - q.x) * (p.y + q.y);
    }
    // Unit length the way the plug-in's own vectors are made unit, so both sides agree bit
    // for bit.
    const double len = std::sqrt(n.z * n.z + (n.y * n.y + n.x * n.x));
    if (len == 0.0)
        return Vec3{};
    return Vec3{n.x / len, n.y / len, n.z / len};
}

std::string id_text(HostID id)
{
    std::string s(4, ' ');
    s[0] = static_cast<char>((id >> 24) & 0xFF);
    s[1] = static_cast<char>((id >> 16) & 0xFF);
    s[2] = static_cast<char>((id >> 8) & 0xFF);
    s[3] = static_cast<char>(id & 0xFF);
    return s;
}

} // namespace host
