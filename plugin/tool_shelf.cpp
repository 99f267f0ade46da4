// Presets: the tree record as a flat list of 32-bit items on the host's preset shelf, the two
// shelf buttons, and the thumbnail that shows the grown skeleton.
#include <cmath>
#include <cstddef>

#include "line.h"
#include "tool.h"
#include "trees.h"

namespace ramulon {

namespace {

// One stored item: an int32 field, a double field narrowed to float32, or an 8-bit flag
// carried as an int32.
struct preset_item {
    int32_t st_tree::*i;
    double st_tree::*d;
    char st_tree::*c;
};

constexpr preset_item I(int32_t st_tree::*f) { return {f, nullptr, nullptr}; }
constexpr preset_item F(double st_tree::*f) { return {nullptr, f, nullptr}; }
constexpr preset_item B(char st_tree::*f) { return {nullptr, nullptr, f}; }

using T = st_tree;

// The stored order. It follows the record's fields except that spare_double comes before
// sort_branches and the twig items have an order of their own.
constexpr preset_item items[] = {
    I(&T::num_branches),        I(&T::num_segments),       F(&T::branch_crookedness),
    F(&T::diverge),             F(&T::branch_thickness),   F(&T::trunk_thickness),
    I(&T::diverge_limit),       F(&T::tree_center),        F(&T::branch_bend),
    F(&T::distribution_power),  I(&T::iterations),         F(&T::bias),
    I(&T::random_seed),         F(&T::last_fork_distance), I(&T::relative_spacing),
    F(&T::wg_range),            F(&T::wg_hardness),        F(&T::tip_jitter),
    F(&T::normals_influence),   I(&T::spare_int1),         I(&T::spare_int2),
    I(&T::render_type),         I(&T::refresh_mode),       F(&T::min_angle),
    I(&T::optimization_passes), B(&T::assign_range_wmap),  B(&T::assign_thick_wmap),
    F(&T::wg_thick_max),        I(&T::num_roots),          F(&T::roots_gravity),
    F(&T::roots_length),        F(&T::roots_crookedness),  F(&T::trunk_crookedness),
    F(&T::spare_double),        I(&T::sort_branches),      I(&T::sub_segments),
    F(&T::tree_center_variation), F(&T::trunk_offset),     I(&T::num_trunks),
    F(&T::tips_thickness),      F(&T::twig_length),        F(&T::twig_fixed_length),
    F(&T::twig_range),          I(&T::twig_segments),      I(&T::twig_type),
    I(&T::twig_fixed),          F(&T::twig_coverage),      F(&T::trunk_connection_bend),
    F(&T::trunk_bend),          I(&T::trunk_thick_type),   I(&T::trunk_influence),
    F(&T::leaf_width),          F(&T::leaf_length),        I(&T::leaf_shape),
    F(&T::leaf_out),            F(&T::leaf_hang),          F(&T::leaf_tip_hang),
    F(&T::leaf_randomness),     I(&T::leaf_twin),          F(&T::leaf_size),
    F(&T::leaf_size_tip),       I(&T::leaf_density),       I(&T::spare_int3),
};
static_assert(sizeof(items) / sizeof(items[0]) == 63, "a preset holds 63 items");

// Reads one item into the record; false when the host could not supply it.
bool read_item(st_tree *t, const LWLoadState *load, const preset_item &item)
{
    if (item.d) {
        float f = 0.0f;
        if (load->readFP(load->data, &f, 1) < 1)
            return false;
        // A branch may not be asked to finish more than all of its growth before it forks.
        if (item.d == &st_tree::last_fork_distance && f > 1.0f)
            f = 1.0f;
        t->*item.d = f;
        return true;
    }
    int32_t v = 0;
    if (load->readI4(load->data, &v, 1) < 1)
        return false;
    if (item.i)
        t->*item.i = v;
    else
        t->*item.c = static_cast<char>(v & 0xFF);
    return true;
}

// Screen coordinates of a skeleton node; far-off nodes are held at a distance the line
// drawing can still step over.
long to_pixel(double v)
{
    constexpr double limit = 1048576.0;
    if (!(v > -limit))
        return static_cast<long>(-limit);
    if (v > limit)
        return static_cast<long>(limit);
    return static_cast<long>(std::trunc(v));
}

} // namespace

int shelf_load_ok(void *) { return 1; }

void shelf_save(void *inst, const LWSaveState *save, const char *)
{
    const st_tree *t = static_cast<const st_tree *>(inst);
    for (const preset_item &item : items) {
        if (item.d) {
            const float f = static_cast<float>(t->*item.d);
            save->writeFP(save->data, &f, 1);
        } else {
            const int32_t v = item.i ? t->*item.i : static_cast<int32_t>(t->*item.c);
            save->writeI4(save->data, &v, 1);
        }
    }
}

void shelf_load(void *inst, const LWLoadState *load, const char *, void *)
{
    st_tree *t = static_cast<st_tree *>(inst);
    // A preset cut short leaves the fields after the break as they were.
    for (const preset_item &item : items)
        if (!read_item(t, load, item))
            break;

    t->test_state = 0;
    t->change_level = 0;
    if (t->refresh_mode == 1)
        t->test_state = LWT_TEST_UPDATE;
    change_status(t, 0);
    t->dirty = 1;
    t->active = 1;
    if (panel && xpanf)
        xpanf->viewRefresh(panel);
}

void shelf_open(LWXPanelID pan, int)
{
    if (xpanf)
        xpanf->getData(pan, 0);
    if (!shelff)
        return;
    if (shelff->isOpen(shelff_ctrl_ID))
        shelff->close(shelff_ctrl_ID);
    else
        shelff->open(shelff_ctrl_ID);
}

void shelf_addpreset(LWXPanelID pan, int)
{
    if (!xpanf || !shelff)
        return;
    st_tree *t = static_cast<st_tree *>(xpanf->getData(pan, 0));
    if (!shelff->isOpen(shelff_ctrl_ID))
        shelff->open(shelff_ctrl_ID);
    LWPixmapID thumb = shelf_makethumb(t, 128, 128);
    if (!thumb)
        return;
    shelff->addPreset(shelff_ctrl_ID, thumb, nullptr);
    imgutil->destroy(thumb);
}

void shelf_destroy(LWXPanelID)
{
    if (shelff)
        shelff->unsubscribe(shelff_ctrl_ID);
    shelff_ctrl_ID = nullptr;
}

LWPixmapID shelf_makethumb(st_tree *inst, int width, int height)
{
    if (!inst || !poly_data || !galezie)
        return nullptr;
    if (!imgutil)
        return nullptr;
    LWPixmapID image = imgutil->create(width, height, LWIMTYP_RGBFP);
    if (!image)
        return nullptr;

    float black[3] = {0.0f, 0.0f, 0.0f};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            imgutil->setPixel(image, x, y, black);

    // The box always holds the origin: every bound starts at 0.
    double max_x = 0.0, min_x = 0.0, max_y = 0.0, max_z = 0.0, min_z = 0.0;
    // Only captured records hold vertices: never read past them.
    const int polygons = num_polys < poly_num ? num_polys : poly_num;
    for (int i = 0; i < polygons; ++i) {
        const face6_typ &f = poly_data[i];
        for (int k = 0; k < f.num; ++k) {
            const Cxyz &p = f.points[k];
            if (p.x > max_x)
                max_x = p.x;
            if (p.x < min_x)
                min_x = p.x;
            if (p.y > max_y)
                max_y = p.y;
            if (p.z > max_z)
                max_z = p.z;
            if (p.z < min_z)
                min_z = p.z;
        }
    }
    const double rx = max_x - min_x;
    const double rz = max_z - min_z;
    // A crown of no height and no width gives no scale: the picture stays black.
    if (max_y == 0.0 && rx == 0.0)
        return image;
    const double s = max_y > rx ? 128.0 / max_y : 128.0 / rx;
    const long ox = to_pixel(-min_x * s);

    const int chains = inst->num_branches < galezie_count ? inst->num_branches : galezie_count;
    for (int i = 0; i < chains; ++i) {
        const wezel_typ *n = galezie[i].first;
        if (!n)
            continue;
        long px = to_pixel(ox + n->pos.x * s);
        long py = 128 - to_pixel(n->pos.y * s);
        for (n = n->next; n; n = n->next) {
            const long qx = to_pixel(ox + n->pos.x * s);
            const long qy = 128 - to_pixel(n->pos.y * s);
            // Nearer nodes (smaller z) are brighter; a crown flat in z is lit fully.
            const float depth = static_cast<float>(rz);
            const float b = depth == 0.0f
                                ? 1.0f
                                : (static_cast<float>(max_z) - static_cast<float>(n->pos.z)) / depth;
            line(imgutil, image, px, py, qx, qy, b, width, height);
            px = qx;
            py = qy;
        }
    }
    return image;
}

} // namespace ramulon
