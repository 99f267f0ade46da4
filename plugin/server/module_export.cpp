// The one symbol a module file exports: the descriptor through which the host finds the tool.
#include "../../host/plugin_api.h"

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
const ServerRecord *server_records();
} // namespace ramulon

extern "C" __attribute__((visibility("default"))) const ModuleDescriptor host_module_descriptor = {
    HOST_MODULE_SYNC, HOST_INTERFACE_VERSION, ramulon::Startup, ramulon::Shutdown,
    ramulon::server_records(),
};
