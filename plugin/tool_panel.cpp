// The tool's panel: every user-set field of the tree record in four tabs, with the clamps each
// edit gets and the change level it hands to the build, plus the preset buttons and About.
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "tool.h"

namespace ramulon {

namespace {

enum class clamp_kind { none, below, above, zero_to, absolute, above_branches };

// How much of the tree the next build must redo after an edit; `no_level` for controls that
// change nothing (buttons, the version text, the hidden activity flag).
constexpr int no_level = -1;

struct control_row {
    unsigned long id;
    const char *label;
    const char *control;   // host control type; null for the ids without a control
    const char *data;      // data type; null for buttons
    const char *data_name; // null: the label
    bool divider;          // a divider after the control
    bool slider;
    double min, max;
    int32_t st_tree::*i; // the bound field: one of i, d, c
    double st_tree::*d;
    char st_tree::*c;
    clamp_kind clamp;
    double limit;
    int level;
};

constexpr control_row ctl(unsigned long id, const char *label, const char *control, const char *data)
{
    return control_row{id, label, control, data, nullptr, false, false, 0.0, 0.0, nullptr, nullptr,
                       nullptr, clamp_kind::none, 0.0, no_level};
}

constexpr control_row field(control_row r, int32_t st_tree::*f, int level)
{
    r.i = f;
    r.level = level;
    return r;
}

constexpr control_row field(control_row r, double st_tree::*f, int level)
{
    r.d = f;
    r.level = level;
    return r;
}

constexpr control_row field(control_row r, char st_tree::*f, int level)
{
    r.c = f;
    r.level = level;
    return r;
}

constexpr control_row slider(control_row r, double min, double max)
{
    r.slider = true;
    r.min = min;
    r.max = max;
    return r;
}

constexpr control_row clamp(control_row r, clamp_kind k, double limit = 0.0)
{
    r.clamp = k;
    r.limit = limit;
    return r;
}

constexpr control_row divider(control_row r)
{
    r.divider = true;
    return r;
}

constexpr control_row named(control_row r, const char *data_name)
{
    r.data_name = data_name;
    return r;
}

constexpr control_row integer(unsigned long id, const char *label) { return ctl(id, label, "integer", "integer"); }
constexpr control_row real(unsigned long id, const char *label) { return ctl(id, label, "float", "float"); }
constexpr control_row distance(unsigned long id, const char *label) { return ctl(id, label, "distance", "distance"); }
constexpr control_row percent(unsigned long id, const char *label) { return ctl(id, label, "percent", "percent"); }
constexpr control_row angle(unsigned long id, const char *label) { return ctl(id, label, "angle", "angle"); }
constexpr control_row choice(unsigned long id, const char *label) { return ctl(id, label, "iPopChoice", "integer"); }
constexpr control_row check(unsigned long id, const char *label) { return ctl(id, label, "iBoolean", "integer"); }
constexpr control_row button(unsigned long id, const char *label) { return ctl(id, label, "vButton", nullptr); }

constexpr unsigned long id_info = 32810;
constexpr unsigned long id_about = 32769;
constexpr unsigned long id_refresh = 32800;
constexpr unsigned long id_render_type = 32792;
constexpr unsigned long id_presets = 32798;
constexpr unsigned long id_add_preset = 32799;
constexpr unsigned long id_hidden = 32791;
constexpr unsigned long id_tabs = 32806;
constexpr unsigned long id_tree = 32807;
constexpr unsigned long id_twig = 32825;
constexpr unsigned long id_leaf = 32830;
constexpr unsigned long id_advanced = 32808;
constexpr unsigned long first_data_id = 32770;
constexpr unsigned long last_data_id = 32841;

using K = clamp_kind;
using T = st_tree;

// The controls in the order of the control list.
constexpr control_row controls[] = {
    ctl(id_info, "", "sInfo", "string"),
    divider(button(id_about, "About")),
    field(choice(id_refresh, "Refresh"), &T::refresh_mode, no_level),
    clamp(slider(field(integer(32770, "Branches"), &T::num_branches, 0), 1, 2000), K::below, 2),
    clamp(slider(field(integer(32771, "Segments"), &T::num_segments, 1), 4, 25), K::below, 4),
    clamp(slider(field(integer(32813, "Sub Segments"), &T::sub_segments, 1), 2, 4), K::below, 1),
    divider(clamp(slider(field(percent(32788, "Last fork distance"), &T::last_fork_distance, 1), 0, 1), K::above, 1)),
    named(field(distance(32779, "Branch tip jitter"), &T::tip_jitter, 0), "Tips jitter"),
    divider(slider(field(percent(32780, "Normals influence"), &T::normals_influence, 1), -3, 3)),
    slider(field(percent(32777, "Tree center"), &T::tree_center, 1), -1, 2),
    slider(field(percent(32814, "Tree center variation"), &T::tree_center_variation, 1), 0, 1),
    slider(field(angle(32772, "Branch crookedness"), &T::branch_crookedness, 1), 0, 45),
    clamp(field(distance(32775, "Branch thickness"), &T::branch_thickness, 2), K::zero_to, 0.001),
    field(distance(32776, "Trunk thickness"), &T::trunk_thickness, 2),
    divider(slider(field(percent(32815, "Offset from trunk"), &T::trunk_offset, 0), -1, 1)),
    divider(clamp(slider(field(real(32785, "Bias"), &T::bias, 1), 0, 5), K::below, 0.1)),
    slider(field(real(32778, "Branch bend"), &T::branch_bend, 1), -10, 10),
    slider(field(percent(32781, "WG range"), &T::wg_range, 2), 0, 1),
    slider(field(percent(32782, "WG hardness"), &T::wg_hardness, 2), 0, 1),
    clamp(slider(field(real(32783, "Distribution power"), &T::distribution_power, 0), 0, 1), K::below, 0.1),
    divider(clamp(slider(field(integer(32784, "Iterations"), &T::iterations, 0), 1, 25), K::below, 1)),
    slider(field(integer(32786, "Random seed"), &T::random_seed, 0), -1000, 1000),
    clamp(slider(field(integer(32794, "Optimization passes"), &T::optimization_passes, 2), 0, 25), K::below, 0),
    divider(clamp(slider(field(angle(32793, "Min angle"), &T::min_angle, 2), 0, 45), K::absolute)),
    field(choice(id_render_type, "Render Type"), &T::render_type, 2),
    button(id_presets, "Presets"),
    button(id_add_preset, "Add Preset"),
    field(check(32795, "Assign Range Weight Map"), &T::assign_range_wmap, 2),
    field(check(32796, "Assign Thick Weight Map"), &T::assign_thick_wmap, 2),
    slider(field(percent(32797, "WG Thick max"), &T::wg_thick_max, 2), 0, 1),
    clamp(slider(field(integer(32801, "Number of roots"), &T::num_roots, 2), 5, 12), K::below, 5),
    slider(field(real(32802, "Roots Gravity"), &T::roots_gravity, 2), -10, 10),
    divider(slider(field(angle(32804, "Roots Crookedness"), &T::roots_crookedness, 2), 0, 45)),
    divider(slider(field(angle(32805, "Trunk crookedness"), &T::trunk_crookedness, 1), 0, 45)),
    field(integer(id_hidden, "--hidden--"), &T::active, no_level),
    divider(field(check(32811, "Sort branches"), &T::sort_branches, 0)),
    clamp(slider(field(integer(32816, "Trunks"), &T::num_trunks, 0), 1, 5), K::above_branches),
    field(distance(32817, "Tips thickness"), &T::tips_thickness, 2),
    slider(field(percent(32818, "Range"), &T::twig_range, 2), 0, 1),
    slider(field(percent(32819, "Coverage"), &T::twig_coverage, 2), 0, 1),
    slider(field(percent(32820, "Length"), &T::twig_length, 2), 0, 10),
    clamp(slider(field(integer(32821, "Segments"), &T::twig_segments, 2), 0, 9), K::above, 9),
    field(check(32822, "Fixed length"), &T::twig_fixed, 2),
    field(choice(32823, "Type"), &T::twig_type, 2),
    slider(field(distance(32824, "Fixed length"), &T::twig_fixed_length, 2), 0, 1),
    slider(field(real(32826, "Trunk connection bend"), &T::trunk_connection_bend, 1), -10, 10),
    slider(field(real(32827, "Trunk bend"), &T::trunk_bend, 1), 0, 5),
    field(choice(32828, "Trunk thick type"), &T::trunk_thick_type, 1),
    field(choice(32829, "Trunk influence"), &T::trunk_influence, 1),
    field(ctl(32831, "Width", "distance", "float"), &T::leaf_width, 2),
    field(ctl(32832, "Length", "distance", "float"), &T::leaf_length, 2),
    field(choice(32833, "Shape"), &T::leaf_shape, 2),
    field(percent(32834, "Out"), &T::leaf_out, 2),
    field(percent(32835, "Hang"), &T::leaf_hang, 2),
    field(percent(32836, "Tip Hang"), &T::leaf_tip_hang, 2),
    field(percent(32837, "Randomness"), &T::leaf_randomness, 2),
    divider(field(check(32838, "Twin"), &T::leaf_twin, 2)),
    field(real(32839, "Size"), &T::leaf_size, 2),
    divider(field(real(32840, "Size tip"), &T::leaf_size_tip, 2)),
    field(integer(32841, "Density"), &T::leaf_density, 2),
};
constexpr std::size_t control_count = sizeof(controls) / sizeof(controls[0]);
static_assert(control_count == 60, "the panel shows sixty controls");

// Fields the getter and setter answer for although no control shows them.
constexpr control_row hidden_fields[] = {
    clamp(field(ctl(32773, "", nullptr, "float"), &T::diverge, 1), K::below, 0.01),
    field(ctl(32787, "", nullptr, "integer"), &T::spare_int1, 1),
    clamp(field(ctl(32803, "", nullptr, "float"), &T::roots_length, 2), K::below, 0.1),
    field(ctl(32812, "", nullptr, "float"), &T::spare_double, 1),
};

const control_row *find_row(unsigned long id)
{
    if (id < first_data_id || id > last_data_id)
        return nullptr;
    for (const control_row &r : controls)
        if (r.id == id)
            return &r;
    for (const control_row &r : hidden_fields)
        if (r.id == id)
            return &r;
    return nullptr;
}

bool has_field(const control_row &r) { return r.i || r.d || r.c; }

// ---- the control list, data description and hints handed to the host

struct panel_lists {
    LWXPanelControl controls[control_count + 1];
    LWXPanelDataDesc data[control_count + 1];

    panel_lists() : controls{}, data{}
    {
        std::size_t n = 0;
        for (std::size_t k = 0; k < control_count; ++k) {
            const control_row &r = ramulon::controls[k];
            controls[k] = LWXPanelControl{r.id, r.label, r.control};
            if (r.data)
                data[n++] = LWXPanelDataDesc{r.id, r.data_name ? r.data_name : r.label, r.data};
        }
    }
};

const unsigned long tree_ids[] = {32770, 32771, 32813, 32785, 32777, 32814, 32780, 32775, 32817, 32779, 32778,
                                  32826, 32772, 32829, 32811, 32816, 32828, 32776, 32827, 32805, 32786, 0};
const unsigned long twig_ids[] = {32823, 32818, 32819, 32821, 32822, 32820, 32824, 0};
const unsigned long leaf_ids[] = {32833, 32841, 32838, 32832, 32831, 32839, 32840, 32834, 32835, 32836, 32837, 0};
const unsigned long advanced_ids[] = {32794, 32793, 32788, 32815, 32801, 32802, 32804,
                                      32783, 32784, 32795, 32781, 32782, 32796, 32797, 0};
const unsigned long tab_ids[] = {id_tree, id_twig, id_leaf, id_advanced, 0};
const unsigned long enabled_while_active[] = {id_tree, id_twig, id_leaf, id_advanced,
                                              id_refresh, id_render_type, id_add_preset, 0};

const char *const render_types[] = {"Skeleton", "Polygonal", "SubD", nullptr};
const char *const refresh_modes[] = {"Manual", "Automatic", nullptr};
const char *const twig_types[] = {"off", "up", "down", "horizontal", "branch", "random", "side", nullptr};
const char *const thick_types[] = {"thick", "thin", nullptr};
const char *const influences[] = {"off", "on", "fade", nullptr};
const char *const leaf_shapes[] = {"none", "one poly", "two polys", "rhombus", "three polys", "rhombus2", nullptr};

void about(LWXPanelID, int);

LWXPanelHint hint(int kind, unsigned long id)
{
    LWXPanelHint h{};
    h.kind = kind;
    h.id = id;
    return h;
}

LWXPanelHint text_hint(int kind, unsigned long id, const char *text)
{
    LWXPanelHint h = hint(kind, id);
    h.text = text;
    return h;
}

LWXPanelHint ids_hint(int kind, unsigned long id, const unsigned long *ids)
{
    LWXPanelHint h = hint(kind, id);
    h.ids = ids;
    return h;
}

LWXPanelHint choices_hint(unsigned long id, const char *const *strings)
{
    LWXPanelHint h = hint(XPH_STRLIST, id);
    h.strings = strings;
    return h;
}

LWXPanelHint click_hint(unsigned long id, LWXPanelBtnClickFunc f)
{
    LWXPanelHint h = hint(XPH_BUTNCLICK, id);
    h.buttonClick = f;
    return h;
}

// The hints in the order the panel is built with: title, dividers, tabs, choices, buttons,
// destroy action, slider ranges, enable rule, hidden control.
std::vector<LWXPanelHint> make_hints()
{
    std::vector<LWXPanelHint> hints;
    hints.push_back(text_hint(XPH_LABEL, 0, "Ramulon 1.6"));
    for (const control_row &r : controls)
        if (r.divider)
            hints.push_back(hint(XPH_DIVADD, r.id));

    hints.push_back(ids_hint(XPH_GROUP, id_tree, tree_ids));
    hints.push_back(text_hint(XPH_LABEL, id_tree, "Tree"));
    hints.push_back(ids_hint(XPH_GROUP, id_twig, twig_ids));
    hints.push_back(text_hint(XPH_LABEL, id_twig, "Twig"));
    hints.push_back(ids_hint(XPH_GROUP, id_leaf, leaf_ids));
    hints.push_back(text_hint(XPH_LABEL, id_leaf, "Leaf"));
    hints.push_back(ids_hint(XPH_GROUP, id_advanced, advanced_ids));
    hints.push_back(text_hint(XPH_LABEL, id_advanced, "Advanced"));
    hints.push_back(ids_hint(XPH_TABS, id_tabs, tab_ids));

    hints.push_back(choices_hint(id_render_type, render_types));
    hints.push_back(choices_hint(id_refresh, refresh_modes));
    hints.push_back(choices_hint(32823, twig_types));
    hints.push_back(choices_hint(32828, thick_types));
    hints.push_back(choices_hint(32829, influences));
    hints.push_back(choices_hint(32833, leaf_shapes));

    hints.push_back(click_hint(id_about, about));
    hints.push_back(click_hint(id_presets, shelf_open));
    hints.push_back(click_hint(id_add_preset, shelf_addpreset));

    LWXPanelHint destroy = hint(XPH_DESTROYNOTIFY, 0);
    destroy.destroyNotify = shelf_destroy;
    hints.push_back(destroy);

    for (const control_row &r : controls) {
        if (!r.slider)
            continue;
        LWXPanelHint range = hint(XPH_RANGE, r.id);
        range.min = r.min;
        range.max = r.max;
        range.step = 1.0;
        hints.push_back(range);
    }

    LWXPanelHint enable = ids_hint(XPH_ENABLE, id_hidden, enabled_while_active);
    enable.text = "Tool is currently inactive.";
    hints.push_back(enable);
    hints.push_back(hint(XPH_HIDDEN, id_hidden));
    hints.push_back(hint(XPH_END, 0));
    return hints;
}

void about(LWXPanelID, int)
{
    if (!msg)
        return;
    static const std::string credit =
        std::string("ramulon ") + version_text + ", procedural trees grown from a sketched crown";
    msg->info(credit.c_str(), "https://ramulon.example.org");
}

// The two weight-map flags are 8-bit fields; the host exchanges an int for every check box.
int flag_view[2];

void store(st_tree *t, const control_row &r, const void *value)
{
    if (r.i)
        t->*r.i = *static_cast<const int32_t *>(value);
    else if (r.d)
        t->*r.d = *static_cast<const double *>(value);
    else
        t->*r.c = static_cast<char>(*static_cast<const int *>(value));
}

void apply_clamp(st_tree *t, const control_row &r)
{
    switch (r.clamp) {
    case clamp_kind::none:
        break;
    case clamp_kind::below:
        if (r.i && t->*r.i < r.limit)
            t->*r.i = static_cast<int32_t>(r.limit);
        if (r.d && t->*r.d < r.limit)
            t->*r.d = r.limit;
        break;
    case clamp_kind::above:
        if (r.i && t->*r.i > r.limit)
            t->*r.i = static_cast<int32_t>(r.limit);
        if (r.d && t->*r.d > r.limit)
            t->*r.d = r.limit;
        break;
    case clamp_kind::zero_to:
        if (t->*r.d == 0.0)
            t->*r.d = r.limit;
        break;
    case clamp_kind::absolute:
        if (t->*r.d < 0.0)
            t->*r.d = std::fabs(t->*r.d);
        break;
    case clamp_kind::above_branches:
        if (t->*r.i > t->num_branches)
            t->*r.i = t->num_branches;
        break;
    }
}

} // namespace

LWXPanelID Panel(void *inst)
{
    static const panel_lists lists;
    static const std::vector<LWXPanelHint> hints = make_hints();

    panel = xpanf ? xpanf->create(LWXP_VIEW, lists.controls) : nullptr;
    if (!panel)
        return nullptr;
    xpanf->hint(panel, 0, hints.data());
    xpanf->describe(panel, lists.data, Get_Parms, Set_Parms);
    xpanf->setData(panel, 0, inst);
    return panel;
}

void *Get_Parms(void *inst, unsigned long id)
{
    st_tree *t = static_cast<st_tree *>(inst);
    if (id == id_info)
        return const_cast<char *>(version_text);
    const control_row *r = find_row(id);
    if (!r || !has_field(*r))
        return nullptr;
    if (r->i)
        return &(t->*r->i);
    if (r->d)
        return &(t->*r->d);
    int &view = flag_view[r->c == &st_tree::assign_range_wmap ? 0 : 1];
    view = t->*r->c;
    return &view;
}

int Set_Parms(void *inst, unsigned long id, void *value)
{
    st_tree *t = static_cast<st_tree *>(inst);
    const control_row *r = find_row(id);
    if (!r || !has_field(*r) || id == id_hidden || !value)
        return 0;

    if (id == id_refresh) {
        // Choosing "Manual" while already manual asks for one rebuild; leaving "Automatic"
        // for "Manual" asks for none.
        const int32_t old_mode = t->refresh_mode;
        t->refresh_mode = *static_cast<const int32_t *>(value);
        if (t->refresh_mode == 1 || (t->refresh_mode == 0 && old_mode == 0))
            t->test_state = LWT_TEST_UPDATE;
        t->dirty = 1;
        return 2;
    }

    store(t, *r, value);
    apply_clamp(t, *r);
    if (t->refresh_mode == 1 || id == id_render_type)
        t->test_state = LWT_TEST_UPDATE;
    change_status(t, r->level);
    t->dirty = 1;
    return 2;
}

} // namespace ramulon
