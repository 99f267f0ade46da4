#include "edit_op.h"

#include "common/index_cast.h"
#include "services.h"

#include <cstdint>

namespace host {

namespace {

// An ID is ((index + 1) << 2) | polygon bit | background bit, so that null is never an ID and a
// point ID can never pass for a polygon ID.
constexpr std::uintptr_t polygon_bit = 2;
constexpr std::uintptr_t background_bit = 1;

void *make_id(bool polygon, bool background, int index)
{
    const std::uintptr_t v = (static_cast<std::uintptr_t>(index) + 1) << 2 |
                             (polygon ? polygon_bit : 0) | (background ? background_bit : 0);
    return reinterpret_cast<void *>(v);
}

struct Decoded {
    bool background;
    std::size_t index;
};

inline bool decode(const void *id, bool polygon, Decoded &out)
{
    const auto v = reinterpret_cast<std::uintptr_t>(id);
    if (v < 4 || ((v & polygon_bit) != 0) != polygon)
        return false;
    out.background = (v & background_bit) != 0;
    out.index = (v >> 2) - 1;
    return true;
}

// Whether id names a point of a foreground layer of count points, and which: a foreground
// point's ID has neither low bit set, and null and the other small values that are no ID give
// an index past any layer. Every map value the plug-in writes is checked here.
inline bool foreground_point(const void *id, std::size_t count, std::size_t &index)
{
    const auto v = reinterpret_cast<std::uintptr_t>(id);
    index = (v >> 2) - 1;
    return (v & (polygon_bit | background_bit)) == 0 && index < count;
}

EditOp &self(EDStateRef state) { return *static_cast<EditOp *>(state); }

// The host shows how far a build has come at every point whose index is a multiple of 4096.
constexpr std::size_t progress_step = 4095;

} // namespace

EditOp::EditOp(Mesh &mesh, Journal *journal)
    : mesh_(mesh), journal_(journal),
      point_base_(ramulon::index_cast<int>(mesh.foreground.points.size())),
      polygon_base_(ramulon::index_cast<int>(mesh.foreground.polygon_count()))
{
    op_.state = this;
    op_.layerNum = 1;
    op_.polyCount = poly_count;
    op_.polyScan = poly_scan;
    op_.pointInfo = point_info;
    op_.polyNormal = poly_normal;
    op_.addPoint = add_point;
    op_.addFace = add_face;
    op_.addPoly = add_poly;
    op_.polTag = pol_tag;
    op_.pntVMap = journal ? pnt_vmap_journaled : pnt_vmap;
    op_.pntVPMap = pnt_vpmap;
}

LWPntID EditOp::point_id(bool background, int index) { return make_id(false, background, index); }

LWPolID EditOp::polygon_id(bool background, int index) { return make_id(true, background, index); }

Layer *EditOp::layer_of(int selector)
{
    if (selector == OPLYR_BG)
        return &mesh_.background;
    if (selector == OPLYR_FG)
        return &mesh_.foreground;
    return nullptr;
}

// Every map value the plug-in writes passes here: inline, it costs a few instructions.
inline int EditOp::fg_point(LWPntID id) const
{
    std::size_t index = 0;
    if (!foreground_point(id, mesh_.foreground.points.size(), index))
        return -1;
    return static_cast<int>(index); // a layer holds no more points than an int counts
}

// Every tag and polygon-specific value the plug-in writes names its polygon here: a foreground
// polygon's ID has the polygon bit alone of the two low bits, and the small values that are no
// ID give an index past any layer.
inline int EditOp::fg_polygon(LWPolID id) const
{
    const auto v = reinterpret_cast<std::uintptr_t>(id);
    const std::size_t index = (v >> 2) - 1;
    if ((v & (polygon_bit | background_bit)) != polygon_bit || index >= mesh_.foreground.polygon_count())
        return -1;
    return static_cast<int>(index); // a layer holds no more polygons than an int counts
}

EDError EditOp::refuse(const char *call, const char *why)
{
    rejected_.push_back(std::string(call) + ": " + why);
    return EDERR_BADARGS;
}

int EditOp::poly_count(EDStateRef state, int selector, int mode)
{
    const Layer *layer = self(state).layer_of(selector);
    // Nothing is ever selected in this host, so only "all" counts anything.
    if (!layer || mode != EDCOUNT_ALL)
        return 0;
    return ramulon::index_cast<int>(layer->polygon_count());
}

EDError EditOp::poly_scan(EDStateRef state, EDPolyScanFunc func, void *user, int selector)
{
    EditOp &op = self(state);
    Layer *layer = op.layer_of(selector);
    if (!layer)
        return EDERR_BADLAYER;
    if (!func)
        return op.refuse("polyScan", "no callback");
    const bool background = layer == &op.mesh_.background;
    // Polygons added by the callback itself are not visited.
    const std::size_t count = layer->polygon_count();
    std::vector<LWPntID> ids;
    for (std::size_t i = 0; i < count; ++i) {
        ids.clear();
        // Read afresh each time round: the callback may add polygons and move the arrays.
        for (int p : layer->polygon_points(i))
            ids.push_back(make_id(false, background, p));
        const int surface = layer->polygon_surface[i];
        EDPolygonInfo info{};
        info.pol = make_id(true, background, ramulon::index_cast<int>(i));
        info.userData = user;
        info.layer = background ? OPLYR_BG : OPLYR_FG;
        info.numPnts = ramulon::index_cast<int>(ids.size());
        info.points = ids.data();
        info.surface = surface < 0 ? nullptr : layer->names[surface].c_str();
        info.type = layer->polygon_type[i];
        const EDError err = func(user, &info);
        if (err != EDERR_NONE)
            return err;
    }
    return EDERR_NONE;
}

EDPointInfo *EditOp::point_info(EDStateRef state, LWPntID id)
{
    EditOp &op = self(state);
    Decoded d;
    if (!decode(id, false, d)) {
        op.refuse("pointInfo", "not a point ID");
        return nullptr;
    }
    const Layer &layer = d.background ? op.mesh_.background : op.mesh_.foreground;
    if (d.index >= layer.points.size()) {
        op.refuse("pointInfo", "unknown point");
        return nullptr;
    }
    const Vec3 &p = layer.points[d.index];
    EDPointInfo &info = op.point_infos_[id];
    info.pnt = id;
    info.userData = nullptr;
    info.layer = d.background ? OPLYR_BG : OPLYR_FG;
    info.flags = 0;
    info.position[0] = p.x;
    info.position[1] = p.y;
    info.position[2] = p.z;
    return &info;
}

int EditOp::poly_normal(EDStateRef state, LWPolID id, double normal[3])
{
    EditOp &op = self(state);
    if (!normal) {
        op.refuse("polyNormal", "no result array");
        return 0;
    }
    normal[0] = normal[1] = normal[2] = 0.0;
    Decoded d;
    if (!decode(id, true, d)) {
        op.refuse("polyNormal", "not a polygon ID");
        return 0;
    }
    const Layer &layer = d.background ? op.mesh_.background : op.mesh_.foreground;
    if (d.index >= layer.polygon_count()) {
        op.refuse("polyNormal", "unknown polygon");
        return 0;
    }
    const Vec3 n = newell_normal(layer, layer.polygon_points(d.index));
    normal[0] = n.x;
    normal[1] = n.y;
    normal[2] = n.z;
    // 0 tells the caller the polygon has no direction (fewer than three distinct corners).
    return n.x != 0.0 || n.y != 0.0 || n.z != 0.0;
}

// A point of a tree with no journal to feed, in room the layer's array has grown already, and
// not one the host shows its progress at: stored here without a frame.
LWPntID EditOp::add_point(EDStateRef state, double *xyz)
{
    EditOp &op = self(state);
    Layer &fg = op.mesh_.foreground;
    if (xyz && !op.journal_ && fg.points.has_room(1) && (fg.points.size() & progress_step) != 0) [[likely]]
        return make_id(false, false, fg.add_point(Vec3{xyz[0], xyz[1], xyz[2]}));
    return op.add_point_checked(xyz);
}

LWPntID EditOp::add_point_checked(const double *xyz)
{
    if (!xyz) {
        refuse("addPoint", "no position");
        return nullptr;
    }
    const int index = mesh_.foreground.add_point(Vec3{xyz[0], xyz[1], xyz[2]});
    if (journal_)
        journal_->add_point(index - point_base_, xyz);
    // Writing a large tree is the longest step of its build: now and then the host shows how
    // far it has come (and may stop there).
    if ((index & progress_step) == 0)
        if (Services *services = Services::bound(); services && services->write_hook)
            services->write_hook(ramulon::index_cast<std::size_t>(index) + 1);
    return make_id(false, false, index);
}

// The polygon's corners are decoded straight into the layer's corner array; an ID that names no
// foreground point gives them up again and refuses the polygon.
LWPolID EditOp::add_polygon(bool face_call, HostID type, const char *surface, int n,
                            const LWPntID *points)
{
    const char *call = face_call ? "addFace" : "addPoly";
    if (n < 0 || (n > 0 && !points)) {
        refuse(call, "no point list");
        return nullptr;
    }
    Layer &fg = mesh_.foreground;
    const std::size_t count = fg.points.size();
    int *corners = fg.open_corners(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        std::size_t index = 0;
        if (!foreground_point(points[i], count, index)) {
            fg.drop_open_corners();
            refuse(call, "a point that is not in the foreground layer");
            return nullptr;
        }
        corners[i] = static_cast<int>(index); // a layer holds no more points than an int counts
    }
    const int index = fg.close_polygon(type, surface ? fg.names.intern(surface) : -1);
    if (journal_) [[unlikely]]
        journal_polygon(face_call, index, type, surface);
    return make_id(true, false, index);
}

void EditOp::journal_polygon(bool face_call, int index, HostID type, const char *surface)
{
    const std::span<const int> corners = mesh_.foreground.polygon_points(static_cast<std::size_t>(index));
    journal_points_.clear();
    for (const int p : corners)
        journal_points_.push_back(p - point_base_);
    const int fid = index - polygon_base_;
    const int n = static_cast<int>(corners.size());
    if (face_call)
        journal_->add_face(fid, surface, n, journal_points_.data());
    else
        journal_->add_poly(fid, type, surface, n, journal_points_.data());
}

LWPolID EditOp::add_face(EDStateRef state, const char *surface, int n, const LWPntID *points)
{
    return self(state).add_polygon(true, ID_FACE, surface, n, points);
}

LWPolID EditOp::add_poly(EDStateRef state, HostID type, LWPolID, const char *surface, int n,
                         const LWPntID *points)
{
    // The template polygon would lend its surface and tags; the tool never passes one.
    return self(state).add_polygon(false, type, surface, n, points);
}

// Nearly every tag is the first of the polygon just added, by a name the layer knows by its
// pointer, in an operation with no journal: stored here without a frame.
EDError EditOp::pol_tag(EDStateRef state, LWPolID pol, HostID tag_type, const char *tag)
{
    EditOp &op = self(state);
    Layer &fg = op.mesh_.foreground;
    const std::size_t polygons = fg.polygon_count();
    // The last polygon's ID is its count times four with the polygon bit (make_id).
    if (!op.journal_ && reinterpret_cast<std::uintptr_t>(pol) == (polygons << 2 | polygon_bit)) [[likely]] {
        // The name first: the arrays' sizes read after it are the ones the stores below use.
        const int value = fg.names.known(tag);
        if (value >= 0 && fg.first_tag.size() + 1 == polygons && fg.first_tag.has_room(1) && fg.tags.has_room(1))
            [[likely]] {
            fg.set_first_tag_of_next(tag_type, value);
            return EDERR_NONE;
        }
    }
    return op.pol_tag_checked(pol, tag_type, tag);
}

EDError EditOp::pol_tag_checked(LWPolID pol, HostID tag_type, const char *tag)
{
    const int index = fg_polygon(pol);
    if (index < 0)
        return refuse("polTag", "a polygon that is not in the foreground layer");
    if (!tag)
        return refuse("polTag", "no tag value");
    Layer &fg = mesh_.foreground;
    fg.set_tag(index, tag_type, fg.names.intern(tag));
    if (journal_)
        journal_->pol_tag(index - polygon_base_, tag_type, tag);
    return EDERR_NONE;
}

// The plug-in writes a handful of map values for every point it adds, each through this call,
// nearly all of them to the point just added, in a map it wrote a moment ago through the same
// name pointer: those are stored here without a call or a frame. An operation with a journal
// to feed takes pnt_vmap_journaled instead (see the constructor), so nothing here asks for it.
EDError EditOp::pnt_vmap(EDStateRef state, LWPntID pnt, HostID type, const char *name, int dim,
                         float *value)
{
    Layer &fg = self(state).mesh_.foreground;
    // The last point's ID is the point count times four (make_id): one comparison tells that
    // the ID names a point, of the foreground, and the one just added.
    if (reinterpret_cast<std::uintptr_t>(pnt) == fg.points.size() << 2 && (value || dim == 0) &&
        fg.append_vmap(type, name, dim, value)) [[likely]]
        return EDERR_NONE;
    return pnt_vmap_checked(state, pnt, type, name, dim, value);
}

EDError EditOp::pnt_vmap_journaled(EDStateRef state, LWPntID pnt, HostID type, const char *name, int dim,
                                   float *value)
{
    return pnt_vmap_checked(state, pnt, type, name, dim, value);
}

EDError EditOp::pnt_vmap_checked(EDStateRef state, LWPntID pnt, HostID type, const char *name, int dim,
                                 const float *value)
{
    EditOp &op = self(state);
    const int index = op.fg_point(pnt);
    if (index < 0)
        return op.refuse("pntVMap", "a point that is not in the foreground layer");
    if (!name || dim < 0 || (dim > 0 && !value))
        return op.refuse("pntVMap", "no map name or values");
    Layer &fg = op.mesh_.foreground;
    if (!fg.set_vmap(type, name, index, dim, value))
        return op.refuse("pntVMap", "more values than a map holds");
    if (op.journal_)
        op.journal_->pnt_vmap(index - op.point_base_, type, name, dim, value);
    return EDERR_NONE;
}

EDError EditOp::pnt_vpmap(EDStateRef state, LWPntID pnt, LWPolID pol, HostID type,
                          const char *name, int dim, float *value)
{
    EditOp &op = self(state);
    const int point = op.fg_point(pnt);
    if (point < 0)
        return op.refuse("pntVPMap", "a point that is not in the foreground layer");
    const int polygon = op.fg_polygon(pol);
    if (polygon < 0)
        return op.refuse("pntVPMap", "a polygon that is not in the foreground layer");
    if (!name || dim < 0 || (dim > 0 && !value))
        return op.refuse("pntVPMap", "no map name or values");
    Layer &fg = op.mesh_.foreground;
    if (!fg.set_vpmap(type, fg.names.intern(name), point, polygon, dim, value))
        return op.refuse("pntVPMap", "more values than a map holds");
    if (op.journal_)
        op.journal_->pnt_vpmap(point - op.point_base_, polygon - op.polygon_base_, type, name, dim,
                               value);
    return EDERR_NONE;
}

} // namespace host
