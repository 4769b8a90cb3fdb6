// Finding the resources present: serial device nodes, usbtmc device nodes (named from sysfs) and
// the resource list, in the order viFindRsrc reports them.
#pragma once

#include "resource_name.h"

#include <string>
#include <vector>

namespace visa {

// Serial device nodes under the device root: ttyS* (only those with a UART behind them), then
// ttyUSB*, then ttyACM*, each by number. ASRLn names the n-th of them (ASRL1 the first).
std::vector<std::string> serialPortPaths();

struct UsbtmcNode
{
    std::string path;  // the device node, e.g. /dev/usbtmc0
    ResourceName name; // USB0::vid::pid::serial::interface::INSTR read from sysfs
};

// usbtmc device nodes by number that have their sysfs description.
std::vector<UsbtmcNode> usbtmcNodes();

// The device path a serial resource names; empty when ASRLn is beyond the ports present.
std::string serialDevicePath(const ResourceName &name);

// Every resource: USB, then TCP/IP sockets, then serial, each in a stable order; nodes present
// first, then entries of the resource list that are not already reported. Canonical names.
std::vector<std::string> discoverResources();

} // namespace visa
