// Placeholder until the panel lands.
#include "tool.h"

namespace ramulon {

LWXPanelID Panel(void *) { return nullptr; }
void *Get_Parms(void *, unsigned long) { return nullptr; }
int Set_Parms(void *, unsigned long, void *) { return 0; }

} // namespace ramulon
