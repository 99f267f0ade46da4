// Bytes as lines typed after --set ("Branches=10", "Twig/Segments=4") applied to a live panel;
// a line "build" asks for a small build. The promises are check_settings in
// tests/support/input_checks.h.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "support/input_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    ramulon::fuzz::require(ramulon::inputs::check_settings({reinterpret_cast<const char *>(data), size}));
    return 0;
}
