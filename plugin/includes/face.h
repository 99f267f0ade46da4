// face6_typ: one captured background polygon, the surface the crown's start points lie on.
#pragma once

#include <memory>

#include "xyz.h"

namespace ramulon {

struct face6_typ {
    int num = 0;                      // vertex count, 3 or more once captured
    std::unique_ptr<Cxyz[]> points;   // vertex positions in the polygon's own order
    Cxyz normal;                      // as the host gives it

    face6_typ() = default;
    face6_typ(face6_typ &&) = default;
    face6_typ &operator=(face6_typ &&) = default;
    virtual ~face6_typ() = default;
};

} // namespace ramulon
