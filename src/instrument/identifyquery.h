// The SCPI identification query: how the logger asks an instrument who it is, and the marker an
// instrument session re-synchronises with, since its answer is the same every time.
#pragma once

namespace Scpi {
constexpr const char *IdentifyQuery = "*IDN?";
} // namespace Scpi
