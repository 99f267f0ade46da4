// The crown the user sketched in the background, and the start points scattered over it.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <new>
#include <vector>

#include "includes/area.h"
#include "trees.h"
#include "trees_index.h"
#include "trees_internal.h"

namespace ramulon {

int num_polys = 0;
face6_typ *poly_data = nullptr;
int poly_num = 0;
double min_distance = 0.0;
int poly_capacity = 0;

namespace {

// Only plain faces of three or more points carry start points; curves, patches and
// two-point lines do not.
bool usable(const EDPolygonInfo *info) { return info->type == ID_FACE && info->numPnts >= 3; }

// Ends the search list threaded through the start nodes, so that each chain holds only its
// own start node.
void unlink_search_list(wezel_typ *list)
{
    while (list) {
        wezel_typ *following = list->next;
        list->next = nullptr;
        list = following;
    }
}

// The sum 1 + q + ... + q^(k-1) of a chain's k planned step lengths, in units of the first.
double step_sum(double q, int k)
{
    // Without growth every step is as long as the first; the closed form would be 0 / 0.
    if (q == 1.0)
        return k;
    return (1.0 - std::pow(q, k)) / (1.0 - q);
}

} // namespace

EDError check_for_nurbs(void *, const EDPolygonInfo *info)
{
    if (!usable(info))
        num_polys--;
    return EDERR_NONE;
}

EDError copy_BG(int count, MeshEditOp *op)
{
    free_BG();
    poly_data = new (std::nothrow) face6_typ[std::max(count, 0)];
    if (!poly_data)
        return EDERR_NOMEMORY;
    poly_capacity = std::max(count, 0);
    poly_num = 0;
    return op->polyScan(op->state, copy_poly, op, OPLYR_BG);
}

EDError copy_poly(void *userData, const EDPolygonInfo *info)
{
    if (!usable(info))
        return EDERR_NONE;
    // A scan that finds more usable polygons than were counted has nowhere to put them.
    if (!poly_data || poly_num >= poly_capacity)
        return EDERR_NONE;
    auto *op = static_cast<MeshEditOp *>(userData);
    face6_typ &f = poly_data[poly_num];
    op->polyNormal(op->state, info->pol, &f.normal.x);
    f.num = info->numPnts;
    f.points.reset();
    f.points.reset(new Cxyz[f.num]);
    for (int j = 0; j < f.num; j++) {
        const EDPointInfo *point = op->pointInfo(op->state, info->points[j]);
        if (point)
            f.points[j] = Cxyz(point->position[0], point->position[1], point->position[2]);
    }
    poly_num++;
    return EDERR_NONE;
}

void free_BG()
{
    delete[] poly_data;
    poly_data = nullptr;
    poly_capacity = 0;
    poly_num = 0;
}

double calc_height(const face6_typ *polygons, int n, const face6_typ **highest)
{
    double height = 0.0;
    if (!polygons)
        return height;
    for (int i = 0; i < n; i++) {
        const face6_typ &f = polygons[i];
        if (!f.points)
            continue;
        for (int j = 0; j < f.num; j++)
            if (f.points[j].y > height) {
                height = f.points[j].y;
                if (highest)
                    *highest = &f;
            }
    }
    return height;
}

namespace {

// With relative spacing the spacing is taken relative to the weight, and a draw refuses some
// candidates outright. True when p is refused before any node is looked at.
bool refused_by_draw(double w, double &d, st_tree *t)
{
    if (t->relative_spacing != 0) {
        d = std::fabs(d / w);
        const int c = (static_cast<int>(std::trunc(w * 100)) + 100) / 2;
        if (c <= 1)
            return true;
        if (losoj.z_zakresu(1, c) == 1)
            return true;
    }
    return false;
}

bool clear_of_list(const Cxyz &p, double d, const wezel_typ *list)
{
    for (const wezel_typ *n = list; n; n = n->next) {
        if (n->pos.x > p.x + d)
            return true;
        if (n->pos.x > p.x - d && p.calc_distance(n->pos) < d)
            return false;
    }
    return true;
}

// The box around every polygon point, where the start points fall.
bool crown_box(const face6_typ *polygons, int m, Cxyz &lo, Cxyz &hi)
{
    bool any = false;
    for (int i = 0; i < m; i++)
        for (int j = 0; polygons[i].points && j < polygons[i].num; j++) {
            const Cxyz &q = polygons[i].points[j];
            lo = any ? Cxyz(std::min(lo.x, q.x), std::min(lo.y, q.y), std::min(lo.z, q.z)) : q;
            hi = any ? Cxyz(std::max(hi.x, q.x), std::max(hi.y, q.y), std::max(hi.z, q.z)) : q;
            any = true;
        }
    return any;
}

// Finds where add_item would link a point into the ascending list without walking it: after
// the last node whose x is not above the point's. A list holding a point without an order
// (a NaN x) is linked by the walk add_item makes.
class list_places {
public:
    explicit list_places(bool quick) : ordered_(quick) {}
    // Links a node made at its point into the list where add_item would have made it.
    void link(wezel_typ *node, wezel_typ **list)
    {
        const double x = node->pos.x;
        wezel_typ **at = list;
        if (!ordered_ || std::isnan(x)) {
            ordered_ = false;
            while (*at && (*at)->pos.x <= x)
                at = &(*at)->next;
        } else {
            auto above = last_at_.upper_bound(x);
            if (above != last_at_.begin())
                at = &std::prev(above)->second->next;
        }
        node->next = *at;
        *at = node;
        if (!ordered_)
            return;
        try {
            last_at_[x] = node;
        } catch (const std::bad_alloc &) {
            last_at_.clear();
            ordered_ = false;
        }
    }

private:
    std::map<double, wezel_typ *> last_at_;
    bool ordered_;
};

} // namespace

bool check_pos(Cxyz p, double w, double d, wezel_typ *list, st_tree *t)
{
    if (refused_by_draw(w, d, t))
        return false;
    return clear_of_list(p, d, list);
}

void set_positions(int n, face6_typ *polygons, int m, st_tree *t)
{
    if (!galezie || !polygons || m < 1)
        return;
    n = std::min(n, galezie_count);
    if (n < 1)
        return;
    // With no tries a start point is taken at its first candidate, untested.
    const int iterations = t->iterations;
    // The first step length spreads a chain's planned steps over its path; without segments
    // the chain makes no step, and the sum over no steps divides nothing.
    const int k = segments_divisor(t);

    min_distance = t->distribution_power * std::sqrt(calc_area(polygons, m) / n);
    const double q = t->bias / k + 1;
    const double S = step_sum(q, k);
    const double shortest = t->tree_height * 0.2 / (2.0 * k);

    // The grid answers the spacing test as the ascending list would.
    spacing_grid near;
    Cxyz lo, hi;
    if (growth_use_index && crown_box(polygons, m, lo, hi))
        near.setup(lo, hi, min_distance, n);

    // While the grid answers, the ascending list is not needed; should the grid give up, the
    // list is built from the start points so far, in the order they were accepted.
    list_places places(growth_use_index);
    wezel_typ *list = nullptr;
    std::vector<wezel_typ *> accepted;
    bool listed = !growth_use_index;
    auto list_all = [&]() {
        for (wezel_typ *node : accepted)
            places.link(node, &list);
        accepted.clear();
        accepted.shrink_to_fit();
        listed = true;
    };
    try {
        for (int gi = 0; gi < n; gi++) {
            galaz_typ &g = galezie[gi];
            int tries = 0;
            int pick;
            Cxyz p;
            for (;;) {
                pick = losoj.z_zakresu(0, m - 1);
                p = losoj.z_polygonu(&polygons[pick]);
                tries++;
                if (tries > iterations)
                    break;
                const double spacing =
                    min_distance / (static_cast<double>(tries) / iterations + 1);
                double d = spacing;
                bool clear = false;
                if (refused_by_draw(1.0, d, t))
                    continue;
                if (!near.clear_of(p, d, &clear)) {
                    if (!listed)
                        list_all();
                    clear = clear_of_list(p, d, list);
                }
                if (clear)
                    break;
            }

            const Cxyz N = polygons[pick].normal;
            const double jitter = losoj.z_zakresu(-t->tip_jitter, t->tip_jitter);
            p = p.move(N * jitter);

            wezel_typ *node = growth_use_index ? new wezel_typ : add_item(p, &list);
            node->pos = p;
            g.first = node;
            g.last = node;
            if (growth_use_index) {
                if (listed)
                    places.link(node, &list);
                else
                    accepted.push_back(node);
            }
            near.add(p);
            node->dir = !N;
            node->thickness = t->branch_thickness;
            g.thickness = t->branch_thickness;
            g.normal = N;

            if (p.y > t->tree_height * t->tree_center) {
                g.high = 1;
            } else {
                g.high = 0;
                g.grow_vect = ~Cxyz(0.0, t->branch_bend, 0.0);
            }

            // The path from the start point toward the trunk, which the planned steps cover.
            double h = std::sqrt(p.x * p.x + p.z * p.z);
            if (g.high == 1) {
                const double e = p.y - (t->tree_center / 2) * t->tree_height;
                h = std::sqrt(h * h + e * e);
            } else {
                const double a = std::fabs(t->branch_bend);
                const double e = a * std::cos(a * 20 / 3.1415926535898) * h / 2;
                h = std::sqrt(h * h + e * e);
            }
            g.step_len = h / S * 0.7;
            if (g.step_len < shortest)
                g.step_len = shortest;
        }
    } catch (...) {
        unlink_search_list(list);
        throw;
    }
    unlink_search_list(list);
}

namespace {

// The bubble sort below leaves the chains in the one order that is sorted by descending start
// height and keeps equal heights in their scattered order: a stable sort gives the same order
// in n log n. A NaN height compares equal to every other, so the heights are no longer an
// order and only the bubble sort itself can say where such a chain ends up.
bool sort_stably(int n)
{
    std::vector<int> by_height;
    std::vector<bool> placed;
    try {
        by_height.resize(static_cast<std::size_t>(n));
        placed.resize(static_cast<std::size_t>(n), false);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int i = 0; i < n; i++) {
        if (!galezie[i].first || std::isnan(galezie[i].first->pos.y))
            return false;
        by_height[static_cast<std::size_t>(i)] = i;
    }
    std::stable_sort(by_height.begin(), by_height.end(),
                     [](int a, int b) { return galezie[b].first->pos.y < galezie[a].first->pos.y; });
    // Slot i receives chain by_height[i]: follow each cycle of the permutation, exchanging.
    for (int i = 0; i < n; i++) {
        if (placed[static_cast<std::size_t>(i)])
            continue;
        int slot = i;
        for (;;) {
            placed[static_cast<std::size_t>(slot)] = true;
            const int from = by_height[static_cast<std::size_t>(slot)];
            if (from == i)
                break;
            swap_chains(galezie[slot], galezie[from]);
            slot = from;
        }
    }
    return true;
}

} // namespace

void sort_positions(st_tree *t)
{
    const int n = chains_held(t);
    if (growth_use_index && sort_stably(n))
        return;
    for (int range = n; range > 1; range--)
        for (int j = 1; j < range; j++)
            if (galezie[j - 1].first->pos.y < galezie[j].first->pos.y)
                swap_chains(galezie[j - 1], galezie[j]);
}

} // namespace ramulon
