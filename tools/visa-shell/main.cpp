// visa-shell: lists VISA resources and sends a command or a query to one of them.
// It is what to reach for to check a cable before starting the logger.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "visa.h"

namespace {

const char usageText[] =
    "usage:\n"
    "  visa-shell list [EXPRESSION]                  resources matching EXPRESSION (default "
    "\"?*\")\n"
    "  visa-shell query RESOURCE COMMAND [options]   send COMMAND, print the reply\n"
    "  visa-shell write RESOURCE COMMAND [options]   send COMMAND, read nothing\n"
    "options:\n"
    "  --timeout MS    I/O timeout in milliseconds (default 5000)\n"
    "  --baud N        serial baud rate for ASRL resources (default 9600)\n"
    "A line feed is appended to COMMAND. Exit status: 0 success, 1 VISA failure, 2 bad usage.\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

std::string describe(ViObject session, ViStatus status)
{
    char desc[256] = {};
    viStatusDesc(session, status, desc);
    desc[sizeof desc - 1] = '\0';
    return desc;
}

int failure(ViObject session, ViStatus status, const char *what)
{
    std::fprintf(stderr, "%s: %s (status %d)\n", what, describe(session, status).c_str(),
                 static_cast<int>(status));
    return 1;
}

bool parseNumber(const char *text, unsigned long max, unsigned long &value)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed > max || text[0] == '-')
        return false;
    value = parsed;
    return true;
}

int listResources(ViSession rm, const char *expression)
{
    ViFindList list = 0;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN] = {};
    const ViStatus status = viFindRsrc(rm, expression, &list, &count, desc);
    if (status == VI_ERROR_RSRC_NFOUND) {
        std::fprintf(stderr, "no resource matches \"%s\"\n", expression);
        return 0;
    }
    if (status < VI_SUCCESS)
        return failure(rm, status, "search failed");
    for (ViUInt32 i = 0; i < count; ++i) {
        if (i > 0 && viFindNext(list, desc) < VI_SUCCESS)
            break;
        std::printf("%s\n", desc);
    }
    viClose(list);
    return 0;
}

int exchange(ViSession rm, const char *resource, const std::string &command, bool query,
             unsigned long timeoutMs, unsigned long baud)
{
    ViSession session = 0;
    ViStatus status = viOpen(rm, resource, VI_NO_LOCK, 0, &session);
    if (status < VI_SUCCESS)
        return failure(VI_NULL, status, "open failed");

    viSetAttribute(session, VI_ATTR_TMO_VALUE, timeoutMs);
    viSetAttribute(session, VI_ATTR_TERMCHAR, '\n');
    viSetAttribute(session, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    if (baud != 0 && strncasecmp(resource, "ASRL", 4) == 0) {
        status = viSetAttribute(session, VI_ATTR_ASRL_BAUD, baud);
        if (status < VI_SUCCESS) {
            const int rc = failure(session, status, "baud rate refused");
            viClose(session);
            return rc;
        }
    }

    const std::string message = command + "\n";
    ViUInt32 written = 0;
    status = viWrite(session, reinterpret_cast<ViConstBuf>(message.data()),
                     static_cast<ViUInt32>(message.size()), &written);
    if (status < VI_SUCCESS) {
        const int rc = failure(session, status, "write failed");
        viClose(session);
        return rc;
    }
    if (!query) {
        viClose(session);
        return 0;
    }

    // Collect the whole reply: a reply longer than one read comes back as MAX_CNT pieces.
    std::string reply;
    std::vector<char> buffer(65536);
    for (;;) {
        ViUInt32 count = 0;
        status = viRead(session, reinterpret_cast<ViPBuf>(buffer.data()),
                        static_cast<ViUInt32>(buffer.size()), &count);
        reply.append(buffer.data(), count);
        if (status != VI_SUCCESS_MAX_CNT)
            break;
    }
    if (status < VI_SUCCESS) {
        if (!reply.empty())
            std::fprintf(stderr, "partial reply: %s\n", reply.c_str());
        const int rc = failure(session, status, "read failed");
        viClose(session);
        return rc;
    }
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    std::printf("%s\n", reply.c_str());
    viClose(session);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> positional;
    unsigned long timeoutMs = 5000;
    unsigned long baud = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usageText, stdout);
            return 0;
        }
        if (arg == "--timeout" || arg == "--baud") {
            unsigned long value = 0;
            if (i + 1 >= argc || !parseNumber(argv[i + 1], 0xFFFFFFFFul, value)) {
                std::fprintf(stderr, "%s needs a non-negative number\n", arg.c_str());
                return usage();
            }
            (arg == "--timeout" ? timeoutMs : baud) = value;
            ++i;
            continue;
        }
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return usage();
        }
        positional.push_back(arg);
    }
    if (positional.empty())
        return usage();

    const std::string &verb = positional[0];
    const bool isList = verb == "list";
    if (isList ? positional.size() > 2
               : ((verb != "query" && verb != "write") || positional.size() != 3))
        return usage();

    ViSession rm = 0;
    const ViStatus status = viOpenDefaultRM(&rm);
    if (status < VI_SUCCESS)
        return failure(VI_NULL, status, "cannot open the VISA resource manager");

    int rc = 0;
    if (isList)
        rc = listResources(rm, positional.size() == 2 ? positional[1].c_str() : "?*");
    else
        rc = exchange(rm, positional[1].c_str(), positional[2], verb == "query", timeoutMs, baud);
    viClose(rm);
    return rc;
}
