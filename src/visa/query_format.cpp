#include "query_format.h"

#include <cctype>
#include <cstring>

namespace visa {
namespace {

// Conversion characters of VISA formatted I/O; the ones not handled here are unsupported
// rather than invalid.
bool isVisaConversion(char c)
{
    return c != '\0' && std::strchr("bBcdeEfgGinostTuxXy", c) != nullptr;
}

} // namespace

ViStatus parseReadFormat(const char *format, ReadFormat *out)
{
    *out = ReadFormat();
    if (!format || *format == '\0')
        return VI_SUCCESS;
    if (format[0] != '%')
        return VI_ERROR_NSUP_FMT; // literal text to match in the reply
    const char *p = format + 1;
    size_t width = 0;
    bool hasWidth = false;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        hasWidth = true;
        width = width * 10 + static_cast<size_t>(*p - '0');
        if (width > 0xFFFFFF)
            return VI_ERROR_INV_FMT;
        ++p;
    }
    if (*p == 't' && p[1] == '\0') {
        if (hasWidth && width == 0)
            return VI_ERROR_INV_FMT;
        out->present = true;
        out->width = hasWidth ? width : VI_QUERYF_MAX_REPLY;
        return VI_SUCCESS;
    }
    // Skip modifiers to find the conversion that decides between unsupported and invalid.
    while (*p != '\0' && std::strchr("#-+ ,.!*lhzL0123456789[]^", *p))
        ++p;
    return isVisaConversion(*p) ? VI_ERROR_NSUP_FMT : VI_ERROR_INV_FMT;
}

ViStatus checkWriteFormat(const char *format)
{
    if (!format)
        return VI_ERROR_INV_FMT;
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%' || *p == 's' || *p == 'd')
            continue;
        if (*p == '\0')
            return VI_ERROR_INV_FMT;
        while (*p != '\0' && std::strchr("#-+ ,.!*lhzL0123456789", *p))
            ++p;
        return isVisaConversion(*p) ? VI_ERROR_NSUP_FMT : VI_ERROR_INV_FMT;
    }
    return VI_SUCCESS;
}

std::string expandWriteFormat(const char *format, va_list *args)
{
    std::string text;
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            text += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            text += '%';
        } else if (*p == 's') {
            const char *value = va_arg(*args, const char *);
            if (value)
                text += value;
        } else if (*p == 'd') {
            text += std::to_string(va_arg(*args, int));
        }
    }
    return text;
}

} // namespace visa
