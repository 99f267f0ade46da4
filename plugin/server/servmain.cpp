// The module descriptor the host reads when it loads the plug-in file.
#include "../../host/plugin_api.h"
#include "../tool.h"

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
} // namespace ramulon

namespace {

const ServerTagInfo tool_tags[] = {
    {"Ramulon 1.6", SRVTAG_USERNAME | 0x0409u},
    {"create", SRVTAG_CMDGROUP},
    {"objects", SRVTAG_MENU},
    {"RamulonGen", SRVTAG_BUTTONNAME},
    {nullptr, 0},
};

const ServerRecord server_defs[] = {
    {"MeshEditTool", "Ramulon 1.6", ramulon::Activate, tool_tags},
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace


namespace ramulon {
// For code linked with the plug-in directly, such as the tests.
const ServerRecord *server_records() { return server_defs; }
} // namespace ramulon
