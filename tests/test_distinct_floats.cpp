// The shared `vt` and `vn` lists of an OBJ file: each tuple once, in the order first met, told
// apart by bits, every place kept as the table grows.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

#include "export/distinct_floats.h"

namespace exporter {
namespace {

TEST(DistinctFloats, ARepeatTakesThePlaceOfItsFirstMeeting)
{
    DistinctFloats<2> list;
    EXPECT_EQ(list.place_of({0.5f, 0.25f}), 0);
    EXPECT_EQ(list.place_of({0.25f, 0.5f}), 1); // the same numbers the other way round: new
    EXPECT_EQ(list.place_of({0.5f, 0.25f}), 0);
    EXPECT_EQ(list.place_of({1.0f, 0.0f}), 2);
    ASSERT_EQ(list.list().size(), 3u);
    EXPECT_EQ(list.list()[1], (std::array<float, 2>{0.25f, 0.5f}));
}

TEST(DistinctFloats, TuplesAreToldApartByTheirBits)
{
    DistinctFloats<3> list;
    EXPECT_EQ(list.place_of({0.0f, 1.0f, 0.0f}), 0);
    EXPECT_EQ(list.place_of({-0.0f, 1.0f, 0.0f}), 1); // equal numbers, but a reader gets -0 back
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float other_nan = std::bit_cast<float>(std::bit_cast<std::uint32_t>(nan) | 1u);
    EXPECT_EQ(list.place_of({nan, 0.0f, 0.0f}), 2);
    EXPECT_EQ(list.place_of({nan, 0.0f, 0.0f}), 2); // not equal as a number, but the same bits
    EXPECT_EQ(list.place_of({other_nan, 0.0f, 0.0f}), 3);
}

TEST(DistinctFloats, EveryPlaceHoldsAsTheTableGrowsFromNoRoom)
{
    DistinctFloats<3> list(0);
    // Values a tree's normals are like: close together, differing in their low bits.
    const auto tuple = [](int i) {
        return std::array<float, 3>{1.0f + static_cast<float>(i) * 1e-6f, 0.5f, static_cast<float>(i % 7)};
    };
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(list.place_of(tuple(i)), i);
    for (int i = 4999; i >= 0; --i)
        ASSERT_EQ(list.place_of(tuple(i)), i);
    const std::vector<std::array<float, 3>> taken = list.take_list();
    ASSERT_EQ(taken.size(), 5000u);
    EXPECT_EQ(taken[1234], tuple(1234));
}

} // namespace
} // namespace exporter
