#include "area.h"

#include <cmath>

namespace ramulon {

double calc_triangle_area(Cxyz a, Cxyz b, Cxyz c)
{
    const double d1 = a.calc_distance(b);
    const double d2 = b.calc_distance(c);
    const double d3 = c.calc_distance(a);
    const double s = (d1 + d2 + d3) * 0.5;
    const double product = s * (s - d1) * (s - d2) * (s - d3);
    // A degenerate triangle can round to a tiny negative product: it has no area.
    if (product < 0.0)
        return 0.0;
    return std::sqrt(product);
}

double calc_poly_area(int i, const face6_typ *polygons)
{
    const face6_typ &f = polygons[i];
    if (f.num < 3 || !f.points)
        return 0.0;
    double area = 0.0;
    for (int j = 2; j < f.num; j++)
        area += calc_triangle_area(f.points[0], f.points[j - 1], f.points[j]);
    return area;
}

double calc_area(const face6_typ *polygons, int n)
{
    double area = 0.0;
    for (int i = 0; i < n; i++)
        area += calc_poly_area(i, polygons);
    return area;
}

} // namespace ramulon
