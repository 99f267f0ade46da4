#include "line.h"

#include <utility>

namespace ramulon {

namespace {

constexpr long one = 65536;

// P / 65536 rounded toward minus infinity, and P mod 65536 as its low 16 bits.
long whole(long p) { return p >> 16; }
long frac(long p) { return p & 0xFFFF; }
long magnitude(long v) { return v < 0 ? -v : v; }

struct canvas {
    LWImageUtil *util;
    LWPixmapID image;
    int width, height;
    bool vertical; // major axis is y: (a, b) name (y, x)
};

// A brighter line wins where lines cross; red and blue stay black.
void offer(const canvas &cv, long a, long b, float c)
{
    const long x = cv.vertical ? b : a;
    const long y = cv.vertical ? a : b;
    if (x < 0 || y < 0 || x >= cv.width || y >= cv.height)
        return;
    float pixel[3] = {0.0f, 0.0f, 0.0f};
    cv.util->getPixel(cv.image, static_cast<int>(x), static_cast<int>(y), pixel);
    if (c > pixel[1]) {
        float green[3] = {0.0f, c, 0.0f};
        cv.util->setPixel(cv.image, static_cast<int>(x), static_cast<int>(y), green);
    }
}

// Steps one pixel at a time along the major axis a, carrying the minor axis b in 16.16 fixed
// point and splitting the coverage between the two pixels the line passes between.
void walk(const canvas &cv, long a1, long b1, long a2, long b2, float brightness)
{
    long da = a2 - a1;
    long db = b2 - b1;
    if (da < 0) {
        std::swap(a1, a2);
        std::swap(b1, b2);
        da = -da;
        db = -db;
    }
    long A = a1 * one;
    long B = b1 * one;
    const long g = (db * one) / da;
    while (whole(A) < a2) {
        offer(cv, whole(A), whole(B), brightness * rescale(static_cast<float>(frac(B))));
        offer(cv, whole(A), whole(B) + 1, brightness * rescale(static_cast<float>(65535 - frac(B))));
        A += one;
        B += g;
    }
}

} // namespace

float rescale(float v) { return static_cast<float>(v / 65535.0); }

void line(LWImageUtil *util, LWPixmapID image, long x1, long y1, long x2, long y2, float brightness,
          int width, int height)
{
    const long dx = x2 - x1;
    const long dy = y2 - y1;
    if (dx == 0 && dy == 0)
        return;
    if (magnitude(dx) > magnitude(dy))
        walk(canvas{util, image, width, height, false}, x1, y1, x2, y2, brightness);
    else
        walk(canvas{util, image, width, height, true}, y1, x1, y2, x2, brightness);
}

} // namespace ramulon
