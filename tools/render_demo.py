# Renders an exported tree with Blender's Cycles for the README:
#   blender -b --factory-startup --python tools/render_demo.py -- TREE.glb OUT.png [SIZE]
# The tree is imported with the importer's defaults and its materials are left as they come
# (what an artist gets); the script adds only a ground disc, a sun, a pale sky and a camera
# framing it from the front and a little above.
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from blender_stage import bounds, render_cycles, sun_and_sky  # noqa: E402  (after the path)

import bpy  # noqa: E402

args = sys.argv[sys.argv.index("--") + 1:]
tree_path, out_path = args[0], args[1]
size = int(args[2]) if len(args) > 2 else 720

bpy.ops.object.select_all(action="SELECT")
bpy.ops.object.delete()
bpy.ops.import_scene.gltf(filepath=tree_path)
meshes = [o for o in bpy.context.scene.objects if o.type == "MESH"]

low, high = bounds(meshes)
centre = (low + high) / 2
height = high.z - low.z
radius = max(high.x - low.x, high.y - low.y, height) / 2

bpy.ops.mesh.primitive_circle_add(vertices=64, radius=radius * 1.6, fill_type="NGON",
                                  location=(centre.x, centre.y, low.z))
ground = bpy.context.active_object
ground_material = bpy.data.materials.new("ground")
ground_material.diffuse_color = (0.32, 0.30, 0.24, 1)
ground_material.use_nodes = True
ground_material.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.30, 0.28, 0.22, 1)
ground.data.materials.append(ground_material)

sun_and_sky()

distance = radius * 3.4
bpy.ops.object.camera_add(location=(centre.x, centre.y - distance, centre.z + height * 0.12))
camera = bpy.context.active_object
direction = centre - camera.location
camera.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()
camera.data.lens = 50
bpy.context.scene.camera = camera

render_cycles(out_path, size, size, 48)
os._exit(0)
