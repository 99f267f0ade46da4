// The one narrowing of sizes and indices between the host's arrays and the formats that store
// 32-bit (or smaller) indices. A tree that outgrows the target type is a fault of the caller's
// budget, not something to wrap silently: debug builds stop at the first such cast, release builds
// keep the cast as it was (the budgets keep every tree far below these limits).
#pragma once

#include <cassert>
#include <concepts>
#include <limits>
#include <utility>

namespace ramulon {

template <std::integral To, std::integral From> constexpr To index_cast(From value)
{
    assert(std::in_range<To>(value) && "an index does not fit its stored type");
    return static_cast<To>(value);
}

} // namespace ramulon
