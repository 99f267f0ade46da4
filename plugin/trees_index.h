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
    double f;       // steps from the chain's tip, as the walk sums them; infinite on chains
                    // any branch may join whatever its age (trunks and chain num_trunks)
    uint32_t order; // position in chain-and-node order
    uint32_t next;  // the entry indexed before it in the same cell
};

// The nodes a branch may join, kept in cells of one flat table with a list per cell. A look-up
// visits the cells ring by ring outward from its own and stops as soon as every node not yet
// visited lies beyond the nearest candidate found. Positions outside the box fall into its
// border cells.
class join_grid {
public:
    // Cells of edge `cell` (coarser when the box would need more than most_cells of them);
    // false (and an empty grid) when the box or the edge is not finite.
    bool setup(const Cxyz &lo, const Cxyz &hi, double cell, double most_cells);
    void clear();
    bool ready() const { return !heads_.empty(); }
    void insert(join_entry e);
    // Takes a joined node out: no branch joins it again.
    void remove(const join_entry &e);

    // Visits every entry whose cell may hold a point within r of p, nearest rings first, until
    // no entry in the rings left can lie within `bound` of p; the visitor may shrink bound.
    template <typename F>
    void visit(const Cxyz &p, double r, const double &bound, F &&f);

private:
    long cell_of(double v, int axis) const;
    std::size_t cell_at(const Cxyz &p) const;
    double face(long c, int axis) const;
    void repack();

    double lo_[3] = {0, 0, 0};
    double h_ = 0;
    long n_[3] = {0, 0, 0};
    std::vector<uint32_t> heads_;
    std::vector<join_entry> entries_;
    std::size_t repack_at_ = 16384; // entries at which the cells are laid out afresh
};

// The trunk nodes in chain-and-node order, and runs of a few of them with the box around
// each run: a look-up measures a run's nodes only when its box lies near enough.
struct trunk_entry {
    Cxyz pos;
    wezel_typ *node;
    uint32_t order;
};
struct trunk_run {
    Cxyz lo, hi;
    uint32_t begin, end; // entries begin..end-1, all of one chain
    int32_t chain;
};

class growth_index {
public:
    // Starts a build over the chain array: nothing is indexed yet.
    void begin(galaz_typ *chains, int count);
    // Indexes the trunks 0..trunks-1 once they have grown and prepares the join grid over the
    // box around every start point and trunk node.
    void trunks_done(const st_tree *t, int trunks, int chains_total);
    // Adds a finished chain; chains must come in index order. False when the chain is not
    // indexed, so that joints with it are found by the walk.
    bool chain_done(int index);
    // Forgets everything: later look-ups walk the chains.
    void reset();

    // Each look-up returns false when the index does not cover the question (then the caller
    // walks the chains), else true with the answer in *out.
    // The node found is the one the branch joins; it leaves the index.
    bool join_branches(const galaz_typ *g, const st_tree *t, const Cxyz &p, const Cxyz &from,
                       wezel_typ **out);
    bool join_trunk(const galaz_typ *g, const Cxyz &p, wezel_typ **out) const;
    bool closest_on_trunk(const Cxyz &p, int trunks, wezel_typ **out) const;

private:
    // How near p any node of the run can lie: never more than the measured distance of its
    // nearest node.
    static double gap_to(const trunk_run &run, const Cxyz &p);

    galaz_typ *chains_ = nullptr;
    int count_ = 0;
    int indexed_ = -1; // chains 0..indexed_-1 are in the join grid; -1 while there is none
    int trunks_ = -1;
    int steps_per_node_ = 1;
    int any_age_ = -1; // chains up to this index take a joint from branches of any age
    uint32_t next_order_ = 0;
    join_grid grid_;
    std::vector<trunk_entry> trunk_nodes_;
    std::vector<trunk_run> trunk_runs_;
    mutable std::vector<double> run_gap_; // per run, for the look-up under way
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
