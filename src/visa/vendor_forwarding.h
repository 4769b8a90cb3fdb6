// Forwarding to an installed vendor VISA library: decided once per process. VISA_NO_VENDOR=1
// turns it off; VISA_VENDOR_LIBRARY names the library to load; otherwise the usual library names
// are tried in order. A library that lacks one of the operations is not used at all.
#pragma once

#include "visa.h"

#include <memory>
#include <string>
#include <vector>

namespace visa {

struct VendorApi
{
    void *handle = nullptr;
    std::string path;
    ViStatus (*openDefaultRM)(ViPSession) = nullptr;
    ViStatus (*findRsrc)(ViSession, ViConstString, ViPFindList, ViPUInt32, ViChar[]) = nullptr;
    ViStatus (*findNext)(ViFindList, ViChar[]) = nullptr;
    ViStatus (*open)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViPSession) = nullptr;
    ViStatus (*close)(ViObject) = nullptr;
    ViStatus (*setAttribute)(ViObject, ViAttr, ViAttrState) = nullptr;
    ViStatus (*write)(ViSession, ViConstBuf, ViUInt32, ViPUInt32) = nullptr;
    ViStatus (*read)(ViSession, ViPBuf, ViUInt32, ViPUInt32) = nullptr;
    ViStatus (*vQueryf)(ViSession, ViConstString, ViConstString, va_list) = nullptr;
    ViStatus (*statusDesc)(ViObject, ViStatus, ViChar[]) = nullptr;
};

// The libraries to try, in order, as the environment asks: none with VISA_NO_VENDOR=1, only
// $VISA_VENDOR_LIBRARY when set, otherwise libvisa.so, libvisa.so.0, libiovisa.so, librsvisa.so.
std::vector<std::string> vendorLibraryCandidates();

// Loads one library with every operation resolved; nullptr (with a warning when it loads but
// lacks an operation) otherwise; *loadable tells whether dlopen succeeded. The library itself
// stays loaded for the life of the process.
std::unique_ptr<VendorApi> loadVendorLibrary(const std::string &path, bool *loadable = nullptr);

// The process's choice, made on first use (thread-safe); nullptr means the built-in layer.
const VendorApi *vendorApi();

} // namespace visa
