// A stand-in vendor VISA library for the forwarding tests: answers with recognisable values and
// records the calls it receives. Built without viVQueryf it is the incomplete library that the
// layer must refuse.
#include "visa.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex logMutex;
std::string callLog;

void record(const char *call)
{
    std::lock_guard<std::mutex> lock(logMutex);
    if (!callLog.empty())
        callLog += ',';
    callLog += call;
}

} // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

constexpr ViSession kFakeManager = 0x7E570001;
constexpr ViSession kFakeSession = 0x7E570002;
constexpr ViFindList kFakeList = 0x7E570003;

// The calls so far, comma-separated, copied into out.
FAKE_EXPORT void fakeVisaCallLog(char *out, size_t size)
{
    std::lock_guard<std::mutex> lock(logMutex);
    std::snprintf(out, size, "%s", callLog.c_str());
}

FAKE_EXPORT ViStatus viOpenDefaultRM(ViPSession vi)
{
    record("viOpenDefaultRM");
    *vi = kFakeManager;
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viFindRsrc(ViSession, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                                ViChar desc[])
{
    record("viFindRsrc");
    std::snprintf(desc, VI_FIND_BUFLEN, "FAKE0::%s", expr);
    *vi = kFakeList;
    *retCnt = 2;
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viFindNext(ViFindList, ViChar desc[])
{
    record("viFindNext");
    std::snprintf(desc, VI_FIND_BUFLEN, "FAKE1::INSTR");
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode, ViUInt32, ViPSession vi)
{
    record("viOpen");
    if (sesn != kFakeManager)
        return VI_ERROR_INV_SESSION;
    record(name);
    *vi = kFakeSession;
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viClose(ViObject)
{
    record("viClose");
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viSetAttribute(ViObject, ViAttr attrName, ViAttrState attrValue)
{
    char text[64];
    std::snprintf(text, sizeof text, "viSetAttribute %08X=%llu", attrName,
                  static_cast<unsigned long long>(attrValue));
    record(text);
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viWrite(ViSession, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    record(("viWrite " + std::string(reinterpret_cast<const char *>(buf), cnt)).c_str());
    if (retCnt)
        *retCnt = cnt;
    return VI_SUCCESS;
}

FAKE_EXPORT ViStatus viRead(ViSession, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    record("viRead");
    const char reply[] = "FAKE-READ\n";
    const ViUInt32 n = cnt < sizeof reply - 1 ? cnt : ViUInt32(sizeof reply - 1);
    std::memcpy(buf, reply, n);
    if (retCnt)
        *retCnt = n;
    return VI_SUCCESS_TERM_CHAR;
}

#ifndef FAKE_VISA_WITHOUT_VQUERYF
FAKE_EXPORT ViStatus viVQueryf(ViSession, ViConstString writeFmt, ViConstString readFmt,
                               va_list params)
{
    record("viVQueryf");
    // The arguments arrive intact: a %d first, then the reply buffer.
    const int number = va_arg(params, int);
    char *reply = va_arg(params, char *);
    std::snprintf(reply, 256, "FAKE-QUERY %d %s|%s", number, writeFmt, readFmt);
    return VI_SUCCESS;
}
#endif

FAKE_EXPORT ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[])
{
    record("viStatusDesc");
    std::snprintf(desc, 256, "FAKE status %08X", static_cast<unsigned>(status));
    return VI_SUCCESS;
}
