#include "status_text.h"

#include <cstdio>

namespace visa {
namespace {

struct StatusEntry
{
    ViStatus code;
    const char *name;
    const char *text;
};

// One row per code the layer (or a vendor library behind it) commonly returns; the texts are the
// conventional VISA descriptions so that messages read the same with or without a vendor library.
constexpr StatusEntry kStatusTable[] = {
    {VI_SUCCESS, "VI_SUCCESS", "Operation completed successfully."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR", "The specified termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT",
     "The number of bytes transferred is equal to the requested input count. More data may be "
     "available."},
    {VI_WARN_CONFIG_NLOADED, "VI_WARN_CONFIG_NLOADED",
     "The specified configuration either does not exist or could not be loaded. VISA-specified "
     "defaults will be used."},
    {VI_SUCCESS_DEV_NPRESENT, "VI_SUCCESS_DEV_NPRESENT",
     "Session opened successfully, but the device at the specified address is not responding."},
    {VI_WARN_NSUP_ATTR_STATE, "VI_WARN_NSUP_ATTR_STATE",
     "Although the specified state of the attribute is valid, it is not supported by this "
     "implementation."},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS",
     "The status code passed to the operation could not be interpreted."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR", "Unknown system error (miscellaneous error)."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT",
     "The given session or object reference is invalid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED",
     "Specified type of lock cannot be obtained, or specified operation cannot be performed, "
     "because the resource is locked."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR", "Invalid expression specified for search."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND",
     "Insufficient location information or the requested device or resource is not present in "
     "the system."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME",
     "Invalid resource reference specified. Parsing error."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE", "Invalid access mode."},
    {VI_ERROR_TMO, "VI_ERROR_TMO", "Timeout expired before operation completed."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR",
     "The specified attribute is not defined or supported by the referenced object."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE",
     "The specified state of the attribute is not valid, or is not supported as defined by the "
     "object."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY", "The specified attribute is read-only."},
    {VI_ERROR_RAW_WR_PROT_VIOL, "VI_ERROR_RAW_WR_PROT_VIOL",
     "Violation of raw write protocol occurred during transfer."},
    {VI_ERROR_RAW_RD_PROT_VIOL, "VI_ERROR_RAW_RD_PROT_VIOL",
     "Violation of raw read protocol occurred during transfer."},
    {VI_ERROR_INP_PROT_VIOL, "VI_ERROR_INP_PROT_VIOL",
     "Device reported an input protocol error during transfer."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC",
     "Insufficient system resources to perform necessary memory allocation."},
    {VI_ERROR_IO, "VI_ERROR_IO", "Could not perform operation because of I/O error."},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT", "A format specifier in the format string is invalid."},
    {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT",
     "A format specifier in the format string is not supported."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER",
     "The given session or object reference does not support this operation."},
    {VI_ERROR_ASRL_PARITY, "VI_ERROR_ASRL_PARITY", "A parity error occurred during transfer."},
    {VI_ERROR_ASRL_FRAMING, "VI_ERROR_ASRL_FRAMING", "A framing error occurred during transfer."},
    {VI_ERROR_ASRL_OVERRUN, "VI_ERROR_ASRL_OVERRUN",
     "An overrun error occurred during transfer. A character was not read from the hardware "
     "before the next character arrived."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF",
     "A specified user buffer is not valid or cannot be accessed for the required size."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY",
     "The resource is valid, but VISA cannot currently access it."},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER",
     "The value of some parameter (which parameter is not known) is invalid."},
    {VI_ERROR_NIMPL_OPER, "VI_ERROR_NIMPL_OPER", "The given operation is not implemented."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND",
     "A code library required by VISA could not be located or loaded."},
    {VI_ERROR_INTF_NUM_NCONFIG, "VI_ERROR_INTF_NUM_NCONFIG",
     "The interface type is valid but the specified interface number is not configured."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST",
     "The connection for the given session has been lost."},
};

const StatusEntry *findEntry(ViStatus status)
{
    for (const StatusEntry &entry : kStatusTable) {
        if (entry.code == status)
            return &entry;
    }
    return nullptr;
}

} // namespace

const char *statusName(ViStatus status)
{
    const StatusEntry *entry = findEntry(status);
    return entry ? entry->name : nullptr;
}

ViStatus describeStatus(ViStatus status, char *desc, size_t descSize)
{
    const StatusEntry *entry = findEntry(status);
    if (desc && descSize > 0) {
        if (entry) {
            std::snprintf(desc, descSize, "%s: %s", entry->name, entry->text);
        } else {
            std::snprintf(desc, descSize, "Unknown status code 0x%08X.",
                          static_cast<unsigned>(status));
        }
    }
    return entry ? VI_SUCCESS : VI_WARN_UNKNOWN_STATUS;
}

} // namespace visa
