# Node materials for the tool's surfaces, the same looks the exporters write: trunk, branches and
# roots one bark (Ramulon's bark image times 0.85), twigs the same bark a little lighter, leaves
# the leaf atlas alpha-clipped at 0.5 and seen from both sides, anything else its sketch colour.
# One material per surface name is made once per .blend and shared by every tree; how often the
# bark repeats along a tree comes from the tree object's "ramulon_bark_repeat".
import os

import bpy

from . import library

TRUNK = "RM_trunk"
LEAF = "VF_leaf"
DEFAULT = "Default"
BARK_MAP = "RM_branch"
ATLAS_MAP = "RM_all_leaves"
LEAF_MAP = "RM_leaf"
BARK_IMAGE = "bark.png"
ATLAS_IMAGE = "leaves.png"
LEAF_IMAGE = "leaf.png"
MARK = "ramulon_surface"  # custom property naming the surface a material was made for

SKETCH = {"Brown": (0.50, 0.33, 0.16), "Blue": (0.20, 0.30, 0.85), "Green": (0.22, 0.55, 0.17)}
PLAIN = (0.80, 0.80, 0.80)


def finish_of(surface):
    if surface in ("RM_trunk", "RM_branch", "RM_root"):
        return "bark"
    if surface == "RM_twig":
        return "twig"
    if surface == LEAF:
        return "leaf"
    return "plain"


def _image(name):
    """The add-on's image, loaded once into the .blend and packed so the file travels."""
    for image in bpy.data.images:
        if image.get(MARK) == name:
            return image
    path = os.path.join(library.TEXTURES, name)
    if not os.path.isfile(path):
        return None
    image = bpy.data.images.load(path, check_existing=False)
    image.name = f"Ramulon {name}"
    image[MARK] = name
    image.pack()
    return image


def _principled(nodes):
    for node in nodes:
        if node.type == "BSDF_PRINCIPLED":
            return node
    return nodes.new("ShaderNodeBsdfPrincipled")


def _build(material, surface, colour_tag, texture_maps):
    material.use_nodes = True
    tree = material.node_tree
    nodes, links = tree.nodes, tree.links
    for node in list(nodes):
        if node.type not in ("BSDF_PRINCIPLED", "OUTPUT_MATERIAL"):
            nodes.remove(node)
    shader = _principled(nodes)
    shader.inputs["Metallic"].default_value = 0.0
    shader.inputs["Roughness"].default_value = 1.0
    finish = finish_of(surface)
    image = None
    if finish in ("bark", "twig") and BARK_MAP in texture_maps:
        image, uv_name = _image(BARK_IMAGE), BARK_MAP
    elif finish == "leaf" and ATLAS_MAP in texture_maps:
        image, uv_name = _image(ATLAS_IMAGE), ATLAS_MAP
    elif finish == "leaf" and LEAF_MAP in texture_maps:
        image, uv_name = _image(LEAF_IMAGE), LEAF_MAP
    if image is None:
        colour = {"bark": SKETCH["Brown"], "twig": (0.625, 0.4975, 0.37),
                  "leaf": SKETCH["Green"]}.get(finish, SKETCH.get(colour_tag, PLAIN))
        shader.inputs["Base Color"].default_value = (*colour, 1.0)
        return
    uv = nodes.new("ShaderNodeUVMap")
    uv.uv_map = uv_name
    texture = nodes.new("ShaderNodeTexImage")
    texture.image = image
    texture.location = (-400, 300)
    uv.location = (-1000, 300)
    if finish == "leaf":
        texture.extension = "EXTEND"  # a leaf stays inside its cell of the atlas
        links.new(uv.outputs["UV"], texture.inputs["Vector"])
        links.new(texture.outputs["Color"], shader.inputs["Base Color"])
        clip = nodes.new("ShaderNodeMath")  # alpha-masked at 0.5, as the exports' MASK
        clip.operation = "GREATER_THAN"
        clip.inputs[1].default_value = 0.5
        clip.location = (-150, 0)
        links.new(texture.outputs["Alpha"], clip.inputs[0])
        links.new(clip.outputs["Value"], shader.inputs["Alpha"])
        if hasattr(material, "blend_method"):
            material.blend_method = "CLIP"
            material.alpha_threshold = 0.5
        if hasattr(material, "shadow_method"):
            material.shadow_method = "CLIP"
        material.use_backface_culling = False  # a leaf is one sheet, seen from both sides
        return
    # Bark: the image repeats "ramulon_bark_repeat" times along v for once around u.
    repeat = nodes.new("ShaderNodeAttribute")
    repeat.attribute_type = "OBJECT"
    repeat.attribute_name = "ramulon_bark_repeat"
    repeat.location = (-1000, 0)
    scale = nodes.new("ShaderNodeCombineXYZ")
    scale.inputs["X"].default_value = 1.0
    scale.inputs["Z"].default_value = 1.0
    scale.location = (-800, 0)
    links.new(repeat.outputs["Fac"], scale.inputs["Y"])
    mapping = nodes.new("ShaderNodeMapping")
    mapping.location = (-600, 300)
    links.new(uv.outputs["UV"], mapping.inputs["Vector"])
    links.new(scale.outputs["Vector"], mapping.inputs["Scale"])
    links.new(mapping.outputs["Vector"], texture.inputs["Vector"])
    factor = 0.85 if finish == "bark" else 1.0
    tint = nodes.new("ShaderNodeVectorMath")
    tint.operation = "MULTIPLY"
    tint.inputs[1].default_value = (factor, factor, factor)
    tint.location = (-150, 300)
    links.new(texture.outputs["Color"], tint.inputs[0])
    links.new(tint.outputs["Vector"], shader.inputs["Base Color"])


def material(surface, colour_tag, texture_maps):
    """The material of a surface, made on first use."""
    textured = any(m in texture_maps for m in (BARK_MAP, ATLAS_MAP, LEAF_MAP))
    key = f"{surface}{'' if textured else ' (plain)'}"
    for existing in bpy.data.materials:
        if existing.get(MARK) == key:
            return existing
    made = bpy.data.materials.new(surface)
    made[MARK] = key
    _build(made, surface, colour_tag, texture_maps if textured else ())
    return made
