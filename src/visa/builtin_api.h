// The built-in implementation of the VISA operations (TCP sockets, serial ports, usbtmc), used
// when no vendor VISA library is installed.
#pragma once

#include "visa.h"

namespace visa {
namespace builtin {

ViStatus openDefaultRM(ViPSession vi);
ViStatus findRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                  ViChar desc[]);
ViStatus findNext(ViFindList vi, ViChar desc[]);
ViStatus open(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi);
ViStatus close(ViObject vi);
ViStatus setAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus write(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus read(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus vQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params);
ViStatus statusDesc(ViObject vi, ViStatus status, ViChar desc[]);

} // namespace builtin
} // namespace visa
