#include "resource_name.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <strings.h>
#include <vector>

namespace visa {
namespace {

bool equalsIgnoreCase(const std::string &a, const char *b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

bool startsWithIgnoreCase(const std::string &text, const char *prefix)
{
    return strncasecmp(text.c_str(), prefix, std::char_traits<char>::length(prefix)) == 0;
}

// Digits only, no sign, no white space; the value must fit limit.
bool parseDecimal(const std::string &text, unsigned long limit, unsigned long *value)
{
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long result = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        result = result * 10 + static_cast<unsigned long>(c - '0');
    }
    if (result > limit)
        return false;
    *value = result;
    return true;
}

// USB ids are written in hex with 0x or in decimal.
bool parseUsbId(const std::string &text, uint16_t *value)
{
    unsigned long result = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 6)
            return false;
        for (size_t i = 2; i < text.size(); ++i) {
            const int c = static_cast<unsigned char>(text[i]);
            if (!std::isxdigit(c))
                return false;
            result = result * 16 + static_cast<unsigned long>(
                                       std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
    } else if (!parseDecimal(text, 0xFFFF, &result)) {
        return false;
    }
    *value = static_cast<uint16_t>(result);
    return true;
}

std::vector<std::string> splitFields(const std::string &text)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find("::", start);
        if (pos == std::string::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, pos - start));
        start = pos + 2;
    }
}

bool validHostName(const std::string &host)
{
    if (host.empty() || host.size() > 253)
        return false;
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            return false;
    }
    return true;
}

bool validIpv6Literal(const std::string &host)
{
    // A zone ("fe80::1%eth0") is passed on to the resolver; only the address part is checked.
    const std::string address = host.substr(0, host.find('%'));
    in6_addr parsed{};
    return !address.empty() && inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

bool validDevicePath(const std::string &path)
{
    if (path.size() < 2 || path[0] != '/')
        return false;
    for (char c : path) {
        if (std::isspace(static_cast<unsigned char>(c)) ||
            std::iscntrl(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// "TCPIP[board]": returns the board via *board; rest is what follows the keyword.
bool parseBoard(const std::string &rest, unsigned *board)
{
    if (rest.empty()) {
        *board = 0;
        return true;
    }
    unsigned long value = 0;
    if (!parseDecimal(rest, 0xFFFF, &value))
        return false;
    *board = static_cast<unsigned>(value);
    return true;
}

ViStatus parseTcpip(const std::string &text, ResourceName *out)
{
    const size_t keywordEnd = text.find("::");
    if (keywordEnd == std::string::npos)
        return VI_ERROR_INV_RSRC_NAME;
    if (!parseBoard(text.substr(5, keywordEnd - 5), &out->board))
        return VI_ERROR_INV_RSRC_NAME;

    std::string rest = text.substr(keywordEnd + 2);
    if (!rest.empty() && rest[0] == '[') {
        // An IPv6 literal contains "::" itself, so it is taken whole up to its bracket.
        const size_t close = rest.find(']');
        if (close == std::string::npos)
            return VI_ERROR_INV_RSRC_NAME;
        out->host = rest.substr(1, close - 1);
        out->hostIsIpv6 = true;
        if (!validIpv6Literal(out->host))
            return VI_ERROR_INV_RSRC_NAME;
        rest = rest.substr(close + 1);
        if (rest.compare(0, 2, "::") != 0)
            return VI_ERROR_INV_RSRC_NAME;
        rest = rest.substr(2);
    } else {
        const size_t hostEnd = rest.find("::");
        if (hostEnd == std::string::npos)
            return VI_ERROR_INV_RSRC_NAME;
        out->host = rest.substr(0, hostEnd);
        if (!validHostName(out->host))
            return VI_ERROR_INV_RSRC_NAME;
        rest = rest.substr(hostEnd + 2);
    }

    const std::vector<std::string> fields = splitFields(rest);
    if (fields.size() == 2 && equalsIgnoreCase(fields[1], "SOCKET")) {
        unsigned long port = 0;
        if (!parseDecimal(fields[0], 65535, &port) || port == 0)
            return VI_ERROR_INV_RSRC_NAME;
        out->port = static_cast<uint16_t>(port);
        return VI_SUCCESS;
    }
    // TCPIP::host[::device]::INSTR (VXI-11, HiSLIP) is well formed but has no transport here.
    if (!fields.empty() && fields.size() <= 2 && equalsIgnoreCase(fields.back(), "INSTR"))
        return VI_ERROR_RSRC_NFOUND;
    return VI_ERROR_INV_RSRC_NAME;
}

ViStatus parseSerial(const std::string &text, ResourceName *out)
{
    std::string rest = text.substr(4);
    const size_t end = rest.find("::");
    std::string board = rest.substr(0, end);
    if (end != std::string::npos) {
        if (!equalsIgnoreCase(rest.substr(end + 2), "INSTR"))
            return VI_ERROR_INV_RSRC_NAME;
    }
    if (!board.empty() && board[0] == '/') {
        if (!validDevicePath(board))
            return VI_ERROR_INV_RSRC_NAME;
        out->devicePath = board;
        out->board = 0;
        return VI_SUCCESS;
    }
    return parseBoard(board, &out->board) ? VI_SUCCESS : VI_ERROR_INV_RSRC_NAME;
}

ViStatus parseUsb(const std::string &text, ResourceName *out)
{
    std::vector<std::string> fields = splitFields(text);
    if (!parseBoard(fields[0].substr(3), &out->board))
        return VI_ERROR_INV_RSRC_NAME;
    fields.erase(fields.begin());
    if (!fields.empty() && equalsIgnoreCase(fields.back(), "RAW"))
        return fields.size() >= 4 ? VI_ERROR_RSRC_NFOUND : VI_ERROR_INV_RSRC_NAME;
    if (!fields.empty() && equalsIgnoreCase(fields.back(), "INSTR"))
        fields.pop_back();
    if (fields.size() != 3 && fields.size() != 4)
        return VI_ERROR_INV_RSRC_NAME;
    if (!parseUsbId(fields[0], &out->vendorId) || !parseUsbId(fields[1], &out->productId))
        return VI_ERROR_INV_RSRC_NAME;
    out->serial = fields[2];
    if (out->serial.empty())
        return VI_ERROR_INV_RSRC_NAME;
    for (char c : out->serial) {
        if (std::isspace(static_cast<unsigned char>(c)) ||
            std::iscntrl(static_cast<unsigned char>(c)))
            return VI_ERROR_INV_RSRC_NAME;
    }
    if (fields.size() == 4) {
        unsigned long interfaceNumber = 0;
        if (!parseDecimal(fields[3], 255, &interfaceNumber))
            return VI_ERROR_INV_RSRC_NAME;
        out->interfaceNumber = static_cast<int>(interfaceNumber);
    }
    return VI_SUCCESS;
}

} // namespace

ViStatus parseResourceName(const std::string &text, ResourceName *out)
{
    if (!out)
        return VI_ERROR_INV_PARAMETER;
    ResourceName name;
    ViStatus status = VI_ERROR_INV_RSRC_NAME;
    if (startsWithIgnoreCase(text, "TCPIP")) {
        name.kind = ResourceName::Kind::Tcpip;
        status = parseTcpip(text, &name);
    } else if (startsWithIgnoreCase(text, "ASRL")) {
        name.kind = ResourceName::Kind::Serial;
        status = parseSerial(text, &name);
    } else if (startsWithIgnoreCase(text, "USB")) {
        name.kind = ResourceName::Kind::Usb;
        status = parseUsb(text, &name);
    } else if (startsWithIgnoreCase(text, "GPIB") || startsWithIgnoreCase(text, "VXI") ||
               startsWithIgnoreCase(text, "PXI")) {
        const size_t keywordEnd = text.find("::");
        status = keywordEnd != std::string::npos && keywordEnd + 2 < text.size()
                     ? VI_ERROR_RSRC_NFOUND
                     : VI_ERROR_INV_RSRC_NAME;
    }
    if (status == VI_SUCCESS)
        *out = name;
    return status;
}

std::string formatResourceName(const ResourceName &name)
{
    char buffer[64];
    switch (name.kind) {
    case ResourceName::Kind::Tcpip: {
        std::string host = name.hostIsIpv6 ? "[" + name.host + "]" : name.host;
        std::snprintf(buffer, sizeof buffer, "::%u::SOCKET", static_cast<unsigned>(name.port));
        return "TCPIP" + std::to_string(name.board) + "::" + host + buffer;
    }
    case ResourceName::Kind::Serial:
        if (!name.devicePath.empty())
            return "ASRL" + name.devicePath + "::INSTR";
        return "ASRL" + std::to_string(name.board) + "::INSTR";
    case ResourceName::Kind::Usb: {
        std::snprintf(buffer, sizeof buffer, "::0x%04X::0x%04X::", name.vendorId, name.productId);
        std::string text = "USB" + std::to_string(name.board) + buffer + name.serial;
        if (name.interfaceNumber >= 0)
            text += "::" + std::to_string(name.interfaceNumber);
        return text + "::INSTR";
    }
    }
    return std::string();
}

bool sameResource(const ResourceName &a, const ResourceName &b)
{
    if (a.kind != b.kind || a.board != b.board)
        return false;
    switch (a.kind) {
    case ResourceName::Kind::Tcpip:
        return a.port == b.port && strcasecmp(a.host.c_str(), b.host.c_str()) == 0;
    case ResourceName::Kind::Serial:
        return a.devicePath == b.devicePath;
    case ResourceName::Kind::Usb:
        return a.vendorId == b.vendorId && a.productId == b.productId &&
               (a.interfaceNumber == b.interfaceNumber || a.interfaceNumber < 0 ||
                b.interfaceNumber < 0) &&
               strcasecmp(a.serial.c_str(), b.serial.c_str()) == 0;
    }
    return false;
}

} // namespace visa
