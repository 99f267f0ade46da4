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


// The widening of a search radius that covers the rounding of coordinate differences and of
// the distance itself, so a node at exactly the radius is never passed over.
// The distance from q to p exactly as q.calc_distance(p) measures it, without the call.
inline double distance(const Cxyz &q, const Cxyz &p)
{
    const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
    return std::sqrt(dz * dz + (dy * dy + dx * dx));
}

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

// ---------------------------------------------------------------- join grid

namespace {

constexpr uint32_t no_entry = UINT32_MAX;

double axis_of(const Cxyz &v, int a) { return a == 0 ? v.x : a == 1 ? v.y : v.z; }

} // namespace

bool join_grid::setup(const Cxyz &lo, const Cxyz &hi, double cell, double most)
{
    clear();
    if (!finite(lo) || !finite(hi) || !std::isfinite(most))
        return false;
    const double e[3] = {hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
    const double widest = std::max({e[0], e[1], e[2]});
    if (!std::isfinite(widest) || widest < 0)
        return false;
    most = std::clamp(most, 1.0, most_cells);
    // Never so fine that the box needs more cells than allowed, nor finer than the box's
    // widest side over a million.
    double h = std::isfinite(cell) && cell > 0 ? cell : widest;
    h = std::max(h, widest * 1e-6);
    const double flat = widest > 0 ? widest * 1e-3 : 1.0;
    for (;;) {
        double cells = 1;
        for (double x : e)
            cells *= std::max(1.0, std::ceil(std::max(x, flat) / h));
        if (cells <= most)
            break;
        h *= std::cbrt(cells / most) * 1.01;
    }
    if (!(h > 0) || !std::isfinite(h))
        return false;
    h_ = h;
    for (int a = 0; a < 3; a++) {
        lo_[a] = axis_of(lo, a);
        n_[a] = static_cast<long>(std::max(1.0, std::ceil(std::max(e[a], flat) / h)));
    }
    // Without room for the grid the walk still answers every question.
    try {
        heads_.assign(static_cast<std::size_t>(n_[0] * n_[1] * n_[2]), no_entry);
    } catch (const std::bad_alloc &) {
        clear();
        return false;
    }
    return true;
}

void join_grid::clear()
{
    repack_at_ = 16384;
    heads_.clear();
    heads_.shrink_to_fit();
    entries_.clear();
    entries_.shrink_to_fit();
    h_ = 0;
    n_[0] = n_[1] = n_[2] = 0;
}

long join_grid::cell_of(double v, int a) const
{
    // Monotone in v: a point between two query bounds lands between their cells.
    const double c = std::floor((v - lo_[a]) / h_);
    if (!(c >= 0))
        return 0;
    if (c >= static_cast<double>(n_[a] - 1))
        return n_[a] - 1;
    return static_cast<long>(c);
}

double join_grid::face(long c, int a) const { return lo_[a] + static_cast<double>(c) * h_; }

std::size_t join_grid::cell_at(const Cxyz &p) const
{
    return static_cast<std::size_t>((cell_of(p.x, 0) * n_[1] + cell_of(p.y, 1)) * n_[2] + cell_of(p.z, 2));
}

void join_grid::insert(join_entry e)
{
    if (entries_.size() >= no_entry)
        throw std::bad_alloc();
    if (entries_.size() >= repack_at_) {
        repack();
        repack_at_ = std::max<std::size_t>(16384, 4 * entries_.size());
    }
    const std::size_t cell = cell_at(e.pos);
    e.next = heads_[cell];
    entries_.push_back(e);
    heads_[cell] = static_cast<uint32_t>(entries_.size() - 1);
}

void join_grid::repack()
{
    // Lays every cell's entries side by side, in cell order, and leaves out the joined ones: a
    // look-up then reads each cell's nodes from one stretch of memory instead of one entry here
    // and one there, as they were indexed. Entries indexed later go on a cell's list ahead.
    const std::size_t cells = heads_.size();
    std::vector<uint32_t> end(cells + 1, 0);
    std::size_t live = 0;
    for (const join_entry &e : entries_)
        if (e.node) {
            end[cell_at(e.pos) + 1]++;
            live++;
        }
    for (std::size_t c = 1; c <= cells; c++)
        end[c] += end[c - 1];
    std::vector<join_entry> packed(live);
    for (const join_entry &e : entries_)
        if (e.node)
            packed[end[cell_at(e.pos)]++] = e;
    // end[c] is now where cell c ends, and end[c - 1] where it begins.
    for (std::size_t c = 0; c < cells; c++) {
        const uint32_t begin = c > 0 ? end[c - 1] : 0;
        heads_[c] = begin < end[c] ? begin : no_entry;
        for (uint32_t i = begin; i < end[c]; i++)
            packed[i].next = i + 1 < end[c] ? i + 1 : no_entry;
    }
    entries_.swap(packed);
}

void join_grid::remove(const join_entry &e)
{
    // Unlinked from its cell by the next look-up that passes it.
    entries_[static_cast<std::size_t>(&e - entries_.data())].node = nullptr;
}

template <typename F>
void join_grid::visit(const Cxyz &p, double r, const double &bound, F &&f)
{
    long c[3], a0[3], a1[3];
    double s[3];
    for (int a = 0; a < 3; a++) {
        const double v = axis_of(p, a);
        s[a] = slack(v, r) + 1e-9 * (std::fabs(lo_[a]) + static_cast<double>(n_[a]) * h_);
        c[a] = cell_of(v, a);
        a0[a] = cell_of(v - (r + s[a]), a);
        a1[a] = cell_of(v + (r + s[a]), a);
    }
    auto cell = [&](long x, long y, long z) {
        for (uint32_t *link = &heads_[static_cast<std::size_t>((x * n_[1] + y) * n_[2] + z)];
             *link != no_entry;) {
            const join_entry &e = entries_[*link];
            if (!e.node) {
                *link = e.next;
                continue;
            }
            f(e);
            link = &entries_[*link].next;
        }
    };
    for (long ring = 0;; ring++) {
        long b0[3], b1[3];
        for (int a = 0; a < 3; a++) {
            b0[a] = std::max(c[a] - ring, a0[a]);
            b1[a] = std::min(c[a] + ring, a1[a]);
        }
        // The cells of this ring: those of the box whose farthest offset from p's cell is ring.
        for (long x = b0[0]; x <= b1[0]; x++)
            for (long y = b0[1]; y <= b1[1]; y++) {
                if (std::labs(x - c[0]) == ring || std::labs(y - c[1]) == ring) {
                    for (long z = b0[2]; z <= b1[2]; z++)
                        cell(x, y, z);
                } else {
                    if (c[2] - ring >= b0[2])
                        cell(x, y, c[2] - ring);
                    if (ring > 0 && c[2] + ring <= b1[2])
                        cell(x, y, c[2] + ring);
                }
            }
        // How far from p every cell not yet visited lies; a side already out at r needs no
        // more rings, since nothing beyond r is ever a candidate.
        double beyond = INFINITY;
        bool more = false;
        for (int a = 0; a < 3; a++) {
            const double v = axis_of(p, a);
            if (b0[a] > a0[a]) {
                more = true;
                beyond = std::min(beyond, v - face(b0[a], a) - s[a]);
            }
            if (b1[a] < a1[a]) {
                more = true;
                beyond = std::min(beyond, face(b1[a] + 1, a) - v - s[a]);
            }
        }
        if (!more || bound < beyond)
            return;
    }
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
    any_age_ = -1;
    next_order_ = 0;
    grid_.clear();
    trunk_nodes_.clear();
    trunk_nodes_.shrink_to_fit();
    trunk_runs_.clear();
    trunk_runs_.shrink_to_fit();
    run_gap_.clear();
    run_gap_.shrink_to_fit();
}

void growth_index::trunks_done(const st_tree *t, int trunks, int chains_total)
{
    if (!chains_ || trunks < 0 || trunks > count_ || chains_total > count_)
        return;
    steps_per_node_ = sub_segments_divisor(t);

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
    constexpr uint32_t run_length = 8;
    uint32_t order = 0;
    try {
        for (int j = 0; j < trunks; j++) {
            for (wezel_typ *n = chains_[j].first; n; n = n->next, order++) {
                if (!finite(n->pos))
                    continue;
                const Cxyz &q = n->pos;
                const auto at = static_cast<uint32_t>(trunk_nodes_.size());
                trunk_nodes_.push_back({q, n, order});
                trunk_run *run = trunk_runs_.empty() ? nullptr : &trunk_runs_.back();
                if (!run || run->chain != j || run->end - run->begin >= run_length) {
                    trunk_runs_.push_back({q, q, at, at + 1, j});
                    continue;
                }
                run->lo = Cxyz(std::min(run->lo.x, q.x), std::min(run->lo.y, q.y), std::min(run->lo.z, q.z));
                run->hi = Cxyz(std::max(run->hi.x, q.x), std::max(run->hi.y, q.y), std::max(run->hi.z, q.z));
                run->end = at + 1;
            }
        }
    } catch (const std::bad_alloc &) {
        trunk_nodes_.clear();
        trunk_runs_.clear();
        return;
    }
    run_gap_.assign(trunk_runs_.size(), 0.0);
    trunks_ = trunks;

    // The join grid over the start points and trunks, in cells as wide as a branch's mean first
    // step. A branch looks for a joint within one step, and the nodes it may join stay few per
    // cell however dense the crown: tips are never indexed and joined nodes leave the index.
    // The cells are capped at a few per planned node so that a large box costs little memory.
    double step_sum = 0, stepping = 0;
    for (int j = trunks; j < chains_total; j++) {
        if (chains_[j].first)
            grow_box(chains_[j].first->pos);
        if (std::isfinite(chains_[j].step_len) && chains_[j].step_len > 0) {
            step_sum += chains_[j].step_len;
            stepping++;
        }
    }
    const double cell = stepping > 0 ? step_sum / stepping : 0;
    // A branch makes its steps only with a positive segment count, each laying one node and,
    // with more than one sub-segment, the nodes between.
    const double planned = (chains_total - trunks) * 2.0 * std::max(t->num_segments, 0) *
                               std::max(t->sub_segments, 1) +
                           trunk_count;
    if (!any || !grid_.setup(lo, hi, cell, 4 * planned + 64))
        return;
    any_age_ = t->num_trunks;
    indexed_ = 0;
    next_order_ = 0;
    for (int j = 0; j < trunks; j++)
        chain_done(j);
}

bool growth_index::chain_done(int index)
{
    if (indexed_ < 0 || index != indexed_ || index >= count_)
        return false;
    const double per_node = 1.0 / steps_per_node_;
    const bool any_age = index <= any_age_;
    double f = 0;
    try {
        for (wezel_typ *n = chains_[index].first; n && n->next; n = n->next, f += per_node, next_order_++) {
            // A branch looks for a joint only once it has made a step, so nodes less than a step
            // from their own tip are never its candidates.
            if (!finite(n->pos) || (!any_age && f < 1))
                continue;
            grid_.insert({n->pos, n, any_age ? INFINITY : f, next_order_, 0});
        }
    } catch (const std::bad_alloc &) {
        grid_.clear();
        indexed_ = -1;
        return false;
    }
    indexed_++;
    return true;
}

bool growth_index::join_branches(const galaz_typ *g, const st_tree *t, const Cxyz &p, const Cxyz &from,
                                 wezel_typ **out)
{
    if (!chains_ || chains_ != galezie || indexed_ < 0 || g < chains_ || g >= chains_ + count_ ||
        g - chains_ != indexed_ || t->num_trunks != any_age_)
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
    const join_entry *best_entry = nullptr;
    double best_d = 0;
    double bound = INFINITY; // the best distance once there is a best
    uint32_t best_order = 0;
    const double tolerance = 1e-9 * (std::fabs(p.x) + std::fabs(p.y) + std::fabs(p.z) + D) + 1e-300;
    double reach = D + tolerance;
    const double steps = g->steps;
    auto consider = [&](const join_entry &e) {
        if (e.f < steps)
            return;
        // A node farther than the best along one axis is farther than the best; the slack keeps
        // a node at exactly that distance, whose distance may round either way, for the exact test.
        if (std::fabs(e.pos.x - p.x) > reach || std::fabs(e.pos.y - p.y) > reach ||
            std::fabs(e.pos.z - p.z) > reach)
            return;
        const double d = distance(e.pos, p);
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
            best_entry = &e;
            best_d = d;
            best_order = e.order;
            bound = d;
            reach = d + tolerance;
        }
    };
    if (g->steps < 1)
        return true;
    grid_.visit(p, D, bound, consider);
    // The branch joins the node found, and a joined node is never joined again.
    if (best_entry)
        grid_.remove(*best_entry);
    *out = best;
    return true;
}

double growth_index::gap_to(const trunk_run &run, const Cxyz &p)
{
    // Each term rounds to no more than the same term of any node in the box, and every step of
    // the distance rounds monotonically, so the gap never exceeds a node's measured distance.
    const double dx = std::max(std::max(run.lo.x - p.x, 0.0), p.x - run.hi.x);
    const double dy = std::max(std::max(run.lo.y - p.y, 0.0), p.y - run.hi.y);
    const double dz = std::max(std::max(run.lo.z - p.z, 0.0), p.z - run.hi.z);
    return std::sqrt(dz * dz + (dy * dy + dx * dx));
}

bool growth_index::join_trunk(const galaz_typ *g, const Cxyz &p, wezel_typ **out) const
{
    if (!chains_ || chains_ != galezie || trunks_ < 1)
        return false;
    const double D = g->step_len;
    if (!finite(p) || !std::isfinite(D))
        return false;
    // The walk over the main trunk keeps the last of the nearest nodes within D.
    wezel_typ *best = nullptr;
    double best_d = D;
    for (const trunk_run &run : trunk_runs_) {
        if (run.chain != 0)
            break;
        if (gap_to(run, p) > best_d)
            continue;
        for (uint32_t i = run.begin; i < run.end; i++) {
            const double d = distance(trunk_nodes_[i].pos, p);
            if (d <= best_d) {
                best = trunk_nodes_[i].node;
                best_d = d;
            }
        }
    }
    *out = best;
    return true;
}

bool growth_index::closest_on_trunk(const Cxyz &p, int trunks, wezel_typ **out) const
{
    if (!chains_ || chains_ != galezie || trunks_ < 0 || trunks != trunks_ || !finite(p))
        return false;
    // The walk keeps the first of the nearest nodes, and only nodes nearer than its start.
    // Runs are measured nearest box first, so that the rest are mostly passed over.
    wezel_typ *best = nullptr;
    double closest = 10000000;
    std::size_t first = 0;
    for (std::size_t r = 0; r < trunk_runs_.size(); r++) {
        run_gap_[r] = gap_to(trunk_runs_[r], p);
        if (run_gap_[r] < run_gap_[first])
            first = r;
    }
    uint32_t best_order = 0;
    auto measure = [&](const trunk_run &run) {
        for (uint32_t i = run.begin; i < run.end; i++) {
            const trunk_entry &e = trunk_nodes_[i];
            const double d = distance(e.pos, p);
            if (d < closest || (best && d == closest && e.order < best_order)) {
                best = e.node;
                closest = d;
                best_order = e.order;
            }
        }
    };
    if (!trunk_runs_.empty())
        measure(trunk_runs_[first]);
    for (std::size_t r = 0; r < trunk_runs_.size(); r++)
        if (r != first && !(run_gap_[r] > closest))
            measure(trunk_runs_[r]);
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
            if (!near && n.x > p.x - d && !(n.x > p.x + d) && distance(p, n) < d)
                near = true;
        });
    *clear = !near;
    return true;
}

template class cell_grid<Cxyz>;

} // namespace ramulon
