// The stand-in modeller's mesh: a foreground layer the tool writes into and a background layer
// holding the crown envelope it reads. The edit operation (host/edit_op.h) is the only way a
// plug-in reaches it.
//
// A layer keeps its geometry as flat arrays, because a leafy tree is hundreds of thousands of
// points each carrying half a dozen map values: points as three doubles each; polygons as one
// corner array with an offset per polygon; the few names a build uses (surfaces, tag values, map
// names) held once and referred to by number; each vertex map one dense float array over the
// layer's points with a byte per point telling whether, and how many, values were stored; and
// every polygon-specific value in one shared table chained per polygon. Storing a value does not
// allocate once the arrays have grown.
#pragma once

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/index_cast.h"
#include "flat_array.h"
#include "plugin_api.h"

namespace host {

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

// How many modules have been unloaded: a name pointer found while it was smaller may now point
// at another module's text.
inline std::atomic<unsigned> unloaded_modules{0};

// Strings a layer refers to, each held once and known by its number from 0.
class NameTable {
public:
    int intern(std::string_view name);
    // The same for a plug-in's text: its few names come back as the same pointers call after
    // call. A pointer seen before into a module's read-only text (a name written in its code)
    // is taken at its word until a module is unloaded; any other is checked against its name
    // instead of hashed.
    int intern(const char *name)
    {
        const int index = known(name);
        return index >= 0 ? index : intern_unseen(name);
    }
    // intern's answer for a name known by its pointer into read-only text, without interning
    // anything: -1 for any other pointer (null too).
    int known(const char *name) const
    {
        const Seen &seen = seen_[seen_slot(name)];
        return seen.text == name && seen.fixed && seen.unloads == unloaded_modules.load(std::memory_order_acquire)
                   ? seen.index
                   : -1;
    }
    int find(std::string_view name) const; // -1 when the table does not hold it
    // Whether name, just interned by its pointer, lies in a loaded module's read-only text:
    // the same pointer then names the same map until a module is unloaded.
    bool fixed(const char *name) const;
    const std::string &operator[](int index) const { return names_[static_cast<std::size_t>(index)]; }
    std::size_t size() const { return names_.size(); }
    void clear();

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    struct Seen {
        const char *text = nullptr;
        int index = 0;
        bool fixed = false;      // text lies in read-only memory of a loaded object
        unsigned unloads = 0;    // modules unloaded when fixed was found
    };
    static constexpr std::size_t seen_slots = 16;
    static std::size_t seen_slot(const char *name) { return (reinterpret_cast<std::uintptr_t>(name) >> 3) % seen_slots; }
    // The last read-only segment a name was found in: a module's names lie side by side.
    struct Segment {
        std::uintptr_t start = 0, size = 0;
        unsigned unloads = 0;
    };
    bool fixed_text(const char *name, unsigned unloads);
    // intern of a pointer not known to name fixed text since the last unload.
    int intern_unseen(const char *name);

    std::deque<std::string> names_; // a deque: a name's text stays put while names are added
    std::unordered_map<std::string, int, Hash, std::equal_to<>> index_;
    Seen seen_[seen_slots]{};
    Segment segment_{};
};

// Called once a module is unloaded: names a layer knows by a pointer into its text are
// checked by their text again.
void module_unloaded();

// One polygon as the layer holds it.
struct PolygonRef {
    HostID type = ID_FACE;           // FACE, PTCH, CURV, ...
    const std::string *surface;      // null: the host's current surface
    std::span<const int> points;     // indices into the layer's points, in order
};

// The most values one map entry holds; a call with more is refused.
constexpr int max_map_dim = 254;

// Continuous values of one map (e.g. TXUV "RM_branch"), one value per point, dense.
struct VertexMap {
    HostID type = 0;
    int name = -1;   // in the layer's names
    int dim = 0;     // the dimension of the first value stored
    int stride = 0;  // floats held per point: the largest dimension stored so far
    FlatArray<float> values;        // stride floats per point
    FlatArray<std::uint8_t> stored; // per point: 0 no value, else 1 + its dimension
    std::size_t count = 0;            // points holding a value

    // The value stored for a point; nullopt when it has none.
    std::optional<std::span<const float>> at(int point) const
    {
        const auto p = static_cast<std::size_t>(point);
        if (p >= stored.size() || stored[p] == 0)
            return std::nullopt;
        return std::span<const float>(values.data() + p * static_cast<std::size_t>(stride),
                                      static_cast<std::size_t>(stored[p] - 1));
    }

    // Stores one point's value, dim no more than the stride, in a layer of layer_points points.
    void store(std::size_t layer_points, int point, int dim, const float *value)
    {
        const auto p = static_cast<std::size_t>(point);
        if (p + 1 != layer_points || !append_last(layer_points, dim, value))
            store_elsewhere(layer_points, p, dim, value);
    }
    // store's common case, nearly every map value of a build: a value of the layer's last point
    // (the one just added, layer_points - 1) as long as the slots, in a map holding values up
    // to the point before, with room in both arrays. False, with nothing stored, otherwise.
    // Without a call: the edit operation's pntVMap stores here.
    [[gnu::always_inline]] bool append_last(std::size_t layer_points, int dim, const float *value)
    {
        if (dim != stride || stored.size() + 1 != layer_points || !stored.has_room(1) ||
            !values.has_room(static_cast<std::size_t>(dim))) [[unlikely]]
            return false;
        float *slot = values.extend(static_cast<std::size_t>(dim));
        // A value is a weight, a texture coordinate or a vector: stores of their own beat a
        // loop (or a call) to copy a few floats.
        switch (dim) {
        case 3:
            slot[2] = value[2];
            [[fallthrough]];
        case 2:
            slot[1] = value[1];
            [[fallthrough]];
        case 1:
            slot[0] = value[0];
            [[fallthrough]];
        case 0:
            break;
        default:
            for (int i = 0; i < dim; ++i)
                slot[i] = value[i];
        }
        count += 1;
        stored.push_back(static_cast<std::uint8_t>(dim + 1));
        return true;
    }
    // store for a point that is not the one just added.
    void store_elsewhere(std::size_t layer_points, std::size_t p, int dim, const float *value);
};

// The identity of a polygon-specific map; its values live in the layer's corner table.
struct PolyVertexMap {
    HostID type = 0;
    int name = -1;
    int dim = 0;            // the dimension of the first value stored
    std::size_t count = 0;  // (point, polygon) pairs holding a value
};

// One polygon-specific value: of map `map` (index into vpmaps) at `point` of `polygon`.
struct CornerValue {
    int point = 0;
    int map = 0;
    int next = -1; // the polygon's next entry, -1 at the end
    int dim = 0;
    std::size_t offset = 0; // into corner_floats
};

// A polygon tag: (type, value) chained per polygon.
struct TagEntry {
    HostID type = 0;
    int value = -1; // in the layer's names
    int next = -1;
};

// A polygon's few corners, a corner's few floats: stores of their own cost less than a call to
// copy a handful of values.
template <typename T>
[[gnu::always_inline]] inline void append_few(FlatArray<T> &array, const T *values, std::size_t n)
{
    if (n > 4) {
        array.append(values, n);
        return;
    }
    T *out = array.extend(n);
    switch (n) {
    case 4:
        out[3] = values[3];
        [[fallthrough]];
    case 3:
        out[2] = values[2];
        [[fallthrough]];
    case 2:
        out[1] = values[1];
        [[fallthrough]];
    case 1:
        out[0] = values[0];
        [[fallthrough]];
    default:
        break;
    }
}

struct Layer {
    FlatArray<Vec3> points;

    FlatArray<HostID> polygon_type;
    FlatArray<int> polygon_surface;            // in names, -1 none
    FlatArray<std::size_t> corner_offset{0};   // polygon i: corners[offset[i], offset[i + 1])
    FlatArray<int> corners;

    NameTable names;

    FlatArray<TagEntry> tags;
    FlatArray<int> first_tag; // per polygon, -1 none; may be shorter than the polygon list

    std::vector<VertexMap> vmaps;
    // Per name: the map that name last stored a value in (-1 none). The plug-in stores a point's
    // maps one after another, so each call finds its map without going through the list.
    std::vector<int> vmap_of_name;
    std::vector<PolyVertexMap> vpmaps;
    FlatArray<CornerValue> corner_values;
    FlatArray<float> corner_floats;
    FlatArray<int> first_corner_value; // per polygon, -1 none; may be shorter

    // Each returns the new item's index: points.size() - 1, polygon_count() - 1. A polygon's
    // corners are points of the layer and its surface -1 or a name (checked in debug builds);
    // growth that finds no memory throws std::bad_alloc, after which the layer is only fit to be
    // cleared (as a failed build's is).
    int add_point(Vec3 p)
    {
        points.push_back(p);
        return ramulon::index_cast<int>(points.size() - 1);
    }
    // Gives back the room the arrays grew beyond what they hold, once a tree is complete.
    void shrink_to_fit();
    // How many entries the geometry's arrays hold: room for a tree like this one is made at
    // once with reserve, so that the page's next edit, which grows about the same tree, fills
    // its arrays without growing them (the map values' arrays still grow as they come).
    struct Counts {
        std::size_t points = 0, polygons = 0, corners = 0, tags = 0, corner_values = 0, corner_floats = 0;
    };
    Counts counts() const;
    void reserve(const Counts &counts);
    int add_polygon(HostID type, const int *pts, std::size_t n, int surface)
    {
#ifndef NDEBUG
        assert(surface >= -1 && surface < ramulon::index_cast<int>(names.size()) && "a surface the layer does not name");
        for (std::size_t i = 0; i < n; ++i)
            assert(pts[i] >= 0 && ramulon::index_cast<std::size_t>(pts[i]) < points.size() &&
                   "a corner that is no point of the layer");
#endif
        append_few(corners, pts, n);
        return close_polygon(type, surface);
    }
    // A polygon written in place, for a caller that finds its corners one by one: n slots for
    // them past the corners held, then close_polygon makes them the next polygon's, or
    // drop_open_corners gives them up (no other polygon may be added in between).
    int *open_corners(std::size_t n) { return corners.extend(n); }
    void drop_open_corners() { corners.resize(corner_offset.back()); }
    int close_polygon(HostID type, int surface)
    {
        assert(surface >= -1 && surface < ramulon::index_cast<int>(names.size()) && "a surface the layer does not name");
        corner_offset.push_back(corners.size());
        polygon_type.push_back(type);
        polygon_surface.push_back(surface);
        return ramulon::index_cast<int>(polygon_type.size() - 1);
    }
    int add_polygon(HostID type, const std::vector<int> &pts,
                    std::optional<std::string> surface = std::nullopt);

    std::size_t polygon_count() const { return polygon_type.size(); }
    std::span<const int> polygon_points(std::size_t i) const
    {
        return {corners.data() + corner_offset[i], corner_offset[i + 1] - corner_offset[i]};
    }
    PolygonRef polygon(std::size_t i) const
    {
        const int s = polygon_surface[i];
        return {polygon_type[i], s < 0 ? nullptr : &names[s], polygon_points(i)};
    }

    // Sets (or replaces) a polygon's tag of one type; value is a number in names.
    void set_tag(int polygon, HostID type, int value)
    {
        // The first tag of the polygon just added, as nearly every tag: its chain starts here.
        if (static_cast<std::size_t>(polygon) == first_tag.size()) [[likely]]
            set_first_tag_of_next(type, value);
        else
            set_tag_elsewhere(polygon, type, value);
    }
    // set_tag on the polygon after the last one holding tags (or a chain head), which holds none.
    void set_first_tag_of_next(HostID type, int value)
    {
        assert(first_tag.size() < polygon_count() && "a tag on no polygon");
        assert(value >= 0 && static_cast<std::size_t>(value) < names.size() && "a tag value the layer does not name");
        tags.push_back(TagEntry{type, value, -1});
        first_tag.push_back(ramulon::index_cast<int>(tags.size() - 1));
    }
    void set_tag(int polygon, HostID type, std::string_view value)
    {
        set_tag(polygon, type, names.intern(value));
    }
    const std::string *tag(int polygon, HostID type) const;
    int tag_value(int polygon, HostID type) const; // in names, -1 when the polygon has none

    // Stores a map value; false (nothing stored) when dim is over max_map_dim, the only
    // failure, which the edit operation answers to the plug-in. name is a number in names,
    // point a point of the layer.
    bool set_vmap(HostID type, int name, int point, int dim, const float *value);
    bool set_vpmap(HostID type, int name, int point, int polygon, int dim, const float *value);
    // The same with the name as a plug-in passes it: the plug-in writes each point's few maps
    // one after another with the same name pointers, so a map written recently is found by its
    // pointer, without interning the name again.
    bool set_vmap(HostID type, const char *name, int point, int dim, const float *value)
    {
        const RecentMap &recent = recent_[recent_slot(name)];
        if (recent.text == name && recent.type == type &&
            recent.unloads == unloaded_modules.load(std::memory_order_acquire)) {
            VertexMap &map = *recent.map;
            // Neither the map's first value nor a longer one than its slots hold: those take
            // the general path.
            if (map.count > 0 && dim <= map.stride) {
                map.store(points.size(), point, dim, value);
                return true;
            }
        }
        return set_vmap_by_text(type, name, point, dim, value);
    }
    // set_vmap's common case alone: a value of the last point (VertexMap::append_last) in a map
    // written recently through the same name pointer; false, with nothing stored, for every
    // other call. name may be null: no place ever holds a null text.
    [[gnu::always_inline]] bool append_vmap(HostID type, const char *name, int dim, const float *value)
    {
        const RecentMap &recent = recent_[recent_slot(name)];
        // The count is only compared, nothing the unloading thread wrote is read after it: a
        // relaxed load, which leaves the compiler free to keep the sizes it has read already.
        if (recent.text != name || recent.type != type ||
            recent.unloads != unloaded_modules.load(std::memory_order_relaxed))
            return false;
        // A place is taken once its map holds a value, and a map's count never falls: a map's
        // first value, which sets its dim, never comes here.
        assert(recent.map->count > 0 && "a recent map that holds no value");
        return recent.map->append_last(points.size(), dim, value);
    }
    bool set_vmap(HostID type, std::string_view name, int point, int dim, const float *value)
    {
        return set_vmap(type, names.intern(name), point, dim, value);
    }
    bool set_vpmap(HostID type, std::string_view name, int point, int polygon, int dim,
                   const float *value)
    {
        return set_vpmap(type, names.intern(name), point, polygon, dim, value);
    }

    // The map of that type and name, or null.
    const VertexMap *find_vmap(HostID type, std::string_view name) const;
    int find_vpmap(HostID type, std::string_view name) const; // index into vpmaps, or -1
    // Whether the polygon holds any polygon-specific value.
    bool has_corner_values(std::size_t polygon) const
    {
        return polygon < first_corner_value.size() && first_corner_value[polygon] >= 0;
    }
    // The polygon-specific value of map index `map` at (point, polygon); nullopt when none.
    std::optional<std::span<const float>> vpmap_at(int map, int point, int polygon) const
    {
        if (polygon < 0 || !has_corner_values(static_cast<std::size_t>(polygon)))
            return std::nullopt;
        return corner_value(map, point, polygon);
    }

    // Empties the layer for the next tree, which is mostly one like it (the page's next edit):
    // every array keeps its room and the pages under it, the maps' arrays too, so the new tree
    // is written where the old one lay instead of into pages the kernel must hand out and clear
    // again. shrink_to_fit gives back what the new tree does not use; `layer = Layer{}` gives
    // back everything.
    void clear();
    bool empty() const { return points.empty() && polygon_type.empty(); }

    // The bytes the layer's geometry, tags and map values take, room grown ahead included; the
    // names and the few per-map records are left out.
    struct Bytes {
        std::size_t points = 0, polygons = 0, tags = 0, maps = 0, corner_values = 0;
        std::size_t total() const { return points + polygons + tags + maps + corner_values; }
    };
    Bytes bytes() const;

    // What every mutation keeps, checked in debug builds (release builds check nothing): one
    // offset per polygon and one more, from 0 to the corners held and never decreasing; every
    // corner a point; a surface per polygon, -1 or a name; tag and corner-value chains within
    // their tables, on polygons only; every vertex map `stride` floats per stored point, no value
    // longer than the stride, its count the points that hold one. Whoever fills a layer calls it
    // once at the end (a build, a crown read), not per value: it walks every array.
    void check_consistent() const;

private:
    // A map recently written through a name pointer that lies in a module's read-only text.
    struct RecentMap {
        const char *text = nullptr;
        HostID type = 0;
        // Modules unloaded when it was found. An empty place holds a count the unloads never
        // reach, so that no call matches it, not even one passing a null name.
        unsigned unloads = ~0u;
        VertexMap *map = nullptr; // in vmaps
    };
    // A plug-in's map names are string literals, laid side by side in its text: names at least
    // 8 bytes apart and within 512 bytes of each other take places of their own, so the maps a
    // point's values go to in turn do not push each other out (each would then be found by its
    // text, point after point).
    static constexpr std::size_t recent_slots = 64;
    static std::size_t recent_slot(const char *name)
    {
        return (reinterpret_cast<std::uintptr_t>(name) >> 3) % recent_slots;
    }
    // The places point into the layer's own map list: a copy of the layer starts with none (a
    // moved layer keeps them, its list moves with it), and so does the layer once the list
    // moves to make room for another map.
    struct RecentMaps {
        RecentMap place[recent_slots]{};
        RecentMaps() = default;
        RecentMaps(const RecentMaps &) {}
        RecentMaps(RecentMaps &&) = default;
        RecentMaps &operator=(const RecentMaps &)
        {
            forget();
            return *this;
        }
        RecentMaps &operator=(RecentMaps &&) = default;
        ~RecentMaps() = default;
        RecentMap &operator[](std::size_t slot) { return place[slot]; }
        const RecentMap &operator[](std::size_t slot) const { return place[slot]; }
        void forget()
        {
            for (RecentMap &p : place)
                p = RecentMap{};
        }
    };
    RecentMaps recent_;

    // set_tag on a polygon before the last, or one holding tags already.
    void set_tag_elsewhere(int polygon, HostID type, int value);

    // The arrays of the maps a cleared layer held, handed to its new maps in the order the old
    // ones were made (the plug-in makes its maps in the same order tree after tree). A copy of
    // the layer holds none: they are room, not content.
    struct MapArrays {
        FlatArray<float> values;
        FlatArray<std::uint8_t> stored;
    };
    struct SpareMaps {
        std::vector<MapArrays> last_first; // the next map's arrays at the back
        SpareMaps() = default;
        SpareMaps(const SpareMaps &) {}
        SpareMaps(SpareMaps &&) = default;
        SpareMaps &operator=(const SpareMaps &) { return *this; }
        SpareMaps &operator=(SpareMaps &&) = default;
    } spare_maps_;
    VertexMap new_map(HostID type, int name, int dim);

    // set_vmap by a name pointer not written through recently: found by its text, and
    // remembered when it lies in a module's text.
    bool set_vmap_by_text(HostID type, const char *name, int point, int dim, const float *value);

    // vpmap_at along the chain of a polygon that holds values.
    std::optional<std::span<const float>> corner_value(int map, int point, int polygon) const;
};

struct Mesh {
    Layer foreground; // layer 1: what a build writes
    Layer background; // layer 2: what a build reads
};

// The Newell normal of a polygon, made unit length; a degenerate polygon gives (0, 0, 0).
Vec3 newell_normal(const Layer &layer, std::span<const int> polygon);

// The four characters of an ID, first character from the most significant byte ("FACE").
std::string id_text(HostID id);

} // namespace host
