// A glTF buffer goes to its file in runs of pieces: every view at a multiple of four, the bytes
// where the views say, a primitive's arrays handed over let go as soon as their run is through
// (never held whole beside the rest of the file), and a refused write stopping the rest.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/gltf/buffer_pieces.h"

namespace exporter {
namespace {

// An array whose life a test can watch: gone once its last copy is.
struct Watched {
    std::vector<float> values;
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    const float *data() const { return values.data(); }
    std::size_t size() const { return values.size(); }
};

// Bytes as the writes place them, and what was still alive at each write.
struct Written {
    std::string bytes;
    std::vector<std::uint64_t> offsets;
    ramulon::Status write(std::uint64_t offset, std::span<const std::string_view> run)
    {
        offsets.push_back(offset);
        for (const std::string_view piece : run) {
            if (bytes.size() < offset + piece.size())
                bytes.resize(offset + piece.size());
            bytes.replace(offset, piece.size(), piece);
            offset += piece.size();
        }
        return {};
    }
};

TEST(BufferPieces, ViewsLandAlignedAndHandedArraysGoOnceWritten)
{
    BufferPieces pieces;
    const std::string picture = "PNG12"; // five bytes: the next view starts after three zeros
    EXPECT_EQ(pieces.add(picture), 0u);

    Watched first{{1.0f, 2.0f}}, second{{3.0f}};
    const std::weak_ptr<int> first_alive = first.alive, second_alive = second.alive;
    EXPECT_EQ(pieces.add_kept(std::move(first)), 8u);
    EXPECT_EQ(pieces.add_kept(std::string("ab")), 16u);
    EXPECT_EQ(pieces.add_kept(std::move(second)), 20u);
    EXPECT_EQ(pieces.size(), 24u);
    EXPECT_FALSE(first_alive.expired());

    Written out;
    std::vector<bool> first_gone_at_write, second_gone_at_write;
    ASSERT_TRUE(pieces.write_out([&](std::uint64_t offset, std::span<const std::string_view> run) {
        first_gone_at_write.push_back(first_alive.expired());
        second_gone_at_write.push_back(second_alive.expired());
        return out.write(offset, run);
    }));
    // One run per handed array: each is gone before the next run is written.
    EXPECT_EQ(out.offsets, (std::vector<std::uint64_t>{0, 16, 20}));
    EXPECT_EQ(first_gone_at_write, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(second_gone_at_write, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(second_alive.expired());

    const float one_two[2] = {1.0f, 2.0f}, three = 3.0f;
    std::string expected = picture + std::string(3, '\0');
    expected.append(reinterpret_cast<const char *>(one_two), sizeof one_two);
    expected += std::string("ab") + std::string(2, '\0');
    expected.append(reinterpret_cast<const char *>(&three), sizeof three);
    EXPECT_EQ(out.bytes, expected);

    // The next primitive's pieces go on where the buffer stood.
    EXPECT_EQ(pieces.written(), 24u);
    EXPECT_EQ(pieces.add_kept(std::string("xyz")), 24u);
    ASSERT_TRUE(pieces.write_out([&](std::uint64_t offset, std::span<const std::string_view> run) {
        return out.write(offset, run);
    }));
    EXPECT_EQ(out.bytes.substr(24), std::string("xyz") + '\0');
    EXPECT_EQ(pieces.written(), 28u);
}

TEST(BufferPieces, ARefusedWriteStopsTheRest)
{
    BufferPieces pieces;
    pieces.add_kept(std::string("one"));
    pieces.add_kept(std::string("two"));
    int writes = 0;
    const ramulon::Status status = pieces.write_out([&](std::uint64_t, std::span<const std::string_view>) {
        ++writes;
        return ramulon::Status(ramulon::fail(ramulon::ErrorKind::io, "the disk is full"));
    });
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().kind, ramulon::ErrorKind::io);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(pieces.written(), 0u); // nothing counts as written
}

} // namespace
} // namespace exporter
