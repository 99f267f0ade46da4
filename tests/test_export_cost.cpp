// The export's price counts the triangles the file will hold: woody faces by their surface (and
// subdivided when asked), everything else triangulated as it stands.
#include <gtest/gtest.h>

#include "export/export_cost.h"

namespace {

// A bark quad, a leaf triangle and a quad with no surface, which takes the default material.
host::Layer three_surfaces()
{
    host::Layer layer;
    for (int i = 0; i < 4; ++i)
        layer.add_point({static_cast<double>(i & 1), static_cast<double>(i >> 1), 0.0});
    layer.add_polygon(ID_FACE, {0, 1, 3, 2}, "RM_trunk");
    layer.add_polygon(ID_FACE, {0, 1, 3}, "VF_leaf");
    layer.add_polygon(ID_FACE, {0, 1, 3, 2});
    return layer;
}

TEST(ExportCost, CountsTrianglesBySurface)
{
    exporter::WriteOptions options;
    options.look.subdivide = 0;
    // 2 of the bark quad, 1 of the leaf, 2 of the plain quad.
    EXPECT_EQ(exporter::export_cost(three_surfaces(), options, exporter::Format::gltf).triangles, 5.0);

    // Only the bark is subdivided: its 4 corners become 4 quads, 8 triangles.
    options.look.subdivide = 1;
    const exporter::ExportCost smooth = exporter::export_cost(three_surfaces(), options, exporter::Format::gltf);
    EXPECT_EQ(smooth.subdivision, 1);
    EXPECT_EQ(smooth.triangles, 11.0);
}

} // namespace
