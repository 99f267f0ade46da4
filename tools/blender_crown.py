# A crown as a Blender mesh object, for the scripts that run inside Blender (the add-on's tests,
# its benchmark, the README's picture): an OBJ's numbers turned from Y-up to Blender's Z-up, as
# Blender's own importers place them, with an identity transform.
import bpy
import numpy


def read_obj(path):
    """The v and f records of an OBJ file: (N, 3) points and 0-based faces."""
    points, faces = [], []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if parts and parts[0] == "v":
                points.append([float(x) for x in parts[1:4]])
            elif parts and parts[0] == "f":
                faces.append([int(p.split("/")[0]) - 1 for p in parts[1:]])
    return numpy.array(points), faces


def crown_object(name, points, faces, location=(0.0, 0.0, 0.0)):
    """A mesh object from Blender coordinates and faces, linked to the scene."""
    mesh = bpy.data.meshes.new(name)
    mesh.from_pydata([tuple(map(float, p)) for p in points], [], [list(f) for f in faces])
    obj = bpy.data.objects.new(name, mesh)
    obj.location = location
    bpy.context.scene.collection.objects.link(obj)
    bpy.context.view_layer.update()
    return obj


def crown_from_obj(path, name):
    """The OBJ's crown in Blender: (object, its single-precision Z-up points, faces)."""
    points, faces = read_obj(path)
    blender_points = numpy.column_stack((points[:, 0], -points[:, 2], points[:, 1])).astype(numpy.float32)
    return crown_object(name, blender_points, faces), blender_points, faces
