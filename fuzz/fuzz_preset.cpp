// Bytes as a preset file applied from the shelf through the tool's load state, then a small
// build on the record; the promises are check_preset in tests/support/input_checks.h.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "support/input_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    ramulon::fuzz::require(ramulon::inputs::check_preset({reinterpret_cast<const char *>(data), size},
                                                         ramulon::fuzz::scratch_file("crown.preset")));
    return 0;
}
