#include "vendor_forwarding.h"

#include "system_paths.h"

#include <QtGlobal>

#include <dlfcn.h>

namespace visa {
namespace {

template<typename Fn>
bool resolveSymbol(void *handle, const char *name, Fn *target, std::string *missing)
{
    *target = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!*target && missing->empty())
        *missing = name;
    return *target != nullptr;
}

} // namespace

std::vector<std::string> vendorLibraryCandidates()
{
    if (environmentValue("VISA_NO_VENDOR") == "1")
        return {};
    const std::string explicitLibrary = environmentValue("VISA_VENDOR_LIBRARY");
    if (!explicitLibrary.empty())
        return {explicitLibrary};
    return {"libvisa.so", "libvisa.so.0", "libiovisa.so", "librsvisa.so"};
}

std::unique_ptr<VendorApi> loadVendorLibrary(const std::string &path, bool *loadable)
{
    // Local binding keeps the vendor's symbols from resolving against the built-in entry points
    // of this process, and ours from being taken by it.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loadable)
        *loadable = handle != nullptr;
    if (!handle)
        return nullptr;
    std::unique_ptr<VendorApi> api(new VendorApi);
    api->handle = handle;
    api->path = path;
    std::string missing;
    resolveSymbol(handle, "viOpenDefaultRM", &api->openDefaultRM, &missing);
    resolveSymbol(handle, "viFindRsrc", &api->findRsrc, &missing);
    resolveSymbol(handle, "viFindNext", &api->findNext, &missing);
    resolveSymbol(handle, "viOpen", &api->open, &missing);
    resolveSymbol(handle, "viClose", &api->close, &missing);
    resolveSymbol(handle, "viSetAttribute", &api->setAttribute, &missing);
    resolveSymbol(handle, "viWrite", &api->write, &missing);
    resolveSymbol(handle, "viRead", &api->read, &missing);
    resolveSymbol(handle, "viVQueryf", &api->vQueryf, &missing);
    resolveSymbol(handle, "viStatusDesc", &api->statusDesc, &missing);
    if (!missing.empty()) {
        qWarning("VISA 厂商库缺少函数 %s，改用内置实现: %s", missing.c_str(), path.c_str());
        dlclose(handle);
        return nullptr;
    }
    return api;
}

const VendorApi *vendorApi()
{
    // A function-local static is initialised once even when threads race to the first call, and
    // works before main (the logger's sessions are opened during static initialisation).
    static const VendorApi *chosen = []() -> const VendorApi * {
        const std::vector<std::string> candidates = vendorLibraryCandidates();
        for (const std::string &candidate : candidates) {
            bool loadable = false;
            if (std::unique_ptr<VendorApi> api = loadVendorLibrary(candidate, &loadable)) {
                qDebug("VISA 使用厂商库: %s", candidate.c_str());
                return api.release(); // kept for the life of the process
            }
            // A library that loads but lacks an operation means the built-in layer, not the next
            // name: forwarding is all or nothing.
            if (loadable)
                return nullptr;
            if (candidates.size() == 1)
                qWarning("VISA 无法加载厂商库，改用内置实现: %s (%s)", candidate.c_str(),
                         dlerror());
        }
        return nullptr;
    }();
    return chosen;
}

} // namespace visa
