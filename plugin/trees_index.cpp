// Spatial look-ups over the grown skeleton. See trees_index.h.
#include "trees_index.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "trees.h"
#include "trees_internal.h"

namespace ramulon {

bool growth_use_index = true;
growth_index the_growth_index;

namespace {

bool finite(const Cxyz &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

double coord(const Cxyz &v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// The widening of a search radius that covers the rounding of coordinate differences and of
// the distance itself, so a node at exactly the radius is never passed over.
double slack(double v, double r) { return 1e-9 * (std::fabs(v) + std::fabs(r)) + 1e-300; }

constexpr double most_cells = 1 << 20;

} // namespace

// ---------------------------------------------------------------- cell grid

template <typename Entry> bool cell_grid<Entry>::setup(const Cxyz &lo, const Cxyz &hi, double target_cells)
{
    clear();
    if (!finite(lo) || !finite(hi) || !std::isfinite(target_cells))
        return false;
    double e[3] = {hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
    const double widest = std::max({e[0], e[1], e[2]});
    if (!std::isfinite(widest) || widest < 0)
        return false;
    // A flat or point-like box still gets a thickness, so the cell volume is never zero.
    const double thinnest = widest > 0 ? widest * 1e-3 : 1.0;
    for (double &x : e)
        x = std::max(x, thinnest);
    const double cells = std::clamp(target_cells, 1.0, most_cells);
    const double h = std::cbrt(e[0] * e[1] * e[2] / cells);
    if (!(h > 0) || !std::isfinite(h))
        return false;
    long n[3];
    for (int a = 0; a < 3; a++)
        n[a] = static_cast<long>(std::clamp(std::ceil(e[a] / h), 1.0, most_cells));
    if (static_cast<double>(n[0]) * n[1] * n[2] > 4 * most_cells)
        return false;
    lo_ = lo;
    h_ = h;
    nx_ = n[0];
    ny_ = n[1];
    nz_ = n[2];
    // Without room for the grid the walk still answers every question.
    try {
        cells_.resize(static_cast<std::size_t>(nx_ * ny_ * nz_));
    } catch (const std::bad_alloc &) {
        clear();
        return false;
    }
    return true;
}

template <typename Entry> void cell_grid<Entry>::clear()
{
    cells_.clear();
    cells_.shrink_to_fit();
    h_ = 0;
    nx_ = ny_ = nz_ = 0;
}

template <typename Entry> long cell_grid<Entry>::cell_of(double v, double lo, long n) const
{
    // Monotone in v: a point between two query bounds lands between their cells.
    const double c = std::floor((v - lo) / h_);
    if (!(c >= 0))
        return 0;
    if (c >= static_cast<double>(n - 1))
        return n - 1;
    return static_cast<long>(c);
}

template <typename Entry> std::size_t cell_grid<Entry>::index_of(const Cxyz &p) const
{
    const long x = cell_of(p.x, lo_.x, nx_), y = cell_of(p.y, lo_.y, ny_), z = cell_of(p.z, lo_.z, nz_);
    return static_cast<std::size_t>((x * ny_ + y) * nz_ + z);
}

template <typename Entry>
template <typename F>
bool cell_grid<Entry>::visit(const Cxyz &p, double r, F &&f) const
{
    const double wx = r + slack(p.x, r), wy = r + slack(p.y, r), wz = r + slack(p.z, r);
    const long x0 = cell_of(p.x - wx, lo_.x, nx_), x1 = cell_of(p.x + wx, lo_.x, nx_);
    const long y0 = cell_of(p.y - wy, lo_.y, ny_), y1 = cell_of(p.y + wy, lo_.y, ny_);
    const long z0 = cell_of(p.z - wz, lo_.z, nz_), z1 = cell_of(p.z + wz, lo_.z, nz_);
    for (long x = x0; x <= x1; x++)
        for (long y = y0; y <= y1; y++) {
            const std::size_t row = static_cast<std::size_t>((x * ny_ + y) * nz_);
            for (long z = z0; z <= z1; z++)
                for (const Entry &e : cells_[row + static_cast<std::size_t>(z)])
                    f(e);
        }
    return x0 == 0 && y0 == 0 && z0 == 0 && x1 == nx_ - 1 && y1 == ny_ - 1 && z1 == nz_ - 1;
}

// ---------------------------------------------------------------- skeleton index

void growth_index::begin(galaz_typ *chains, int count)
{
    reset();
    chains_ = chains;
    count_ = count;
}

void growth_index::reset()
{
    chains_ = nullptr;
    count_ = 0;
    indexed_ = -1;
    trunks_ = -1;
    next_order_ = 0;
    grid_.clear();
    trunk_nodes_.clear();
    trunk_nodes_.shrink_to_fit();
}

void growth_index::trunks_done(const st_tree *t, int trunks, int chains_total)
{
    if (!chains_ || trunks < 0 || trunks > count_ || chains_total > count_)
        return;
    steps_per_node_ = growth_sub_segments(t);

    // The trunks, sorted along their widest spread.
    Cxyz lo, hi;
    bool any = false;
    auto grow_box = [&](const Cxyz &q) {
        if (!finite(q))
            return;
        if (!any) {
            lo = hi = q;
            any = true;
            return;
        }
        lo = Cxyz(std::min(lo.x, q.x), std::min(lo.y, q.y), std::min(lo.z, q.z));
        hi = Cxyz(std::max(hi.x, q.x), std::max(hi.y, q.y), std::max(hi.z, q.z));
    };
    double trunk_count = 0;
    for (int j = 0; j < trunks; j++)
        for (const wezel_typ *n = chains_[j].first; n; n = n->next) {
            grow_box(n->pos);
            trunk_count++;
        }
    const Cxyz trunk_spread = hi - lo;
    axis_ = 0;
    if (any) {
        if (trunk_spread.y > coord(trunk_spread, axis_))
            axis_ = 1;
        if (trunk_spread.z > coord(trunk_spread, axis_))
            axis_ = 2;
    }
    uint32_t order = 0;
    try {
        for (int j = 0; j < trunks; j++)
            for (wezel_typ *n = chains_[j].first; n; n = n->next, order++)
                if (finite(n->pos))
                    trunk_nodes_.push_back({coord(n->pos, axis_), n, j, order});
    } catch (const std::bad_alloc &) {
        trunk_nodes_.clear();
        return;
    }
    std::sort(trunk_nodes_.begin(), trunk_nodes_.end(),
              [](const trunk_entry &a, const trunk_entry &b) { return a.key < b.key; });
    trunks_ = trunks;

    // The join grid over the start points and trunks: cells of a few dozen planned nodes,
    // since a node a cell holds costs less than a cell visited.
    for (int j = trunks; j < chains_total; j++)
        if (chains_[j].first)
            grow_box(chains_[j].first->pos);
    const double planned = (chains_total - trunks) * 2.0 * growth_segments(t) * steps_per_node_ + trunk_count;
    if (!any || !grid_.setup(lo, hi, planned / 32))
        return;
    indexed_ = 0;
    next_order_ = 0;
    for (int j = 0; j < trunks; j++)
        chain_done(j);
}

void growth_index::chain_done(int index)
{
    if (indexed_ < 0 || index != indexed_ || index >= count_)
        return;
    const double per_node = 1.0 / steps_per_node_;
    double f = 0;
    try {
        for (wezel_typ *n = chains_[index].first; n && n->next; n = n->next, f += per_node, next_order_++)
            if (finite(n->pos))
                grid_.insert(n->pos, {n->pos, n, f, index, next_order_});
    } catch (const std::bad_alloc &) {
        grid_.clear();
        indexed_ = -1;
        return;
    }
    indexed_++;
}

bool growth_index::join_branches(const galaz_typ *g, const st_tree *t, const Cxyz &p, const Cxyz &from,
                                 wezel_typ **out) const
{
    if (!chains_ || chains_ != galezie || indexed_ < 0 || g < chains_ || g >= chains_ + count_ ||
        g - chains_ != indexed_)
        return false;
    const double D = g->step_len;
    if (!finite(p) || !std::isfinite(D))
        return false;
    *out = nullptr;
    if (D < 0)
        return true;

    // The walk keeps the last candidate whose distance does not exceed the best so far: that
    // is the nearest candidate, the last in chain-and-node order among equally near ones.
    wezel_typ *best = nullptr;
    double best_d = 0;
    uint32_t best_order = 0;
    const double reach = D + 1e-9 * (std::fabs(p.x) + std::fabs(p.y) + std::fabs(p.z) + D) + 1e-300;
    auto consider = [&](const join_entry &e) {
        if (e.f < g->steps && e.chain > t->num_trunks)
            return;
        // A node farther than D along one axis is farther than D; the slack keeps a node at
        // exactly D, whose distance may round either way, for the exact test.
        if (std::fabs(e.pos.x - p.x) > reach || std::fabs(e.pos.y - p.y) > reach ||
            std::fabs(e.pos.z - p.z) > reach)
            return;
        const double d = e.pos.calc_distance(p);
        if (!(d <= D))
            return;
        if (best && (d > best_d || (d == best_d && e.order < best_order)))
            return;
        wezel_typ *n = e.node;
        if (n->joins > 0)
            return;
        const Cxyz toward = n->pos - from;
        const double a1 = g->grow_vect.calc_angle(toward);
        const double a2 = n->next->dir.calc_angle(toward);
        if (a1 < join_angle && a2 < join_parent_angle) {
            best = n;
            best_d = d;
            best_order = e.order;
        }
    };
    grid_.visit(p, D, consider);
    *out = best;
    return true;
}

template <typename F> void growth_index::around(double k, const double &bound, F &&f) const
{
    const auto mid = std::lower_bound(trunk_nodes_.begin(), trunk_nodes_.end(), k,
                                      [](const trunk_entry &e, double v) { return e.key < v; });
    for (auto it = mid; it != trunk_nodes_.end() && it->key - k <= bound + slack(k, bound); ++it)
        f(*it);
    for (auto it = mid; it != trunk_nodes_.begin() && k - (it - 1)->key <= bound + slack(k, bound); --it)
        f(*(it - 1));
}

bool growth_index::join_trunk(const galaz_typ *g, const Cxyz &p, wezel_typ **out) const
{
    if (!chains_ || chains_ != galezie || trunks_ < 1)
        return false;
    const double D = g->step_len;
    if (!finite(p) || !std::isfinite(D))
        return false;
    wezel_typ *best = nullptr;
    double best_d = 0;
    uint32_t best_order = 0;
    const double k = coord(p, axis_);
    auto consider = [&](const trunk_entry &e) {
        if (e.chain != 0)
            return;
        const double d = e.node->pos.calc_distance(p);
        if (d <= D && (!best || d < best_d || (d == best_d && e.order > best_order))) {
            best = e.node;
            best_d = d;
            best_order = e.order;
        }
    };
    around(k, D, consider);
    *out = best;
    return true;
}

bool growth_index::closest_on_trunk(const Cxyz &p, int trunks, wezel_typ **out) const
{
    if (!chains_ || chains_ != galezie || trunks_ < 0 || trunks != trunks_ || !finite(p))
        return false;
    // The first of equally near nodes wins, and only nodes nearer than the walk's start.
    wezel_typ *best = nullptr;
    double closest = 10000000;
    uint32_t best_order = 0;
    const double k = coord(p, axis_);
    auto consider = [&](const trunk_entry &e) {
        const double d = e.node->pos.calc_distance(p);
        if (d < closest || (best && d == closest && e.order < best_order)) {
            best = e.node;
            closest = d;
            best_order = e.order;
        }
    };
    around(k, closest, consider);
    *out = best;
    return true;
}

// ---------------------------------------------------------------- start point spacing

void spacing_grid::setup(const Cxyz &lo, const Cxyz &hi, double spacing, int count)
{
    reset();
    const Cxyz e = hi - lo;
    double target = 2.0 * std::max(count, 1);
    if (std::isfinite(spacing) && spacing > 0) {
        const double v = std::max(e.x, spacing) * std::max(e.y, spacing) * std::max(e.z, spacing);
        target = std::min(target, v / (spacing * spacing * spacing));
    }
    usable_ = grid_.setup(lo, hi, target);
}

void spacing_grid::reset()
{
    grid_.clear();
    usable_ = false;
}

void spacing_grid::add(const Cxyz &p)
{
    if (!usable_)
        return;
    // A point with no place in an ordered list leaves the walk to decide.
    if (!finite(p)) {
        reset();
        return;
    }
    try {
        grid_.insert(p, p);
    } catch (const std::bad_alloc &) {
        reset();
    }
}

bool spacing_grid::clear_of(const Cxyz &p, double d, bool *clear) const
{
    if (!usable_ || !finite(p) || !std::isfinite(d))
        return false;
    // The walk over the ascending list refuses p for a node with p.x - d < x <= p.x + d nearer
    // than d; the order of the nodes does not matter.
    bool near = false;
    if (d > 0)
        grid_.visit(p, d, [&](const Cxyz &n) {
            if (!near && n.x > p.x - d && !(n.x > p.x + d) && p.calc_distance(n) < d)
                near = true;
        });
    *clear = !near;
    return true;
}

template class cell_grid<join_entry>;
template class cell_grid<Cxyz>;

} // namespace ramulon
