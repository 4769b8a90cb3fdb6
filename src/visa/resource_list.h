// The hand-written list of resources (raw sockets cannot be discovered): one resource name per
// line, '#' starts a comment, blank lines are ignored, invalid names are skipped with a warning.
#pragma once

#include "resource_name.h"

#include <string>
#include <vector>

namespace visa {

// $VISA_RESOURCE_LIST when set; otherwise the user's file ($XDG_CONFIG_HOME/visa/resources, or
// ~/.config/visa/resources without XDG_CONFIG_HOME) when it exists; otherwise
// /etc/visa/resources. The file need not exist.
std::string resourceListPath();

// The valid names of the file in file order; empty when the file is missing.
std::vector<ResourceName> readResourceList(const std::string &path);

} // namespace visa
