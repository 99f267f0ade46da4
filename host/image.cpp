// Placeholder until the host's image utility lands.
#include "host_services.h"

namespace host {
namespace {
LWImageUtil funcs{};
} // namespace
LWImageUtil *image_service() { return &funcs; }
} // namespace host
