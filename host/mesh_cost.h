// What the host's mesh storage costs, per item a build writes: the one place to re-tune when
// the storage changes.
//
// Measured as the peak resident size of `ramulon build` less its size with a two-branch tree
// (9.4 MB), over the leafy preset (leaves and twigs: 844,422 points and 431,119 polygons at 2000
// branches, 100 MB) and the bare preset (tubes with every vertex map: 221,026 points and 221,019
// polygons, 53 MB), each at 300 and 2000 branches, on the mesh stored as arrays per attribute.
// The two costs meet the four peaks within 3 % below and 15 % above. They fold in what rides
// with the items: the vertex-map values and tags of each point and polygon, the arrays' spare
// capacity while they grow, and the growth skeleton and tree model built alongside.
#pragma once

namespace host {

inline constexpr double bytes_per_point = 48.0;
inline constexpr double bytes_per_polygon = 170.0;

} // namespace host
