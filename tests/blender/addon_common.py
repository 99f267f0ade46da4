# What the add-on's Blender tests share: installing the add-on from its zip into the temporary
# user folder, growing the same tree through the library, and comparing a tree object with it.
import os
import sys

import bpy
import numpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from blender_crown import crown_from_obj, crown_object  # noqa: E402,F401

problems = []


def check(condition, text):
    if not condition:
        problems.append(text)
        print("PROBLEM:", text)
    return condition


def arguments():
    return sys.argv[sys.argv.index("--") + 1:]


def install(zip_path):
    bpy.ops.preferences.addon_install(filepath=zip_path, overwrite=True)
    bpy.ops.preferences.addon_enable(module="ramulon_blender")
    import ramulon_blender  # noqa: F401  (the add-on puts its vendored package on the path)
    import ramulon
    where = os.path.realpath(ramulon.__file__)
    check(where.startswith(os.path.realpath(os.environ["BLENDER_USER_SCRIPTS"])),
          f"the ramulon package comes from {where}, not from the installed zip")
    return ramulon


def clear_scene():
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)


def select_only(obj):
    for other in bpy.context.view_layer.objects:
        other.select_set(False)
    if obj is not None:
        obj.select_set(True)
    bpy.context.view_layer.objects.active = obj


def blender_to_tool(points):
    """Blender's Z-up (x, y, z) is the tool's Y-up (x, z, -y)."""
    p = numpy.asarray(points, dtype=numpy.float64)
    return numpy.column_stack((p[:, 0], p[:, 2], -p[:, 1]))


def library_tree(ramulon, points, faces, values):
    """The library's tree for the crown (tool axes) and the panel's values."""
    session = ramulon.Session()
    session.load_crown(numpy.asarray(points, dtype=numpy.float64), [list(f) for f in faces])
    for name, value in values.items():
        session.controls[name] = value
    return session, session.build()


def tree_values(obj):
    import json
    return json.loads(obj.ramulon.record)


def _get(collection, field, count, width, dtype):
    out = numpy.empty(count * width, dtype=dtype)
    collection.foreach_get(field, out)
    return out.reshape(count, width) if width > 1 else out


def compare(obj, tree, what):
    """Every problem between the tree object and the library's tree, as lines."""
    mesh = obj.data
    before = len(problems)
    points = numpy.asarray(tree.points, dtype=numpy.float64)
    want = numpy.empty((len(points), 3), dtype=numpy.float32)
    want[:, 0], want[:, 1], want[:, 2] = points[:, 0], -points[:, 2], points[:, 1]
    co = _get(mesh.vertices, "co", len(mesh.vertices), 3, numpy.float32)
    if not check(co.shape == want.shape, f"{what}: {len(co)} points, the library {len(want)}"):
        return False
    check(numpy.array_equal(co, want), f"{what}: point coordinates differ from the library's")

    offsets = numpy.asarray(tree.polygons.offsets, dtype=numpy.int64)
    corners = numpy.asarray(tree.polygons.corners)
    counts = numpy.diff(offsets)
    faces = numpy.flatnonzero(counts >= 3)
    total = _get(mesh.polygons, "loop_total", len(mesh.polygons), 1, numpy.int32)
    loops = _get(mesh.loops, "vertex_index", len(mesh.loops), 1, numpy.int32)
    if not check(numpy.array_equal(total, counts[faces]), f"{what}: faces differ from the library's polygons"):
        return False
    face_corners = numpy.concatenate([corners[offsets[p]:offsets[p + 1]] for p in faces]) if len(faces) else loops
    check(numpy.array_equal(loops, face_corners), f"{what}: face corners differ")
    lines = {tuple(sorted(corners[offsets[p]:offsets[p] + 2])) for p in numpy.flatnonzero(counts == 2)}
    if lines:
        edges = {tuple(sorted(e.vertices)) for e in mesh.edges}
        check(lines <= edges, f"{what}: a two-point polygon is no edge")

    # Surfaces as material slots, in the tool's order.
    slots = [m.get("ramulon_surface", "").replace(" (plain)", "") for m in mesh.materials]
    check(slots[:len(tree.surface_names)] == list(tree.surface_names),
          f"{what}: material slots {slots}, surfaces {list(tree.surface_names)}")
    names = list(tree.names)
    surfaces = numpy.asarray(tree.polygons.surfaces)[faces]
    slot_index = _get(mesh.polygons, "material_index", len(mesh.polygons), 1, numpy.int32)
    expected = [slots.index(names[s]) if s >= 0 else len(slots) - 1 for s in surfaces.tolist()]
    check(slot_index.tolist() == expected, f"{what}: faces carry other materials than their surfaces")

    # Per map: UV maps (with the seams' polygon-specific values), weights, the rest.
    seams = {}
    for pmap in tree.polygon_maps:
        for p, v, value in zip(numpy.asarray(pmap.polygons).tolist(), numpy.asarray(pmap.points).tolist(),
                               numpy.asarray(pmap.values)):
            seams[(pmap.name, p, v)] = value
    face_of = {int(p): f for f, p in enumerate(faces.tolist())}
    starts = numpy.concatenate(([0], numpy.cumsum(total)[:-1])) if len(total) else total
    for vmap in tree.maps:
        values = numpy.asarray(vmap.values, dtype=numpy.float32).reshape(len(points), -1)
        present = numpy.asarray(vmap.presence) > 0
        if vmap.kind == "TXUV":
            layer = mesh.uv_layers.get(vmap.name)
            if not check(layer is not None, f"{what}: no UV map {vmap.name}"):
                continue
            uv = _get(layer.data, "uv", len(mesh.loops), 2, numpy.float32)
            wanted = values[loops, :2].copy()
            for (name, p, v), value in seams.items():
                if name == vmap.name and p in face_of:
                    f = face_of[p]
                    for k in range(total[f]):
                        if loops[starts[f] + k] == v:
                            wanted[starts[f] + k] = value[:2]
            check(numpy.array_equal(uv, wanted), f"{what}: UV map {vmap.name} differs")
        elif vmap.kind == "WGHT":
            attribute = mesh.attributes.get(vmap.name)
            if check(attribute is not None, f"{what}: no attribute {vmap.name}"):
                got = _get(attribute.data, "value", len(points), 1, numpy.float32)
                check(numpy.array_equal(got, values[:, 0]), f"{what}: attribute {vmap.name} differs")
            group = obj.vertex_groups.get(vmap.name)
            if check(group is not None, f"{what}: no vertex group {vmap.name}"):
                for i in numpy.linspace(0, len(points) - 1, 400).astype(int).tolist():
                    weight = next((g.weight for g in mesh.vertices[i].groups if g.group == group.index), None)
                    clipped = min(max(float(values[i, 0]), 0.0), 1.0)
                    if present[i] and clipped > 0.0:
                        check(weight is not None and abs(weight - clipped) < 1e-6,
                              f"{what}: point {i} weighs {weight} in {vmap.name}, the map holds {values[i, 0]}")
                    else:
                        check(weight is None, f"{what}: point {i} without weight is in {vmap.name}")
        else:
            attribute = mesh.attributes.get(vmap.name)
            if check(attribute is not None, f"{what}: no attribute {vmap.name}"):
                width = values.shape[1]
                field = "value" if width == 1 else "vector"
                got = _get(attribute.data, field, len(points), width, numpy.float32)
                if vmap.kind == "RMVT":
                    values = numpy.column_stack((values[:, 0], -values[:, 2], values[:, 1]))
                check(numpy.array_equal(got.reshape(values.shape), values), f"{what}: attribute {vmap.name} differs")

    for code, tags in tree.tags.items():
        code = code if isinstance(code, str) else int(code).to_bytes(4, "big").decode()
        attribute = mesh.attributes.get(f"RM_{code}")
        if not check(attribute is not None and attribute.domain == "FACE", f"{what}: no face attribute RM_{code}"):
            continue
        got = _get(attribute.data, "value", len(mesh.polygons), 1, numpy.int32)
        table = list(mesh[f"RM_{code}_names"])
        shown = [table[i] if i >= 0 else None for i in got.tolist()]
        wanted = [names[i] if i >= 0 else None for i in numpy.asarray(tags)[faces].tolist()]
        check(shown == wanted, f"{what}: tags {code} differ")
    return len(problems) == before


def finish():
    if problems:
        print(f"{len(problems)} problem(s)")
        sys.stdout.flush()
        os._exit(1)
    print("all checks passed")
    sys.stdout.flush()
