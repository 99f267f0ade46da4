// The OBJ set in memory (what the server hands out) against the set on the disk, and the kinds
// of the OBJ writer's failures, which the server acts on.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "export/cancel.h"
#include "export/obj_writer.h"
#include "support/child_process.h"
#include "support/export_files.h"

namespace ramulon {
namespace {

std::string file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file of the set in memory is on the disk under the same name with the same bytes, and
// nothing else is; also for a name whose material library needs a second extension.
TEST(ObjFiles, TheSetInMemoryIsTheSetOnTheDisk)
{
    host::Layer tree;
    std::string error;
    ASSERT_TRUE(build_real_tree({"render_type=1"}, tree, error)) << error;
    for (const std::string name : {"tree.obj", "crown.mtl"}) {
        ScratchDir dir;
        ASSERT_EQ(exporter::write_obj(tree, dir.file(name)).message(), "") << name;
        const Result<exporter::ObjFiles> files = exporter::obj_files(tree, name, {});
        ASSERT_TRUE(files.ok()) << files.error().message;
        const std::string mtl_name = name == "tree.obj" ? "tree.mtl" : "crown.mtl.mtl";
        std::vector<std::string> names = {name, mtl_name};
        EXPECT_TRUE(files->obj == file_bytes(dir.file(name))) << name;
        EXPECT_NE(files->obj.find("mtllib " + mtl_name + "\n"), std::string::npos) << name;
        EXPECT_EQ(files->mtl, file_bytes(dir.file(mtl_name))) << name;
        for (const auto &[image, bytes] : files->images) {
            names.push_back(image);
            EXPECT_TRUE(bytes == file_bytes(dir.file(image))) << image;
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(dir.entries(), names);
        EXPECT_EQ(files->images.size(), 2u) << name; // the bark and its normal map
    }
}

TEST(ObjFiles, FailuresCarryTheirKind)
{
    const host::Layer corrupt = layer_with_missing_points(1);
    const Result<exporter::ObjFiles> refused = exporter::obj_files(corrupt, "bad.obj", {});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::invalid_input);
    EXPECT_EQ(refused.error().message.rfind("cannot write bad.obj: ", 0), 0u) << refused.error().message;

    host::Layer tree;
    std::string error;
    ASSERT_TRUE(build_real_tree({"render_type=1"}, tree, error)) << error;
    ScratchDir dir;
    const Status missing = exporter::write_obj(tree, dir.file("missing/tree.obj"));
    EXPECT_EQ(missing.error().kind, ErrorKind::io) << missing.message();
    {
        exporter::CancelCheck gone([] { return true; });
        const Result<exporter::ObjFiles> cancelled = exporter::obj_files(tree, "tree.obj", {});
        ASSERT_FALSE(cancelled.ok());
        EXPECT_EQ(cancelled.error().kind, ErrorKind::cancelled);
        EXPECT_EQ(cancelled.error().message, "cannot write tree.obj: the export was cancelled");
        EXPECT_EQ(exporter::write_obj(tree, dir.file("tree.obj")).error().kind, ErrorKind::cancelled);
    }
    EXPECT_TRUE(dir.entries().empty());
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer keeps address space of its own
    const int code = in_child([&] {
        // The first test's writes leave the heap holding free room about the size of this
        // tree's files: taken first, so that the write has only the 2 MiB to grow into.
        occupy_free_heap();
        if (!limit_memory_growth(2l << 20))
            return 2;
        const Result<exporter::ObjFiles> files = exporter::obj_files(tree, "tree.obj", {});
        return !files.ok() && files.error().kind == ErrorKind::out_of_memory ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
#endif
}

} // namespace
} // namespace ramulon
