#include "random.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "axis.h"
#include "face.h"

namespace ramulon {

random::random() { seed(static_cast<uint32_t>(std::time(nullptr))); }

void random::seed(uint32_t s)
{
    if (s == 0)
        s = 1;
    // r[0..30] by the Park-Miller recurrence, r[31..33] repeat r[0..2]; the ring then holds
    // r[i-34] .. r[i-1], and each value is r[i-3] + r[i-31] modulo 2^32.
    int32_t r[34];
    r[0] = static_cast<int32_t>(s);
    for (int i = 1; i < 31; i++) {
        const int32_t hi = r[i - 1] / 127773;
        const int32_t lo = r[i - 1] % 127773;
        int32_t w = 16807 * lo - 2836 * hi;
        if (w < 0)
            w += 2147483647;
        r[i] = w;
    }
    r[31] = r[0];
    r[32] = r[1];
    r[33] = r[2];
    for (int i = 0; i < 34; i++)
        state_[i] = static_cast<uint32_t>(r[i]);
    index_ = 0;
    // The first 310 values after r[33] are thrown away.
    for (int i = 34; i < 344; i++)
        next();
}

int32_t random::next()
{
    // index_ holds r[i-34]; r[i-31] sits 3 places on, r[i-3] 31 places on.
    const uint32_t v = state_[(index_ + 31) % 34] + state_[(index_ + 3) % 34];
    state_[index_] = v;
    index_ = (index_ + 1) % 34;
    return static_cast<int32_t>(v >> 1);
}

void random::fixed(int s)
{
    seed(1);
    seed(static_cast<uint32_t>(s));
}

int random::TorF() { return next() < 1073741823 ? 1 : 0; }

float random::percent() { return static_cast<float>(next()) / 2147483648.0f; }

int random::z_zakresu(int a, int b)
{
    if (a == b)
        return a;
    const int lo = std::min(a, b), hi = std::max(a, b);
    const float u = static_cast<float>(next()) / 2147483648.0f;
    const float v = static_cast<float>(lo) + static_cast<float>(hi - lo) * u;
    return static_cast<int>(static_cast<double>(v) + 0.5);
}

double random::z_zakresu(double a, double b)
{
    if (a == b)
        return a;
    const double lo = std::min(a, b), hi = std::max(a, b);
    return lo + (hi - lo) * (static_cast<double>(next()) / 2147483647.0);
}

namespace {

// Where the line local x = u crosses edge (p, q). An edge parallel to that line gives its
// start instead of a division by zero.
double crossing(const Cxyz &p, const Cxyz &q, double u)
{
    if (p.x == q.x)
        return p.z;
    return p.z + (p.z - q.z) * (u - p.x) / (p.x - q.x);
}

} // namespace

Cxyz random::z_polygonu(const face6_typ *f)
{
    if (!f || !f->points || f->num < 3)
        return Cxyz();
    const int n = f->num;
    const Cxyz p0 = f->points[0];

    Caxis frame;
    frame.x_axis = f->points[1] - p0;
    frame.y_axis = ~f->normal;
    frame.z_axis = frame.x_axis * frame.y_axis;
    frame.calc_transf_angles();

    std::unique_ptr<Cxyz[]> local(new Cxyz[n]);
    std::copy(f->points.get(), f->points.get() + n, local.get());
    frame.to_local(local.get(), p0, n);

    double min_x = local[0].x, max_x = local[0].x;
    for (int i = 1; i < n; i++) {
        min_x = std::min(min_x, local[i].x);
        max_x = std::max(max_x, local[i].x);
    }
    const double u = z_zakresu(min_x, max_x);

    double cross[2] = {0.0, 0.0};
    int found = 0;
    for (int i = 0; i + 1 < n && found < 2; i++) {
        const Cxyz &p = local[i], &q = local[i + 1];
        if ((p.x <= u && u <= q.x) || (q.x <= u && u <= p.x))
            cross[found++] = crossing(p, q, u);
    }
    if (found < 2) {
        // The closing edge serves unchecked; when u rounded past every edge it serves twice.
        const double c = crossing(local[n - 1], local[0], u);
        if (found == 0)
            cross[found++] = c;
        cross[found++] = c;
    }
    if (cross[0] > cross[1])
        std::swap(cross[0], cross[1]);
    const double z = z_zakresu(cross[0], cross[1]);

    Cxyz point(u, 0.0, z);
    frame.to_global(&point, p0, 1);
    return point;
}

} // namespace ramulon
