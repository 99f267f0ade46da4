# Renders an exported tree with Blender's Cycles for the README:
#   blender -b --factory-startup --python tools/render_demo.py -- TREE.glb OUT.png [SIZE]
# The tree is imported with the importer's defaults and its materials are left as they come
# (what an artist gets); the script adds only a ground disc, a sun, a pale sky and a camera
# framing it from the front and a little above.
import math
import sys
import warnings

import numpy
with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    if not hasattr(numpy, "bool"):  # Debian's Blender 3.4 glTF importer needs it
        numpy.bool = bool

import bpy
from mathutils import Vector

args = sys.argv[sys.argv.index("--") + 1:]
tree_path, out_path = args[0], args[1]
size = int(args[2]) if len(args) > 2 else 720

bpy.ops.object.select_all(action="SELECT")
bpy.ops.object.delete()
bpy.ops.import_scene.gltf(filepath=tree_path)
meshes = [o for o in bpy.context.scene.objects if o.type == "MESH"]

low = Vector((math.inf,) * 3)
high = Vector((-math.inf,) * 3)
for obj in meshes:
    for corner in obj.bound_box:
        world = obj.matrix_world @ Vector(corner)
        low = Vector(map(min, low, world))
        high = Vector(map(max, high, world))
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

bpy.ops.object.light_add(type="SUN", rotation=(math.radians(50), math.radians(10), math.radians(-35)))
bpy.context.active_object.data.energy = 4.0
world = bpy.data.worlds.new("sky")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.62, 0.72, 0.85, 1)
world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.9
bpy.context.scene.world = world

distance = radius * 3.4
bpy.ops.object.camera_add(location=(centre.x, centre.y - distance, centre.z + height * 0.12))
camera = bpy.context.active_object
direction = centre - camera.location
camera.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()
camera.data.lens = 50
bpy.context.scene.camera = camera

scene = bpy.context.scene
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 48
scene.cycles.use_denoising = False
scene.render.resolution_x = size
scene.render.resolution_y = size
scene.render.film_transparent = False
scene.view_settings.view_transform = "Filmic"
scene.render.image_settings.file_format = "PNG"
scene.render.filepath = out_path
bpy.ops.render.render(write_still=True)
import os
os._exit(0)
