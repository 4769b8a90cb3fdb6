#include "discovery.h"

#include "resource_list.h"
#include "system_paths.h"

#include <QtGlobal>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace visa {
namespace {

// Entries "<prefix><number>" of a directory, sorted by number.
std::vector<std::pair<unsigned long, std::string>> numberedEntries(const std::string &directory,
                                                                   const char *prefix)
{
    std::vector<std::pair<unsigned long, std::string>> entries;
    DIR *dir = opendir(directory.c_str());
    if (!dir)
        return entries;
    const size_t prefixLength = std::strlen(prefix);
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strncmp(name, prefix, prefixLength) != 0)
            continue;
        const char *digits = name + prefixLength;
        if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits) ||
            std::strlen(digits) > 6)
            continue;
        entries.emplace_back(std::strtoul(digits, nullptr, 10), name);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Kernels list every possible 8250 port as ttyS*; sysfs "type" 0 means no UART is there.
bool serialPortHasHardware(const std::string &name)
{
    const std::string type = readSmallFile(sysfsRoot() + "/class/tty/" + name + "/type");
    return type != "0";
}

std::string canonicalPath(const std::string &path)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return std::string();
    return resolved;
}

bool readUsbtmcName(const std::string &nodeName, ResourceName *name)
{
    std::string interfaceDir;
    for (const char *className : {"/class/usbmisc/", "/class/usb/"}) {
        interfaceDir = canonicalPath(sysfsRoot() + className + nodeName + "/device");
        if (!interfaceDir.empty())
            break;
    }
    if (interfaceDir.empty())
        return false;
    const std::string deviceDir = interfaceDir.substr(0, interfaceDir.rfind('/'));
    const std::string vendor = readSmallFile(deviceDir + "/idVendor");
    const std::string product = readSmallFile(deviceDir + "/idProduct");
    const std::string serial = readSmallFile(deviceDir + "/serial");
    const std::string interfaceNumber = readSmallFile(interfaceDir + "/bInterfaceNumber");
    ResourceName parsed;
    const std::string text =
        "USB0::0x" + vendor + "::0x" + product + "::" + serial +
        "::" + std::to_string(std::strtoul(interfaceNumber.c_str(), nullptr, 16)) + "::INSTR";
    if (vendor.empty() || product.empty() || serial.empty() || interfaceNumber.empty() ||
        parseResourceName(text, &parsed) != VI_SUCCESS) {
        qDebug("VISA usbtmc 设备的 sysfs 描述不完整，已跳过: %s (%s)", nodeName.c_str(),
               text.c_str());
        return false;
    }
    *name = parsed;
    return true;
}

void appendUnique(std::vector<ResourceName> &names, const ResourceName &name)
{
    for (const ResourceName &present : names) {
        if (sameResource(present, name))
            return;
    }
    names.push_back(name);
}

} // namespace

std::vector<std::string> serialPortPaths()
{
    const std::string root = deviceRoot();
    std::vector<std::string> paths;
    for (const char *prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        for (const auto &entry : numberedEntries(root, prefix)) {
            if (std::strcmp(prefix, "ttyS") == 0 && !serialPortHasHardware(entry.second))
                continue;
            paths.push_back(root + "/" + entry.second);
        }
    }
    return paths;
}

std::vector<UsbtmcNode> usbtmcNodes()
{
    const std::string root = deviceRoot();
    std::vector<UsbtmcNode> nodes;
    for (const auto &entry : numberedEntries(root, "usbtmc")) {
        UsbtmcNode node;
        node.path = root + "/" + entry.second;
        if (readUsbtmcName(entry.second, &node.name))
            nodes.push_back(node);
    }
    return nodes;
}

std::string serialDevicePath(const ResourceName &name)
{
    if (!name.devicePath.empty())
        return name.devicePath;
    if (name.board == 0)
        return std::string();
    const std::vector<std::string> ports = serialPortPaths();
    return name.board <= ports.size() ? ports[name.board - 1] : std::string();
}

std::vector<std::string> discoverResources()
{
    std::vector<ResourceName> usb;
    std::vector<ResourceName> tcpip;
    std::vector<ResourceName> serial;
    for (const UsbtmcNode &node : usbtmcNodes())
        usb.push_back(node.name);
    for (const std::string &path : serialPortPaths()) {
        ResourceName name;
        name.kind = ResourceName::Kind::Serial;
        name.devicePath = path;
        serial.push_back(name);
    }
    for (ResourceName name : readResourceList(resourceListPath())) {
        switch (name.kind) {
        case ResourceName::Kind::Usb:
            appendUnique(usb, name);
            break;
        case ResourceName::Kind::Tcpip:
            appendUnique(tcpip, name);
            break;
        case ResourceName::Kind::Serial: {
            // ASRLn and the path of the same port are one resource.
            ResourceName byPath = name;
            byPath.devicePath = serialDevicePath(name);
            byPath.board = 0;
            bool present = false;
            for (const ResourceName &known : serial)
                present = present || (!byPath.devicePath.empty() && sameResource(known, byPath));
            if (!present)
                appendUnique(serial, name);
            break;
        }
        }
    }
    std::vector<std::string> names;
    for (const auto *group : {&usb, &tcpip, &serial}) {
        for (const ResourceName &name : *group)
            names.push_back(formatResourceName(name));
    }
    return names;
}

} // namespace visa
