// The subset of VISA formatted I/O that viQueryf supports: write formats of literal text with
// %s, %d and %%, read formats "%t" and "%<width>t".
#pragma once

#include "visa.h"

#include <cstdarg>
#include <cstddef>
#include <string>

namespace visa {

// A validated read format; width is the most characters stored (a NUL follows them).
struct ReadFormat
{
    bool present = false;
    size_t width = 0;
};

// VI_SUCCESS, VI_ERROR_NSUP_FMT for a valid VISA conversion this layer does not do, or
// VI_ERROR_INV_FMT. A null or empty format reads nothing.
ViStatus parseReadFormat(const char *format, ReadFormat *out);

// Checks the write format without touching the arguments.
ViStatus checkWriteFormat(const char *format);
// Expands a format that checkWriteFormat accepted, taking its arguments from *args.
std::string expandWriteFormat(const char *format, va_list *args);

} // namespace visa
