# The sidebar tab "Ramulon": the tool's top controls and one sub-panel per tab of its panel, in
# the panel's order, made from the library's description; the preset shelf with thumbnails;
# "Add > Ramulon Tree".
import bpy

from . import controls, growth, library, shelf

CATEGORY = "Ramulon"


def _tree(context):
    obj = context.active_object
    if obj is not None and obj.type == "MESH" and obj.ramulon.is_tree:
        return obj
    return None


def _draw_controls(layout, settings, items):
    layout.use_property_decorate = False
    for c in items:
        row = layout.row()
        row.enabled = c.enabled
        if c.kind == "choice":  # a choice's label beside its menu; sliders carry theirs inside
            split = row.split(factor=0.5)
            split.label(text=c.label)
            split.prop(settings, c.name, text="")
        else:
            row.prop(settings, c.name, text=c.label)


class VIEW3D_PT_ramulon(bpy.types.Panel):
    bl_space_type = "VIEW_3D"
    bl_region_type = "UI"
    bl_category = CATEGORY
    bl_label = "Ramulon"

    def draw(self, context):
        layout = self.layout
        if library.ramulon() is None:
            layout.label(text=library.error(), icon="ERROR")
            return
        tree = _tree(context)
        if tree is None:
            layout.label(text="Select a mesh as the crown, then:")
            layout.operator("object.ramulon_tree_add", text="Add Ramulon Tree", icon="ADD")
            return
        settings = tree.ramulon
        _draw_controls(layout, settings, controls.in_tab(""))
        if mesh_subdivided(tree):
            layout.prop(settings, "subdivision_levels")
        layout.prop(settings, "crown")
        row = layout.row(align=True)
        row.operator("object.ramulon_regrow", icon="FILE_REFRESH")
        if growth.busy():
            row.operator("object.ramulon_cancel", text="", icon="CANCEL")
            layout.label(text=growth.progress_text(), icon="TIME")
        row = layout.row(align=True)
        row.menu("RAMULON_MT_shelf", text="Presets", icon="PRESET")
        row.operator("object.ramulon_preset_add", text="Add Preset", icon="ADD")
        try:
            if shelf.names():
                layout.template_icon_view(context.window_manager, "ramulon_shelf", show_labels=True, scale=6.0)
        except growth.expected_errors() as error:
            layout.label(text=growth.one_line(error), icon="ERROR")


def mesh_subdivided(tree):
    from . import mesh_out
    return mesh_out.subdivided(tree)


def _tab_panel(tab, index):
    def poll(cls, context):
        return library.ramulon() is not None and _tree(context) is not None

    def draw(self, context):
        _draw_controls(self.layout, _tree(context).ramulon, controls.in_tab(tab))

    return type(f"VIEW3D_PT_ramulon_tab_{index}", (bpy.types.Panel,), {
        "bl_space_type": "VIEW_3D", "bl_region_type": "UI", "bl_category": CATEGORY,
        "bl_label": tab, "bl_parent_id": "VIEW3D_PT_ramulon", "bl_options": {"DEFAULT_CLOSED"} if index else set(),
        "poll": classmethod(poll), "draw": draw})


class RAMULON_MT_shelf(bpy.types.Menu):
    bl_label = "Ramulon Presets"

    def draw(self, context):
        layout = self.layout
        try:
            names = shelf.names()
            where = shelf.folder()
        except growth.expected_errors() as error:
            layout.label(text=growth.one_line(error), icon="ERROR")
            return
        if not names:
            layout.label(text=f"No presets in {where}")
        for name in names:
            layout.operator("object.ramulon_preset_apply", text=name, icon_value=shelf.icon(name)).name = name
        layout.separator()
        layout.operator("object.ramulon_preset_add", icon="ADD")
        if names:
            layout.menu("RAMULON_MT_shelf_remove", icon="REMOVE")


class RAMULON_MT_shelf_remove(bpy.types.Menu):
    bl_label = "Remove Preset"

    def draw(self, context):
        try:
            names = shelf.names()
        except growth.expected_errors() as error:
            self.layout.label(text=growth.one_line(error), icon="ERROR")
            return
        for name in names:
            self.layout.operator("object.ramulon_preset_remove", text=name, icon_value=shelf.icon(name)).name = name


_shelf_items = []  # Blender needs the enum's items kept alive while it shows them


def _shelf_enum(self, context):
    _shelf_items.clear()
    try:
        for i, name in enumerate(shelf.names()):
            _shelf_items.append((name, name, f"Apply the preset {name}", shelf.icon(name), i))
    except growth.expected_errors():
        pass
    return _shelf_items or [("", "(no presets)", "", 0, 0)]


def _shelf_chosen(self, context):
    name = self.ramulon_shelf
    if name and _tree(context) is not None:
        bpy.ops.object.ramulon_preset_apply("INVOKE_DEFAULT", name=name)


def add_menu(self, context):
    self.layout.operator("object.ramulon_tree_add", text="Ramulon Tree", icon="OUTLINER_OB_MESH")


def classes():
    panels = [_tab_panel(tab, i) for i, tab in enumerate(controls.tabs())]
    return [VIEW3D_PT_ramulon, *panels, RAMULON_MT_shelf, RAMULON_MT_shelf_remove]


def register_extras():
    bpy.types.WindowManager.ramulon_shelf = bpy.props.EnumProperty(
        name="Presets", items=_shelf_enum, update=_shelf_chosen)
    bpy.types.VIEW3D_MT_add.append(add_menu)


def unregister_extras():
    bpy.types.VIEW3D_MT_add.remove(add_menu)
    del bpy.types.WindowManager.ramulon_shelf
