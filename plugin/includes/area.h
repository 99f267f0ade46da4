// Areas of captured background polygons: the crown's surface area sets the start-point spacing.
#pragma once

#include "face.h"

namespace ramulon {

double calc_triangle_area(Cxyz a, Cxyz b, Cxyz c);
double calc_poly_area(int i, const face6_typ *polygons);
double calc_area(const face6_typ *polygons, int n);

} // namespace ramulon
