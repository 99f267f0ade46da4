# Imports Ramulon's exports into Blender, as an artist would, and checks that they look like a
# tree without work by hand. Run by tests/blender/run.sh:
#   blender -b --factory-startup --python check_import.py -- FILE[:CHECK]...
# Every file: no import error, no corner normal against its face, and no vertex colours (the
# wind weights would tint every material). Unless CHECK is "imports" or "card": a base-colour
# texture and a normal map on every woody material, the bark's texels square on every woody
# surface (along over around between 0.8 and 1.25, area-weighted, through the UV map the bark
# uses), the leaf material alpha-masked. CHECK may also be "cage" (an OBJ quad cage: woody faces
# are mostly quads, not triangles), "smooth=OTHER" (a subdivided export: at least eight times the
# woody faces of the file OTHER, the same tree unsubdivided), "tinted" (written with
# --wind-colours: vertex colours expected), "imports" (a file whose materials are not LOD0's: it
# imports), "levels" (a game-ready file: every level wears textured bark and alpha-masked leaves,
# its wood reaches as low as LOD0's, and the far card shows its picture), "ground=OTHER" (a level
# of its own: its wood reaches as low as the file OTHER's, its LOD0) or "card" (the far card
# alone, showing its picture).
# Prints one line per problem and exits 1 when there is any.
import sys

# Debian's Blender 3.4 imports glTF with numpy.bool, which Debian's newer numpy removed.
import warnings
import numpy
with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    if not hasattr(numpy, "bool"):
        numpy.bool = bool

import os

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from texel_aspect import texel_sums  # noqa: E402

WOODY = ("RM_trunk", "RM_branch", "RM_twig", "RM_root")
LEAF = "VF_leaf"
problems = []


def surface(material_name):
    # The importer may add ".001" when the same name comes twice.
    return material_name.split(".")[0]


def clear_scene():
    bpy.ops.object.select_all(action="SELECT")
    bpy.ops.object.delete()
    for block in (bpy.data.meshes, bpy.data.materials, bpy.data.images):
        for item in list(block):
            block.remove(item)


def import_file(path):
    clear_scene()
    try:
        if path.endswith(".obj"):
            result = bpy.ops.wm.obj_import(filepath=path)
        else:
            result = bpy.ops.import_scene.gltf(filepath=path)
    except Exception as error:  # the importer's own failure, as the user would see it
        problems.append(f"{path}: import failed: {error}")
        return []
    if "FINISHED" not in result:
        problems.append(f"{path}: import did not finish: {result}")
    return [o for o in bpy.context.scene.objects if o.type == "MESH"]


def base_colour_image(material):
    if not material.use_nodes:
        return None
    for node in material.node_tree.nodes:
        if node.type != "BSDF_PRINCIPLED":
            continue
        pending = [link.from_node for link in node.inputs["Base Color"].links]
        seen = set()
        while pending:
            current = pending.pop()
            if current in seen:
                continue
            seen.add(current)
            if current.type == "TEX_IMAGE" and current.image is not None:
                return current.image
            for socket in current.inputs:
                pending.extend(link.from_node for link in socket.links)
    return None


def alpha_masked(material):
    # glTF's MASK becomes alpha clipping; the OBJ importer's map_d an alpha-blended image.
    if material.blend_method not in ("CLIP", "HASHED", "BLEND"):
        return False
    for node in material.node_tree.nodes:
        if node.type == "BSDF_PRINCIPLED" and node.inputs["Alpha"].links:
            return True
    return False


def has_image(material):
    return material.use_nodes and any(node.type == "TEX_IMAGE" and node.image is not None
                                      for node in material.node_tree.nodes)


def check_materials(path, objects):
    # Bark textured, leaves alpha-masked, on every mesh the file holds; the far card its picture.
    for obj in objects:
        for material in obj.data.materials:
            if material is None:
                continue
            name = surface(material.name)
            if name in WOODY and base_colour_image(material) is None:
                problems.append(f"{path}: {obj.name}: material {name} has no base-colour texture")
            elif name == LEAF and not alpha_masked(material):
                problems.append(f"{path}: {obj.name}: leaf material {LEAF} is not alpha-masked "
                                f"(blend {material.blend_method})")
            elif name == "RM_far_card" and not has_image(material):
                problems.append(f"{path}: {obj.name}: the far card shows no picture")


def lowest_wood(objects):
    low = None
    for obj in objects:
        mesh = obj.data
        names = [surface(m.name) if m else "" for m in mesh.materials]
        for poly in mesh.polygons:
            if poly.material_index < len(names) and names[poly.material_index] in WOODY:
                for index in poly.vertices:
                    z = (obj.matrix_world @ mesh.vertices[index].co).z
                    low = z if low is None else min(low, z)
    return low


def height_of(objects):
    zs = [(obj.matrix_world @ v.co).z for obj in objects for v in obj.data.vertices]
    return max(zs) - min(zs) if zs else 0.0


def check_ground(path, what, low, reference, height):
    if low is None:
        problems.append(f"{path}: {what} has no wood")
    elif abs(low - reference) > 0.01 * height:
        problems.append(f"{path}: {what}'s wood starts at {low:.3f}, LOD0's at {reference:.3f}")


def bark_uv_layer(material, mesh):
    # The UV map the base-colour texture reads: a UV Map node's, else the mesh's first.
    for node in material.node_tree.nodes if material.use_nodes else []:
        if node.type == "TEX_IMAGE" and node.inputs["Vector"].links:
            source = node.inputs["Vector"].links[0].from_node
            if source.type == "UVMAP" and source.uv_map:
                return source.uv_map
    return mesh.uv_layers[0].name if len(mesh.uv_layers) else None


def has_normal_map(material):
    for node in material.node_tree.nodes if material.use_nodes else []:
        if node.type == "BSDF_PRINCIPLED":
            return any(link.from_node.type == "NORMAL_MAP" for link in node.inputs["Normal"].links)
    return False


def bark_aspects(objects):
    # Per woody surface, metres along one unit of the bark's v over metres around one unit of
    # its u, each weighted by the area of the triangles they are measured on.
    sums = {}
    for obj in objects:
        for index, material in enumerate(obj.data.materials):
            if material is None or surface(material.name) not in WOODY:
                continue
            layer = bark_uv_layer(material, obj.data)
            if layer is None:
                continue
            along, around = texel_sums(obj, [index], layer)
            entry = sums.setdefault(surface(material.name), [0.0, 0.0])
            entry[0] += along
            entry[1] += around
    return {name: along / around for name, (along, around) in sums.items() if around > 0.0}


def woody_faces(objects):
    triangles = quads = 0
    for obj in objects:
        mesh = obj.data
        names = [surface(m.name) if m else "" for m in mesh.materials]
        for poly in mesh.polygons:
            if names and poly.material_index < len(names) and names[poly.material_index] in WOODY:
                if poly.loop_total == 3:
                    triangles += 1
                else:
                    quads += 1
    return triangles, quads


def check(path, expectation, counts):
    objects = import_file(path)
    if not objects:
        problems.append(f"{path}: no mesh imported")
        return
    materials = {surface(m.name): m for o in objects for m in o.data.materials if m}
    colours = sum(len(o.data.color_attributes) for o in objects)
    if expectation == "tinted" and colours == 0:
        problems.append(f"{path}: written with wind colours, but no vertex colours came in")
    elif expectation != "tinted" and colours:
        problems.append(f"{path}: {colours} vertex colour layers would tint the tree")
    aspects = {}
    if expectation not in ("imports", "card"):
        for name in WOODY:
            if name in materials and base_colour_image(materials[name]) is None:
                problems.append(f"{path}: material {name} has no base-colour texture")
            if name in materials and not has_normal_map(materials[name]):
                problems.append(f"{path}: material {name} has no normal map")
        if not any(name in materials for name in WOODY):
            problems.append(f"{path}: no woody material")
        if LEAF in materials and not alpha_masked(materials[LEAF]):
            problems.append(f"{path}: leaf material {LEAF} is not alpha-masked "
                            f"(blend {materials[LEAF].blend_method})")
        aspects = bark_aspects(objects)
        for name, aspect in sorted(aspects.items()):
            if not 0.8 <= aspect <= 1.25:
                problems.append(f"{path}: bark on {name} is {aspect:.2f} times as long as it is wide")
        if not aspects:
            problems.append(f"{path}: no bark coordinates to measure")

    against = total = 0
    for obj in objects:
        mesh = obj.data
        mesh.calc_normals_split()
        for poly in mesh.polygons:
            if poly.area < 1e-12:
                continue
            face = poly.normal
            for index in poly.loop_indices:
                total += 1
                if mesh.loops[index].normal.dot(face) <= 0.0:
                    against += 1
    if against:
        problems.append(f"{path}: {against} of {total} corner normals point against their face")

    if expectation == "card":
        check_materials(path, objects)
        if "RM_far_card" not in materials:
            problems.append(f"{path}: no far card")
    elif expectation == "levels":
        check_materials(path, objects)
        levels = {}
        for obj in objects:
            level = obj.name.split(".")[0].rsplit("_", 1)[-1]
            levels.setdefault(level, []).append(obj)
        if "LOD0" not in levels or len(levels) < 3:
            problems.append(f"{path}: levels {sorted(levels)}")
        else:
            reference, height = lowest_wood(levels["LOD0"]), height_of(levels["LOD0"])
            for level, members in sorted(levels.items()):
                if level.startswith("LOD") and level[3:].isdigit():
                    check_ground(path, level, lowest_wood(members), reference, height)
    elif expectation.startswith("ground="):
        check_materials(path, objects)
        other = expectation[len("ground="):]
        here = lowest_wood(objects)
        lod0 = import_file(other)
        check_ground(path, "the level", here, lowest_wood(lod0), height_of(lod0))
        objects = import_file(path)

    triangles, quads = woody_faces(objects)
    counts[path] = triangles + quads
    if expectation == "cage" and quads <= triangles:
        problems.append(f"{path}: the cage is {triangles} triangles and {quads} quads")
    elif expectation.startswith("smooth="):
        other = expectation[len("smooth="):]
        if other not in counts:
            check(other, "", counts)
        if counts[path] < 8 * counts[other]:
            problems.append(f"{path}: {counts[path]} woody faces, not subdivided "
                            f"({counts[other]} in {other})")
    shape = ", ".join(f"{name} {aspect:.2f}" for name, aspect in sorted(aspects.items()))
    print(f"{path}: {len(objects)} meshes, {len(materials)} materials, {total} corners, "
          f"{triangles} woody triangles, {quads} woody quads" + (f"; bark along/around: {shape}" if shape else ""))


def main():
    args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    counts = {}
    for arg in args:
        path, _, expectation = arg.partition(":")
        check(path, expectation, counts)
    for line in problems:
        print("PROBLEM " + line)
    print(f"{len(args)} files, {len(problems)} problems")
    sys.stdout.flush()
    # Blender's own exit code does not follow a script's: leave with ours.
    import os
    os._exit(1 if problems or not args else 0)


main()
