# A grown tree into a Blender mesh: the library's arrays go in whole through foreach_set, never
# element by element. The tool's world is Y-up, Blender's Z-up: a point (x, y, z) of the tool
# stands at (x, -z, y), where Blender's own OBJ and glTF importers put it.
import math
import time

import bpy
import numpy

from . import materials

SUBDIVISION_MODIFIER = "Ramulon SubD"
GROUP_SCRATCH = "__ramulon_group"
WEIGHT_KIND = "WGHT"
TEXTURE_KIND = "TXUV"
VECTOR_KIND = "RMVT"
CREASE_ANGLE = math.radians(60.0)  # where the exporters split normals between faces
# Blender's single-precision coordinates and colours: the tool's doubles each rounded once.
FLOAT = numpy.float32


def fourcc(code):
    return int.from_bytes(code.encode("ascii"), "big")


def code_text(value):
    return int(value).to_bytes(4, "big").decode("ascii", "replace")


PATCH = fourcc("PTCH")


def to_blender_axes(points):
    """(N, 3) tool coordinates (Y up) as Blender's (Z up), single precision."""
    out = numpy.empty((len(points), 3), dtype=FLOAT)
    out[:, 0] = points[:, 0]
    out[:, 1] = -points[:, 2]
    out[:, 2] = points[:, 1]
    return out


class Layout:
    """The tree's polygons as Blender splits them: faces (three corners or more) and edges (the
    skeleton's two-point polygons), with the loops of the faces."""

    def __init__(self, tree):
        polygons = tree.polygons
        offsets = numpy.asarray(polygons.offsets, dtype=numpy.int64)
        corners = numpy.asarray(polygons.corners, dtype=numpy.int32)
        counts = numpy.diff(offsets)
        is_face = counts >= 3
        self.polygon_count = len(counts)
        self.face_rows = numpy.flatnonzero(is_face)
        if is_face.all():
            self.loops = corners
        else:
            self.loops = corners[numpy.repeat(is_face, counts)]
        self.loop_total = counts[is_face].astype(numpy.int32)
        self.loop_start = numpy.zeros(len(self.loop_total), dtype=numpy.int32)
        if len(self.loop_total) > 1:
            numpy.cumsum(self.loop_total[:-1], out=self.loop_start[1:])
        edge_rows = numpy.flatnonzero(counts == 2)
        self.edges = corners[offsets[edge_rows][:, None] + numpy.arange(2)].astype(numpy.int32)
        self.face_of_polygon = numpy.full(self.polygon_count, -1, dtype=numpy.int64)
        self.face_of_polygon[self.face_rows] = numpy.arange(len(self.face_rows))
        self.loop_face = numpy.repeat(numpy.arange(len(self.loop_total)), self.loop_total)

    def degenerate(self):
        """Whether a face names one point twice, which Blender's mesh must not hold."""
        most = int(self.loop_total.max()) if len(self.loop_total) else 0
        for i in range(most):
            for j in range(i + 1, most):
                has = self.loop_total > j
                a = self.loops[self.loop_start[has] + i]
                b = self.loops[self.loop_start[has] + j]
                if numpy.any(a == b):
                    return True
        return False

    def loop_of(self, polygons, points):
        """The loop at each (polygon, point), -1 where the polygon is no face or lacks the point."""
        faces = self.face_of_polygon[polygons]
        found = numpy.full(len(polygons), -1, dtype=numpy.int64)
        valid = faces >= 0
        start = numpy.where(valid, self.loop_start[numpy.maximum(faces, 0)], 0)
        total = numpy.where(valid, self.loop_total[numpy.maximum(faces, 0)], 0)
        last = max(len(self.loops) - 1, 0)
        for j in range(int(total.max()) if len(total) else 0):
            candidate = start + j
            hit = (j < total) & (found < 0) & (self.loops[numpy.minimum(candidate, last)] == points)
            found[hit] = candidate[hit]
        return found


def _override(obj):
    window = bpy.context.window_manager.windows[0] if bpy.context.window_manager.windows else None
    values = {"object": obj, "active_object": obj}
    if window is not None:
        values["window"] = window
    return values


def _call_operator(idname, **properties):
    """Runs an operator without an undo step and without the view-layer updates bpy.ops makes
    before and after each call (each re-evaluates the whole tree, 70 ms on the leafy demo)."""
    try:
        from _bpy import ops as operators
        try:
            return operators.call(idname, None, properties, "EXEC_DEFAULT", False)
        except TypeError:  # a Blender whose call takes no context argument
            return operators.call(idname, properties, "EXEC_DEFAULT", False)
    except (ImportError, AttributeError, TypeError):
        module, name = idname.split(".")
        return getattr(getattr(bpy.ops, module), name)("EXEC_DEFAULT", False, **properties)


def _convert_to_group(obj):
    """Turns the mesh's active attribute into a vertex group (Blender's own conversion, in C).
    No undo step: the tree's undo step is the operator's or the edit's."""
    if hasattr(bpy.context, "temp_override"):
        with bpy.context.temp_override(**_override(obj)):
            return _call_operator("geometry.attribute_convert", mode="VERTEX_GROUP")
    return bpy.ops.geometry.attribute_convert(_override(obj), "EXEC_DEFAULT", False, mode="VERTEX_GROUP")


def add_weight_group(obj, name, weights, present):
    """A weight map as a vertex group: the points holding a value, their weights clamped to
    Blender's 0..1 (the float attribute of the same name keeps the exact values)."""
    mesh = obj.data
    values = numpy.where(present, numpy.clip(weights, 0.0, 1.0), 0.0).astype(FLOAT)
    scratch = mesh.attributes.new(GROUP_SCRATCH, "FLOAT", "POINT")
    scratch.data.foreach_set("value", values)
    mesh.attributes.active = scratch
    converted = False
    try:
        converted = "FINISHED" in _convert_to_group(obj)
    except (RuntimeError, AttributeError, KeyError, TypeError):  # no such operator, no context
        converted = False
    if converted and GROUP_SCRATCH in obj.vertex_groups:
        obj.vertex_groups[GROUP_SCRATCH].name = name
        return
    # Without a context for the conversion (another mode), one call per distinct weight.
    if GROUP_SCRATCH in mesh.attributes:
        mesh.attributes.remove(mesh.attributes[GROUP_SCRATCH])
    group = obj.vertex_groups.new(name=name)
    rows = numpy.flatnonzero(present & (values > 0.0))
    distinct, which = numpy.unique(values[rows], return_inverse=True)
    order = numpy.argsort(which, kind="stable")
    bounds = numpy.searchsorted(which[order], numpy.arange(len(distinct) + 1))
    indices = rows[order].tolist()
    for k, weight in enumerate(distinct.tolist()):
        group.add(indices[bounds[k]:bounds[k + 1]], weight, "REPLACE")


def _attribute(mesh, name, values, domain):
    """A float attribute of dimension 1 to 4; wider maps as one attribute per component."""
    dim = values.shape[1] if values.ndim == 2 else 1
    kinds = {1: ("FLOAT", "value"), 2: ("FLOAT2", "vector"), 3: ("FLOAT_VECTOR", "vector"),
             4: ("FLOAT_COLOR", "color")}
    if dim in kinds:
        kind, field = kinds[dim]
        attribute = mesh.attributes.new(name, kind, domain)
        attribute.data.foreach_set(field, numpy.ascontiguousarray(values, dtype=FLOAT).ravel())
        return
    for k in range(dim):
        _attribute(mesh, f"{name}.{k}", values[:, k], domain)


def bark_repeat(points, layout, uv, woody_faces, trunk_faces):
    """How often the bark repeats along the tree: the trunk's metres per unit of v over its
    metres per unit of u, area weighted, in hundredths, so that the trunk's bark is not
    stretched. (The exported files lay the bark on coordinates of its own, square on every tube.)"""
    faces = numpy.flatnonzero(trunk_faces) if trunk_faces.any() else numpy.flatnonzero(woody_faces)
    if len(faces) == 0 or uv is None:
        return 1.0
    start = layout.loop_start[faces]
    total = layout.loop_total[faces]
    along = around = 0.0
    for i in range(1, int(total.max()) - 1):
        has = total > i + 1
        l0, l1, l2 = start[has], start[has] + i, start[has] + i + 1
        p0 = points[layout.loops[l0]]
        e1 = points[layout.loops[l1]] - p0
        e2 = points[layout.loops[l2]] - p0
        t0 = uv[l0].astype(numpy.float64)
        t1 = uv[l1].astype(numpy.float64) - t0
        t2 = uv[l2].astype(numpy.float64) - t0
        du1, dv1, du2, dv2 = t1[:, 0], t1[:, 1], t2[:, 0], t2[:, 1]
        det = du1 * dv2 - du2 * dv1
        keep = numpy.abs(det) >= 1e-9  # caps and collars map a face onto a line
        with numpy.errstate(all="ignore"):
            du = (e1 * dv2[:, None] - e2 * dv1[:, None]) / det[:, None]
            dv = (e2 * du1[:, None] - e1 * du2[:, None]) / det[:, None]
            per_u = numpy.sum(du * du, axis=1)
            per_v = numpy.sum(dv * dv, axis=1)
            cross = numpy.linalg.norm(numpy.cross(e1, e2), axis=1)
        keep &= numpy.isfinite(per_u) & numpy.isfinite(per_v) & numpy.isfinite(cross)
        around += float(numpy.sum(cross[keep] * numpy.sqrt(per_u[keep])))
        along += float(numpy.sum(cross[keep] * numpy.sqrt(per_v[keep])))
    if not (around > 0.0 and along > 0.0):
        return 1.0
    repeat = math.floor(along / around * 100.0 + 0.5) / 100.0
    return repeat if 0.01 <= repeat <= 10000.0 else 1.0


def subdivided(obj):
    return SUBDIVISION_MODIFIER in obj.modifiers


def set_subdivision(obj, on, levels):
    """A SubD build is its cage under a Subdivision Surface modifier. Leaves stay flat cards:
    with their corners and boundary kept, a lone quad subdivides into itself."""
    modifier = obj.modifiers.get(SUBDIVISION_MODIFIER)
    if not on:
        if modifier is not None:
            obj.modifiers.remove(modifier)
        return
    if modifier is None:
        modifier = obj.modifiers.new(SUBDIVISION_MODIFIER, "SUBSURF")
    modifier.levels = levels
    modifier.render_levels = levels
    if hasattr(modifier, "boundary_smooth"):
        modifier.boundary_smooth = "PRESERVE_CORNERS"


def _smooth_by_angle(mesh):
    # Normals split where faces meet more sharply than the exporters' crease angle.
    if hasattr(mesh, "use_auto_smooth"):
        mesh.use_auto_smooth = True
        mesh.auto_smooth_angle = CREASE_ANGLE
    elif hasattr(mesh, "set_sharp_from_angle"):
        mesh.set_sharp_from_angle(angle=CREASE_ANGLE)


def fill(obj, tree, levels, times=None):
    """Replaces the mesh of the tree object with the tree. times, when given, receives the
    seconds spent on "arrays" and "materials"."""
    started = time.perf_counter()
    mesh = obj.data
    mesh.clear_geometry()
    obj.vertex_groups.clear()
    for name in [a.name for a in mesh.attributes if not a.name.startswith(".")]:
        if name in mesh.attributes:
            mesh.attributes.remove(mesh.attributes[name])

    points = numpy.asarray(tree.points, dtype=numpy.float64).reshape(-1, 3)
    layout = Layout(tree)
    mesh.vertices.add(len(points))
    mesh.vertices.foreach_set("co", to_blender_axes(points).ravel())
    if len(layout.edges):
        mesh.edges.add(len(layout.edges))
        mesh.edges.foreach_set("vertices", layout.edges.ravel())
    face_count = len(layout.loop_total)
    if face_count:
        mesh.loops.add(len(layout.loops))
        mesh.loops.foreach_set("vertex_index", layout.loops)
        mesh.polygons.add(face_count)
        mesh.polygons.foreach_set("loop_start", layout.loop_start)
        try:
            mesh.polygons.foreach_set("loop_total", layout.loop_total)
        except (AttributeError, TypeError, RuntimeError):
            pass  # newer Blender derives each face's size from the starts

    # Surfaces: one material slot per surface, in the order the tool names them.
    names = list(tree.names)
    surfaces = numpy.asarray(tree.polygons.surfaces, dtype=numpy.int64)
    slot_names = list(tree.surface_names)
    if face_count and numpy.any(surfaces[layout.face_rows] < 0):
        slot_names.append(materials.DEFAULT)
    slot_of_name = numpy.full(len(names) + 1, len(slot_names) - 1 if slot_names else 0, dtype=numpy.int32)
    for slot, name in enumerate(slot_names):
        if name in names:
            slot_of_name[names.index(name)] = slot
    face_slots = slot_of_name[surfaces[layout.face_rows]] if face_count else numpy.zeros(0, numpy.int32)
    leaf_faces = numpy.zeros(face_count, dtype=bool)
    woody_faces = numpy.zeros(face_count, dtype=bool)
    trunk_faces = numpy.zeros(face_count, dtype=bool)
    for slot, name in enumerate(slot_names):
        finish = materials.finish_of(name)
        if finish == "leaf":
            leaf_faces |= face_slots == slot
        elif finish in ("bark", "twig"):
            woody_faces |= face_slots == slot
            if name == materials.TRUNK:
                trunk_faces |= face_slots == slot
    # Slots first: clearing a mesh's materials sets every face's material index to 0.
    material_started = time.perf_counter()
    texture_maps = [m.name for m in tree.maps if m.kind == TEXTURE_KIND]
    colours = _colour_tags(tree, layout, face_slots, slot_names, names)
    mesh.materials.clear()
    for name in slot_names:
        mesh.materials.append(materials.material(name, colours.get(name), texture_maps))
    material_seconds = time.perf_counter() - material_started
    if face_count:
        mesh.polygons.foreach_set("material_index", face_slots)
        mesh.polygons.foreach_set("use_smooth", ~leaf_faces)

    mesh.update(calc_edges=True)
    if layout.degenerate():
        mesh.validate(clean_customdata=False)

    # Maps: texture maps as UV maps, weights as vertex groups and float attributes, the rest as
    # point attributes. Polygon-specific values (the texture seams) go to their face's corner.
    corner_values = {}
    for pmap in tree.polygon_maps:
        loops = layout.loop_of(numpy.asarray(pmap.polygons), numpy.asarray(pmap.points))
        corner_values.setdefault((pmap.name, pmap.kind), []).append((loops, numpy.asarray(pmap.values)))
    bark_uv = None
    for vmap in tree.maps:
        values = numpy.asarray(vmap.values, dtype=FLOAT).reshape(len(points), -1)
        present = numpy.asarray(vmap.presence) > 0
        if vmap.kind == TEXTURE_KIND and face_count:
            uv = values[layout.loops, :2]
            for loops, corner in corner_values.pop((vmap.name, vmap.kind), []):
                hit = loops >= 0
                uv[loops[hit]] = corner[hit, :2]
            layer = mesh.uv_layers.new(name=vmap.name, do_init=False)
            layer.data.foreach_set("uv", uv.ravel())
            if vmap.name == materials.BARK_MAP:
                bark_uv = uv
        elif vmap.kind == WEIGHT_KIND:
            _attribute(mesh, vmap.name, values[:, 0], "POINT")
            add_weight_group(obj, vmap.name, values[:, 0], present)
        elif vmap.kind != TEXTURE_KIND:
            if vmap.kind == VECTOR_KIND and values.shape[1] == 3:
                values = values[:, [0, 2, 1]] * numpy.array([1, -1, 1], dtype=FLOAT)
            _attribute(mesh, vmap.name, values, "POINT")
    # Polygon-specific values of maps that are no UV map: per corner, the point's value elsewhere.
    for (name, kind), entries in corner_values.items():
        if not face_count:
            break
        point_map = next((m for m in tree.maps if m.name == name and m.kind == kind), None)
        dim = entries[0][1].shape[1]
        per_loop = numpy.zeros((len(layout.loops), dim), dtype=FLOAT)
        if point_map is not None:
            per_loop[:] = numpy.asarray(point_map.values, dtype=FLOAT).reshape(len(points), -1)[layout.loops, :dim]
        for loops, corner in entries:
            hit = loops >= 0
            per_loop[loops[hit]] = corner[hit]
        _attribute(mesh, f"{name}_corner" if point_map is not None else name, per_loop, "CORNER")

    # Tags (colour, part) per face: the index of the tag's text in mesh["<attribute>_names"].
    for code, values in tree.tags.items():
        if not face_count:
            break
        values = numpy.asarray(values, dtype=numpy.int64)[layout.face_rows]
        used = numpy.unique(values[values >= 0])
        lookup = numpy.full(len(names) + 1, -1, dtype=numpy.int32)
        lookup[used] = numpy.arange(len(used))
        attribute = f"RM_{code_text(code) if isinstance(code, int) else code}"
        mesh.attributes.new(attribute, "INT", "FACE").data.foreach_set("value", lookup[values])
        mesh[f"{attribute}_names"] = [names[i] for i in used.tolist()]
    arrays_done = time.perf_counter()

    # How the surface looks: the bark's repeat, smooth shading, the SubD cage's modifier.
    obj["ramulon_bark_repeat"] = bark_repeat(points, layout, bark_uv, woody_faces, trunk_faces)
    if face_count:
        _smooth_by_angle(mesh)
    types = numpy.asarray(tree.polygons.types)
    set_subdivision(obj, bool(numpy.any(types == PATCH)), obj.ramulon.subdivision_levels)
    if times is not None:
        times["arrays"] = arrays_done - started - material_seconds
        times["materials"] = time.perf_counter() - arrays_done + material_seconds


def _colour_tags(tree, layout, face_slots, slot_names, names):
    """Each surface's most frequent colour tag (the first of equally frequent ones)."""
    colour = tree.tags.get("COLR", tree.tags.get(fourcc("COLR")))
    if colour is None or not len(layout.face_rows):
        return {}
    values = numpy.asarray(colour, dtype=numpy.int64)[layout.face_rows]
    out = {}
    for slot, name in enumerate(slot_names):
        tagged = values[(face_slots == slot) & (values >= 0)]
        if len(tagged):
            distinct, first, counts = numpy.unique(tagged, return_index=True, return_counts=True)
            best = max(range(len(distinct)), key=lambda k: (counts[k], -first[k]))
            out[name] = names[int(distinct[best])]
    return out
