/* The VISA instrument-I/O C interface: types, constants and the operations the logger uses.
 * Calls go to an installed vendor VISA library when one is present, otherwise to the built-in
 * TCP socket, serial and USB test-and-measurement transports. */
#pragma once

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define _VI_FUNC
#define _VI_FUNCC
#define _VI_FUNCH
#define _VI_PTR *

typedef uint32_t ViUInt32;
typedef int32_t ViInt32;
typedef uint16_t ViUInt16;
typedef int16_t ViInt16;
typedef unsigned char ViUInt8;
typedef uint64_t ViUInt64;
typedef int64_t ViInt64;
typedef char ViChar;
typedef unsigned char ViByte;
typedef ViUInt16 ViBoolean;
typedef ViInt32 ViStatus;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViObject ViFindList;
typedef ViObject ViEvent;
typedef ViUInt32 ViAttr;
typedef ViUInt32 ViAccessMode;
typedef ViUInt64 ViAttrState;

typedef ViByte *ViBuf;
typedef ViByte *ViPBuf;
typedef const ViByte *ViConstBuf;
typedef ViChar *ViString;
typedef const ViChar *ViConstString;
typedef ViString ViRsrc;
typedef ViConstString ViConstRsrc;
typedef ViSession *ViPSession;
typedef ViUInt32 *ViPUInt32;
typedef ViFindList *ViPFindList;
typedef ViChar *ViPChar;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0
#define VI_FIND_BUFLEN 256

/* Status codes: errors have the top bit set. */
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006)
#define VI_WARN_CONFIG_NLOADED ((ViStatus)0x3FFF0077)
#define VI_SUCCESS_DEV_NPRESENT ((ViStatus)0x3FFF007D)
#define VI_WARN_NSUP_ATTR_STATE ((ViStatus)0x3FFF0084)
#define VI_WARN_UNKNOWN_STATUS ((ViStatus)0x3FFF0085)

#define VI_ERROR ((ViStatus)0x80000000)
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000E)
#define VI_ERROR_INV_SESSION VI_ERROR_INV_OBJECT
#define VI_ERROR_RSRC_LOCKED ((ViStatus)0xBFFF000F)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012)
#define VI_ERROR_INV_ACC_MODE ((ViStatus)0xBFFF0013)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001D)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001E)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001F)
#define VI_ERROR_RAW_WR_PROT_VIOL ((ViStatus)0xBFFF0034)
#define VI_ERROR_RAW_RD_PROT_VIOL ((ViStatus)0xBFFF0035)
#define VI_ERROR_INP_PROT_VIOL ((ViStatus)0xBFFF0037)
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003C)
#define VI_ERROR_IO ((ViStatus)0xBFFF003E)
#define VI_ERROR_INV_FMT ((ViStatus)0xBFFF003F)
#define VI_ERROR_NSUP_FMT ((ViStatus)0xBFFF0041)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067)
#define VI_ERROR_ASRL_PARITY ((ViStatus)0xBFFF006A)
#define VI_ERROR_ASRL_FRAMING ((ViStatus)0xBFFF006B)
#define VI_ERROR_ASRL_OVERRUN ((ViStatus)0xBFFF006C)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071)
#define VI_ERROR_RSRC_BUSY ((ViStatus)0xBFFF0072)
#define VI_ERROR_INV_PARAMETER ((ViStatus)0xBFFF0078)
#define VI_ERROR_NIMPL_OPER ((ViStatus)0xBFFF0081)
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)0xBFFF009E)
#define VI_ERROR_INTF_NUM_NCONFIG ((ViStatus)0xBFFF00A5)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6)

/* Attributes. */
#define VI_ATTR_TMO_VALUE ((ViAttr)0x3FFF001A)
#define VI_ATTR_TERMCHAR ((ViAttr)0x3FFF0018)
#define VI_ATTR_TERMCHAR_EN ((ViAttr)0x3FFF0038)
#define VI_ATTR_SEND_END_EN ((ViAttr)0x3FFF0016)
#define VI_ATTR_SUPPRESS_END_EN ((ViAttr)0x3FFF0036)
#define VI_ATTR_ASRL_BAUD ((ViAttr)0x3FFF0021)
#define VI_ATTR_ASRL_DATA_BITS ((ViAttr)0x3FFF0022)
#define VI_ATTR_ASRL_PARITY ((ViAttr)0x3FFF0023)
#define VI_ATTR_ASRL_STOP_BITS ((ViAttr)0x3FFF0024)
#define VI_ATTR_ASRL_FLOW_CNTRL ((ViAttr)0x3FFF0025)
#define VI_ATTR_ASRL_END_IN ((ViAttr)0x3FFF00B3)
#define VI_ATTR_ASRL_END_OUT ((ViAttr)0x3FFF00B4)
#define VI_ATTR_TCPIP_NODELAY ((ViAttr)0x3FFF019A)
#define VI_ATTR_TCPIP_KEEPALIVE ((ViAttr)0x3FFF019B)

#define VI_TMO_IMMEDIATE 0UL
#define VI_TMO_INFINITE 0xFFFFFFFFUL

#define VI_ASRL_PAR_NONE 0
#define VI_ASRL_PAR_ODD 1
#define VI_ASRL_PAR_EVEN 2
#define VI_ASRL_PAR_MARK 3
#define VI_ASRL_PAR_SPACE 4

#define VI_ASRL_STOP_ONE 10
#define VI_ASRL_STOP_ONE5 15
#define VI_ASRL_STOP_TWO 20

#define VI_ASRL_FLOW_NONE 0
#define VI_ASRL_FLOW_XON_XOFF 1
#define VI_ASRL_FLOW_RTS_CTS 2
#define VI_ASRL_FLOW_DTR_DSR 4

#define VI_ASRL_END_NONE 0
#define VI_ASRL_END_LAST_BIT 1
#define VI_ASRL_END_TERMCHAR 2
#define VI_ASRL_END_BREAK 3

/* Access modes. */
#define VI_NO_LOCK 0
#define VI_EXCLUSIVE_LOCK 1
#define VI_SHARED_LOCK 2
#define VI_LOAD_CONFIG 4

/* Each call opens a new resource manager session; closing it closes every session and find list
 * opened from it. */
ViStatus _VI_FUNC viOpenDefaultRM(ViPSession vi);
/* Resources are listed USB first, then TCP/IP sockets, then serial ports. USB resources come
 * from the usbtmc device nodes, serial ports from the serial device nodes present, and any kind
 * from the resource list file (see the layer's README). The expression must match the whole name,
 * case-insensitively: '?', a backslash, '[list]', '[^list]', '*', '+', '(exp)' and '|'. A trailing
 * '{attribute expression}' is not supported and answers VI_ERROR_INV_EXPR. */
ViStatus _VI_FUNC viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                             ViChar desc[]);
ViStatus _VI_FUNC viFindNext(ViFindList vi, ViChar desc[]);
ViStatus _VI_FUNC viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                         ViPSession vi);
ViStatus _VI_FUNC viClose(ViObject vi);
ViStatus _VI_FUNC viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus _VI_FUNC viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus _VI_FUNC viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
/* Formatted query. Supported write formats: literal text with %s, %d and %%; a line feed ends a
 * message (everything up to it is written at once). Supported read formats: "%t" and "%<width>t",
 * which read up to the end indicator (the termination character on sockets with
 * VI_ATTR_TERMCHAR_EN and on serial ports whose VI_ATTR_ASRL_END_IN is TERMCHAR, the
 * end-of-message bit on USB) and store the characters NUL-terminated, terminator included.
 * The caller's buffer size is unknown to "%t": it stores at most VI_QUERYF_MAX_REPLY (255)
 * characters plus the NUL, so pass at least VI_FIND_BUFLEN bytes; "%<width>t" stores at most
 * width characters plus the NUL. The rest of an overlong reply is read and discarded up to its end
 * indicator so that it cannot pollute the next exchange, and the query answers
 * VI_SUCCESS_MAX_CNT. Other conversions answer VI_ERROR_NSUP_FMT, malformed ones
 * VI_ERROR_INV_FMT, before anything is written. */
#define VI_QUERYF_MAX_REPLY 255
ViStatus _VI_FUNCC viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
ViStatus _VI_FUNC viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt,
                            va_list params);
ViStatus _VI_FUNC viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);

#ifdef __cplusplus
}
#endif
