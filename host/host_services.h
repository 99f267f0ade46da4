// The services the stand-in modeller offers by name, each implemented in a file of its own. Each
// returns the one table of its service, alive for the whole process, never null; a service
// reports failure to the plug-in in the plug-in interface's own terms.
#pragma once

#include "plugin_api.h"

namespace host {

LWXPanelFuncs *xpanel_service();  // host/xpanel.cpp
LWShelfFuncs *shelf_service();    // host/shelf.cpp
LWImageUtil *image_service();     // host/image.cpp

} // namespace host
