// The VISA entry points: each goes to the vendor library when the process uses one, otherwise to
// the built-in layer.
#include "builtin_api.h"
#include "vendor_forwarding.h"
#include "visa.h"

using visa::vendorApi;
namespace builtin = visa::builtin;

extern "C" {

ViStatus _VI_FUNC viOpenDefaultRM(ViPSession vi)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->openDefaultRM(vi);
    return builtin::openDefaultRM(vi);
}

ViStatus _VI_FUNC viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                             ViChar desc[])
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->findRsrc(sesn, expr, vi, retCnt, desc);
    return builtin::findRsrc(sesn, expr, vi, retCnt, desc);
}

ViStatus _VI_FUNC viFindNext(ViFindList vi, ViChar desc[])
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->findNext(vi, desc);
    return builtin::findNext(vi, desc);
}

ViStatus _VI_FUNC viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                         ViPSession vi)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->open(sesn, name, mode, timeout, vi);
    return builtin::open(sesn, name, mode, timeout, vi);
}

ViStatus _VI_FUNC viClose(ViObject vi)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->close(vi);
    return builtin::close(vi);
}

ViStatus _VI_FUNC viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->setAttribute(vi, attrName, attrValue);
    return builtin::setAttribute(vi, attrName, attrValue);
}

ViStatus _VI_FUNC viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->write(vi, buf, cnt, retCnt);
    return builtin::write(vi, buf, cnt, retCnt);
}

ViStatus _VI_FUNC viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->read(vi, buf, cnt, retCnt);
    return builtin::read(vi, buf, cnt, retCnt);
}

ViStatus _VI_FUNC viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt,
                            va_list params)
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->vQueryf(vi, writeFmt, readFmt, params);
    return builtin::vQueryf(vi, writeFmt, readFmt, params);
}

ViStatus _VI_FUNCC viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...)
{
    va_list params;
    va_start(params, readFmt);
    const ViStatus status = viVQueryf(vi, writeFmt, readFmt, params);
    va_end(params);
    return status;
}

ViStatus _VI_FUNC viStatusDesc(ViObject vi, ViStatus status, ViChar desc[])
{
    if (const visa::VendorApi *vendor = vendorApi())
        return vendor->statusDesc(vi, status, desc);
    return builtin::statusDesc(vi, status, desc);
}

} // extern "C"
