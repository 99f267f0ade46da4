/*
 * The modeller's plug-in interface: a C ABI of records and function tables.
 *
 * A plug-in module exports one symbol, HOST_MODULE_SYMBOL, a ModuleDescriptor. The host reads
 * its server records, calls the activation function of the one it wants with the interface
 * version, the service lookup and a record to fill, and from then on talks to the plug-in only
 * through the function tables exchanged here. Nothing in this file is C++, so a module built
 * on its own, by another compiler, can be loaded.
 */
#ifndef RAMULON_HOST_PLUGIN_API_H
#define RAMULON_HOST_PLUGIN_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Four-character IDs: the first character sits in the most significant byte. */
typedef uint32_t HostID;
#define HOST_ID4(a, b, c, d) \
    ((HostID)(((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d)))

#define ID_FACE HOST_ID4('F', 'A', 'C', 'E')
#define ID_PTCH HOST_ID4('P', 'T', 'C', 'H')
#define ID_CURV HOST_ID4('C', 'U', 'R', 'V')
#define ID_COLR HOST_ID4('C', 'O', 'L', 'R')
#define ID_TXUV HOST_ID4('T', 'X', 'U', 'V')
#define ID_WGHT HOST_ID4('W', 'G', 'H', 'T')
#define ID_RMVT HOST_ID4('R', 'M', 'V', 'T')
#define ID_RMLD HOST_ID4('R', 'M', 'L', 'D')

/* ---------------------------------------------------------------- module and activation */

/* The version the host passes to every activation function. */
#define HOST_INTERFACE_VERSION 4

/* Activation results. */
#define AFUNC_OK 0
#define AFUNC_BADVERSION 1
#define AFUNC_BADGLOBAL 2

/* Service lookup use modes. */
#define GFUSE_TRANSIENT 0
#define GFUSE_ACQUIRE 1
#define GFUSE_RELEASE 2

typedef void *(*GlobalFunc)(const char *serviceName, int useMode);
typedef int (*ActivateFunc)(long version, GlobalFunc global, void *local, void *serverData);

/* Server tags. */
#define SRVTAG_USERNAME 0x100u  /* ORed with the language id (0x0409 = US English) */
#define SRVTAG_CMDGROUP 0x200u
#define SRVTAG_MENU 0x300u
#define SRVTAG_BUTTONNAME 0x400u

typedef struct ServerTagInfo {
    const char *string;
    unsigned int tag; /* 0 ends the list */
} ServerTagInfo;

typedef struct ServerRecord {
    const char *className; /* null ends the list */
    const char *name;
    ActivateFunc activate;
    const ServerTagInfo *tagInfo;
} ServerRecord;

typedef struct ModuleDescriptor {
    uint32_t sysSync;   /* HOST_MODULE_SYNC: a loaded file that lacks it is no module of ours */
    long apiVersion;
    void *(*startup)(void);
    void (*shutdown)(void *serverData);
    const ServerRecord *serverDefs;
} ModuleDescriptor;

#define HOST_MODULE_SYNC 0x524D4F44u /* "RMOD" */
#define HOST_MODULE_SYMBOL "host_module_descriptor"

/* --------------------------------------------------------------------------- mesh edit */

typedef void *LWPntID;
typedef void *LWPolID;
typedef void *EDStateRef;
typedef int EDError;
#define EDERR_NONE 0
#define EDERR_NOMEMORY 1
#define EDERR_BADLAYER 2
#define EDERR_BADSURF 3
#define EDERR_USERABORT 4
#define EDERR_BADARGS 5

/* Layer selectors. */
#define OPLYR_FG 1
#define OPLYR_BG 2

/* Count modes. */
#define EDCOUNT_ALL 0

typedef struct EDPointInfo {
    LWPntID pnt;
    void *userData;
    int layer;
    int flags;
    double position[3];
} EDPointInfo;

typedef struct EDPolygonInfo {
    LWPolID pol;
    void *userData;
    int layer;
    int flags;
    int numPnts;
    const LWPntID *points;
    const char *surface;
    HostID type;
} EDPolygonInfo;

typedef EDError (*EDPolyScanFunc)(void *userData, const EDPolygonInfo *info);

typedef struct MeshEditOp {
    EDStateRef state;
    int layerNum;
    int (*polyCount)(EDStateRef, int layerSelector, int countMode);
    EDError (*polyScan)(EDStateRef, EDPolyScanFunc, void *userData, int layerSelector);
    EDPointInfo *(*pointInfo)(EDStateRef, LWPntID);
    int (*polyNormal)(EDStateRef, LWPolID, double normal[3]);
    LWPntID (*addPoint)(EDStateRef, double *xyz);
    LWPolID (*addFace)(EDStateRef, const char *surface, int numPnts, const LWPntID *points);
    LWPolID (*addPoly)(EDStateRef, HostID type, LWPolID proto, const char *surface, int numPnts,
                       const LWPntID *points);
    EDError (*polTag)(EDStateRef, LWPolID, HostID tagType, const char *tag);
    EDError (*pntVMap)(EDStateRef, LWPntID, HostID type, const char *name, int dim, float *value);
    EDError (*pntVPMap)(EDStateRef, LWPntID, LWPolID, HostID type, const char *name, int dim,
                        float *value);
} MeshEditOp;

/* -------------------------------------------------------------------------------- tool */

typedef struct LWToolEvent {
    double posSnap[3];
    double deltaSnap[3];
    double axis[3];
    int portAxis;
    int flags;
} LWToolEvent;

typedef struct LWWireDrawAccess {
    void *data;
} LWWireDrawAccess;

typedef void *LWXPanelID;

/* Tool event codes. */
#define LWT_EVENT_DROP 0
#define LWT_EVENT_RESET 1
#define LWT_EVENT_ACTIVATE 2

/* Dirty flags. */
#define LWT_DIRTY_WIREFRAME 1
#define LWT_DIRTY_HELPTEXT 2

/* Test results. */
#define LWT_TEST_NOTHING 0
#define LWT_TEST_UPDATE 1
#define LWT_TEST_ACCEPT 2
#define LWT_TEST_REJECT 3
#define LWT_TEST_CLONE 4

typedef struct LWToolFuncs {
    void (*done)(void *inst);
    void (*draw)(void *inst, LWWireDrawAccess *);
    const char *(*help)(void *inst, LWToolEvent *);
    int (*dirty)(void *inst);
    int (*count)(void *inst, LWToolEvent *);
    int (*handle)(void *inst, LWToolEvent *, int i, double pos[3]);
    int (*start)(void *inst, LWToolEvent *);
    int (*adjust)(void *inst, LWToolEvent *, int i);
    int (*down)(void *inst, LWToolEvent *);
    void (*move)(void *inst, LWToolEvent *);
    void (*up)(void *inst, LWToolEvent *);
    void (*event)(void *inst, int code);
    LWXPanelID (*panel)(void *inst);
} LWToolFuncs;

/* What the host hands to a "MeshEditTool" activation as its local data. */
typedef struct LWMeshEditTool {
    void *instance;
    LWToolFuncs *tool;
    const char *(*build)(void *inst, MeshEditOp *);
    int (*test)(void *inst);
    void (*end)(void *inst, int keep);
} LWMeshEditTool;

/* -------------------------------------------------------------- "LWM: Dynamic Monitor" */

typedef struct LWMonitor {
    void *data;
    void (*init)(void *data, unsigned int total);
    int (*step)(void *data, unsigned int increment); /* nonzero: the user asked to stop */
    void (*done)(void *data);
} LWMonitor;

typedef struct LWMonitorFuncs {
    LWMonitor *(*create)(const char *title, const char *caption);
    void (*destroy)(LWMonitor *);
} LWMonitorFuncs;

/* ------------------------------------------------------------------- "Info Messages 3" */

typedef struct LWMessageFuncs {
    void (*info)(const char *line1, const char *line2);
    void (*error)(const char *line1, const char *line2);
    void (*warning)(const char *line1, const char *line2);
} LWMessageFuncs;

/* "Scene Objects 7" and "File IO 3": fetched, never called. */
typedef struct LWObjectFuncs {
    int (*numObjects)(void);
} LWObjectFuncs;

typedef struct LWFileIOFuncs {
    int version;
} LWFileIOFuncs;

/* ------------------------------------------------------------------- "Image Utility 3" */

typedef void *LWPixmapID;
#define LWIMTYP_RGBFP 4 /* three 32-bit float channels */

typedef struct LWImageUtil {
    LWPixmapID (*create)(int width, int height, int type);
    void (*destroy)(LWPixmapID);
    void (*setPixel)(LWPixmapID, int x, int y, void *pixel); /* float[3] for LWIMTYP_RGBFP */
    void (*getPixel)(LWPixmapID, int x, int y, void *pixel);
} LWImageUtil;

/* ------------------------------------------------------------ save and load state of presets */

typedef struct LWSaveState {
    void *data;
    void (*writeI4)(void *data, const int32_t *values, int count);
    void (*writeFP)(void *data, const float *values, int count);
} LWSaveState;

typedef struct LWLoadState {
    void *data;
    /* Each returns how many values it read; fewer than asked, or -1, is a failed read. */
    int (*readI4)(void *data, int32_t *values, int count);
    int (*readFP)(void *data, float *values, int count);
} LWLoadState;

/* ---------------------------------------------------------------------- "LWShelfFuncs" */

typedef void *LWShelfCltID;
typedef int (*LWShelfLoadOkFunc)(void *userData);
typedef void (*LWShelfLoadFunc)(void *userData, const LWLoadState *, const char *filename,
                                void *parms);
typedef void (*LWShelfSaveFunc)(void *userData, const LWSaveState *, const char *filename);

typedef struct LWShelfFuncs {
    LWShelfCltID (*subscribe)(const char *clientClass, const char *clientName, void *userData,
                              int flags, LWShelfLoadOkFunc, LWShelfLoadFunc, LWShelfSaveFunc);
    void (*unsubscribe)(LWShelfCltID);
    void (*open)(LWShelfCltID);
    int (*isOpen)(LWShelfCltID);
    void (*close)(LWShelfCltID);
    int (*addPreset)(LWShelfCltID, LWPixmapID thumbnail, const char **parms);
} LWShelfFuncs;

/* -------------------------------------------------------------------------- "LWXPanel 2" */

#define LWXP_VIEW 1 /* a view panel: controls bound to data through a getter and a setter */

/* One control. `controlType` is one of: "sInfo", "vButton", "iPopChoice", "integer", "float",
 * "distance", "percent", "angle", "iBoolean". A zero id ends the list. */
typedef struct LWXPanelControl {
    unsigned long id;
    const char *label;
    const char *controlType;
} LWXPanelControl;

/* One datum. `dataType` is one of "integer", "float", "distance", "percent", "angle",
 * "string". A zero id ends the list. */
typedef struct LWXPanelDataDesc {
    unsigned long id;
    const char *name;
    const char *dataType;
} LWXPanelDataDesc;

typedef void *(*LWXPanelGetFunc)(void *inst, unsigned long id);
typedef int (*LWXPanelSetFunc)(void *inst, unsigned long id, void *value); /* 2: redraw */
typedef void (*LWXPanelBtnClickFunc)(LWXPanelID, int controlId);
typedef void (*LWXPanelDestroyNotifyFunc)(LWXPanelID);

/* Hints: one record each, a list ends with XPH_END. */
enum {
    XPH_END = 0,
    XPH_LABEL,        /* id, text: the panel's title when id is 0, else a group's label */
    XPH_DIVADD,       /* id: a divider after the control */
    XPH_GROUP,        /* id, ids: a group holding these controls */
    XPH_TABS,         /* id, ids: a tab set showing these groups as tabs, in order */
    XPH_STRLIST,      /* id, strings: the choices of a choice control, index 0 first */
    XPH_BUTNCLICK,    /* id, buttonClick */
    XPH_DESTROYNOTIFY, /* destroyNotify, called when the host destroys the panel */
    XPH_RANGE,        /* id, min, max, step: slider range hint */
    XPH_ENABLE,       /* id (the controlling control), ids (the controls it enables), text
                         (what the panel shows while they are disabled) */
    XPH_HIDDEN        /* id */
};

typedef struct LWXPanelHint {
    int kind;
    unsigned long id;
    const char *text;
    const unsigned long *ids;    /* zero-terminated */
    const char *const *strings;  /* null-terminated */
    double min, max, step;
    LWXPanelBtnClickFunc buttonClick;
    LWXPanelDestroyNotifyFunc destroyNotify;
} LWXPanelHint;

typedef struct LWXPanelFuncs {
    int version;
    LWXPanelID (*create)(int type, const LWXPanelControl *controls);
    void (*destroy)(LWXPanelID);
    void (*describe)(LWXPanelID, const LWXPanelDataDesc *, LWXPanelGetFunc, LWXPanelSetFunc);
    void (*hint)(LWXPanelID, unsigned long id, const LWXPanelHint *hints);
    void *(*getData)(LWXPanelID, unsigned long id); /* id 0: the panel's user data */
    void (*setData)(LWXPanelID, unsigned long id, void *value);
    void (*viewRefresh)(LWXPanelID);
} LWXPanelFuncs;

#ifdef __cplusplus
}
#endif

#endif
