// Names and descriptions of the VISA status codes the layer can return.
#pragma once

#include "visa.h"

#include <cstddef>

namespace visa {

// Fills desc (at most descSize bytes, always NUL-terminated) with "NAME: description".
// Answers VI_SUCCESS for a known code and VI_WARN_UNKNOWN_STATUS otherwise.
ViStatus describeStatus(ViStatus status, char *desc, size_t descSize);

// The symbolic name of a known status ("VI_ERROR_TMO"), or nullptr.
const char *statusName(ViStatus status);

} // namespace visa
