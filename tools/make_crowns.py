#!/usr/bin/env python3
"""Writes the sample crown envelopes samples/*.obj, and the crowns of the exactness tests
tests/data/*_digits.obj whose coordinates carry all the digits of a double.

Each crown is one or more closed ellipsoids of quads with a fan of triangles at each pole,
wound counter-clockwise seen from outside so that every polygon's normal points outward. Sizes
are those of a tree in metres, with y up and the ground at y = 0.

    python3 tools/make_crowns.py [samples folder [test data folder]]
        (default: samples/ and tests/data/ beside this script's folder)
"""
import math
import os
import sys


def ellipsoid(centre, radii, around, bands, squash_bottom=1.0):
    """Points and polygons (0-based) of an ellipsoid; squash_bottom < 1 flattens the lower half."""
    cx, cy, cz = centre
    rx, ry, rz = radii
    points = [(cx, cy + ry, cz)]  # top pole
    for k in range(1, bands):
        theta = math.pi * k / bands
        y = math.cos(theta) * ry
        if y < 0:
            y *= squash_bottom
        s = math.sin(theta)
        for j in range(around):
            phi = 2 * math.pi * j / around
            points.append((cx + rx * s * math.cos(phi), cy + y, cz + rz * s * math.sin(phi)))
    points.append((cx, cy - ry * squash_bottom, cz))  # bottom pole
    bottom = len(points) - 1

    def ring(k, j):  # k = 1 .. bands - 1
        return 1 + (k - 1) * around + j % around

    polys = []
    for j in range(around):
        polys.append([0, ring(1, j + 1), ring(1, j)])
    for k in range(1, bands - 1):
        for j in range(around):
            polys.append([ring(k, j), ring(k, j + 1), ring(k + 1, j + 1), ring(k + 1, j)])
    for j in range(around):
        polys.append([bottom, ring(bands - 1, j), ring(bands - 1, j + 1)])
    return points, polys


def revolve(profile, around):
    """Points and polygons (0-based) of a closed surface of revolution about the y axis: profile
    is (height, radius) from the top pole down to the bottom one, radius 0 at both poles."""
    points = [(0.0, profile[0][0], 0.0)]  # top pole
    for y, r in profile[1:-1]:
        for j in range(around):
            phi = 2 * math.pi * j / around
            points.append((r * math.cos(phi), y, r * math.sin(phi)))
    points.append((0.0, profile[-1][0], 0.0))  # bottom pole
    bands = len(profile) - 1
    bottom = len(points) - 1

    def ring(k, j):  # k = 1 .. bands - 1
        return 1 + (k - 1) * around + j % around

    polys = [[0, ring(1, j + 1), ring(1, j)] for j in range(around)]
    for k in range(1, bands - 1):
        for j in range(around):
            polys.append([ring(k, j), ring(k, j + 1), ring(k + 1, j + 1), ring(k + 1, j)])
    polys += [[bottom, ring(bands - 1, j), ring(bands - 1, j + 1)] for j in range(around)]
    return points, polys


def newell(points, poly):
    nx = ny = nz = 0.0
    for i, a in enumerate(poly):
        p, q = points[a], points[poly[(i + 1) % len(poly)]]
        nx += (p[1] - q[1]) * (p[2] + q[2])
        ny += (p[2] - q[2]) * (p[0] + q[0])
        nz += (p[0] - q[0]) * (p[1] + q[1])
    return nx, ny, nz


def check_outward(points, polys, centre):
    for poly in polys:
        n = newell(points, poly)
        c = [sum(points[a][i] for a in poly) / len(poly) for i in range(3)]
        d = [c[i] - centre[i] for i in range(3)]
        if sum(n[i] * d[i] for i in range(3)) <= 0:
            raise SystemExit("polygon %s faces inward" % poly)


def write_obj(path, title, lobes, number="%.6f"):
    lines = ["# %s" % title, "# Made by tools/make_crowns.py: closed, outward-facing, y up, metres."]
    faces = []
    base = 0
    for lobe in lobes:
        if lobe[0] == "revolve":  # ("revolve", profile, around)
            points, polys = revolve(lobe[1], lobe[2])
            centre = (0.0, sum(y for y, r in lobe[1]) / len(lobe[1]), 0.0)
        else:
            centre, radii, around, bands, squash = lobe
            points, polys = ellipsoid(centre, radii, around, bands, squash)
        check_outward(points, polys, (centre[0], centre[1], centre[2]))
        lines += ["v " + " ".join(number % c for c in p) for p in points]
        faces += ["f " + " ".join(str(base + a + 1) for a in poly) for poly in polys]
        base += len(points)
    lines += ["g crown"] + faces
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


CROWNS = {
    # name: (title, [(centre, radii, around, bands, bottom squash), ...])
    "round_crown.obj": ("A rounded crown from y = 2 to y = 7",
                        [((0.0, 4.6, 0.0), (2.6, 2.4, 2.6), 16, 10, 1.1)]),
    "tall_crown.obj": ("A tall narrow crown from y = 2 to y = 8.5",
                       [((0.0, 5.25, 0.0), (1.3, 3.25, 1.3), 12, 14, 1.0)]),
    "flat_crown.obj": ("A wide flat crown from y = 3.5 to y = 6, 8 m across",
                       [((0.0, 5.0, 0.0), (4.0, 1.0, 4.0), 20, 8, 1.5)]),
    "two_lobes.obj": ("Two lobes side by side, for two trunks",
                      [((-2.1, 4.6, 0.0), (1.9, 2.2, 1.9), 14, 9, 1.1),
                       ((2.1, 4.3, 0.0), (1.7, 1.9, 1.7), 14, 9, 1.1)]),
    # The crowns of the shipped presets (samples/presets/crowns.txt says which grows in which).
    "weeping_crown.obj": ("A dome from y = 0.5 to y = 7.4 hanging low all round, for a weeping tree",
                          [((0.0, 4.6, 0.0), (3.8, 2.8, 3.8), 18, 12, 1.45)]),
    "broad_crown.obj": ("A broad low dome from y = 3.2 to y = 9.6, 12 m across, for a broad old tree",
                        [((0.0, 6.6, 0.0), (6.2, 3.0, 6.2), 22, 10, 1.15)]),
    "slender_crown.obj": ("A slender column from y = 1.5 to y = 10.5, for an upright tree",
                          [((0.0, 6.0, 0.0), (1.1, 4.5, 1.1), 12, 16, 1.0)]),
    "cone_crown.obj": ("A cone from y = 0.9 to y = 11, 5.8 m across at the bottom, for a conifer",
                       [("revolve", [(11.0, 0.0), (9.5, 0.55), (8.0, 1.1), (6.5, 1.65), (5.0, 2.2),
                                     (3.5, 2.65), (2.0, 2.9), (1.3, 2.7), (0.9, 0.0)], 16)]),
    "shrub_crown.obj": ("A low mound from y = 0.2 to y = 2.4, 4 m across, for a shrub",
                        [((0.0, 1.3, 0.0), (2.0, 1.1, 2.0), 16, 10, 1.0)]),
    "vase_crown.obj": ("A vase from y = 3 to y = 9.8, narrow below and 8.6 m across above, for a winter tree",
                       [("revolve", [(9.8, 0.0), (9.6, 2.4), (9.0, 3.8), (8.0, 4.3), (6.5, 3.6), (5.0, 2.4),
                                     (3.8, 1.3), (3.2, 0.6), (3.0, 0.0)], 18)]),
}


# Coordinates written with 16 and 17 significant digits: most of them are not exactly
# representable, so a reader that rounds them a unit off moves every start point of the tree.
EXACT_CROWNS = {
    "ellipsoid_16_digits.obj": ("A 12 x 8 ellipsoid crown, 16 significant digits", "%.16g",
                                [((0.0, 4.5, 0.0), (2.4, 2.2, 2.5), 12, 8, 1.0)]),
    "lobes_17_digits.obj": ("Two uneven lobes, 17 significant digits", "%.17g",
                            [((-1.3, 4.7, 0.2), (1.7, 2.1, 1.6), 13, 9, 1.2),
                             ((1.5, 4.1, -0.3), (1.4, 1.7, 1.5), 11, 7, 1.1)]),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "samples")
    data = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "..", "tests", "data")
    for folder in (out, data):
        os.makedirs(folder, exist_ok=True)
    for name, (title, lobes) in CROWNS.items():
        write_obj(os.path.join(out, name), title, lobes)
    for name, (title, number, lobes) in EXACT_CROWNS.items():
        write_obj(os.path.join(data, name), title, lobes, number)


if __name__ == "__main__":
    main()
