// What the host's mesh storage costs, per item a build writes: the one place to re-tune when
// the storage changes.
//
// Measured as the peak resident size of `ramulon build` less its size before the build
// (9.5 MB), over the leafy preset (leaves and twigs: 844,422 points and 431,119 polygons at 2000
// branches, 88.6 MB) and the bare preset (tubes with every vertex map: 221,026 points and
// 221,019 polygons, 42.5 MB), with the mesh held as flat arrays. The two presets alone would
// solve to about 15 and 187 bytes; the costs below are rounded up so that neither preset is
// under-estimated (leafy by 27 %, bare by 11 % over). They fold in what rides with the items:
// the vertex-map values and tags of each point and polygon, and the growth skeleton and tree
// model built alongside (spare capacity of the growing arrays is never touched, so it costs
// no memory).
#pragma once

// Both are bytes per item, always positive; an estimate made from them is an upper bound for
// the two presets measured, not a promise for every tree.
namespace host {

inline constexpr double bytes_per_point = 50.0;
inline constexpr double bytes_per_polygon = 170.0;

} // namespace host
