// A preset can carry values the panel would have clamped: counts below the panel's lowest value,
// a thickness of 0, a spacing factor or bias below 0.1, choices no control offers. Each preset of
// the table is applied through the host's shelf and built in every render type, and the build
// must be what growth and output make of the value as it is: the very calls of an equivalent
// tree, no calls at all, a refusal, or counts and a call order read off the grown skeleton.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host/journal.h"
#include "host/preset_state.h"
#include "host/shelf.h"
#include "includes/face.h"
#include "includes/random.h"
#include "support/panel_session.h"
#include "tool.h"
#include "trees.h"

namespace ramulon {
namespace {

using Lines = std::vector<std::string>;

struct Built {
    std::string error;
    Lines lines;
};

int count_prefix(const Lines &lines, const std::string &prefix)
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) {
        return l.compare(0, prefix.size(), prefix) == 0;
    }));
}

int count_containing(const Lines &lines, const std::string &prefix, const std::string &part)
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) {
        return l.compare(0, prefix.size(), prefix) == 0 && l.find(part) != std::string::npos;
    }));
}

// Where two journals part, for the message of a failed comparison.
std::string first_difference(const Lines &a, const Lines &b)
{
    for (std::size_t k = 0; k < std::max(a.size(), b.size()); ++k) {
        const std::string x = k < a.size() ? a[k] : "(end)", y = k < b.size() ? b[k] : "(end)";
        if (x != y)
            return "line " + std::to_string(k + 1) + ": \"" + x + "\" against \"" + y + "\"";
    }
    return "";
}

std::vector<wezel_typ *> nodes_of(const galaz_typ &g)
{
    std::vector<wezel_typ *> nodes;
    for (wezel_typ *n = g.first; n; n = n->next)
        nodes.push_back(n);
    return nodes;
}

// The chains of the tree model, read off the grown skeleton: every chain that joined nothing and
// holds more than its start node, in ascending height of its base (its last grown node), a
// later chain in front of earlier ones of the same height.
struct ModelChain {
    int index;
    std::vector<wezel_typ *> nodes; // start node first, base last
};

std::vector<ModelChain> model_chains(const st_tree &t)
{
    std::vector<ModelChain> order;
    const int chains = std::min(std::max(t.num_branches, 0), galezie_count);
    for (int i = 0; i < chains; i++) {
        const galaz_typ &g = galezie[i];
        if (!g.is_root || !g.first || !g.first->next)
            continue;
        ModelChain c{i, nodes_of(g)};
        const double y = c.nodes.back()->pos.y;
        auto at = std::find_if(order.begin(), order.end(),
                               [&](const ModelChain &o) { return o.nodes.back()->pos.y >= y; });
        order.insert(at, std::move(c));
    }
    return order;
}

// The skeleton's journal as the conversion and the wire writer lay it out: a point per node in
// depth-first order from each chain's base (the rest of the chain toward its tip first, then the
// branch that joined the node, from its joint), and each segment's two-point polygon after
// everything beyond it.
class SkeletonByTheSteps {
public:
    explicit SkeletonByTheSteps(const st_tree &t)
    {
        for (const ModelChain &c : model_chains(t)) {
            const int base = point(c.nodes.back());
            segment(base, c.nodes, static_cast<int>(c.nodes.size()) - 2);
            side(base, c.nodes.back());
            chains++;
        }
    }
    Lines lines;
    int points = 0, faces = 0, chains = 0;

private:
    int point(const wezel_typ *n)
    {
        std::string s = "addPoint " + std::to_string(points);
        host::append_coordinate(s, n->pos.x);
        host::append_coordinate(s, n->pos.y);
        host::append_coordinate(s, n->pos.z);
        lines.push_back(s);
        return points++;
    }
    void side(int at, const wezel_typ *n)
    {
        if (n->joined) {
            const std::vector<wezel_typ *> joined = nodes_of(*n->joined);
            segment(at, joined, static_cast<int>(joined.size()) - 1);
        }
    }
    void segment(int parent, const std::vector<wezel_typ *> &chain, int i)
    {
        if (i < 0)
            return;
        const int q = point(chain[i]);
        segment(q, chain, i - 1);
        side(q, chain[i]);
        lines.push_back("addFace " + std::to_string(faces++) + " - 2 " + std::to_string(parent) +
                        " " + std::to_string(q));
    }
};

class PresetValues : public ::testing::Test {
public:
    PresetValues()
    {
        base = default_params;
        base.num_branches = 30;
    }

    // Applies the record as a preset file through the host's shelf, as the user would.
    void apply(const st_tree &record)
    {
        host::preset_writer w;
        shelf_save(const_cast<st_tree *>(&record), w.state(), "unused");
        const std::string file = dir.file("case.preset");
        std::ofstream(file) << w.text();
        host::Binding bind(p.session.services());
        const host::preset_application a = host::apply_preset(file);
        ASSERT_TRUE(a.applied) << a.problem;
        ASSERT_EQ(a.problem, "");
    }
    Built build()
    {
        Built b;
        b.error = p.build();
        b.lines = p.session.journal().lines();
        return b;
    }
    Built build(const st_tree &record)
    {
        apply(record);
        return build();
    }
    // The record with the panel's edit on top, as a user makes it after applying the record.
    Built build_edited(const st_tree &record, const std::string &edit)
    {
        apply(record);
        EXPECT_EQ(p.set(edit), "") << edit;
        return build();
    }

    ToolOnPanel p;
    PresetFolder dir;
    st_tree base;
};

using Set = void (*)(st_tree &);
struct Row;
using Check = void (*)(PresetValues &, const st_tree &, const Built &);

struct Row {
    const char *what;
    Set value;                      // the preset's value(s), over the base record
    Set on = nullptr;               // what the base holds besides (twigs)
    const char *panel = nullptr;    // the panel edit that makes the same tree
    Set like = nullptr;             // a record (over the base) that makes the same tree
    Set skeleton_like = nullptr;    // the same, in the skeleton only
    bool empty = false;             // nothing written, the build succeeds
    const char *fails = nullptr;    // the build's error in every render type
    const char *solid_fails = nullptr; // the build's error with tubes
    Check check = nullptr;          // counts the steps give
};

// ------------------------------------------------------------------ checks read off the skeleton

// Each start point is the first candidate drawn for its chain, moved along its polygon's
// normal, with no spacing test and no acceptance draw; then the highest goes to slot 0.
void first_candidates_taken(PresetValues &, const st_tree &t, const Built &)
{
    ASSERT_EQ(galezie_count, t.num_branches);
    random r;
    r.fixed(t.random_seed);
    std::vector<Cxyz> starts;
    const int m = poly_num;
    for (int i = 0; i < t.num_branches; i++) {
        const int pick = r.z_zakresu(0, m - 1);
        Cxyz q = r.z_polygonu(&poly_data[pick]);
        const Cxyz normal = poly_data[pick].normal;
        q = q.move(normal * r.z_zakresu(-t.tip_jitter, t.tip_jitter));
        starts.push_back(q);
    }
    for (int i = 1; i < t.num_branches; i++)
        if (starts[static_cast<std::size_t>(i)].y > starts[0].y)
            std::swap(starts[0], starts[static_cast<std::size_t>(i)]);
    for (int i = 0; i < t.num_branches; i++) {
        const Cxyz &got = galezie[i].first->pos, &want = starts[static_cast<std::size_t>(i)];
        EXPECT_TRUE(got.x == want.x && got.y == want.y && got.z == want.z) << "chain " << i;
    }
}

void one_chain(PresetValues &fx, const st_tree &t, const Built &b)
{
    EXPECT_EQ(tt.num_trunks, 1) << "the trunk count is lowered to the one chain";
    first_candidates_taken(fx, t, b);
    // The chain is the trunk: its nodes from the ground up, then their segments from the tip
    // down, and with tubes four trunk quads per node above the base.
    const int nodes = static_cast<int>(nodes_of(galezie[0]).size());
    ASSERT_GE(nodes, 3);
    if (t.render_type == 0) {
        ASSERT_EQ(b.lines.size(), static_cast<std::size_t>(2 * nodes - 1));
        EXPECT_EQ(count_prefix(Lines(b.lines.begin(), b.lines.begin() + nodes), "addPoint "), nodes);
        EXPECT_EQ(b.lines[static_cast<std::size_t>(nodes)],
                  "addFace 0 - 2 " + std::to_string(nodes - 2) + " " + std::to_string(nodes - 1));
        EXPECT_EQ(b.lines.back(), "addFace " + std::to_string(nodes - 2) + " - 2 0 1");
    } else {
        EXPECT_EQ(count_containing(b.lines, "polTag ", " Brown"), 4 * (nodes - 1));
    }
}

void no_chain(PresetValues &fx, const st_tree &t, const Built &)
{
    EXPECT_EQ(galezie_count, 0);
    EXPECT_EQ(tt.num_trunks, 0) << "the trunk count is lowered to no chain";
    // The skeleton of no chain still makes a thumbnail, black: there is no line to draw.
    host::Binding bind(fx.p.session.services());
    ASSERT_NE(imgutil, nullptr);
    LWPixmapID thumb = shelf_makethumb(const_cast<st_tree *>(&t), 128, 128);
    ASSERT_NE(thumb, nullptr);
    float lit = 0.0f;
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            float rgb[3] = {0, 0, 0};
            imgutil->getPixel(thumb, x, y, rgb);
            lit = std::max(lit, rgb[1]);
        }
    imgutil->destroy(thumb);
    EXPECT_EQ(lit, 0.0f);
}

// Without segments no chain makes a step: each keeps its start node alone.
void start_nodes_only(PresetValues &, const st_tree &t, const Built &)
{
    ASSERT_EQ(galezie_count, t.num_branches);
    for (int i = 0; i < galezie_count; i++) {
        EXPECT_EQ(galezie[i].first, galezie[i].last) << "chain " << i;
        EXPECT_EQ(galezie[i].steps, 0) << "chain " << i;
    }
}

// A chain makes at most 8k steps as a trunk and 2k as a branch, each laying one node and
// s - 1 between (none for s below 2), and no node is older than k.
void steps_within_segments(PresetValues &, const st_tree &t, const Built &)
{
    const int k = t.num_segments, between = std::max(t.sub_segments - 1, 0);
    for (int i = 0; i < galezie_count; i++) {
        const galaz_typ &g = galezie[i];
        const std::vector<wezel_typ *> nodes = nodes_of(g);
        EXPECT_EQ(static_cast<int>(nodes.size()), 1 + g.steps * (1 + between)) << "chain " << i;
        EXPECT_LE(g.steps, (i < t.num_trunks ? 8 : 2) * k) << "chain " << i;
        EXPECT_GE(g.steps, 1) << "chain " << i;
        for (const wezel_typ *n : nodes)
            EXPECT_LE(n->age, k) << "chain " << i;
    }
}

// With a negative sub-segment count a branch walking an ordinary branch counts its nodes
// backward, never far enough from the tip to join: every joint lies on a trunk or on the chain
// whose index is the trunk count.
void joints_on_trunks_only(PresetValues &fx, const st_tree &t, const Built &b)
{
    steps_within_segments(fx, t, b);
    std::map<const wezel_typ *, int> chain_of;
    for (int i = 0; i < galezie_count; i++)
        for (const wezel_typ *n : nodes_of(galezie[i]))
            chain_of[n] = i;
    int joined = 0;
    for (int i = 0; i < galezie_count; i++) {
        if (galezie[i].is_root)
            continue;
        joined++;
        const wezel_typ *at = galezie[i].last->join_node;
        ASSERT_NE(at, nullptr) << "chain " << i;
        EXPECT_LE(chain_of.at(at), t.num_trunks) << "chain " << i;
    }
    EXPECT_GT(joined, 0);
}

// Twigs: how many grow does not depend on their segment count, and a twig of s segments holds
// s + 1 nodes, a negative count its base node alone. Each node writes a point and a segment in
// the skeleton; with tubes each twig node carries a leaf, two copies (twins) off the tip and
// one at it, and a twig of its base alone is never a tube, its one leaf a tip leaf.
int twig_nodes(int s) { return s > 0 ? s + 1 : 1; }
int twig_leaf_faces(int s) { return s > 0 ? 2 * s + 1 : 1; }

void twigs_by_segments(PresetValues &fx, const st_tree &t, const Built &b)
{
    const int s = t.twig_segments;
    st_tree ref = t;
    ref.twig_segments = 3;
    ref.twig_type = 1;
    if (t.render_type == 0) {
        const SkeletonByTheSteps bare(t);
        const int points = count_prefix(b.lines, "addPoint "), faces = count_prefix(b.lines, "addFace ");
        const Built r = fx.build(ref);
        const int twig_points = count_prefix(r.lines, "addPoint ") - bare.points;
        ASSERT_GT(twig_points, 0);
        ASSERT_EQ(twig_points % twig_nodes(3), 0);
        const int twigs = twig_points / twig_nodes(3);
        EXPECT_EQ(points - bare.points, twigs * twig_nodes(s));
        EXPECT_EQ(faces - (bare.points - bare.chains), twigs * twig_nodes(s));
        return;
    }
    const int leaf_faces = count_containing(b.lines, "addFace ", "VF_leaf");
    if (s < 0) {
        EXPECT_EQ(count_containing(b.lines, "addPoly ", "RM_twig"), 0);
        EXPECT_EQ(count_containing(b.lines, "polTag ", "Blue"), 0);
    }
    const Built r = fx.build(ref);
    const int ref_faces = count_containing(r.lines, "addFace ", "VF_leaf");
    ASSERT_GT(ref_faces, 0);
    EXPECT_EQ(leaf_faces * twig_leaf_faces(3), ref_faces * twig_leaf_faces(s));
}

// ------------------------------------------------------------------ checks of every build

// Every build that writes a skeleton without twigs writes it as the steps lay it out.
void skeleton_as_laid_out(const st_tree &t, const Built &b)
{
    const SkeletonByTheSteps want(t);
    EXPECT_EQ(b.lines, want.lines) << first_difference(b.lines, want.lines);
}

// With tubes: four trunk quads (tagged "Brown") per trunk node above the base of every chain
// drawn (its base carrying no branch, three nodes or more); six rings of four quads per
// root under every drawn chain whose base, the lowest chain's raised by its radius, lies below
// 0.5; every age value paired with the segment count.
void tubes_as_counted(const st_tree &t, const Built &b)
{
    const std::vector<ModelChain> chains = model_chains(t);
    int trunk_quads = 0, rooted = 0;
    for (std::size_t c = 0; c < chains.size(); c++) {
        const std::vector<wezel_typ *> &nodes = chains[c].nodes;
        const wezel_typ *base = nodes.back();
        if (base->joined || nodes.size() < 3)
            continue;
        if (chains[c].index < t.num_trunks)
            trunk_quads += 4 * static_cast<int>(nodes.size() - 1);
        const double y = c == 0 ? base->pos.y + base->thickness * t.trunk_thickness : base->pos.y;
        if (y < 0.5)
            rooted++;
    }
    EXPECT_EQ(count_containing(b.lines, "polTag ", " Brown"), trunk_quads);
    EXPECT_EQ(count_containing(b.lines, "addPoly ", " RM_root "), rooted * 24 * std::max(t.num_roots, 0));
    std::string steps = " "; // appended: GCC 12 at -O3 misreads " " + to_string(...) as overlapping
    steps += std::to_string(t.num_segments);
    for (const std::string &l : b.lines)
        if (l.find(" RM_density 2 ") != std::string::npos) {
            EXPECT_EQ(l.substr(l.size() - steps.size()), steps) << l;
        }
}

// ------------------------------------------------------------------ the table

void twigs(st_tree &t) { t.twig_type = 1; }

const Row rows[] = {
    // Chains.
    {.what = "Branches at the panel's lowest, 2", .value = [](st_tree &t) { t.num_branches = 2; }, .panel = "Branches=2"},
    {.what = "one chain", .value = [](st_tree &t) { t.num_branches = 1; }, .check = one_chain},
    {.what = "no chain", .value = [](st_tree &t) { t.num_branches = 0; }, .empty = true, .check = no_chain},
    {.what = "a negative chain count", .value = [](st_tree &t) { t.num_branches = -1; }, .fails = "Memory allocation error"},
    // Growth steps.
    {.what = "Segments at the panel's lowest, 4", .value = [](st_tree &t) { t.num_segments = 4; }, .panel = "num_segments=4"},
    {.what = "three segments", .value = [](st_tree &t) { t.num_segments = 3; }, .check = steps_within_segments},
    {.what = "one segment", .value = [](st_tree &t) { t.num_segments = 1; }, .check = steps_within_segments},
    {.what = "no segments", .value = [](st_tree &t) { t.num_segments = 0; }, .empty = true, .check = start_nodes_only},
    {.what = "a negative segment count", .value = [](st_tree &t) { t.num_segments = -1; },
     .like = [](st_tree &t) { t.num_segments = 0; }, .empty = true, .check = start_nodes_only},
    {.what = "Sub Segments at the panel's lowest, 1", .value = [](st_tree &t) { t.sub_segments = 1; }, .panel = "sub_segments=1"},
    {.what = "no sub-segments", .value = [](st_tree &t) { t.sub_segments = 0; }, .like = [](st_tree &t) { t.sub_segments = 1; },
     .check = steps_within_segments},
    {.what = "a negative sub-segment count", .value = [](st_tree &t) { t.sub_segments = -1; }, .check = joints_on_trunks_only},
    // Start-point tries and spacing.
    {.what = "Iterations at the panel's lowest, 1", .value = [](st_tree &t) { t.iterations = 1; }, .panel = "iterations=1"},
    {.what = "no tries", .value = [](st_tree &t) { t.iterations = 0; }, .check = first_candidates_taken},
    {.what = "a negative try count", .value = [](st_tree &t) { t.iterations = -1; }, .like = [](st_tree &t) { t.iterations = 0; }},
    {.what = "no tries, random spacing", .value = [](st_tree &t) { t.iterations = 0, t.relative_spacing = 1; },
     .check = first_candidates_taken},
    {.what = "Distribution power at the panel's lowest, 0.1", .value = [](st_tree &t) { t.distribution_power = 0.1; }},
    {.what = "Distribution power 0.05", .value = [](st_tree &t) { t.distribution_power = 0.05; }},
    {.what = "no spacing", .value = [](st_tree &t) { t.distribution_power = 0; }, .like = [](st_tree &t) { t.iterations = 0; },
     .check = first_candidates_taken},
    {.what = "a negative spacing", .value = [](st_tree &t) { t.distribution_power = -1; },
     .like = [](st_tree &t) { t.distribution_power = 0; }},
    // Step growth.
    {.what = "Bias at the panel's lowest, 0.1", .value = [](st_tree &t) { t.bias = 0.1; }},
    {.what = "Bias 0.05", .value = [](st_tree &t) { t.bias = 0.05; }},
    {.what = "no bias: steps of equal length", .value = [](st_tree &t) { t.bias = 0; }},
    {.what = "a negative bias", .value = [](st_tree &t) { t.bias = -1; }},
    // Trunks.
    {.what = "more trunks than chains", .value = [](st_tree &t) { t.num_branches = 3, t.num_trunks = 5; },
     .like = [](st_tree &t) { t.num_branches = 3, t.num_trunks = 3; }},
    {.what = "no trunk", .value = [](st_tree &t) { t.num_trunks = 0; }},
    {.what = "a negative trunk count", .value = [](st_tree &t) { t.num_trunks = -1; }},
    // Thickness and roots: the skeleton does not depend on them.
    {.what = "no branch thickness", .value = [](st_tree &t) { t.branch_thickness = 0; }, .skeleton_like = [](st_tree &) {}},
    {.what = "Number of roots at the panel's lowest, 5", .value = [](st_tree &t) { t.num_roots = 5; }, .panel = "num_roots=5"},
    {.what = "four roots", .value = [](st_tree &t) { t.num_roots = 4; }, .skeleton_like = [](st_tree &) {}},
    {.what = "one root", .value = [](st_tree &t) { t.num_roots = 1; }, .skeleton_like = [](st_tree &) {}},
    {.what = "no roots", .value = [](st_tree &t) { t.num_roots = 0; }, .skeleton_like = [](st_tree &) {}},
    {.what = "a negative root count", .value = [](st_tree &t) { t.num_roots = -1; }, .like = [](st_tree &t) { t.num_roots = 0; }},
    {.what = "Roots length at its lowest, 0.1", .value = [](st_tree &t) { t.roots_length = 0.1; }, .skeleton_like = [](st_tree &) {}},
    {.what = "roots length 0.05", .value = [](st_tree &t) { t.roots_length = 0.05; }, .skeleton_like = [](st_tree &) {}},
    {.what = "roots of no length", .value = [](st_tree &t) { t.roots_length = 0; }, .skeleton_like = [](st_tree &) {}},
    {.what = "a negative roots length", .value = [](st_tree &t) { t.roots_length = -1; }, .skeleton_like = [](st_tree &) {}},
    // Values no generation step reads.
    {.what = "no divergence", .value = [](st_tree &t) { t.diverge = 0, t.diverge_limit = -1; }, .like = [](st_tree &) {}},
    {.what = "a negative minimum angle", .value = [](st_tree &t) { t.min_angle = -0.5; }, .like = [](st_tree &) {}},
    {.what = "negative optimization passes", .value = [](st_tree &t) { t.optimization_passes = -1; }, .like = [](st_tree &) {}},
    {.what = "a fork distance above 1", .value = [](st_tree &t) { t.last_fork_distance = 1.5; }, .panel = "Last fork distance=150"},
    // Twigs.
    {.what = "Twig segments at the panel's highest, 9", .value = [](st_tree &t) { t.twig_segments = 9; }, .on = twigs,
     .panel = "twig_segments=9"},
    {.what = "ten twig segments", .value = [](st_tree &t) { t.twig_segments = 10; }, .on = twigs, .check = twigs_by_segments},
    {.what = "no twig segments", .value = [](st_tree &t) { t.twig_segments = 0; }, .on = twigs,
     .like = [](st_tree &t) { t.twig_type = 0; }},
    {.what = "a negative twig segment count: twigs of one node", .value = [](st_tree &t) { t.twig_segments = -1; },
     .on = twigs, .check = twigs_by_segments},
    {.what = "twig segments -2: leaves of a negative age", .value = [](st_tree &t) { t.twig_segments = -2; }, .on = twigs,
     .skeleton_like = [](st_tree &t) { t.twig_segments = -1; }, .solid_fails = "Growth out of range"},
    // Choices the panel never offers, which the steps still give a meaning.
    {.what = "a render type beyond SubD", .value = [](st_tree &t) { t.render_type = 3; }, .empty = true},
    {.what = "a negative render type", .value = [](st_tree &t) { t.render_type = -1; }, .empty = true},
    {.what = "a twig type beyond side", .value = [](st_tree &t) { t.twig_type = 7; }, .on = twigs, .check = twigs_by_segments},
    {.what = "a trunk influence beyond fade", .value = [](st_tree &t) { t.trunk_influence = 3; },
     .like = [](st_tree &t) { t.trunk_influence = 0; }},
    {.what = "a trunk thickness type beyond thin", .value = [](st_tree &t) { t.trunk_thick_type = 2; }},
    {.what = "a leaf shape beyond rhombus2", .value = [](st_tree &t) { t.leaf_shape = 6; }, .on = twigs,
     .like = [](st_tree &t) { t.leaf_shape = 0; }},
    {.what = "weight-map flags of 2", .value = [](st_tree &t) { t.assign_range_wmap = 2, t.assign_thick_wmap = 2; },
     .like = [](st_tree &t) { t.assign_range_wmap = 0, t.assign_thick_wmap = 0; }},
    {.what = "check boxes of 2", .value = [](st_tree &t) { t.sort_branches = 2, t.relative_spacing = 2, t.twig_fixed = 2, t.leaf_twin = 2; },
     .on = twigs, .like = [](st_tree &t) { t.sort_branches = 1, t.relative_spacing = 1, t.twig_fixed = 1, t.leaf_twin = 1; }},
};

TEST_F(PresetValues, BuildAsTheStepsSayInEveryRenderType)
{
    for (const Row &row : rows) {
        for (int render = 0; render < 3; render++) {
            SCOPED_TRACE(std::string(row.what) + ", render type " + std::to_string(render));
            st_tree record = base;
            record.render_type = render;
            if (row.on)
                row.on(record);
            st_tree reference = record;
            row.value(record);
            const Built b = build(record);
            // What the record holds after loading and building (a lowered trunk count).
            const st_tree held = tt;

            const char *fails = row.fails ? row.fails : render != 0 ? row.solid_fails : nullptr;
            if (fails) {
                EXPECT_EQ(b.error, fails);
                EXPECT_EQ(tt.test_state, LWT_TEST_REJECT);
                continue;
            }
            ASSERT_EQ(b.error, "");
            if (row.empty) {
                EXPECT_TRUE(b.lines.empty()) << b.lines.size() << " calls, the first " << b.lines.front();
            }
            if (held.render_type == 0 && (held.twig_type == 0 || held.twig_segments == 0))
                skeleton_as_laid_out(held, b);
            if (held.render_type == 1 || held.render_type == 2)
                tubes_as_counted(held, b);
            if (row.check)
                row.check(*this, held, b);

            Set like = row.like ? row.like : render == 0 ? row.skeleton_like : nullptr;
            if (row.panel) {
                const Built r = build_edited(reference, row.panel);
                EXPECT_EQ(b.lines, r.lines) << "against the panel's " << row.panel << ": "
                                            << first_difference(b.lines, r.lines);
            } else if (like) {
                like(reference);
                const Built r = build(reference);
                ASSERT_EQ(r.error, "");
                EXPECT_EQ(b.lines, r.lines) << first_difference(b.lines, r.lines);
            }
        }
    }
}

} // namespace
} // namespace ramulon
