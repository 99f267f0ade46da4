# The stage the README's renders share: the glTF importer made ready for Debian's Blender 3.4,
# the bounds of what was imported, a sun and a pale sky, and a Cycles render to a PNG. Imported
# by tools/render_demo.py and tools/render_gallery.py (Blender's Python, with this folder on
# sys.path); nothing here touches a tree's materials.
import math
import warnings

import numpy

with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    if not hasattr(numpy, "bool"):  # Debian's Blender 3.4 glTF importer needs it
        numpy.bool = bool

import bpy
from mathutils import Vector


def bounds(objects):
    """The lowest and highest corner, in world coordinates, of the objects' bounding boxes."""
    low = Vector((math.inf,) * 3)
    high = Vector((-math.inf,) * 3)
    for obj in objects:
        for corner in obj.bound_box:
            world = obj.matrix_world @ Vector(corner)
            low = Vector(map(min, low, world))
            high = Vector(map(max, high, world))
    return low, high


def sun_and_sky():
    bpy.ops.object.light_add(type="SUN", rotation=(math.radians(50), math.radians(10), math.radians(-35)))
    bpy.context.active_object.data.energy = 4.0
    world = bpy.data.worlds.new("sky")
    world.use_nodes = True
    world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.62, 0.72, 0.85, 1)
    world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.9
    bpy.context.scene.world = world


def render_cycles(out_path, width, height, samples):
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = samples
    scene.cycles.use_denoising = False
    scene.render.resolution_x = width
    scene.render.resolution_y = height
    scene.render.resolution_percentage = 100
    scene.render.film_transparent = False
    scene.view_settings.view_transform = "Filmic"
    scene.render.image_settings.file_format = "PNG"
    scene.render.filepath = out_path
    bpy.ops.render.render(write_still=True)
