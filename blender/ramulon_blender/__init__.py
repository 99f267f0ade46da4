# Ramulon in Blender: the tree tool with Blender as its host. The crown is a mesh object, the
# tool's panel is the sidebar tab "Ramulon" (Object.ramulon holds a tree's settings), and the
# tree is a mesh object carrying every map the tool writes.
bl_info = {
    "name": "Ramulon",
    "author": "Ramulon",
    "version": (1, 6, 28),
    "blender": (3, 0, 0),
    "location": "View3D > Add > Ramulon Tree, View3D > Sidebar > Ramulon",
    "description": "Grows trees inside a crown sketched as polygons",
    "category": "Add Mesh",
}

if "bpy" in locals():
    import importlib
    for _name in ("library", "controls", "materials", "mesh_out", "growth", "shelf", "operators", "ui"):
        if _name in locals():
            importlib.reload(locals()[_name])

import bpy
from bpy.app.handlers import persistent

from . import controls, growth, library, operators, shelf, ui


class RamulonPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    shelf_folder: bpy.props.StringProperty(
        name="Shelf folder", subtype="DIR_PATH",
        description="Folder of the preset shelf (empty: ~/.ramulon/shelf, shared with the command line)")
    memory_limit: bpy.props.StringProperty(
        name="Memory limit",
        description='Memory a build may use, as "8G" or "512M" (empty: the available memory less a margin)')

    def draw(self, context):
        self.layout.prop(self, "shelf_folder")
        self.layout.prop(self, "memory_limit")
        if library.ramulon() is None:
            self.layout.label(text=library.error(), icon="ERROR")


@persistent
def _after_undo(*_args):
    trees = [o for o in bpy.data.objects if o.type == "MESH" and o.ramulon.is_tree]
    growth.regrow_stale(trees)


_registered = []


def register():
    bpy.utils.register_class(RamulonPreferences)
    _registered.append(RamulonPreferences)
    package = library.ramulon()
    if package is not None:
        try:
            with package.Session() as session:
                controls.describe(session)
        except package.Error as error:
            library._error = f"Ramulon's library cannot start: {growth.one_line(error)}"
    settings = controls.settings_class()
    for cls in (settings, *operators.classes, *ui.classes()):
        bpy.utils.register_class(cls)
        _registered.append(cls)
    bpy.types.Object.ramulon = bpy.props.PointerProperty(type=settings)
    ui.register_extras()
    bpy.app.handlers.undo_post.append(_after_undo)
    bpy.app.handlers.redo_post.append(_after_undo)


def unregister():
    for handlers in (bpy.app.handlers.undo_post, bpy.app.handlers.redo_post):
        if _after_undo in handlers:
            handlers.remove(_after_undo)
    growth.cancel_all()
    for job in list(growth._running.values()):
        job.thread.join(5.0)
    growth._running.clear()
    growth.drop_sessions()
    shelf.close()
    ui.unregister_extras()
    del bpy.types.Object.ramulon
    for cls in reversed(_registered):
        bpy.utils.unregister_class(cls)
    _registered.clear()
