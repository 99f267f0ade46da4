// What the host's mesh storage costs, per item a build writes: the one place to re-tune when
// the storage changes.
//
// Measured as the peak resident size of `ramulon build` less its size before the build
// (9.5 MB), over the leafy preset (leaves and twigs: 844,422 points and 431,119 polygons at 2000
// branches, 542 MB) and the bare preset (tubes with every vertex map: 221,026 points and
// 221,019 polygons, 206 MB), each at 300 and 2000 branches; the two costs solve both presets
// exactly and over-estimate a skeleton (no maps) about twofold. They fold in what rides with
// the items: the vertex-map values and tags of each point and polygon, the vectors' spare
// capacity while they grow, and the growth skeleton and tree model built alongside.
#pragma once

#include <cstddef>

namespace host {

inline constexpr double bytes_per_point = 370.0;
inline constexpr double bytes_per_polygon = 550.0;

} // namespace host
