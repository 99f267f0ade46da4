#include "tool.h"

#include <new>
#include <string>

#include "model.h"
#include "tool_checks.h"
#include "trees.h"

namespace ramulon {

LWXPanelFuncs *xpanf = nullptr;
LWObjectFuncs *objfunc = nullptr;
LWFileIOFuncs *fiof = nullptr;
LWMessageFuncs *msg = nullptr;
LWShelfFuncs *shelff = nullptr;
LWMonitorFuncs *monf = nullptr;
LWImageUtil *imgutil = nullptr;

LWXPanelID panel = nullptr;
LWShelfCltID shelff_ctrl_ID = nullptr;
int build_started = 0;
char updated = 0;

namespace {

int defaults = 0;
LWToolFuncs tool_funcs;

#if RAMULON_GENERATION == 10
constexpr const char *panel_service = "LWXPanel";
constexpr const char *objects_service = "Scene Objects 6";
constexpr const char *fileio_service = "File IO 2";
constexpr const char *messages_service = "Info Messages 2";
#else
constexpr const char *panel_service = "LWXPanel 2";
constexpr const char *objects_service = "Scene Objects 7";
constexpr const char *fileio_service = "File IO 3";
constexpr const char *messages_service = "Info Messages 3";
#endif

st_tree *record(void *inst) { return static_cast<st_tree *>(inst); }

// Refuses to build from the record: the message names the parameter and what is wrong with it,
// the host is told to wait for the next edit, and the build fails with the given text.
const char *refuse(st_tree *t, const char *label, const char *problem, const char *advice,
                   const char *failure)
{
    static std::string line;
    line = std::string("\"") + label + "\" " + problem;
    t->test_state = LWT_TEST_REJECT;
    if (msg)
        msg->info(line.c_str(), advice);
    return failure;
}

} // namespace

int Activate(long version, GlobalFunc global, void *local, void *)
{
    if (version != HOST_INTERFACE_VERSION)
        return AFUNC_BADVERSION;
    if (!defaults) {
        defaults = 1;
        tt = default_params;
        tt.active = 1;
    }

    xpanf = static_cast<LWXPanelFuncs *>(global(panel_service, GFUSE_TRANSIENT));
    objfunc = static_cast<LWObjectFuncs *>(global(objects_service, GFUSE_TRANSIENT));
    fiof = static_cast<LWFileIOFuncs *>(global(fileio_service, GFUSE_TRANSIENT));
    msg = static_cast<LWMessageFuncs *>(global(messages_service, GFUSE_TRANSIENT));
    shelff = static_cast<LWShelfFuncs *>(global("LWShelfFuncs", GFUSE_TRANSIENT));
    monf = static_cast<LWMonitorFuncs *>(global("LWM: Dynamic Monitor", GFUSE_TRANSIENT));
    imgutil = static_cast<LWImageUtil *>(global("Image Utility 3", GFUSE_TRANSIENT));
    if (!xpanf || !objfunc || !fiof || !msg || !shelff || !monf || !imgutil)
        return AFUNC_BADGLOBAL;

    auto *tool = static_cast<LWMeshEditTool *>(local);
    tool->instance = &tt;
    tool_funcs = LWToolFuncs{};
    tool_funcs.done = Done;
    tool_funcs.help = Help;
    tool_funcs.count = Count;
    tool_funcs.handle = Handle;
    tool_funcs.adjust = Adjust;
    tool_funcs.start = Start;
    tool_funcs.draw = Draw;
    tool_funcs.dirty = Dirty;
    tool_funcs.event = Event;
    tool_funcs.panel = Panel;
    tool->tool = &tool_funcs;
    tool->build = Build;
    tool->test = Test;
    tool->end = End;

    shelff_ctrl_ID = shelff->subscribe("MasterHandler", "Ramulon 1.5", &tt, 4, shelf_load_ok,
                                       shelf_load, shelf_save);
    return AFUNC_OK;
}

void Done(void *)
{
    free_memory();
    free_BG();
}

const char *Help(void *, LWToolEvent *) { return "Ramulon Tool"; }
int Count(void *, LWToolEvent *) { return 0; }
int Handle(void *, LWToolEvent *, int, double[3]) { return 0; }
int Adjust(void *, LWToolEvent *, int) { return 0; }

int Start(void *inst, LWToolEvent *)
{
    record(inst)->active = 1;
    return 1;
}

void Draw(void *inst, LWWireDrawAccess *)
{
    if (record(inst)->active == 1)
        record(inst)->dirty = 0;
}

int Dirty(void *inst) { return record(inst)->dirty ? LWT_DIRTY_WIREFRAME | LWT_DIRTY_HELPTEXT : 0; }

void Event(void *inst, int code)
{
    st_tree *t = record(inst);
    switch (code) {
    case LWT_EVENT_ACTIVATE:
        t->active = 1;
        t->dirty = 1;
        if (panel && xpanf)
            xpanf->viewRefresh(panel);
        break;
    case LWT_EVENT_RESET:
        *t = default_params;
        t->active = 1;
        t->dirty = 1;
        break;
    case LWT_EVENT_DROP:
        t->active = 0;
        t->test_state = LWT_TEST_REJECT;
        break;
    default:
        break;
    }
}

int Test(void *inst) { return build_started == 1 ? LWT_TEST_REJECT : record(inst)->test_state; }

void End(void *inst, int)
{
    free_memory();
    free_BG();
    record(inst)->test_state = 0;
    record(inst)->active = 0;
}

const char *Build(void *inst, MeshEditOp *op)
{
    st_tree *t = record(inst);
    if (t->active == 0)
        return nullptr;

    // A preset can carry a NaN or an infinity that no panel edit could, and a typed value can be
    // astronomically large or small; no tree grows from them.
    if (const char *label = non_finite_parameter(*t))
        return refuse(t, label, "is not a finite number.",
                      "Set it on the panel or apply another preset.", "Invalid parameter value");
    const char *problem = nullptr;
    if (const char *label = out_of_scale_parameter(*t, problem))
        return refuse(t, label, problem, "Set it on the panel or apply another preset.",
                      "Invalid parameter value");

    // Typed counts far beyond the sliders could keep the host busy for hours or exhaust its
    // memory before the first node is written.
    if (const char *label = oversized_parameter(*t))
        return refuse(t, label, "makes the tree too large to build.",
                      "Lower it on the panel or apply another preset.", "Tree too large");

    build_started = 1;
    updated = 1;

    LWMonitor *mon = monf ? monf->create("", "Randomising positions...") : nullptr;
    if (mon)
        mon->init(mon->data, static_cast<unsigned int>(t->num_branches) + 4u);

    num_polys = op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL);
    op->polyScan(op->state, check_for_nurbs, nullptr, OPLYR_BG);
    if (mon)
        mon->step(mon->data, 1);

    auto finish = [&]() {
        if (mon) {
            mon->done(mon->data);
            monf->destroy(mon);
        }
        build_started = 0;
    };

    if (num_polys < 1) {
        t->test_state = LWT_TEST_REJECT;
        if (msg)
            msg->info("Need some polygons in the background layer.",
                      "SubD needs to be converted to polygons.");
        finish();
        return "Need something in BG Layer";
    }

    t->num_bg_polys = num_polys;
    copy_BG(num_polys, op);
    // The size guard keeps every tree it lets through well inside memory; should the host
    // still run out while the tree grows or is written, the build fails instead of taking the
    // host down with it.
    auto out_of_memory = [&]() {
        free_memory();
        t->test_state = LWT_TEST_REJECT;
        finish();
        return "Memory allocation error";
    };
    int grown = 1;
    try {
        grown = TreeMake(t, mon, t->change_level);
    } catch (const std::bad_alloc &) {
        return out_of_memory();
    }
    if (grown == 1)
        return out_of_memory(); // no chain array: nothing grown to free
    // Extreme but finite values can still overflow during growth, or where the model is laid
    // around the skeleton; such a tree is never kept (the host undoes the failed edit), and the
    // skeleton is dropped so that the next build grows afresh.
    auto out_of_range = [&]() {
        free_memory();
        t->test_state = LWT_TEST_REJECT;
        if (msg)
            msg->info("The tree grew out of range with these parameters.",
                      "Bring the extreme values back toward the panel's ranges.");
        finish();
        return "Growth out of range";
    };
    if (!skeleton_is_finite())
        return out_of_range();

    int drawn = 0;
    try {
        drawn = TreeDraw(op, t);
    } catch (const std::bad_alloc &) {
        return out_of_memory();
    }
    if (drawn != 0)
        return out_of_range();
    if (mon)
        mon->step(mon->data, 1);
    t->test_state = 0;
    finish();
    return nullptr;
}

int TreeDraw(MeshEditOp *op, st_tree *t)
{
    if (t->random_seed != 0)
        losoj.fixed(t->random_seed);
    model_typ model;
    drew_out_of_range = false;
    model.convert(galezie, t, &losoj);
    switch (t->render_type) {
    case 0:
        model.draw_skeleton(op);
        break;
    case 1:
        model.draw_solid(op, 0, t);
        break;
    case 2:
        model.draw_solid(op, 1, t);
        break;
    default:
        break;
    }
    return drew_out_of_range ? 2 : 0;
}

void change_status(st_tree *t, int level)
{
    if (updated == 1) {
        t->change_level = static_cast<char>(level);
        updated = 0;
    } else if (level == 0) {
        t->change_level = 0;
    } else if (level < t->change_level) {
        t->change_level = static_cast<char>(level);
    }
}

} // namespace ramulon
