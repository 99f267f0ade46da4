// One mesh-edit operation: the MeshEditOp record a tool's build receives, bound to a mesh.
// polyCount and polyScan follow their layer selector (2 the background, 1 the foreground);
// everything that adds or changes geometry works on the foreground. Point and polygon IDs are
// opaque values that name a layer and an index; an ID the host did not hand out is refused.
//
// What the foreground holds after the operation: every point and polygon the tool added, in
// call order after what it held before, each polygon's corners points of the foreground, every
// map value of a stored dimension no larger than max_map_dim, so that the layer stays
// consistent (Layer::check_consistent). A refused call changes nothing, answers the plug-in
// interface's own failure (EDERR_BADARGS, or a null ID) and adds one line to rejected(): those
// are the only error conditions, reported in the plug-in's terms, not ours.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "journal.h"
#include "mesh.h"
#include "plugin_api.h"

namespace host {

class EditOp {
public:
    // journal may be null: nothing is recorded then; otherwise each call taken adds one line.
    EditOp(Mesh &mesh, Journal *journal);
    EditOp(const EditOp &) = delete;
    EditOp &operator=(const EditOp &) = delete;

    MeshEditOp *op() { return &op_; }

    // Calls refused because they named unknown IDs or passed null data, one line each.
    const std::vector<std::string> &rejected() const { return rejected_; }

    // The IDs of existing elements, for code that drives the operation directly.
    static LWPntID point_id(bool background, int index);
    static LWPolID polygon_id(bool background, int index);

private:
    static int poly_count(EDStateRef, int layer, int mode);
    static EDError poly_scan(EDStateRef, EDPolyScanFunc, void *user, int layer);
    static EDPointInfo *point_info(EDStateRef, LWPntID);
    static int poly_normal(EDStateRef, LWPolID, double normal[3]);
    static LWPntID add_point(EDStateRef, double *xyz);
    // add_point past its common case: the checks, the journal, the progress shown.
    LWPntID add_point_checked(const double *xyz);
    static LWPolID add_face(EDStateRef, const char *surface, int n, const LWPntID *points);
    static LWPolID add_poly(EDStateRef, HostID type, LWPolID proto, const char *surface, int n,
                            const LWPntID *points);
    static EDError pol_tag(EDStateRef, LWPolID, HostID tag_type, const char *tag);
    // pol_tag past its common case: the checks, the journal.
    EDError pol_tag_checked(LWPolID, HostID tag_type, const char *tag);
    static EDError pnt_vmap(EDStateRef, LWPntID, HostID type, const char *name, int dim,
                            float *value);
    // pnt_vmap of an operation that feeds a journal: every call takes the checked path.
    static EDError pnt_vmap_journaled(EDStateRef, LWPntID, HostID type, const char *name, int dim,
                                      float *value);
    // pnt_vmap past its common case: every check, the journal.
    static EDError pnt_vmap_checked(EDStateRef, LWPntID, HostID type, const char *name, int dim,
                                    const float *value);
    static EDError pnt_vpmap(EDStateRef, LWPntID, LWPolID, HostID type, const char *name, int dim,
                             float *value);

    Layer *layer_of(int selector);
    int fg_point(LWPntID id) const;
    int fg_polygon(LWPolID id) const;
    LWPolID add_polygon(bool face_call, HostID type, const char *surface, int n,
                        const LWPntID *points);
    // The journal's line of the polygon just added, index in the layer.
    void journal_polygon(bool face_call, int index, HostID type, const char *surface);
    EDError refuse(const char *call, const char *why);

    Mesh &mesh_;
    Journal *journal_;
    int point_base_;   // foreground points before this operation: journal pids count from here
    int polygon_base_; // and fids from here
    MeshEditOp op_{};
    std::unordered_map<LWPntID, EDPointInfo> point_infos_; // answers of pointInfo, kept stable
    std::vector<std::string> rejected_;
    std::vector<int> journal_points_; // a journaled polygon's corners, reused call to call
};

} // namespace host
