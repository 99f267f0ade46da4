// The tool's face toward the host: activation, callbacks, the build and change tracking.
#pragma once

#include "../host/plugin_api.h"
#include "st_tree.h"

#ifndef RAMULON_GENERATION
#define RAMULON_GENERATION 11
#endif

namespace ramulon {

// Version text shown in the panel's information control.
#if RAMULON_GENERATION == 9
inline constexpr const char *version_text = "1.6.24";
#else
inline constexpr const char *version_text = "1.6.28";
#endif

// Host services fetched at activation.
extern LWXPanelFuncs *xpanf;
extern LWObjectFuncs *objfunc;
extern LWFileIOFuncs *fiof;
extern LWMessageFuncs *msg;
extern LWShelfFuncs *shelff;
extern LWMonitorFuncs *monf;
extern LWImageUtil *imgutil;

extern LWXPanelID panel;        // the last panel made
extern LWShelfCltID shelff_ctrl_ID;
extern int build_started;
extern char updated;

int Activate(long version, GlobalFunc global, void *local, void *serverData);
void change_status(st_tree *t, int level);
// Writes the model of the grown skeleton into the mesh: 0, or 2 when a point overflowed.
int TreeDraw(MeshEditOp *op, st_tree *t);

// tool callbacks
void Done(void *inst);
const char *Help(void *inst, LWToolEvent *event);
int Count(void *inst, LWToolEvent *event);
int Handle(void *inst, LWToolEvent *event, int i, double pos[3]);
int Adjust(void *inst, LWToolEvent *event, int i);
int Start(void *inst, LWToolEvent *event);
void Draw(void *inst, LWWireDrawAccess *draw);
int Dirty(void *inst);
void Event(void *inst, int code);
LWXPanelID Panel(void *inst);
int Test(void *inst);
const char *Build(void *inst, MeshEditOp *op);
void End(void *inst, int keep);

// panel data exchange
void *Get_Parms(void *inst, unsigned long id);
int Set_Parms(void *inst, unsigned long id, void *value);

// preset shelf
int shelf_load_ok(void *inst);
void shelf_load(void *inst, const LWLoadState *load, const char *filename, void *parms);
void shelf_save(void *inst, const LWSaveState *save, const char *filename);
void shelf_open(LWXPanelID panel, int control);
void shelf_addpreset(LWXPanelID panel, int control);
void shelf_destroy(LWXPanelID panel);
LWPixmapID shelf_makethumb(st_tree *inst, int width, int height);

} // namespace ramulon
