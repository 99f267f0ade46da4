// Placeholder until the host's preset shelf lands.
#include "host_services.h"

namespace host {
namespace {
LWShelfCltID subscribe(const char *, const char *, void *, int, LWShelfLoadOkFunc, LWShelfLoadFunc,
                       LWShelfSaveFunc)
{
    return reinterpret_cast<LWShelfCltID>(1);
}
void unsubscribe(LWShelfCltID) {}
void open(LWShelfCltID) {}
int is_open(LWShelfCltID) { return 0; }
void close(LWShelfCltID) {}
int add_preset(LWShelfCltID, LWPixmapID, const char **) { return 0; }
LWShelfFuncs funcs{subscribe, unsubscribe, open, is_open, close, add_preset};
} // namespace
LWShelfFuncs *shelf_service() { return &funcs; }
} // namespace host
