#include "system_paths.h"

#include <cstdio>
#include <cstdlib>

namespace visa {

std::string environmentValue(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string deviceRoot()
{
    const std::string root = environmentValue("VISA_DEV_ROOT");
    return root.empty() ? std::string("/dev") : root;
}

std::string sysfsRoot()
{
    const std::string root = environmentValue("VISA_SYSFS_ROOT");
    return root.empty() ? std::string("/sys") : root;
}

std::string readSmallFile(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "re");
    if (!file)
        return std::string();
    char buffer[512];
    const size_t size = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    std::string text(buffer, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '\t'))
        text.pop_back();
    return text;
}

} // namespace visa
