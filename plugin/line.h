// Anti-aliased green lines for the preset thumbnail, drawn in 16.16 fixed point.
#pragma once

#include "../host/plugin_api.h"

namespace ramulon {

// A 16-bit coverage (0..65535) as a fraction in [0, 1].
float rescale(float v);

// Draws one line from (x1, y1) towards (x2, y2) into a width x height RGB float image; the end
// pixel on the major axis is left for the next segment. Each pixel keeps the larger green of
// what it held and what the line brings; pixels outside the image are skipped.
void line(LWImageUtil *util, LWPixmapID image, long x1, long y1, long x2, long y2, float brightness,
          int width, int height);

} // namespace ramulon
