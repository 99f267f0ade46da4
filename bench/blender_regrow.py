# How long the leafy demo (the shipped leafy preset on the round crown) takes to regrow into its
# Blender object, headless, with the add-on installed from its zip into a temporary user folder
# (bench/blender_regrow.sh sets it up):
#   blender -b --factory-startup --python bench/blender_regrow.py -- out/ramulon_blender-*.zip [RUNS]
# Prints each run's wall time of object.ramulon_regrow and the split: settings and crown into the
# library, the library's build, the arrays into Blender (mesh, UV maps, attributes, vertex
# groups, tags) and the materials; then the median of each.
import os
import shutil
import statistics
import sys
import tempfile
import time

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
zip_path = os.path.abspath(args[0])
runs = int(args[1]) if len(args) > 1 else 7
source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

if "BLENDER_USER_SCRIPTS" not in os.environ:
    sys.exit("set BLENDER_USER_SCRIPTS to a temporary folder (bench/blender_regrow.sh does)")
work = tempfile.mkdtemp(prefix="ramulon-bench-")
bpy.ops.preferences.addon_install(filepath=zip_path, overwrite=True)
bpy.ops.preferences.addon_enable(module="ramulon_blender")
from ramulon_blender import growth  # noqa: E402

shelf = os.path.join(work, "shelf")
os.makedirs(shelf)
for ext in ("preset", "png"):
    shutil.copy(os.path.join(source, "samples", "presets", f"leafy.{ext}"), shelf)
bpy.context.preferences.addons["ramulon_blender"].preferences.shelf_folder = shelf

for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
sys.path.insert(0, os.path.join(source, "tools"))
from blender_crown import crown_from_obj  # noqa: E402
crown = crown_from_obj(os.path.join(source, "samples", "round_crown.obj"), "Round crown")[0]
bpy.context.view_layer.objects.active = crown
crown.select_set(True)
bpy.ops.object.ramulon_tree_add()
tree = bpy.context.active_object
bpy.ops.object.ramulon_preset_apply(name="leafy")
print(f"leafy demo: {len(tree.data.vertices)} points, {len(tree.data.polygons)} faces")

rows = []
for run in range(runs):
    started, cpu = time.perf_counter(), time.process_time()
    times = growth.grow_now(tree)
    wall = time.perf_counter() - started
    cpu = time.process_time() - cpu
    rows.append((wall, times["settings"], times["build"], times["arrays"], times["materials"], cpu))
    print(f"run {run + 1}: {wall:.3f} s wall, {cpu:.3f} s CPU (settings and crown {times['settings']:.3f}, "
          f"library build {times['build']:.3f}, arrays into Blender {times['arrays']:.3f}, "
          f"materials {times['materials']:.3f})")
median = [statistics.median(column) for column in zip(*rows)]
print(f"load average while measuring: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
print(f"median: {median[0]:.3f} s wall, {median[5]:.3f} s CPU; settings and crown {median[1]:.3f}, library build {median[2]:.3f}, "
      f"arrays into Blender {median[3]:.3f}, materials {median[4]:.3f}")
shutil.rmtree(work, ignore_errors=True)
