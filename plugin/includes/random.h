// random: the tree's one source of chance. A fixed seed reproduces a tree draw for draw.
//
// The generator is our own, not the process-wide C `rand`: the host and other plug-ins share
// that state, and its sequence differs between C libraries. Ours gives the sequence of the
// GNU C library's additive feedback generator on every platform.
#pragma once

#include <cstdint>

#include "xyz.h"

namespace ramulon {

struct face6_typ;

class random {
public:
    random();                 // seeded from the clock
    virtual ~random() = default;

    void fixed(int seed);     // seed with 1, then with seed
    int TorF();               // 1 for about half the draws
    float percent();          // [0, 1], single precision
    int z_zakresu(int a, int b);
    double z_zakresu(double a, double b);
    Cxyz z_polygonu(const face6_typ *f);

    // The generator's raw draw, 0 to 2147483647.
    int32_t next();
    void seed(uint32_t s);

private:
    uint32_t state_[34] = {};
    int index_ = 0; // position of the next value in the ring
};

} // namespace ramulon
