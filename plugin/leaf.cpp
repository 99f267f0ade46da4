#include "leaf.h"

#include <cassert>
#include <initializer_list>

namespace ramulon {

namespace {

struct shape_point {
    double x, y, z;
    float u, v;
};

} // namespace

leaf_typ::~leaf_typ() = default;

// Copies one shape's points, texture pairs and polygon indices into the template's stores.
static void fill(leaf_typ &leaf, Cxyz *point_store, int *index_store,
                 std::initializer_list<shape_point> pts, int count, std::initializer_list<int> indices)
{
    assert(pts.size() <= leaf_typ::max_points && indices.size() <= leaf_typ::max_indices);
    leaf.num_points = static_cast<int>(pts.size());
    leaf.num_polys = count;
    leaf.points = point_store;
    leaf.polys = index_store;
    int i = 0;
    for (const shape_point &p : pts) {
        leaf.points[i] = Cxyz(p.x, p.y, p.z);
        leaf.uv[i][0] = p.u;
        leaf.uv[i][1] = p.v;
        i++;
    }
    i = 0;
    for (int k : indices)
        leaf.polys[i++] = k;
}

void leaf_typ::make(int shape, double a, double b)
{
    points = nullptr;
    polys = nullptr;
    num_points = 0;
    num_polys = 0;

    switch (shape) {
    case 0: // "one poly": a flat quad
        fill(*this, point_store_, index_store_,
             {{-b / 2, 0.0, 0.0, 0.0f, 0.0f},
              {-b / 2, 0.0, a, 0.0f, 1.0f},
              {b / 2, 0.0, a, 1.0f, 1.0f},
              {b / 2, 0.0, 0.0, 1.0f, 0.0f}},
             1, {0, 1, 2, 3});
        break;
    case 1: // "two polys": folded along the mid-rib, the edges raised by b/4
        fill(*this, point_store_, index_store_,
             {{0.0, 0.0, 0.0, 0.5f, 0.0f},
              {-b / 2, b / 4, 0.0, 0.0f, 0.0f},
              {-b / 2, b / 4, a, 0.0f, 1.0f},
              {0.0, 0.0, a, 0.5f, 1.0f},
              {b / 2, b / 4, a, 1.0f, 1.0f},
              {b / 2, b / 4, 0.0, 1.0f, 0.0f}},
             2, {0, 1, 2, 3, 3, 4, 5, 0});
        break;
    case 2: // "rhombus": two triangles, the side corners raised by b/5
        fill(*this, point_store_, index_store_,
             {{0.0, 0.0, 0.0, 0.5f, 0.0f},
              {-b / 2, b / 5, a / 2, 0.0f, 0.5f},
              {0.0, 0.0, a, 0.5f, 1.0f},
              {b / 2, b / 5, a / 2, 1.0f, 0.5f}},
             2, {0, 1, 2, 2, 3, 0});
        quads = false;
        break;
    case 3: // "three polys": side corners lowered at two thirds of the length, a blunt tip
        fill(*this, point_store_, index_store_,
             {{0.0, 0.0, 0.0, 0.5f, 0.0f},
              {-b / 2, -b / 4, (2 * a) / 3, 0.0f, 0.75f},
              {-b / 4, 0.0, a, 0.25f, 1.0f},
              {b / 4, 0.0, a, 0.75f, 1.0f},
              {b / 2, -b / 4, (2 * a) / 3, 1.0f, 0.75f}},
             3, {0, 1, 2, 2, 3, 0, 0, 3, 4});
        quads = false;
        break;
    case 4: // "rhombus2": four triangles round a centre point, the tip lowered by b/3
        fill(*this, point_store_, index_store_,
             {{0.0, 0.0, 0.0, 0.5f, 0.0f},
              {-b / 2, b / 5, a / 2, 0.0f, 0.5f},
              {0.0, -b / 3, a, 0.5f, 1.0f},
              {b / 2, b / 5, a / 2, 1.0f, 0.5f},
              {0.0, 0.0, a / 2, 0.5f, 0.5f}},
             4, {0, 1, 4, 1, 2, 4, 2, 3, 4, 0, 4, 3});
        quads = false;
        break;
    default: // no such shape: the template stays empty
        break;
    }
}

} // namespace ramulon
