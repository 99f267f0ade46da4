#include "export/materials/materials.h"

#include <algorithm>

#include "common/index_cast.h"

namespace exporter {

Colour sketch_colour(const std::string &tag)
{
    if (tag == "Brown")
        return {0.50, 0.33, 0.16};
    if (tag == "Blue")
        return {0.20, 0.30, 0.85};
    if (tag == "Green")
        return {0.22, 0.55, 0.17};
    return {0.80, 0.80, 0.80};
}

namespace {

// The polygon's colour tag in the layer's names, -1 without one: its tag chain walked here, as
// this is asked of every polygon of a tree.
int colour_tag(const host::Layer &layer, std::size_t polygon)
{
    if (polygon >= layer.first_tag.size())
        return -1;
    for (int t = layer.first_tag[polygon]; t >= 0;) {
        const host::TagEntry &entry = layer.tags[static_cast<std::size_t>(t)];
        if (entry.type == ID_COLR)
            return entry.value;
        t = entry.next;
    }
    return -1;
}

} // namespace

Materials collect_materials(const host::Layer &layer)
{
    Materials out;
    // Per surface name number (and one for no surface): its material, -1 before it appears.
    const std::size_t none = layer.names.size();
    std::vector<int> material_of_name(none + 1, -1);
    // Per material: (tag value, count) in the order the values first appear.
    std::vector<std::vector<std::pair<int, int>>> tag_counts;
    const std::size_t count = layer.polygon_count();
    out.of_polygon.reserve(count);
    for (std::size_t p = 0; p < count; ++p) {
        const int surface = layer.polygon_surface[p];
        const std::string &name = surface < 0 ? default_material : layer.names[surface];
        int &material = material_of_name[surface < 0 ? none : ramulon::index_cast<std::size_t>(surface)];
        if (material < 0) {
            // A surface named like the default material shares its material.
            const auto same = std::find_if(out.list.begin(), out.list.end(),
                                           [&](const Material &m) { return m.name == name; });
            material = ramulon::index_cast<int>(same - out.list.begin());
            if (same == out.list.end()) {
                Material m;
                m.name = name;
                m.leaf = name == leaf_surface;
                out.list.push_back(m);
                tag_counts.emplace_back();
            }
        }
        out.of_polygon.push_back(material);
        if (const int tag = colour_tag(layer, p); tag >= 0) {
            auto &counts = tag_counts[ramulon::index_cast<std::size_t>(material)];
            auto entry = std::find_if(counts.begin(), counts.end(),
                                      [&](const auto &c) { return c.first == tag; });
            if (entry == counts.end())
                entry = counts.emplace(counts.end(), tag, 0);
            entry->second += 1;
        }
    }
    // The most frequent tag; of equally frequent ones, the first to appear.
    for (std::size_t m = 0; m < out.list.size(); ++m) {
        int best_count = 0;
        for (const auto &[tag, count] : tag_counts[m])
            if (count > best_count) {
                best_count = count;
                out.list[m].colour_tag = layer.names[tag];
            }
        out.list[m].colour = sketch_colour(out.list[m].colour_tag);
    }
    return out;
}

const std::string &texture_map(const Material &material)
{
    return material.leaf ? leaf_texture : branch_texture;
}


Finish finish_of(const Material &material)
{
    if (material.leaf)
        return Finish::leaf;
    if (material.name == "RM_twig")
        return Finish::twig;
    if (material.name == trunk_surface || material.name == "RM_branch" || material.name == root_surface)
        return Finish::bark;
    return Finish::plain;
}

bool woody(const Material &material)
{
    const Finish finish = finish_of(material);
    return finish == Finish::bark || finish == Finish::twig;
}

bool holds_tree(const Material &material)
{
    return material.name == trunk_surface || material.name == "RM_root";
}

Colour base_colour(const Material &material, bool textured)
{
    switch (finish_of(material)) {
    case Finish::bark:
        return textured ? Colour{0.85, 0.85, 0.85} : sketch_colour("Brown");
    case Finish::twig:
        // A quarter of the way from the bark toward white: young bark is paler.
        return textured ? Colour{1.0, 1.0, 1.0} : Colour{0.625, 0.4975, 0.37};
    case Finish::leaf:
        return textured ? Colour{1.0, 1.0, 1.0} : sketch_colour("Green");
    case Finish::plain:
        break;
    }
    return material.colour;
}

} // namespace exporter
