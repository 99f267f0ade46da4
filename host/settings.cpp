#include "settings.h"

#include <cctype>
#include <cmath>
#include <optional>
#include <vector>

#include "common/lower_case.h"
#include "common/index_cast.h"
#include "number_text.h"
#include "quoted_text.h"
#include "xpanel.h"

namespace host {

using ramulon::ErrorKind;
using ramulon::Result;
using ramulon::Status;

namespace {

// What a field without a control exchanges with the tool.
enum class field_kind { control, integer, number };

struct field_entry {
    const char *name;
    unsigned long id;
    field_kind kind;
};

// The tool's record fields that its panel answers for, by panel id. Four of them have no
// control and are reached by field name only.
const field_entry fields[] = {
    {"num_branches", 32770, field_kind::control},
    {"num_segments", 32771, field_kind::control},
    {"branch_crookedness", 32772, field_kind::control},
    {"diverge", 32773, field_kind::number},
    {"branch_thickness", 32775, field_kind::control},
    {"trunk_thickness", 32776, field_kind::control},
    {"tree_center", 32777, field_kind::control},
    {"branch_bend", 32778, field_kind::control},
    {"tip_jitter", 32779, field_kind::control},
    {"normals_influence", 32780, field_kind::control},
    {"wg_range", 32781, field_kind::control},
    {"wg_hardness", 32782, field_kind::control},
    {"distribution_power", 32783, field_kind::control},
    {"iterations", 32784, field_kind::control},
    {"bias", 32785, field_kind::control},
    {"random_seed", 32786, field_kind::control},
    {"spare_int1", 32787, field_kind::integer},
    {"last_fork_distance", 32788, field_kind::control},
    {"render_type", 32792, field_kind::control},
    {"min_angle", 32793, field_kind::control},
    {"optimization_passes", 32794, field_kind::control},
    {"assign_range_wmap", 32795, field_kind::control},
    {"assign_thick_wmap", 32796, field_kind::control},
    {"wg_thick_max", 32797, field_kind::control},
    {"refresh_mode", 32800, field_kind::control},
    {"num_roots", 32801, field_kind::control},
    {"roots_gravity", 32802, field_kind::control},
    {"roots_length", 32803, field_kind::number},
    {"roots_crookedness", 32804, field_kind::control},
    {"trunk_crookedness", 32805, field_kind::control},
    {"sort_branches", 32811, field_kind::control},
    {"spare_double", 32812, field_kind::number},
    {"sub_segments", 32813, field_kind::control},
    {"tree_center_variation", 32814, field_kind::control},
    {"trunk_offset", 32815, field_kind::control},
    {"num_trunks", 32816, field_kind::control},
    {"tips_thickness", 32817, field_kind::control},
    {"twig_range", 32818, field_kind::control},
    {"twig_coverage", 32819, field_kind::control},
    {"twig_length", 32820, field_kind::control},
    {"twig_segments", 32821, field_kind::control},
    {"twig_fixed", 32822, field_kind::control},
    {"twig_type", 32823, field_kind::control},
    {"twig_fixed_length", 32824, field_kind::control},
    {"trunk_connection_bend", 32826, field_kind::control},
    {"trunk_bend", 32827, field_kind::control},
    {"trunk_thick_type", 32828, field_kind::control},
    {"trunk_influence", 32829, field_kind::control},
    {"leaf_width", 32831, field_kind::control},
    {"leaf_length", 32832, field_kind::control},
    {"leaf_shape", 32833, field_kind::control},
    {"leaf_out", 32834, field_kind::control},
    {"leaf_hang", 32835, field_kind::control},
    {"leaf_tip_hang", 32836, field_kind::control},
    {"leaf_randomness", 32837, field_kind::control},
    {"leaf_twin", 32838, field_kind::control},
    {"leaf_size", 32839, field_kind::control},
    {"leaf_size_tip", 32840, field_kind::control},
    {"leaf_density", 32841, field_kind::control},
};

std::string trim(const std::string &s)
{
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return s.substr(a, b - a);
}

using ramulon::lower_case;

bool same(const std::string &a, const std::string &b) { return lower_case(a) == lower_case(b); }

std::string quoted(const std::string &s) { return quoted_text(s); }

// Controls a user can set: those with a value, shown, outside no button.
bool settable(const panel_control &c) { return !c.is_button() && !c.is_info() && !c.hidden; }

std::string qualified(const panel_control &c) { return c.tab.empty() ? c.label : c.tab + "/" + c.label; }

const char *field_of(unsigned long id)
{
    for (const field_entry &f : fields)
        if (f.id == id)
            return f.name;
    return nullptr;
}

// A name that picks one control: its label, else its tab-qualified label, else its field.
std::string unique_name(LWXPanelID panel, const panel_control &c)
{
    int bare = 0, in_tab = 0;
    for (const panel_control *o : panel_controls(panel)) {
        bare += settable(*o) && same(o->label, c.label);
        in_tab += settable(*o) && same(qualified(*o), qualified(c));
    }
    if (bare == 1)
        return c.label;
    if (in_tab == 1)
        return qualified(c);
    const char *f = field_of(c.id);
    return f ? f : qualified(c);
}

std::string accepted_names(LWXPanelID panel)
{
    std::string labels, names;
    for (const panel_control *c : panel_controls(panel))
        if (settable(*c))
            labels += (labels.empty() ? "" : ", ") + unique_name(panel, *c);
    for (const field_entry &f : fields)
        names += (names.empty() ? "" : ", ") + std::string(f.name);
    return "accepted are the labels " + labels + " (any label may take its tab, as in \"Tree/Branches\"), "
           "and the field names " + names;
}

struct target {
    unsigned long id = 0;
    const panel_control *control = nullptr; // null for a field without a control
    field_kind kind = field_kind::control;
    std::string name;                       // as the user wrote it
};

// Finds what NAME addresses.
Result<target> resolve(LWXPanelID panel, const std::string &name)
{
    for (const field_entry &f : fields) {
        if (name != f.name)
            continue;
        target t{f.id, find_control(panel, f.id), f.kind, name};
        if (f.kind == field_kind::control && !t.control)
            return ramulon::fail(ErrorKind::not_found, "the panel shows no control for " + quoted(name));
        return t;
    }

    const std::size_t slash = name.find('/');
    const std::string tab = slash == std::string::npos ? "" : trim(name.substr(0, slash));
    const std::string label = slash == std::string::npos ? name : trim(name.substr(slash + 1));
    std::vector<const panel_control *> hits;
    for (const panel_control *c : panel_controls(panel))
        if (settable(*c) && same(c->label, label) && (slash == std::string::npos || same(c->tab, tab)))
            hits.push_back(c);

    if (hits.size() == 1)
        return target{hits[0]->id, hits[0], field_kind::control, name};
    if (hits.empty())
        return ramulon::fail(ErrorKind::not_found, "unknown parameter " + quoted(name) + "; " + accepted_names(panel));
    std::string forms;
    for (std::size_t k = 0; k < hits.size(); ++k)
        forms += (k == 0 ? "" : k + 1 == hits.size() ? " or " : ", ") + quoted(unique_name(panel, *hits[k]));
    return ramulon::fail(ErrorKind::invalid_input, quoted(name) + " is ambiguous: use " + forms);
}

// Strips a unit the panel shows after the number, if the user typed it.
std::string without_suffix(std::string s, const std::vector<std::string> &suffixes)
{
    for (const std::string &suffix : suffixes)
        if (s.size() > suffix.size() && lower_case(s.substr(s.size() - suffix.size())) == suffix)
            return trim(s.substr(0, s.size() - suffix.size()));
    return s;
}

std::optional<int> parse_boolean(const std::string &s)
{
    const std::string v = lower_case(s);
    if (v == "on" || v == "1" || v == "true")
        return 1;
    if (v == "off" || v == "0" || v == "false")
        return 0;
    return std::nullopt;
}

std::optional<int> parse_choice(const panel_control &c, const std::string &s)
{
    for (std::size_t k = 0; k < c.choices.size(); ++k)
        if (same(c.choices[k], s))
            return ramulon::index_cast<int>(k);
    const std::optional<int32_t> index = parse_int32(s);
    if (index && *index >= 0 && ramulon::index_cast<std::size_t>(*index) < c.choices.size())
        return index;
    return std::nullopt;
}

std::string choice_list(const panel_control &c)
{
    std::string out;
    for (std::size_t k = 0; k < c.choices.size(); ++k)
        out += (k ? ", " : "") + quoted(c.choices[k]);
    return "one of " + out + " or its index 0.." + std::to_string(c.choices.empty() ? 0 : c.choices.size() - 1);
}

} // namespace

const char *setting_field_name(unsigned long id) { return field_of(id); }

Result<unsigned long> find_setting(LWXPanelID panel, const std::string &name)
{
    if (!is_panel(panel))
        return ramulon::fail(ErrorKind::internal, "the tool has no panel");
    const Result<target> t = resolve(panel, trim(name));
    if (!t)
        return t.error();
    return t->id;
}

unsigned long setting_field_id(const std::string &field)
{
    for (const field_entry &f : fields)
        if (field == f.name)
            return f.id;
    return 0;
}

namespace {

// Parses the text as the control (or field) expects it and hands it to the tool's setter.
Status apply_value(LWXPanelID panel, const target &t, const std::string &text)
{
    const std::string &name = t.name;
    const std::string assignment = name + "=" + text;
    const auto bad_value = [&](const std::string &expected) {
        return ramulon::fail(ErrorKind::invalid_input,
                             "bad value " + quoted(text) + " for " + quoted(name) + ": expected " + expected);
    };
    const auto refused = [&](ErrorKind kind, const std::string &why) {
        return ramulon::fail(kind, "cannot apply " + quoted(assignment) + ": " + why);
    };

    int result = -1;
    const panel_control *c = t.control;
    if (c && !control_enabled(panel, c->id))
        return refused(ErrorKind::invalid_input,
                       quoted(c->label) + " is greyed out (" + disabled_text(panel, c->id) + ")");
    if (t.kind == field_kind::integer || (c && c->holds_int())) {
        std::optional<int> v;
        std::string expected = "an integer";
        if (c && c->is_choice()) {
            v = parse_choice(*c, text);
            expected = choice_list(*c);
        } else if (c && c->is_boolean()) {
            v = parse_boolean(text);
            expected = "on, off, 1, 0, true or false";
        } else {
            v = parse_int32(text);
        }
        if (!v)
            return bad_value(expected);
        result = set_value(panel, t.id, *v);
    } else {
        const std::string type = c ? c->control_type : "";
        std::optional<double> v;
        std::string expected = "a number";
        if (type == "angle") {
            v = parse_finite(without_suffix(text, {"°", "deg"}));
            expected = "a number of degrees";
            if (v)
                v = (*v * panel_pi) / 180;
            if (v && !std::isfinite(*v)) // finite degrees, no finite angle
                return refused(ErrorKind::invalid_input, "the angle is too large");
        } else if (type == "percent") {
            v = parse_finite(without_suffix(text, {"%"}));
            expected = "a percentage, such as 40 for 40 %";
            if (v)
                v = *v / 100;
        } else if (type == "distance") {
            v = parse_finite(without_suffix(text, {"m"}));
            expected = "a distance in metres";
        } else {
            v = parse_finite(text);
        }
        if (!v)
            return bad_value(expected);
        result = set_value(panel, t.id, *v);
    }
    if (result < 0)
        return refused(ErrorKind::internal, "the panel takes no values");
    if (result == 0)
        return refused(ErrorKind::invalid_input, "the tool did not take the value");
    return {};
}

} // namespace

Status apply_setting(LWXPanelID panel, const std::string &assignment)
{
    if (!is_panel(panel))
        return ramulon::fail(ErrorKind::internal, "cannot apply " + quoted(assignment) + ": the tool has no panel");
    const std::size_t eq = assignment.find('=');
    if (eq == std::string::npos)
        return ramulon::fail(ErrorKind::invalid_input, "cannot apply " + quoted(assignment) +
                                                           ": expected NAME=VALUE, for example \"Branches=10\"");
    const std::string name = trim(assignment.substr(0, eq));
    const std::string text = trim(assignment.substr(eq + 1));

    const Result<target> t = resolve(panel, name);
    if (!t)
        return t.error();
    return apply_value(panel, *t, text);
}

Status apply_setting(LWXPanelID panel, unsigned long id, const std::string &value)
{
    if (!is_panel(panel))
        return ramulon::fail(ErrorKind::internal,
                             "cannot set the control " + std::to_string(id) + ": the tool has no panel");
    target t{id, find_control(panel, id), field_kind::control, ""};
    for (const field_entry &f : fields)
        if (f.id == id)
            t.kind = f.kind;
    if (t.control) {
        t.name = t.control->label.empty() ? std::to_string(id) : t.control->label;
        if (t.control->is_button())
            return ramulon::fail(ErrorKind::invalid_input, quoted(t.name) + " is a button: press it instead");
        if (!settable(*t.control))
            return ramulon::fail(ErrorKind::invalid_input,
                                 "the control " + std::to_string(id) +
                                     (t.control->label.empty() ? "" : " (" + quoted(t.control->label) + ")") +
                                     " takes no value");
    } else if (t.kind == field_kind::control) {
        return ramulon::fail(ErrorKind::not_found, "the panel has no control with the id " + std::to_string(id));
    } else {
        t.name = field_of(id);
    }
    return apply_value(panel, t, trim(value));
}

} // namespace host
