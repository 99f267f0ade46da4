// The glTF collector against the plainest reading of what a vertex is: per triangle corner, the
// point, the corner normal and every attribute read off the layer (the polygon-specific value
// first, then the point's own, zeros for what is missing), one vertex per distinct record in the
// order the triangles first use them. The layer mixes what trees hold: seams that repeat a point's
// own value and seams that differ, values shorter than their attribute, points without values,
// a polygon-specific range that changes the wind weights, leaves, lines and points.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "export/gltf/gltf_collect.h"
#include "export/materials/materials.h"
#include "export/mesh/prepared_mesh.h"
#include "export/mesh/vertex_order.h"
#include "support/export_files.h"

namespace ramulon {
namespace {

using Values = std::vector<float>;

void set_vmap(host::Layer &layer, HostID type, const std::string &name, int point, Values v)
{
    layer.set_vmap(type, name, point, static_cast<int>(v.size()), v.data());
}

void set_vpmap(host::Layer &layer, HostID type, const std::string &name, int point, int polygon, Values v)
{
    layer.set_vpmap(type, name, point, polygon, static_cast<int>(v.size()), v.data());
}

// A bent sheet of wood (5 x 4 points, quads and triangles, so that corners crease) with a strip
// of leaves beside it, a skeleton line and a lone point.
host::Layer mixed_layer()
{
    host::Layer layer;
    constexpr int columns = 5, rows = 4;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            layer.add_point({c * 1.0, r * 1.0, (c % 3) * 0.6 + (r == 2 ? 0.4 : 0.0)});
    const auto at = [&](int c, int r) { return r * columns + c; };
    std::vector<int> wood;
    for (int r = 0; r + 1 < rows; ++r)
        for (int c = 0; c + 1 < columns; ++c) {
            if ((r + c) % 3 == 1) {
                wood.push_back(layer.add_polygon(ID_FACE, {at(c, r), at(c + 1, r), at(c + 1, r + 1)}, "RM_trunk"));
                wood.push_back(layer.add_polygon(ID_FACE, {at(c, r), at(c + 1, r + 1), at(c, r + 1)}, "RM_trunk"));
            } else {
                wood.push_back(layer.add_polygon(ID_FACE, {at(c, r), at(c + 1, r), at(c + 1, r + 1), at(c, r + 1)},
                                                 "RM_trunk"));
            }
        }
    for (int f : wood)
        layer.set_tag(f, ID_COLR, "Brown");
    for (int p = 0; p < rows * columns; ++p) {
        const auto fp = static_cast<float>(p);
        if (p % 7 != 3) // some points hold no texture value
            set_vmap(layer, ID_TXUV, "RM_branch", p, {fp * 0.05f, fp * 0.03f});
        if (p % 4 == 0)
            set_vmap(layer, ID_WGHT, "RM_range", p, {fp * 0.1f - 1.0f});
        if (p % 3 != 0)
            set_vmap(layer, ID_RMVT, "RM_vectors", p, {0.0f, fp, -0.0f});
        if (p % 5 == 1)
            set_vmap(layer, ID_RMLD, "RM_density", p, {fp}); // shorter than its two components
    }
    const int quad = wood[0]; // points 0, 1, 6, 5
    const int later = wood[3];
    set_vpmap(layer, ID_TXUV, "RM_branch", 1, quad, {0.05f, 0.03f});  // the point's own value: shared
    set_vpmap(layer, ID_TXUV, "RM_branch", 6, quad, {0.9f, 0.9f});    // another: split
    set_vpmap(layer, ID_TXUV, "RM_branch", 5, quad, {0.5f});          // one component of two
    set_vpmap(layer, ID_WGHT, "RM_range", 0, quad, {0.8f});           // the wind weights follow
    const std::span<const int> corners = layer.polygon_points(static_cast<std::size_t>(later));
    set_vpmap(layer, ID_TXUV, "RM_branch", corners[0], later, {0.9f, 0.9f});
    set_vpmap(layer, ID_TXUV, "RM_branch", 3, later, {0.25f, 0.75f}); // a point without its own value

    // Leaves: two quads sharing an edge, the second holding its own leaf texture there.
    const int leaf0 = layer.add_point({8, 0, 0});
    for (int i = 1; i < 6; ++i)
        layer.add_point({8.0 + (i % 2), (i / 2) * 1.0, 0.1 * i});
    const int a = layer.add_polygon(ID_FACE, {leaf0, leaf0 + 1, leaf0 + 3, leaf0 + 2}, "VF_leaf");
    const int b = layer.add_polygon(ID_FACE, {leaf0 + 2, leaf0 + 3, leaf0 + 5, leaf0 + 4}, "VF_leaf");
    for (int f : {a, b})
        layer.set_tag(f, ID_COLR, "Green");
    for (int i = 0; i < 6; ++i) {
        const auto fi = static_cast<float>(i);
        set_vmap(layer, ID_TXUV, "RM_leaf", leaf0 + i, {fi * 0.1f, fi * 0.2f});
        set_vmap(layer, ID_TXUV, "RM_all_leaves", leaf0 + i, {fi / 6, 0.5f});
        set_vmap(layer, ID_WGHT, "RM_thick", leaf0 + i, {fi * 0.3f});
    }
    set_vpmap(layer, ID_TXUV, "RM_leaf", leaf0 + 2, b, {0.0f, 1.0f});
    set_vpmap(layer, ID_TXUV, "RM_leaf", leaf0 + 3, b, {0.2f, 0.4f}); // the point's own again

    const int s = layer.add_point({0, 5, 0});
    layer.add_polygon(ID_FACE, {s, layer.add_point({0, 6, 0})});
    layer.add_polygon(ID_FACE, {layer.add_point({1, 6, 0})});
    return layer;
}

// The value of a map at one polygon corner as the collector must write it.
Values corner_value(const host::Layer &layer, HostID type, const std::string &name, int dim, bool flip_v, int point,
                    std::size_t polygon)
{
    Values out(static_cast<std::size_t>(dim), 0.0f);
    std::optional<std::span<const float>> value;
    if (const int vp = layer.find_vpmap(type, name); vp >= 0)
        value = layer.vpmap_at(vp, point, static_cast<int>(polygon));
    if (!value)
        if (const host::VertexMap *map = layer.find_vmap(type, name))
            value = map->at(point);
    for (std::size_t i = 0; value && i < out.size() && i < value->size(); ++i)
        out[i] = (*value)[i];
    if (flip_v)
        out[1] = 1.0f - out[1];
    return out;
}

// The record of one corner: every stream of the primitive but POSITION and the wind weights'
// (made of its range and thickness), in the primitive's stream order.
Values corner_record(const exporter::PreparedMesh &mesh, const exporter::PrimitiveArrays &prim, std::size_t polygon,
                     std::size_t corner, const float *normal)
{
    const host::Layer &layer = *mesh.layer;
    const exporter::Material &m = mesh.materials.list[static_cast<std::size_t>(prim.material)];
    const int point = layer.polygon_points(polygon)[corner];
    Values record;
    const auto add = [&](const Values &v) { record.insert(record.end(), v.begin(), v.end()); };
    for (const exporter::VertexStream &s : prim.streams) {
        if (s.attribute == "NORMAL")
            add(Values(normal, normal + 3));
        else if (s.attribute == "TEXCOORD_0")
            add(corner_value(layer, ID_TXUV, exporter::texture_map(m), 2, true, point, polygon));
        else if (s.attribute == "TEXCOORD_1" && m.leaf)
            add(corner_value(layer, ID_TXUV, exporter::atlas_texture, 2, true, point, polygon));
        else if (s.attribute == "TEXCOORD_1") {
            const std::array<float, 2> &uv = mesh.bark.at(polygon, corner);
            add({uv[0], 1.0f - uv[1]});
        } else if (s.attribute == "_RM_RANGE")
            add(corner_value(layer, ID_WGHT, "RM_range", 1, false, point, polygon));
        else if (s.attribute == "_RM_THICK")
            add(corner_value(layer, ID_WGHT, "RM_thick", 1, false, point, polygon));
        else if (s.attribute == "_RM_VECTORS")
            add(corner_value(layer, ID_RMVT, "RM_vectors", 3, false, point, polygon));
        else if (s.attribute == "_RM_DENSITY")
            add(corner_value(layer, ID_RMLD, "RM_density", 2, false, point, polygon));
        else
            EXPECT_TRUE(s.attribute == "POSITION" || s.attribute == "_WIND" || s.attribute == "COLOR_0") << s.attribute;
    }
    return record;
}

std::vector<std::uint32_t> bits(const Values &v)
{
    std::vector<std::uint32_t> out;
    for (float f : v)
        out.push_back(std::bit_cast<std::uint32_t>(f));
    return out;
}

// What the collected primitive must hold, made the plain way and compared bit for bit.
void expect_as_read(const exporter::PreparedMesh &mesh, const exporter::PrimitiveArrays &prim,
                    const std::vector<int> &primitive_of, int k)
{
    const host::Layer &layer = *mesh.layer;
    std::map<std::pair<int, std::vector<std::uint32_t>>, std::uint32_t> vertex_of;
    std::vector<Values> records;
    std::vector<int> points;
    std::vector<std::uint32_t> indices;
    const auto use = [&](std::size_t polygon, std::size_t corner, const float *normal) {
        const int point = layer.polygon_points(polygon)[corner];
        Values record = corner_record(mesh, prim, polygon, corner, normal);
        const auto [it, fresh] =
            vertex_of.try_emplace({point, bits(record)}, static_cast<std::uint32_t>(records.size()));
        if (fresh) {
            records.push_back(std::move(record));
            points.push_back(point);
        }
        indices.push_back(it->second);
    };
    std::vector<exporter::Triangle> triangles;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        if (primitive_of[p] != k)
            continue;
        if (prim.triangles()) {
            exporter::triangulate(layer, p, mesh.normals, triangles);
            for (const exporter::Triangle &t : triangles)
                for (const exporter::TriangleCorner &c : t)
                    use(p, c.corner, c.normal.data());
        } else {
            for (std::size_t c = 0; c < layer.polygon_points(p).size(); ++c)
                use(p, c, nullptr);
        }
    }
    ASSERT_EQ(prim.indices, indices);
    ASSERT_EQ(prim.vertex_point, points);
    for (std::size_t v = 0; v < records.size(); ++v) {
        Values held;
        std::array<float, 2> wind{};
        float range = 0.0f, thick = 0.0f;
        for (const exporter::VertexStream &s : prim.streams) {
            const auto dim = static_cast<std::size_t>(s.dim);
            ASSERT_EQ(s.values.size(), records.size() * dim) << s.attribute;
            const Values value(s.values.begin() + static_cast<long>(v * dim), s.values.begin() + static_cast<long>((v + 1) * dim));
            if (s.attribute == "POSITION") {
                const host::Vec3 &at = layer.points[static_cast<std::size_t>(points[v])];
                EXPECT_EQ(bits(value), bits({static_cast<float>(at.x), static_cast<float>(at.y), static_cast<float>(at.z)}));
            } else if (s.attribute == "_WIND") {
                wind = {value[0], value[1]};
            } else if (s.attribute != "COLOR_0") {
                held.insert(held.end(), value.begin(), value.end());
                if (s.attribute == "_RM_RANGE")
                    range = value[0];
                if (s.attribute == "_RM_THICK")
                    thick = value[0];
            }
        }
        EXPECT_EQ(bits(held), bits(records[v])) << "vertex " << v << " of point " << points[v];
        if (prim.stream("_WIND")) {
            EXPECT_EQ(wind, exporter::wind_weights(range, thick)) << "vertex " << v;
        }
    }
}

// Which primitive each polygon lands in: one per material and kind, in order of appearance.
std::vector<int> primitives_of(const exporter::PreparedMesh &mesh)
{
    const host::Layer &layer = *mesh.layer;
    std::map<std::pair<int, int>, int> index;
    std::vector<int> primitive_of;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::size_t n = layer.polygon_points(p).size();
        const int kind = n == 1 ? 0 : n == 2 ? 1 : 2;
        const auto [it, fresh] = index.try_emplace({mesh.materials.of_polygon[p], kind}, static_cast<int>(index.size()));
        primitive_of.push_back(it->second);
    }
    return primitive_of;
}

TEST(Collector, EveryVertexIsOneDistinctCornerRecordInFirstUseOrder)
{
    const host::Layer layer = mixed_layer();
    for (const bool colours : {false, true}) {
        exporter::ExportOptions options;
        options.textures = exporter::TextureChoice::none;
        options.wind_colours = colours;
        exporter::PreparedMesh mesh;
        ASSERT_EQ(exporter::prepare_mesh(layer, options, exporter::Format::gltf, mesh).message(), "");
        exporter::PrimitiveCollector collector(mesh);
        const std::vector<int> primitive_of = primitives_of(mesh);
        ASSERT_EQ(collector.size(), static_cast<std::size_t>(*std::max_element(primitive_of.begin(), primitive_of.end()) + 1));
        std::size_t split = 0;
        for (std::size_t k = 0; k < collector.size(); ++k) {
            const exporter::PrimitiveArrays prim = collector.collect(k);
            EXPECT_EQ(prim.stream("COLOR_0") != nullptr, colours && prim.stream("_WIND") != nullptr);
            expect_as_read(mesh, prim, primitive_of, static_cast<int>(k));
            std::map<int, int> per_point;
            for (int point : prim.vertex_point)
                split += ++per_point[point] == 2 ? 1 : 0;
        }
        // The layer does split points (seams, creases), so sharing is tested both ways.
        EXPECT_GT(split, 3u);
    }
}


// Every primitive of the layer collected, checked against the plain reading; and every vertex
// made is used by an index (the writer's vertex order counts on it).
void expect_collected_as_read(const host::Layer &layer)
{
    exporter::ExportOptions options;
    options.textures = exporter::TextureChoice::none; // the plain reading makes no tangents
    exporter::PreparedMesh mesh;
    ASSERT_EQ(exporter::prepare_mesh(layer, options, exporter::Format::gltf, mesh).message(), "");
    const std::vector<int> primitive_of = primitives_of(mesh);
    exporter::PrimitiveCollector collector(mesh);
    for (std::size_t k = 0; k < collector.size(); ++k) {
        const exporter::PrimitiveArrays prim = collector.collect(k);
        expect_as_read(mesh, prim, primitive_of, static_cast<int>(k));
        std::vector<char> used(prim.vertex_count(), 0);
        for (const std::uint32_t index : prim.indices)
            used[index] = 1;
        EXPECT_EQ(std::count(used.begin(), used.end(), 0), 0) << "primitive " << k;
    }
}

// Polygons whose triangles all keep the corner normals are made straight from their fan; those
// with a corner leaning away from a triangle are cut first. Both, side by side in one primitive,
// with seams on either kind: a quad cut from its second corner, a saddle whose corners take
// their halves' normals, a pentagon and a polygon of more corners than the collector keeps on
// the stack.
TEST(Collector, FansAndCutPolygonsGiveTheSameVerticesAsTheirTriangles)
{
    host::Layer layer;
    const auto polygon = [&](std::vector<host::Vec3> points) {
        std::vector<int> corners;
        for (const host::Vec3 &p : points)
            corners.push_back(layer.add_point(p));
        const int f = layer.add_polygon(ID_FACE, corners, "RM_trunk");
        layer.set_tag(f, ID_COLR, "Brown");
        for (const int c : corners)
            set_vmap(layer, ID_TXUV, "RM_branch", c, {static_cast<float>(c) * 0.1f, static_cast<float>(c) * 0.07f});
        return f;
    };
    // A flat dart named from the corner after its dent: cut along the diagonal from corner 1.
    const int dart = polygon({{0.0, 0.0, 0.0}, {0.5, 0.0, 0.5}, {2.0, 0.0, 0.0}, {0.0, 0.0, 2.0}});
    const int saddle = polygon({{0, 0, 0}, {0, 10, 1}, {1, 0, 1}, {1, 10, 0}});
    const int pentagon = polygon({{3, 0, 0}, {4, 0, 0}, {4.5, 0, 1}, {3.5, 0, 2}, {2.5, 0, 1}});
    std::vector<host::Vec3> round;
    for (int i = 0; i < 11; ++i)
        round.push_back({6.0 + std::cos(i * 0.5712), 0.0, std::sin(i * 0.5712)});
    const int many = polygon(round);
    for (const int f : {dart, saddle, many}) {
        const int first = layer.polygon_points(static_cast<std::size_t>(f))[0];
        const int third = layer.polygon_points(static_cast<std::size_t>(f))[2];
        set_vpmap(layer, ID_TXUV, "RM_branch", first, f, {0.9f, 0.25f});
        set_vpmap(layer, ID_TXUV, "RM_branch", third, f, {0.5f});
    }

    const exporter::CornerNormals normals = exporter::corner_normals(layer, exporter::collect_materials(layer), 60.0);
    EXPECT_EQ(normals.cut_of(static_cast<std::size_t>(dart)), exporter::CornerNormals::from_second);
    EXPECT_NE(normals.cut_of(static_cast<std::size_t>(saddle)) & exporter::CornerNormals::leans, 0);
    EXPECT_EQ(normals.cut_of(static_cast<std::size_t>(pentagon)), 0);
    EXPECT_EQ(normals.cut_of(static_cast<std::size_t>(many)), 0);
    expect_collected_as_read(layer);
}

// The maps a primitive's points all hold in full, hold at none of them, or hold in part: the last
// point without a value (beyond the end of the map's stored values), one value shorter than its
// attribute, and a map held only by points of another primitive.
TEST(Collector, MapsHeldByAllSomeOrNoneOfAPrimitivesPointsReadAsThePlainWay)
{
    host::Layer layer;
    constexpr int columns = 6;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < columns; ++c)
            layer.add_point({c * 1.0, r * 1.0, (c % 2) * 0.3});
    for (int c = 0; c + 1 < columns; ++c) {
        const int f = layer.add_polygon(ID_FACE, {c, c + 1, columns + c + 1, columns + c}, "RM_trunk");
        layer.set_tag(f, ID_COLR, "Brown");
    }
    const int leaf = layer.add_point({9, 0, 0});
    layer.add_point({10, 0, 0});
    layer.add_point({10, 1, 0});
    const int f = layer.add_polygon(ID_FACE, {leaf, leaf + 1, leaf + 2}, "VF_leaf");
    layer.set_tag(f, ID_COLR, "Green");
    const int last = 2 * columns - 1;
    for (int p = 0; p < 2 * columns; ++p) {
        const auto fp = static_cast<float>(p);
        set_vmap(layer, ID_TXUV, "RM_branch", p, {fp * 0.1f, 1.0f - fp * 0.05f}); // every point
        if (p != last)
            set_vmap(layer, ID_WGHT, "RM_range", p, {fp * 0.2f - 1.0f}); // all but the last
        set_vmap(layer, ID_RMLD, "RM_density", p, p == 4 ? Values{fp} : Values{fp, 2.0f}); // one short
    }
    for (int p = leaf; p < leaf + 3; ++p) {
        set_vmap(layer, ID_RMVT, "RM_vectors", p, {1.0f, static_cast<float>(p), -0.0f}); // the leaf's alone
        set_vmap(layer, ID_TXUV, "RM_leaf", p, {0.25f, 0.5f});
    }
    expect_collected_as_read(layer);
}

// The writer reorders a primitive's vertices before the values that do not tell vertices apart
// are filled in: those must land where the reordering would have moved them. The triangles are
// turned back to front first, so that the new order is not the collected one.
TEST(Collector, ValuesFilledAfterTheVertexOrderAreTheCollectedValuesReordered)
{
    const host::Layer layer = mixed_layer();
    exporter::ExportOptions options;
    options.textures = exporter::TextureChoice::builtin; // bark coordinates and their tangents
    options.wind_colours = true;
    exporter::PreparedMesh mesh;
    ASSERT_EQ(exporter::prepare_mesh(layer, options, exporter::Format::gltf, mesh).message(), "");
    exporter::PrimitiveCollector collector(mesh);
    const auto back_to_front = [](exporter::PrimitiveArrays &prim) {
        const std::size_t step = prim.triangles() ? 3 : 1;
        std::vector<std::uint32_t> turned;
        for (std::size_t i = prim.indices.size(); i >= step; i -= step)
            turned.insert(turned.end(), prim.indices.begin() + static_cast<long>(i - step),
                          prim.indices.begin() + static_cast<long>(i));
        prim.indices = std::move(turned);
    };
    bool tangents = false, moved = false;
    for (std::size_t k = 0; k < collector.size(); ++k) {
        exporter::PrimitiveArrays whole = collector.collect(k);
        const std::vector<int> collected_points = whole.vertex_point;
        back_to_front(whole);
        exporter::optimise_vertex_order(whole);
        exporter::PrimitiveArrays found = collector.find_vertices(k);
        collector.make_tangents(k, found); // in the order the triangles were found
        back_to_front(found);
        exporter::optimise_vertex_order(found);
        collector.fill(k, found);
        EXPECT_EQ(found.indices, whole.indices);
        EXPECT_EQ(found.vertex_point, whole.vertex_point);
        ASSERT_EQ(found.streams.size(), whole.streams.size());
        for (std::size_t i = 0; i < whole.streams.size(); ++i) {
            const exporter::VertexStream &a = found.streams[i], &b = whole.streams[i];
            EXPECT_EQ(a.attribute, b.attribute);
            EXPECT_EQ(a.dim, b.dim) << b.attribute;
            EXPECT_EQ(bits(Values(a.values.begin(), a.values.end())), bits(Values(b.values.begin(), b.values.end())))
                << "primitive " << k << " " << b.attribute;
        }
        tangents = tangents || whole.stream("TANGENT") != nullptr;
        moved = moved || whole.vertex_point != collected_points;
    }
    EXPECT_TRUE(tangents);
    EXPECT_TRUE(moved);
}

// The writer fills a primitive one stream at a time and lets each go once written: the wind
// weights come before the range and thickness they are made of, and no stream may read one
// already let go.
TEST(Collector, StreamsFilledOneAtATimeAndLetGoAreTheWholeFill)
{
    const host::Layer layer = mixed_layer();
    exporter::ExportOptions options;
    options.textures = exporter::TextureChoice::builtin;
    options.wind_colours = true;
    exporter::PreparedMesh mesh;
    ASSERT_EQ(exporter::prepare_mesh(layer, options, exporter::Format::gltf, mesh).message(), "");
    exporter::PrimitiveCollector collector(mesh);
    bool wind = false;
    for (std::size_t k = 0; k < collector.size(); ++k) {
        exporter::PrimitiveArrays whole = collector.find_vertices(k);
        exporter::optimise_vertex_order(whole, exporter::UnusedVertices::none,
                                        [&](exporter::PrimitiveArrays &found) { collector.make_tangents(k, found); });
        exporter::PrimitiveArrays streamed = whole;
        collector.fill(k, whole);
        for (std::size_t i = 0; i < streamed.streams.size(); ++i) {
            collector.fill_stream(k, i, streamed);
            const exporter::StreamValues values = std::move(streamed.streams[i].values);
            streamed.streams[i].values = {};
            EXPECT_EQ(bits(Values(values.begin(), values.end())),
                      bits(Values(whole.streams[i].values.begin(), whole.streams[i].values.end())))
                << "primitive " << k << " " << whole.streams[i].attribute;
        }
        wind = wind || whole.stream("_WIND") != nullptr;
    }
    EXPECT_TRUE(wind);
}

// Where the bark has a normal map, a woody primitive's tangents are made of its positions once
// its cache order is found and before it is taken, as the writer makes them; the positions are
// read off the points for them, and POSITION is filled only after the vertex order, as the
// writer fills each stream. Every
// stream is the collected one in the final order, and every vertex's position its own point's:
// on the sheet of wood and on a real tree, whose tubes the cache order does rearrange.
TEST(Collector, PositionsTheTangentsWereMadeOfAreFilledAgainInTheFinalOrder)
{
    const host::Layer sheet = mixed_layer();
    host::Layer tree;
    std::string error;
    ASSERT_TRUE(build_real_tree({"render_type=1"}, tree, error)) << error;
    bool tangents = false, moved = false;
    for (const host::Layer *layer : {&sheet, static_cast<const host::Layer *>(&tree)}) {
        exporter::ExportOptions options;
        options.textures = exporter::TextureChoice::builtin;
        exporter::PreparedMesh mesh;
        ASSERT_EQ(exporter::prepare_mesh(*layer, options, exporter::Format::gltf, mesh).message(), "");
        exporter::PrimitiveCollector collector(mesh);
        for (std::size_t k = 0; k < collector.size(); ++k) {
            exporter::PrimitiveArrays whole = collector.collect(k);
            const std::vector<std::uint32_t> first_order = whole.indices;
            exporter::optimise_vertex_order(whole, exporter::UnusedVertices::none);
            exporter::PrimitiveArrays prim = collector.find_vertices(k);
            std::vector<std::uint32_t> handed;
            exporter::optimise_vertex_order(prim, exporter::UnusedVertices::none, [&](exporter::PrimitiveArrays &found) {
                handed = found.indices;
                collector.make_tangents(k, found);
                EXPECT_TRUE(found.streams[0].values.empty()) << "primitive " << k;
            });
            // The tangents are summed over the triangles as they were found.
            EXPECT_EQ(handed, first_order) << "primitive " << k;
            for (std::size_t i = 0; i < prim.streams.size(); ++i)
                collector.fill_stream(k, i, prim);
            EXPECT_EQ(prim.indices, whole.indices);
            ASSERT_EQ(prim.streams.size(), whole.streams.size()) << "primitive " << k;
            for (std::size_t i = 0; i < whole.streams.size(); ++i)
                EXPECT_EQ(bits(Values(prim.streams[i].values.begin(), prim.streams[i].values.end())),
                          bits(Values(whole.streams[i].values.begin(), whole.streams[i].values.end())))
                    << "primitive " << k << " " << whole.streams[i].attribute;
            const exporter::VertexStream *position = prim.stream("POSITION");
            ASSERT_NE(position, nullptr);
            ASSERT_EQ(position->values.size(), prim.vertex_count() * 3) << "primitive " << k;
            for (std::size_t v = 0; v < prim.vertex_count(); ++v) {
                const host::Vec3 &p = layer->points[static_cast<std::size_t>(prim.vertex_point[v])];
                EXPECT_EQ(position->values[v * 3], static_cast<float>(p.x)) << k << " " << v;
                EXPECT_EQ(position->values[v * 3 + 1], static_cast<float>(p.y)) << k << " " << v;
                EXPECT_EQ(position->values[v * 3 + 2], static_cast<float>(p.z)) << k << " " << v;
            }
            const bool made = prim.stream("TANGENT") != nullptr;
            tangents = tangents || made;
            moved = moved || (made && whole.indices != first_order);
        }
    }
    EXPECT_TRUE(tangents);
    EXPECT_TRUE(moved); // a primitive with tangents took a new order after they were made
}

// The collector marks each polygon's primitive in a byte; a layer of more surfaces than a byte
// can number asks the rest of their surface and kind. 300 surfaces, each with two triangles far
// apart in the layer: every primitive holds its own two and no other.
TEST(Collector, PrimitivesPastWhatAByteNumbersHoldTheirOwnPolygons)
{
    constexpr int surfaces = 300;
    host::Layer layer;
    for (int round = 0; round < 2; ++round)
        for (int s = 0; s < surfaces; ++s) {
            const int first = static_cast<int>(layer.points.size());
            layer.add_point({s * 1.0, round * 2.0, 0.0});
            layer.add_point({s * 1.0 + 0.5, round * 2.0, 0.0});
            layer.add_point({s * 1.0, round * 2.0 + 1.0, 0.0});
            // Appended, not "S" + to_string: GCC 12 at -O3 warns falsely on that string sum.
            std::string surface = "S";
            surface += std::to_string(s);
            layer.add_polygon(ID_FACE, {first, first + 1, first + 2}, surface);
        }
    exporter::ExportOptions options;
    options.textures = exporter::TextureChoice::none;
    exporter::PreparedMesh mesh;
    ASSERT_EQ(exporter::prepare_mesh(layer, options, exporter::Format::gltf, mesh).message(), "");
    exporter::PrimitiveCollector collector(mesh);
    ASSERT_EQ(collector.size(), static_cast<std::size_t>(surfaces));
    for (std::size_t k = 0; k < collector.size(); ++k) {
        const exporter::PrimitiveArrays prim = collector.collect(k);
        const int s = static_cast<int>(k);
        const std::vector<int> expected{s * 3, s * 3 + 1, s * 3 + 2, (surfaces + s) * 3, (surfaces + s) * 3 + 1,
                                        (surfaces + s) * 3 + 2};
        EXPECT_EQ(prim.vertex_point, expected) << "primitive " << k;
        EXPECT_EQ(prim.triangle_count(), 2u) << "primitive " << k;
    }
}

} // namespace
} // namespace ramulon
