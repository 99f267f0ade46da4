// The services the stand-in modeller offers by name, each implemented in a file of its own.
#pragma once

#include "plugin_api.h"

namespace host {

LWXPanelFuncs *xpanel_service();  // host/xpanel.cpp
LWShelfFuncs *shelf_service();    // host/shelf.cpp
LWImageUtil *image_service();     // host/image.cpp

} // namespace host
