// What the fuzz targets share beyond the input checks themselves (tests/support/input_checks.h).
#pragma once

#include <string>

namespace ramulon {
namespace fuzz {

// A broken promise (non-empty) is printed and aborts the run, so that libFuzzer keeps the input.
void require(const std::string &broken);

// A file of this process under the temporary folder, removed when the process ends.
const std::string &scratch_file(const char *name);

} // namespace fuzz
} // namespace ramulon
