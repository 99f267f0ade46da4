# The tool's panel as Blender properties. Every control the library describes becomes one
# property of `Object.ramulon`, named by its record field, labelled, ranged and typed as the
# tool's panel shows it: a control added to the tool appears here by itself.
#
# Blender keeps float properties in single precision while the tool keeps doubles, so the tree's
# settings live exactly in `record` (JSON, field -> the panel's value) and the properties mirror
# it for the sidebar. An edit in the sidebar goes to the library as the value the artist typed:
# the shortest text that gives back Blender's float (so 0.03 stays 0.03, not 0.029999999...).
import json
import math

import bpy
import numpy

# Kinds of control that hold a value of the record.
VALUE_KINDS = ("integer", "number", "distance", "angle", "percent", "choice", "checkbox")


class Control:
    """One control of the tool's panel, as read once from the library."""

    def __init__(self, control):
        self.id = control.id
        self.name = control.name
        self.label = control.label
        self.tab = control.tab
        self.kind = control.kind
        self.range = control.range
        self.choices = list(control.choices)
        self.enabled = control.enabled
        self.default = control.value


_controls = []   # Control, in the panel's order, only those bound to a record field
_by_name = {}
_tabs = []       # the tab names in order of first appearance


def describe(session):
    """Reads the panel description from a session of the library (once per add-on load)."""
    _controls.clear()
    _by_name.clear()
    _tabs.clear()
    for control in session.controls:
        # Hidden controls carry the tool's own state (whether it is active), not a setting.
        if control.kind not in VALUE_KINDS or not control.name or control.label.startswith("--"):
            continue
        c = Control(control)
        _controls.append(c)
        _by_name[c.name] = c
        if c.tab and c.tab not in _tabs:
            _tabs.append(c.tab)


def controls():
    return _controls


def control(name):
    return _by_name.get(name)


def tabs():
    return _tabs


def in_tab(tab):
    return [c for c in _controls if c.tab == tab]


def defaults():
    return {c.name: c.default for c in _controls}


# ---------------------------------------------------------------- values both ways

def typed(value):
    """The shortest decimal text of a single-precision float, as the number it reads as."""
    return float(str(numpy.float32(value)))


def from_blender(c, value):
    """A property's value as the tool's panel would show it."""
    if c.kind == "choice":
        return c.choices.index(value)
    if c.kind == "checkbox":
        return bool(value)
    if c.kind == "integer":
        return int(value)
    if c.kind == "angle":
        return typed(math.degrees(value))
    return typed(value)


def to_blender(c, value):
    """The panel's value as the property holds it."""
    if c.kind == "choice":
        index = int(value)
        return c.choices[index] if 0 <= index < len(c.choices) else c.choices[0]
    if c.kind == "checkbox":
        return bool(value)
    if c.kind == "integer":
        return int(value)
    if c.kind == "angle":
        return math.radians(value)
    return float(value)


def same_in_blender(c, record_value, blender_value):
    """Whether the property still shows the recorded value (an edit that changed nothing)."""
    shown = to_blender(c, record_value)
    if isinstance(shown, float):
        return numpy.float32(shown) == numpy.float32(blender_value)
    return shown == blender_value


# ---------------------------------------------------------------- the record on the object

def read_record(settings):
    try:
        record = json.loads(settings.record) if settings.record else {}
    except ValueError:
        record = {}
    values = defaults()
    values.update({k: v for k, v in record.items() if k in values})
    return values


def write_record(settings, values):
    settings.record = json.dumps(values, sort_keys=True)


_syncing = 0


def show_record(settings, values):
    """Puts the record's values into the properties without treating them as edits."""
    global _syncing
    _syncing += 1
    try:
        for c in _controls:
            if c.name in values:
                wanted = to_blender(c, values[c.name])
                if getattr(settings, c.name) != wanted:
                    setattr(settings, c.name, wanted)
    finally:
        _syncing -= 1


def _on_edit(field):
    def update(settings, context):
        if _syncing or not settings.is_tree:
            return
        from . import growth  # growth imports this module
        growth.edited(settings.id_data, field)
    return update


def _property(c):
    args = {"name": c.label, "description": f"{c.tab + ' / ' if c.tab else ''}{c.label}",
            "update": _on_edit(c.name)}
    low, high = c.range if c.range else (None, None)
    if c.kind == "choice":
        items = [(label, label, "") for label in c.choices]
        return bpy.props.EnumProperty(items=items, default=to_blender(c, c.default), **args)
    if c.kind == "checkbox":
        return bpy.props.BoolProperty(default=bool(c.default), **args)
    if c.kind == "integer":
        if c.range:
            args.update(soft_min=int(low), soft_max=int(high))
        return bpy.props.IntProperty(default=int(c.default), **args)
    if c.kind == "angle":
        args.update(subtype="ANGLE", unit="ROTATION", step=100)
        if c.range:
            args.update(soft_min=math.radians(low), soft_max=math.radians(high))
    elif c.kind == "percent":
        args.update(subtype="PERCENTAGE", precision=1)
    elif c.kind == "distance":
        args.update(subtype="DISTANCE", unit="LENGTH", precision=3, step=1)
    else:
        args.update(precision=3)
    if c.range and c.kind != "angle":
        args.update(soft_min=float(low), soft_max=float(high))
    return bpy.props.FloatProperty(default=to_blender(c, c.default), **args)


def settings_class():
    """The property group `Object.ramulon`: one property per control, plus the tree's own."""
    annotations = {c.name: _property(c) for c in _controls}
    annotations.update({
        "is_tree": bpy.props.BoolProperty(options={"HIDDEN"}),
        "tree_id": bpy.props.StringProperty(options={"HIDDEN"}),
        "record": bpy.props.StringProperty(options={"HIDDEN"}),
        "crown": bpy.props.PointerProperty(
            type=bpy.types.Object, name="Crown",
            description="The mesh whose polygons, in world space, the tree grows in",
            poll=lambda self, obj: obj.type == "MESH" and not obj.ramulon.is_tree),
        "subdivision_levels": bpy.props.IntProperty(
            name="Subdivision levels", description="Levels of the SubD cage's Subdivision Surface modifier",
            default=2, min=0, max=6, update=_levels_changed),
    })
    return type("RamulonSettings", (bpy.types.PropertyGroup,), {"__annotations__": annotations})


def _levels_changed(settings, context):
    obj = settings.id_data
    if _syncing or not settings.is_tree:
        return
    from . import mesh_out
    mesh_out.set_subdivision(obj, mesh_out.subdivided(obj), settings.subdivision_levels)
