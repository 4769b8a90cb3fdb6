// The value that stands for "no measured value": what the measuring instrument reports for an
// overload, and what the logger stores for a reading whose status was bad. The store keeps it
// like any other value, so whoever reads a value back recognises it by this constant.
#pragma once

#include <cmath>

namespace ReadingValue {

constexpr double Overload = 9.9e37;

// True for a value the instrument measured: finite and below the overload value in magnitude.
// False for the overload value of either sign (and beyond), for infinities and for NaN.
inline bool isMeasured(double value)
{
    return std::fabs(value) < Overload;
}

} // namespace ReadingValue
