// leaf_typ: the template of one leaf shape, laid out in the leaf's own frame. The stem sits at
// the origin, the leaf runs along +Z, X goes across it and +Y is the side its edges rise to.
// The leaf writer makes one template per leaf copy, bends and places its points, then writes it.
#pragma once

#include "includes/xyz.h"

namespace ramulon {

class leaf_typ {
public:
    int num_points = 0;
    int num_polys = 0;
    float uv[6][2] = {}; // texture pair of each point
    Cxyz *points = nullptr; // num_points entries of the template's own store; null when empty
    int *polys = nullptr;   // point indices polygon after polygon, in the same way
    double atlas_column = 0.0; // source of the leaf's column in the leaf atlas (its spin)
    bool quads = true;         // four points per polygon when set, else three
    double atlas_row = 0.0;    // source of the leaf's row in the leaf atlas (its age)

    leaf_typ() = default;
    leaf_typ(const leaf_typ &) = delete;
    leaf_typ &operator=(const leaf_typ &) = delete;
    virtual ~leaf_typ();

    // Fills the template for shape 0 "one poly" .. 4 "rhombus2" with length a and width b.
    // Any other shape leaves it empty. A later call replaces the arrays but never sets the
    // quads flag back.
    void make(int shape, double a, double b);

    int points_per_poly() const { return quads ? 4 : 3; }

    // The most any shape takes: six points ("two polys") and twelve indices ("rhombus2", four
    // triangles).
    static constexpr int max_points = 6;
    static constexpr int max_indices = 12;

private:
    // A template is made for every leaf copy of the tree: its few points live in the template
    // itself rather than on the heap. points and polys point here, so a template never moves.
    Cxyz point_store_[max_points];
    int index_store_[max_indices];
};

} // namespace ramulon
