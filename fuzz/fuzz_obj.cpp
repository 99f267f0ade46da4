// Bytes as an OBJ crown envelope loaded into the background layer, then a skeleton build on
// what loaded; the promises are check_obj in tests/support/input_checks.h.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "support/input_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    ramulon::fuzz::require(ramulon::inputs::check_obj({reinterpret_cast<const char *>(data), size}));
    return 0;
}
