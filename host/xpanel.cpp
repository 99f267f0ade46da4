// Placeholder until the host's panel lands.
#include "host_services.h"

namespace host {
namespace {
LWXPanelFuncs funcs{};
} // namespace
LWXPanelFuncs *xpanel_service() { return &funcs; }
} // namespace host
