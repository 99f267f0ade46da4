#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/error.h"
#include "common/index_cast.h"

using ramulon::ErrorKind;

namespace {

ramulon::Result<std::unique_ptr<int>> made(bool succeed)
{
    if (!succeed)
        return ramulon::fail(ErrorKind::not_found, "no such tree");
    return std::make_unique<int>(7);
}

} // namespace

TEST(Error, ResultHoldsAMoveOnlyValueOrItsError)
{
    auto good = made(true);
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(**good, 7);
    std::unique_ptr<int> taken = std::move(good).value();
    EXPECT_EQ(*taken, 7);

    const auto bad = made(false);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().kind, ErrorKind::not_found);
    EXPECT_EQ(bad.error().message, "no such tree");
    const ramulon::Status passed_on = ramulon::status_of(bad);
    EXPECT_EQ(passed_on.error().kind, ErrorKind::not_found);
}

TEST(Error, StatusIsSuccessByDefaultWithAnEmptyMessage)
{
    const ramulon::Status fine;
    EXPECT_TRUE(fine.ok());
    EXPECT_EQ(fine.message(), "");
    const ramulon::Status full = ramulon::fail(ErrorKind::io, "cannot write a.glb: disk full");
    EXPECT_FALSE(full.ok());
    EXPECT_EQ(full.message(), "cannot write a.glb: disk full");
}

TEST(Error, IndexCastKeepsValuesThatFit)
{
    EXPECT_EQ(ramulon::index_cast<unsigned>(std::size_t{4000000000u}), 4000000000u);
    EXPECT_EQ(ramulon::index_cast<int>(std::size_t{0}), 0);
#ifndef NDEBUG
    EXPECT_DEATH((void)ramulon::index_cast<unsigned short>(70000), "does not fit");
#endif
}
