#include "resource_list.h"

#include "system_paths.h"

#include <QtGlobal>

#include <fstream>
#include <mutex>
#include <set>
#include <unistd.h>

namespace visa {
namespace {

// The list is read at every search; each bad line is reported once per process, not per search.
bool firstReport(const std::string &key)
{
    static std::mutex *mutex = new std::mutex;
    static std::set<std::string> *reported = new std::set<std::string>;
    std::lock_guard<std::mutex> guard(*mutex);
    return reported->insert(key).second;
}

} // namespace

std::string resourceListPath()
{
    const std::string explicitPath = environmentValue("VISA_RESOURCE_LIST");
    if (!explicitPath.empty())
        return explicitPath;
    std::string userFile;
    const std::string configHome = environmentValue("XDG_CONFIG_HOME");
    if (!configHome.empty()) {
        userFile = configHome + "/visa/resources";
    } else {
        const std::string home = environmentValue("HOME");
        if (!home.empty())
            userFile = home + "/.config/visa/resources";
    }
    if (!userFile.empty() && access(userFile.c_str(), F_OK) == 0)
        return userFile;
    return "/etc/visa/resources";
}

std::vector<ResourceName> readResourceList(const std::string &path)
{
    std::vector<ResourceName> names;
    std::ifstream file(path);
    if (!file)
        return names;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        const size_t comment = line.find('#');
        if (comment != std::string::npos)
            line.erase(comment);
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        const size_t last = line.find_last_not_of(" \t\r");
        const std::string text = line.substr(first, last - first + 1);
        ResourceName name;
        if (parseResourceName(text, &name) != VI_SUCCESS) {
            if (firstReport(path + "\n" + text))
                qWarning("VISA 资源列表中的资源名无效，已跳过: %s 第 %d 行: %s", path.c_str(),
                         lineNumber, text.c_str());
            continue;
        }
        names.push_back(name);
    }
    return names;
}

} // namespace visa
