// Spatial look-ups over the grown skeleton, so that a dense crown grows in time proportional to
// its branch count rather than its square. Every look-up returns exactly the node a walk over
// all chains would return: the grid only narrows the nodes tested, each candidate still passes
// the walk's own distance and angle tests, and ties resolve by (chain, node) order.
#pragma once

#include <cstdint>
#include <vector>

#include "branch.h"
#include "includes/xyz.h"
#include "st_tree.h"

namespace ramulon {

// A uniform grid of cells over a box; positions outside the box fall into its border cells,
// so no position is ever lost, only tested along with more neighbours.
template <typename Entry> class cell_grid {
public:
    // Sets up about target_cells cells over the box lo..hi; false (and an empty grid) when the
    // box is not finite.
    bool setup(const Cxyz &lo, const Cxyz &hi, double target_cells);
    void clear();
    bool ready() const { return !cells_.empty(); }
    void insert(const Cxyz &p, const Entry &e) { cells_[index_of(p)].push_back(e); }

    // Visits every entry whose cell may hold a point within r of p (r widened by a relative
    // margin against rounding). Returns true when the range covered the whole grid.
    template <typename F> bool visit(const Cxyz &p, double r, F &&f) const;

private:
    long cell_of(double v, double lo, long n) const;
    std::size_t index_of(const Cxyz &p) const;

    Cxyz lo_;
    double h_ = 0;
    long nx_ = 0, ny_ = 0, nz_ = 0;
    std::vector<std::vector<Entry>> cells_;
};

// The nodes of finished chains, for a growing branch looking for a joint.
struct join_entry {
    Cxyz pos;       // the node's position, kept here so that far nodes cost no trip to the node
    wezel_typ *node;
    double f;       // the node's distance from its chain's tip in steps, summed as the walk sums it
    int32_t chain;
    uint32_t order; // position in chain-and-node order
};

// The trunk nodes sorted along the axis on which they spread most.
struct trunk_entry {
    double key;
    wezel_typ *node;
    int32_t chain;
    uint32_t order;
};

class growth_index {
public:
    // Starts a build over the chain array: nothing is indexed yet.
    void begin(galaz_typ *chains, int count);
    // Indexes the trunks 0..trunks-1 once they have grown and prepares the join grid over the
    // box around every start point and trunk node.
    void trunks_done(const st_tree *t, int trunks, int chains_total);
    // Adds a finished chain; chains must come in index order.
    void chain_done(int index);
    // Forgets everything: later look-ups walk the chains.
    void reset();

    // Each look-up returns false when the index does not cover the question (then the caller
    // walks the chains), else true with the answer in *out.
    bool join_branches(const galaz_typ *g, const st_tree *t, const Cxyz &p, const Cxyz &from,
                       wezel_typ **out) const;
    bool join_trunk(const galaz_typ *g, const Cxyz &p, wezel_typ **out) const;
    bool closest_on_trunk(const Cxyz &p, int trunks, wezel_typ **out) const;

private:
    // Visits the trunk nodes outward from key k, each way until the key differs from k by more
    // than bound, which the visitor may shrink as it goes.
    template <typename F> void around(double k, const double &bound, F &&f) const;

    galaz_typ *chains_ = nullptr;
    int count_ = 0;
    int indexed_ = -1; // chains 0..indexed_-1 are in the join grid; -1 while there is none
    int trunks_ = -1;
    int steps_per_node_ = 1;
    int axis_ = 0;
    uint32_t next_order_ = 0;
    cell_grid<join_entry> grid_;
    std::vector<trunk_entry> trunk_nodes_;
};

extern growth_index the_growth_index;

// The start points scattered so far, for the spacing test.
class spacing_grid {
public:
    void setup(const Cxyz &lo, const Cxyz &hi, double spacing, int count);
    void reset();
    void add(const Cxyz &p);
    // Returns false when the grid cannot answer (then the caller walks the list), else true
    // with *clear set as the list walk would set it.
    bool clear_of(const Cxyz &p, double d, bool *clear) const;

private:
    cell_grid<Cxyz> grid_;
    bool usable_ = false;
};

} // namespace ramulon
