// The bounds a POSITION accessor carries: the least and greatest of each coordinate, exactly as
// stored (glTF readers compare them with the values bit for bit).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "export/gltf/accessor_values.h"

namespace {

template <typename T> void bounds_of(const std::vector<T> &xyz, std::vector<double> &low, std::vector<double> &high)
{
    exporter::position_bounds(xyz.size() / 3, [&](std::size_t v, std::size_t k) { return xyz[v * 3 + k]; }, low, high);
}

std::vector<std::uint64_t> bits(const std::vector<double> &v)
{
    std::vector<std::uint64_t> out;
    for (const double d : v)
        out.push_back(std::bit_cast<std::uint64_t>(d));
    return out;
}

TEST(PositionBounds, LeastAndGreatestOfEachCoordinateAsStored)
{
    std::vector<double> low, high;
    // Floats that doubles tell apart from their neighbours, a negative zero after a zero (the
    // first of equals stays), and the extremes in different vertices per coordinate.
    bounds_of<float>({0.1f, 0.0f, -3.5f, //
                      -0.2f, -0.0f, 7.25f, //
                      0.3f, 2.0f, 1e-30f},
                     low, high);
    EXPECT_EQ(bits(low), bits({static_cast<double>(-0.2f), 0.0, -3.5}));
    EXPECT_EQ(bits(high), bits({static_cast<double>(0.3f), 2.0, 7.25}));

    // One vertex: both bounds are it; none: zeros.
    bounds_of<float>({-0.0f, 5.0f, -1.0f}, low, high);
    EXPECT_EQ(bits(low), bits({-0.0, 5.0, -1.0}));
    EXPECT_EQ(bits(high), bits({-0.0, 5.0, -1.0}));
    bounds_of<float>({}, low, high);
    EXPECT_EQ(low, (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_EQ(high, (std::vector<double>{0.0, 0.0, 0.0}));

    // Whole grid steps, as the compressed positions hold them.
    bounds_of<std::uint16_t>({65535, 0, 7, 1, 300, 7, 40000, 2, 6}, low, high);
    EXPECT_EQ(low, (std::vector<double>{1.0, 0.0, 6.0}));
    EXPECT_EQ(high, (std::vector<double>{65535.0, 300.0, 7.0}));
}

TEST(PositionBounds, ANotANumberOnlyDecidesABoundWhereItComesFirst)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<double> low, high;
    bounds_of<float>({1.0f, nan, 2.0f, //
                      nan, 3.0f, -2.0f, //
                      -1.0f, 4.0f, nan},
                     low, high);
    EXPECT_EQ(low[0], -1.0);
    EXPECT_EQ(high[0], 1.0);
    EXPECT_TRUE(std::isnan(low[1]) && std::isnan(high[1]));
    EXPECT_EQ(low[2], -2.0);
    EXPECT_EQ(high[2], 2.0);
}

} // namespace
