// Where the layer looks for device nodes, sysfs and the resource list; tests point these at
// temporary trees through VISA_DEV_ROOT, VISA_SYSFS_ROOT and VISA_RESOURCE_LIST.
#pragma once

#include <string>

namespace visa {

// $VISA_DEV_ROOT or "/dev".
std::string deviceRoot();
// $VISA_SYSFS_ROOT or "/sys".
std::string sysfsRoot();
// The value of an environment variable, empty when unset.
std::string environmentValue(const char *name);
// The whole file with trailing white space removed; empty when it cannot be read.
std::string readSmallFile(const std::string &path);

} // namespace visa
