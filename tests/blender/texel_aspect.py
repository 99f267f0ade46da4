# How square a texture's texels lie on a Blender mesh: for the triangles of some material slots,
# metres along one unit of the texture's v and around one unit of its u, each summed weighted by
# the triangle's area. Shared by the import check and the add-on check.
import numpy


def texel_sums(obj, slots, layer, v_scale=1.0):
    """(along, around) over the triangles of obj whose material slot is in slots, measured
    through the UV map named layer with its v scaled by v_scale, in world units."""
    mesh = obj.data
    mesh.calc_loop_triangles()
    count = len(mesh.loop_triangles)
    if count == 0 or not slots or mesh.uv_layers.get(layer) is None:
        return 0.0, 0.0
    corners = numpy.empty(count * 3, dtype=numpy.int64)
    mesh.loop_triangles.foreach_get("loops", corners)
    slot = numpy.empty(count, dtype=numpy.int64)
    mesh.loop_triangles.foreach_get("material_index", slot)
    vertex = numpy.empty(len(mesh.loops), dtype=numpy.int64)
    mesh.loops.foreach_get("vertex_index", vertex)
    points = numpy.empty(len(mesh.vertices) * 3)
    mesh.vertices.foreach_get("co", points)
    points = points.reshape(-1, 3) @ numpy.array(obj.matrix_world.to_3x3()).T
    uv = numpy.empty(len(mesh.loops) * 2)
    mesh.uv_layers[layer].data.foreach_get("uv", uv)
    uv = uv.reshape(-1, 2) * numpy.array([1.0, v_scale])
    tri = corners.reshape(-1, 3)[numpy.isin(slot, list(slots))]
    if len(tri) == 0:
        return 0.0, 0.0
    p = [points[vertex[tri[:, k]]] for k in range(3)]
    t = [uv[tri[:, k]] for k in range(3)]
    e1, e2, d1, d2 = p[1] - p[0], p[2] - p[0], t[1] - t[0], t[2] - t[0]
    det = d1[:, 0] * d2[:, 1] - d2[:, 0] * d1[:, 1]
    keep = numpy.abs(det) > 1e-12  # caps and collars map a face onto a line of the texture
    e1, e2, d1, d2, det = e1[keep], e2[keep], d1[keep], d2[keep], det[keep][:, None]
    per_u = numpy.linalg.norm((e1 * d2[:, 1:2] - e2 * d1[:, 1:2]) / det, axis=1)
    per_v = numpy.linalg.norm((e2 * d1[:, 0:1] - e1 * d2[:, 0:1]) / det, axis=1)
    area = 0.5 * numpy.linalg.norm(numpy.cross(e1, e2), axis=1)
    return float(numpy.sum(area * per_v)), float(numpy.sum(area * per_u))
