#include "mesh.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <utility>

#include <link.h>

#include "common/index_cast.h"

namespace host {

namespace {

// The segment of a loaded object that no one can write holding address, or {0, 0}: a name
// the code holds as a literal keeps its bytes while the object stays loaded.
std::pair<std::uintptr_t, std::uintptr_t> read_only_segment(std::uintptr_t address)
{
    struct Search {
        std::uintptr_t address, start = 0, size = 0;
    } search{address};
    dl_iterate_phdr(
        [](dl_phdr_info *info, std::size_t, void *data) {
            auto &s = *static_cast<Search *>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr) &segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0)
                    continue;
                const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                if (s.address >= start && s.address - start < segment.p_memsz) {
                    s.start = start;
                    s.size = segment.p_memsz;
                    return 1;
                }
            }
            return 0;
        },
        &search);
    return {search.start, search.size};
}

} // namespace

void module_unloaded() { unloaded_modules.fetch_add(1, std::memory_order_acq_rel); }

bool NameTable::fixed_text(const char *name, unsigned unloads)
{
    const auto address = reinterpret_cast<std::uintptr_t>(name);
    if (segment_.size > 0 && segment_.unloads == unloads && address - segment_.start < segment_.size)
        return true;
    const auto [start, size] = read_only_segment(address);
    if (size == 0)
        return false;
    segment_ = Segment{start, size, unloads};
    return true;
}

int NameTable::intern(std::string_view name)
{
    if (auto it = index_.find(name); it != index_.end())
        return it->second;
    const int index = static_cast<int>(names_.size());
    names_.emplace_back(name);
    index_.emplace(names_.back(), index);
    return index;
}

int NameTable::intern_unseen(const char *name)
{
    Seen &seen = seen_[seen_slot(name)];
    const unsigned unloads = unloaded_modules.load(std::memory_order_acquire);
    if (seen.text == name) {
        if (seen.fixed && seen.unloads == unloads)
            return seen.index;
        // One pass over the text (the plug-in may have written another name into the same
        // buffer, or the module that held it is gone).
        if (std::strcmp(names_[static_cast<std::size_t>(seen.index)].c_str(), name) == 0) {
            if (seen.unloads != unloads)
                seen = Seen{name, seen.index, fixed_text(name, unloads), unloads};
            return seen.index;
        }
    }
    const int index = intern(std::string_view(name));
    seen = Seen{name, index, fixed_text(name, unloads), unloads};
    return index;
}

bool NameTable::fixed(const char *name) const
{
    const Seen &seen = seen_[seen_slot(name)];
    return seen.text == name && seen.fixed &&
           seen.unloads == unloaded_modules.load(std::memory_order_acquire);
}

int NameTable::find(std::string_view name) const
{
    const auto it = index_.find(name);
    return it == index_.end() ? -1 : it->second;
}

void NameTable::clear()
{
    names_.clear();
    index_.clear();
    std::fill(std::begin(seen_), std::end(seen_), Seen{});
    segment_ = Segment{};
}

namespace {

// The per-polygon chain head, the array grown to reach the polygon.
[[gnu::always_inline]] inline int &chain_head(FlatArray<int> &heads, int polygon)
{
    const auto p = static_cast<std::size_t>(polygon);
    if (p == heads.size()) // the polygon just added, as nearly always
        heads.push_back(-1);
    else if (p > heads.size())
        heads.resize(p + 1, -1);
    return heads[p];
}

} // namespace

int Layer::add_polygon(HostID type, const std::vector<int> &pts, std::optional<std::string> surface)
{
    return add_polygon(type, pts.data(), pts.size(), surface ? names.intern(*surface) : -1);
}

void VertexMap::store_elsewhere(std::size_t layer_points, std::size_t p, int dim, const float *value)
{
    const auto width = static_cast<std::size_t>(stride);
    if (p >= stored.size()) {
        // Sized to the layer: the plug-in stores a point's values right after adding it.
        const std::size_t size = std::max(p + 1, layer_points);
        stored.resize(size, 0);
        values.resize(size * width, 0.0f);
    }
    std::copy_n(value, dim, values.data() + p * width);
    if (stored[p] == 0)
        count += 1;
    stored[p] = static_cast<std::uint8_t>(dim + 1);
}

void Layer::set_tag_elsewhere(int polygon, HostID type, int v)
{
    assert(polygon >= 0 && ramulon::index_cast<std::size_t>(polygon) < polygon_count() && "a tag on no polygon");
    assert(v >= 0 && ramulon::index_cast<std::size_t>(v) < names.size() && "a tag value the layer does not name");
    int &head = chain_head(first_tag, polygon);
    for (int t = head; t >= 0; t = tags[ramulon::index_cast<std::size_t>(t)].next)
        if (tags[ramulon::index_cast<std::size_t>(t)].type == type) {
            tags[ramulon::index_cast<std::size_t>(t)].value = v;
            return;
        }
    tags.push_back(TagEntry{type, v, head});
    head = ramulon::index_cast<int>(tags.size() - 1);
}

int Layer::tag_value(int polygon, HostID type) const
{
    if (polygon < 0 || ramulon::index_cast<std::size_t>(polygon) >= first_tag.size())
        return -1;
    for (int t = first_tag[ramulon::index_cast<std::size_t>(polygon)]; t >= 0;
         t = tags[ramulon::index_cast<std::size_t>(t)].next)
        if (tags[ramulon::index_cast<std::size_t>(t)].type == type)
            return tags[ramulon::index_cast<std::size_t>(t)].value;
    return -1;
}

const std::string *Layer::tag(int polygon, HostID type) const
{
    const int value = tag_value(polygon, type);
    return value < 0 ? nullptr : &names[value];
}

bool Layer::set_vmap(HostID type, int n, int point, int dim, const float *value)
{
    if (dim > max_map_dim || n < 0)
        return false;
    const auto name = static_cast<std::size_t>(n);
    if (name >= vmap_of_name.size())
        vmap_of_name.resize(name + 1, -1);
    int &hint = vmap_of_name[name];
    if (hint < 0 || vmaps[static_cast<std::size_t>(hint)].type != type) {
        const auto found = std::find_if(vmaps.begin(), vmaps.end(),
                                        [&](const VertexMap &m) { return m.type == type && m.name == n; });
        hint = static_cast<int>(found - vmaps.begin());
        if (found == vmaps.end()) {
            const VertexMap *const before = vmaps.data();
            vmaps.push_back(new_map(type, n, dim));
            if (vmaps.data() != before)
                recent_.forget(); // the maps it points at have moved
        }
    }
    VertexMap *map = &vmaps[static_cast<std::size_t>(hint)];
    if (map->count == 0)
        map->dim = dim;
    if (dim > map->stride) {
        // A longer value than any before: widen every point's slot, keeping what it holds.
        const auto old = static_cast<std::size_t>(map->stride), wide = static_cast<std::size_t>(dim);
        FlatArray<float> widened;
        widened.resize(map->stored.size() * wide, 0.0f);
        for (std::size_t p = 0; p < map->stored.size(); ++p)
            std::copy_n(map->values.begin() + p * old, old, widened.begin() + p * wide);
        map->values = std::move(widened);
        map->stride = dim;
    }
    map->store(points.size(), point, dim, value);
    return true;
}

bool Layer::set_vmap_by_text(HostID type, const char *name, int point, int dim, const float *value)
{
    const unsigned unloads = unloaded_modules.load(std::memory_order_acquire);
    RecentMap &recent = recent_[recent_slot(name)];
    const int n = names.intern(name);
    if (!set_vmap(type, n, point, dim, value))
        return false;
    if (names.fixed(name))
        recent = RecentMap{name, type, unloads, &vmaps[static_cast<std::size_t>(vmap_of_name[static_cast<std::size_t>(n)])]};
    return true;
}

bool Layer::set_vpmap(HostID type, int n, int point, int polygon, int dim, const float *value)
{
    if (dim > max_map_dim)
        return false;
    auto map = std::find_if(vpmaps.begin(), vpmaps.end(),
                            [&](const PolyVertexMap &m) { return m.type == type && m.name == n; });
    if (map == vpmaps.end()) {
        vpmaps.push_back(PolyVertexMap{type, n, dim, 0});
        map = vpmaps.end() - 1;
    }
    if (map->count == 0)
        map->dim = dim;
    const int m = static_cast<int>(map - vpmaps.begin());
    int &head = chain_head(first_corner_value, polygon);
    for (int e = head; e >= 0; e = corner_values[static_cast<std::size_t>(e)].next) {
        CornerValue &entry = corner_values[static_cast<std::size_t>(e)];
        if (entry.map != m || entry.point != point)
            continue;
        if (dim > entry.dim) {
            entry.offset = corner_floats.size();
            corner_floats.resize(corner_floats.size() + static_cast<std::size_t>(dim));
        }
        std::copy_n(value, dim, corner_floats.begin() + entry.offset);
        entry.dim = dim;
        return true;
    }
    corner_values.push_back(CornerValue{point, m, head, dim, corner_floats.size()});
    append_few(corner_floats, value, static_cast<std::size_t>(dim));
    head = static_cast<int>(corner_values.size()) - 1;
    map->count += 1;
    return true;
}

const VertexMap *Layer::find_vmap(HostID type, std::string_view name) const
{
    const int n = names.find(name);
    for (const VertexMap &m : vmaps)
        if (m.type == type && m.name == n)
            return &m;
    return nullptr;
}

int Layer::find_vpmap(HostID type, std::string_view name) const
{
    const int n = names.find(name);
    for (std::size_t i = 0; i < vpmaps.size(); ++i)
        if (vpmaps[i].type == type && vpmaps[i].name == n)
            return static_cast<int>(i);
    return -1;
}

std::optional<std::span<const float>> Layer::corner_value(int map, int point, int polygon) const
{
    for (int e = first_corner_value[static_cast<std::size_t>(polygon)]; e >= 0;
         e = corner_values[static_cast<std::size_t>(e)].next) {
        const CornerValue &entry = corner_values[static_cast<std::size_t>(e)];
        if (entry.map == map && entry.point == point)
            return std::span<const float>(corner_floats.data() + entry.offset,
                                          static_cast<std::size_t>(entry.dim));
    }
    return std::nullopt;
}

void Layer::clear()
{
    points.clear();
    polygon_type.clear();
    polygon_surface.clear();
    corner_offset.clear();
    corner_offset.push_back(0);
    corners.clear();
    names.clear();
    tags.clear();
    first_tag.clear();
    for (auto map = vmaps.rbegin(); map != vmaps.rend(); ++map) {
        map->values.clear();
        map->stored.clear();
        spare_maps_.last_first.push_back({std::move(map->values), std::move(map->stored)});
    }
    vmaps.clear();
    vmap_of_name.clear();
    vpmaps.clear();
    corner_values.clear();
    corner_floats.clear();
    first_corner_value.clear();
    recent_.forget();
}

VertexMap Layer::new_map(HostID type, int name, int dim)
{
    VertexMap map{type, name, dim, dim, {}, {}, 0};
    if (!spare_maps_.last_first.empty()) {
        map.values = std::move(spare_maps_.last_first.back().values);
        map.stored = std::move(spare_maps_.last_first.back().stored);
        spare_maps_.last_first.pop_back();
    }
    return map;
}

void Layer::check_consistent() const
{
#ifndef NDEBUG
    using ramulon::index_cast;
    const std::size_t polygons = polygon_count();
    const auto names_held = names.size();
    const auto named = [&](int n) { return n >= 0 && index_cast<std::size_t>(n) < names_held; };
    const auto chained = [](int next, std::size_t size) { return next >= -1 && (next < 0 || index_cast<std::size_t>(next) < size); };

    // Polygons: one offset more than polygons, from 0 up to the corners held.
    assert(polygon_surface.size() == polygons && "a surface for every polygon");
    assert(corner_offset.size() == polygons + 1 && corner_offset[0] == 0 && corner_offset.back() == corners.size() &&
           "corner offsets that frame the corner array");
    assert(std::is_sorted(corner_offset.begin(), corner_offset.end()) && "corner offsets that never go back");
    for (const int corner : corners)
        assert(corner >= 0 && index_cast<std::size_t>(corner) < points.size() && "a corner that is a point");
    for (const int surface : polygon_surface)
        assert((surface == -1 || named(surface)) && "a surface the layer names");

    // Tags: chains within the table, values among the names.
    assert(first_tag.size() <= polygons && "tags on polygons only");
    for (const int head : first_tag)
        assert(chained(head, tags.size()));
    for (const TagEntry &tag : tags)
        assert(chained(tag.next, tags.size()) && named(tag.value) && "a tag chained and named");

    // Vertex maps: stride floats per point stored, no value longer than the stride.
    for (const VertexMap &map : vmaps) {
        assert(named(map.name) && map.dim <= map.stride && map.stride <= max_map_dim && "a map named, of its stride");
        assert(map.values.size() == map.stored.size() * index_cast<std::size_t>(map.stride) && "stride floats per point");
        std::size_t holding = 0;
        for (const std::uint8_t stored : map.stored) {
            assert(stored <= map.stride + 1 && "a value no longer than its map's stride");
            holding += stored != 0;
        }
        assert(holding == map.count && "a map's count of points holding a value");
    }

    // Polygon-specific values: of a known map, at a point, their floats within the table.
    assert(first_corner_value.size() <= polygons && "corner values on polygons only");
    for (const int head : first_corner_value)
        assert(chained(head, corner_values.size()));
    for (const CornerValue &value : corner_values) {
        assert(value.map >= 0 && index_cast<std::size_t>(value.map) < vpmaps.size() && "a corner value of a known map");
        assert(value.point >= 0 && index_cast<std::size_t>(value.point) < points.size() && "a corner value at a point");
        assert(chained(value.next, corner_values.size()));
        assert(value.offset + index_cast<std::size_t>(value.dim) <= corner_floats.size() && "floats within the table");
    }
#endif
}

Layer::Bytes Layer::bytes() const
{
    Bytes b;
    b.points = points.bytes();
    b.polygons = polygon_type.bytes() + polygon_surface.bytes() + corner_offset.bytes() + corners.bytes();
    b.tags = tags.bytes() + first_tag.bytes();
    for (const VertexMap &map : vmaps)
        b.maps += map.values.bytes() + map.stored.bytes();
    b.corner_values = corner_values.bytes() + corner_floats.bytes() + first_corner_value.bytes();
    return b;
}

Layer::Counts Layer::counts() const
{
    return {points.size(), polygon_type.size(), corners.size(), tags.size(), corner_values.size(),
            corner_floats.size()};
}

void Layer::reserve(const Counts &c)
{
    points.reserve(c.points);
    polygon_type.reserve(c.polygons);
    polygon_surface.reserve(c.polygons);
    corner_offset.reserve(c.polygons + 1);
    corners.reserve(c.corners);
    tags.reserve(c.tags);
    first_tag.reserve(c.polygons);
    corner_values.reserve(c.corner_values);
    corner_floats.reserve(c.corner_floats);
    first_corner_value.reserve(c.polygons);
}

void Layer::shrink_to_fit()
{
    spare_maps_.last_first.clear();
    points.shrink_to_fit();
    polygon_type.shrink_to_fit();
    polygon_surface.shrink_to_fit();
    corner_offset.shrink_to_fit();
    corners.shrink_to_fit();
    tags.shrink_to_fit();
    first_tag.shrink_to_fit();
    for (VertexMap &map : vmaps) {
        map.values.shrink_to_fit();
        map.stored.shrink_to_fit();
    }
    corner_values.shrink_to_fit();
    corner_floats.shrink_to_fit();
    first_corner_value.shrink_to_fit();
}

Vec3 newell_normal(const Layer &layer, std::span<const int> polygon)
{
    Vec3 n;
    const std::size_t count = polygon.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 &p = layer.points[ramulon::index_cast<std::size_t>(polygon[i])];
        const Vec3 &q = layer.points[ramulon::index_cast<std::size_t>(polygon[(i + 1) % count])];
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
