// The preset shelf: thumbnails drawn from a skeleton, the line drawing, the two shelf buttons,
// presets written to and applied from the shelf folder, and the host's images.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "host/host_services.h"
#include "host/image.h"
#include "host/shelf.h"
#include "line.h"
#include "support/panel_session.h"
#include "support/tree_builders.h"
#include "tool.h"
#include "trees.h"

#include "support/png_image.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

// An image utility that keeps its pixels in plain sight and counts calls that fall outside.
struct canvas_util {
    static inline int width = 0, height = 0, outside = 0, writes = 0;
    static inline std::vector<float> rgb;
    static LWPixmapID create(int w, int h, int)
    {
        width = w, height = h, outside = 0, writes = 0;
        rgb.assign(static_cast<std::size_t>(w) * h * 3, -1.0f);
        return &rgb;
    }
    static void destroy(LWPixmapID) {}
    static float *at(int x, int y)
    {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            ++outside;
            return nullptr;
        }
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
    static void set(LWPixmapID, int x, int y, void *v)
    {
        ++writes;
        if (float *p = at(x, y))
            std::copy(static_cast<float *>(v), static_cast<float *>(v) + 3, p);
    }
    static void get(LWPixmapID, int x, int y, void *v)
    {
        float *p = at(x, y);
        for (int k = 0; k < 3; ++k)
            static_cast<float *>(v)[k] = p ? p[k] : 0.0f;
    }
    static float green(int x, int y) { return rgb[(static_cast<std::size_t>(y) * width + x) * 3 + 1]; }
    static int lit()
    {
        int n = 0;
        for (std::size_t k = 0; k < rgb.size(); k += 3)
            n += rgb[k + 1] > 0.0f;
        return n;
    }
};

LWImageUtil canvas{canvas_util::create, canvas_util::destroy, canvas_util::set, canvas_util::get};

// A captured background of the given polygons and a skeleton of the given chains, as a build
// would leave them; everything is released again when the scene goes.
struct scene {
    scene(const std::vector<std::vector<Cxyz>> &polygons, const std::vector<std::vector<Cxyz>> &chains)
    {
        free_BG();
        free_memory();
        poly_data = new face6_typ[polygons.size()];
        for (std::size_t i = 0; i < polygons.size(); ++i) {
            poly_data[i].num = static_cast<int>(polygons[i].size());
            poly_data[i].points = std::make_unique<Cxyz[]>(polygons[i].size());
            std::copy(polygons[i].begin(), polygons[i].end(), poly_data[i].points.get());
        }
        num_polys = poly_num = static_cast<int>(polygons.size());
        galezie = new galaz_typ[chains.size()];
        galezie_count = static_cast<int>(chains.size());
        for (std::size_t i = 0; i < chains.size(); ++i)
            galezie[i].first = grown_chain(chains[i]);
        record = default_params;
        record.num_branches = galezie_count;
        saved_util = imgutil;
        imgutil = &canvas;
    }
    ~scene()
    {
        free_memory();
        free_BG();
        num_polys = 0;
        imgutil = saved_util;
    }
    LWPixmapID thumb() { return shelf_makethumb(&record, 128, 128); }
    st_tree record;
    LWImageUtil *saved_util;
};

// A box crown: x in [x0, x1], y in [y0, y1], z in [z0, z1], as two faces.
std::vector<std::vector<Cxyz>> box(double x0, double x1, double y0, double y1, double z0, double z1)
{
    return {{Cxyz(x0, y0, z0), Cxyz(x1, y0, z0), Cxyz(x1, y1, z0)},
            {Cxyz(x0, y0, z1), Cxyz(x1, y1, z1), Cxyz(x0, y1, z1)}};
}

TEST(Thumbnail, NeedsABuildAndAnImage)
{
    st_tree t = default_params;
    free_memory();
    free_BG();
    EXPECT_EQ(shelf_makethumb(&t, 128, 128), nullptr);
    scene s(box(-1, 1, 0, 4, -1, 1), {{Cxyz(0, 4, 0), Cxyz(0, 2, 0)}});
    imgutil = nullptr;
    EXPECT_EQ(s.thumb(), nullptr);
}

TEST(Thumbnail, OneNodeChainDrawsNothing)
{
    scene s(box(-1, 1, 0, 4, -1, 1), {{Cxyz(0, 3, 0)}});
    ASSERT_NE(s.thumb(), nullptr);
    EXPECT_EQ(canvas_util::writes, 128 * 128) << "only the black background";
    EXPECT_EQ(canvas_util::lit(), 0);
    for (float v : canvas_util::rgb)
        EXPECT_EQ(v, 0.0f);
}

TEST(Thumbnail, ScaledByTheTallerOfHeightAndWidth)
{
    {
        // Taller than wide: 128 / 4 = 32 pixels a unit, x = 0 at pixel 32; z = 0 lies halfway
        // between the box's nearest and farthest z.
        scene s(box(-1, 1, 0, 4, -1, 1), {{Cxyz(0, 4, 0), Cxyz(0, 2, 0)}});
        ASSERT_NE(s.thumb(), nullptr);
        for (int y = 0; y < 64; ++y) {
            EXPECT_EQ(canvas_util::green(32, y), 0.0f);
            EXPECT_EQ(canvas_util::green(33, y), 0.5f) << y;
        }
        EXPECT_EQ(canvas_util::green(33, 64), 0.0f) << "the end pixel is the next segment's";
        EXPECT_EQ(canvas_util::lit(), 64);
    }
    {
        // Wider than tall: 128 / 8 = 16 pixels a unit, x = 0 at pixel 64; nearer is brighter.
        scene s(box(-4, 4, 0, 2, -1, 1), {{Cxyz(0, 2, -0.5), Cxyz(2, 2, -0.5)}});
        ASSERT_NE(s.thumb(), nullptr);
        for (int x = 64; x < 96; ++x)
            EXPECT_EQ(canvas_util::green(x, 97), 0.75f) << x;
        EXPECT_EQ(canvas_util::lit(), 32);
    }
}

TEST(Thumbnail, PixelsOutsideTheImageAreSkipped)
{
    // Entirely below the ground: scaled by its width (128 / 4), drawn below the picture.
    scene s(box(-2, 2, -3, -1, -1, 1), {{Cxyz(-2, -1, 0), Cxyz(1, -1, 0), Cxyz(1, 0, 0)},
                                        {Cxyz(-2, 0, 0), Cxyz(2, 2, 0)}});
    ASSERT_NE(s.thumb(), nullptr);
    EXPECT_EQ(canvas_util::outside, 0);
    EXPECT_GT(canvas_util::lit(), 0) << "the part inside the picture is drawn";
}

TEST(Thumbnail, DegenerateCrowns)
{
    {
        // Flat in z: full brightness.
        scene s(box(-1, 1, 0, 4, 0, 0), {{Cxyz(0, 4, 0), Cxyz(0, 2, 0)}});
        ASSERT_NE(s.thumb(), nullptr);
        EXPECT_EQ(canvas_util::green(33, 10), 1.0f);
    }
    {
        // No height and no width: no scale, nothing drawn.
        scene s({{Cxyz(0, -1, 0), Cxyz(0, -2, 1), Cxyz(0, -3, 0)}}, {{Cxyz(0, 0, 0), Cxyz(0, -1, 0)}});
        ASSERT_NE(s.thumb(), nullptr);
        EXPECT_EQ(canvas_util::lit(), 0);
        EXPECT_EQ(canvas_util::outside, 0);
    }
    {
        // A record asking for more chains than were grown reads only those grown.
        scene s(box(-1, 1, 0, 4, -1, 1), {{Cxyz(0, 4, 0), Cxyz(0, 2, 0)}});
        s.record.num_branches = 50;
        ASSERT_NE(s.thumb(), nullptr);
        EXPECT_EQ(canvas_util::lit(), 64);
    }
}

TEST(Line, CoverageSplitsBetweenTwoPixels)
{
    EXPECT_EQ(rescale(65535.0f), 1.0f);
    EXPECT_EQ(rescale(0.0f), 0.0f);
    canvas_util::create(16, 16, LWIMTYP_RGBFP);
    for (float &v : canvas_util::rgb)
        v = 0.0f;
    // Drawn backwards: the end points swap, so the same pixels light.
    line(&canvas, nullptr, 4, 1, 0, 0, 1.0f, 16, 16);
    EXPECT_EQ(canvas_util::green(0, 0), 0.0f);
    EXPECT_EQ(canvas_util::green(0, 1), 1.0f);
    EXPECT_EQ(canvas_util::green(1, 0), rescale(16384.0f));
    EXPECT_EQ(canvas_util::green(1, 1), rescale(49151.0f));
    EXPECT_EQ(canvas_util::green(3, 1), rescale(16383.0f));
    EXPECT_EQ(canvas_util::green(4, 1), 0.0f);
    EXPECT_EQ(canvas_util::green(4, 2), 0.0f);
    for (std::size_t k = 0; k < canvas_util::rgb.size(); k += 3) {
        EXPECT_EQ(canvas_util::rgb[k], 0.0f);
        EXPECT_EQ(canvas_util::rgb[k + 2], 0.0f);
    }
    // A line of no length draws nothing.
    const int writes = canvas_util::writes;
    line(&canvas, nullptr, 7, 7, 7, 7, 1.0f, 16, 16);
    EXPECT_EQ(canvas_util::writes, writes);
}

TEST(Line, CrossingLinesKeepTheLargerGreen)
{
    canvas_util::create(16, 16, LWIMTYP_RGBFP);
    for (float &v : canvas_util::rgb)
        v = 0.0f;
    line(&canvas, nullptr, 5, 0, 5, 12, 0.8f, 16, 16); // lights column 6
    line(&canvas, nullptr, 0, 10, 12, 10, 0.3f, 16, 16); // lights row 11
    EXPECT_EQ(canvas_util::green(6, 11), 0.8f);
    EXPECT_EQ(canvas_util::green(5, 11), 0.3f);
    line(&canvas, nullptr, 0, 4, 12, 4, 0.9f, 16, 16); // lights row 5
    EXPECT_EQ(canvas_util::green(6, 5), 0.9f);
    EXPECT_EQ(canvas_util::green(6, 4), 0.8f);
}

TEST(Shelf, ButtonsBeforeAnyBuild)
{
    PresetFolder dir;
    host::set_shelf_dir(dir.path);
    ToolOnPanel p;
    const int added = host::shelf_additions();
    ASSERT_TRUE(p.click("Presets"));
    const bool first = host::shelf_window_open();
    ASSERT_TRUE(p.click("Presets"));
    EXPECT_NE(host::shelf_window_open(), first) << "a second press undoes the first";

    if (host::shelf_window_open())
        p.click("Presets");
    ASSERT_TRUE(p.click("Add Preset"));
    EXPECT_TRUE(host::shelf_window_open()) << "Add Preset opens the shelf";
    EXPECT_EQ(host::shelf_additions(), added) << "nothing built yet, nothing added";
    EXPECT_TRUE(host::list_presets().empty());

    // Destroying the panel ends the subscription.
    const int subscribed = host::shelf_subscriptions();
    host::xpanel_service()->destroy(p.panel);
    EXPECT_EQ(host::shelf_subscriptions(), subscribed - 1);
    EXPECT_EQ(shelff_ctrl_ID, nullptr);
}

TEST(Shelf, PresetRoundTripThroughTheFolder)
{
    PresetFolder dir;
    host::set_shelf_dir(dir.path);
    ToolOnPanel p;
    ASSERT_EQ(p.set("Branches=12"), "");
    ASSERT_EQ(p.set("Branch thickness=0.03"), "");
    ASSERT_EQ(p.build(), "");
    host::set_preset_name("oak");
    ASSERT_TRUE(p.click("Add Preset"));
    ASSERT_TRUE(host::last_addition().added) << host::last_addition().error;
    EXPECT_EQ(host::list_presets(), std::vector<std::string>{"oak"});
    EXPECT_EQ(file_lines(dir.file("oak.preset")).size(), 63u);

    int w = 0, h = 0, n = 0;
    stbi_uc *png = stbi_load(dir.file("oak.png").c_str(), &w, &h, &n, 3);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 128);
    int green = 0, other = 0;
    for (int k = 0; k < w * h; ++k) {
        green += png[k * 3 + 1] > 0;
        other += png[k * 3] + png[k * 3 + 2];
    }
    stbi_image_free(png);
    EXPECT_GT(green, 20) << "the tree shows";
    EXPECT_EQ(other, 0) << "pure green on black";

    // Applied while the tool is dropped: the values come back and the tool is active again.
    ASSERT_EQ(p.set("Branches=99"), "");
    p.session.drop();
    const host::preset_application applied = host::apply_preset("oak");
    EXPECT_TRUE(applied.applied);
    EXPECT_EQ(applied.problem, "");
    EXPECT_EQ(tt.num_branches, 12);
    EXPECT_EQ(tt.branch_thickness, 0.029999999329447746);
    EXPECT_EQ(tt.active, 1);

    // A preset cut short is applied up to the cut, and the host names the line.
    std::vector<std::string> lines = file_lines(dir.file("oak.preset"));
    {
        std::ofstream cut(dir.file("cut.preset"));
        for (int k = 0; k < 10; ++k)
            cut << lines[k] << "\n";
        cut << "FP twelve\n";
    }
    tt.num_branches = 5;
    tt.bias = 4.0;
    const host::preset_application partial = host::apply_preset(dir.file("cut.preset"));
    EXPECT_TRUE(partial.applied);
    EXPECT_NE(partial.problem.find("line 11"), std::string::npos) << partial.problem;
    EXPECT_EQ(tt.num_branches, 12);
    EXPECT_EQ(tt.bias, 4.0);

    EXPECT_FALSE(host::apply_preset("no such preset").applied);
}

TEST(Images, PixelsAndPng)
{
    LWImageUtil *iu = host::image_service();
    EXPECT_EQ(iu->create(4, 2, 1), nullptr) << "RGB float images only";
    LWPixmapID im = iu->create(4, 2, LWIMTYP_RGBFP);
    ASSERT_NE(im, nullptr);
    float px[3] = {0.5f, 1.2f, -1.0f};
    iu->setPixel(im, 1, 0, px);
    iu->setPixel(im, 4, 0, px); // outside: ignored
    iu->setPixel(im, 0, -1, px);
    float back[3] = {9, 9, 9};
    iu->getPixel(im, 9, 9, back);
    EXPECT_EQ(back[0], 0.0f);
    EXPECT_EQ(back[1], 0.0f);
    iu->getPixel(im, 1, 0, back);
    EXPECT_EQ(back[1], 1.2f);

    const std::string bytes = host::encode_png(im).value();
    iu->destroy(im);
    int w = 0, h = 0, n = 0;
    stbi_uc *png = stbi_load_from_memory(reinterpret_cast<const stbi_uc *>(bytes.data()),
                                         static_cast<int>(bytes.size()), &w, &h, &n, 3);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(png[3], 128); // round(0.5 x 255)
    EXPECT_EQ(png[4], 255);
    EXPECT_EQ(png[5], 0);
    int lit = 0;
    for (int k = 0; k < w * h * 3; ++k)
        lit += png[k] != 0;
    EXPECT_EQ(lit, 2);
    stbi_image_free(png);
    EXPECT_EQ(host::encode_png(im).error().kind, ramulon::ErrorKind::invalid_input)
        << "a destroyed image is none of the host's";
}

} // namespace
} // namespace ramulon
