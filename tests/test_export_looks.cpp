// How exported trees look in other tools: bark and leaf materials with Ramulon's own textures
// (the same bytes every run, the atlas cells where "RM_all_leaves" points, bark and relief that
// tile), a user's texture folder checked before anything is written, normals split at sharp
// edges and round along tubes, the bark coordinates at every tube's own scale, the wind weights
// (and the colour only when asked), and the Catmull-Clark surface of a SubD tree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <sstream>

#include "export/mesh/bark_coordinates.h"
#include "export/export.h"
#include "export/materials/materials.h"
#include "export/mesh/normals.h"
#include "export/mesh/prepared_mesh.h"
#include "export/mesh/subdivision.h"
#include "export/materials/texture_paint.h"
#include "export/materials/textures.h"
#include "support/export_files.h"

#include "support/png_image.h"

namespace ramulon {
namespace {

std::string read_file(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs the command line; returns its exit status, output and error text in output.
int run_cli(const std::string &arguments, const ScratchDir &dir, std::string &output)
{
    const std::string log = dir.path() + ".log";
    const int status = std::system((std::string(RAMULON_CLI) + " " + arguments + " >" + log + " 2>&1").c_str());
    output = read_file(log);
    std::filesystem::remove(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Decoded {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    const unsigned char *at(int x, int y) const
    {
        return &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
    }
};

Decoded decode(const std::string &png)
{
    Decoded out;
    int channels = 0;
    unsigned char *pixels = stbi_load_from_memory(reinterpret_cast<const unsigned char *>(png.data()),
                                                  static_cast<int>(png.size()), &out.width, &out.height,
                                                  &channels, 4);
    EXPECT_NE(pixels, nullptr);
    if (pixels) {
        out.rgba.assign(pixels, pixels + static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
        stbi_image_free(pixels);
    }
    return out;
}

// ------------------------------------------------------------------------------ textures

TEST(ExportTextures, SameBytesOnEveryRun)
{
    // Two processes paint them independently.
    ScratchDir one, two;
    std::string output;
    const std::string build = std::string("build --preset ") + RAMULON_SOURCE_DIR + "/samples/presets/leafy.preset --output ";
    ASSERT_EQ(run_cli(build + one.file("a.gltf"), one, output), 0) << output;
    ASSERT_EQ(run_cli(build + two.file("a.gltf"), two, output), 0) << output;
    for (const char *name : {"a_bark.png", "a_leaves.png"}) {
        const std::string bytes = read_file(one.file(name));
        ASSERT_FALSE(bytes.empty()) << name;
        EXPECT_EQ(bytes, read_file(two.file(name))) << name;
    }
    // And within one process, what the writers use is what the painter makes.
    const exporter::TextureSet &builtin = exporter::builtin_textures();
    EXPECT_EQ(builtin.bark, read_file(one.file("a_bark.png")));
    EXPECT_EQ(builtin.leaf, exporter::encode_png(exporter::paint_leaf(256)).value());
}

TEST(ExportTextures, AtlasCellsAreWhereTheLeafMapPointsAndPadded)
{
    const Decoded atlas = decode(exporter::builtin_textures().leaves);
    ASSERT_EQ(atlas.width, atlas.height);
    ASSERT_EQ(atlas.width % 3, 0);
    const int cell = atlas.width / 3;
    double lightness[3] = {0, 0, 0};
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row) {
            // "RM_all_leaves" of a leaf's mid-point (u, v) = (0.5, 0.5): (column + 0.5) / 3 across,
            // (row + 0.5) / 3 up from the bottom of the picture.
            const int x = column * cell + cell / 2;
            const int y = atlas.height - 1 - (row * cell + cell / 2);
            EXPECT_EQ(atlas.at(x, y)[3], 255) << "leaf of cell " << column << ", " << row;
            lightness[row] += atlas.at(x - cell / 8, y)[0] + atlas.at(x - cell / 8, y)[1];
        }
    // Young leaves (row 0) are lighter than old ones.
    EXPECT_GT(lightness[0], lightness[1]);
    EXPECT_GT(lightness[1], lightness[2]);
    // A border of transparent texels along every cell edge keeps mip levels from mixing cells.
    const int pad = 4;
    for (int i = 0; i < atlas.width; ++i)
        for (int edge = 0; edge <= 3; ++edge)
            for (int d = -pad; d < pad; ++d) {
                const int line = edge * cell + d;
                if (line < 0 || line >= atlas.width)
                    continue;
                ASSERT_EQ(atlas.at(line, i)[3], 0) << "column " << line << ", row " << i;
                ASSERT_EQ(atlas.at(i, line)[3], 0) << "row " << line << ", column " << i;
            }
    // The single leaf stands in the middle of its picture, stem down.
    const Decoded leaf = decode(exporter::builtin_textures().leaf);
    EXPECT_EQ(leaf.at(leaf.width / 2, leaf.height / 2)[3], 255);
    EXPECT_EQ(leaf.at(2, 2)[3], 0);
}

TEST(ExportTextures, BarkAndItsReliefTileAroundAndAlong)
{
    for (const std::string *png : {&exporter::builtin_textures().bark, &exporter::builtin_textures().bark_normal}) {
        const Decoded image = decode(*png);
        // The step across the seam (last column to first) is no larger than twice the mean step
        // between neighbouring columns; likewise for rows.
        auto step = [&](int x0, int y0, int x1, int y1) {
            double sum = 0.0;
            for (int c = 0; c < 3; ++c)
                sum += std::fabs(static_cast<double>(image.at(x0, y0)[c]) - image.at(x1, y1)[c]);
            return sum;
        };
        double seam_u = 0, inner_u = 0, seam_v = 0, inner_v = 0;
        for (int i = 0; i < image.height; ++i) {
            seam_u += step(image.width - 1, i, 0, i);
            seam_v += step(i, image.height - 1, i, 0);
            for (int k = 0; k + 1 < image.width; ++k) {
                inner_u += step(k, i, k + 1, i);
                inner_v += step(i, k, i, k + 1);
            }
        }
        inner_u /= image.width - 1;
        inner_v /= image.height - 1;
        EXPECT_LT(seam_u, 2.0 * inner_u + 1.0);
        EXPECT_LT(seam_v, 2.0 * inner_v + 1.0);
        EXPECT_GT(inner_u, 0.0); // not a flat colour
    }
    // The relief leans every way but never away from the bark: blue above half everywhere, red
    // and green round their middle.
    const Decoded relief = decode(exporter::builtin_textures().bark_normal);
    double red = 0.0, green = 0.0;
    int blue = 255;
    for (int y = 0; y < relief.height; ++y)
        for (int x = 0; x < relief.width; ++x) {
            blue = std::min<int>(blue, relief.at(x, y)[2]);
            red += relief.at(x, y)[0];
            green += relief.at(x, y)[1];
        }
    EXPECT_GT(blue, 128);
    EXPECT_NEAR(red / (relief.width * relief.height), 127.5, 4.0);
    EXPECT_NEAR(green / (relief.width * relief.height), 127.5, 4.0);
}

const tinygltf::Material &material_of(const tinygltf::Model &model, const std::string &name)
{
    for (const auto &m : model.materials)
        if (m.name == name)
            return m;
    ADD_FAILURE() << "no material " << name;
    return model.materials.at(0);
}

TEST(ExportTextures, UserFolderIsCheckedBeforeAnythingIsWritten)
{
    ScratchDir dir;
    const std::string folder = dir.file("mine");
    std::filesystem::create_directory(folder);
    const exporter::TextureSet &builtin = exporter::builtin_textures();
    write_file(folder + "/bark.png", builtin.bark);
    write_file(folder + "/leaves.png", builtin.leaves);
    const std::string build = "build --set render_type=1 --journal " + dir.file("journal.txt") +
                              " --textures " + folder + " --output ";
    std::string output;

    // leaf.png is missing.
    EXPECT_NE(run_cli(build + dir.file("tree.glb"), dir, output), 0);
    EXPECT_NE(output.find("has no leaf.png"), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;

    // A text file by the name of a PNG.
    write_file(folder + "/leaf.png", "not an image\n");
    EXPECT_NE(run_cli(build + dir.file("tree.obj"), dir, output), 0);
    EXPECT_NE(output.find("leaf.png is not a PNG image"), std::string::npos) << output;

    // A real PNG, but wider than any texture should be.
    exporter::Image wide;
    wide.width = exporter::max_texture_side + 1;
    wide.height = 1;
    wide.channels = 3;
    wide.pixels.assign(static_cast<std::size_t>(wide.width) * 3, 128);
    write_file(folder + "/leaf.png", exporter::encode_png(wide).value());
    EXPECT_NE(run_cli(build + dir.file("tree.gltf"), dir, output), 0);
    EXPECT_NE(output.find("8193 x 1 pixels, more than 8192"), std::string::npos) << output;

    // A PNG cut short.
    write_file(folder + "/leaf.png", builtin.leaf.substr(0, builtin.leaf.size() / 2));
    EXPECT_NE(run_cli(build + dir.file("tree.glb"), dir, output), 0);
    EXPECT_NE(output.find("leaf.png is a damaged PNG"), std::string::npos) << output;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"mine"}); // no journal, no mesh

    // Complete: the user's bytes travel as they are, embedded in the GLB.
    write_file(folder + "/leaf.png", builtin.leaf);
    write_file(folder + "/bark.png", exporter::encode_png(exporter::paint_bark(64).colour).value());
    ASSERT_EQ(run_cli(build + dir.file("tree.glb"), dir, output), 0) << output;
    tinygltf::Model model;
    ASSERT_TRUE(load_gltf(dir.file("tree.glb"), model));
    ASSERT_FALSE(model.images.empty());
    const tinygltf::BufferView &view = model.bufferViews.at(static_cast<std::size_t>(model.images[0].bufferView));
    const unsigned char *start = model.buffers[0].data.data() + view.byteOffset;
    EXPECT_EQ(std::string(start, start + view.byteLength), read_file(folder + "/bark.png"));
    // Without bark_normal.png the bark has no relief; with one, the bark carries it.
    for (const auto &m : model.materials)
        EXPECT_EQ(m.normalTexture.index, -1) << m.name;
    write_file(folder + "/bark_normal.png", exporter::encode_png(exporter::paint_bark(64).normal).value());
    ASSERT_EQ(run_cli(build + dir.file("relief.glb"), dir, output), 0) << output;
    model = tinygltf::Model();
    ASSERT_TRUE(load_gltf(dir.file("relief.glb"), model));
    const int relief = material_of(model, "RM_trunk").normalTexture.index;
    ASSERT_GE(relief, 0);
    const tinygltf::BufferView &relief_view = model.bufferViews.at(static_cast<std::size_t>(
        model.images.at(static_cast<std::size_t>(model.textures.at(static_cast<std::size_t>(relief)).source)).bufferView));
    start = model.buffers[0].data.data() + relief_view.byteOffset;
    EXPECT_EQ(std::string(start, start + relief_view.byteLength), read_file(folder + "/bark_normal.png"));
    // A damaged one stops the build like any other.
    write_file(folder + "/bark_normal.png", "not an image\n");
    EXPECT_NE(run_cli(build + dir.file("bad.glb"), dir, output), 0);
    EXPECT_NE(output.find("bark_normal.png is not a PNG image"), std::string::npos) << output;
}

// ----------------------------------------------------------------------------- normals

// A ring tube of `sides` faces from y = 0 to y = 1, with "RM_branch" (u around, v along).
host::Layer ring_tube(int sides, const std::string &surface = "RM_trunk")
{
    host::Layer layer;
    for (int ring = 0; ring < 2; ++ring)
        for (int i = 0; i < sides; ++i) {
            const double a = 2.0 * std::numbers::pi * i / sides;
            layer.add_point({std::cos(a), static_cast<double>(ring), -std::sin(a)});
        }
    for (int i = 0; i < sides; ++i) {
        const int j = (i + 1) % sides;
        layer.add_polygon(ID_FACE, {i, j, sides + j, sides + i}, surface);
    }
    return layer;
}

exporter::CornerNormals normals_of(const host::Layer &layer, double crease)
{
    return exporter::corner_normals(layer, exporter::collect_materials(layer), crease);
}

double dot(const std::array<float, 3> &a, const host::Vec3 &b) { return a[0] * b.x + a[1] * b.y + a[2] * b.z; }

TEST(ExportNormals, SharpSquareCornersSmoothRoundTubesFlatLeaves)
{
    // A square tube's sides meet at 90 degrees: each corner takes its own side's normal.
    const host::Layer square = ring_tube(4);
    const exporter::CornerNormals sharp = normals_of(square, 60.0);
    for (std::size_t p = 0; p < square.polygon_count(); ++p) {
        const host::Vec3 face = host::newell_normal(square, square.polygon_points(p));
        for (std::size_t c = 0; c < 4; ++c)
            EXPECT_NEAR(dot(sharp.at(p, c), face), 1.0, 1e-6) << p << " " << c;
    }
    // Above 90 degrees the same corners are smoothed: halfway between the two sides.
    const exporter::CornerNormals smooth = normals_of(square, 100.0);
    const host::Vec3 face0 = host::newell_normal(square, square.polygon_points(0));
    EXPECT_NEAR(dot(smooth.at(0, 0), face0), std::sqrt(0.5), 1e-6);

    // An octagon's sides meet at 45 degrees: smooth at the default.
    const host::Layer octagon = ring_tube(8);
    const exporter::CornerNormals round = normals_of(octagon, 60.0);
    const host::Vec3 side = host::newell_normal(octagon, octagon.polygon_points(0));
    EXPECT_NEAR(dot(round.at(0, 0), side), std::cos(std::numbers::pi / 8), 1e-6);
    // Both faces at a shared corner agree.
    EXPECT_EQ(round.at(0, 0), round.at(7, 1));

    // Leaves keep their face normal, even where two leaf quads meet at a shallow fold.
    host::Layer leaf = ring_tube(8, "VF_leaf");
    const exporter::CornerNormals flat = normals_of(leaf, 60.0);
    EXPECT_NEAR(dot(flat.at(0, 0), side), 1.0, 1e-6);
}

TEST(ExportNormals, TubeSidesShadeRoundCapsStaySharp)
{
    // The square tube as the plug-in writes it: its rings at v 0 and 0.5, the seam quad seeing
    // u = 1, and a cap over the top ring.
    host::Layer tube = ring_tube(4);
    for (int i = 0; i < 8; ++i) {
        const float uv[2] = {static_cast<float>(i % 4) * 0.25f, i < 4 ? 0.0f : 0.5f};
        tube.set_vmap(ID_TXUV, "RM_branch", i, 2, uv);
    }
    const float seam_low[2] = {1.0f, 0.0f}, seam_high[2] = {1.0f, 0.5f};
    tube.set_vpmap(ID_TXUV, "RM_branch", 0, 3, 2, seam_low);
    tube.set_vpmap(ID_TXUV, "RM_branch", 4, 3, 2, seam_high);
    const int cap = tube.add_polygon(ID_FACE, {4, 5, 6, 7}, "RM_branch");
    const exporter::CornerNormals normals = normals_of(tube, 60.0);
    // Every side corner leans halfway to its neighbour, the seam's too; both sides agree.
    for (std::size_t p = 0; p < 4; ++p) {
        const host::Vec3 face = host::newell_normal(tube, tube.polygon_points(p));
        for (std::size_t c = 0; c < 4; ++c)
            EXPECT_NEAR(dot(normals.at(p, c), face), std::sqrt(0.5), 1e-6) << p << " " << c;
        EXPECT_EQ(normals.at(p, 1), normals.at((p + 1) % 4, 0)) << p;
    }
    // The cap keeps its own normal, square to the sides.
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_NEAR(normals.at(static_cast<std::size_t>(cap), c)[1], 1.0f, 1e-6f) << c; // facing up
    // Below the crease angle a square tube without the tool's rings stays sharp (the test
    // above); with them it is round at any angle.
    EXPECT_NEAR(dot(normals_of(tube, 0.0).at(0, 0), host::newell_normal(tube, tube.polygon_points(0))),
                std::sqrt(0.5), 1e-6);
}

TEST(ExportNormals, TubeSidesAreFoundFromTheirOwnValuesOrTheirPoints)
{
    // A square tube of two segments, rings at v 0, 0.5 and 1, as the points' own values; or
    // values of one component only, each the ring's v.
    const auto tube = [](int value_size) {
        host::Layer layer;
        for (int ring = 0; ring < 3; ++ring)
            for (int i = 0; i < 4; ++i) {
                const double a = std::numbers::pi / 2.0 * i;
                const int point = layer.add_point({std::cos(a), static_cast<double>(ring), -std::sin(a)});
                const float v = static_cast<float>(ring) * 0.5f;
                const float uv[2] = {value_size == 1 ? v : static_cast<float>(i) * 0.25f, v};
                layer.set_vmap(ID_TXUV, "RM_branch", point, value_size, uv);
            }
        for (int ring = 0; ring < 2; ++ring)
            for (int i = 0; i < 4; ++i) {
                const int j = (i + 1) % 4, low = ring * 4, high = low + 4;
                layer.add_polygon(ID_FACE, {low + i, low + j, high + j, high + i}, "RM_trunk");
            }
        return layer;
    };
    const auto face_of = [](const host::Layer &layer, std::size_t p) {
        return host::newell_normal(layer, layer.polygon_points(p));
    };
    // From the points' values the sides run round the tube at a crease angle that would keep
    // the square's corners sharp.
    const host::Layer plain = tube(2);
    const exporter::CornerNormals round = normals_of(plain, 60.0);
    for (std::size_t p = 0; p < plain.polygon_count(); ++p)
        EXPECT_NEAR(dot(round.at(p, 0), face_of(plain, p)), std::sqrt(0.5), 1e-6) << p;

    // Values of the sides' own, the same as their points', say the same.
    host::Layer own = tube(2);
    for (std::size_t p = 0; p < own.polygon_count(); ++p)
        for (const int point : own.polygon_points(p)) {
            const auto value = own.find_vmap(ID_TXUV, "RM_branch")->at(point).value();
            own.set_vpmap(ID_TXUV, "RM_branch", point, static_cast<int>(p), 2, value.data());
        }
    EXPECT_EQ(normals_of(own, 60.0).normal, round.normal);

    // Own values that lie on no two rings (one v at all four corners) leave the points' to say.
    host::Layer flat_own = tube(2);
    const float same_v[2] = {0.5f, 0.25f};
    for (const int point : flat_own.polygon_points(0))
        flat_own.set_vpmap(ID_TXUV, "RM_branch", point, 0, 2, same_v);
    EXPECT_EQ(normals_of(flat_own, 60.0).normal, round.normal);

    // Points whose values hold one component give no rings, whatever it says: the square's
    // corners stay sharp.
    const host::Layer u_only = tube(1);
    const exporter::CornerNormals sharp = normals_of(u_only, 60.0);
    for (std::size_t p = 0; p < u_only.polygon_count(); ++p)
        EXPECT_NEAR(dot(sharp.at(p, 0), face_of(u_only, p)), 1.0, 1e-6) << p;
}

// Every corner normal of every triangle of a glTF points to the triangle's side.
void expect_corners_face_their_triangles(const tinygltf::Model &model, const std::string &what)
{
    int against = 0, corners = 0;
    for (const auto &prim : model.meshes.at(0).primitives) {
        if (prim.mode != TINYGLTF_MODE_TRIANGLES)
            continue;
        const std::vector<float> pos = accessor_floats(model, prim.attributes.at("POSITION"));
        const std::vector<float> nor = accessor_floats(model, prim.attributes.at("NORMAL"));
        const std::vector<unsigned> index = accessor_indices(model, prim.indices);
        for (std::size_t t = 0; t + 2 < index.size(); t += 3) {
            const float *a = &pos[3 * index[t]], *b = &pos[3 * index[t + 1]], *c = &pos[3 * index[t + 2]];
            const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            const host::Vec3 n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                               e1[0] * e2[1] - e1[1] * e2[0]};
            const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            if (length < 1e-9)
                continue;
            for (int k = 0; k < 3; ++k) {
                const float *m = &nor[3 * index[t + static_cast<std::size_t>(k)]];
                corners += 1;
                if ((m[0] * n.x + m[1] * n.y + m[2] * n.z) / length <= 0.0)
                    against += 1;
            }
        }
    }
    EXPECT_GT(corners, 0) << what;
    EXPECT_EQ(against, 0) << what << ": of " << corners << " corners";
}

TEST(ExportNormals, RealTreesCornersFaceTheirTriangles)
{
    ScratchDir dir;
    for (const char *render : {"render_type=1", "render_type=2"}) {
        host::Layer layer;
        std::string error;
        ASSERT_TRUE(build_real_tree({render, "twig_type=6", "leaf_shape=2"}, layer, error)) << error;
        exporter::ExportOptions options;
        options.textures = exporter::TextureChoice::none;
        for (int levels : {0, 1}) {
            options.subdivide = levels;
            ASSERT_EQ(exporter::write_tree(layer, dir.file("tree.glb"), {.look = options}).message(), "");
            tinygltf::Model model;
            ASSERT_TRUE(load_gltf(dir.file("tree.glb"), model));
            expect_corners_face_their_triangles(model, std::string(render) + " subdivided " + std::to_string(levels));
        }
    }
}

TEST(ExportNormals, ObjCarriesTheSameNormals)
{
    ScratchDir dir;
    const host::Layer square = ring_tube(4);
    exporter::ExportOptions options;
    options.textures = exporter::TextureChoice::none;
    ASSERT_EQ(exporter::write_tree(square, dir.file("tube.obj"), {.look = options}).message(), "");
    const std::string text = read_file(dir.file("tube.obj"));
    // Four sides, one normal each; every corner names its side's.
    std::istringstream lines(text);
    std::string line;
    int normals = 0, faces = 0;
    while (std::getline(lines, line)) {
        normals += line.rfind("vn ", 0) == 0;
        if (line.rfind("f ", 0) == 0) {
            faces += 1;
            const std::string own = "//" + std::to_string(faces);
            EXPECT_EQ(std::count(line.begin(), line.end(), '/'), 8) << line;
            std::size_t count = 0;
            for (std::size_t at = line.find(own); at != std::string::npos; at = line.find(own, at + 1))
                count += 1;
            EXPECT_EQ(count, 4u) << line;
        }
    }
    EXPECT_EQ(normals, 4);
    EXPECT_EQ(faces, 4);
}

// ------------------------------------------------------------- materials and attributes

// A square tube (side 2, from y = 0 to 2, v 0..0.5) on the trunk, a twig quad beside it, a root
// quad and a leaf; range and thickness on the tube.
host::Layer looks_layer()
{
    host::Layer layer = ring_tube(4);
    for (auto &p : layer.points) {
        p.x *= std::sqrt(2.0);
        p.z *= std::sqrt(2.0);
        p.y *= 2.0;
    }
    auto set = [&layer](HostID type, const char *name, int point, std::vector<float> value) {
        layer.set_vmap(type, name, point, static_cast<int>(value.size()), value.data());
    };
    for (int i = 0; i < 8; ++i) {
        set(ID_TXUV, "RM_branch", i, {static_cast<float>(i % 4) * 0.25f, i < 4 ? 0.0f : 0.5f});
        set(ID_WGHT, "RM_range", i, {0.5f});
    }
    const float seam_low[2] = {1.0f, 0.0f}, seam_high[2] = {1.0f, 0.5f};
    layer.set_vpmap(ID_TXUV, "RM_branch", 0, 3, 2, seam_low);
    layer.set_vpmap(ID_TXUV, "RM_branch", 4, 3, 2, seam_high);
    for (const char *surface : {"RM_twig", "RM_root", "VF_leaf"}) {
        const int base = static_cast<int>(layer.points.size());
        for (int i = 0; i < 4; ++i) {
            layer.add_point({5.0 + (i == 1 || i == 2), static_cast<double>(base), static_cast<double>(i >= 2)});
            set(ID_TXUV, "RM_branch", base + i, {static_cast<float>(i == 1 || i == 2), static_cast<float>(i >= 2)});
        }
        layer.add_polygon(ID_FACE, {base, base + 1, base + 2, base + 3}, surface);
    }
    for (int i = 0; i < 4; ++i) {
        const int p = static_cast<int>(layer.points.size()) - 4 + i;
        set(ID_TXUV, "RM_leaf", p, {0.5f, 0.5f});
        set(ID_TXUV, "RM_all_leaves", p, {0.5f, 0.5f});
        set(ID_WGHT, "RM_thick", p, {1.3f});
        set(ID_WGHT, "RM_range", p, {-1.3f});
    }
    return layer;
}

TEST(ExportMaterials, BarkLeavesAndWindWeights)
{
    const host::Layer layer = looks_layer();
    ScratchDir dir;
    ASSERT_EQ(exporter::write_tree(layer, dir.file("tree.gltf")).message(), "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"tree.bin", "tree.gltf", "tree_bark.png",
                                                       "tree_bark_normal.png", "tree_leaves.png"}));
    tinygltf::Model model;
    ASSERT_TRUE(load_gltf(dir.file("tree.gltf"), model));
    const auto &trunk = material_of(model, "RM_trunk");
    const auto &root = material_of(model, "RM_root");
    const auto &twig = material_of(model, "RM_twig");
    const auto &leaf = material_of(model, "VF_leaf");
    // One bark on trunk and roots over the bark coordinates, with its relief; twigs lighter.
    const auto &bark = trunk.pbrMetallicRoughness.baseColorTexture;
    ASSERT_GE(bark.index, 0);
    EXPECT_EQ(bark.texCoord, 1);
    EXPECT_EQ(root.pbrMetallicRoughness.baseColorTexture.index, bark.index);
    EXPECT_EQ(twig.pbrMetallicRoughness.baseColorTexture.index, bark.index);
    EXPECT_EQ(root.pbrMetallicRoughness.baseColorFactor, trunk.pbrMetallicRoughness.baseColorFactor);
    EXPECT_GT(twig.pbrMetallicRoughness.baseColorFactor[0], trunk.pbrMetallicRoughness.baseColorFactor[0]);
    const auto texture_uri = [&](int texture) {
        return model.images.at(static_cast<std::size_t>(model.textures.at(static_cast<std::size_t>(texture)).source)).uri;
    };
    EXPECT_EQ(texture_uri(bark.index), "tree_bark.png");
    for (const auto *m : {&trunk, &root, &twig}) {
        EXPECT_EQ(texture_uri(m->normalTexture.index), "tree_bark_normal.png");
        EXPECT_EQ(m->normalTexture.texCoord, 1);
    }
    EXPECT_TRUE(bark.extensions.empty());
    EXPECT_TRUE(model.extensionsUsed.empty());
    EXPECT_EQ(model.samplers.at(static_cast<std::size_t>(model.textures.at(static_cast<std::size_t>(bark.index)).sampler)).wrapS,
              TINYGLTF_TEXTURE_WRAP_REPEAT);
    // Leaves: the atlas through "RM_all_leaves", masked, both sides, no relief.
    EXPECT_EQ(leaf.alphaMode, "MASK");
    EXPECT_TRUE(leaf.doubleSided);
    EXPECT_EQ(leaf.pbrMetallicRoughness.baseColorTexture.texCoord, 1);
    EXPECT_EQ(leaf.normalTexture.index, -1);
    EXPECT_EQ(texture_uri(leaf.pbrMetallicRoughness.baseColorTexture.index), "tree_leaves.png");

    for (const auto &prim : model.meshes.at(0).primitives) {
        const std::string &name = model.materials.at(static_cast<std::size_t>(prim.material)).name;
        // The wind weights in _WIND, range -1.3..1.3 to 0..1 and thickness over 1.3; no tint.
        EXPECT_FALSE(prim.attributes.count("COLOR_0")) << name;
        const std::vector<float> wind = accessor_floats(model, prim.attributes.at("_WIND"));
        if (name == "RM_trunk") {
            EXPECT_FLOAT_EQ(wind[0], 1.8f / 2.6f);
            EXPECT_EQ(wind[1], 0.0f);
            // The bark coordinates: the tube is 8 m round and 2 m tall, so its top is at t 1/4
            // (written as 1 - t).
            const std::vector<float> position = accessor_floats(model, prim.attributes.at("POSITION"));
            const std::vector<float> uv = accessor_floats(model, prim.attributes.at("TEXCOORD_1"));
            for (std::size_t v = 0; v < uv.size() / 2; ++v)
                EXPECT_FLOAT_EQ(uv[v * 2 + 1], position[v * 3 + 1] > 1.0f ? 0.75f : 1.0f) << v;
        } else if (name == "VF_leaf") {
            EXPECT_NEAR(wind[0], 0.0f, 1e-6);
            EXPECT_NEAR(wind[1], 1.0f, 1e-6);
        }
    }

    // The OBJ: the bark with its relief, the single leaf masked by its own alpha; one texture
    // coordinate a corner, the bark's on woody faces.
    ASSERT_EQ(exporter::write_tree(layer, dir.file("tree.obj")).message(), "");
    const std::string mtl = read_file(dir.file("tree.mtl"));
    EXPECT_NE(mtl.find("map_Kd tree_bark.png\nnorm tree_bark_normal.png\nmap_Bump tree_bark_normal.png\n"),
              std::string::npos)
        << mtl;
    EXPECT_NE(mtl.find("map_Kd tree_leaf.png\nmap_d tree_leaf.png"), std::string::npos) << mtl;
    EXPECT_TRUE(std::filesystem::exists(dir.file("tree_leaf.png")));
    EXPECT_NE(read_file(dir.file("tree.obj")).find("\nvt 0 0.25\n"), std::string::npos);

    // Asked for, the wind colour too; without textures, colours only, bark brown everywhere
    // (never the grey of "no colour").
    exporter::ExportOptions plain;
    plain.textures = exporter::TextureChoice::none;
    plain.wind_colours = true;
    ASSERT_EQ(exporter::write_tree(layer, dir.file("plain.glb"), {.look = plain}).message(), "");
    tinygltf::Model colours;
    ASSERT_TRUE(load_gltf(dir.file("plain.glb"), colours));
    EXPECT_TRUE(colours.images.empty());
    for (const char *name : {"RM_trunk", "RM_root", "RM_twig"}) {
        const auto &c = material_of(colours, name).pbrMetallicRoughness.baseColorFactor;
        EXPECT_GT(c[0], c[2]) << name;
    }
    EXPECT_EQ(material_of(colours, "VF_leaf").alphaMode, "OPAQUE");
    for (const auto &prim : colours.meshes.at(0).primitives) {
        const std::vector<float> colour = accessor_floats(colours, prim.attributes.at("COLOR_0"));
        const std::vector<float> wind = accessor_floats(colours, prim.attributes.at("_WIND"));
        ASSERT_EQ(colour.size() / 3, wind.size() / 2);
        for (std::size_t v = 0; v < wind.size() / 2; ++v)
            EXPECT_EQ((std::vector<float>{colour[v * 3], colour[v * 3 + 1], colour[v * 3 + 2]}),
                      (std::vector<float>{wind[v * 2], wind[v * 2 + 1], 0.0f}));
    }
}

TEST(ExportMaterials, WindColoursOnlyWhenAsked)
{
    ScratchDir dir;
    std::string output;
    const std::string build = "build --set render_type=1 --set twig_type=5 --textures none --output ";
    const auto colours = [&](const std::string &file) {
        tinygltf::Model model;
        EXPECT_TRUE(load_gltf(dir.file(file), model));
        int with = 0;
        for (const auto &prim : model.meshes.at(0).primitives) {
            with += prim.attributes.count("COLOR_0") ? 1 : 0;
            EXPECT_TRUE(prim.attributes.count("_WIND")) << file;
        }
        return with;
    };
    ASSERT_EQ(run_cli(build + dir.file("plain.glb"), dir, output), 0) << output;
    EXPECT_EQ(colours("plain.glb"), 0);
    ASSERT_EQ(run_cli(build + dir.file("tinted.glb") + " --wind-colours", dir, output), 0) << output;
    EXPECT_GT(colours("tinted.glb"), 0);
    // What earlier versions asked for is the default now, and still taken.
    ASSERT_EQ(run_cli(build + dir.file("old.glb") + " --no-wind-colours", dir, output), 0) << output;
    EXPECT_EQ(colours("old.glb"), 0);
}

// ------------------------------------------------------------------------ bark coordinates

// Tubes of square rings as the plug-in writes them: corner i of a ring at u = i / 4, v the path
// length over `longest`, and the quad that closes a ring seeing u = 1 at its first corner.
struct Tubes {
    host::Layer layer;
    float longest = 10.0f;

    // A ring of half-side `half` round centre, square to the axis `along` (x or y).
    std::array<int, 4> ring(host::Vec3 centre, double half, double path, char along = 'y')
    {
        std::array<int, 4> ids{};
        const double a[4] = {half, half, -half, -half}, b[4] = {half, -half, -half, half};
        for (int i = 0; i < 4; ++i) {
            host::Vec3 p = centre;
            if (along == 'y') {
                p.x += a[i];
                p.z += b[i];
            } else {
                p.y += a[i];
                p.z += b[i];
            }
            ids[static_cast<std::size_t>(i)] = layer.add_point(p);
            const float uv[2] = {static_cast<float>(i) * 0.25f, static_cast<float>(path / longest)};
            layer.set_vmap(ID_TXUV, "RM_branch", ids[static_cast<std::size_t>(i)], 2, uv);
        }
        return ids;
    }
    // The four sides between two rings; skip: a side left open (for a fork's stub).
    void sides(const std::array<int, 4> &a, const std::array<int, 4> &b, const std::string &surface, int skip = -1)
    {
        for (std::size_t i = 0; i < 4; ++i) {
            if (static_cast<int>(i) == skip)
                continue;
            const std::size_t j = (i + 1) % 4;
            const int poly = layer.add_polygon(ID_FACE, {a[i], a[j], b[j], b[i]}, surface);
            if (j == 0)
                for (const int point : {a[0], b[0]}) {
                    const float seam[2] = {1.0f, layer.find_vmap(ID_TXUV, "RM_branch")->at(point).value()[1]};
                    layer.set_vpmap(ID_TXUV, "RM_branch", point, poly, 2, seam);
                }
        }
    }
};

// Metres per unit of bark u around and of bark t along, halfway along one side quad
// (a0 a1 b1 b0).
std::pair<double, double> bark_scales(const exporter::BarkCoordinates &bark, const host::Layer &layer, std::size_t p)
{
    const auto poly = layer.polygon_points(p);
    const auto distance = [&](int a, int b) {
        const host::Vec3 &x = layer.points[static_cast<std::size_t>(a)], &y = layer.points[static_cast<std::size_t>(b)];
        return std::hypot(x.x - y.x, x.y - y.y, x.z - y.z);
    };
    const double around = (distance(poly[0], poly[1]) + distance(poly[3], poly[2])) / 2.0 /
                          std::fabs(bark.at(p, 1)[0] - bark.at(p, 0)[0]);
    const double along = (distance(poly[0], poly[3]) + distance(poly[1], poly[2])) / 2.0 /
                         std::fabs(bark.at(p, 3)[1] - bark.at(p, 0)[1]);
    return {around, along};
}

TEST(ExportNormals, CornersOfAPointTakingOneNormalHoldItOnce)
{
    // Two square tube segments bent a little at the middle ring and capped at the top: round
    // at every ring, sharp at the cap's edge. At a point, corners that take the same normal
    // name the same place in normal, corners that take another name another.
    Tubes tubes;
    const auto low = tubes.ring({0.0, 0.0, 0.0}, 0.5, 0.0), mid = tubes.ring({0.0, 1.0, 0.0}, 0.5, 1.0);
    const auto high = tubes.ring({0.2, 2.0, 0.0}, 0.5, 2.0);
    tubes.sides(low, mid, "RM_trunk");
    tubes.sides(mid, high, "RM_trunk");
    tubes.layer.add_polygon(ID_FACE, {high[0], high[1], high[2], high[3]}, "RM_trunk");
    const host::Layer &layer = tubes.layer;
    const exporter::CornerNormals normals = normals_of(layer, 60.0);
    std::map<int, std::vector<std::pair<std::uint32_t, std::array<float, 3>>>> at_point;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        for (std::size_t c = 0; c < layer.polygon_points(p).size(); ++c)
            at_point[layer.polygon_points(p)[c]].emplace_back(normals.normal_index[normals.first[p] + c], normals.at(p, c));
    for (const auto &[point, corners] : at_point)
        for (const auto &a : corners)
            for (const auto &b : corners)
                EXPECT_EQ(a.first == b.first, a.second == b.second) << point;
    // One normal a point along the tube, and one more at each of the cap's.
    EXPECT_EQ(normals.normal.size(), 1 + layer.points.size() + 4);
}

TEST(ExportBark, EveryTubeRunsInItsOwnCircumferences)
{
    // A thick and a thin straight tube, and one that tapers, rings a metre apart, all on one v.
    Tubes tubes;
    const std::pair<double, double> thick_thin[] = {{1.0, 1.0}, {0.05, 0.05}, {0.6, 0.15}};
    std::vector<std::size_t> first_side;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto [from, to] = thick_thin[k];
        first_side.push_back(tubes.layer.polygon_count());
        auto previous = tubes.ring({10.0 * static_cast<double>(k), 0.0, 0.0}, from, 0.0);
        for (int r = 1; r <= 6; ++r) {
            const double half = from + (to - from) * r / 6.0;
            auto next = tubes.ring({10.0 * static_cast<double>(k), static_cast<double>(r), 0.0}, half, r);
            tubes.sides(previous, next, k == 1 ? "RM_twig" : "RM_branch");
            previous = next;
        }
    }
    const host::Layer &layer = tubes.layer;
    const exporter::BarkCoordinates bark = exporter::bark_coordinates(layer, exporter::collect_materials(layer));
    ASSERT_FALSE(bark.empty());
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const auto [around, along] = bark_scales(bark, layer, p);
        // Square texels on every side, whatever the tube's girth.
        EXPECT_NEAR(along / around, 1.0, 0.04) << "side " << p;
        // u is the tool's own: once around the tube.
        EXPECT_EQ(bark.at(p, 0)[0], static_cast<float>(p % 4) * 0.25f);
    }
    // The straight tubes: one metre of a tube 8 m round is 1/8, of one 0.4 m round 2.5.
    EXPECT_NEAR(bark.at(first_side[0] + 4, 0)[1], 1.0 / 8.0, 1e-6);
    EXPECT_NEAR(bark.at(first_side[1] + 4, 0)[1], 1.0 / 0.4, 1e-5);
    // The seam sees u = 1 with the t of its point.
    EXPECT_EQ(bark.at(first_side[0] + 3, 1)[0], 1.0f);
    EXPECT_EQ(bark.at(first_side[0] + 3, 1)[1], bark.at(first_side[0], 0)[1]);
}

TEST(ExportBark, ASideBranchStartsFromItsParentsBark)
{
    // A trunk (half-side 0.5, 4 m round) with a branch (half-side 0.15) leaving its +x side
    // through a short box between rings R1 and R2, as the plug-in draws a fork: the stub's
    // quads see the box's corners at R1's v, where the branch starts.
    Tubes tubes;
    const auto r0 = tubes.ring({0.0, 0.0, 0.0}, 0.5, 0.0);
    const auto r1 = tubes.ring({0.0, 1.0, 0.0}, 0.5, 1.0);
    const auto r2 = tubes.ring({0.0, 1.6, 0.0}, 0.5, 1.6);
    const auto r3 = tubes.ring({0.0, 3.0, 0.0}, 0.5, 3.0);
    tubes.sides(r0, r1, "RM_trunk");
    tubes.sides(r1, r2, "RM_trunk", 0);
    tubes.sides(r2, r3, "RM_trunk");
    const auto stub = tubes.ring({0.5 + 0.075, 1.3, 0.0}, 0.15, 1.075, 'x');
    const std::array<int, 4> face{r2[0], r2[1], r1[1], r1[0]};
    host::Layer &layer = tubes.layer;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t j = (i + 1) % 4;
        const int poly = layer.add_polygon(ID_FACE, {face[i], face[j], stub[j], stub[i]}, "RM_branch");
        const float fi[2] = {static_cast<float>(i) * 0.25f, 0.1f}, fj[2] = {static_cast<float>(i + 1) * 0.25f, 0.1f};
        layer.set_vpmap(ID_TXUV, "RM_branch", face[i], poly, 2, fi);
        layer.set_vpmap(ID_TXUV, "RM_branch", face[j], poly, 2, fj);
        if (j == 0) {
            const float seam[2] = {1.0f, 0.1075f};
            layer.set_vpmap(ID_TXUV, "RM_branch", stub[0], poly, 2, seam);
        }
    }
    const auto c1 = tubes.ring({1.6, 1.3, 0.0}, 0.15, 2.1, 'x');
    const auto c2 = tubes.ring({2.6, 1.3, 0.0}, 0.15, 3.1, 'x');
    const std::size_t branch = layer.polygon_count();
    tubes.sides(stub, c1, "RM_branch");
    tubes.sides(c1, c2, "RM_branch");

    const exporter::BarkCoordinates bark = exporter::bark_coordinates(layer, exporter::collect_materials(layer));
    const auto t_of = [&](int point) {
        for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
            const auto poly = layer.polygon_points(p);
            for (std::size_t c = 0; c < poly.size(); ++c)
                if (poly[c] == point)
                    return static_cast<double>(bark.at(p, c)[1]);
        }
        return std::nan("");
    };
    // The trunk runs on through the fork at its own scale: 3 m of a 4 m girth.
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(t_of(r1[i]), 0.25, 1e-6);
        EXPECT_NEAR(t_of(r2[i]), 0.4, 1e-6);
        EXPECT_NEAR(t_of(r3[i]), 0.75, 1e-6);
    }
    // The branch starts from the trunk's bark where it leaves it (not from 0, nor far on), and
    // runs at its own scale.
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(t_of(stub[i]), 0.25) << i;
        EXPECT_LT(t_of(stub[i]), 0.55) << i;
    }
    for (std::size_t p = branch; p < layer.polygon_count(); ++p) {
        const auto [around, along] = bark_scales(bark, layer, p);
        EXPECT_NEAR(along / around, 1.0, 0.1) << "side " << p;
    }
    double low = 1e9, high = -1e9;
    for (int i = 0; i < 4; ++i) {
        low = std::min(low, t_of(c2[i]));
        high = std::max(high, t_of(c2[i]));
    }
    EXPECT_LT(high - low, 0.05); // a ring of the branch at one t
}

TEST(ExportBark, EveryPieceStartsFromItsOwnLowestRing)
{
    // Two tubes that share no point: one 4 m round whose v starts at 2 (as a piece cut off the
    // tree would), one 2 m round from v = 0, closed at its tip by quads folded onto one apex.
    Tubes tubes;
    host::Layer &layer = tubes.layer;
    std::vector<std::array<int, 4>> high, low;
    for (int r = 0; r <= 3; ++r) {
        high.push_back(tubes.ring({0.0, static_cast<double>(r), 0.0}, 0.5, 20.0 + r));
        low.push_back(tubes.ring({10.0, static_cast<double>(r), 0.0}, 0.25, r));
        if (r > 0) {
            tubes.sides(high[static_cast<std::size_t>(r) - 1], high.back(), "RM_trunk");
            tubes.sides(low[static_cast<std::size_t>(r) - 1], low.back(), "RM_branch");
        }
    }
    const int apex = layer.add_point({10.0, 3.5, 0.0});
    const float apex_uv[2] = {0.5f, 3.5f / tubes.longest};
    layer.set_vmap(ID_TXUV, "RM_branch", apex, 2, apex_uv);
    const std::size_t tip = layer.polygon_count();
    for (std::size_t i = 0; i < 4; ++i)
        layer.add_polygon(ID_FACE, {low[3][i], low[3][(i + 1) % 4], apex, apex}, "RM_branch");

    const exporter::BarkCoordinates bark = exporter::bark_coordinates(layer, exporter::collect_materials(layer));
    ASSERT_FALSE(bark.empty());
    std::map<int, float> t; // every corner of a point sees the same t
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const auto poly = layer.polygon_points(p);
        for (std::size_t c = 0; c < poly.size(); ++c) {
            const float here = bark.at(p, c)[1];
            ASSERT_TRUE(std::isfinite(here)) << "polygon " << p;
            const auto [held, fresh] = t.emplace(poly[c], here);
            EXPECT_TRUE(fresh || held->second == here) << "point " << poly[c];
        }
    }
    // Each tube from 0 at its own lowest ring, in its own circumferences.
    for (std::size_t r = 0; r <= 3; ++r)
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(t[high[r][i]], static_cast<double>(r) / 4.0, 1e-5) << r;
            EXPECT_NEAR(t[low[r][i]], static_cast<double>(r) / 2.0, 1e-5) << r;
        }
    // The folded tip goes on from the last ring, whatever its corners repeat.
    EXPECT_GT(t[apex], t[low[3][0]]);
    EXPECT_TRUE(bark.on_bark[tip]);
}

TEST(ExportBark, ARootCollarHangsBelowTheTrunkByItsDropInTrunkCircumferences)
{
    // A trunk 4 m round from its base ring at v = 0, a skirt of trunk down to a root collar
    // 0.3 m below, and a root 2.4 m round whose v counts away from the trunk. Only the trunk's
    // sides at its base ring give the girth; the skirt (flat in v) and the root's sides give none.
    Tubes tubes;
    const auto base = tubes.ring({0.0, 0.0, 0.0}, 0.5, 0.0), up = tubes.ring({0.0, 1.0, 0.0}, 0.5, 1.0);
    const auto collar = tubes.ring({0.0, -0.3, 0.0}, 0.3, 0.0), down = tubes.ring({0.0, -1.3, 0.0}, 0.3, 1.0);
    tubes.sides(base, up, "RM_trunk");
    const std::size_t skirt = tubes.layer.polygon_count();
    tubes.sides(collar, base, "RM_trunk");
    const std::size_t root = tubes.layer.polygon_count();
    tubes.sides(collar, down, "RM_root");
    const host::Layer &layer = tubes.layer;
    const exporter::BarkCoordinates bark = exporter::bark_coordinates(layer, exporter::collect_materials(layer));
    ASSERT_FALSE(bark.empty());
    // Corners 0 and 1 of a side lie on its first ring, 2 and 3 on its second.
    const double at_collar = -0.3 / 4.0;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(bark.at(i, 0)[1], 0.0, 1e-6) << i;            // the base starts the trunk
        EXPECT_NEAR(bark.at(i, 2)[1], 1.0 / 4.0, 1e-6) << i;      // a metre up a trunk 4 m round
        EXPECT_NEAR(bark.at(root + i, 0)[1], at_collar, 1e-6) << i;
        EXPECT_NEAR(bark.at(root + i, 2)[1], at_collar - 1.0 / 2.4, 1e-5) << i; // falling along the root
        EXPECT_EQ(bark.at(skirt + i, 0)[1], bark.at(root + i, 0)[1]) << i;     // the skirt joins the two
        EXPECT_EQ(bark.at(skirt + i, 2)[1], bark.at(i, 0)[1]) << i;
    }
}

TEST(ExportBark, TheBarkDoesNotHangOnHowThePointsAreNumbered)
{
    // One tapering tube with a side branch, its rings numbered from the base up and again from
    // the tips down: every corner takes the same bark either way, the walk going out from the
    // base ring nearest first whatever the numbers say.
    const auto tree = [](bool from_tips) {
        Tubes tubes;
        std::array<std::array<int, 4>, 5> trunk{}, branch{};
        const auto trunk_ring = [&](int r) {
            trunk[static_cast<std::size_t>(r)] =
                tubes.ring({0.0, static_cast<double>(r), 0.0}, 0.5 - 0.08 * r, static_cast<double>(r));
        };
        const auto branch_ring = [&](int r) {
            branch[static_cast<std::size_t>(r)] =
                tubes.ring({0.6 * (r + 1), 2.5, 0.0}, 0.15 - 0.02 * r, 2.5 + 0.6 * (r + 1), 'x');
        };
        for (int r = 0; r < 5; ++r) {
            trunk_ring(from_tips ? 4 - r : r);
            branch_ring(from_tips ? 4 - r : r);
        }
        for (std::size_t r = 1; r < 5; ++r)
            tubes.sides(trunk[r - 1], trunk[r], "RM_trunk");
        // The branch hangs from the trunk by one quad from its first ring to the trunk's third.
        tubes.layer.add_polygon(ID_FACE, {trunk[2][0], trunk[3][0], branch[0][1], branch[0][0]}, "RM_branch");
        for (std::size_t r = 1; r < 5; ++r)
            tubes.sides(branch[r - 1], branch[r], "RM_branch");
        return std::move(tubes.layer);
    };
    const host::Layer up = tree(false), down = tree(true);
    const exporter::BarkCoordinates up_bark = exporter::bark_coordinates(up, exporter::collect_materials(up));
    const exporter::BarkCoordinates down_bark = exporter::bark_coordinates(down, exporter::collect_materials(down));
    ASSERT_FALSE(up_bark.empty());
    ASSERT_EQ(up.polygon_count(), down.polygon_count());
    double highest = 0.0;
    for (std::size_t p = 0; p < up.polygon_count(); ++p)
        for (std::size_t c = 0; c < up.polygon_points(p).size(); ++c) {
            EXPECT_EQ(up_bark.at(p, c)[0], down_bark.at(p, c)[0]) << p << " " << c;
            EXPECT_NEAR(up_bark.at(p, c)[1], down_bark.at(p, c)[1], 1e-5) << p << " " << c;
            highest = std::max(highest, static_cast<double>(up_bark.at(p, c)[1]));
        }
    EXPECT_GT(highest, 1.0); // the tips lie several girths from the base
}

TEST(ExportBark, BarkAndNormalsDoNotHangOnWhereTheLeavesLie)
{
    // A tree's layer holds its leaves after its wood, and the bark and the smoothing keep room
    // up to the last woody polygon or point only. A tube with a side branch and three leaves,
    // the leaves' polygons before, between or after the wood (their points always first): every
    // polygon takes the same corner normals, cut and bark, the leaves (0, 0) of the bark.
    enum class Leaves { before, between, after };
    struct Made {
        host::Layer layer;
        std::vector<std::size_t> wood, leaves;
    };
    const auto tree = [](Leaves where) {
        Made made;
        Tubes tubes;
        std::vector<std::array<int, 4>> leaf_points;
        for (int k = 0; k < 3; ++k) {
            std::array<int, 4> ids{};
            for (int i = 0; i < 4; ++i)
                ids[static_cast<std::size_t>(i)] = tubes.layer.add_point(
                    {1.0 + k + (i == 1 || i == 2 ? 0.3 : 0.0), 3.0 + 0.1 * k + (i == 2 ? 0.2 * k : 0.0), i >= 2 ? 0.3 : 0.0});
            leaf_points.push_back(ids);
        }
        const auto add_leaves = [&] {
            for (const auto &ids : leaf_points)
                made.leaves.push_back(static_cast<std::size_t>(
                    tubes.layer.add_polygon(ID_FACE, {ids[0], ids[1], ids[2], ids[3]}, "VF_leaf")));
        };
        const auto add_wood = [&](const auto &add) {
            const std::size_t first = tubes.layer.polygon_count();
            add();
            for (std::size_t p = first; p < tubes.layer.polygon_count(); ++p)
                made.wood.push_back(p);
        };
        std::array<std::array<int, 4>, 5> trunk{}, branch{};
        for (int r = 0; r < 5; ++r) {
            trunk[static_cast<std::size_t>(r)] =
                tubes.ring({0.0, static_cast<double>(r), 0.0}, 0.5 - 0.08 * r, static_cast<double>(r));
            branch[static_cast<std::size_t>(r)] =
                tubes.ring({0.6 * (r + 1), 2.5, 0.0}, 0.15 - 0.02 * r, 2.5 + 0.6 * (r + 1), 'x');
        }
        if (where == Leaves::before)
            add_leaves();
        add_wood([&] {
            for (std::size_t r = 1; r < 5; ++r)
                tubes.sides(trunk[r - 1], trunk[r], "RM_trunk");
        });
        if (where == Leaves::between)
            add_leaves();
        add_wood([&] {
            tubes.layer.add_polygon(ID_FACE, {trunk[2][0], trunk[3][0], branch[0][1], branch[0][0]}, "RM_branch");
            for (std::size_t r = 1; r < 5; ++r)
                tubes.sides(branch[r - 1], branch[r], "RM_branch");
        });
        if (where == Leaves::after)
            add_leaves();
        made.layer = std::move(tubes.layer);
        return made;
    };
    const Made last = tree(Leaves::after);
    const exporter::Materials last_materials = exporter::collect_materials(last.layer);
    const exporter::CornerNormals last_normals = exporter::corner_normals(last.layer, last_materials, 60.0);
    const exporter::BarkCoordinates last_bark = exporter::bark_coordinates(last.layer, last_materials);
    ASSERT_FALSE(last_bark.empty());
    EXPECT_LT(last_bark.uv.size(), last.layer.corners.size()); // the leaves take no room
    for (const Leaves where : {Leaves::before, Leaves::between}) {
        const Made made = tree(where);
        const exporter::Materials materials = exporter::collect_materials(made.layer);
        const exporter::CornerNormals normals = exporter::corner_normals(made.layer, materials, 60.0);
        const exporter::BarkCoordinates bark = exporter::bark_coordinates(made.layer, materials);
        ASSERT_EQ(made.wood.size(), last.wood.size());
        ASSERT_EQ(made.leaves.size(), last.leaves.size());
        for (const bool leaf : {false, true}) {
            const std::vector<std::size_t> &mine = leaf ? made.leaves : made.wood, &theirs = leaf ? last.leaves : last.wood;
            for (std::size_t i = 0; i < mine.size(); ++i) {
                const std::size_t p = mine[i], q = theirs[i];
                EXPECT_EQ(normals.cut_of(p), last_normals.cut_of(q)) << p;
                for (std::size_t c = 0; c < made.layer.polygon_points(p).size(); ++c) {
                    EXPECT_EQ(normals.at(p, c), last_normals.at(q, c)) << p << " " << c;
                    EXPECT_EQ(bark.at(p, c), last_bark.at(q, c)) << p << " " << c;
                    if (leaf) {
                        EXPECT_EQ(bark.at(p, c), (std::array<float, 2>{0.0f, 0.0f})) << p << " " << c;
                    }
                }
            }
        }
    }
}

// Per woody surface of a glTF: metres along one unit of bark t over metres around one unit of
// bark u, each weighted by the area of the triangles they are measured on.
std::map<std::string, double> bark_aspects(const tinygltf::Model &model)
{
    std::map<std::string, std::pair<double, double>> sums;
    for (const auto &prim : model.meshes.at(0).primitives) {
        const std::string &name = model.materials.at(static_cast<std::size_t>(prim.material)).name;
        if (prim.mode != TINYGLTF_MODE_TRIANGLES || name == "VF_leaf" || !prim.attributes.count("TEXCOORD_1"))
            continue;
        const std::vector<float> xyz = accessor_floats(model, prim.attributes.at("POSITION"));
        const std::vector<float> uv = accessor_floats(model, prim.attributes.at("TEXCOORD_1"));
        const std::vector<unsigned> index = accessor_indices(model, prim.indices);
        for (std::size_t t = 0; t + 2 < index.size(); t += 3) {
            const std::size_t a = index[t], b = index[t + 1], c = index[t + 2];
            double e1[3], e2[3];
            for (std::size_t k = 0; k < 3; ++k) {
                e1[k] = double(xyz[b * 3 + k]) - xyz[a * 3 + k];
                e2[k] = double(xyz[c * 3 + k]) - xyz[a * 3 + k];
            }
            const double du1 = double(uv[b * 2]) - uv[a * 2], dv1 = double(uv[b * 2 + 1]) - uv[a * 2 + 1];
            const double du2 = double(uv[c * 2]) - uv[a * 2], dv2 = double(uv[c * 2 + 1]) - uv[a * 2 + 1];
            const double det = du1 * dv2 - du2 * dv1;
            if (std::fabs(det) < 1e-12)
                continue;
            double per_u = 0.0, per_v = 0.0;
            for (std::size_t k = 0; k < 3; ++k) {
                per_u += std::pow((e1[k] * dv2 - e2[k] * dv1) / det, 2);
                per_v += std::pow((e2[k] * du1 - e1[k] * du2) / det, 2);
            }
            const double area = 0.5 * std::hypot(e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                                 e1[0] * e2[1] - e1[1] * e2[0]);
            sums[name].first += area * std::sqrt(per_v);
            sums[name].second += area * std::sqrt(per_u);
        }
    }
    std::map<std::string, double> out;
    for (const auto &[name, sum] : sums)
        out[name] = sum.first / sum.second;
    return out;
}

TEST(ExportBark, RealTreesKeepSquareTexelsOnEveryWoodySurface)
{
    // Polygonal tubes as they are and subdivided once, and a SubD cage subdivided twice (the
    // default for glTF): roots, trunk, branches and twigs alike.
    for (const char *render : {"render_type=1", "render_type=2"}) {
        host::Layer layer;
        std::string error;
        ASSERT_TRUE(build_real_tree({render, "twig_type=5", "leaf_shape=2"}, layer, error)) << error;
        for (int levels : {exporter::automatic_subdivision, 1}) {
            ScratchDir dir;
            exporter::ExportOptions options;
            options.subdivide = levels;
            ASSERT_EQ(exporter::write_tree(layer, dir.file("tree.glb"), {.look = options}).message(), "");
            tinygltf::Model model;
            ASSERT_TRUE(load_gltf(dir.file("tree.glb"), model));
            const std::map<std::string, double> aspects = bark_aspects(model);
            EXPECT_EQ(aspects.size(), 4u) << render; // roots, trunk, branches, twigs
            for (const auto &[name, aspect] : aspects) {
                EXPECT_GE(aspect, 0.8) << render << " " << levels << " " << name;
                EXPECT_LE(aspect, 1.25) << render << " " << levels << " " << name;
            }
        }
    }
}

// ---------------------------------------------------------------------------- subdivision

// Edges used by exactly one face of the woody surface, as point pairs.
std::size_t open_edges(const host::Layer &layer)
{
    const exporter::Materials materials = exporter::collect_materials(layer);
    std::map<std::pair<int, int>, int> uses;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        if (!exporter::woody(materials.list[static_cast<std::size_t>(materials.of_polygon[p])]))
            continue;
        const auto points = layer.polygon_points(p);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const int a = points[i], b = points[(i + 1) % points.size()];
            uses[{std::min(a, b), std::max(a, b)}] += 1;
        }
    }
    std::size_t open = 0;
    for (const auto &[edge, count] : uses)
        open += count == 1;
    return open;
}

TEST(ExportSubdivision, SubdTreeIsSmoothJoinedAndKeepsItsSeam)
{
    host::Layer cage;
    std::string error;
    ASSERT_TRUE(build_real_tree({"render_type=2", "twig_type=6", "leaf_shape=2"}, cage, error)) << error;
    const exporter::Materials materials = exporter::collect_materials(cage);
    EXPECT_EQ(exporter::subdivision_levels(cage, exporter::ExportOptions{}, exporter::Format::gltf), 2);
    EXPECT_EQ(exporter::subdivision_levels(cage, exporter::ExportOptions{}, exporter::Format::obj), 0);

    host::Layer smooth;
    const ramulon::Status subdivided = exporter::subdivide(cage, materials, 2, smooth);
    ASSERT_TRUE(subdivided) << subdivided.message();
    // Every woody n-gon becomes n quads per level after the first's: 16 for a quad, 12 for a
    // triangle; everything else stays as it was.
    std::size_t expected = 0, others = 0, refined = 0, kept = 0;
    for (std::size_t p = 0; p < cage.polygon_count(); ++p) {
        if (exporter::woody(materials.list[static_cast<std::size_t>(materials.of_polygon[p])]))
            expected += cage.polygon_points(p).size() * 4;
        else
            others += 1;
    }
    const exporter::Materials after = exporter::collect_materials(smooth);
    for (std::size_t p = 0; p < smooth.polygon_count(); ++p) {
        if (exporter::woody(after.list[static_cast<std::size_t>(after.of_polygon[p])])) {
            refined += 1;
            EXPECT_EQ(smooth.polygon_points(p).size(), 4u);
            EXPECT_EQ(smooth.polygon_type[p], ID_FACE);
        } else {
            kept += 1;
        }
    }
    EXPECT_EQ(refined, expected);
    EXPECT_EQ(kept, others);
    EXPECT_GT(kept, 0u); // the leaves came along
    // Joined: the refined surface opens only where the cage was open, each open edge now four.
    EXPECT_EQ(open_edges(smooth), 4 * open_edges(cage));
    EXPECT_EQ(after.list.front().name, materials.list.front().name);

    // The seam stays a seam: no refined face reaches across it from u near 0 to u near 1.
    const exporter::MapView uv(smooth, ID_TXUV, "RM_branch");
    for (std::size_t p = 0; p < smooth.polygon_count(); ++p) {
        if (!exporter::woody(after.list[static_cast<std::size_t>(after.of_polygon[p])]))
            continue;
        float low = 2.0f, high = -1.0f;
        for (int point : smooth.polygon_points(p)) {
            const auto value = uv.at(point, static_cast<int>(p));
            ASSERT_TRUE(value.has_value());
            low = std::min(low, (*value)[0]);
            high = std::max(high, (*value)[0]);
        }
        ASSERT_LE(high - low, 0.5f) << "face " << p;
    }
}

TEST(ExportSubdivision, CommandLineDefaultsAndLevels)
{
    ScratchDir dir;
    std::string output;
    ASSERT_EQ(run_cli("build --set render_type=2 --textures none --output " + dir.file("smooth.glb"), dir, output), 0)
        << output;
    ASSERT_EQ(run_cli("build --set render_type=2 --textures none --subdivide 0 --output " + dir.file("cage.glb"), dir,
                      output),
              0)
        << output;
    tinygltf::Model smooth, cage;
    ASSERT_TRUE(load_gltf(dir.file("smooth.glb"), smooth));
    ASSERT_TRUE(load_gltf(dir.file("cage.glb"), cage));
    auto triangles = [](const tinygltf::Model &model) {
        std::size_t count = 0;
        for (const auto &prim : model.meshes.at(0).primitives)
            count += model.accessors.at(static_cast<std::size_t>(prim.indices)).count / 3;
        return count;
    };
    // Sixteen quads of two triangles for every cage quad (a few cage triangles give twelve).
    EXPECT_GE(triangles(smooth), 16 * triangles(cage));
    EXPECT_LE(triangles(smooth), 17 * triangles(cage));
    EXPECT_NE(run_cli("build --subdivide 9 --output " + dir.file("x.glb"), dir, output), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.glb")));
}

} // namespace
} // namespace ramulon
