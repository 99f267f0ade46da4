// Placeholder until the host's panel lands.
#include "settings.h"

namespace host {

std::string apply_setting(LWXPanelID, const std::string &assignment)
{
    return "cannot apply \"" + assignment + "\": parameter edits are not available yet";
}

} // namespace host
