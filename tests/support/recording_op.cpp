#include "support/recording_op.h"

namespace ramulon {

namespace {

RecordingOp *self(EDStateRef s) { return static_cast<RecordingOp *>(s); }

LWPolID poly_id(std::size_t index) { return RecordingOp::point_id(static_cast<int>(index)); }

LWPolID add_polygon(EDStateRef s, bool face, HostID type, const char *surface, int n,
                    const LWPntID *pts)
{
    RecordingOp::Polygon p;
    p.face = face;
    p.type = type;
    p.surface = surface ? surface : "";
    for (int i = 0; i < n; i++)
        p.points.push_back(RecordingOp::index_of(pts[i]));
    self(s)->polygons.push_back(p);
    self(s)->calls.push_back(face ? RecordingOp::Call::face : RecordingOp::Call::poly);
    return poly_id(self(s)->polygons.size() - 1);
}

} // namespace

RecordingOp::RecordingOp()
{
    op_.state = this;
    op_.layerNum = 1;
    op_.polyCount = [](EDStateRef, int, int) { return 0; };
    op_.polyScan = [](EDStateRef, EDPolyScanFunc, void *, int) -> EDError { return EDERR_NONE; };
    op_.pointInfo = [](EDStateRef, LWPntID) -> EDPointInfo * { return nullptr; };
    op_.polyNormal = [](EDStateRef, LWPolID, double *) { return 0; };
    op_.addPoint = [](EDStateRef s, double *xyz) -> LWPntID {
        self(s)->points.emplace_back(xyz[0], xyz[1], xyz[2]);
        self(s)->calls.push_back(Call::point);
        return point_id(static_cast<int>(self(s)->points.size()) - 1);
    };
    op_.addFace = [](EDStateRef s, const char *surface, int n, const LWPntID *pts) {
        return add_polygon(s, true, 0, surface, n, pts);
    };
    op_.addPoly = [](EDStateRef s, HostID type, LWPolID, const char *surface, int n,
                     const LWPntID *pts) { return add_polygon(s, false, type, surface, n, pts); };
    op_.polTag = [](EDStateRef s, LWPolID pol, HostID type, const char *tag) -> EDError {
        self(s)->tags.push_back({index_of(pol), type, tag ? tag : ""});
        self(s)->calls.push_back(Call::tag);
        return EDERR_NONE;
    };
    op_.pntVMap = [](EDStateRef s, LWPntID pnt, HostID type, const char *name, int dim,
                     float *value) -> EDError {
        self(s)->vmaps.push_back({index_of(pnt), -1, type, name, std::vector<float>(value, value + dim)});
        self(s)->calls.push_back(Call::vmap);
        return EDERR_NONE;
    };
    op_.pntVPMap = [](EDStateRef s, LWPntID pnt, LWPolID pol, HostID type, const char *name,
                      int dim, float *value) -> EDError {
        self(s)->vpmaps.push_back(
            {index_of(pnt), index_of(pol), type, name, std::vector<float>(value, value + dim)});
        self(s)->calls.push_back(Call::vpmap);
        return EDERR_NONE;
    };
}

std::vector<float> RecordingOp::vmap_of(int point, const std::string &name) const
{
    for (auto it = vmaps.rbegin(); it != vmaps.rend(); ++it)
        if (it->point == point && it->name == name)
            return it->values;
    return {};
}

std::vector<float> RecordingOp::vpmap_of(int point, int polygon, const std::string &name) const
{
    for (auto it = vpmaps.rbegin(); it != vpmaps.rend(); ++it)
        if (it->point == point && it->polygon == polygon && it->name == name)
            return it->values;
    return {};
}

int RecordingOp::count_type(HostID type) const
{
    int n = 0;
    for (const auto &p : polygons)
        n += p.type == type ? 1 : 0;
    return n;
}

int RecordingOp::count_surface(const std::string &surface) const
{
    int n = 0;
    for (const auto &p : polygons)
        n += p.surface == surface ? 1 : 0;
    return n;
}

int RecordingOp::count_vmap(const std::string &name) const
{
    int n = 0;
    for (const auto &m : vmaps)
        n += m.name == name ? 1 : 0;
    return n;
}

} // namespace ramulon
