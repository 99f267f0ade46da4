# Renders trees for the README's gallery with Blender's Cycles, each GLB imported with the glTF
# importer's default options and rendered as it comes (nothing done to its materials), each in a
# tile of its own with its name below it, the tiles put together in one contact sheet:
#   blender -b --factory-startup --python tools/render_gallery.py -- OUT.png NAME=TREE.glb ...
# Options after OUT.png: --tile WIDTHxHEIGHT (default 360x450), --columns N (default 4),
# --samples N (Cycles samples a pixel, default 32). tools/gallery.sh grows the shipped presets
# and calls this.
import math
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from blender_stage import bounds, render_cycles, sun_and_sky  # noqa: E402  (after the path)

import bpy  # noqa: E402
import numpy  # noqa: E402
from mathutils import Vector  # noqa: E402

BACKGROUND = (0.93, 0.94, 0.95, 1.0)  # the sheet behind the tiles and the label band
LABEL_COLOUR = (0.08, 0.08, 0.08, 1.0)


def arguments():
    args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    options = {"tile": "360x450", "columns": "4", "samples": "32"}
    trees = []
    out = None
    i = 0
    while i < len(args):
        if args[i].startswith("--") and i + 1 < len(args):
            options[args[i][2:]] = args[i + 1]
            i += 2
            continue
        if out is None:
            out = args[i]
        else:
            name, _, path = args[i].partition("=")
            trees.append((name, path))
        i += 1
    if out is None or not trees:
        raise SystemExit("usage: render_gallery.py -- OUT.png NAME=TREE.glb ... [--tile WxH] [--columns N]")
    width, height = (int(v) for v in options["tile"].split("x"))
    return out, trees, width, height, int(options["columns"]), int(options["samples"])


def clear_scene():
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj, do_unlink=True)
    for block in (bpy.data.meshes, bpy.data.materials, bpy.data.images, bpy.data.cameras,
                  bpy.data.lights, bpy.data.curves, bpy.data.worlds):
        for item in list(block):
            block.remove(item)


def plain_material(name, colour, emission=False):
    material = bpy.data.materials.new(name)
    material.use_nodes = True
    nodes = material.node_tree.nodes
    if emission:
        nodes.clear()
        out = nodes.new("ShaderNodeOutputMaterial")
        light = nodes.new("ShaderNodeEmission")
        light.inputs["Color"].default_value = colour
        material.node_tree.links.new(light.outputs[0], out.inputs["Surface"])
    else:
        nodes["Principled BSDF"].inputs["Base Color"].default_value = colour
        nodes["Principled BSDF"].inputs["Roughness"].default_value = 1.0
    return material


def stage(label, width, height):
    """Ground, sun, sky, a camera framing the imported tree and the label below it."""
    trees = [o for o in bpy.context.scene.objects if o.type == "MESH"]
    low, high = bounds(trees)
    centre = (low + high) / 2
    tree_height = high.z - low.z
    radius = max(high.x - low.x, high.y - low.y) / 2

    bpy.ops.mesh.primitive_circle_add(vertices=64, radius=max(radius, tree_height / 2) * 1.5,
                                      fill_type="NGON", location=(centre.x, centre.y, low.z))
    bpy.context.active_object.data.materials.append(plain_material("ground", (0.16, 0.15, 0.11, 1)))

    sun_and_sky()

    # Framed from the front and a little above: the whole tree and a band below it for its name.
    bpy.ops.object.camera_add()
    camera = bpy.context.active_object
    camera.data.lens = 50
    camera.data.sensor_fit = "VERTICAL"
    view = 2 * math.atan(camera.data.sensor_height / 2 / camera.data.lens)  # vertical angle
    aspect = width / height
    need = max(tree_height * 1.22, 2 * radius * 1.1 / aspect)
    distance = need / 2 / math.tan(view / 2) + radius
    target = Vector((centre.x, centre.y, low.z + tree_height * 0.44))
    camera.location = (target.x, target.y - distance, target.z + distance * 0.12)
    camera.rotation_euler = (target - camera.location).to_track_quat("-Z", "Y").to_euler()
    bpy.context.scene.camera = camera

    # The name, in the band at the bottom of the picture, a metre in front of the camera.
    bpy.ops.object.text_add()
    text = bpy.context.active_object
    text.data.body = label
    text.data.align_x = "CENTER"
    text.data.align_y = "BOTTOM"
    seen = 2 * math.tan(view / 2)  # the picture's height a metre away
    text.data.size = seen * 0.075
    text.data.materials.append(plain_material("label", LABEL_COLOUR, emission=True))
    text.parent = camera
    text.location = (0.0, -seen * 0.47, -1.0)
    text.rotation_euler = (0.0, 0.0, 0.0)


def render_tile(label, path, out, width, height, samples):
    clear_scene()
    bpy.ops.import_scene.gltf(filepath=path)
    stage(label, width, height)
    render_cycles(out, width, height, samples)


def pixels_of(path):
    image = bpy.data.images.load(path)
    width, height = image.size
    data = numpy.empty(width * height * 4, dtype=numpy.float32)
    image.pixels.foreach_get(data)
    bpy.data.images.remove(image)
    return data.reshape(height, width, 4)  # rows from the bottom, as Blender keeps them


def main():
    out, trees, width, height, columns, samples = arguments()
    folder = tempfile.mkdtemp(prefix="ramulon-gallery-")
    tiles = []
    for i, (label, path) in enumerate(trees):
        tile = os.path.join(folder, "tile%02d.png" % i)
        render_tile(label, path, tile, width, height, samples)
        tiles.append(tile)

    gap = max(4, width // 40)
    rows = (len(tiles) + columns - 1) // columns
    columns = min(columns, len(tiles))
    sheet_w = columns * width + (columns + 1) * gap
    sheet_h = rows * height + (rows + 1) * gap
    sheet = numpy.empty((sheet_h, sheet_w, 4), dtype=numpy.float32)
    sheet[:, :] = BACKGROUND
    for i, tile in enumerate(tiles):
        row, column = divmod(i, columns)
        x = gap + column * (width + gap)
        y = sheet_h - (gap + row * (height + gap)) - height  # Blender's rows run upward
        sheet[y:y + height, x:x + width] = pixels_of(tile)
    image = bpy.data.images.new("gallery", sheet_w, sheet_h, alpha=True)
    image.pixels.foreach_set(sheet.ravel())
    image.filepath_raw = os.path.abspath(out)
    image.file_format = "PNG"
    image.save()
    for tile in tiles:
        os.remove(tile)
    os.rmdir(folder)
    print("gallery: %d trees in %s" % (len(tiles), out))
    sys.stdout.flush()
    os._exit(0)


main()
