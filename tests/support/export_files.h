// Shared by the exporter tests: a scratch folder, a way to read back what a glTF accessor holds,
// and trees built by the real plug-in module through the stand-in modeller.
#pragma once

#include <string>
#include <vector>

#include "export/gltf/tiny_gltf_setup.h"
#include "host/mesh.h"

namespace ramulon {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

// Loads a .gltf or .glb; fails the calling test (ADD_FAILURE) and returns false on errors.
bool load_gltf(const std::string &path, tinygltf::Model &model);

// The floats of a float accessor, count × components.
std::vector<float> accessor_floats(const tinygltf::Model &model, int accessor);
// The indices of an index accessor (16 or 32 bit).
std::vector<unsigned> accessor_indices(const tinygltf::Model &model, int accessor);

// Grows a tree from the built-in crown with the real generation-11 module and the given panel
// edits ("render_type=1"); returns false (error filled) when that cannot be done.
bool build_real_tree(const std::vector<std::string> &settings, host::Layer &out, std::string &error);

// A layer no build makes: `points_held` points and one triangle on points 0, 1 and 2, put in
// behind add_polygon's back (which stops a debug build at such a corner), so that the writers'
// own refusal of a corrupt layer can be tried in every build.
host::Layer layer_with_missing_points(int points_held);

} // namespace ramulon
