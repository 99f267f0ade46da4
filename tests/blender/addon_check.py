# The add-on in background mode, installed from its zip (run by addon_run.sh):
#   blender -b --factory-startup --python addon_check.py -- ZIP SOURCE_DIR WORK_DIR
# Grows trees from a cube and from the round crown and compares them with the library's trees,
# edits controls, saves and reopens, uses the preset shelf, and walks every error path a user can
# reach. Prints one line per problem and exits 1 when there is any.
import os
import sys

import bpy
import numpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from addon_common import (arguments, blender_to_tool, check, clear_scene, compare, crown_from_obj,  # noqa: E402
                          crown_object, finish, install, library_tree, select_only)
from texel_aspect import texel_sums  # noqa: E402

zip_path, source_dir, work = arguments()[:3]
ramulon = install(zip_path)


def tree_add():
    bpy.ops.object.ramulon_tree_add()
    return bpy.context.active_object


def error_of(call):
    """The one-line report of an operator that refuses (Blender raises it as RuntimeError)."""
    try:
        call()
    except RuntimeError as error:
        return str(error)
    return None


def scene_state():
    return sorted((o.name, o.type, len(o.data.vertices) if o.type == "MESH" else 0) for o in bpy.data.objects)


# ---- a cube: a crown exact in single precision gives the command line's tree from the same OBJ
clear_scene()
bpy.ops.mesh.primitive_cube_add(size=2.0, location=(0.0, 0.0, 1.5))
cube = bpy.context.active_object
tree = tree_add()
check(tree is not None and tree.ramulon.is_tree and tree != cube, "no tree object from the cube")
check(tree.ramulon.crown == cube, "the tree does not name its crown")
# Blender's own OBJ exporter writes the crown Y-up, as the command line reads it.
obj_path = os.path.join(work, "cube.obj")
select_only(cube)
bpy.ops.wm.obj_export(filepath=obj_path, export_selected_objects=True, export_materials=False,
                      export_uv=False, export_normals=False)
select_only(tree)
session = ramulon.Session()
session.load_crown(obj_path)
compare(tree, session.build(), "cube, defaults")
# The skeleton's two-point polygons are edges.
check(len(tree.data.polygons) == 0 and len(tree.data.edges) > 0, "a skeleton should be edges only")

# A control edit regrows into the library's tree for the new value (Polygonal, then leaves).
tree.ramulon.render_type = "Polygonal"
tree.ramulon.twig_type = "random"
tree.ramulon.leaf_shape = "two polys"
bpy.ops.object.ramulon_regrow()
session.controls["render_type"] = "Polygonal"
session.controls["Twig/Type"] = "random"
session.controls["Leaf/Shape"] = "two polys"
compare(tree, session.build(), "cube, polygonal")
check(len(tree.data.materials) >= 3, "a leafy tree should have bark, twig and leaf materials")
# Where Blender's own OBJ importer puts the same tree (its rotation rounds in the last bits).
exported = os.path.join(work, "cube_tree.obj")
session.tree.write(exported)
bpy.ops.wm.obj_import(filepath=exported)
imported = next(o for o in bpy.context.selected_objects if o.type == "MESH")
world = numpy.array([imported.matrix_world @ v.co for v in imported.data.vertices])
ours = numpy.array([v.co for v in tree.data.vertices])
for name, a, b in (("lowest", world.min(0), ours.min(0)), ("highest", world.max(0), ours.max(0))):
    check(numpy.allclose(a, b, atol=1e-5), f"the tree's {name} corner {b} is not the OBJ importer's {a}")
bpy.data.objects.remove(imported)
select_only(tree)
check(tree.data.uv_layers.get("RM_branch") is not None, "no RM_branch UV map")

# The panel's clamps: "Branches" 0 is stored as 2.
tree.ramulon.num_branches = 0
check(tree.ramulon.num_branches == 2, f"Branches 0 shows {tree.ramulon.num_branches}, not the tool's 2")
tree.ramulon.num_branches = 60
tree.ramulon.tree_center = 55.0   # percent, as the panel shows it
tree.ramulon.branch_crookedness = numpy.radians(12.0)
bpy.ops.object.ramulon_regrow()
session.controls["num_branches"] = 60
session.controls["tree_center"] = 55
session.controls["branch_crookedness"] = 12
compare(tree, session.build(), "cube, edited")

# SubD: the cage under a Subdivision Surface modifier.
tree.ramulon.render_type = "SubD"
tree.ramulon.subdivision_levels = 1
bpy.ops.object.ramulon_regrow()
modifier = tree.modifiers.get("Ramulon SubD")
check(modifier is not None and modifier.type == "SUBSURF" and modifier.levels == 1, "a SubD tree has no subdivision modifier")
session.controls["render_type"] = "SubD"
compare(tree, session.build(), "cube, SubD cage")
tree.ramulon.render_type = "Polygonal"
bpy.ops.object.ramulon_regrow()
check(tree.modifiers.get("Ramulon SubD") is None, "a polygonal tree keeps the subdivision modifier")

# ---- the round crown, built from the OBJ's numbers (single-precision in Blender, Y-up to Z-up)
clear_scene()
crown, blender_points, faces = crown_from_obj(os.path.join(source_dir, "samples", "round_crown.obj"), "Round crown")
select_only(crown)
tree = tree_add()
values = {"render_type": "Polygonal", "Twig/Type": "random", "Leaf/Shape": "rhombus"}
tree.ramulon.render_type = "Polygonal"
tree.ramulon.twig_type = "random"
tree.ramulon.leaf_shape = "rhombus"
bpy.ops.object.ramulon_regrow()
round_session, round_tree = library_tree(ramulon, blender_to_tool(blender_points), faces, values)
compare(tree, round_tree, "round crown, rhombus leaves")
for name in ("RM_range", "RM_thick"):
    check(tree.vertex_groups.get(name) is not None, f"no vertex group {name}")
for name in ("RM_leaf", "RM_all_leaves"):
    check(tree.data.uv_layers.get(name) is not None, f"no UV map {name}")
leaf = next((m for m in tree.data.materials if m.get("ramulon_surface") == "VF_leaf"), None)
if check(leaf is not None, "no leaf material"):
    check(leaf.blend_method == "CLIP" and not leaf.use_backface_culling, "the leaf material is not clipped and two-sided")
    check(any(n.type == "TEX_IMAGE" and n.image is not None for n in leaf.node_tree.nodes), "the leaf material has no image")
bark = next((m for m in tree.data.materials if m.get("ramulon_surface") == "RM_trunk"), None)
if check(bark is not None, "no trunk material"):
    check(any(n.type == "TEX_IMAGE" and n.image is not None for n in bark.node_tree.nodes), "the bark has no image")
# The bark repeats along the tree by the trunk's proportions, so the trunk's texels are square:
# metres along one repeat over metres around once, measured on the trunk's faces.
repeat = tree.get("ramulon_bark_repeat", 1.0)
trunk_slots = [i for i, m in enumerate(tree.data.materials) if m and m.get("ramulon_surface") == "RM_trunk"]
along, around = texel_sums(tree, trunk_slots, "RM_branch", repeat)
if check(around > 0.0, "no trunk faces with \"RM_branch\""):
    aspect = along / around
    check(0.8 <= aspect <= 1.25, f"the trunk's bark is {aspect:.2f} times as long as it is wide (repeat {repeat})")

# ---- save, reopen, change a control: it regrows
blend = os.path.join(work, "tree.blend")
bpy.ops.wm.save_as_mainfile(filepath=blend)
tree_name = tree.name
bpy.ops.wm.open_mainfile(filepath=blend)
tree = bpy.data.objects[tree_name]
select_only(tree)
check(tree.ramulon.is_tree and tree.ramulon.leaf_shape == "rhombus", "the reopened tree lost its settings")
tree.ramulon.leaf_shape = "one poly"
bpy.ops.object.ramulon_regrow()
round_session.controls["Leaf/Shape"] = "one poly"
compare(tree, round_session.build(), "reopened, one-poly leaves")

# ---- presets: add, apply, remove; the thumbnail is the library's
shelf = os.path.join(os.environ["HOME"], ".ramulon", "shelf")
bpy.ops.object.ramulon_preset_add(name="Test oak")
check(os.path.isfile(os.path.join(shelf, "Test oak.preset")), f"no preset file in {shelf}")
thumbnail = os.path.join(shelf, "Test oak.png")
if check(os.path.isfile(thumbnail), "the preset has no thumbnail"):
    with open(thumbnail, "rb") as f:
        check(f.read() == round_session.thumbnail(), "the preset's thumbnail differs from the library's")
tree.ramulon.leaf_shape = "none"
tree.ramulon.num_branches = 40
bpy.ops.object.ramulon_regrow()
bpy.ops.object.ramulon_preset_apply(name="Test oak")
check(tree.ramulon.leaf_shape == "one poly" and tree.ramulon.num_branches == 150, "applying the preset did not restore its settings")
preset_session = ramulon.Session()
preset_session.load_crown(blender_to_tool(blender_points), [list(f) for f in faces])
preset_session.load_preset(os.path.join(shelf, "Test oak.preset"))
compare(tree, preset_session.build(), "preset applied")
bpy.ops.object.ramulon_preset_remove(name="Test oak")
check(not os.path.exists(os.path.join(shelf, "Test oak.preset")), "the preset was not removed")

# ---- errors: one line each, no traceback, the scene as it was
before = scene_state()
empty = bpy.data.objects.new("Not a mesh", None)
bpy.context.scene.collection.objects.link(empty)
before = scene_state()
select_only(empty)
message = error_of(lambda: bpy.ops.object.ramulon_tree_add())
check(message is not None and "no mesh" in message and "\n" not in message.strip(), f"non-mesh crown: {message!r}")
check(scene_state() == before, "a refused tree changed the scene")

flat = crown_object("Points only", [(0, 0, 0), (1, 0, 0), (0, 1, 1)], [])
before = scene_state()
select_only(flat)
message = error_of(lambda: bpy.ops.object.ramulon_tree_add())
check(message is not None and "Need something in BG Layer" in message, f"crown without faces: {message!r}")
check(scene_state() == before, "a crown without faces changed the scene")

prefs = bpy.context.preferences.addons["ramulon_blender"].preferences
select_only(tree)
coordinates = [tuple(v.co) for v in tree.data.vertices[:50]]
prefs.memory_limit = "1M"
tree.ramulon.num_branches = 400
message = error_of(lambda: bpy.ops.object.ramulon_regrow())
check(message is not None and "Tree too large" in message, f"tree beyond the memory budget: {message!r}")
check([tuple(v.co) for v in tree.data.vertices[:50]] == coordinates, "a refused build changed the tree")
prefs.memory_limit = ""

prefs.shelf_folder = os.path.join(os.environ["HOME"], "no such folder")
message = error_of(lambda: bpy.ops.object.ramulon_preset_add(name="x"))
check(message is not None and "does not exist" in message, f"missing shelf folder: {message!r}")
prefs.shelf_folder = ""

finish()
