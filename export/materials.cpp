#include "materials.h"

namespace exporter {

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
