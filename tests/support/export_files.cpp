#include "support/export_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/obj_loader.h"
#include "host/services.h"
#include "host/session.h"
#include "host/settings.h"

namespace ramulon {

namespace fs = std::filesystem;

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "ramulon-export-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
    else
        ADD_FAILURE() << "cannot make a scratch folder: " << std::strerror(errno);
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    if (!path_.empty())
        fs::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::entries() const
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool load_gltf(const std::string &path, tinygltf::Model &model)
{
    tinygltf::TinyGLTF loader;
    // Images stay as the bytes the file holds: the tests read them, nothing draws them.
    loader.SetImageLoader([](tinygltf::Image *, const int, std::string *, std::string *, int, int,
                             const unsigned char *, int, void *) { return true; },
                          nullptr);
    std::string error, warning;
    const bool binary = fs::path(path).extension() == ".glb";
    const bool ok = binary ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                           : loader.LoadASCIIFromFile(&model, &error, &warning, path);
    if (!ok)
        ADD_FAILURE() << "cannot load " << path << ": " << error;
    return ok;
}

namespace {

const unsigned char *accessor_bytes(const tinygltf::Model &model, const tinygltf::Accessor &a,
                                    std::size_t element)
{
    const tinygltf::BufferView &view = model.bufferViews[static_cast<std::size_t>(a.bufferView)];
    const tinygltf::Buffer &buffer = model.buffers[static_cast<std::size_t>(view.buffer)];
    const int stride = a.ByteStride(view);
    return buffer.data.data() + view.byteOffset + a.byteOffset + element * static_cast<std::size_t>(stride);
}

} // namespace

std::vector<float> accessor_floats(const tinygltf::Model &model, int accessor)
{
    const tinygltf::Accessor &a = model.accessors[static_cast<std::size_t>(accessor)];
    EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    const int components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(a.type));
    std::vector<float> out(a.count * static_cast<std::size_t>(components));
    for (std::size_t i = 0; i < a.count; ++i)
        std::memcpy(&out[i * static_cast<std::size_t>(components)], accessor_bytes(model, a, i),
                    sizeof(float) * static_cast<std::size_t>(components));
    return out;
}

std::vector<unsigned> accessor_indices(const tinygltf::Model &model, int accessor)
{
    const tinygltf::Accessor &a = model.accessors[static_cast<std::size_t>(accessor)];
    std::vector<unsigned> out;
    for (std::size_t i = 0; i < a.count; ++i) {
        const unsigned char *p = accessor_bytes(model, a, i);
        if (a.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
            std::uint16_t v;
            std::memcpy(&v, p, sizeof v);
            out.push_back(v);
        } else {
            std::uint32_t v;
            std::memcpy(&v, p, sizeof v);
            out.push_back(v);
        }
    }
    return out;
}

bool build_real_tree(const std::vector<std::string> &settings, host::Layer &out, std::string &error)
{
    host::Session session;
    session.set_journal(false);
    if (!session.load(std::string(RAMULON_MODULE_DIR) + "/RamulonVE11.so") ||
        session.activate(11) != AFUNC_OK) {
        error = session.error();
        return false;
    }
    if (const auto crown = host::load_obj_text(host::default_crown_obj(), "built-in crown", session.mesh().background);
        !crown) {
        error = crown.message();
        return false;
    }
    session.start();
    LWXPanelID panel = session.panel();
    if (!panel) {
        error = "the tool made no panel";
        return false;
    }
    {
        host::Binding bind(session.services());
        for (const std::string &setting : settings)
            if (!(error = host::apply_setting(panel, setting).message()).empty())
                return false;
    }
    if (const auto built = session.build(); !built) {
        error = built.message();
        return false;
    }
    out = session.mesh().foreground;
    return true;
}

host::Layer layer_with_missing_points(int points_held)
{
    host::Layer layer;
    for (int i = 0; i < points_held; ++i)
        layer.add_point({0, 0, 0});
    const int triangle[] = {0, 1, 2};
    layer.corners.append(triangle, 3);
    layer.corner_offset.push_back(layer.corners.size());
    layer.polygon_type.push_back(ID_FACE);
    layer.polygon_surface.push_back(-1);
    return layer;
}

} // namespace ramulon
